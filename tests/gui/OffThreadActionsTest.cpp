// The repair, the restore, a backup set's deletion and the start-up's settings reset, with their
// long steps off the window thread: the order of backup and changes, the messages, a failing
// repair, and a close asked meanwhile.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gui/DesktopProgram.h"
#include "gui/GuiSupport.h"
#include "gui/frmMain.h"
#include "gui/frmRestore.h"
#include "platform/LockFile.h"
#include "repair/Repair.h"
#include "repair/Restore.h"
#include "scan/KnownKeys.h"
#include "scan/ScanDriver.h"
#include "support/GatedTarget.h"
#include "support/ScriptedInterface.h"

using namespace brisquell;
using brisquell::gui::frmMain;
using brisquell::test::ScriptedInterface;
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCloseQuestion = "Are you sure want to close this application?";

struct Machine {
  QTemporaryDir dir;
  std::string folder, backups;
  std::unique_ptr<Target> target;
  Machine() {
    folder = dir.path().toStdString() + "/machine";
    fs::copy(BRISQUELL_SOURCE_DIR "/examples/demo-machine", folder, fs::copy_options::recursive);
    backups = folder + "/drive_c/Program Files/Brisquell/Backup";
    fs::create_directories(backups);
    target = fresh();
  }
  std::unique_ptr<Target> fresh() const {
    auto opened = openTarget(folder);
    if (!opened) qFatal("cannot open the demo machine: %s", opened.message().c_str());
    return std::move(opened).value();
  }
  // Problems a quick scan finds in the machine as it is on disk now.
  std::size_t problemsOnDisk() const {
    auto t = fresh();
    ScanContext ctx(*t);
    runScan(ctx, ScanMode::Quick);
    return ctx.problems().size();
  }
  std::vector<fs::path> backupFiles() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(backups))
      if (e.path().extension() == ".bkp") out.push_back(e.path());
    return out;
  }
};

std::unique_ptr<frmMain> window(Machine& m, UserInterface& ui) {
  auto w = std::make_unique<frmMain>(*m.target, ui, std::vector<std::string>{}, "1.25");
  w->endProcess = [] {};
  w->show();
  return w;
}

// Runs each step as the window would, counting the loop's turns meanwhile and noting the step's
// thread; `before(n)` runs on the window thread before step n (from 1), `slow` is added to each.
struct Steps {
  int count = 0, beats = 0;
  bool onWindowThread = false;
  std::function<void(int)> before;
  std::chrono::milliseconds slow{30};
  void install(frmMain& w) {
    w.runStep = [this](const std::function<void()>& step) {
      ++count;
      if (before) before(count);
      QTimer beat;
      beat.setInterval(2);
      QObject::connect(&beat, &QTimer::timeout, [this] { ++beats; });
      beat.start();
      const auto window = std::this_thread::get_id();
      gui::runStepOffWindowThread([&] {
        if (std::this_thread::get_id() == window) onWindowThread = true;
        std::this_thread::sleep_for(slow);
        step();
      });
    };
  }
};

