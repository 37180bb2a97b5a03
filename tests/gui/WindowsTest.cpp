// The windows over the demo machine, with message boxes answered by a script.
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "gui/DesktopProgram.h"
#include "gui/GuiSupport.h"
#include "gui/clsTray.h"
#include "gui/frmMain.h"
#include "gui/frmOptionsAndSettings.h"
#include "gui/frmRestore.h"
#include "repair/Plan.h"
#include "repair/Repair.h"
#include "scan/ScanDriver.h"
#include "shell/IgnoreList.h"
#include "shell/Settings.h"
#include "shell/SingleInstance.h"
#include "support/GatedTarget.h"
#include "support/ScriptedInterface.h"

using namespace brisquell;
using brisquell::gui::frmMain;
using brisquell::test::ScriptedInterface;
namespace fs = std::filesystem;

namespace {

// A scratch copy of the demo machine, with a Backup folder for the repair's backup sets.
struct Machine {
  QTemporaryDir dir;
  std::string folder;
  std::unique_ptr<Target> target;
  Machine() {
    folder = dir.path().toStdString() + "/machine";
    fs::copy(BRISQUELL_SOURCE_DIR "/examples/demo-machine", folder, fs::copy_options::recursive);
    fs::create_directories(folder + "/drive_c/Program Files/Brisquell/Backup");
    reopen();
  }
  void reopen() { target = fresh(); }
  // The machine as it is on disk now, beside the one the windows hold.
  std::unique_ptr<Target> fresh() const {
    auto tOpened = openTarget(folder);
    auto t = tOpened ? std::move(tOpened).value() : nullptr;
    if (!t) qFatal("cannot open the demo machine: %s", tOpened.message().c_str());
    return t;
  }
};

// Problems per section of the demo machine's quick scan, from the golden file.
std::map<std::string, int> expectedQuickCounts() {
  std::map<std::string, int> counts;
  std::ifstream in(BRISQUELL_TEST_DATA "/demo-quick.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string f[4];
    for (auto& x : f) std::getline(fields, x, '\t');
    ++counts[f[3]];
  }
  return counts;
}

std::unique_ptr<frmMain> window(Machine& m, UserInterface& ui, std::vector<std::string> args = {}) {
  auto w = std::make_unique<frmMain>(*m.target, ui, std::move(args), "1.25");
  w->endProcess = [] {};
  w->show();
  return w;
}

bool contains(const std::vector<std::string>& v, std::string_view s) {
  for (const auto& x : v)
    if (x == s) return true;
  return false;
}

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT
 private slots:
  void scanOfDemoEndsInResultsTree();
  void uncheckingSectionUnchecksRows();
  void fixAsksRepairsAndReturnsToStartPage();
  void restoreLoadsAndWritesBack();
  void optionsWriteValuesAndRunEntry();
  void closeQuestionYesAndNo();
  void closeDuringScanRefuses();
  void secondInstanceIsRefused();
  void quickSwitchScansOnce();
  void sectionItemsWriteSwitches();
  void extraSectionItemsAreOffUntilSwitchedOn();
  void minimizeWithoutTrayKeepsWindow();
  void hiddenFileMenuAndCaptions();
  void writeGateRefusesAndUndoesFailedSaves();
  void planAndNeverReportFromTheMenus();
  void savesRunOffTheWindowThread();
};

void WindowsTest::scanOfDemoEndsInResultsTree() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  QVERIFY(w->picMain->isVisible());
  w->cmdQuickScan_Click();
  QVERIFY(w->PicResults->isVisible());
  QVERIFY(!w->picScanning->isVisible());
  QVERIFY(w->cmdRepairCorruptFiles->isEnabled());
  QVERIFY(ui.informed.empty());
  QCOMPARE(w->vbatvwResults->columnCount(), 2);
  QCOMPARE(w->vbatvwResults->headerItem()->text(0), QString("Problems"));
  QCOMPARE(w->vbatvwResults->headerItem()->text(1), QString("Threat Level"));
  auto expected = expectedQuickCounts();
  QCOMPARE(w->vbatvwResults->topLevelItemCount(), static_cast<int>(expected.size()));
  int total = 0;
  for (int i = 0; i < w->vbatvwResults->topLevelItemCount(); ++i) {
    QTreeWidgetItem* s = w->vbatvwResults->topLevelItem(i);
    QString text = s->text(0);
    std::string name = text.left(text.indexOf(" (")).toStdString();
    QVERIFY2(expected.count(name), name.c_str());
    QCOMPARE(text, QString::fromStdString(name + " (" + std::to_string(expected[name]) +
                                          " Registry Problems)"));
    QCOMPARE(s->childCount(), expected[name]);
    QVERIFY(!s->text(1).isEmpty());
    QCOMPARE(s->checkState(0), Qt::Checked);
    total += s->childCount();
  }
  QCOMPARE(w->lblTotalErrors->text(), QString::number(total));
  // The progress list: one row per ticked section, those with problems in dark red.
  QCOMPARE(w->lvwResultProgress->topLevelItemCount(), 12);
  for (int i = 0; i < 12; ++i) {
    QTreeWidgetItem* row = w->lvwResultProgress->topLevelItem(i);
    QCOMPARE(row->text(1), QString("Finished"));
    const bool red = row->foreground(0).color() == QColor(192, 0, 0);
    QCOMPARE(red, row->text(2) != "0 Registry Problems");
  }
}

