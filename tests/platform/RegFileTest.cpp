// .reg files: every value form in both versions, lossless round trips, and refused input.
#include "platform/RegFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fmt/format.h>

#include "platform/memory/MemoryLoader.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::TempDir;

Bytes raw(MemoryRegistry& r, KeyHandle root, std::string_view key, std::string_view name,
          std::uint32_t expectedType) {
  KeyHandle h = 0;
  std::uint32_t type = 0;
  Bytes data;
  EXPECT_EQ(r.openKey(root, key, 0, h), Status::Success) << key;
  EXPECT_EQ(r.queryValueRaw(h, name, type, data), Status::Success) << key << " " << name;
  EXPECT_EQ(type, expectedType) << name;
  r.closeKey(h);
  return data;
}

Result<RegFileInfo> load(std::string_view text, MemoryRegistry& r) {
  MemoryLoader loader(r);
  return parseRegBytes(text, "in.reg", loader);
}

Bytes utf16z(std::string_view s) {
  Bytes b = toUtf16le(s);
  b.insert(b.end(), {0, 0});
  return b;
}

TEST(RegFile, ReadsEveryFormInBothVersions) {
  const std::string body =
      "; a comment line\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n"
      "@=\"default\"\r\n"
      "\"str\"=\"say \\\"hi\\\" in C:\\\\dir\\\\\"\r\n"
      "\"na\\\"me\\\\\"=\"Grüße 😀\"\r\n"
      "\"@\"=dword:0000002A\r\n"
      "\"bin\"=hex:00,ff,10\r\n"
      "\"none\"=hex(0):\r\n"
      "\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
      "\"odd type\"=hex(20000):aa\r\n"
      "\"cont\"=hex:01,02,\\\r\n"
      "  03,\\\r\n"
      "  04\r\n"
      "\"gone\"=\"x\"\r\n"
      "\"gone\"=-\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Sub]\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Sub]\r\n"
      "[HKCR\\.txt]\r\n"
      "@=\"txtfile\"\r\n";
  const std::string v5text =
      "\"exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\r\n";
  const std::string r4text =
      "\"exp\"=hex(2):25,41,25,00\r\n"
      "\"multi\"=hex(7):61,00,c3,a9,00,00\r\n";
  TempDir dir;
  test::writeUtf16(dir / "v5-utf16.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + body +
                                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n" + v5text);
  test::writeText(dir / "v5-utf8.reg", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n" +
                                           body + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n" +
                                           v5text);
  test::writeText(dir / "regedit4.reg",
                  "REGEDIT4\r\n\r\n" + body + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n" + r4text);
  for (const char* file : {"v5-utf16.reg", "v5-utf8.reg", "regedit4.reg"}) {
    SCOPED_TRACE(file);
    MemoryRegistry r;
    Outcome loaded = loadRegFile(dir / file, r);
    ASSERT_TRUE(loaded) << loaded.message();
    EXPECT_FALSE(r.modified()) << "a freshly loaded registry has nothing to save";
    const char* k = "SOFTWARE\\Test";
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "", regtype::Sz), utf16z("default"));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "str", regtype::Sz), utf16z("say \"hi\" in C:\\dir\\"));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "na\"me\\", regtype::Sz), utf16z("Grüße 😀"));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "@", regtype::Dword), (Bytes{0x2a, 0, 0, 0}));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "bin", regtype::Binary), (Bytes{0, 0xff, 0x10}));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "none", regtype::None), Bytes{});
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "qword", regtype::Qword),
              (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "odd type", 0x20000), Bytes{0xaa});
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "cont", regtype::Binary), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "exp", regtype::ExpandSz), utf16z("%A%"));
    Bytes multi = toUtf16le(std::string("a\0é\0\0", 6));
    EXPECT_EQ(raw(r, hkey::LocalMachine, k, "multi", regtype::MultiSz), multi);
    EXPECT_EQ(raw(r, hkey::LocalMachine, "SOFTWARE\\Classes\\.txt", "", regtype::Sz),
              utf16z("txtfile"));
    KeyHandle h = 0;
    std::uint32_t type;
    Bytes data;
    r.openKey(hkey::LocalMachine, k, 0, h);
    EXPECT_EQ(r.queryValueRaw(h, "gone", type, data), Status::FileNotFound);
    EXPECT_EQ(r.openKey(h, "Sub", 0, h), Status::FileNotFound);
  }
}

