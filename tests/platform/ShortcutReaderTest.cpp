// The liblnk shortcut reader: which path a shortcut yields, text encodings, and the helpers
// for environment variables and relative paths.
#include "platform/lnk/LnkShortcutReader.h"

#include <gtest/gtest.h>

#include "LnkWriter.h"
#include "platform/Target.h"
#include "platform/host/HostFileSystem.h"
#include "support/TempDir.h"

namespace brisquell::test {

namespace {

void put16(Bytes& b, std::uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}
void put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}

// A shortcut whose LinkInfo holds both forms of the local path (header size 0x24).
Bytes shortcutWithUnicodePath(const std::string& ansi, const std::string& unicode) {
  Bytes b = makeShortcut("C:\\x");
  b.resize(0x4C);
  b[0x14] = 0x82;  // HasLinkInfo | IsUnicode
  Bytes info;
  const std::uint32_t volume = 0x24, ansiPath = volume + 0x11;
  const std::uint32_t ansiSuffix = ansiPath + static_cast<std::uint32_t>(ansi.size()) + 1;
  const std::uint32_t widePath = ansiSuffix + 1;
  const Bytes wide = toUtf16le(unicode);
  const std::uint32_t wideSuffix = widePath + static_cast<std::uint32_t>(wide.size()) + 2;
  put32(info, 0);
  put32(info, 0x24);
  put32(info, 1);
  put32(info, volume);
  put32(info, ansiPath);
  put32(info, 0);
  put32(info, ansiSuffix);
  put32(info, widePath);
  put32(info, wideSuffix);
  put32(info, 0x11);
  put32(info, 3);
  put32(info, 0x12345678);
  put32(info, 0x10);
  info.push_back(0);
  info.insert(info.end(), ansi.begin(), ansi.end());
  info.push_back(0);
  info.push_back(0);
  info.insert(info.end(), wide.begin(), wide.end());
  put16(info, 0);
  put16(info, 0);
  for (int i = 0; i < 4; ++i) info[i] = (info.size() >> (8 * i)) & 0xFF;
  b.insert(b.end(), info.begin(), info.end());
  put32(b, 0);
  return b;
}

struct ReaderFixture {
  TempDir dir;
  HostFileSystem files{{HostDrive{DriveInfo{'C', DriveFixed, true}, dir / "c"}}, "C:\\"};
  MachineInfo machine;
  LnkShortcutReader reader{files, machineEnvironment(machine)};
  std::string read(const std::string& name, const Bytes& b) {
    writeText(dir / ("c/Menu/" + name), std::string(b.begin(), b.end()));
    return reader.targetPath("C:\\Menu\\" + name);
  }
};

}  // namespace

TEST(ShortcutReader, PathFormsInOrder) {
  ReaderFixture f;
  LnkSpec all;
  all.localBasePath = "C:\\Program Files\\";
  all.commonPathSuffix = "App\\app.exe";
  all.relativePath = "..\\Rel\\app.exe";
  all.environmentPath = "%ProgramFiles%\\Env\\app.exe";
  EXPECT_EQ(f.read("local.lnk", makeShortcut(all)), "C:\\Program Files\\App\\app.exe");
  all.localBasePath.clear();
  EXPECT_EQ(f.read("env.lnk", makeShortcut(all)), "C:\\Program Files\\Env\\app.exe");
  all.environmentPath.clear();
  EXPECT_EQ(f.read("rel.lnk", makeShortcut(all)), "C:\\Rel\\app.exe");
  all.relativePath.clear();
  EXPECT_EQ(f.read("none.lnk", makeShortcut(all)), "");
  EXPECT_EQ(f.reader.targetPath("C:\\Menu\\absent.lnk"), "");
  EXPECT_EQ(f.reader.targetPath("Q:\\x.lnk"), "");
}

TEST(ShortcutReader, TextEncodings) {
  ReaderFixture f;
  // Unicode form first, whatever the ANSI form says.
  EXPECT_EQ(f.read("wide.lnk", shortcutWithUnicodePath("C:\\?n?\\gone.exe",
                                                       "C:\\\xC3\x9Cn\xC3\xAF\\\xD0\xA0.exe")),
            "C:\\\xC3\x9Cn\xC3\xAF\\\xD0\xA0.exe");
  // ANSI: UTF-8 bytes as they are, including those Windows-1252 leaves unused (0x81, 0x90).
  EXPECT_EQ(f.read("utf8.lnk", makeShortcut(std::string("C:\\\xD1\x81\xC3\x90\\x.exe"))),
            "C:\\\xD1\x81\xC3\x90\\x.exe");
  // Other ANSI bytes are Windows-1252.
  EXPECT_EQ(f.read("cp1252.lnk", makeShortcut(std::string("C:\\\x80\xDC\x81\\x.exe"))),
            "C:\\\xE2\x82\xAC\xC3\x9C\xC2\x81\\x.exe");
}

