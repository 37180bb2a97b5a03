// The in-memory registry store: names, order, data, the classes view and status codes.
#include "platform/memory/MemoryRegistry.h"

#include <thread>

#include <gtest/gtest.h>

#include "support/ForwardingStore.h"

namespace brisquell {
namespace {

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::vector<std::string> valueNames(RegistryStore& r, KeyHandle key) {
  std::vector<std::string> names;
  std::string name;
  std::uint32_t type;
  Bytes data;
  for (std::uint32_t i = 0; r.enumValueRaw(key, i, name, type, data) == Status::Success; ++i)
    names.push_back(name);
  return names;
}

std::vector<std::string> keyNames(RegistryStore& r, KeyHandle key) {
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; r.enumKey(key, i, name) == Status::Success; ++i) names.push_back(name);
  return names;
}

TEST(MemoryRegistry, NamesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
  MemoryRegistry r;
  KeyHandle h = 0, o = 0;
  ASSERT_EQ(r.createKey(hkey::LocalMachine, "Software\\Vendor\\App", h), Status::Success);
  ASSERT_EQ(r.openKey(hkey::LocalMachine, "SOFTWARE\\vENDOR\\app", keyaccess::AllAccess, o),
            Status::Success);
  ASSERT_EQ(r.createKey(hkey::LocalMachine, "SOFTWARE\\VENDOR", o), Status::Success);
  EXPECT_EQ(keyNames(r, hkey::LocalMachine), std::vector<std::string>{"Software"});

  r.setValue(h, "InstallPath", regtype::Sz, bytesOf("C:\\a"));
  r.setValue(h, "INSTALLPATH", regtype::Sz, bytesOf("C:\\b"));
  EXPECT_EQ(valueNames(r, h), std::vector<std::string>{"InstallPath"});
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.queryValue(h, "installpath", type, data), Status::Success);
  EXPECT_EQ(data, bytesOf("C:\\b"));

  // Letters beyond ASCII fold too, one letter to one letter (no "ß" = "SS").
  for (auto [stored, asked] : {std::pair{"Grüße\\ÄÖ", "GRÜSSE"},
                               {"Grüße\\ÄÖ", "grüße\\äö"},
                               {"Łódź", "łÓDŹ"},
                               {"Привет", "пРИВЕТ"},
                               {"Ÿ", "ÿ"},
                               {"ΣΟΦΙΑ", "σοφια"}}) {
    ASSERT_EQ(r.createKey(hkey::CurrentUser, stored, o), Status::Success);
    bool same = std::string_view(asked) != "GRÜSSE";
    EXPECT_EQ(r.openKey(hkey::CurrentUser, asked, keyaccess::AllAccess, o) == Status::Success, same)
        << stored << " / " << asked;
  }
  KeyHandle z = 0;
  ASSERT_EQ(r.createKey(hkey::CurrentUser, "Ź", z), Status::Success);
  EXPECT_EQ(keyNames(r, hkey::CurrentUser).back(), "Ź") << "Ÿ and Ź are different letters";

  // Past the length where lookups switch to a hash index, after deletions and additions.
  KeyHandle many = 0;
  r.createKey(hkey::Users, "Many", many);
  for (int i = 0; i < 40; ++i) {
    KeyHandle k = 0;
    r.createKey(many, "Key" + std::to_string(i), k);
    r.setValue(many, "Val" + std::to_string(i), regtype::Dword, Bytes{1, 0, 0, 0});
  }
  ASSERT_EQ(r.deleteKey(many, "kEY7"), Status::Success);
  ASSERT_EQ(r.deleteValue(many, "vAL7"), Status::Success);
  for (int i = 40; i < 80; ++i)
    r.setValue(many, "Val" + std::to_string(i), regtype::Dword, Bytes{2, 0, 0, 0});
  for (int i = 0; i < 80; ++i) {
    std::string n = std::to_string(i);
    EXPECT_EQ(r.queryValue(many, "VAL" + n, type, data) == Status::Success, i != 7) << n;
    if (i < 40) {
      EXPECT_EQ(r.openKey(many, "KEY" + n, 0, o) == Status::Success, i != 7) << n;
    }
  }
}

