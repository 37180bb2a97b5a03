// Each section's checks over small machines: what is reported, with which fields, and what not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScanTestSupport.h"
#include "scan/Checks.h"

namespace brisquell::test {

using ::testing::ElementsAre;

TEST(SectionChecks, ComRegistrations) {
  ScanMachine m(R"REG(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]
"ProgramFilesDir"="C:\\Program Files "
"CommonFilesDir"="C:\\Program Files\\Common Files"

[HKEY_CLASSES_ROOT\CLSID\{11}\InprocServer32]
@="C:\\WINDOWS\\system32\\gone.dll"
"ThreadingModel"="Apartment"
[HKEY_CLASSES_ROOT\CLSID\{12}\InprocServer32]
@="mscoree.dll"
[HKEY_CLASSES_ROOT\CLSID\{13}\LocalServer32]
@="C:\\nowhere\\app.exe"
[HKEY_CLASSES_ROOT\CLSID\{14}\DefaultIcon]
@="C:\\x\\y.dll,1"
[HKEY_CLASSES_ROOT\CLSID\{15}\InprocServer32]
@="\"C:\\Program Files\\x\\y.ocx\""
[HKEY_CLASSES_ROOT\CLSID\{16}\InprocServer32]
@="%SystemRoot%\\System32\\z.dll"
[HKEY_CLASSES_ROOT\CLSID\{17}\InprocServer32]
@=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,\
  00,5c,00,7a,00,2e,00,64,00,6c,00,6c,00,00,00
[HKEY_CLASSES_ROOT\CLSID\{18}\InprocServer32]
@="%ProgramFiles%\\App\\a.dll"
[HKEY_CLASSES_ROOT\CLSID\{19}\InprocServer32]
@="%Sysroot%\\whatever.dll"
[HKEY_CLASSES_ROOT\CLSID\{20}\InprocServer32]
@="C:\\WINDOWS\\SYSTEM32\\Present.DLL"
[HKEY_CLASSES_ROOT\CLSID\{21}\InprocServer32]
@="D:\\cdrom\\x.dll"
)REG",
                {"WINDOWS/system32/present.dll", "Program Files/Common Files/keep.txt"});
  m.ctx->sections();
  m.scan();
  std::vector<std::string> com;
  for (const auto& r : m.problems())
    if (r.Section == "ActiveX \\ COM") com.push_back(r.KeyName + "=" + r.KeyValue);
  EXPECT_THAT(com, ElementsAre("(Default)=C:\\WINDOWS\\system32\\gone.dll",
                               "(Default)=C:\\WINDOWS\\system32\\mscoree.dll",
                               "(Default)=C:\\Program Files\\x\\y.ocx",
                               "(Default)=C:\\WINDOWS\\System32\\z.dll",
                               "(Default)=C:\\Program Files\\App\\a.dll"));
  const ProblemRecord& first = m.problems()[0];
  EXPECT_EQ(first.MainKey, "-2147483648");
  EXPECT_EQ(first.FullKeyPath, "CLSID\\{11}\\InprocServer32");
  EXPECT_EQ(first.MainKeyName, "HKEY_CLASSES_ROOT");
  // The same registrations seen below hkey::LocalMachine form their own section.
  std::size_t sub = 0;
  for (const auto& r : m.problems())
    if (r.Section == "ActiveX \\ COM Subsections") {
      ++sub;
      EXPECT_EQ(r.MainKey, "-2147483646");
      EXPECT_EQ(r.FullKeyPath.rfind("SOFTWARE\\Classes\\CLSID\\", 0), 0u);
    }
  EXPECT_EQ(sub, 5u);
  // The CD-ROM drive is not ready: its reference cannot be tested, is logged and not reported.
  EXPECT_NE(m.log().find("Device unavailable\r\n"), std::string::npos);
  EXPECT_NE(m.log().find("CheckRegistryActiveXComponent\r\n"), std::string::npos);
}