// A registry holding every kind of value that is easy to get wrong.
void fill(MemoryRegistry& r, bool utf16Only) {
  KeyHandle h = 0, e = 0;
  r.createKey(hkey::CurrentUser, "Software\\Zebra\\Grüße", h);
  r.createKey(hkey::CurrentUser, "Software\\Empty", e);
  r.createKey(hkey::ClassesRoot, "CLSID\\{00000000-1111}", e);
  r.setValue(e, "", regtype::Sz, Bytes{'x'});
  r.setValueRaw(h, "", regtype::Sz, utf16z("default"));
  r.setValueRaw(h, "@", regtype::Sz, utf16z("not the default"));
  r.setValueRaw(h, "q\"uo\\te", regtype::Sz, utf16z("C:\\Program Files\\\"x\"\\"));
  r.setValueRaw(h, "lines", regtype::Sz, utf16z("one\r\ntwo"));
  r.setValueRaw(h, "no terminator", regtype::Sz, toUtf16le("abc"));
  r.setValueRaw(h, "inner nul", regtype::Sz, toUtf16le(std::string("a\0b\0", 4)));
  r.setValueRaw(h, "empty sz", regtype::Sz, Bytes{});
  r.setValueRaw(h, "blank sz", regtype::Sz, utf16z(""));
  r.setValueRaw(h, "emoji 😀", regtype::Sz, utf16z("Ünïcödé 😀 ж"));
  r.setValueRaw(h, "expand", regtype::ExpandSz, utf16z("%SystemRoot%\\x.dll"));
  r.setValueRaw(h, "multi", regtype::MultiSz, toUtf16le(std::string("a\0bé\0\0", 7)));
  r.setValueRaw(h, "dword", regtype::Dword, Bytes{0xef, 0xbe, 0xad, 0xde});
  r.setValueRaw(h, "short dword", regtype::Dword, Bytes{1, 2, 3});
  r.setValueRaw(h, "big endian", regtype::DwordBigEndian, Bytes{0, 0, 0, 1});
  r.setValueRaw(h, "qword", regtype::Qword, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  r.setValueRaw(h, "none", regtype::None, Bytes{});
  r.setValueRaw(h, "custom", 0xFFFF0000u, Bytes{1});
  Bytes big(10 * 1024);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  r.setValueRaw(h, std::string(300, 'L'), regtype::Binary, big);
  if (utf16Only) {  // text data that only UTF-16 can carry
    r.setValueRaw(h, "odd length", regtype::Sz, Bytes{'a', 0, 'b'});
    r.setValueRaw(h, "lone surrogate", regtype::ExpandSz, Bytes{0x00, 0xD8, 'a', 0, 0, 0});
  }
}

TEST(RegFile, ExportImportExportIsByteIdentical) {
  for (RegFormat format : {RegFormat::Version5, RegFormat::Regedit4}) {
    bool v5 = format == RegFormat::Version5;
    SCOPED_TRACE(v5 ? "version 5" : "REGEDIT4");
    MemoryRegistry original;
    fill(original, v5);
    const std::string first = exportReg(original, 0, "", format);
    if (v5) {
      ASSERT_EQ(first.substr(0, 6), std::string("\xFF\xFEW\0i\0", 6));
      EXPECT_NE(first.find(std::string("\r\0\n\0", 4)), std::string::npos);
    } else {
      ASSERT_EQ(first.substr(0, 10), "REGEDIT4\r\n");
    }
    EXPECT_EQ(first.find("HKEY_CLASSES_ROOT"), std::string::npos) << "classes are written once";

    MemoryRegistry copy;
    auto loaded = load(first, copy);
    ASSERT_TRUE(loaded) << loaded.message();
    EXPECT_EQ(exportReg(copy, 0, "", format), first);

    // Every value came back with its type and bytes.
    KeyHandle h = 0;
    ASSERT_EQ(original.openKey(hkey::CurrentUser, "Software\\Zebra\\Grüße", 0, h), Status::Success);
    std::string name;
    std::uint32_t type;
    Bytes data;
    for (std::uint32_t i = 0; original.enumValueRaw(h, i, name, type, data) == Status::Success; ++i)
      EXPECT_EQ(raw(copy, hkey::CurrentUser, "Software\\Zebra\\Grüße", name, type), data) << name;
    KeyHandle e = 0;
    EXPECT_EQ(copy.openKey(hkey::CurrentUser, "Software\\Empty", 0, e), Status::Success);
    EXPECT_EQ(raw(copy, hkey::ClassesRoot, "CLSID\\{00000000-1111}", "", regtype::Sz),
              toUtf16le("x"));

    // One key, asked for in any case, is written under its own name.
    const std::string part = exportReg(original, hkey::CurrentUser, "software\\ZEBRA", format);
    std::string header = "[HKEY_CURRENT_USER\\Software\\Zebra]";
    EXPECT_NE(
        v5 ? fromUtf16le(reinterpret_cast<const std::uint8_t*>(part.data()) + 2, part.size() - 2)
                 .find(header)
           : part.find(header),
        std::string::npos);
  }
}

TEST(RegFile, LargeUtf16FileKeepsCharactersAcrossReadChunks) {
  // The reader takes the file in 4 MiB pieces; put a surrogate pair right across a boundary.
  const std::size_t chunk = 1 << 22;
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Big]\r\n;";
  const std::string valueStart = "\r\n\"v\"=\"";
  const std::size_t prefixChars = (chunk - 2 - 400 - 2) / 2;  // BOM, then 100 emoji before the cut
  text += std::string(prefixChars - text.size() - valueStart.size(), 'p') + valueStart;
  std::string emoji;
  for (int i = 0; i < 1000; ++i) emoji += "😀";
  text += emoji + "\"\r\n";
  TempDir dir;
  test::writeUtf16(dir / "big.reg", text);
  MemoryRegistry r;
  Outcome loaded = loadRegFile(dir / "big.reg", r);
  ASSERT_TRUE(loaded) << loaded.message();
  EXPECT_EQ(raw(r, hkey::CurrentUser, "Big", "v", regtype::Sz), utf16z(emoji));
}