bool has(const std::vector<std::string>& v, std::string_view s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

class OffThreadActionsTest : public QObject {
  Q_OBJECT
 private slots:
  void fixWritesTheBackupSetBeforeAnyChange();
  void failingRepairIsShownAndKeepsTheResults();
  void restoreWritesBackOffTheWindowThread();
  void deletingABackupSetRunsOffTheWindowThread();
  void startupResetLocksAndSavesOffTheWindowThread();
  void closeDuringARepairWaitsForItsEnd();
};

void OffThreadActionsTest::fixWritesTheBackupSetBeforeAnyChange() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  QVERIFY(found > 1);
  Steps steps;
  std::size_t onDiskBeforeChanges = 0;
  std::size_t backupsBeforeChanges = 0;
  int scansBefore = 0;
  steps.before = [&](int n) {
    // Nothing reaches the registry from the window while a step writes: a scan is refused.
    scansBefore = w->scansStarted();
    w->cmdQuickScan_Click();
    QCOMPARE(w->scansStarted(), scansBefore);
    QVERIFY(w->actionRunning());
    if (n != 3) return;
    backupsBeforeChanges = m.backupFiles().size();
    onDiskBeforeChanges = m.problemsOnDisk();
  };
  steps.install(*w);
  w->cmdRepairCorruptFiles_Click();
  QCOMPARE(steps.count, 3);  // the lock, the backup set, then the changes
  QVERIFY(!steps.onWindowThread);
  QVERIFY2(steps.beats >= 5, qPrintable(QString::number(steps.beats)));
  // When the changes began, the backup set was on disk and the registry untouched.
  QCOMPARE(backupsBeforeChanges, std::size_t(1));
  QCOMPARE(onDiskBeforeChanges, found);
  QVERIFY(ui.warned.empty());
  QCOMPARE(ui.informed.back(), Repair::endMessage(found, found));
  QCOMPARE(m.problemsOnDisk(), std::size_t(0));
  QVERIFY(!w->actionRunning());
  QVERIFY(w->picMain->isVisible());
  QVERIFY(!w->pgbDeletingErrors->isVisible());
  QCOMPARE(w->pgbDeletingErrors->value(), static_cast<int>(found));
}

void OffThreadActionsTest::failingRepairIsShownAndKeepsTheResults() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  // A file where the backup folder should be: the backup set cannot be written.
  fs::remove_all(m.backups);
  std::ofstream(m.backups) << "not a folder";
  Steps steps;
  steps.install(*w);
  w->cmdRepairCorruptFiles_Click();
  QCOMPARE(steps.count, 2);  // the lock and the backup set: no change was started
  QCOMPARE(ui.warned.size(), std::size_t(1));
  QVERIFY2(ui.warned[0].rfind("The backup could not be written: ", 0) == 0, ui.warned[0].c_str());
  QVERIFY(ui.warned[0].find("Nothing has been deleted.") != std::string::npos);
  QVERIFY(ui.informed.empty());
  QVERIFY(w->PicResults->isVisible());
  QVERIFY(w->cmdRepairCorruptFiles->isEnabled());
  QVERIFY(!w->pgbDeletingErrors->isVisible());
  QCOMPARE(w->context().problems().size(), found);
  QCOMPARE(m.problemsOnDisk(), found);
  // Once the folder is back, the same results are repaired.
  fs::remove(m.backups);
  fs::create_directories(m.backups);
  w->cmdRepairCorruptFiles_Click();
  QCOMPARE(ui.informed.back(), Repair::endMessage(found, found));
  QCOMPARE(m.problemsOnDisk(), std::size_t(0));
}

void OffThreadActionsTest::restoreWritesBackOffTheWindowThread() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  w->cmdRepairCorruptFiles_Click();
  QCOMPARE(m.problemsOnDisk(), std::size_t(0));
  w->runModal = [](QDialog& d) {
    auto& restore = dynamic_cast<gui::frmRestore&>(d);
    restore.cmdOK_Click();
    return d.result();
  };
  Steps steps;
  steps.install(*w);
  w->cmdRestore_Click();
  QCOMPARE(steps.count, 1);  // the backup file's reading
  QCOMPARE(w->context().problems().size(), found);
  QVERIFY(w->cmdRestoreNow->isVisible());
  QVERIFY(w->vbatvwResults->topLevelItemCount() > 0);
  w->cmdRestoreNow_Click();
  QCOMPARE(steps.count, 3);  // and the lock and the writing back
  QVERIFY(!steps.onWindowThread);
  QVERIFY(ui.warned.empty());
  QVERIFY(has(ui.informed, Restore::kCompleted));
  QVERIFY(w->picMain->isVisible());
  QCOMPARE(m.problemsOnDisk(), found);
  // The status line of the last record got through from the step's thread.
  QVERIFY2(w->lblStatusOfActionTaken->text().startsWith("Restoring: "),
           qPrintable(w->lblStatusOfActionTaken->text()));
}