// The text a check is given is the value's text up to its first
// 43,00,3a,00,5c,00,78,00,5c,00,61,00,2e,00,64,00,6c,00,6c,00,00,00,43,00,3a,00,5c,00,6a,00,75,00,6e,00,6b,00,2e,00,64,00,6c,00,6c,00,
// read from the stored bytes: other letters than ASCII, lists, embedded
// 43,00,3a,00,5c,00,78,00,5c,00,61,00,2e,00,64,00,6c,00,6c,00,00,00,43,00,3a,00,5c,00,6a,00,75,00,6e,00,6b,00,2e,00,64,00,6c,00,6c,00s
// and odd lengths, and a long value followed by a short one in the walk's reused buffer. The COM
// check's refusals (class names, no file name, other kinds of file) stay refusals, and the 16-bit
// servers are still tested.
TEST(SectionChecks, ValueTextAsTheWalksReadIt) {
  ScanMachine m(R"REG(
[HKEY_CLASSES_ROOT\CLSID\{31}\InprocServer32]
@="C:\\Programme\\Größe\\g.dll"
[HKEY_CLASSES_ROOT\CLSID\{32}\InprocServer32]
@=hex(7):43,00,3a,00,5c,00,57,00,49,00,4e,00,44,00,4f,00,57,00,53,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,66,00,69,00,72,00,73,00,74,00,2e,00,64,00,6c,00,6c,00,00,00,43,00,3a,00,5c,00,73,00,65,00,63,00,6f,00,6e,00,64,00,2e,00,64,00,6c,00,6c,00,00,00,00,00
[HKEY_CLASSES_ROOT\CLSID\{33}\InprocServer32]
@=hex(1):43,00,3a,00,5c,00,78,00,5c,00,61,00,2e,00,64,00,6c,00,6c,00,00,00,43,00,3a,00,5c,00,6a,00,75,00,6e,00,6b,00,2e,00,64,00,6c,00,6c,00
[HKEY_CLASSES_ROOT\CLSID\{34}\InprocServer32]
@=hex(1):43,00,3a,00,5c,00,79,00,5c,00,62,00,2e,00,64,00,6c,00,6c,00,41
[HKEY_CLASSES_ROOT\CLSID\{35}]
"a"="C:\\a very long folder name of many letters\\and another one\\long.dll"
"b"="C:\\s\\short.ocx"
"c"="Apartment"
"d"="C:\\x\\readme.txt"
"e"="   \"C:\\q\\Quoted.DLL\"  "
[HKEY_CLASSES_ROOT\CLSID\{36}\ProgID]
@="C:\\x\\named.dll"
[HKEY_CLASSES_ROOT\CLSID\{37}\InprocServer]
@="gone16.dll"
[HKEY_CLASSES_ROOT\CLSID\{38}\versionindependentprogid]
@="C:\\x\\named.dll"
[HKEY_CLASSES_ROOT\CLSID\{39}\INPROCSERVERS]
@="C:\\x\\notsixteen.dll"
)REG",
                {"WINDOWS/system32/first.dll"});
  m.scan();
  std::vector<std::string> com;
  for (const auto& r : m.problems())
    if (r.Section == "ActiveX \\ COM") com.push_back(r.KeyName + "=" + r.KeyValue);
  EXPECT_THAT(com, ElementsAre("(Default)=C:\\Programme\\Größe\\g.dll", "(Default)=C:\\x\\a.dll",
                               "(Default)=C:\\y\\b.dll",
                               "a=C:\\a very long folder name of many letters\\and another "
                               "one\\long.dll",
                               "b=C:\\s\\short.ocx", "e=C:\\q\\Quoted.DLL",
                               "(Default)=C:\\WINDOWS\\system32\\gone16.dll",
                               "(Default)=C:\\x\\notsixteen.dll"));
}

