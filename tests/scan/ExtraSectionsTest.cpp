// The opt-in sections, the 32-bit registry views and the modern MUI cache: what is reported,
// what is left alone because it works or cannot be tested, and that a default scan is unchanged.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScanTestSupport.h"
#include "scan/ExtraSections.h"

namespace brisquell::test {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

// "KeyName=KeyValue" of one section's records.
std::vector<std::string> of(ScanMachine& m, std::string_view section) {
  std::vector<std::string> out;
  for (const auto& r : m.problems())
    if (r.Section == section) out.push_back(r.KeyName + "=" + r.KeyValue);
  return out;
}

ScanOutcome scanWith(ScanMachine& m, std::string_view sections, ScanMode mode = ScanMode::Quick) {
  auto chosen = chooseSections(sections);
  EXPECT_TRUE(chosen) << chosen.message();
  if (chosen) m.ctx->sectionChoice = chosen.value();
  return m.scan(mode);
}

const char* kFolders = R"REG(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]
"ProgramFilesDir"="C:\\Program Files"
"CommonFilesDir"="C:\\Program Files\\Common Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"
)REG";

}  // namespace

TEST(ExtraSections, OffByDefaultSwitchedOnByTheirSettingsOrTheChoice) {
  const std::string reg = std::string(kFolders) + R"REG(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Gone]
"ImagePath"="\"C:\\Program Files\\Gone\\svc.exe\" -service"
"Start"=dword:00000002
"Type"=dword:00000010
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Tray"="C:\\Gone\\tray.exe"
)REG";
  ScanMachine plain(reg);
  plain.scan();
  EXPECT_THAT(plain.summary(), ElementsAre("Tray=C:\\Gone\\tray.exe@Windows Startup"));
  EXPECT_EQ(plain.ctx->sections().size(), 12u);  // the list itself is as it always was
  ScanMachine deep(reg);
  deep.scan(ScanMode::Deep);
  EXPECT_EQ(deep.ctx->sections().back().name, "Windows Shortcuts(Drive C:)");

  ScanMachine switched(reg + R"REG(
[HKEY_LOCAL_MACHINE\SOFTWARE\Quandrel Technology\Brisquell\Settings]
"Menu15"="True"
"Menu16"="0"
)REG");
  switched.scan(ScanMode::Deep);
  EXPECT_EQ(switched.ctx->sections().back().name, "Windows Services");
  EXPECT_EQ(switched.ctx->sections().back().threatLevel, "High");
  EXPECT_THAT(of(switched, "Windows Services"),
              ElementsAre("ImagePath=C:\\Program Files\\Gone\\svc.exe"));
  EXPECT_EQ(switched.ctx->progress().back().problems, "1 Registry Problems");

  // A list of names is exactly those sections; "default" adds what the switches tick.
  ScanMachine listed(reg);
  scanWith(listed, "windows services");
  EXPECT_THAT(listed.summary(), ElementsAre("ImagePath=C:\\Program Files\\Gone\\svc.exe@Windows "
                                            "Services"));
  ScanMachine both(reg);
  scanWith(both, "default, Windows Services");
  EXPECT_EQ(both.problems().size(), 2u);
  ScanMachine all(reg);
  scanWith(all, "all");
  EXPECT_EQ(all.ctx->sections().size(), 12u + 7u);

  auto bad = chooseSections("Windows Services,Registry Cleaner");
  ASSERT_FALSE(bad);
  EXPECT_NE(bad.message().find("there is no section \"Registry Cleaner\""), std::string::npos);
  EXPECT_NE(bad.message().find("Sound Events"), std::string::npos);
  EXPECT_FALSE(chooseSections(" , "));
}

