// What a user meets in the windows: rows told apart, the run entry the target can start, the
// startup store's own key, the repair's last message, help without an opener, the companion
// program, and settings the registry refuses.
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "gui/frmBootingSpeed.h"
#include "gui/frmMain.h"
#include "gui/frmOptionsAndSettings.h"
#include "optimize/StartupPrograms.h"
#include "repair/Repair.h"
#include "shell/OpenWith.h"
#include "shell/Settings.h"
#include "support/ForwardingStore.h"
#include "support/ScriptedInterface.h"

using namespace brisquell;
using brisquell::gui::frmMain;
using brisquell::test::ScriptedInterface;
namespace fs = std::filesystem;

namespace {

struct Machine {
  QTemporaryDir dir;
  std::string folder;
  std::unique_ptr<Target> target;
  Machine() {
    folder = dir.path().toStdString() + "/machine";
    fs::copy(BRISQUELL_SOURCE_DIR "/examples/demo-machine", folder, fs::copy_options::recursive);
    fs::create_directories(folder + "/drive_c/Program Files/Brisquell/Backup");
    target = fresh();
  }
  std::unique_ptr<Target> fresh() const {
    auto t = openTarget(folder);
    if (!t) qFatal("cannot open the demo machine: %s", t.message().c_str());
    return std::move(t).value();
  }
  std::string install() const { return folder + "/drive_c/Program Files/Brisquell"; }
};

std::unique_ptr<frmMain> window(Target& t, UserInterface& ui) {
  auto w = std::make_unique<frmMain>(t, ui, std::vector<std::string>{}, "1.25");
  w->endProcess = [] {};
  w->show();
  return w;
}

bool has(const std::vector<std::string>& v, std::string_view part) {
  for (const auto& s : v)
    if (s.find(part) != std::string::npos) return true;
  return false;
}

// Records what the window showed when each message came.
class WatchingInterface final : public UserInterface {
 public:
  std::function<void()> onMessage;
  ScriptedInterface inner;
  bool askYesNo(std::string_view t, std::string_view s) override { return inner.askYesNo(t, s); }
  void inform(std::string_view t, std::string_view s) override {
    if (onMessage) onMessage();
    inner.inform(t, s);
  }
  void warn(std::string_view t, std::string_view s) override {
    if (onMessage) onMessage();
    inner.warn(t, s);
  }
};

// A store that refuses writes of one value name, as a registry without the right would.
class RefusingStore final : public test::ForwardingStore {
 public:
  RefusingStore(RegistryStore& s, std::string refused)
      : ForwardingStore(s), refused_(std::move(refused)) {}
  Status setValueRaw(KeyHandle k, std::string_view n, std::uint32_t t, const Bytes& d) override {
    return iequals(n, refused_) ? Status::AccessDenied : s_.setValueRaw(k, n, t, d);
  }

 private:
  std::string refused_;
};

class RefusingTarget final : public Target {
 public:
  RefusingTarget(Target& t, std::string refused) : t_(t), store_(t.registry(), refused) {}
  std::string kind() const override { return t_.kind(); }
  std::string location() const override { return t_.location(); }
  RegistryStore& registry() override { return store_; }
  FileSystem& files() override { return t_.files(); }
  ShortcutReader& shortcuts() override { return t_.shortcuts(); }
  const MachineInfo& machine() const override { return t_.machine(); }
  Outcome save() override { return t_.save(); }
  Outcome reload() override { return t_.reload(); }

 private:
  Target& t_;
  RefusingStore store_;
};

// Sets an environment variable for one scope.
struct EnvVar {
  std::string name;
  std::optional<std::string> old;
  EnvVar(std::string n, const std::string& value) : name(std::move(n)) {
    if (const char* v = std::getenv(name.c_str())) old = v;
    qputenv(name.c_str(), QByteArray::fromStdString(value));
  }
  ~EnvVar() {
    if (old)
      qputenv(name.c_str(), QByteArray::fromStdString(*old));
    else
      qunsetenv(name.c_str());
  }
};

}  // namespace

class WindowDetailsTest : public QObject {
  Q_OBJECT
 private slots:
  void rowsShowKeyValueAndTestedPath();
  void runEntryNamesTheTargetsProgram();
  void startupDoneMovesOnlyTheStoresOwnValues();
  void progressBarIsHiddenBeforeTheLastMessage();
  void helpWithoutAnOpenerSaysNoApplication();
  void companionProgramOfAnotherMachineIsNotStarted();
  void refusedSettingsAreShownAndNotKept();
};

