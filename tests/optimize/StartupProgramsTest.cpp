// Log-on programs: listing, the first-listing flag, and Done's moves that never lose an entry.
#include <gtest/gtest.h>

#include "optimize/StartupPrograms.h"
#include "scan/ScanTestSupport.h"

namespace brisquell::test {

namespace {

constexpr std::string_view kRun = StartupPrograms::kRunKey;
constexpr std::string_view kStore = StartupPrograms::kStoreKey;

const char* kMachine = R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"nmagent"="nmagent.exe"
"Tray"="\"C:\\Program Files\\Nimbus\\nmtray.exe\" /background"
"Agent"="C:\\Tallyx\\agent.exe"
"Fast"="C:\\Vellum\\vlfast.exe,Init"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\OptionalComponents\IMAIL]
"Installed"="1"

[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Brisquell\Run]
"Old"="C:\\Old\\old.exe -q"
)";

struct Startup {
  ScanMachine m;
  StartupPrograms s;
  explicit Startup(const std::string& reg = kMachine) : m(reg), s(*m.ctx) { s.Form_Load(); }

  std::string value(KeyHandle root, std::string_view key, std::string_view name) {
    std::string text;
    return m.ctx->registry().QueryValue(root, key, name, text) ? text : "(none)";
  }
  std::string run(std::string_view name) { return value(hkey::LocalMachine, kRun, name); }
  std::string stored(std::string_view name) { return value(hkey::CurrentUser, kStore, name); }
  void check(std::string_view tag, bool on) {
    for (std::size_t i = 0; i < s.rows().size(); ++i)
      if (s.rows()[i].tag == tag) s.setChecked(i, on);
  }
  /// "tag|text|checked" per row.
  std::vector<std::string> rows() {
    std::vector<std::string> out;
    for (const auto& r : s.rows())
      out.push_back(r.tag + "|" + r.text + "|" + (r.checked ? "on" : "off"));
    return out;
  }
  void reload() { s.Form_Load(); }
};

}  // namespace

TEST(StartupListing, RowsFromRunKeyCheckedAndFromStoreUnchecked) {
  Startup t;
  EXPECT_EQ(t.rows(), (std::vector<std::string>{
                          "Tray|C:\\Program Files\\Nimbus\\nmtray.exe|on",
                          "Agent|C:\\Tallyx\\agent.exe|on",
                          "Fast|C:\\Vellum\\vlfast.exe|on",
                          "Old|C:\\Old\\old.exe -q|off",
                      }));
  EXPECT_EQ(t.s.rows()[0].command, "\"C:\\Program Files\\Nimbus\\nmtray.exe\" /background");
  EXPECT_TRUE(t.s.firstListingDone());
}

TEST(StartupListing, EntriesWithoutDrivePathAreNeitherListedNorTouched) {
  Startup t;
  for (std::size_t i = 0; i < t.s.rows().size(); ++i) t.s.setChecked(i, false);
  auto r = t.s.cmdDone_Click();
  EXPECT_EQ(r.switchedOff, 3u);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(t.run("nmagent"), "nmagent.exe");
  EXPECT_EQ(t.stored("nmagent"), "(none)");
  EXPECT_EQ(
      t.value(hkey::LocalMachine, std::string(kRun) + "\\OptionalComponents\\IMAIL", "Installed"),
      "1");
}

TEST(StartupListing, OwnValuesOfStartingKeyListedOnlyOnFirstWalk) {
  Startup t(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Top"="C:\\top.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\Sub]
"Below"="C:\\below.exe"
)");
  ASSERT_EQ(t.s.rows().size(), 2u);
  t.s.RegWindowsStartup(hkey::LocalMachine, kRun);  // flag set: only the subkey's values again
  ASSERT_EQ(t.s.rows().size(), 3u);
  EXPECT_EQ(t.s.rows()[2].tag, "Below");
}

TEST(StartupListing, CancelFlagStopsAfterFirstSubkey) {
  ScanMachine m(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Top"="C:\\top.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\A]
"A"="C:\\a.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\B]
"B"="C:\\b.exe"
)");
  m.ctx->bCancelScan = true;
  StartupPrograms s(*m.ctx);
  s.Form_Load();
  ASSERT_EQ(s.rows().size(), 2u);
  EXPECT_EQ(s.rows()[1].tag, "A");
}

TEST(StartupListing, LongCommandIsListedWholeAndLaterValuesStay) {
  std::string longPath = "C:\\" + std::string(300, 'x') + ".exe";
  std::string escaped = "C:\\\\" + std::string(300, 'x') + ".exe";
  Startup t(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Long"=")" + escaped +
            R"("
"After"="C:\\after.exe"
)");
  ASSERT_EQ(t.s.rows().size(), 2u);
  EXPECT_EQ(t.s.rows()[0].command, longPath);
  EXPECT_EQ(t.s.rows()[1].tag, "After");
}

TEST(StartupDone, SwitchedOffEntryMovesWithItsSwitchesAndComesBack) {
  Startup t;
  t.check("Tray", false);
  auto off = t.s.cmdDone_Click();
  EXPECT_EQ(off.switchedOff, 1u);
  EXPECT_EQ(t.run("Tray"), "(none)");
  EXPECT_EQ(t.stored("Tray"), "\"C:\\Program Files\\Nimbus\\nmtray.exe\" /background");

  t.reload();
  EXPECT_EQ(t.rows().back(), "Tray|C:\\Program Files\\Nimbus\\nmtray.exe|off");
  t.check("Tray", true);
  auto on = t.s.cmdDone_Click();
  EXPECT_EQ(on.switchedOn, 1u);
  EXPECT_EQ(t.run("Tray"), "\"C:\\Program Files\\Nimbus\\nmtray.exe\" /background");
  EXPECT_EQ(t.stored("Tray"), "(none)");
}