TEST(ExtraSections, FileAssociationsTryCommandsAsCreateProcessDoes) {
  ScanMachine m(
      std::string(kFolders) + R"REG(
[HKEY_CLASSES_ROOT\App.Document\shell\open\command]
@="\"C:\\Program Files\\App\\app.exe\" \"%1\""
[HKEY_CLASSES_ROOT\App.Document\shell\print\command]
@="C:\\Program Files\\App\\app.exe /p \"%1\""
[HKEY_CLASSES_ROOT\App.Document\DefaultIcon]
@="C:\\Program Files\\App\\app.exe,-101"
[HKEY_CLASSES_ROOT\Kept.Document\shell\open\command]
@="C:\\Program Files\\Kept App\\kept.exe %1"
[HKEY_CLASSES_ROOT\Kept.Document\DefaultIcon]
@="\"C:\\Program Files\\Kept App\\kept.exe\",0"
[HKEY_CLASSES_ROOT\Short.Document\shell\open\command]
@="C:\\Tools\\short /open"
[HKEY_CLASSES_ROOT\Expanded.Document\shell\open\command]
@=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,\
  00,5c,00,67,00,6f,00,6e,00,65,00,2e,00,65,00,78,00,65,00,20,00,25,00,31,00,\
  00,00
[HKEY_CLASSES_ROOT\Bare.Document\shell\open\command]
@="wordpad.exe \"%1\""
[HKEY_CLASSES_ROOT\Sys.Document\shell\open\command]
@="rundll32.exe shell32.dll,OpenAs_RunDLL %1"
[HKEY_CLASSES_ROOT\Sys.Document\DefaultIcon]
@="%1"
[HKEY_CLASSES_ROOT\Unknown.Document\shell\open\command]
@="%NOWHERE%\\x.exe %1"
[HKEY_CLASSES_ROOT\exefile\shell\open\command]
@="\"%1\" %*"
[HKEY_CLASSES_ROOT\Applications\gone.exe\shell\open\command]
@="\"C:\\Gone\\gone.exe\" \"%1\""
[HKEY_CLASSES_ROOT\Delegate\shell\open\command]
@=""
"DelegateExecute"="{00000000-0000-0000-0000-000000000000}"
)REG",
      {"Program Files/Kept App/kept.exe", "WINDOWS/system32/rundll32.exe", "Tools/short.exe"});
  scanWith(m, "File Associations");
  EXPECT_THAT(
      of(m, "File Associations"),
      UnorderedElementsAre("(Default)=C:\\Program Files\\App\\app.exe",
                           "(Default)=C:\\Program Files\\App\\app.exe",
                           "(Default)=C:\\Program Files\\App\\app.exe",
                           "(Default)=C:\\WINDOWS\\gone.exe", "(Default)=C:\\Gone\\gone.exe"));
  for (const auto& r : m.problems()) {
    EXPECT_EQ(r.MainKeyName, "HKEY_CLASSES_ROOT");
    EXPECT_TRUE(r.FullKeyPath.ends_with("\\command") || r.FullKeyPath.ends_with("\\DefaultIcon"))
        << r.FullKeyPath;
  }
  // A bare program on the caller's PATH and an unknown variable cannot be tested: logged.
  EXPECT_NE(m.log().find("Cannot be tested: wordpad.exe"), std::string::npos);
  EXPECT_NE(m.log().find("Cannot be tested: %NOWHERE%"), std::string::npos);
}

TEST(ExtraSections, CommandCandidatesFollowCreateProcess) {
  EXPECT_THAT(commandCandidates("\"C:\\A B\\app.exe\" /x"), ElementsAre("C:\\A B\\app.exe"));
  EXPECT_THAT(commandCandidates("\"C:\\A B\\app\""),
              ElementsAre("C:\\A B\\app", "C:\\A B\\app.exe"));
  EXPECT_THAT(commandCandidates("C:\\Program Files\\A\\a.exe /S"),
              ElementsAre("C:\\Program", "C:\\Program.exe", "C:\\Program Files\\A\\a.exe",
                          "C:\\Program Files\\A\\a.exe /S"));
  EXPECT_THAT(commandCandidates("  "), IsEmpty());
  EXPECT_THAT(commandCandidates("\"C:\\unclosed"), ElementsAre("C:\\unclosed", "C:\\unclosed.exe"));
}