TEST(RegFile, MalformedInputNamesFileAndLine) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n";
  struct Case {
    std::string text;
    std::size_t line;
    std::string what;
  } cases[] = {
      {"", 1, "header"},
      {"Windows Registry Editor Version 4.00\r\n", 1, "header"},
      {"\r\nREGEDIT5\r\n", 2, "header"},
      {v5 + "\"a\"=\"no end\r\n", 4, "unterminated"},
      {v5 + "\"a=\"x\"\r\n", 4, "="},
      {v5 + "\"a\"=hex:0g\r\n", 4, "hex"},
      {v5 + "\"a\"=hex:01,,02\r\n", 4, "hex"},
      {v5 + "\"a\"=hex:01,\r\n", 4, "hex"},
      {v5 + "\"a\"=hex(7x):00\r\n", 4, "hex"},
      {v5 + "\"a\"=dword:123456789\r\n", 4, "dword"},
      {v5 + "\"a\"=dword:xyz\r\n", 4, "dword"},
      {v5 + "\"a\"=word:1\r\n", 4, "unknown value data"},
      {v5 + "[HKEY_NOWHERE\\X]\r\n", 4, "unknown root"},
      {v5 + "[HKEY_CURRENT_USER\\X\r\n", 4, "]"},
      {v5 + "\"a\"=hex:01,02,\\\r\n", 4, "continuation"},
      {v5 + "\"a\"=hex:01,02,\\\r\n\r\n\"b\"=dword:1\r\n", 5, "continuation"},
      {v5 + "\"a\"=hex:01,\\\r\n  02,\\\r\n  zz\r\n", 6, "hex"},
      {"REGEDIT4\r\n\r\n\"a\"=\"outside\"\r\n", 3, "outside a key"},
      {v5 + "just text\r\n", 4, "unexpected"},
      {v5 + "[-HKEY_LOCAL_MACHINE]\r\n", 4, "root"},
      {v5 + "[-HKCR\\]\r\n", 4, "root"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RegRecorder rec;
    auto parsed = parseRegBytes(c.text, "bad.reg", rec);
    ASSERT_FALSE(parsed);
    const std::string where = "bad.reg:" + std::to_string(c.line) + ": ";
    EXPECT_EQ(parsed.message().rfind(where, 0), 0u) << parsed.message();
    EXPECT_NE(parsed.message().find(c.what, where.size()), std::string::npos) << parsed.message();
  }
  RegRecorder rec;
  auto missing = parseRegFile("/nonexistent/x.reg", rec);
  EXPECT_FALSE(missing);
  EXPECT_NE(missing.message().find("/nonexistent/x.reg"), std::string::npos);
}

