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

namespace brisquell::test {

TEST(ScanCommand, SectionsChooseTheExtraSectionsAndFixAndRestoreThem) {
  TempDir d;
  makeMachine(d / "m", std::string(kBroken) + R"(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\GoneSvc]
"ImagePath"="\"C:\\Program Files\\Gone\\svc.exe\" -run"
"Start"=dword:00000002
"Type"=dword:00000010
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"Tray32"="C:\\Gone32\\tray.exe"
)");
  const std::string m = d / "m";
  const std::string serviceLine =
      "-2147483646\tImagePath\tC:\\Program Files\\Gone\\svc.exe\tWindows "
      "Services\tSYSTEM\\CurrentControlSet\\Services\\GoneSvc\tHKEY_LOCAL_MACHINE\n";
  auto only = runCli({"--target", m, "scan", "--sections", "windows services", "--format", "tsv"});
  EXPECT_EQ(only.exitCode, 0) << only.err;
  EXPECT_EQ(only.out, serviceLine);

  // The default scan walks the 32-bit view too, and names the key the value was found in.
  auto plain = runCli({"--target", m, "scan", "--format", "tsv"});
  EXPECT_NE(plain.out.find("Tray32\tC:\\Gone32\\tray.exe\tWindows Startup\t"
                           "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\t"),
            std::string::npos)
      << plain.out;
  EXPECT_EQ(plain.out.find("Windows Services"), std::string::npos);
  auto all = runCli({"--target", m, "scan", "--sections", "all", "--format", "json"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  auto j = nlohmann::json::parse(all.out);
  EXPECT_EQ(j["total"], 5);
  EXPECT_EQ(j["sections"].size(), 19u);

  auto bad = runCli({"--target", m, "scan", "--sections", "Windows Services,Spyware"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("there is no section \"Spyware\""), std::string::npos) << bad.err;

  // Switched on in the settings, the section joins every scan until switched off.
  auto on = runCli({"--target", m, "settings", "set", "Menu15", "True"});
  ASSERT_EQ(on.exitCode, 0) << on.err;
  EXPECT_NE(runCli({"--target", m, "settings"}).out.find("Menu19=False"), std::string::npos);
  EXPECT_NE(runCli({"--target", m, "scan", "--format", "tsv"}).out.find(serviceLine),
            std::string::npos);
  ASSERT_EQ(runCli({"--target", m, "settings", "set", "Menu15", "False"}).exitCode, 0);

  auto report =
      runCli({"--target", m, "report", d / "report.txt", "--sections", "Windows Services"});
  ASSERT_EQ(report.exitCode, 0) << report.err;
  EXPECT_NE(readText(d / "report.txt").find("C:\\Program Files\\Gone\\svc.exe"), std::string::npos);
  EXPECT_EQ(readText(d / "report.txt").find("tray.exe"), std::string::npos);

  const std::string before = runCli({"--target", m, "reg", "export"}).out;
  auto fix = runCli({"--target", m, "fix", "--sections", "Windows Services", "--yes"});
  ASSERT_EQ(fix.exitCode, 0) << fix.err;
  EXPECT_NE(fix.out.find("Windows Services (1 Registry Problems)  [High]"), std::string::npos)
      << fix.out;
  EXPECT_EQ(
      runCli({"--target", m, "scan", "--sections", "Windows Services", "--format", "tsv"}).out, "");
  auto list = runCli({"--target", m, "backups"});
  std::size_t at = list.out.find("BrisquellBK");
  ASSERT_NE(at, std::string::npos) << list.out;
  std::string name = list.out.substr(at, list.out.find(' ', at) - at);
  auto restore = runCli({"--target", m, "restore", name, "--yes"});
  ASSERT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_EQ(runCli({"--target", m, "reg", "export"}).out, before);
}

}  // namespace brisquell::test
