// Start-up and uninstall command lines tested as Windows starts them: the program as
// CreateProcess finds it, the files given to it as files, and what cannot be told logged.
#include "scan/CommandLines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScanTestSupport.h"
#include "support/Portable.h"
#if BRISQUELL_WINE_PREFIX
#include "platform/wine/WinePrefix.h"
#endif

namespace brisquell::test {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::vector<std::string> kFiles = {
    "Program Files/Inkwell 2/runtime-1.8/bin/inkupd.exe",
    "Program Files/Inkwell 2.10/inkwell-2.10.exe",
    "Program Files/Tallyman/tallyman.exe",
    "WINDOWS/system32/rundll32.exe",
    "WINDOWS/system32/shell32.dll",
    "WINDOWS/hh.exe",
    "WINDOWS/inkhook.dll",
    "Tools/bin/tool.exe",
    "Program Files/Inkwell Tools/inktools.exe",
};

}  // namespace

TEST(CommandLines, ProgramsAreFoundAsCreateProcessFindsThem) {
  ScanMachine m(R"REG(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"Path"="%SystemRoot%\\system32;%SystemRoot%;C:\\Tools\\bin;%NOSUCH%\\bin"
)REG",
                kFiles, "C=fixed,drive_c\nD=cdrom,drive_d,notready\n");
  ScanContext& ctx = *m.ctx;
  auto launch = [&](std::string_view line) {
    Status why;
    return LaunchCommandLine(ctx, line, why);
  };
  // Quoted: as quoted, ".exe" added when the name has no extension.
  EXPECT_EQ(launch("\"C:\\Program Files\\Inkwell 2.10\\inkwell-2.10.exe\" --tray"), Launch::Starts);
  EXPECT_EQ(launch("\"C:\\Program Files\\Tallyman\\tallyman\" -x"), Launch::Starts);
  EXPECT_EQ(launch("\"C:\\Program Files\\Tallyman\" tallyman.exe"), Launch::Fails)
      << "a folder is no program";
  // Unquoted: prefixes ending at blanks, shortest first.
  EXPECT_EQ(launch("C:\\Program Files\\Inkwell 2\\runtime-1.8\\bin\\inkupd.exe -auto"),
            Launch::Starts);
  EXPECT_EQ(launch("C:\\Program Files\\Inkwell 2\\runtime-1.8\\bin\\inkupd\t-auto"),
            Launch::Starts);
  EXPECT_EQ(launch("C:\\Tools\\gone.exe /s"), Launch::Fails);
  EXPECT_EQ(launch("C:\\a\\u.exe -f C:\\a\\u.log"), Launch::Fails);
  EXPECT_EQ(launch("C:\\Program Files\\Gone App\\gone.exe"), Launch::Fails);
  writeText(m.dir / "drive_c/Program.exe", "");
  EXPECT_EQ(launch("C:\\Program Files\\Gone App\\gone.exe"), Launch::Starts)
      << "C:\\Program.exe is found first, and started";
  // Bare names along the system folders and the search path.
  EXPECT_EQ(launch("rundll32.exe shell32.dll,Control_RunDLL inkwell.cpl"), Launch::Starts);
  EXPECT_EQ(launch("RUNDLL32 shell32.dll,Control_RunDLL"), Launch::Starts);
  EXPECT_EQ(launch("hh.exe -tray"), Launch::Starts);
  EXPECT_EQ(launch("tool /s"), Launch::Starts);
  EXPECT_EQ(launch("gone.exe /s"), Launch::Fails);
  EXPECT_EQ(launch("\"D:\\setup.exe\" /x"), Launch::Untestable);
  EXPECT_EQ(launch(""), Launch::Fails);

  EXPECT_TRUE(IsProgramPart(ctx, "\"C:\\A b\\x.exe\" /s", "C:\\A b\\x.exe"));
  EXPECT_TRUE(IsProgramPart(ctx, "MsiExec.exe /X{1}", "C:\\WINDOWS\\system32\\MsiExec.exe"));
  EXPECT_FALSE(IsProgramPart(ctx, "rundll32.exe x.dll,E", "C:\\WINDOWS\\system32\\x.dll"));
  EXPECT_FALSE(IsProgramPart(ctx, "C:\\a\\u.exe -f C:\\a\\u.log", "C:\\a\\u.log"));
}