TEST(ExtraSections, ServicesResolveDriverPathsAsWindowsDoes) {
  ScanMachine m(std::string(kFolders) + R"REG(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\gonedrv]
"ImagePath"="\\SystemRoot\\System32\\drivers\\gonedrv.sys"
"Start"=dword:00000001
"Type"=dword:00000001
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\keptdrv]
"ImagePath"="system32\\drivers\\keptdrv.sys"
"Start"=dword:00000003
"Type"=dword:00000001
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\relgone]
"ImagePath"="System32\\DRIVERS\\relgone.sys"
"Type"=dword:00000001
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\dosdev]
"ImagePath"="\\??\\C:\\Vendor\\dosdev.sys"
"Type"=dword:00000001
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\disabled]
"ImagePath"="C:\\Vendor\\disabled.exe"
"Start"=dword:00000004
"Type"=dword:00000010
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\shared]
"ImagePath"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\
  74,00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,73,\
  00,76,00,63,00,68,00,6f,00,73,00,74,00,2e,00,65,00,78,00,65,00,20,00,2d,00,\
  6b,00,20,00,6e,00,65,00,74,00,73,00,76,00,63,00,73,00,00,00
"Type"=dword:00000020
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\vendor]
"ImagePath"="\"C:\\Program Files\\Vendor\\agent.exe\" -k run"
"Type"=dword:00000010
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\device]
"ImagePath"="\\Device\\Somewhere\\x.sys"
"Type"=dword:00000001
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\nopath]
"Type"=dword:00000001
)REG",
                {"WINDOWS/system32/drivers/keptdrv.sys", "WINDOWS/system32/svchost.exe"});
  scanWith(m, "Windows Services");
  EXPECT_THAT(of(m, "Windows Services"),
              ElementsAre("ImagePath=C:\\WINDOWS\\System32\\drivers\\gonedrv.sys",
                          "ImagePath=C:\\WINDOWS\\System32\\DRIVERS\\relgone.sys",
                          "ImagePath=C:\\Vendor\\dosdev.sys",
                          "ImagePath=C:\\Program Files\\Vendor\\agent.exe"));
  EXPECT_EQ(m.problems()[0].FullKeyPath, "SYSTEM\\CurrentControlSet\\Services\\gonedrv");
  EXPECT_NE(m.log().find("Cannot be tested: \\Device\\Somewhere\\x.sys"), std::string::npos);
}

TEST(ExtraSections, SoundsInstallFoldersAndInstallerFolders) {
  ScanMachine m(
      std::string(kFolders) + R"REG(
[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default\SystemAsterisk\.Current]
@="ding.wav"
[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default\SystemAsterisk\.Default]
@="C:\\Gone\\default.wav"
[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Game\Win\.Current]
@="C:\\Games\\Gone\\win.wav"
[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Game\Lose\.Current]
@=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,\
  00,5c,00,4d,00,65,00,64,00,69,00,61,00,5c,00,6c,00,6f,00,73,00,65,00,2e,00,\
  77,00,61,00,76,00,00,00
[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Game\Quiet\.Current]
@=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Gone]
"InstallLocation"="C:\\Program Files\\Gone\\"
"QuietUninstallString"="\"C:\\Program Files\\Gone\\unins000.exe\" /SILENT"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Kept]
"InstallLocation"="C:\\Program Files\\Kept"
"QuietUninstallString"="MsiExec.exe /X{00000000-0000-0000-0000-000000000001} /qn"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Empty]
"InstallLocation"=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Old32]
"InstallLocation"="C:\\Program Files (x86)\\Old32"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\PerUser]
"InstallLocation"="C:\\Users\\user\\AppData\\Local\\PerUser"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\Folders]
"C:\\Program Files\\Gone\\"=""
"C:\\Program Files\\Kept\\"=""
"C:\\Program Files\\Gone\\Data\\"=""
)REG",
      {"WINDOWS/Media/ding.wav", "Program Files/Kept/kept.exe", "WINDOWS/system32/msiexec.exe"});
  scanWith(m, "Sound Events,Uninstall Locations,Installer Folders");
  EXPECT_THAT(of(m, "Sound Events"), ElementsAre("(Default)=C:\\Games\\Gone\\win.wav",
                                                 "(Default)=C:\\WINDOWS\\Media\\lose.wav"));
  EXPECT_THAT(of(m, "Uninstall Locations"),
              ElementsAre("InstallLocation=C:\\Program Files\\Gone",
                          "QuietUninstallString=C:\\Program Files\\Gone\\unins000.exe",
                          "InstallLocation=C:\\Program Files (x86)\\Old32",
                          "InstallLocation=C:\\Users\\user\\AppData\\Local\\PerUser"));
  EXPECT_THAT(of(m, "Installer Folders"),
              ElementsAre("C:\\Program Files\\Gone\\=C:\\Program Files\\Gone\\",
                          "C:\\Program Files\\Gone\\Data\\=C:\\Program Files\\Gone\\Data\\"));
  for (const auto& r : m.problems()) {
    if (r.Section == "Sound Events") {
      EXPECT_EQ(r.MainKeyName, "HKEY_CURRENT_USER");
    }
  }
}

