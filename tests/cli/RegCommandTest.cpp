// brisquell reg export|import, targets and exit codes, run as the real executable.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "support/Portable.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::readText;
using test::runCli;
using test::TempDir;

const std::string kBody =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Path\"=\"C:\\\\Vendor\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Sub]\r\n\"n\"=dword:00000001\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\r\n@=\"x\"\r\n\r\n";

std::string decode(const std::string& v5) {
  EXPECT_EQ(v5.substr(0, 2), "\xFF\xFE");
  return fromUtf16le(reinterpret_cast<const std::uint8_t*>(v5.data()) + 2, v5.size() - 2);
}

TEST(RegCommand, ExportWritesVersion5) {
  TempDir dir;
  test::makeMachine(dir / "m", kBody);
  auto all = runCli({"--target", dir / "m", "reg", "export"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  std::string text = decode(all.out);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Other]\r\n@=\"x\""), std::string::npos);

  auto one = runCli({"reg", "export", "hklm\\software\\vendor", "--output", dir / "v.reg"},
                    "BRISQUELL_TARGET=" + dir / "m");
  ASSERT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(one.out, "");
  text = decode(readText(dir / "v.reg"));
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Path\"=\"C:\\\\Vendor\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Sub]\r\n\"n\"=dword:00000001"),
            std::string::npos);
  EXPECT_EQ(text.find("Other"), std::string::npos);

  auto missing = runCli({"--target", dir / "m", "reg", "export", "HKLM\\SOFTWARE\\Nope"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Nope"), std::string::npos);
  EXPECT_EQ(runCli({"--target", dir / "m", "reg", "export", "HKEY_NOWHERE\\x"}).exitCode, 2);
}

TEST(RegCommand, ImportMergesAndRoundTrips) {
  TempDir dir;
  test::makeMachine(dir / "m", kBody);
  test::writeText(dir / "in.reg",
                  "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Imported]\n\"s\"=\"Grüße\"\n"
                  "\"e\"=hex(2):25,54,45,4d,50,25,00\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n\"Path\"=-\n"
                  "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Sub]\n");
  auto r = runCli({"--target", dir / "m", "reg", "import", dir / "in.reg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string text = decode(readText(dir / "m/registry.reg"));
  EXPECT_NE(text.find("\"s\"=\"Grüße\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"e\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00"), std::string::npos);
  EXPECT_EQ(text.find("\"Path\""), std::string::npos);
  EXPECT_EQ(text.find("Vendor\\Sub"), std::string::npos);

  // Exporting the whole registry and importing it into an empty machine gives the same file.
  auto exported = runCli({"--target", dir / "m", "reg", "export", "-o", dir / "all.reg"});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  test::makeMachine(dir / "copy", "");
  ASSERT_EQ(runCli({"--target", dir / "copy", "reg", "import", dir / "all.reg"}).exitCode, 0);
  EXPECT_EQ(readText(dir / "copy/registry.reg"), readText(dir / "all.reg"));
  EXPECT_EQ(readText(dir / "copy/registry.reg"), readText(dir / "m/registry.reg"));
}

TEST(RegCommand, AnsiImportSaysHowItWasRead) {
  TempDir dir;
  test::makeMachine(dir / "m", kBody);
  test::writeText(dir / "ansi.reg",
                  "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Ansi]\r\n"
                  "\"s\"=\"Caf\xe9\"\r\n");
  auto r = runCli({"--target", dir / "m", "reg", "import", dir / "ansi.reg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("REGEDIT4"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Windows-1252"), std::string::npos) << r.out;
  EXPECT_NE(decode(readText(dir / "m/registry.reg")).find("\"s\"=\"Café\""), std::string::npos);

  test::writeText(dir / "utf8.reg",
                  "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Ansi]\r\n"
                  "\"s\"=\"Café\"\r\n");
  r = runCli({"--target", dir / "m", "reg", "import", dir / "utf8.reg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("UTF-8"), std::string::npos) << r.out;
}

TEST(RegCommand, OutputIntoADeviceOrThroughALinkKeepsIt) {
  BRISQUELL_NEEDS_SYMLINKS();
#ifndef _WIN32
  TempDir dir;
  test::makeMachine(dir / "m", kBody);
  auto null = runCli({"--target", dir / "m", "reg", "export", "--output", "/dev/null"});
  EXPECT_EQ(null.exitCode, 0) << null.err;
  struct stat st {};
  ASSERT_EQ(::lstat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  auto scan = runCli({"--target", dir / "m", "scan", "--output", "/dev/null"});
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  ASSERT_EQ(::lstat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  test::writeText(dir / "target.reg", "old");
  ASSERT_EQ(::symlink("target.reg", (dir / "link.reg").c_str()), 0);
  auto linked = runCli({"--target", dir / "m", "reg", "export", "--output", dir / "link.reg"});
  ASSERT_EQ(linked.exitCode, 0) << linked.err;
  ASSERT_EQ(::lstat((dir / "link.reg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(decode(readText(dir / "target.reg")).rfind("Windows Registry Editor Version 5.00", 0),
            0u);
#endif
}

TEST(RegCommand, MalformedImportChangesNothing) {
  TempDir dir;
  test::makeMachine(dir / "m", kBody);
  const std::string before = readText(dir / "m/registry.reg");
  const std::string good =
      "[HKEY_CURRENT_USER\\Software\\Half]\r\n\"a\"=\"1\"\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n";
  struct Case {
    std::string text;
    int line;
  } cases[] = {
      {"REGEDIT 4\r\n" + good, 1},
      {"REGEDIT4\r\n" + good + "[HKEY_CURRENT_USER\\X]\r\n\"a\"=\"open\r\n", 6},
      {"REGEDIT4\r\n" + good + "[HKEY_CURRENT_USER\\X]\r\n\"a\"=hex:1x\r\n", 6},
      {"REGEDIT4\r\n" + good + "[HKEY_ELSEWHERE\\X]\r\n", 5},
      {"REGEDIT4\r\n" + good + "[HKEY_CURRENT_USER\\X]\r\n\"a\"=hex:01,\\\r\n\r\n", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    test::writeText(dir / "bad.reg", c.text);
    auto r = runCli({"--target", dir / "m", "reg", "import", dir / "bad.reg"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind(dir / "bad.reg:" + std::to_string(c.line) + ": ", 0), 0u) << r.err;
    EXPECT_EQ(readText(dir / "m/registry.reg"), before);
  }
  auto r = runCli({"--target", dir / "m", "reg", "import", dir / "absent.reg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("absent.reg"), std::string::npos);
  EXPECT_EQ(readText(dir / "m/registry.reg"), before);
}

TEST(RegCommand, TargetAndUsageErrorsExitWithTwo) {
  BRISQUELL_SKIP_ON_WINDOWS("without --target the running system is the target there");
  TempDir dir;
  auto none = runCli({"reg", "export"});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("--target"), std::string::npos);
  EXPECT_NE(none.err.find("BRISQUELL_TARGET"), std::string::npos);

  auto unknown = runCli({"--target", dir.path(), "reg", "export"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("machine folder"), std::string::npos) << unknown.err;
  EXPECT_NE(unknown.err.find("Wine prefix"), std::string::npos);
  EXPECT_EQ(runCli({"--target", dir / "absent", "reg", "export"}).exitCode, 2);

  test::makeMachine(dir / "m", kBody, "[Machine]\nPlatform=2\n[Drives]\nC=tape,drive_c\n");
  auto ini = runCli({"reg", "export"}, "BRISQUELL_TARGET=" + dir / "m");
  EXPECT_EQ(ini.exitCode, 2);
  EXPECT_NE(ini.err.find("machine.ini:4:"), std::string::npos) << ini.err;
  EXPECT_NE(ini.err.find("cdrom"), std::string::npos);

  test::makeMachine(dir / "ok", kBody);
  EXPECT_EQ(runCli({"--target", dir / "ok"}).exitCode, 2);
  EXPECT_EQ(runCli({"--target", dir / "ok", "reg"}).exitCode, 2);
  EXPECT_EQ(runCli({"--target", dir / "ok", "reg", "import"}).exitCode, 2);
  EXPECT_EQ(runCli({"--target", dir / "ok", "reg", "frobnicate"}).exitCode, 2);
}

}  // namespace
}  // namespace brisquell