TEST(CommandLines, StartupAndUninstallEntriesReportOnlyWhatCannotStart) {
  ScanMachine m(R"REG(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"Path"="%SystemRoot%\\system32;C:\\Tools\\bin"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"dotted"="C:\\Program Files\\Inkwell 2\\runtime-1.8\\bin\\inkupd.exe -auto"
"dottedGone"="C:\\Program Files\\Inkwell 2\\runtime-1.8\\bin\\gone.exe -auto"
"quoted"="\"C:\\Program Files\\Inkwell 2.10\\inkwell-2.10.exe\" --tray"
"quotedGone"="\"C:\\Program Files\\Inkwell 2.10\\inkwell-9.exe\" --tray"
"launcher"="rundll32.exe shell32.dll,Control_RunDLL inkwell.cpl"
"launcherDll"="rundll32.exe inkhook.dll,Start"
"launcherGone"="rundll32.exe gonehook.dll,Start"
"windows"="hh.exe -tray"
"onPath"="tool.exe -s"
"short"="C:\\PROGRA~1\\Tallyman\\tallyman.exe -update"
"shortGone"="C:\\PROGRA~1\\Tallyman\\tlyhelp.exe -update"
"notReady"="\"D:\\setup.exe\" /x"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Inkwell]
"UninstallString"="C:\\Program Files\\Inkwell 2\\runtime-1.8\\bin\\inkupd.exe -remove C:\\Program Files\\Inkwell 2\\gone.log"
"QuietUninstallString"="\"C:\\Program Files\\Inkwell 2.10\\inkwell-2.10.exe\" --uninstall --quiet"
"ModifyPath"="C:\\PROGRA~1\\INKWEL~1\\setup.exe /modify"
)REG",
                kFiles);
  m.scan();
  EXPECT_THAT(
      m.summary(),
      ElementsAre("dottedGone=C:\\Program Files\\Inkwell 2\\runtime-1.8\\bin\\gone.exe "
                  "-auto@Windows Startup",
                  "quotedGone=C:\\Program Files\\Inkwell 2.10\\inkwell-9.exe@Windows Startup",
                  "launcherGone=C:\\WINDOWS\\system32\\gonehook.dll@Windows Startup",
                  "shortGone=C:\\PROGRA~1\\Tallyman\\tlyhelp.exe@Windows Startup",
                  "UninstallString=C:\\Program Files\\Inkwell 2\\gone.log@Uninstall Section"));
  // D: is not ready, and two folders could own INKWEL~1: logged, never reported.
  EXPECT_THAT(m.log(), HasSubstr("Device unavailable"));
  EXPECT_THAT(m.log(), HasSubstr("CheckInstallSource"));
}

TEST(CommandLines, WinePrefixStartsProgramsByWinesShortNames) {
  BRISQUELL_SKIP_ON_WINDOWS("a Wine prefix is a Linux folder that only the Linux build opens");
#if BRISQUELL_WINE_PREFIX
  TempDir d;
  writeText(d / "system.reg", R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1702194095
"Tallyman"="C:\\PROG~FBU\\Tallyman\\tallyman.exe -update"
"Reminder"="C:\\PROG~FBU\\Tallyman\\remind.exe -update"
"Classic"="C:\\PROGRA~1\\Tallyman\\tallyman.exe -update"
)");
  writeText(d / "user.reg", "WINE REGISTRY Version 2\n");
  writeText(d / "userdef.reg", "WINE REGISTRY Version 2\n");
  writeText(d / "drive_c/Program Files/Tallyman/tallyman.exe", "");
  std::filesystem::create_directories(d / "drive_c/windows/system32");
  std::filesystem::create_directories(d / "dosdevices");
  std::filesystem::create_symlink("../drive_c", d / "dosdevices/c:");
  auto opened = WinePrefix::open(d.path());
  ASSERT_TRUE(opened) << opened.message();
  ScanContext ctx(*opened.value());
  runScan(ctx, ScanMode::Quick);
  std::vector<std::string> found;
  for (const auto& r : ctx.problems().rows())
    if (r.Section == "Windows Startup") found.push_back(r.KeyName + "=" + r.KeyValue);
  // Wine names "Program Files" PROG~FBU, never PROGRA~1.
  EXPECT_THAT(found, ElementsAre("Reminder=C:\\PROG~FBU\\Tallyman\\remind.exe",
                                 "Classic=C:\\PROGRA~1\\Tallyman\\tallyman.exe"));
#endif
}

}  // namespace brisquell::test