void OffThreadActionsTest::deletingABackupSetRunsOffTheWindowThread() {
  Machine m;
  ScriptedInterface ui({true, false, true});  // the repair; the deletion declined, then not
  auto w = window(m, ui);
  w->cmdQuickScan_Click();
  w->cmdRepairCorruptFiles_Click();
  const std::vector<fs::path> sets = m.backupFiles();
  QCOMPARE(sets.size(), std::size_t(1));
  fs::path archive = sets[0];
  archive.replace_extension(".zip");
  std::ofstream(archive) << "an archive beside it";
  ui.questions.clear();
  ui.informed.clear();
  Steps steps;
  // The lock file names its holder while the lock is held.
  const std::string lockFile = m.folder + "/.brisquell.lock";
  const auto held = [&] { return fs::exists(lockFile) && fs::file_size(lockFile) > 0; };
  bool presentWhenDeletionBegan = false;
  std::vector<bool> heldBefore;
  steps.before = [&](int n) {
    heldBefore.push_back(held());
    if (n == 4) presentWhenDeletionBegan = fs::exists(sets[0]) && fs::exists(archive);
  };
  steps.install(*w);
  std::vector<int> rows;
  w->runModal = [&](QDialog& d) {
    auto& restore = dynamic_cast<gui::frmRestore&>(d);
    rows.push_back(restore.lvwBackups->topLevelItemCount());
    restore.cmdDeleteBackup_Click();  // declined: the lock is taken and given back
    rows.push_back(restore.lvwBackups->topLevelItemCount());
    restore.cmdDeleteBackup_Click();
    rows.push_back(restore.lvwBackups->topLevelItemCount());
    restore.cmdCancel_Click();
    return d.result();
  };
  w->cmdRestore_Click();
  QCOMPARE(steps.count, 4);  // each time the lock, then its giving back or the deletion
  QVERIFY(!steps.onWindowThread);
  QVERIFY2(steps.beats >= 5, qPrintable(QString::number(steps.beats)));
  QVERIFY(presentWhenDeletionBegan);
  QCOMPARE(heldBefore, (std::vector<bool>{false, true, false, true}));
  QVERIFY(!held());
  QCOMPARE(rows, (std::vector<int>{1, 1, 0}));
  QCOMPARE(ui.questions, (std::vector<std::string>(2, std::string(Restore::kDeleteQuestion))));
  QVERIFY(ui.warned.empty());
  QVERIFY(ui.informed.empty());
  QVERIFY(!fs::exists(sets[0]));
  QVERIFY(!fs::exists(archive));
  w->runModal = [](QDialog& d) {
    auto& restore = dynamic_cast<gui::frmRestore&>(d);
    restore.cmdDeleteBackup_Click();  // no set is left: said so, as before
    restore.cmdCancel_Click();
    return d.result();
  };
  w->cmdRestore_Click();
  QCOMPARE(steps.count, 4);
  QCOMPARE(ui.informed, (std::vector<std::string>{std::string(Restore::kNotFound)}));
}