void WindowsTest::uncheckingSectionUnchecksRows() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  w->cmdQuickScan_Click();
  QTreeWidgetItem* section = w->vbatvwResults->topLevelItem(1);
  const std::string name = section->text(0).left(section->text(0).indexOf(" (")).toStdString();
  section->setCheckState(0, Qt::Unchecked);
  for (int i = 0; i < section->childCount(); ++i)
    QCOMPARE(section->child(i)->checkState(0), Qt::Unchecked);
  for (const auto& r : w->context().problems().rows()) QCOMPARE(r.checked, r.Section != name);
  // One problem checked again checks only its row.
  section->child(0)->setCheckState(0, Qt::Checked);
  int checked = 0;
  for (const auto& r : w->context().problems().rows())
    if (r.Section == name && r.checked) ++checked;
  QCOMPARE(checked, 1);
  QCOMPARE(section->checkState(0), Qt::Unchecked);
}

void WindowsTest::fixAsksRepairsAndReturnsToStartPage() {
  Machine m;
  ScriptedInterface ui({false, true});
  auto w = window(m, ui);
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  // No: nothing changes.
  w->cmdRepairCorruptFiles_Click();
  QCOMPARE(ui.questions.size(), std::size_t(1));
  QCOMPARE(ui.questions[0], Repair::question());
  QVERIFY(w->PicResults->isVisible());
  QVERIFY(w->cmdRepairCorruptFiles->isEnabled());
  // Yes: repairs, tells, back to the start page.
  w->cmdRepairCorruptFiles_Click();
  QCOMPARE(ui.questions.size(), std::size_t(2));
  QVERIFY(w->picMain->isVisible());
  QVERIFY(!w->PicResults->isVisible());
  QVERIFY(!w->cmdRepairCorruptFiles->isEnabled());
  QVERIFY(!ui.informed.empty());
  QCOMPARE(ui.informed.back(), Repair::endMessage(found, found));
  // What was repaired is gone from the machine on disk.
  auto onDisk = m.fresh();
  ScanContext ctx(*onDisk);
  runScan(ctx, ScanMode::Quick);
  QCOMPARE(ctx.problems().size(), std::size_t(0));
}

void WindowsTest::restoreLoadsAndWritesBack() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  w->cmdRepairCorruptFiles_Click();
  int shown = 0;
  w->runModal = [&shown](QDialog& d) {
    auto& restore = dynamic_cast<gui::frmRestore&>(d);
    ++shown;
    if (restore.lvwBackups->topLevelItemCount() != 1) return 0;
    restore.cmdOK_Click();
    return d.result();
  };
  w->cmdRestore_Click();
  QCOMPARE(shown, 1);
  QVERIFY(w->PicResults->isVisible());
  QVERIFY(w->imgListOfItemsInBackupFile->isVisible());
  QVERIFY(!w->imgListOfProblems->isVisible());
  QVERIFY(w->cmdRestoreNow->isVisible());
  QVERIFY(w->cmdRestoreNow->isEnabled());
  QVERIFY(!w->cmdRepairCorruptFiles->isVisible());
  QCOMPARE(w->context().problems().size(), found);
  QVERIFY(w->vbatvwResults->topLevelItemCount() > 0);
  QCOMPARE(w->vbatvwResults->topLevelItem(0)->checkState(0), Qt::Unchecked);
  w->cmdRestoreNow_Click();
  QVERIFY(contains(ui.informed, Restore::kCompleted));
  QVERIFY(w->picMain->isVisible());
  QVERIFY(!w->cmdRestoreNow->isEnabled());
  auto onDisk = m.fresh();
  ScanContext ctx(*onDisk);
  runScan(ctx, ScanMode::Quick);
  QCOMPARE(ctx.problems().size(), found);
  // Cancelling the restore window leaves the window as it was.
  w->runModal = [](QDialog& d) {
    dynamic_cast<gui::frmRestore&>(d).cmdCancel_Click();
    return 0;
  };
  w->cmdRestore_Click();
  QVERIFY(w->picMain->isVisible());
}