TEST(ExtraSections, UserClassesAndExpandedComServers) {
  ScanMachine m(std::string(kFolders) + R"REG(
[HKEY_CURRENT_USER\Software\Classes\CLSID\{A1}\InprocServer32]
@="C:\\Users\\user\\AppData\\Roaming\\Gone\\ext.dll"
[HKEY_CURRENT_USER\Software\Classes\CLSID\{A2}\InprocServer32]
@=hex(2):25,00,4c,00,4f,00,43,00,41,00,4c,00,41,00,50,00,50,00,44,00,41,00,54,\
  00,41,00,25,00,5c,00,67,00,6f,00,6e,00,65,00,2e,00,64,00,6c,00,6c,00,00,00
[HKEY_CURRENT_USER\Software\Classes\Gone.File\shell\open\command]
@="\"C:\\Users\\user\\AppData\\Local\\Gone\\gone.exe\" \"%1\""
[HKEY_CURRENT_USER\Volatile Environment]
"LOCALAPPDATA"="C:\\Users\\user\\AppData\\Local"
[HKEY_CLASSES_ROOT\CLSID\{B1}\InprocServer32]
@=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,\
  00,5c,00,7a,00,2e,00,64,00,6c,00,6c,00,00,00
[HKEY_CLASSES_ROOT\CLSID\{B2}\InprocServer32]
@=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,\
  00,5c,00,6b,00,2e,00,64,00,6c,00,6c,00,00,00
[HKEY_CLASSES_ROOT\CLSID\{B3}\LocalServer32]
@=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,6c,00,65,\
  00,73,00,25,00,5c,00,53,00,72,00,76,00,5c,00,73,00,72,00,76,00,2e,00,65,00,\
  78,00,65,00,20,00,2f,00,61,00,00,00
[HKEY_CLASSES_ROOT\CLSID\{B4}\InprocServer32]
@="C:\\Plain\\gone.dll"
)REG",
                {"WINDOWS/k.dll"});
  scanWith(m, "User Classes,Expanded COM Servers");
  EXPECT_THAT(of(m, "User Classes"),
              ElementsAre("(Default)=C:\\Users\\user\\AppData\\Roaming\\Gone\\ext.dll",
                          "(Default)=C:\\Users\\user\\AppData\\Local\\gone.dll",
                          "(Default)=C:\\Users\\user\\AppData\\Local\\Gone\\gone.exe"));
  for (const auto& r : m.problems()) {
    if (r.Section != "User Classes") continue;
    EXPECT_EQ(r.MainKey, "-2147483647");
    EXPECT_EQ(r.FullKeyPath.rfind("Software\\Classes\\", 0), 0u);
  }
  // Only the values stored with variables: the plain one is the fixed sections' business.
  EXPECT_THAT(
      of(m, "Expanded COM Servers"),
      ElementsAre("(Default)=C:\\WINDOWS\\z.dll", "(Default)=C:\\Program Files\\Srv\\srv.exe"));
}