TEST(RegFile, CutInputIsRefusedNotShortened) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n";
  // A lone last digit is half a byte, not a byte of its own.
  for (const std::string& data : {std::string("hex:01,02,03,4"), std::string("hex:1"),
                                  std::string("hex(2):41,00,0"), std::string("hex:01,\\\r\n  2")}) {
    SCOPED_TRACE(data);
    RegRecorder rec;
    auto parsed = parseRegBytes(v5 + "\"a\"=" + data + "\r\n", "cut.reg", rec);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.message().rfind("cut.reg:", 0), 0u) << parsed.message();
    EXPECT_NE(parsed.message().find("two hex digits"), std::string::npos) << parsed.message();
  }
  // A UTF-16 file one byte short: the last "04" would read as "0" and import as 00.
  TempDir dir;
  test::writeUtf16(dir / "odd.reg", v5 + "\"a\"=hex:01,02,03,04");
  std::string bytes = test::readText(dir / "odd.reg");
  bytes.pop_back();
  test::writeText(dir / "odd.reg", bytes);
  MemoryRegistry r;
  Outcome loaded = loadRegFile(dir / "odd.reg", r);
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.message().rfind(dir / "odd.reg:4: ", 0), 0u) << loaded.message();
  EXPECT_NE(loaded.message().find("odd"), std::string::npos) << loaded.message();
  // The same file whole still reads.
  test::writeUtf16(dir / "even.reg", v5 + "\"a\"=hex:01,02,03,04");
  MemoryRegistry whole;
  ASSERT_TRUE(loadRegFile(dir / "even.reg", whole));
  EXPECT_EQ(raw(whole, hkey::CurrentUser, "K", "a", regtype::Binary), (Bytes{1, 2, 3, 4}));
}

TEST(RegFile, RecorderAppliesStatementsInOrder) {
  MemoryRegistry r;
  KeyHandle h = 0;
  r.createKey(hkey::CurrentUser, "Old\\Child", h);
  r.setValueRaw(hkey::CurrentUser, "keep", regtype::Dword, Bytes{1, 0, 0, 0});
  RegRecorder rec;
  auto parsed = parseRegBytes(
      "REGEDIT4\n[-HKEY_CURRENT_USER\\Old]\n[HKEY_CURRENT_USER\\New]\n"
      "\"a\"=\"1\"\n\"a\"=-\n\"b\"=\"2\"\n[-HKEY_CURRENT_USER\\Absent]\n",
      "ok.reg", rec);
  ASSERT_TRUE(parsed) << parsed.message();
  ASSERT_EQ(rec.applyTo(r), Status::Success);
  EXPECT_EQ(r.openKey(hkey::CurrentUser, "Old", 0, h), Status::FileNotFound);
  EXPECT_EQ(raw(r, hkey::CurrentUser, "New", "b", regtype::Sz), utf16z("2"));
  std::uint32_t type;
  Bytes data;
  r.openKey(hkey::CurrentUser, "New", 0, h);
  EXPECT_EQ(r.queryValueRaw(h, "a", type, data), Status::FileNotFound);
  EXPECT_EQ(r.queryValueRaw(hkey::CurrentUser, "keep", type, data), Status::Success);
}

// Keys in the spread of a real export: deep chains, a key listed twice, mixed case, the classes
// view, every value form. `tag` keeps the two halves of a test file apart.
std::string filler(const std::string& tag, int keys) {
  std::string t;
  for (int i = 0; i < keys; ++i) {
    std::string k = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor" + std::to_string(i % 7) + "\\App" +
                    std::to_string(i % 50) + "\\" + tag + std::to_string(i) + "]\r\n";
    t += k + "@=\"default " + std::to_string(i) + "\"\r\n\"Path\"=\"C:\\\\x\\\\é" +
         std::to_string(i) + ".dll\"\r\n\"n\"=dword:" + std::to_string(i % 10) +
         "\r\n\"b\"=hex:01,02,03,\\\r\n  04,05\r\n\r\n";
    if (i % 97 == 0)
      t += "[HKEY_CLASSES_ROOT\\." + tag + std::to_string(i) + "]\r\n@=\"f\"\r\n\r\n";
  }
  return t;
}