TEST(SectionChecks, EmptyKeysAndLongValues) {
  std::string longPath = "C:\\" + std::string(300, 'p') + "\\gone.dll";
  std::string escaped;
  for (char c : longPath) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  ScanMachine m(R"REG(
[HKEY_CLASSES_ROOT\TypeLib\{A}\1.0\HELPDIR]
[HKEY_CLASSES_ROOT\TypeLib\{B}\1.0\HELPDIR]
@="C:\\nonexistent"
[HKEY_CLASSES_ROOT\TypeLib\{C}\1.0\HELPDIR]
"Long"=")REG" + std::string(400, 'x') +
                R"REG("
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.xyz\OpenWithList]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.abc\OpenWithList]
"a"="gone.exe"
[HKEY_CLASSES_ROOT\CLSID\{L}\InprocServer32]
@=")REG" + escaped +
                R"REG("
)REG");
  m.scan();
  EXPECT_THAT(
      m.summary(),
      ElementsAre("(Default)=(value not set)@Registry Integrity",
                  "(Default)=" + longPath + "@ActiveX \\ COM",
                  "(Default)=" + longPath + "@ActiveX \\ COM Subsections",
                  "(Default)=Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
                  "xyz\\OpenWithList@File Extensions"));
  EXPECT_EQ(m.problems()[0].FullKeyPath, "TypeLib\\{A}\\1.0\\HELPDIR");
  EXPECT_EQ(m.problems()[3].MainKey, "-2147483647");
}

TEST(SectionChecks, PathSections) {
  ScanMachine m(R"REG(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\app.exe]
@="C:\\Program Files\\App\\app.exe"
"Path"="C:\\Program Files\\App;C:\\x"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\ok.exe]
@="\"C:\\Program Files\\Ok\\OK.EXE\""
[HKEY_CURRENT_USER\Software\Microsoft\Windows\ShellNoRoam\MUICache]
"C:\\Tools\\gone.exe"="Gone Tool"
"@shell32.dll,-1234"="x"
"LangID"=hex:09,04
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"Arial (TrueType)"="ARIAL.TTF"
"Gone (TrueType)"="gone.ttf"
"Serife"="SERIFE.FON"
"Mine"="C:\\MyFonts\\x.ttf"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Fonts]
"Old"="old.ttf"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
"app.hlp"="C:\\App"
"ok.hlp"="C:\\App\\"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\HTML Help]
"gone.chm"="C:\\App\\"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\Tool]
"Path"="\"C:\\Program Files\\Common Files\\Tool\\tool.dll\""
"Other"="\"C:\\Program Files\\Common Files\\Tool\\tool2.dll"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
"C:\\Program Files\\Common Files\\x\\y.dll"=dword:00000001
"C:\\Program Files\\Common Files\\x\\page.html"=dword:00000001
"comctl32.dll"=dword:00000002
"gone32.dll"=dword:00000002
"*.dll"=dword:00000001
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\VirtualDeviceDrivers]
"VDD"=hex(7):76,00,64,00,64,00,2e,00,64,00,6c,00,6c,00,00,00,78,00,2e,00,64,00,6c,00,6c,00,00,00,00,00
"Net"="\\\\server\\share\\v.dll"
)REG",
                {"Program Files/Ok/ok.exe", "WINDOWS/Fonts/arial.ttf", "App/ok.hlp",
                 "WINDOWS/system32/comctl32.dll"});
  m.scan();
  EXPECT_THAT(
      m.summary(),
      ElementsAre("(Default)=C:\\Program Files\\App\\app.exe@Application Paths",
                  "C:\\Tools\\gone.exe=C:\\Tools\\gone.exe@Application Paths",
                  "Gone (TrueType)=C:\\WINDOWS\\Fonts\\gone.ttf@Windows Fonts",
                  "Mine=C:\\MyFonts\\x.ttf@Windows Fonts", "app.hlp=C:\\App\\app.hlp@Help Files",
                  "gone.chm=C:\\App\\gone.chm@Help Files",
                  "Other=C:\\Program Files\\Common Files\\Tool\\tool2.dll@Microsoft Shared",
                  "C:\\Program Files\\Common Files\\x\\y.dll=C:\\Program Files\\Common "
                  "Files\\x\\y.dll@Microsoft Shared",
                  "gone32.dll=C:\\WINDOWS\\system32\\gone32.dll@Microsoft Shared",
                  "VDD=C:\\WINDOWS\\system32\\vdd.dll@VxD Section"));
}