TEST(MemoryRegistry, EnumerationKeepsInsertionOrderWhileAKeyIsUnchanged) {
  MemoryRegistry r;
  KeyHandle h = 0, k = 0;
  r.createKey(hkey::CurrentUser, "Order", h);
  for (const char* n : {"zeta", "Alpha", "mid"}) r.setValue(h, n, regtype::Sz, bytesOf(n));
  for (const char* n : {"b", "A", "c"}) r.createKey(h, n, k);
  r.setValue(h, "ALPHA", regtype::Dword, Bytes{9, 0, 0, 0});  // replacing keeps the place
  EXPECT_EQ(valueNames(r, h), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  EXPECT_EQ(valueNames(r, h), valueNames(r, h));
  r.deleteValue(h, "alpha");
  r.setValue(h, "Alpha", regtype::Sz, bytesOf("x"));
  EXPECT_EQ(valueNames(r, h), (std::vector<std::string>{"zeta", "mid", "Alpha"}));
  EXPECT_EQ(keyNames(r, h), (std::vector<std::string>{"b", "A", "c"}));
  r.deleteKey(h, "a");
  EXPECT_EQ(keyNames(r, h), (std::vector<std::string>{"b", "c"}));
  std::string name;
  EXPECT_EQ(r.enumKey(h, 2, name), Status::NoMoreItems);
  std::uint32_t type;
  Bytes data;
  EXPECT_EQ(r.enumValue(h, 3, name, type, data), Status::NoMoreItems);
}

TEST(MemoryRegistry, ATailOfValuesGoesInOneCallAndLookupsStayRight) {
  MemoryRegistry r;
  KeyHandle h = 0;
  r.createKey(hkey::CurrentUser, "Tail", h);
  std::vector<std::string> front;
  for (int i = 0; i < 40; ++i) {
    r.setValue(h, "Val" + std::to_string(i), regtype::Dword, Bytes{std::uint8_t(i), 0, 0, 0});
    if (i < 12) front.push_back("Val" + std::to_string(i));
  }
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.queryValue(h, "val30", type, data), Status::Success);  // the name table is built
  r.markSaved();
  ASSERT_EQ(r.deleteValuesFrom(h, 12), Status::Success);
  EXPECT_TRUE(r.modified());
  EXPECT_EQ(valueNames(r, h), front);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(r.queryValue(h, "val" + std::to_string(i), type, data) == Status::Success, i < 12)
        << i;
  // Added again they go last; one of the front replaced keeps its place and bytes elsewhere.
  r.setValue(h, "Val39", regtype::Sz, bytesOf("x"));
  r.setValue(h, "val5", regtype::Dword, Bytes{9, 9, 9, 9});
  front.push_back("Val39");
  EXPECT_EQ(valueNames(r, h), front);
  ASSERT_EQ(r.queryValue(h, "Val4", type, data), Status::Success);
  EXPECT_EQ(data, (Bytes{4, 0, 0, 0}));
  EXPECT_EQ(r.deleteValuesFrom(h, 100), Status::Success);
  EXPECT_EQ(valueNames(r, h), front);
  EXPECT_EQ(r.deleteValuesFrom(12345, 0), Status::InvalidHandle);

  // The form every back end has (by name, one by one) gives the same.
  test::ForwardingStore plain(r);
  ASSERT_EQ(plain.deleteValuesFrom(h, 3), Status::Success);
  EXPECT_EQ(valueNames(r, h), (std::vector<std::string>{"Val0", "Val1", "Val2"}));
  EXPECT_EQ(plain.deleteValuesFrom(12345, 0), Status::InvalidHandle);
  EXPECT_EQ(r.concurrentReader()->deleteValuesFrom(hkey::CurrentUser, 0), Status::AccessDenied);
}

