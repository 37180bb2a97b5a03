// The in-memory registry store: names, order, data, the classes view and status codes.
#include "platform/memory/MemoryRegistry.h"

#include <gtest/gtest.h>

namespace brisquell {
namespace {

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::vector<std::string> valueNames(MemoryRegistry& r, HKEY key) {
  std::vector<std::string> names;
  std::string name;
  std::uint32_t type;
  Bytes data;
  for (std::uint32_t i = 0; r.enumValueRaw(key, i, name, type, data) == ERROR_SUCCESS; ++i)
    names.push_back(name);
  return names;
}

std::vector<std::string> keyNames(MemoryRegistry& r, HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; r.enumKey(key, i, name) == ERROR_SUCCESS; ++i) names.push_back(name);
  return names;
}

TEST(MemoryRegistry, NamesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
  MemoryRegistry r;
  HKEY h = 0, o = 0;
  ASSERT_EQ(r.createKey(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App", h), ERROR_SUCCESS);
  ASSERT_EQ(r.openKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\vENDOR\\app", KEY_ALL_ACCESS, o),
            ERROR_SUCCESS);
  ASSERT_EQ(r.createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\VENDOR", o), ERROR_SUCCESS);
  EXPECT_EQ(keyNames(r, HKEY_LOCAL_MACHINE), std::vector<std::string>{"Software"});

  r.setValue(h, "InstallPath", REG_SZ, bytesOf("C:\\a"));
  r.setValue(h, "INSTALLPATH", REG_SZ, bytesOf("C:\\b"));
  EXPECT_EQ(valueNames(r, h), std::vector<std::string>{"InstallPath"});
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.queryValue(h, "installpath", type, data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesOf("C:\\b"));

  // Letters beyond ASCII fold too, one letter to one letter (no "ß" = "SS").
  for (auto [stored, asked] : {std::pair{"Grüße\\ÄÖ", "GRÜSSE"}, {"Grüße\\ÄÖ", "grüße\\äö"},
                               {"Łódź", "łÓDŹ"}, {"Привет", "пРИВЕТ"}, {"Ÿ", "ÿ"},
                               {"ΣΟΦΙΑ", "σοφια"}}) {
    ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, stored, o), ERROR_SUCCESS);
    bool same = std::string_view(asked) != "GRÜSSE";
    EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, asked, KEY_ALL_ACCESS, o) == ERROR_SUCCESS, same)
        << stored << " / " << asked;
  }
  HKEY z = 0;
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, "Ź", z), ERROR_SUCCESS);
  EXPECT_EQ(keyNames(r, HKEY_CURRENT_USER).back(), "Ź") << "Ÿ and Ź are different letters";

  // Past the length where lookups switch to a hash index, after deletions and additions.
  HKEY many = 0;
  r.createKey(HKEY_USERS, "Many", many);
  for (int i = 0; i < 40; ++i) {
    HKEY k = 0;
    r.createKey(many, "Key" + std::to_string(i), k);
    r.setValue(many, "Val" + std::to_string(i), REG_DWORD, Bytes{1, 0, 0, 0});
  }
  ASSERT_EQ(r.deleteKey(many, "kEY7"), ERROR_SUCCESS);
  ASSERT_EQ(r.deleteValue(many, "vAL7"), ERROR_SUCCESS);
  for (int i = 40; i < 80; ++i) r.setValue(many, "Val" + std::to_string(i), REG_DWORD, Bytes{2, 0, 0, 0});
  for (int i = 0; i < 80; ++i) {
    std::string n = std::to_string(i);
    EXPECT_EQ(r.queryValue(many, "VAL" + n, type, data) == ERROR_SUCCESS, i != 7) << n;
    if (i < 40) {
      EXPECT_EQ(r.openKey(many, "KEY" + n, 0, o) == ERROR_SUCCESS, i != 7) << n;
    }
  }
}