void WindowDetailsTest::rowsShowKeyValueAndTestedPath() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(*m.target, ui);
  w->cmdQuickScan_Click();
  QTreeWidgetItem* integrity = nullptr;
  for (int i = 0; i < w->vbatvwResults->topLevelItemCount(); ++i)
    if (w->vbatvwResults->topLevelItem(i)->text(0).startsWith("Registry Integrity"))
      integrity = w->vbatvwResults->topLevelItem(i);
  QVERIFY(integrity);
  QVERIFY(integrity->childCount() >= 2);
  // Rows that read alike have tooltips that do not: each names its own key.
  QSet<QString> tips;
  for (int i = 0; i < integrity->childCount(); ++i) {
    QTreeWidgetItem* c = integrity->child(i);
    QCOMPARE(c->text(0), QString("(value not set)"));
    const QString tip = c->toolTip(0);
    QVERIFY2(tip.contains("Key: HKEY_"), qPrintable(tip));
    QVERIFY(tip.contains("Value name: (Default)"));
    QVERIFY(tip.contains("Why: the key holds no value"));
    tips.insert(tip);
  }
  QCOMPARE(tips.size(), integrity->childCount());
  // The details line follows the current row, and names the path that was tested.
  QTreeWidgetItem* other = nullptr;
  for (int i = 0; i < w->vbatvwResults->topLevelItemCount() && !other; ++i) {
    QTreeWidgetItem* s = w->vbatvwResults->topLevelItem(i);
    if (!s->text(0).startsWith("Registry Integrity") && !s->text(0).startsWith("File Extensions"))
      other = s->child(0);
  }
  QVERIFY(other);
  w->vbatvwResults->setCurrentItem(other);
  const QString details = w->lblDetails->text();
  QVERIFY2(details.contains("Tested: " + other->text(0)), qPrintable(details));
  QVERIFY(details.contains("Value: "));
  QCOMPARE(details.contains("\n"), false);
  w->vbatvwResults->setCurrentItem(integrity);
  QVERIFY(w->lblDetails->text().isEmpty());
}

void WindowDetailsTest::runEntryNamesTheTargetsProgram() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(*m.target, ui);
  int shown = 0;
  w->runModal = [&](QDialog& d) {
    auto* options = dynamic_cast<gui::frmOptionsAndSettings*>(&d);
    if (options) {
      ++shown;
      options->chkRunAtStartup->setChecked(true);
      options->cmdApply_Click();
      return 0;
    }
    auto& startup = dynamic_cast<gui::frmBootingSpeed&>(d);
    bool listed = false;
    for (int i = 0; i < startup.lvwWindowsStartupFiles->topLevelItemCount(); ++i)
      listed |= startup.lvwWindowsStartupFiles->topLevelItem(i)->text(1) == "Brisquell";
    shown += listed ? 10 : 0;
    return 0;
  };
  w->mnuTOptionsAndSettings_Click();
  auto onDisk = m.fresh();
  ScanContext c(*onDisk);
  std::string run;
  QVERIFY(c.registry().QueryValue(hkey::LocalMachine, Settings::kRunKey, Settings::kRunValue, run));
  QCOMPARE(run, std::string("\"C:\\Program Files\\Brisquell\\Brisquell.exe\" -Quick"));
  // The startup manager lists it like any other entry.
  w->MnuFileSpeedUpMyComputer_Click();
  QCOMPARE(shown, 11);
}

void WindowDetailsTest::startupDoneMovesOnlyTheStoresOwnValues() {
  Machine m;
  ScriptedInterface ui;
  ScanContext ctx(*m.target);
  const std::string other = std::string(StartupPrograms::kStoreParent) + "\\Window";
  QCOMPARE(ctx.registry().SetKeyValue(hkey::CurrentUser, other, "Layout", "C:\\Layouts\\wide.dat",
                                      regtype::Sz),
           Status::Success);
  QVERIFY(m.target->save());
  {
    gui::frmBootingSpeed d(ctx, ui);
    bool ticked = false;
    for (int i = 0; i < d.lvwWindowsStartupFiles->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = d.lvwWindowsStartupFiles->topLevelItem(i);
      if (item->text(1) != "Layout") continue;
      QCOMPARE(item->checkState(0), Qt::Unchecked);
      item->setCheckState(0, Qt::Checked);
      ticked = true;
    }
    QVERIFY(ticked);
    d.cmdDone_Click();
  }
  QVERIFY(has(ui.warned, "Layout stays where it is"));
  auto onDisk = m.fresh();
  ScanContext c(*onDisk);
  std::string v;
  QVERIFY(!c.registry().QueryValue(hkey::LocalMachine, Settings::kRunKey, "Layout", v));
  QVERIFY(c.registry().QueryValue(hkey::CurrentUser, other, "Layout", v));
}