TEST(RegFile, ApplierWritesStatementsAsTheyComeAndStopsAtTheFirstFailure) {
  MemoryRegistry r;
  KeyHandle h = 0;
  ASSERT_EQ(r.createKey(hkey::CurrentUser, "Old\\Gone", h), Status::Success);
  ASSERT_EQ(r.setValueRaw(h, "drop", regtype::Sz, utf16z("x")), Status::Success);
  r.closeKey(h);
  RegApplier applier(r);
  auto parsed = parseRegBytes(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\New]\r\n\"a\"=\"1\"\r\n"
      "[-HKEY_CURRENT_USER\\Old\\Gone]\r\n[-HKEY_CURRENT_USER\\Never\\There]\r\n"
      "[HKEY_CURRENT_USER\\Old]\r\n\"b\"=dword:00000002\r\n\"b\"=-\r\n\"c\"=\"3\"\r\n",
      "in.reg", applier);
  ASSERT_TRUE(parsed) << parsed.message();
  EXPECT_EQ(applier.status(), Status::Success) << "a missing key to delete is no failure";
  EXPECT_EQ(raw(r, hkey::CurrentUser, "New", "a", regtype::Sz), utf16z("1"));
  EXPECT_EQ(raw(r, hkey::CurrentUser, "Old", "c", regtype::Sz), utf16z("3"));
  EXPECT_NE(r.openKey(hkey::CurrentUser, "Old\\Gone", 0, h), Status::Success);
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(r.openKey(hkey::CurrentUser, "Old", 0, h), Status::Success);
  EXPECT_EQ(r.queryValueRaw(h, "b", type, data), Status::FileNotFound);
  r.closeKey(h);

  // A root the store has no place for fails, and nothing after it is applied.
  RegApplier stops(r);
  stops.key(0x80000099u, "Nowhere");
  EXPECT_NE(stops.status(), Status::Success);
  stops.key(hkey::CurrentUser, "After");
  EXPECT_NE(r.openKey(hkey::CurrentUser, "After", 0, h), Status::Success);
}

TEST(RegFile, LargeFilesLoadInPiecesExactlyAsInOnePass) {
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string shared =
      "[HKEY_CURRENT_USER\\Software\\Shared]\r\n\"first\"=\"1\"\r\n\"Second\"=\"2\"\r\n\r\n";
  const std::string again =
      "[hkey_current_user\\SOFTWARE\\shared]\r\n\"SECOND\"=\"two\"\r\n"
      "\"third\"=\"3\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Shared\\Sub]\r\n\r\n";
  // Read as one piece without stdio from 1 MiB on, in two pieces at once from 8 MiB on.
  for (int keys : {4000, 15000}) {
    SCOPED_TRACE(keys);
    const std::string a = filler("a", keys), b = filler("b", keys);
    std::string longHex;  // one line, long enough to hold the middle of the file
    for (int i = 0; i < 1000; ++i) longHex += "0a,";
    struct Case {
      const char* what;
      std::string text;
    } cases[] = {
        {"plain", head + shared + a + again + b},
        {"deletions late in the file",
         head + shared + a + b + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor1]\r\n\r\n" +
             "[HKEY_CURRENT_USER\\Software\\Shared]\r\n\"first\"=-\r\n" + again},
        {"fault late in the file", head + a + b + "[HKEY_CURRENT_USER\\X]\r\n\"v\"=hex:zz\r\n"},
        {"fault early in the file", head + "[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"open\r\n" + a + b},
        {"continuation cut where the file is split",
         head + a + "[HKEY_CURRENT_USER\\C]\r\n\"c\"=hex:" + longHex + "\\\r\n" +
             "[HKEY_CURRENT_USER\\D]\r\n" + a},
    };
    TempDir dir;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      const std::string file = dir / "big.reg";
      test::writeUtf16(file, c.text);
      ASSERT_GT(std::filesystem::file_size(file), keys > 4000 ? 8u << 20 : 1u << 20);
      ASSERT_LT(std::filesystem::file_size(file), keys > 4000 ? 16u << 20 : 8u << 20);
      MemoryRegistry inOnePass, inPieces;
      MemoryLoader loader(inOnePass);
      auto once = parseRegFile(file, loader);
      Outcome pieces = loadRegFile(file, inPieces);
      EXPECT_EQ(bool(pieces), bool(once));
      if (!once) {
        EXPECT_EQ(pieces.message(), once.message());
      }
      if (pieces) {
        EXPECT_FALSE(inPieces.modified());
      }
      EXPECT_EQ(exportReg(inPieces, 0, ""), exportReg(inOnePass, 0, ""));
    }
    // The continuation case fails on the key line after it, as regedit's reader would.
    MemoryRegistry r;
    Outcome cut = loadRegFile(dir / "big.reg", r);
    EXPECT_NE(cut.message().find("broken continuation: expected more hex bytes"), std::string::npos)
        << cut.message();
  }
}

}  // namespace
}  // namespace brisquell