TEST(ShortcutReader, DamagedSizesNeverReachTheLibrary) {
  // Size fields that claim about 4 GB (liblnk would size a buffer from them) or more than the
  // file holds: skipped, with a reason naming the file; sound shortcuts still read.
  ReaderFixture f;
  const Bytes good = makeShortcut("C:\\App\\app.exe");
  ASSERT_EQ(f.read("good.lnk", good), "C:\\App\\app.exe");
  EXPECT_EQ(f.reader.lastProblem(), "");

  Bytes hugeInfo = good;
  for (int i = 0; i < 4; ++i) hugeInfo[0x4C + i] = 0xFF;  // LinkInfoSize
  EXPECT_EQ(f.read("info.lnk", hugeInfo), "");
  EXPECT_NE(f.reader.lastProblem().find(f.dir / "c/Menu/info.lnk"), std::string::npos);
  EXPECT_NE(f.reader.lastProblem().find("damaged shortcut (link info of 4294967295 bytes"),
            std::string::npos)
      << f.reader.lastProblem();

  Bytes hugeBlock = good;
  hugeBlock.resize(hugeBlock.size() - 4);  // the terminal block
  put32(hugeBlock, 0xFFFFFFF0);
  put32(hugeBlock, 0xA0000003);
  EXPECT_EQ(f.read("block.lnk", hugeBlock), "");
  EXPECT_NE(f.reader.lastProblem().find("extra data block of 4294967280 bytes"), std::string::npos)
      << f.reader.lastProblem();

  Bytes cut(good.begin(), good.begin() + 0x50);  // LinkInfo announced, not there
  EXPECT_EQ(f.read("cut.lnk", cut), "");
  EXPECT_NE(f.reader.lastProblem().find("runs past the end"), std::string::npos);

  EXPECT_EQ(f.read("big.lnk", Bytes(LnkShortcutReader::kMaxShortcutBytes + 1, 0)), "");
  EXPECT_NE(f.reader.lastProblem().find("too large for a shortcut"), std::string::npos);

  EXPECT_EQ(f.read("good.lnk", good), "C:\\App\\app.exe");
  EXPECT_EQ(f.reader.lastProblem(), "");
  EXPECT_EQ(f.reader.targetPath("C:\\Menu\\absent.lnk"), "");
  EXPECT_EQ(f.reader.lastProblem(), "") << "a missing file is no damaged one";
}

TEST(ShortcutReader, EnvironmentExpansion) {
  MachineInfo m;
  m.windowsDirectory = "D:\\WINNT\\";
  m.userName = "ann";
  const Environment env = machineEnvironment(m);
  EXPECT_EQ(expandEnvironmentStrings("%SystemRoot%\\a;%WINDIR%\\b;%systemdrive%\\c", env),
            "D:\\WINNT\\a;D:\\WINNT\\b;D:\\c");
  EXPECT_EQ(expandEnvironmentStrings("%USERPROFILE%\\Desktop", env),
            "D:\\Documents and Settings\\ann\\Desktop");
  EXPECT_EQ(expandEnvironmentStrings("%NOPE%x%SystemDrive%", env), "%NOPE%xD:");
  EXPECT_EQ(expandEnvironmentStrings("100%", env), "100%");
  EXPECT_EQ(expandEnvironmentStrings("%%", env), "%%");
}

TEST(ShortcutReader, RelativePaths) {
  EXPECT_EQ(resolveRelativePath("C:\\a\\b", "..\\c\\d.exe"), "C:\\a\\c\\d.exe");
  EXPECT_EQ(resolveRelativePath("C:\\a\\b\\", ".\\d.exe"), "C:\\a\\b\\d.exe");
  EXPECT_EQ(resolveRelativePath("C:\\a", "..\\..\\..\\d.exe"), "C:\\d.exe");
  EXPECT_EQ(resolveRelativePath("\\\\srv\\share\\x", "..\\..\\y.exe"), "\\\\srv\\share\\y.exe");
}

}  // namespace brisquell::test