void WindowsTest::optionsWriteValuesAndRunEntry() {
  Machine m;
  ScriptedInterface ui;
  ScanContext ctx(*m.target);
  const std::string program = "/opt/brisquell tools/brisquell-gui";
  {
    gui::frmOptionsAndSettings d(ctx, ui, program);
    QVERIFY(d.chkTakeBackup->isChecked());
    QVERIFY(d.chkRunAtStartup->isChecked());
    QVERIFY(!d.chkMinimizeToSysTray->isChecked());
    QVERIFY(!d.cmdApply->isEnabled());
    d.chkTakeBackup->setChecked(false);
    d.chkMinimizeToSysTray->setChecked(true);
    QVERIFY(d.cmdApply->isEnabled());
    d.cmdApply_Click();
    QVERIFY(!d.cmdApply->isEnabled());
  }
  auto second = m.fresh();
  {
    ScanContext c(*second);
    Settings s(c.registry());
    QCOMPARE(s.chkTakeBackupText(), std::string("False"));
    QCOMPARE(s.chkRunAtStartup(), std::string("True"));
    QCOMPARE(s.chkMinimizeToSysTray(), std::string("True"));
    std::string run;
    QVERIFY(
        c.registry().QueryValue(hkey::LocalMachine, Settings::kRunKey, Settings::kRunValue, run));
    QCOMPARE(run, "\"" + program + "\" -Quick");
    gui::frmOptionsAndSettings d(c, ui, program);
    QVERIFY(!d.chkTakeBackup->isChecked());
    d.chkRunAtStartup->setChecked(false);
    d.cmdApply_Click();
    // Close after a change stores nothing.
    d.chkTakeBackup->setChecked(true);
    d.cmdCancel_Click();
  }
  auto third = m.fresh();
  ScanContext c(*third);
  Settings s(c.registry());
  QCOMPARE(s.chkRunAtStartup(), std::string("False"));
  QCOMPARE(s.chkTakeBackupText(), std::string("False"));
  std::string run;
  QVERIFY(
      !c.registry().QueryValue(hkey::LocalMachine, Settings::kRunKey, Settings::kRunValue, run));
}

void WindowsTest::closeQuestionYesAndNo() {
  Machine m;
  ScriptedInterface ui({false, true});
  auto w = window(m, ui);
  int ended = 0;
  w->endProcess = [&ended] { ++ended; };
  QVERIFY(!w->close());
  QCOMPARE(ui.questions.size(), std::size_t(1));
  QCOMPARE(ui.questions[0], std::string("Are you sure want to close this application?"));
  QVERIFY(!w->tmrUnload->isActive());
  QTest::qWait(150);
  QCOMPARE(ended, 0);
  QVERIFY(w->isVisible());
  QVERIFY(!w->close());
  QVERIFY(w->tmrUnload->isActive());
  QCOMPARE(ended, 0);
  QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 1000);
  QVERIFY(!w->tmrUnload->isActive());
  QVERIFY(w->context().bCancelScan);
  QVERIFY(!w->tray->bRunningInTray());
}

void WindowsTest::closeDuringScanRefuses() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  // Close clicked while the scan yields to the event loop.
  bool asked = false;
  w->pump().setInterval(0);
  w->pump().afterEvents = [&] {
    if (asked || !w->scanRunning()) return;
    asked = true;
    w->close();
    w->ExitApplication();
  };
  w->cmdQuickScan_Click();
  QVERIFY(asked);
  QVERIFY(ui.questions.empty());
  QCOMPARE(ui.informed.size(), std::size_t(2));
  QCOMPARE(ui.informed[0], std::string("Stop scanning and then exit."));
  QCOMPARE(ui.informed[1], std::string("Stop scanning and then exit."));
  QVERIFY(w->PicResults->isVisible());
}