namespace brisquell {
namespace {

TEST(RegFile, Regedit4IsReadAsUtf8OnlyWhenItIsValidUtf8) {
  // "Café" in Windows-1252, a euro sign (0x80) and an unassigned byte (0x81), also as the ANSI
  // bytes of an expandable string.
  const std::string ansi =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Caf\xe9]\r\n\"n\xe9\"=\"Caf\xe9 \x80\x81\"\r\n"
      "\"e\"=hex(2):43,61,66,e9,00\r\n";
  MemoryRegistry r;
  auto parsed = load(ansi, r);
  ASSERT_TRUE(parsed) << parsed.message();
  EXPECT_EQ(parsed->format, RegFormat::Regedit4);
  EXPECT_EQ(parsed->encoding, RegEncoding::Windows1252);
  EXPECT_EQ(raw(r, hkey::CurrentUser, "Café", "né", regtype::Sz), utf16z("Café \u20AC\u0081"));
  EXPECT_EQ(raw(r, hkey::CurrentUser, "Café", "e", regtype::ExpandSz), utf16z("Café"));

  // The same text in UTF-8 reads the same; hex text that is not UTF-8 is still Windows-1252.
  MemoryRegistry u;
  parsed = load(
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Café]\r\n\"né\"=\"Café €\u0081\"\r\n"
      "\"e\"=hex(2):43,61,66,e9,00\r\n\"u\"=hex(2):c3,a9,00\r\n",
      u);
  ASSERT_TRUE(parsed) << parsed.message();
  EXPECT_EQ(parsed->encoding, RegEncoding::Utf8);
  EXPECT_EQ(raw(u, hkey::CurrentUser, "Café", "né", regtype::Sz), utf16z("Café €\u0081"));
  EXPECT_EQ(raw(u, hkey::CurrentUser, "Café", "e", regtype::ExpandSz), utf16z("Café"));
  EXPECT_EQ(raw(u, hkey::CurrentUser, "Café", "u", regtype::ExpandSz), utf16z("é"));

  // One stray byte at the very end decides for the whole file; a UTF-8 sequence across the
  // first read chunk does not.
  TempDir dir;
  std::string big = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"a\"=\"\xc3\xa9\"\r\n;" +
                    std::string((1 << 22) - 47, 'x') + "\xc3\xa9\r\n; \xe9\r\n";
  test::writeText(dir / "big.reg", big);
  MemoryRegistry b;
  MemoryLoader loader(b);
  parsed = parseRegFile(dir / "big.reg", loader);
  ASSERT_TRUE(parsed) << parsed.message();
  EXPECT_EQ(parsed->encoding, RegEncoding::Windows1252);
  EXPECT_EQ(raw(b, hkey::CurrentUser, "K", "a", regtype::Sz), utf16z("Ã©"));
  big.resize(big.size() - 5);
  test::writeText(dir / "big.reg", big + "\r\n");
  MemoryRegistry b2;
  MemoryLoader loader2(b2);
  parsed = parseRegFile(dir / "big.reg", loader2);
  ASSERT_TRUE(parsed) << parsed.message();
  EXPECT_EQ(parsed->encoding, RegEncoding::Utf8);
  EXPECT_EQ(raw(b2, hkey::CurrentUser, "K", "a", regtype::Sz), utf16z("é"));

  // A version 5 header on an 8-bit file follows the same rule: names and text that are not
  // UTF-8 are Windows-1252, never bytes the store cannot spell, and they export and read back.
  MemoryRegistry v;
  parsed = load(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Caf\xe9]\r\n"
      "\"Ex\x90\x96nd\"=\"\x80\"\r\n",
      v);
  ASSERT_TRUE(parsed) << parsed.message();
  EXPECT_EQ(parsed->format, RegFormat::Version5);
  EXPECT_EQ(parsed->encoding, RegEncoding::Windows1252);
  EXPECT_EQ(raw(v, hkey::CurrentUser, "Café", "Ex\u0090\u2013nd", regtype::Sz), utf16z("\u20AC"));
  for (RegFormat f : {RegFormat::Version5, RegFormat::Regedit4}) {
    const std::string once = exportReg(v, 0, "", f);
    MemoryRegistry again;
    ASSERT_TRUE(load(once, again));
    EXPECT_EQ(exportReg(again, 0, "", f), once);
  }
}