TEST(MemoryRegistry, ValuesKeepTypeAndEveryByte) {
  MemoryRegistry r;
  KeyHandle h = 0;
  r.createKey(hkey::LocalMachine, "Data", h);
  const Bytes binary{0, 1, 0, 0xff, 0};
  const Bytes oddString{'a', 0, 'b'};  // a regtype::Sz that is not even UTF-16
  r.setValueRaw(h, "bin", regtype::Binary, binary);
  r.setValueRaw(h, "odd", regtype::Sz, oddString);
  r.setValueRaw(h, "custom", 0x12345, Bytes{7});
  r.setValue(h, "", regtype::Sz, bytesOf("Grüße"));  // the default value
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.queryValueRaw(h, "bin", type, data), Status::Success);
  EXPECT_EQ(type, regtype::Binary);
  EXPECT_EQ(data, binary);
  ASSERT_EQ(r.queryValueRaw(h, "odd", type, data), Status::Success);
  EXPECT_EQ(data, oddString);
  ASSERT_EQ(r.queryValueRaw(h, "custom", type, data), Status::Success);
  EXPECT_EQ(type, 0x12345u);
  ASSERT_EQ(r.queryValueRaw(h, "", type, data), Status::Success);
  EXPECT_EQ(data, toUtf16le("Grüße")) << "strings are stored as UTF-16LE";
  ASSERT_EQ(r.queryValue(h, "", type, data), Status::Success);
  EXPECT_EQ(data, bytesOf("Grüße"));
  EXPECT_EQ(valueNames(r, h).back(), "");
  EXPECT_EQ(r.deleteValue(h, ""), Status::Success);
  EXPECT_EQ(r.queryValue(h, "", type, data), Status::FileNotFound);

  // Long names and data come back whole; a key whose first value is long is not empty.
  const std::string longName(300, 'N');
  const Bytes big(10 * 1024, 0xAB);
  KeyHandle l = 0;
  ASSERT_EQ(r.createKey(h, longName + "\\" + longName, l), Status::Success);
  r.setValueRaw(l, longName, regtype::Binary, big);
  r.setValueRaw(l, "short", regtype::Dword, Bytes{1, 0, 0, 0});
  std::uint32_t keys = 9, values = 0;
  ASSERT_EQ(r.queryInfo(l, keys, values), Status::Success);
  EXPECT_EQ(keys, 0u);
  EXPECT_EQ(values, 2u);
  std::string name;
  ASSERT_EQ(r.enumValueRaw(l, 0, name, type, data), Status::Success);
  EXPECT_EQ(name, longName);
  EXPECT_EQ(data, big);
  ASSERT_EQ(r.enumKey(h, 0, name), Status::Success);
  EXPECT_EQ(name, longName);
}

TEST(MemoryRegistry, ClassesRootIsTheMachineClassesKey) {
  MemoryRegistry r;
  KeyHandle cr = 0, lm = 0;
  ASSERT_EQ(r.createKey(hkey::ClassesRoot, ".txt", cr), Status::Success);
  r.setValue(cr, "", regtype::Sz, bytesOf("txtfile"));
  ASSERT_EQ(r.openKey(hkey::LocalMachine, "software\\classes\\.TXT", 0, lm), Status::Success);
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.queryValue(lm, "", type, data), Status::Success);
  EXPECT_EQ(data, bytesOf("txtfile"));

  ASSERT_EQ(r.createKey(hkey::LocalMachine, "SOFTWARE\\Classes\\CLSID\\{1}", lm), Status::Success);
  EXPECT_EQ(r.openKey(hkey::ClassesRoot, "clsid\\{1}", 0, cr), Status::Success);
  EXPECT_EQ(keyNames(r, hkey::ClassesRoot), (std::vector<std::string>{".txt", "CLSID"}));
  r.setValue(hkey::ClassesRoot, "direct", regtype::Sz, bytesOf("d"));
  EXPECT_EQ(r.queryValue(hkey::LocalMachine, "direct", type, data), Status::FileNotFound);
  ASSERT_EQ(r.openKey(hkey::LocalMachine, "SOFTWARE\\Classes", 0, lm), Status::Success);
  EXPECT_EQ(r.queryValue(lm, "direct", type, data), Status::Success);
  ASSERT_EQ(r.deleteTree(hkey::ClassesRoot, "CLSID"), Status::Success);
  EXPECT_EQ(r.openKey(hkey::LocalMachine, "SOFTWARE\\Classes\\CLSID", 0, lm), Status::FileNotFound);

  // The store says where a view leads; other roots, and the user's own classes, are their own.
  KeyLocation at = r.canonicalKey(hkey::ClassesRoot, "clsid\\{1}");
  EXPECT_EQ(at.root, hkey::LocalMachine);
  EXPECT_EQ(at.path, "SOFTWARE\\Classes\\clsid\\{1}");
  EXPECT_EQ(r.canonicalKey(hkey::ClassesRoot, "").path, "SOFTWARE\\Classes");
  at = r.canonicalKey(hkey::CurrentUser, "Software\\Classes\\.txt");
  EXPECT_EQ(at.root, hkey::CurrentUser);
  EXPECT_EQ(at.path, "Software\\Classes\\.txt");
}