TEST(SectionChecks, UninstallAndStartup) {
  ScanMachine m(
      R"REG(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Msi]
"UninstallString"="MsiExec.exe /I{11111111-2222-3333-4444-555555555555}"
"DisplayName"="C:\\nothing\\here.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Inno]
"UninstallString"="\"C:\\Program Files\\App\\unins000.exe\" /SILENT"
"DisplayIcon"="C:\\Program Files\\App\\app.exe,0"
"InstallSource"="http://example.invalid/setup.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Two]
"UninstallString"="C:\\PROGRA~1\\App\\uninst.exe -f C:\\PROGRA~1\\App\\install.log"
"DisplayIcon"="shell32.dll,5"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Dotted]
"UninstallString"="C:\\App.d\\uninst.exe -f"
"QuietUninstallString"="rundll32.exe C:\\Q\\q.dll,Uninstall"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"ctfmon"="C:\\WINDOWS\\system32\\ctfmon.exe"
"long"="tool.html"
"gone"="C:\\WINDOWS\\system32\\gone.exe /background"
[HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"user"="rundll32.exe shell32.dll,Control_RunDLL"
)REG",
      {"WINDOWS/system32/msiexec.exe", "Program Files/App/app.exe", "WINDOWS/system32/ctfmon.exe",
       "WINDOWS/system32/shell32.dll", "WINDOWS/system32/rundll32.exe"});
  m.scan();
  EXPECT_THAT(m.summary(),
              ElementsAre("gone=C:\\WINDOWS\\system32\\gone.exe@Windows Startup",
                          "UninstallString=C:\\Program Files\\App\\unins000.exe@Uninstall Section",
                          "UninstallString=C:\\PROGRA~1\\App\\uninst.exe@Uninstall Section",
                          "UninstallString=C:\\PROGRA~1\\App\\install.log@Uninstall Section",
                          "UninstallString=C:\\App.d\\uninst.exe -f@Uninstall Section",
                          "QuietUninstallString=C:\\Q\\q.dll@Uninstall Section"));
}

// Empty folders in machine.ini leave relative paths with nothing to stand on, and short values
// leave the cutting rules little to cut: every check must end cleanly, whatever it is given.
TEST(SectionChecks, ShortValuesWithEmptyFolders) {
  TempDir dir;
  makeMachine(
      dir.path(),
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help]\n@=\"C\"\n\"a.hlp\"=\"C\"\n",
      "[Machine]\nInstallFolder=\nWindowsDirectory=\nSystemDirectory=\n[Drives]\nC=fixed,drive_"
      "c\n");
  auto machine = MachineFolder::open(dir.path());
  ASSERT_TRUE(machine) << machine.message();
  ScanContext ctx(**machine);
  EXPECT_EQ(runScan(ctx, ScanMode::Deep), ScanOutcome::Finished);
  EXPECT_TRUE(ctx.problems().empty()) << "what cannot be tested is logged, never reported";

  const char* sections[] = {"Registry Integrity", "ActiveX \\ COM",  "File Extensions",
                            "Application Paths",  "Windows Fonts",   "Help Files",
                            "Microsoft Shared",   "Windows Startup", "Uninstall Section",
                            "VxD Section"};
  const char* texts[] = {"",
                         "C",
                         "C:",
                         ":",
                         ":\\",
                         "\\",
                         ".",
                         "C.",
                         ".dll",
                         "a.b.c",
                         "C:\\",
                         "x:\\.",
                         " ",
                         "\"",
                         "-",
                         "%Systemroot%",
                         "%ProgramFiles%",
                         "%commonprogramfiles%",
                         "a b",
                         "C:\\a.exe C:\\",
                         ":\\a.dll:\\b.dll"};
  const char* names[] = {"", "C", "UninstallString", "QuietUninstallString", "InstallSource"};
  for (const char* section : sections)
    for (const char* text : texts)
      for (const char* name : names) {
        SCOPED_TRACE(std::string(section) + " / \"" + text + "\" / \"" + name + "\"");
        EXPECT_NO_THROW(CheckPathExistinDirectory(ctx, text, section, name, hkey::LocalMachine,
                                                  "HKEY_LOCAL_MACHINE", "SOFTWARE\\X"));
      }
}

}  // namespace brisquell::test