void OffThreadActionsTest::startupResetLocksAndSavesOffTheWindowThread() {
  Machine m;
  const std::string product(kProductKey);
  {  // A reset asked for, a setting it takes away and the version key it keeps.
    RegistryStore& store = m.target->registry();
    KeyHandle h = 0;
    QCOMPARE(store.createKey(hkey::LocalMachine, product + "\\Registry Status", h),
             Status::Success);
    store.setValue(h, "ResetValue", regtype::Sz, Bytes{'1', 0});
    store.closeKey(h);
    QCOMPARE(store.createKey(hkey::LocalMachine, product + "\\Options", h), Status::Success);
    store.setValue(h, "chkTakeBackup", regtype::Sz, Bytes{'F', 'a', 'l', 's', 'e', 0});
    store.closeKey(h);
    QCOMPARE(store.createKey(hkey::LocalMachine, product + "\\Brisquell_Version\\Version", h),
             Status::Success);
    store.setValue(h, "Version", regtype::Sz, Bytes{'9', '.', '9', 0});
    store.closeKey(h);
    QVERIFY(m.target->save());
  }
  test::GatedTarget target(m.fresh());
  const auto window = std::this_thread::get_id();
  std::thread::id saver = window;
  bool lockHeldWhileSaving = false;
  target.duringSave = [&] {
    saver = std::this_thread::get_id();
    lockHeldWhileSaving = !lockFileFree(m.folder);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  };
  // Another holder of the target's lock lets go a moment after the start: the reset waits for
  // it while the window thread's timers go on.
  auto opened = openLockFile(m.folder);
  QVERIFY(opened);
  std::unique_ptr<LockFile> other = std::move(opened).value();
  std::string why;
  QCOMPARE(other->tryLock(why), Status::Success);
  QTimer::singleShot(150, [&] { other.reset(); });
  int beats = 0;
  QTimer beat;
  beat.setInterval(2);
  QObject::connect(&beat, &QTimer::timeout, [&] { ++beats; });
  beat.start();
  QTemporaryDir instanceDir;
  gui::EntryOptions options;
  options.lockFolder = instanceDir.path().toStdString();
  options.showSplash = false;
  options.runEventLoop = false;
  ScriptedInterface ui;
  auto started = gui::runDesktopProgram(target, ui, {}, options);
  beat.stop();
  QVERIFY(started.window);
  QVERIFY(!other);
  QVERIFY(ui.warned.empty());
  QCOMPARE(target.saves, 1);
  QVERIFY(saver != window);
  QVERIFY(lockHeldWhileSaving);
  QVERIFY(lockFileFree(m.folder));  // and given back
  QVERIFY2(beats >= 20, qPrintable(QString::number(beats)));
  // What the window starts with is on disk: the settings are gone, the version key stays.
  auto onDisk = m.fresh();
  QCOMPARE(textValue(onDisk->registry(), hkey::LocalMachine, product + "\\Registry Status",
                     "ResetValue"),
           std::string());
  QCOMPARE(
      textValue(onDisk->registry(), hkey::LocalMachine, product + "\\Options", "chkTakeBackup"),
      std::string());
  QCOMPARE(textValue(onDisk->registry(), hkey::LocalMachine,
                     product + "\\Brisquell_Version\\Version", "Version"),
           std::string("9.9"));
  KeyHandle h = 0;
  QCOMPARE(onDisk->registry().openKey(hkey::LocalMachine, product + "\\Settings", 0, h),
           Status::FileNotFound);
}

void OffThreadActionsTest::closeDuringARepairWaitsForItsEnd() {
  Machine m;
  ScriptedInterface ui;  // every question answered Yes
  auto w = window(m, ui);
  int ended = 0;
  w->endProcess = [&] { ++ended; };
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  Steps steps;
  steps.slow = std::chrono::milliseconds(60);
  steps.before = [&](int n) {
    if (n == 1) {
      // The menu's Exit and the window's close while the backup set is written, and a close
      // that comes through a timer while the loop turns for the step.
      w->ExitApplication();
      QVERIFY(!w->close());
      QTimer::singleShot(10, w.get(), [&] { w->close(); });
    }
  };
  steps.install(*w);
  w->cmdRepairCorruptFiles_Click();
  // The repair ran to its end and said so; nothing was asked about closing meanwhile.
  QCOMPARE(steps.count, 3);
  QCOMPARE(ui.questions.size(), std::size_t(1));
  QCOMPARE(ui.questions[0], Repair::question());
  QCOMPARE(ui.informed.back(), Repair::endMessage(found, found));
  QCOMPARE(ended, 0);
  QCOMPARE(m.problemsOnDisk(), std::size_t(0));
  QCOMPARE(m.backupFiles().size(), std::size_t(1));
  // Then the close is asked once, and carried out.
  QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 2000);
  QCOMPARE(ui.questions.size(), std::size_t(2));
  QCOMPARE(ui.questions[1], std::string(kCloseQuestion));
  QTest::qWait(100);
  QCOMPARE(ended, 1);
}

QTEST_MAIN(OffThreadActionsTest)
#include "OffThreadActionsTest.moc"