void WindowDetailsTest::progressBarIsHiddenBeforeTheLastMessage() {
  Machine m;
  WatchingInterface ui;
  auto w = window(*m.target, ui);
  w->cmdQuickScan_Click();
  const std::size_t found = w->context().problems().size();
  bool barShown = true, labelShown = true;
  ui.onMessage = [&] {
    barShown = w->pgbDeletingErrors->isVisible();
    labelShown = w->lblStatusOfActionTaken->isVisible();
  };
  w->cmdRepairCorruptFiles_Click();
  QCOMPARE(ui.inner.informed.back(), Repair::endMessage(found, found));
  QVERIFY(!barShown);
  QVERIFY(!labelShown);
}

void WindowDetailsTest::helpWithoutAnOpenerSaysNoApplication() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(*m.target, ui);
  QTemporaryDir empty;
  EnvVar path("PATH", empty.path().toStdString());
  w->mnuHOnlineHelp_Click();
  QVERIFY(ui.informed.empty());
  QVERIFY(ui.warned == std::vector<std::string>{std::string(OpenWith::kNoApplication)});
}

void WindowDetailsTest::companionProgramOfAnotherMachineIsNotStarted() {
  Machine m;
  ScriptedInterface ui;
  auto w = window(*m.target, ui);
  int started = 0;
  w->startProgram = [&started](const std::vector<std::string>&) { return ++started > 0; };
  const std::string program = "C:\\Program Files\\Brisquell\\drevlin.exe";
  w->mnuAInternetSystemCleaner_Click();
  QCOMPARE(ui.informed.back(), program + " file not found.");
  std::ofstream(m.install() + "/drevlin.exe") << "MZ";
  w->mnuAInternetSystemCleaner_Click();
  QCOMPARE(started, 0);
  QVERIFY2(ui.informed.back().starts_with(program + " cannot be started here"),
           ui.informed.back().c_str());
  QVERIFY(has(ui.informed, "machine folder"));
}

void WindowDetailsTest::refusedSettingsAreShownAndNotKept() {
  Machine m;
  ScriptedInterface ui;
  {
    RefusingTarget t(*m.target, "Menu3");
    auto w = window(t, ui);
    QVERIFY(w->mnuOptions[3]->isChecked());
    w->mnuOptions[3]->trigger();
    QVERIFY(w->mnuOptions[3]->isChecked());
    QCOMPARE(ui.warned.size(), std::size_t(1));
    QVERIFY(has(ui.warned, "could not be saved"));
    QVERIFY(has(ui.warned, "Menu3"));
    // Another switch still saves.
    w->mnuOptions[4]->trigger();
    QVERIFY(!w->mnuOptions[4]->isChecked());
    QCOMPARE(ui.warned.size(), std::size_t(1));
  }
  {
    RefusingTarget t(*m.target, "chkMinimizeToSysTray");
    ScanContext ctx(t);
    gui::frmOptionsAndSettings d(ctx, ui, "C:\\Program Files\\Brisquell\\Brisquell.exe");
    d.chkTakeBackup->setChecked(false);
    d.chkMinimizeToSysTray->setChecked(true);
    d.cmdApply_Click();
    QCOMPARE(ui.warned.size(), std::size_t(2));
    QVERIFY(ui.warned[1].find("chkMinimizeToSysTray") != std::string::npos);
    // Nothing of the Apply is kept: the boxes show what is stored.
    QVERIFY(d.chkTakeBackup->isChecked());
    QVERIFY(!d.chkMinimizeToSysTray->isChecked());
  }
  auto onDisk = m.fresh();
  ScanContext c(*onDisk);
  Settings s(c.registry());
  QCOMPARE(s.Menu(3), std::string("True"));
  QCOMPARE(s.Menu(4), std::string("False"));
  QCOMPARE(s.chkTakeBackupText(), std::string("True"));
}

QTEST_MAIN(WindowDetailsTest)
#include "WindowDetailsTest.moc"