TEST(RegFile, NamesWithLineBreaksRoundTripAndKeysThatCannotAreRefused) {
  const std::vector<std::string> names = {
      "cr\rhere",   "lf\nhere",  "both\r\n",          "\n",       "q\"uote", "back\\slash\\",
      "br]ack[et]", "Grüße ж 😀", "\\n not an escape", "\"]\r\\\n"};
  for (RegFormat format : {RegFormat::Version5, RegFormat::Regedit4}) {
    SCOPED_TRACE(format == RegFormat::Version5 ? "version 5" : "REGEDIT4");
    MemoryRegistry original;
    KeyHandle h = 0;
    ASSERT_EQ(original.createKey(hkey::CurrentUser, "Software\\br]ack[et] \"q\" Grüße]", h),
              Status::Success);
    for (const std::string& n : names)
      ASSERT_EQ(original.setValueRaw(h, n, regtype::Sz, utf16z(n)), Status::Success);
    original.closeKey(h);
    const std::string first = exportReg(original, 0, "", format);
    ASSERT_FALSE(first.empty());
    MemoryRegistry copy;
    auto parsed = load(first, copy);
    ASSERT_TRUE(parsed) << parsed.message();
    for (const std::string& n : names)
      EXPECT_EQ(raw(copy, hkey::CurrentUser, "Software\\br]ack[et] \"q\" Grüße]", n, regtype::Sz),
                utf16z(n));
    EXPECT_EQ(exportReg(copy, 0, "", format), first);
  }

  // A key name is one line: a line break in it cannot be written, and nothing is.
  MemoryRegistry r;
  KeyHandle h = 0;
  ASSERT_EQ(r.createKey(hkey::CurrentUser, "Software\\Two\nLines\\Below", h), Status::Success);
  r.closeKey(h);
  std::string out;
  Outcome written = writeReg(r, 0, "", RegFormat::Version5, [&](const char* d, std::size_t n) {
    out.append(d, n);
    return true;
  });
  ASSERT_FALSE(written);
  EXPECT_EQ(written.status(), Status::InvalidName);
  EXPECT_NE(written.message().find("HKEY_CURRENT_USER\\Software\\Two<LF>Lines"), std::string::npos)
      << written.message();
  EXPECT_EQ(exportReg(r, 0, ""), "");
}

}  // namespace
}  // namespace brisquell

namespace brisquell {
namespace {

// Keys and values named twice in one file, in other case: the loader's own way of building the
// tree must give what the store's generic calls give, statement by statement.
TEST(RegFile, NamesRepeatedInOneFileLoadAsStatementByStatement) {
  std::string dups = "[HKEY_CURRENT_USER\\Software\\Dup]\r\n";
  for (int i = 0; i < 30; ++i)  // past the length where lookups go through a hash index
    dups += "\"Val" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\r\n";
  dups += "\"VAL5\"=\"five\"\r\n\"val29\"=-\r\n\"Größe\"=\"1\"\r\n\"GRÖßE\"=\"2\"\r\n";
  for (int i = 0; i < 20; ++i)
    dups += "\r\n[HKEY_CURRENT_USER\\Software\\Dup\\Sub" + std::to_string(i) + "]\r\n@=\"" +
            std::to_string(i) + "\"\r\n";
  dups +=
      "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\dup]\r\n\"val5\"=\"again\"\r\n\"Val30\"=\"new\"\r\n"
      "\r\n[hkey_current_user\\software\\DUP\\SUB7]\r\n@=\"seven\"\r\n\"x\"=\"y\"\r\n"
      "\r\n[HKEY_CURRENT_USER\\Software\\Dup\\ÄÖ]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Dup\\äö]"
      "\r\n\"same key\"=\"yes\"\r\n\r\n";
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
  TempDir dir;
  // Small (one pass) and large (two pieces, the repeats on both sides of the split).
  for (const std::string& text :
       {head + dups, head + dups + filler("a", 15000) + dups + filler("b", 15000) + dups}) {
    MemoryRegistry loaded, applied;
    const std::string file = dir / "dups.reg";
    test::writeUtf16(file, text);
    ASSERT_TRUE(loadRegFile(file, loaded).ok());
    RegApplier applier(applied);
    ASSERT_TRUE(parseRegBytes(text, "dups.reg", applier).ok());
    ASSERT_EQ(applier.status(), Status::Success);
    EXPECT_EQ(exportReg(loaded, 0, ""), exportReg(applied, 0, ""));

    KeyHandle h = 0;
    ASSERT_EQ(loaded.openKey(hkey::CurrentUser, "software\\DUP", 0, h), Status::Success);
    std::uint32_t subKeys = 0, values = 0;
    loaded.queryInfo(h, subKeys, values);
    EXPECT_EQ(subKeys, 21u);  // Sub0..Sub19 and ÄÖ
    EXPECT_EQ(values, 31u);   // Val0..Val28, Val30, Größe
    EXPECT_EQ(raw(loaded, hkey::CurrentUser, "Software\\Dup", "val5", regtype::Sz),
              utf16z("again"));
    EXPECT_EQ(raw(loaded, hkey::CurrentUser, "Software\\Dup", "größe", regtype::Sz), utf16z("2"));
    EXPECT_EQ(raw(loaded, hkey::CurrentUser, "Software\\Dup\\sub7", "", regtype::Sz),
              utf16z("seven"));
    EXPECT_EQ(raw(loaded, hkey::CurrentUser, "Software\\Dup\\Äö", "SAME KEY", regtype::Sz),
              utf16z("yes"));
    loaded.closeKey(h);
  }
}

}  // namespace
}  // namespace brisquell

