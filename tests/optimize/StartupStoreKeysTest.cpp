// The startup manager moves only the run key's own values and the store's own values, and the
// run-at-start-up entry names a program the target's Windows can start.
#include <gtest/gtest.h>

#include "optimize/StartupPrograms.h"
#include "scan/ScanTestSupport.h"
#include "shell/StoredOptions.h"

namespace brisquell::test {

namespace {

constexpr std::string_view kRun = StartupPrograms::kRunKey;
constexpr std::string_view kStore = StartupPrograms::kStoreKey;

const char* kMachine = R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Agent"="C:\\Tallyx\\agent.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\Extras]
"Helper"="C:\\Tallyx\\helper.exe"

[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Brisquell\Run]
"Old"="C:\\Old\\old.exe -q"

[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Brisquell\Window]
"Layout"="C:\\Layouts\\wide.dat"
)";

std::string value(ScanMachine& m, KeyHandle root, std::string_view key, std::string_view name) {
  std::string text;
  return m.ctx->registry().QueryValue(root, key, name, text) ? text : "(none)";
}

// A target that says it is the Windows this program runs on.
class RunningSystem final : public Target {
 public:
  explicit RunningSystem(Target& t) : t_(t) {}
  std::string kind() const override { return "this computer"; }
  std::string location() const override { return t_.location(); }
  RegistryStore& registry() override { return t_.registry(); }
  FileSystem& files() override { return t_.files(); }
  ShortcutReader& shortcuts() override { return t_.shortcuts(); }
  const MachineInfo& machine() const override { return t_.machine(); }
  Outcome save() override { return t_.save(); }
  Outcome reload() override { return t_.reload(); }
  bool isRunningSystem() const override { return true; }

 private:
  Target& t_;
};

}  // namespace

TEST(StartupStoreKeys, OnlyTheStoresOwnValuesComeBackAndOnlyTheRunKeysOwnGoOff) {
  ScanMachine m(kMachine);
  StartupPrograms s(*m.ctx);
  s.Form_Load();
  std::vector<std::string> tags;
  for (const auto& r : s.rows()) tags.push_back(r.tag + (r.checked ? "+" : "-"));
  ASSERT_EQ(tags, (std::vector<std::string>{"Agent+", "Helper+", "Old-", "Layout-"}));
  // Tick every stored row and untick every run row.
  for (std::size_t i = 0; i < s.rows().size(); ++i) s.setChecked(i, !s.rows()[i].checked);
  StartupDoneResult r = s.cmdDone_Click();
  EXPECT_EQ(r.switchedOff, 1u);
  EXPECT_EQ(r.switchedOn, 1u);
  EXPECT_EQ(value(m, hkey::LocalMachine, kRun, "Old"), "C:\\Old\\old.exe -q");
  EXPECT_EQ(value(m, hkey::CurrentUser, kStore, "Agent"), "C:\\Tallyx\\agent.exe");
  // The program's own stored window setting never becomes a log-on program.
  EXPECT_EQ(value(m, hkey::LocalMachine, kRun, "Layout"), "(none)");
  EXPECT_EQ(value(m, hkey::CurrentUser, std::string(StartupPrograms::kStoreParent) + "\\Window",
                  "Layout"),
            "C:\\Layouts\\wide.dat");
  // A value of a key below the run key is not moved into the store.
  EXPECT_EQ(value(m, hkey::LocalMachine, std::string(kRun) + "\\Extras", "Helper"),
            "C:\\Tallyx\\helper.exe");
  EXPECT_EQ(value(m, hkey::CurrentUser, kStore, "Helper"), "(none)");
  ASSERT_EQ(r.failures.size(), 2u);
  EXPECT_NE(r.failures[0].find("Helper stays where it is"), std::string::npos);
  EXPECT_NE(r.failures[1].find("Layout stays where it is"), std::string::npos);
  EXPECT_NE(r.failures[1].find("Brisquell\\Window"), std::string::npos);
}

TEST(RunAtStartup, AFileTargetGetsTheInstallFoldersProgramAndTheManagerListsIt) {
  ScanMachine m(kMachine);
  const std::string host = "/usr/lib/brisquell/brisquell-gui";
  const std::string program = runAtStartupProgram(*m.machine, host);
  EXPECT_EQ(program, m.machine->machine().installFolder + "\\Brisquell.exe");
  ASSERT_TRUE(setRunAtStartup(m.ctx->registry(), true, program));
  EXPECT_EQ(value(m, hkey::LocalMachine, kRun, "Brisquell"),
            "\"" + m.machine->machine().installFolder + "\\Brisquell.exe\" -Quick");
  StartupPrograms s(*m.ctx);
  s.Form_Load();
  bool listed = false;
  for (const auto& r : s.rows()) listed |= r.tag == "Brisquell" && r.checked;
  EXPECT_TRUE(listed);

  // On the running Windows the entry starts this very program.
  RunningSystem self(*m.machine);
  EXPECT_EQ(runAtStartupProgram(self, "C:\\Tools\\Brisquell\\brisquell-gui.exe"),
            "C:\\Tools\\Brisquell\\brisquell-gui.exe");
}

TEST(RunAtStartup, AnInstallFolderAtADrivesRootGetsOneBackslash) {
  TempDir dir;
  makeMachine(dir.path(), "",
              "[Machine]\nPlatform=2\nInstallFolder=D:\\\n[Drives]\nC=fixed,drive_c\n");
  auto opened = openTarget(dir.path());
  ASSERT_TRUE(opened) << opened.message();
  EXPECT_EQ(runAtStartupProgram(*opened.value(), "/x/brisquell-gui"), "D:\\Brisquell.exe");
}

TEST(RunAtStartup, TheCommandLineWritesTheSameEntryAsTheWindow) {
  TempDir dir;
  makeMachine(dir.path(), "");
  RunResult r = runCli({"--target", dir.path(), "settings", "set", "chkRunAtStartup", "True"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto t = std::move(openTarget(dir.path())).value();
  ScanContext ctx(*t);
  std::string run;
  ASSERT_TRUE(
      ctx.registry().QueryValue(hkey::LocalMachine, StartupPrograms::kRunKey, "Brisquell", run));
  EXPECT_EQ(run, "\"" + t->machine().installFolder + "\\Brisquell.exe\" -Quick");
}

}  // namespace brisquell::test
