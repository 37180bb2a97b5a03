// Wine registry files: every value form read, unchanged files written back byte for byte,
// changed keys written as Wine writes them, damaged files refused with FILE:LINE.
#include "platform/wine/WineRegistryFile.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::readText;
using test::TempDir;
using test::writeText;

// Every key carries the time kTime, so that rewriting every key at kTime must give the same text.
constexpr std::uint64_t kTime = 0x1da2b3c4d5e6f70ull;

// As Wine writes it: sorted keys, implicit parents left out, every value form.
const std::string kSystemReg = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Classes\\.txt] 1702194095
#time=1da2b3c4d5e6f70
@="txtfile"
"Content Type"="text/plain"

[Software\\Classes\\CLSID\\{00000000-0000-0000-0000-0000000000A1}\\InprocServer32] 1702194095
#time=1da2b3c4d5e6f70
@="C:\\windows\\system32\\gone.dll"
"ThreadingModel"="Both"

[Software\\Forms] 1702194095
#time=1da2b3c4d5e6f70
#class="My\"Class"
"plain"="a \"quoted\" \\ back"
"expand"=str(2):"%SystemRoot%\\system32"
"multi"=str(7):"one\0two\0"
"dword"=dword:ffffffff
"binary"=hex:00,01,02,ff
"empty bin"=hex:
"dev"=hex(ffff0012):5c,00,5c,00,2e,00,5c,00,44,00,49,00,53,00,50,00,4c,00,41,\
  00,59,00,31,00,00,00
"unicode \xe9t\xe9"="caf\x00e9a \x26031"
"ctl"="tab\there\nnew\a\e\1x\0025"
"[brackets]"=""
"qword"=hex(b):01,00,00,00,00,00,00,00
"no nul"=hex(1):41,00
"short dword"=hex(4):01,02,03
"big binary"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\
  14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,\
  2d,2e,2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,\
  46,47,48,49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,\
  5f,60,61,62,63,64,65,66,67,68,69,6a,6b,6c,6d,6e,6f,70,71,72,73,74,75,76,77

[Software\\Forms\\Caf\xe9\\\[x\]] 1702194095
#time=1da2b3c4d5e6f70

[Software\\Wow6432Node\\Link] 1702194095
#time=1da2b3c4d5e6f70
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00
)";

const std::string kUserReg = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Environment] 1702194095
#time=1da2b3c4d5e6f70
"TEMP"=str(2):"C:\\users\\alice\\Temp"
)";

