// brisquell scan from the outside: formats, output file, exit codes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/Portable.h"
#include "support/TempDir.h"

namespace brisquell::test {

namespace {
const char* kBroken = R"(
[HKEY_CLASSES_ROOT\CLSID\{1}\InprocServer32]
@="C:\\gone\\a.dll"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.q\OpenWithList]
)";
}

TEST(ScanCommand, FormatsAndOutput) {
  TempDir d;
  makeMachine(d / "m", kBroken);
  auto tsv = runCli({"--target", d / "m", "scan", "--format", "tsv"});
  EXPECT_EQ(tsv.exitCode, 0) << tsv.err;
  EXPECT_EQ(tsv.out,
            "-2147483648\t(Default)\tC:\\gone\\a.dll\tActiveX \\ "
            "COM\tCLSID\\{1}\\InprocServer32\tHKEY_CLASSES_ROOT\n"
            "-2147483646\t(Default)\tC:\\gone\\a.dll\tActiveX \\ COM "
            "Subsections\tSOFTWARE\\Classes\\CLSID\\{1}\\InprocServer32\tHKEY_LOCAL_MACHINE\n"
            "-2147483647\t(Default)"
            "\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.q\\OpenWithList\t"
            "File "
            "Extensions\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
            "q\\OpenWithList\tHKEY_CURRENT_USER\n");

  auto json = runCli({"scan", "--deep", "--format", "json"}, "BRISQUELL_TARGET=" + d / "m");
  ASSERT_EQ(json.exitCode, 0) << json.err;
  auto j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["total"], 3);
  EXPECT_EQ(j["mode"], "deep");
  EXPECT_EQ(j["sections"].size(), 14u);
  EXPECT_EQ(j["sections"][1]["count"], 1);
  EXPECT_EQ(j["sections"][1]["problems"], "1 Registry Problems");
  EXPECT_EQ(j["problems"][0]["FullKeyPath"], "CLSID\\{1}\\InprocServer32");

  auto text = runCli({"--target", d / "m", "scan", "--output", d / "report.txt"});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_EQ(text.out, "");
  std::string report = readText(d / "report.txt");
  EXPECT_NE(report.find("ActiveX \\ COM (1)"), std::string::npos);
  EXPECT_NE(report.find("3 problems found."), std::string::npos);

  makeMachine(d / "clean", "");
  auto clean = runCli({"--target", d / "clean", "scan"});
  EXPECT_EQ(clean.exitCode, 0);
  EXPECT_NE(clean.out.find("Congratulations!!! No problem found."), std::string::npos);
  EXPECT_EQ(runCli({"--target", d / "clean", "scan", "--format", "tsv"}).out, "");
}

TEST(ScanCommand, UsageAndTargetErrors) {
  BRISQUELL_SKIP_ON_WINDOWS("without --target the running system is the target there");
  TempDir d;
  auto none = runCli({"scan"});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("BRISQUELL_TARGET"), std::string::npos);
  makeMachine(d / "m", "");
  EXPECT_EQ(runCli({"--target", d / "m", "scan", "--quick", "--deep"}).exitCode, 2);
  EXPECT_EQ(runCli({"--target", d / "m", "scan", "--format", "xml"}).exitCode, 2);
  auto unknown = runCli({"--target", d.path(), "scan"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("machine.ini"), std::string::npos);
  auto unwritable = runCli({"--target", d / "m", "scan", "--output", d / "no/such/dir/r.txt"});
  EXPECT_EQ(unwritable.exitCode, 1);
}

// An empty InstallFolder leaves a Help Files value of "C" as a relative path with no folder to
// stand on: the scan logs it and ends normally.
TEST(ScanCommand, EmptyInstallFolderAndShortHelpPath) {
  TempDir d;
  makeMachine(
      d / "m",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help]\r\n@=\"C\"\r\n\"x.hlp\"=\"C\"\r\n",
      "[Machine]\nInstallFolder=\n[Drives]\nC=fixed,drive_c\n");
  auto r = runCli({"--target", d / "m", "scan", "--format", "tsv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

}  // namespace brisquell::test