void WindowsTest::secondInstanceIsRefused() {
  Machine m;
  QTemporaryDir lockDir;
  SingleInstance first(lockDir.path().toStdString());
  std::string error;
  QCOMPARE(first.acquire(error), SingleInstance::State::Acquired);
  ScriptedInterface ui;
  gui::EntryOptions options;
  options.lockFolder = lockDir.path().toStdString();
  options.runEventLoop = false;
  auto result = gui::runDesktopProgram(*m.target, ui, {}, options);
  QVERIFY(result.refusedAsSecond);
  QVERIFY(!result.splashShown);
  QVERIFY(!result.window);
  QCOMPARE(ui.informed.size(), std::size_t(1));
  QCOMPARE(ui.informed[0], std::string("Brisquell v1.25 is already running."));
  // Once the first has gone, a start goes through (short splash).
  first.release();
  options.splashMs = 10;
  auto second = gui::runDesktopProgram(*m.target, ui, {}, options);
  QVERIFY(!second.refusedAsSecond);
  QVERIFY(second.splashShown);
  QVERIFY(second.window);
}

void WindowsTest::quickSwitchScansOnce() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui, {"--target", m.folder, "-QUICK"});
  w->Form_Activate();
  QCOMPARE(w->scansStarted(), 1);
  QVERIFY(w->PicResults->isVisible());
  w->Form_Activate();
  w->activateWindow();
  QTest::qWait(50);
  QCOMPARE(w->scansStarted(), 1);
  auto plain = window(m, ui, {"--target", m.folder});
  plain->Form_Activate();
  QCOMPARE(plain->scansStarted(), 0);
}

void WindowsTest::sectionItemsWriteSwitches() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  QAction* item = w->mnuOptions[3];
  QCOMPARE(item->text(), QString("File Extensions"));
  QCOMPARE(w->mnuOptions[5]->text(), QString("Device Driver"));
  QVERIFY(item->isChecked());
  item->trigger();
  QVERIFY(!item->isChecked());
  w.reset();
  m.reopen();
  {
    ScanContext c(*m.target);
    QCOMPARE(Settings(c.registry()).Menu(3), std::string("False"));
  }
  auto again = window(m, ui);
  QVERIFY(!again->mnuOptions[3]->isChecked());
  again->cmdQuickScan_Click();
  for (int i = 0; i < again->vbatvwResults->topLevelItemCount(); ++i)
    QVERIFY(!again->vbatvwResults->topLevelItem(i)->text(0).startsWith("File Extensions"));
  again->mnuOptions[3]->trigger();
  auto onDisk = m.fresh();
  ScanContext c(*onDisk);
  QCOMPARE(Settings(c.registry()).Menu(3), std::string("True"));
}

void WindowsTest::extraSectionItemsAreOffUntilSwitchedOn() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  QCOMPARE(w->mnuExtraSections[0]->text(), QString("File Associations"));
  QCOMPARE(w->mnuExtraSections[6]->text(), QString("Expanded COM Servers"));
  for (QAction* a : w->mnuExtraSections) QVERIFY(a->isCheckable() && !a->isChecked());
  w->cmdQuickScan_Click();
  for (const auto& p : w->context().progress()) QVERIFY(p.name != "Windows Services");
  QAction* services = w->mnuExtraSections[2];
  QCOMPARE(services->text(), QString("Windows Services"));
  services->trigger();
  QVERIFY(services->isChecked());
  {
    auto onDisk = m.fresh();
    ScanContext c(*onDisk);
    QCOMPARE(Settings(c.registry()).get("Menu15").value_or(""), std::string("True"));
  }
  w->cmdQuickScan_Click();
  QCOMPARE(w->context().progress().back().name, std::string("Windows Services"));
  QCOMPARE(w->context().progress().back().status, std::string("Finished"));
  w.reset();
  m.reopen();
  auto again = window(m, ui);
  QVERIFY(again->mnuExtraSections[2]->isChecked());
  QVERIFY(!again->mnuExtraSections[3]->isChecked());
}