Bytes utf16(std::u16string_view s, bool nul = true) {
  Bytes b;
  for (char16_t c : s) {
    b.push_back(static_cast<std::uint8_t>(c & 0xff));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (nul) b.insert(b.end(), {0, 0});
  return b;
}

struct Loaded {
  MemoryRegistry store;
  WineRegistryFile file{store, hkey::LocalMachine};
  explicit Loaded(const std::string& text) {
    Outcome parsed = file.parse(text, "system.reg");
    EXPECT_TRUE(parsed) << parsed.message();
  }
  Bytes raw(std::string_view key, std::string_view name, std::uint32_t& type) {
    KeyHandle h = 0;
    EXPECT_EQ(store.openKey(hkey::LocalMachine, key, keyaccess::AllAccess, h), Status::Success)
        << key;
    Bytes d;
    EXPECT_EQ(store.queryValueRaw(h, name, type, d), Status::Success) << name;
    store.closeKey(h);
    return d;
  }
};

void markAllChanged(MemoryRegistry::Key* k) {
  k->changed = true;
  for (auto& c : k->children) markAllChanged(c.get());
}

std::string parseError(const std::string& text) {
  MemoryRegistry store;
  WineRegistryFile f(store, hkey::LocalMachine);
  Outcome parsed = f.parse(text, "system.reg");
  EXPECT_FALSE(parsed);
  return parsed.message();
}

TEST(WineRegistryFile, ReadsEveryValueForm) {
  Loaded l(kSystemReg);
  EXPECT_EQ(l.file.arch(), "win64");
  std::uint32_t t = 0;
  EXPECT_EQ(l.raw("Software\\Classes\\.txt", "", t), utf16(u"txtfile"));
  EXPECT_EQ(t, regtype::Sz);
  const char* forms = "Software\\Forms";
  EXPECT_EQ(l.raw(forms, "plain", t), utf16(u"a \"quoted\" \\ back"));
  EXPECT_EQ(l.raw(forms, "expand", t), utf16(u"%SystemRoot%\\system32"));
  EXPECT_EQ(t, regtype::ExpandSz);
  EXPECT_EQ(l.raw(forms, "multi", t), utf16(std::u16string_view(u"one\0two\0", 8)));
  EXPECT_EQ(t, regtype::MultiSz);
  EXPECT_EQ(l.raw(forms, "dword", t), (Bytes{0xff, 0xff, 0xff, 0xff}));
  EXPECT_EQ(t, regtype::Dword);
  EXPECT_EQ(l.raw(forms, "binary", t), (Bytes{0, 1, 2, 0xff}));
  EXPECT_EQ(t, regtype::Binary);
  EXPECT_TRUE(l.raw(forms, "empty bin", t).empty());
  EXPECT_EQ(l.raw(forms, "dev", t), utf16(u"\\\\.\\DISPLAY1"));
  EXPECT_EQ(t, 0xffff0012u);
  EXPECT_EQ(l.raw(forms, "unicode \xC3\xA9t\xC3\xA9", t), utf16(u"caf\u00e9a \u26031"));
  EXPECT_EQ(l.raw(forms, "ctl", t), utf16(std::u16string_view(u"tab\there\nnew\a\x1b\x01x\x02"
                                                              u"5")));
  EXPECT_EQ(l.raw(forms, "[brackets]", t), utf16(u""));
  EXPECT_EQ(l.raw(forms, "qword", t), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(t, regtype::Qword);
  EXPECT_EQ(l.raw(forms, "no nul", t), utf16(u"A", false));
  EXPECT_EQ(t, regtype::Sz);
  EXPECT_EQ(l.raw(forms, "big binary", t).size(), 120u);
  EXPECT_EQ(l.raw("Software\\Wow6432Node\\Link", "SymbolicLinkValue", t), utf16(u"\\R", false));
  EXPECT_EQ(t, regtype::Link);
  KeyHandle h = 0;
  EXPECT_EQ(l.store.openKey(hkey::LocalMachine, "software\\forms\\caf\xC3\xA9\\[x]",
                            keyaccess::AllAccess, h),
            Status::Success);
  l.store.closeKey(h);
  // hkey::ClassesRoot sees system.reg's Software\Classes.
  EXPECT_EQ(l.store.openKey(hkey::ClassesRoot, ".txt", keyaccess::AllAccess, h), Status::Success);
  l.store.closeKey(h);
}

TEST(WineRegistryFile, UnchangedFileRendersByteForByte) {
  Loaded l(kSystemReg);
  EXPECT_FALSE(l.file.changed());
  EXPECT_EQ(l.file.render(WineRegistryFile::currentTime()), kSystemReg);
  // Unusual but valid layout is kept as it is: comments, CR LF, extra blank lines, no final
  // newline.
  std::string odd =
      "WINE REGISTRY Version 2\r\n;; comment\r\n\r\n\r\n[A] 5\r\n\"x\"=str:\"y\"\r\n;; "
      "tail\r\n\r\n\r\n"
      "[A\\\\B]\n  \"v\"=hex:01,\\\n     02\n\n\n";
  Loaded o(odd);
  EXPECT_EQ(o.file.render(kTime), odd);
  std::string noFinalNewline = "WINE REGISTRY Version 2\n\n[A] 5\n@=\"x\"";
  Loaded n(noFinalNewline);
  EXPECT_EQ(n.file.render(kTime), noFinalNewline);
  // A last block without its newline that the tree's order puts first keeps to its own lines.
  Loaded u("WINE REGISTRY Version 2\n[x]\n[]");
  EXPECT_EQ(u.file.render(kTime), "WINE REGISTRY Version 2\n[]\n[x]\n");
}

TEST(WineRegistryFile, RewritesEveryKeyAsWineDoes) {
  Loaded l(kSystemReg);
  markAllChanged(l.store.root(hkey::LocalMachine));
  EXPECT_TRUE(l.file.changed());
  EXPECT_EQ(l.file.render(kTime), kSystemReg);
}

TEST(WineRegistryFile, ChangedKeyGetsTheNewTimeOthersKeepTheirs) {
  TempDir dir;
  const std::string path = dir / "system.reg";
  writeText(path, kSystemReg);
  MemoryRegistry store;
  WineRegistryFile file(store, hkey::LocalMachine);
  Outcome loaded = file.load(path);
  ASSERT_TRUE(loaded) << loaded.message();
  Result<bool> written = file.save(path);
  ASSERT_TRUE(written) << written.message();
  EXPECT_FALSE(*written) << "nothing changed, nothing to write";

  KeyHandle h = 0;
  ASSERT_EQ(store.openKey(hkey::ClassesRoot, ".txt", keyaccess::AllAccess, h), Status::Success);
  ASSERT_EQ(store.setValue(h, "Content Type", regtype::Sz, Bytes{'t', 'e', 'x', 't', '/', 'x', 0}),
            Status::Success);
  store.closeKey(h);
  ASSERT_EQ(store.createKey(hkey::LocalMachine, "Software\\New Key", h), Status::Success);
  store.closeKey(h);
  EXPECT_TRUE(file.changed());

  const std::uint64_t before = WineRegistryFile::currentTime();
  written = file.save(path);
  ASSERT_TRUE(written) << written.message();
  EXPECT_TRUE(*written);
  const std::string saved = readText(path);

  auto blockOf = [&](const std::string& keyLine) {
    std::size_t a = saved.find(keyLine);
    EXPECT_NE(a, std::string::npos) << keyLine;
    return a == std::string::npos ? std::string() : saved.substr(a, saved.find("\n\n", a) - a);
  };
  std::string txt = blockOf("[Software\\\\Classes\\\\.txt] ");
  unsigned secs = 0;
  unsigned long long ticks = 0;
  ASSERT_EQ(std::sscanf(txt.c_str(), "[Software\\\\Classes\\\\.txt] %u\n#time=%llx", &secs, &ticks),
            2)
      << txt;
  EXPECT_GE(ticks, before);
  EXPECT_EQ(secs, (ticks - 116444736000000000ull) / 10000000ull);
  EXPECT_NE(txt.find("\"Content Type\"=\"text/x\""), std::string::npos) << txt;
  EXPECT_NE(blockOf("[Software\\\\New Key] ").find("#time="), std::string::npos);
  // Keys nothing wrote to keep their text.
  std::string forms = kSystemReg.substr(kSystemReg.find("[Software\\\\Forms] "));
  forms = forms.substr(0, forms.find("\n\n"));
  EXPECT_EQ(blockOf("[Software\\\\Forms] "), forms);

  // Reading the saved file back gives what was saved, and a second save writes nothing.
  MemoryRegistry again;
  WineRegistryFile reread(again, hkey::LocalMachine);
  loaded = reread.load(path);
  ASSERT_TRUE(loaded) << loaded.message();
  EXPECT_EQ(reread.render(kTime), saved);
  written = file.save(path);
  ASSERT_TRUE(written) << written.message();
  EXPECT_FALSE(*written);
  EXPECT_EQ(file.render(kTime), saved);
}

TEST(WineRegistryFile, NamesEndingInNulSurviveARewrite) {
  // Text data implies its final NUL; a key's or a value's name does not, so a name that ends
  // in one keeps it when its key is written again.
  const std::string nul(1, '\0');
  Loaded l(kSystemReg);
  KeyHandle h = 0;
  ASSERT_EQ(l.store.createKey(hkey::LocalMachine, "Software\\Ends" + nul + "\\Sub", h),
            Status::Success);
  const Bytes one{1, 0, 0, 0};
  ASSERT_EQ(l.store.setValueRaw(h, "v" + nul, regtype::Dword, one), Status::Success);
  l.store.closeKey(h);
  const std::string out = l.file.render(kTime);
  EXPECT_NE(out.find("[Software\\\\Ends\\0\\\\Sub]"), std::string::npos) << out;
  EXPECT_NE(out.find("\"v\\0\"=dword:00000001"), std::string::npos) << out;
  Loaded back(out);
  std::uint32_t type = 0;
  EXPECT_EQ(back.raw("Software\\Ends" + nul + "\\Sub", "v" + nul, type), one);
  markAllChanged(back.store.root(hkey::LocalMachine));
  EXPECT_EQ(back.file.render(kTime), out);
}

TEST(WineRegistryFile, DeletedKeysAndValuesLeaveTheFile) {
  Loaded l(kSystemReg);
  KeyHandle h = 0;
  ASSERT_EQ(l.store.openKey(hkey::LocalMachine, "Software\\Forms", keyaccess::AllAccess, h),
            Status::Success);
  EXPECT_EQ(l.store.deleteValue(h, "plain"), Status::Success);
  l.store.closeKey(h);
  EXPECT_EQ(l.store.deleteTree(hkey::ClassesRoot, "CLSID"), Status::Success);
  std::string out = l.file.render(kTime);
  EXPECT_EQ(out.find("\"plain\""), std::string::npos);
  EXPECT_EQ(out.find("InprocServer32"), std::string::npos);
  EXPECT_NE(out.find("\"expand\"=str(2):"), std::string::npos);
  // Software\Classes still has .txt below it: it stays implicit.
  EXPECT_EQ(out.find("[Software\\\\Classes]"), std::string::npos);
}

TEST(WineRegistryFile, OldStyleStringsAreRead) {
  Loaded l("WINE REGISTRY Version 2\n\n[A] 1\n\"s\"=str:\"x\"\n  \"spaced\" = \"y\"\n");
  std::uint32_t t = 0;
  EXPECT_EQ(l.raw("A", "s", t), utf16(u"x"));
  EXPECT_EQ(t, regtype::Sz);
  EXPECT_EQ(l.raw("A", "spaced", t), utf16(u"y"));
}

TEST(WineRegistryFile, DamagedFilesAreRefusedWithFileAndLine) {
  EXPECT_EQ(parseError("REGEDIT4\n\n[A]\n"),
            "system.reg:1: not a Wine registry file (the first line must be \"WINE REGISTRY "
            "Version 2\")");
  EXPECT_EQ(parseError(""),
            "system.reg:1: not a Wine registry file (the first line must be \"WINE REGISTRY "
            "Version 2\")");
  EXPECT_EQ(parseError("WINE REGISTRY Version 2\n;; x\n\n#arch=arm64\n"),
            "system.reg:4: unknown architecture \"arm64\" (expected win32 or win64)");
  const std::string head = "WINE REGISTRY Version 2\n\n[A] 1\n";
  EXPECT_EQ(parseError(head + "\"v\"=\"unterminated\n"),
            "system.reg:4: string without a closing quote");
  EXPECT_EQ(parseError(head + "garbage\n"),
            "system.reg:4: unrecognised line (expected a key, a value, an option or a comment)");
  EXPECT_EQ(parseError(head + "[B\n"), "system.reg:4: key line without a closing \"]\"");
  EXPECT_EQ(parseError(head + "[B] 12x\n"), "system.reg:4: unexpected text after the key's time");
  EXPECT_EQ(parseError(head + "\"v\" \"x\"\n"),
            "system.reg:4: expected \"=\" after the value name");
  EXPECT_EQ(parseError(head + "\"v\"=hex:0g\n"), "system.reg:4: bad hex data");
  EXPECT_EQ(parseError(head + "\"v\"=hex:100\n"),
            "system.reg:4: bad hex data (a byte has more than two digits)");
  EXPECT_EQ(parseError(head + "\"v\"=hex:01,\\\n"),
            "system.reg:4: hex data continued past the end of the file");
  EXPECT_EQ(parseError(head + "\"v\"=hex(zz):01\n"),
            "system.reg:4: bad value type (expected hex(N): with N in hex)");
  EXPECT_EQ(parseError(head + "\"v\"=dword:123456789\n"),
            "system.reg:4: bad dword (expected up to 8 hex digits)");
  EXPECT_EQ(parseError(head + "\"v\"=str(3):\"x\"\n"), "system.reg:4: unknown value type");
  EXPECT_EQ(parseError("WINE REGISTRY Version 2\n@=\"x\"\n"),
            "system.reg:2: value before the first key");
}

TEST(WineRegistryFile, DeletingTheLastKeyLeavesTheHeaderOnly) {
  TempDir dir;
  const std::string path = dir / "user.reg";
  writeText(path, kUserReg);
  MemoryRegistry store;
  WineRegistryFile user(store, hkey::CurrentUser);
  ASSERT_TRUE(user.load(path));
  ASSERT_EQ(store.deleteTree(hkey::CurrentUser, "Environment"), Status::Success);
  Result<bool> written = user.save(path);
  ASSERT_TRUE(written) << written.message();
  EXPECT_TRUE(*written);
  const std::string saved = readText(path);
  EXPECT_EQ(saved, kUserReg.substr(0, kUserReg.find("\n\n[Environment]") + 1)) << saved;
  EXPECT_EQ(saved.find("[]"), std::string::npos);

  // Read again and given a value of the root itself, the root is written as Wine writes it.
  MemoryRegistry again;
  WineRegistryFile reread(again, hkey::CurrentUser);
  ASSERT_TRUE(reread.load(path));
  ASSERT_EQ(again.setValueRaw(hkey::CurrentUser, "v", regtype::Dword, dwordBytes(7)),
            Status::Success);
  std::string out = reread.render(kTime);
  EXPECT_NE(out.find("\n[] "), std::string::npos) << out;
  EXPECT_NE(out.find("\"v\"=dword:00000007\n"), std::string::npos) << out;

  // Saved in two steps, the keys count as written only once the caller says so.
  auto prepared = reread.prepare(kTime);
  EXPECT_EQ(prepared.text(), out);
  EXPECT_TRUE(reread.changed());
  reread.saved(std::move(prepared));
  EXPECT_FALSE(reread.changed());
  EXPECT_EQ(reread.render(kTime + 1), out) << "written keys keep the text they were saved with";
}

TEST(WineRegistryFile, UserFileLoadsIntoCurrentUser) {
  MemoryRegistry store;
  WineRegistryFile user(store, hkey::CurrentUser);
  Outcome parsed = user.parse(kUserReg, "user.reg");
  ASSERT_TRUE(parsed) << parsed.message();
  KeyHandle h = 0;
  EXPECT_EQ(store.openKey(hkey::CurrentUser, "Environment", keyaccess::AllAccess, h),
            Status::Success);
  store.closeKey(h);
  EXPECT_NE(store.openKey(hkey::LocalMachine, "Environment", keyaccess::AllAccess, h),
            Status::Success);
  EXPECT_EQ(user.render(kTime), kUserReg);
}

}  // namespace
}  // namespace brisquell