TEST(MemoryRegistry, StatusCodesAndHandles) {
  MemoryRegistry r;
  KeyHandle h = 77, k = 0;
  EXPECT_EQ(r.openKey(hkey::LocalMachine, "Missing", 0, h), Status::FileNotFound);
  EXPECT_EQ(h, 0u);
  EXPECT_FALSE(r.modified());
  r.createKey(hkey::LocalMachine, "A\\B", h);
  EXPECT_TRUE(r.modified());
  r.markSaved();
  r.createKey(hkey::LocalMachine, "a\\b", k);  // opening an existing key changes nothing
  std::uint32_t type;
  Bytes data;
  std::string name;
  EXPECT_EQ(r.queryValue(h, "none", type, data), Status::FileNotFound);
  EXPECT_EQ(r.deleteValue(h, "none"), Status::FileNotFound);
  EXPECT_EQ(r.deleteKey(hkey::LocalMachine, "nothing"), Status::FileNotFound);
  EXPECT_FALSE(r.modified());
  EXPECT_EQ(r.deleteKey(hkey::LocalMachine, "A"), Status::AccessDenied) << "A has a subkey";
  EXPECT_EQ(r.enumKey(12345, 0, name), Status::InvalidHandle);
  EXPECT_EQ(r.setValue(12345, "x", regtype::Sz, Bytes{}), Status::InvalidHandle);

  // A handle below a deleted tree no longer reaches anything, and writing through it fails.
  ASSERT_EQ(r.deleteTree(hkey::LocalMachine, "A"), Status::Success);
  EXPECT_TRUE(r.modified());
  EXPECT_NE(r.enumKey(h, 0, name), Status::Success);
  EXPECT_NE(r.enumKey(h, 0, name), Status::NoMoreItems);
  EXPECT_NE(r.setValue(h, "x", regtype::Sz, bytesOf("x")), Status::Success);
  EXPECT_EQ(keyNames(r, hkey::LocalMachine), std::vector<std::string>{});
  r.closeKey(h);
  r.closeKey(k);

  // Closing a handle twice is refused and does not let two keys share one handle later.
  KeyHandle x = 0, y = 0, z = 0;
  r.createKey(hkey::CurrentUser, "X", x);
  EXPECT_EQ(r.closeKey(x), Status::Success);
  EXPECT_EQ(r.closeKey(x), Status::InvalidHandle);
  r.createKey(hkey::CurrentUser, "Y", y);
  r.createKey(hkey::CurrentUser, "Z", z);
  EXPECT_NE(y, z);
  r.closeKey(y);
  EXPECT_EQ(r.setValue(z, "still", regtype::Sz, bytesOf("open")), Status::Success);
  EXPECT_EQ(r.queryValue(hkey::CurrentUser, "still", type, data), Status::FileNotFound);
}