TEST(MemoryRegistry, EnumerationKeepsInsertionOrderWhileAKeyIsUnchanged) {
  MemoryRegistry r;
  HKEY h = 0, k = 0;
  r.createKey(HKEY_CURRENT_USER, "Order", h);
  for (const char* n : {"zeta", "Alpha", "mid"}) r.setValue(h, n, REG_SZ, bytesOf(n));
  for (const char* n : {"b", "A", "c"}) r.createKey(h, n, k);
  r.setValue(h, "ALPHA", REG_DWORD, Bytes{9, 0, 0, 0});  // replacing keeps the place
  EXPECT_EQ(valueNames(r, h), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  EXPECT_EQ(valueNames(r, h), valueNames(r, h));
  r.deleteValue(h, "alpha");
  r.setValue(h, "Alpha", REG_SZ, bytesOf("x"));
  EXPECT_EQ(valueNames(r, h), (std::vector<std::string>{"zeta", "mid", "Alpha"}));
  EXPECT_EQ(keyNames(r, h), (std::vector<std::string>{"b", "A", "c"}));
  r.deleteKey(h, "a");
  EXPECT_EQ(keyNames(r, h), (std::vector<std::string>{"b", "c"}));
  std::string name;
  EXPECT_EQ(r.enumKey(h, 2, name), ERROR_NO_MORE_ITEMS);
  std::uint32_t type;
  Bytes data;
  EXPECT_EQ(r.enumValue(h, 3, name, type, data), ERROR_NO_MORE_ITEMS);
}

TEST(MemoryRegistry, ValuesKeepTypeAndEveryByte) {
  MemoryRegistry r;
  HKEY h = 0;
  r.createKey(HKEY_LOCAL_MACHINE, "Data", h);
  const Bytes binary{0, 1, 0, 0xff, 0};
  const Bytes oddString{'a', 0, 'b'};  // a REG_SZ that is not even UTF-16
  r.setValueRaw(h, "bin", REG_BINARY, binary);
  r.setValueRaw(h, "odd", REG_SZ, oddString);
  r.setValueRaw(h, "custom", 0x12345, Bytes{7});
  r.setValue(h, "", REG_SZ, bytesOf("Grüße"));  // the default value
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.queryValueRaw(h, "bin", type, data), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(data, binary);
  ASSERT_EQ(r.queryValueRaw(h, "odd", type, data), ERROR_SUCCESS);
  EXPECT_EQ(data, oddString);
  ASSERT_EQ(r.queryValueRaw(h, "custom", type, data), ERROR_SUCCESS);
  EXPECT_EQ(type, 0x12345u);
  ASSERT_EQ(r.queryValueRaw(h, "", type, data), ERROR_SUCCESS);
  EXPECT_EQ(data, toUtf16le("Grüße")) << "strings are stored as UTF-16LE";
  ASSERT_EQ(r.queryValue(h, "", type, data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesOf("Grüße"));
  EXPECT_EQ(valueNames(r, h).back(), "");
  EXPECT_EQ(r.deleteValue(h, ""), ERROR_SUCCESS);
  EXPECT_EQ(r.queryValue(h, "", type, data), ERROR_FILE_NOT_FOUND);

  // Long names and data come back whole; a key whose first value is long is not empty.
  const std::string longName(300, 'N');
  const Bytes big(10 * 1024, 0xAB);
  HKEY l = 0;
  ASSERT_EQ(r.createKey(h, longName + "\\" + longName, l), ERROR_SUCCESS);
  r.setValueRaw(l, longName, REG_BINARY, big);
  r.setValueRaw(l, "short", REG_DWORD, Bytes{1, 0, 0, 0});
  std::uint32_t keys = 9, values = 0;
  ASSERT_EQ(r.queryInfo(l, keys, values), ERROR_SUCCESS);
  EXPECT_EQ(keys, 0u);
  EXPECT_EQ(values, 2u);
  std::string name;
  ASSERT_EQ(r.enumValueRaw(l, 0, name, type, data), ERROR_SUCCESS);
  EXPECT_EQ(name, longName);
  EXPECT_EQ(data, big);
  ASSERT_EQ(r.enumKey(h, 0, name), ERROR_SUCCESS);
  EXPECT_EQ(name, longName);
}

TEST(MemoryRegistry, ClassesRootIsTheMachineClassesKey) {
  MemoryRegistry r;
  HKEY cr = 0, lm = 0;
  ASSERT_EQ(r.createKey(HKEY_CLASSES_ROOT, ".txt", cr), ERROR_SUCCESS);
  r.setValue(cr, "", REG_SZ, bytesOf("txtfile"));
  ASSERT_EQ(r.openKey(HKEY_LOCAL_MACHINE, "software\\classes\\.TXT", 0, lm), ERROR_SUCCESS);
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.queryValue(lm, "", type, data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesOf("txtfile"));

  ASSERT_EQ(r.createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{1}", lm), ERROR_SUCCESS);
  EXPECT_EQ(r.openKey(HKEY_CLASSES_ROOT, "clsid\\{1}", 0, cr), ERROR_SUCCESS);
  EXPECT_EQ(keyNames(r, HKEY_CLASSES_ROOT), (std::vector<std::string>{".txt", "CLSID"}));
  r.setValue(HKEY_CLASSES_ROOT, "direct", REG_SZ, bytesOf("d"));
  EXPECT_EQ(r.queryValue(HKEY_LOCAL_MACHINE, "direct", type, data), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(r.openKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", 0, lm), ERROR_SUCCESS);
  EXPECT_EQ(r.queryValue(lm, "direct", type, data), ERROR_SUCCESS);
  ASSERT_EQ(r.deleteTree(HKEY_CLASSES_ROOT, "CLSID"), ERROR_SUCCESS);
  EXPECT_EQ(r.openKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID", 0, lm),
            ERROR_FILE_NOT_FOUND);
}

TEST(MemoryRegistry, StatusCodesAndHandles) {
  MemoryRegistry r;
  HKEY h = 77, k = 0;
  EXPECT_EQ(r.openKey(HKEY_LOCAL_MACHINE, "Missing", 0, h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h, 0u);
  EXPECT_FALSE(r.modified());
  r.createKey(HKEY_LOCAL_MACHINE, "A\\B", h);
  EXPECT_TRUE(r.modified());
  r.markSaved();
  r.createKey(HKEY_LOCAL_MACHINE, "a\\b", k);  // opening an existing key changes nothing
  std::uint32_t type;
  Bytes data;
  std::string name;
  EXPECT_EQ(r.queryValue(h, "none", type, data), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r.deleteValue(h, "none"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r.deleteKey(HKEY_LOCAL_MACHINE, "nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(r.modified());
  EXPECT_EQ(r.deleteKey(HKEY_LOCAL_MACHINE, "A"), ERROR_ACCESS_DENIED) << "A has a subkey";
  EXPECT_EQ(r.enumKey(12345, 0, name), ERROR_INVALID_HANDLE);
  EXPECT_EQ(r.setValue(12345, "x", REG_SZ, Bytes{}), ERROR_INVALID_HANDLE);

  // A handle below a deleted tree no longer reaches anything, and writing through it fails.
  ASSERT_EQ(r.deleteTree(HKEY_LOCAL_MACHINE, "A"), ERROR_SUCCESS);
  EXPECT_TRUE(r.modified());
  EXPECT_NE(r.enumKey(h, 0, name), ERROR_SUCCESS);
  EXPECT_NE(r.enumKey(h, 0, name), ERROR_NO_MORE_ITEMS);
  EXPECT_NE(r.setValue(h, "x", REG_SZ, bytesOf("x")), ERROR_SUCCESS);
  EXPECT_EQ(keyNames(r, HKEY_LOCAL_MACHINE), std::vector<std::string>{});
  r.closeKey(h);
  r.closeKey(k);

  // Closing a handle twice is refused and does not let two keys share one handle later.
  HKEY x = 0, y = 0, z = 0;
  r.createKey(HKEY_CURRENT_USER, "X", x);
  EXPECT_EQ(r.closeKey(x), ERROR_SUCCESS);
  EXPECT_EQ(r.closeKey(x), ERROR_INVALID_HANDLE);
  r.createKey(HKEY_CURRENT_USER, "Y", y);
  r.createKey(HKEY_CURRENT_USER, "Z", z);
  EXPECT_NE(y, z);
  r.closeKey(y);
  EXPECT_EQ(r.setValue(z, "still", REG_SZ, bytesOf("open")), ERROR_SUCCESS);
  EXPECT_EQ(r.queryValue(HKEY_CURRENT_USER, "still", type, data), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace brisquell