void WindowsTest::minimizeWithoutTrayKeepsWindow() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  QVERIFY(w->tray->bRunningInTray());
  QCOMPARE(w->tray->tip(), QString("Brisquell v1.25"));
  w->showMinimized();
  QTest::qWait(20);
  if (!gui::clsTray::trayAvailable()) QVERIFY(!w->isHidden());
  QCOMPARE(w->mnuShowOrvane->text(), QString("Brisquell v1.25"));
  w->mnuShowOrvane_Click();
  QVERIFY(w->isVisible());
  QVERIFY(!(w->windowState() & Qt::WindowMinimized));
  // The tip field keeps 63 characters.
  w->tray->ChangeToolTip(w.get(), QString(70, 'x'));
  QCOMPARE(w->tray->tip().size(), 63);
}

void WindowsTest::hiddenFileMenuAndCaptions() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(m, ui);
  QStringList shown;
  for (QAction* a : w->menuBar()->actions())
    if (a->isVisible()) shown << a->text();
  QCOMPARE(shown, QStringList({"Action", "&Settings", "Help"}));
  QVERIFY(!w->mnuAInternetSystemCleaner->isVisible());
  QCOMPARE(w->mnuHOnlineHelp->text(), QString("Brisquell Online Help..."));
  QCOMPARE(w->mnuHelpAboutThisProgram->text(), QString("About Brisquell"));
  QCOMPARE(w->lblStatus->text(), QString("Ready"));
  QVERIFY(!w->mnuFixTheProblems->isEnabled());
  QVERIFY(!w->cmdCancel->isVisible());
  QCOMPARE(w->cmdCancel->toolTip(),
           QString("Click this button if you are sure you want to cancel the scan."));
  // Help goes to OpenWith with the help page beside the program and "html".
  std::string document, extension;
  w->openDocument = [&](const std::string& d, const std::string& e) {
    document = d;
    extension = e;
  };
  w->mnuHOnlineHelp_Click();
  QVERIFY(document.ends_with("/BrisquellHelp.htm"));
  QVERIFY(fs::exists(document));
  QCOMPARE(extension, std::string("html"));
}

void WindowsTest::writeGateRefusesAndUndoesFailedSaves() {
  Machine m;
  auto gated = std::make_unique<test::GatedTarget>(std::move(m.target));
  test::GatedTarget& t = *gated;
  m.target = std::move(gated);
  ScriptedInterface ui;
  auto w = window(m, ui);
  auto cleaned = [&ui] {
    for (const auto& text : ui.informed)
      if (text.find("has been cleaned") != std::string::npos) return true;
    return false;
  };
  const std::string shortcut =
      m.folder + "/drive_c/Documents and Settings/user/Desktop/Nimbus Player.lnk";
  QVERIFY(fs::exists(shortcut));

  // A blocker (a running wineserver): refused before anything changes, the results stay.
  t.blocker = "a wineserver (process 7) is running for the Wine prefix";
  w->cmdDeepScan_Click();
  const std::size_t found = w->context().problems().size();
  QVERIFY(found > 0);
  w->cmdRepairCorruptFiles_Click();
  QVERIFY(ui.questions.empty());
  QCOMPARE(ui.warned.size(), std::size_t(1));
  QVERIFY(ui.warned[0].find("process 7") != std::string::npos);
  QVERIFY(!cleaned());
  QVERIFY(fs::exists(shortcut));
  QVERIFY(w->PicResults->isVisible());
  QVERIFY(w->cmdRepairCorruptFiles->isEnabled());
  // A menu switch is refused too, and its mark goes back.
  QVERIFY(w->mnuOptions[3]->isChecked());
  w->mnuOptions[3]->trigger();
  QVERIFY(w->mnuOptions[3]->isChecked());
  QCOMPARE(ui.warned.size(), std::size_t(2));
  QCOMPARE(t.saves, 0);

  // A save that fails: nothing is said to be cleaned, the store is the disk's again.
  t.blocker.reset();
  t.failSaves = true;
  w->cmdQuickScan_Click();
  w->cmdRepairCorruptFiles_Click();
  QVERIFY(!cleaned());
  QCOMPARE(ui.warned.size(), std::size_t(3));
  QVERIFY(ui.warned[2].find("could not be saved") != std::string::npos);
  QVERIFY(ui.warned[2].find("undone") != std::string::npos);
  QVERIFY(w->PicResults->isVisible());
  QVERIFY(w->cmdRepairCorruptFiles->isEnabled());
  QVERIFY(!t.registry().modified());
  w->mnuOptions[3]->trigger();
  QVERIFY(w->mnuOptions[3]->isChecked());
  QCOMPARE(ui.warned.size(), std::size_t(4));

  // Saving again works, and writes the switch alone.
  t.failSaves = false;
  w->mnuOptions[3]->trigger();
  QVERIFY(!w->mnuOptions[3]->isChecked());
  QCOMPARE(ui.warned.size(), std::size_t(4));
  auto onDisk = m.fresh();
  ScanContext ctx(*onDisk);
  QCOMPARE(Settings(ctx.registry()).Menu(3), std::string("False"));
  runScan(ctx, ScanMode::Quick);
  QVERIFY(!ctx.problems().empty());
}