namespace brisquell {
namespace {

// Hex data read in runs of the usual "xx,xx" layout must read as byte by byte, wherever the
// layout changes, and faults must name the same place.
TEST(RegFile, HexDataReadsTheSameInEveryLayout) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n";
  std::string longLine, longBytes;
  for (int i = 0; i < 3000; ++i) {
    longLine += fmt::format("{}{:02x}", i ? "," : "", i % 256);
    longBytes.push_back(static_cast<char>(i % 256));
  }
  const std::pair<std::string, std::string> good[] = {
      {"01,02, 03,04", "\x01\x02\x03\x04"},
      {"01,02 ,03", "\x01\x02\x03"},
      {"0A,bC,Ff,00", std::string("\x0a\xbc\xff\x00", 4)},
      {"01,02,03,\\\r\n  04,\t05", "\x01\x02\x03\x04\x05"},
      {"01,02,03,  \\\r\n04", "\x01\x02\x03\x04"},
      {"  7f , 80\t", "\x7f\x80"},
      {"10", "\x10"},
      {longLine, longBytes},
      {longLine + ",\\\r\n  " + longLine, longBytes + longBytes},
  };
  for (const auto& [data, bytes] : good) {
    SCOPED_TRACE(data.substr(0, 40));
    MemoryRegistry r;
    ASSERT_TRUE(load(v5 + "\"a\"=hex:" + data + "\r\n", r).ok());
    EXPECT_EQ(raw(r, hkey::CurrentUser, "K", "a", regtype::Binary),
              Bytes(bytes.begin(), bytes.end()));
  }
  const std::pair<std::string, std::string> bad[] = {
      {"01,02,0g,03", "in.reg:4: bad hex byte \"0g,03\": expected two hex digits"},
      {"01,02,,03", "in.reg:4: bad hex byte \",03\""},
      {"01,02,03,", "in.reg:4: bad hex data: ends with a comma"},
      {"01,02;03", "in.reg:4: bad hex byte \";03\""},
      {"01,023", "in.reg:4: bad hex byte \"3\""},
      {"01,02,\\\r\n  03,zz", "in.reg:5: bad hex byte \"zz\""},
  };
  for (const auto& [data, message] : bad) {
    SCOPED_TRACE(data);
    MemoryRegistry r;
    auto parsed = load(v5 + "\"a\"=hex:" + data + "\r\n", r);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.message(), message);
  }
}

}  // namespace
}  // namespace brisquell

namespace brisquell {
namespace {

// Quotes and backslashes are found in blocks of bytes: an escape at any place in a long name or
// string, and a string cut off anywhere, must read as before.
TEST(RegFile, EscapesAreFoundAtEveryPlaceOfALongString) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n";
  for (std::size_t at = 0; at < 40; ++at) {
    SCOPED_TRACE(at);
    const std::string plain(40, 'x'), head = plain.substr(0, at), tail = plain.substr(at);
    const std::string withQuote = head + "\\\"" + tail, withBackslash = head + "\\\\" + tail;
    MemoryRegistry r;
    ASSERT_TRUE(
        load(v5 + "\"" + withQuote + "\"=\"" + withBackslash + "\"\r\n\"n\"=\"" + plain + "\"\r\n",
             r)
            .ok());
    EXPECT_EQ(raw(r, hkey::CurrentUser, "K", head + "\"" + tail, regtype::Sz),
              utf16z(head + "\\" + tail));
    auto cut = load(v5 + "\"n\"=\"" + plain.substr(0, at) + "\\\\\r\n", r);
    ASSERT_FALSE(cut);
    EXPECT_EQ(cut.message(), "in.reg:4: unterminated string");
  }
}

}  // namespace
}  // namespace brisquell