TEST(StartupDone, SeveralEntriesOffAndOnInOneDone) {
  Startup t(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"A"="C:\\a.exe /x"
"B"="C:\\b.exe"
"C"="C:\\c.exe,1"
[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Brisquell\Run]
"X"="C:\\x.exe"
"Y"="C:\\y.exe /y"
"Z"="C:\\z.exe"
)");
  for (const char* n : {"A", "B", "C"}) t.check(n, false);
  for (const char* n : {"X", "Y", "Z"}) t.check(n, true);
  auto r = t.s.cmdDone_Click();
  EXPECT_EQ(r.switchedOff, 3u);
  EXPECT_EQ(r.switchedOn, 3u);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(t.stored("A"), "C:\\a.exe /x");
  EXPECT_EQ(t.stored("C"), "C:\\c.exe,1");
  EXPECT_EQ(t.run("Y"), "C:\\y.exe /y");
  for (const char* n : {"A", "B", "C"}) EXPECT_EQ(t.run(n), "(none)") << n;
  for (const char* n : {"X", "Y", "Z"}) EXPECT_EQ(t.stored(n), "(none)") << n;
  t.reload();
  EXPECT_EQ(t.rows(),
            (std::vector<std::string>{"X|C:\\x.exe|on", "Y|C:\\y.exe|on", "Z|C:\\z.exe|on",
                                      "A|C:\\a.exe|off", "B|C:\\b.exe|off", "C|C:\\c.exe|off"}));
}

TEST(StartupDone, UncheckedStoredEntryAndCheckedRunEntryStayPut) {
  Startup t;
  auto r = t.s.cmdDone_Click();
  EXPECT_EQ(r.switchedOff + r.switchedOn, 0u);
  EXPECT_EQ(t.stored("Old"), "C:\\Old\\old.exe -q");
  EXPECT_EQ(t.run("Agent"), "C:\\Tallyx\\agent.exe");
}

TEST(StartupDone, NameTakenInStoreLeavesBothEntriesAlone) {
  Startup t(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Same"="C:\\new.exe"
[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Brisquell\Run]
"Same"="C:\\old.exe"
)");
  t.check("Same", false);  // both rows unchecked: the run entry must not overwrite the stored one
  auto r = t.s.cmdDone_Click();
  EXPECT_EQ(r.switchedOff, 0u);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_NE(r.failures[0].find("already holds a different entry"), std::string::npos);
  EXPECT_EQ(t.run("Same"), "C:\\new.exe");
  EXPECT_EQ(t.stored("Same"), "C:\\old.exe");
}

TEST(StartupDone, CommandWithOuterBlanksReturnsUnchanged) {
  Startup t(R"(
[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Brisquell\Run]
"Padded"="  C:\\padded.exe -a  "
)");
  t.check("Padded", true);
  auto r = t.s.cmdDone_Click();
  EXPECT_EQ(r.switchedOn, 1u);
  EXPECT_EQ(t.run("Padded"), "  C:\\padded.exe -a  ");
}

TEST(StartupDone, VanishedEntryIsReportedAndNothingIsWritten) {
  Startup t;
  t.m.ctx->registry().DeleteValue(hkey::LocalMachine, kRun, "Agent");
  t.check("Agent", false);
  auto r = t.s.cmdDone_Click();
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_EQ(t.stored("Agent"), "(none)");
}

TEST(StartupDone, CloseWithoutDoneChangesNothing) {
  Startup t;
  t.check("Tray", false);
  t.check("Old", true);
  EXPECT_FALSE(t.m.machine->registry().modified());
}

TEST(StartupRegCreateKeyValue, NumbersAsDwordTextTrimmedAndKeyCreated) {
  Startup t("");
  EXPECT_TRUE(t.s.RegCreateKeyValue(hkey::LocalMachine, "SOFTWARE\\New\\Key", "n", "42"));
  EXPECT_TRUE(
      t.s.RegCreateKeyValue(hkey::LocalMachine, "SOFTWARE\\New\\Key", "s", "  C:\\a.exe  "));
  RegistryStore& store = t.m.machine->registry();
  KeyHandle h = 0;
  ASSERT_EQ(store.openKey(hkey::LocalMachine, "SOFTWARE\\New\\Key", keyaccess::AllAccess, h),
            Status::Success);
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(store.queryValue(h, "n", type, data), Status::Success);
  EXPECT_EQ(type, regtype::Dword);
  EXPECT_EQ(data, (Bytes{42, 0, 0, 0}));
  ASSERT_EQ(store.queryValue(h, "s", type, data), Status::Success);
  EXPECT_EQ(type, regtype::Sz);
  std::string s = "C:\\a.exe";
  EXPECT_EQ(data, Bytes(s.c_str(), s.c_str() + s.size() + 1));
  store.closeKey(h);
  EXPECT_FALSE(
      t.s.RegCreateKeyValue(hkey::LocalMachine, "SOFTWARE\\New\\Key", "big", "99999999999"));
  EXPECT_NE(t.m.log().find("RegCreateKeyValue of frmBootingSpeed"), std::string::npos);
}

}  // namespace brisquell::test