TEST(ExtraSections, WowViewsAreScannedByDefaultAndTriedAsA32BitProgramSeesThem) {
  ScanMachine m(std::string(kFolders) + R"REG(
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"Tray32"="C:\\Gone32\\tray.exe"
"Kept32"="C:\\WINDOWS\\system32\\kept32.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Old]
"UninstallString"="C:\\Program Files (x86)\\Old\\uninst.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\App Paths\old.exe]
@="C:\\Program Files (x86)\\Old\\old.exe"
[HKEY_CLASSES_ROOT\Wow6432Node\CLSID\{C1}\InprocServer32]
@="C:\\WINDOWS\\system32\\only32.dll"
[HKEY_CLASSES_ROOT\Wow6432Node\CLSID\{C2}\InprocServer32]
@="C:\\WINDOWS\\system32\\gone32.dll"
[HKEY_CLASSES_ROOT\Wow6432Node\CLSID\{C3}\InprocServer32]
@="%ProgramFiles%\\Lib\\lib.dll"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDLLs]
"C:\\Program Files (x86)\\Old\\shared.dll"=dword:00000001
[HKEY_CURRENT_USER\Software\Classes\Local Settings\Software\Microsoft\Windows\Shell\MuiCache]
"LangID"=hex:09,04
"C:\\Gone\\app.exe.FriendlyAppName"="App"
"C:\\Gone\\app.exe.ApplicationCompany"="Vendor"
"C:\\WINDOWS\\system32\\kept32.exe.FriendlyAppName"="Kept"
"C:\\Gone\\seven.exe"="Seven"
"@C:\\WINDOWS\\system32\\shell32.dll,-100"="Name"
)REG",
                {"WINDOWS/SysWOW64/only32.dll", "WINDOWS/SysWOW64/kept32.exe",
                 "Program Files (x86)/Lib/lib.dll", "WINDOWS/system32/kept32.exe"});
  m.scan();
  EXPECT_THAT(
      m.summary(),
      ElementsAre("(Default)=C:\\WINDOWS\\system32\\gone32.dll@ActiveX \\ COM",
                  "(Default)=C:\\WINDOWS\\system32\\gone32.dll@ActiveX \\ COM Subsections",
                  "(Default)=C:\\Program Files (x86)\\Old\\old.exe@Application Paths",
                  "C:\\Gone\\app.exe.FriendlyAppName=C:\\Gone\\app.exe@Application Paths",
                  "C:\\Gone\\app.exe.ApplicationCompany=C:\\Gone\\app.exe@Application Paths",
                  "C:\\Gone\\seven.exe=C:\\Gone\\seven.exe@Application Paths",
                  "C:\\Program Files (x86)\\Old\\shared.dll=C:\\Program Files "
                  "(x86)\\Old\\shared.dll@Microsoft Shared",
                  "Tray32=C:\\Gone32\\tray.exe@Windows Startup",
                  "UninstallString=C:\\Program Files (x86)\\Old\\uninst.exe@Uninstall Section"));
  // Each record names the key it was found in, so the repair changes that view.
  EXPECT_EQ(m.problems()[0].FullKeyPath, "Wow6432Node\\CLSID\\{C2}\\InprocServer32");
  EXPECT_EQ(m.problems()[7].FullKeyPath,
            "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_EQ(m.problems()[3].FullKeyPath,
            "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache");
  EXPECT_FALSE(m.ctx->wow64View);
}

}  // namespace brisquell::test

namespace brisquell::test {

// Cancel reaches into an extra section's walk: what was found stays, the row keeps "Scanning".
TEST(ExtraSections, CancelStopsTheWalkAndLeavesTheRowScanning) {
  ScanMachine m(R"REG(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\First]
"ImagePath"="C:\\Gone\\first.exe"
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Second]
"ImagePath"="C:\\Gone\\second.exe"
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Third]
"ImagePath"="C:\\Gone\\third.exe"
)REG");
  struct CancelAt final : ScanObserver {
    ScanContext& ctx;
    explicit CancelAt(ScanContext& c) : ctx(c) {}
    void keyLabel(std::string_view k) override {
      if (k == "Second") ctx.bCancelScan = true;
    }
  } cancel(*m.ctx);
  m.ctx->setObserver(&cancel);
  m.ctx->sectionChoice = std::vector<std::string>{"Windows Services"};
  EXPECT_EQ(m.scan(), ScanOutcome::Cancelled);
  EXPECT_THAT(m.summary(), ElementsAre("ImagePath=C:\\Gone\\first.exe@Windows Services"));
  EXPECT_EQ(m.ctx->progress().back().status, "Scanning");
  EXPECT_EQ(m.ctx->progress().back().problems, "");
  m.ctx->setObserver(nullptr);
}

}  // namespace brisquell::test