TEST(MemoryRegistry, AConcurrentReaderSeesTheTreeThroughHandlesOfItsOwnAndWritesNothing) {
  MemoryRegistry r;
  KeyHandle big = 0;
  ASSERT_EQ(r.createKey(hkey::LocalMachine, "SOFTWARE\\Classes\\Big", big), Status::Success);
  for (int i = 0; i < 300; ++i) {
    KeyHandle k = 0;
    r.createKey(big, "Key" + std::to_string(i), k);
    r.closeKey(k);
    r.setValue(big, "Value" + std::to_string(i), regtype::Sz, bytesOf(std::to_string(i)));
  }
  // A deletion drops the value table: the next lookups, on either thread, build it again.
  ASSERT_EQ(r.deleteValue(big, "Value299"), Status::Success);
  std::unique_ptr<RegistryStore> reader = r.concurrentReader();
  ASSERT_TRUE(reader);

  // The same answers, also through the classes view, with handles that mean nothing to the
  // store: the reader's first handle is a different key than the store's.
  KeyHandle h = 0;
  ASSERT_EQ(reader->openKey(hkey::ClassesRoot, "big", 0, h), Status::Success);
  EXPECT_EQ(keyNames(*reader, h), keyNames(r, big));
  EXPECT_EQ(valueNames(*reader, h), valueNames(r, big));
  std::uint32_t keys = 0, values = 0;
  EXPECT_EQ(reader->queryInfo(h, keys, values), Status::Success);
  EXPECT_EQ(keys, 300u);
  EXPECT_EQ(values, 299u);
  EXPECT_EQ(reader->closeKey(h), Status::Success);
  EXPECT_EQ(reader->closeKey(h), Status::InvalidHandle);
  EXPECT_EQ(r.setValue(big, "mine", regtype::Sz, bytesOf("x")), Status::Success)
      << "closing the reader's handle closed the store's";
  std::string name;
  EXPECT_EQ(reader->enumKey(big + 100, 0, name), Status::InvalidHandle);

  // Every write is refused and changes nothing.
  KeyHandle c = 0;
  EXPECT_EQ(reader->createKey(hkey::LocalMachine, "New", c), Status::AccessDenied);
  EXPECT_EQ(reader->setValueRaw(hkey::LocalMachine, "x", regtype::Sz, bytesOf("x")),
            Status::AccessDenied);
  EXPECT_EQ(reader->deleteTree(hkey::LocalMachine, "SOFTWARE"), Status::AccessDenied);
  EXPECT_EQ(reader->deleteValue(hkey::LocalMachine, "x"), Status::AccessDenied);
  EXPECT_EQ(reader->deleteKey(hkey::LocalMachine, "SOFTWARE"), Status::AccessDenied);
  EXPECT_EQ(keyNames(r, hkey::LocalMachine), std::vector<std::string>{"SOFTWARE"});

  // Two threads looking up names at once, each through its own handles, find every one.
  ASSERT_EQ(r.deleteValue(big, "mine"), Status::Success);
  auto lookUp = [](RegistryStore& s, int& found) {
    KeyHandle k = 0;
    if (s.openKey(hkey::LocalMachine, "SOFTWARE\\Classes\\BIG", 0, k) != Status::Success) return;
    for (int i = 0; i < 300; ++i) {
      std::uint32_t type = 0;
      Bytes data;
      KeyHandle sub = 0;
      if (s.queryValueRaw(k, "VALUE" + std::to_string(i), type, data) == Status::Success &&
          type == regtype::Sz && data == textToRaw(regtype::Sz, bytesOf(std::to_string(i))))
        ++found;
      if (s.openKey(k, "key" + std::to_string(i), 0, sub) == Status::Success) {
        ++found;
        s.closeKey(sub);
      }
    }
    s.closeKey(k);
  };
  int byStore = 0, byReader = 0;
  std::thread other([&] { lookUp(*reader, byReader); });
  lookUp(r, byStore);
  other.join();
  EXPECT_EQ(byStore, 599);
  EXPECT_EQ(byReader, 599);
}

// A walk opens each subkey by the name it was just given; other names, other spellings and a
// list changed in between still open what the name says.
TEST(MemoryRegistry, OpeningBySubkeyNamesAfterEnumeratingThem) {
  MemoryRegistry r;
  KeyHandle base = 0, k = 0;
  r.createKey(hkey::CurrentUser, "Base", base);
  for (const char* n : {"Alpha", "Beta", "Gamma"}) {
    r.createKey(base, std::string(n) + "\\Inner", k);
    r.setValue(k, "who", regtype::Sz, bytesOf(n));
    r.closeKey(k);
  }
  auto whoIn = [&](KeyHandle h) {
    std::uint32_t type = 0;
    Bytes data;
    return r.queryValue(h, "who", type, data) == Status::Success
               ? std::string(data.begin(), data.end())
               : std::string("?");
  };
  auto open = [&](std::string_view name) {
    KeyHandle h = 0;
    std::string found = "none";
    if (r.openKey(base, name, 0, h) == Status::Success) {
      KeyHandle inner = 0;
      found = r.openKey(h, "Inner", 0, inner) == Status::Success ? whoIn(inner) : "no inner";
      r.closeKey(inner);
      r.closeKey(h);
    }
    return found;
  };
  std::string name;
  ASSERT_EQ(r.enumKey(base, 1, name), Status::Success);
  EXPECT_EQ(name, "Beta");
  EXPECT_EQ(open("Beta"), "Beta");
  EXPECT_EQ(open("BETA"), "Beta");
  EXPECT_EQ(open("Gamma"), "Gamma");
  EXPECT_EQ(open("Beta\\Inner\\.."), "none");
  ASSERT_EQ(r.enumKey(base, 1, name), Status::Success);
  ASSERT_EQ(r.deleteTree(base, "Alpha"), Status::Success);  // Gamma moves to where Beta was
  EXPECT_EQ(open("Beta"), "Beta");
  ASSERT_EQ(r.enumKey(base, 1, name), Status::Success);
  EXPECT_EQ(name, "Gamma");
  ASSERT_EQ(r.deleteTree(base, "Gamma"), Status::Success);  // nothing is left at that place
  EXPECT_EQ(open("Gamma"), "none");
  EXPECT_EQ(open("Beta"), "Beta");
}

}  // namespace
}  // namespace brisquell
