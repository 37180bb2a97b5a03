// A value or shortcut listed by more than one row is removed only when every one of its rows
// is ticked; otherwise it stays, its ticked rows count as kept and nothing of it is backed up.
#include <gtest/gtest.h>

#include "repair/Repair.h"
#include "repair/cInifile.h"
#include "scan/ScanDriver.h"
#include "support/ScriptedInterface.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

constexpr const char* kServerKey = "CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32";

std::string registryBody() {
  return "[HKEY_CLASSES_ROOT\\CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32]\r\n"
         "@=\"C:\\\\Missing\\\\gone.dll\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
         "\"Broken\"=\"C:\\\\Missing\\\\run.exe\"\r\n\r\n";
}

struct RepairRun {
  RepairResult result;
  std::vector<ProblemRecord> rows;
  test::ScriptedInterface ui;
  bool serverStays = false, runStays = false;
};

// Scans, unticks the rows `untick` picks, repairs, and looks at what is left on disk.
void repairWith(const std::string& folder, const std::function<bool(const ProblemRecord&)>& untick,
                RepairRun& run) {
  auto opened = openTarget(folder);
  ASSERT_TRUE(opened) << opened.message();
  auto t = std::move(opened).value();
  ScanContext ctx(*t);
  runScan(ctx, ScanMode::Quick);
  for (auto& r : ctx.problems().rows()) r.checked = !untick(r);
  Repair repair(ctx, run.ui);
  repair.setTakeBackup(true);
  run.result = repair.cmdRepairCorruptFiles_Click();
  run.rows = ctx.problems().rows();
  auto again = std::move(openTarget(folder)).value();
  ScanContext after(*again);
  std::string v;
  run.serverStays =
      after.registry().QueryValue(hkey::LocalMachine,
                                  std::string("SOFTWARE\\Classes\\") + kServerKey, "", v) &&
      v == "C:\\Missing\\gone.dll";
  run.runStays = after.registry().QueryValue(
      hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Broken", v);
}

bool isServer(const ProblemRecord& r) { return r.KeyValue == "C:\\Missing\\gone.dll"; }

TEST(ListedTwice, AValueStaysUnlessEveryRowOfItIsTicked) {
  test::TempDir dir;
  test::makeMachine(dir / "m", registryBody());
  test::writeText(dir / "m/drive_c/Program Files/Brisquell/Backup/.keep", "");

  // Both sections list the server: once through HKCR, once through HKLM\SOFTWARE\Classes.
  {
    RepairRun run;
    repairWith(
        dir / "m", [](const ProblemRecord&) { return false; }, run);
    std::size_t listed = 0;
    for (const auto& r : run.rows) listed += isServer(r);
    ASSERT_EQ(listed, 2u);
  }

  // Unticking one of the two rows keeps the value; the other row counts as kept, not fixed.
  for (int which : {0, 1}) {
    SCOPED_TRACE(which);
    test::makeMachine(dir / "m", registryBody());
    RepairRun run;
    int seen = 0;
    repairWith(
        dir / "m", [&](const ProblemRecord& r) { return isServer(r) && seen++ == which; }, run);
    EXPECT_TRUE(run.serverStays);
    EXPECT_FALSE(run.runStays);
    EXPECT_EQ(run.result.outcome, RepairResult::Outcome::Done);
    EXPECT_EQ(run.result.found, 3u);
    EXPECT_EQ(run.result.fixed, 1u);
    EXPECT_EQ(run.result.kept, 1u);
    EXPECT_TRUE(run.result.failures.empty());
    EXPECT_EQ(run.ui.informed.back(), Repair::endMessage(3, 1, 1));
    EXPECT_NE(run.ui.informed.back().find("Problems kept: 1"), std::string::npos);
    // The kept row is not in the backup: a restore must not write back what was never removed.
    auto t = std::move(openTarget(dir / "m")).value();
    cInifile ini(t->files());
    ini.setPath(run.result.backupFile);
    ProblemList list;
    std::vector<BackupSet::Original> originals;
    BackupSet::readRecords(ini, list, originals);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].KeyName, "Broken");
  }

  // Both rows unticked: nothing of it is touched, and nothing is counted as kept.
  test::makeMachine(dir / "m", registryBody());
  RepairRun run;
  repairWith(dir / "m", isServer, run);
  EXPECT_TRUE(run.serverStays);
  EXPECT_EQ(run.result.fixed, 1u);
  EXPECT_EQ(run.result.kept, 0u);
  EXPECT_EQ(run.ui.informed.back(), Repair::endMessage(3, 1));
  EXPECT_EQ(Repair::endMessage(3, 1).find("kept"), std::string::npos);
}

}  // namespace
}  // namespace brisquell