void WindowsTest::planAndNeverReportFromTheMenus() {
  Machine m;
  ScriptedInterface ui({true});
  auto w = window(m, ui);
  QCOMPARE(w->mnuSavePlan->text(), QString("Save plan…"));
  QCOMPARE(w->mnuFixFromPlan->text(), QString("Fix from plan…"));
  QCOMPARE(w->mnuNeverReport->text(), QString("Never report this"));
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  // Never report this: on the ignore list, out of the tree and of the repair, out of the next scan.
  QTreeWidgetItem* item = w->vbatvwResults->topLevelItem(0)->child(0);
  w->mnuNeverReport_Click(item);
  QVERIFY(item->isHidden());
  QCOMPARE(IgnoreList::load(w->context().registry()).size(), std::size_t(1));
  {
    auto onDisk = m.fresh();
    ScanContext ctx(*onDisk);
    IgnoreList::applyTo(ctx);
    runScan(ctx, ScanMode::Quick);
    QCOMPARE(ctx.problems().size(), found - 1);
    QCOMPARE(ctx.leftOut, std::size_t(1));
  }
  w->cmdQuickScan_Click();
  QCOMPARE(w->context().problems().size(), found - 1);

  // Save plan, keep two records, fix from it: exactly those two go.
  const QString file = m.dir.path() + "/plan.json";
  w->choosePlanFile = [&](bool) { return file; };
  w->mnuSavePlan_Click();
  std::ifstream in(file.toStdString());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto plan = parsePlan(text, "plan.json");
  QVERIFY2(plan.ok(), plan.message().c_str());
  QCOMPARE(plan->front().records.size(), found - 1);
  std::vector<PlanRecord> kept;
  for (const PlanRecord& r : plan->front().records)
    if (r.listings == 1 && kept.size() < 2) kept.push_back(r);
  plan->front().records = kept;
  {
    std::ofstream out(file.toStdString(), std::ios::trunc);
    out << writePlan(*plan);
  }
  w->mnuFixFromPlan_Click();
  QCOMPARE(ui.informed.back(), Repair::endMessage(2, 2));
  auto onDisk = m.fresh();
  ScanContext ctx(*onDisk);
  runScan(ctx, ScanMode::Quick);
  QCOMPARE(ctx.problems().size(), found - 2);  // the ignored one is reported again without the list
}

void WindowsTest::savesRunOffTheWindowThread() {
  // A slow save runs on a thread of its own: the window's timers go on, and its result (or its
  // exception) comes back to the caller once it is done.
  int beats = 0;
  QTimer beat;
  beat.setInterval(2);
  connect(&beat, &QTimer::timeout, [&] { ++beats; });
  beat.start();
  std::thread::id saver;
  bool done = false;
  brisquell::Outcome r = brisquell::gui::runOffWindowThread([&] {
    saver = std::this_thread::get_id();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    done = true;
    return brisquell::Outcome::fail("disk full", brisquell::Status::WriteFault);
  });
  QVERIFY(done);
  QVERIFY(saver != std::this_thread::get_id());
  QVERIFY2(beats >= 5, qPrintable(QString::number(beats)));
  QVERIFY(r.message() == "disk full");
  bool thrown = false;
  try {
    brisquell::Outcome never = brisquell::gui::runOffWindowThread(
        []() -> brisquell::Outcome { throw std::runtime_error("x"); });
    QVERIFY(!never);
  } catch (const std::runtime_error&) {
    thrown = true;
  }
  QVERIFY(thrown);
  // Off the window thread it simply runs where it is.
  std::thread::id inner, caller;
  std::thread([&] {
    caller = std::this_thread::get_id();
    (void)brisquell::gui::runOffWindowThread([&] {
      inner = std::this_thread::get_id();
      return brisquell::Outcome{};
    });
  }).join();
  QVERIFY(inner == caller);
}

QTEST_MAIN(WindowsTest)
#include "WindowsTest.moc"
