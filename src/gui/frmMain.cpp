// The main window's flow: scan, repair, restore, menus and window events. The scan runs on this
// thread through the core, yielding to the event loop; the repair's and the restore's long
// steps (and every save) run on a thread of their own while this one paints with user input
// held back, so the store is never used from two threads at once. The window only shows their
// lists and answers their questions. The widgets are built in frmMainWidgets.cpp.
#include "gui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>

#include "gui/GuiSupport.h"
#include "gui/clsTray.h"
#include "gui/frmAbout.h"
#include "gui/frmBootingSpeed.h"
#include "gui/frmOptionsAndSettings.h"
#include "gui/frmRestore.h"
#include "gui/frmSpeedIntenetConnection.h"
#include "platform/AtomicFile.h"
#include "repair/Plan.h"
#include "repair/Repair.h"
#include "repair/Report.h"
#include "scan/ExtraSections.h"
#include "scan/ScanDriver.h"
#include "shell/IgnoreList.h"
#include "shell/OpenWith.h"
#include "shell/Settings.h"
#include "shell/ShellStart.h"
#include "shell/StoredOptions.h"

namespace brisquell::gui {

namespace {

constexpr std::string_view kStopScanning = "Stop scanning and then exit.";
constexpr std::string_view kCloseQuestion = "Are you sure want to close this application?";
constexpr int kKeyRole = Qt::UserRole + 1;
const QColor kDarkRed(192, 0, 0);

std::string joined(const std::vector<std::string>& lines, std::string_view between) {
  std::string out;
  for (const auto& l : lines) out.append(out.empty() ? "" : between).append(l);
  return out;
}

// The repair's question goes through here: a Yes shows the window's repair state at once, and
// that state is put away before any message, so no bar stands still behind the final one.
class RepairInterface final : public UserInterface {
 public:
  RepairInterface(UserInterface& ui, std::function<void()> confirmed,
                  std::function<void()> beforeMessage = nullptr)
      : ui_(ui), confirmed_(std::move(confirmed)), beforeMessage_(std::move(beforeMessage)) {}
  bool askYesNo(std::string_view title, std::string_view text) override {
    bool yes = ui_.askYesNo(title, text);
    if (yes && confirmed_) confirmed_();
    return yes;
  }
  void inform(std::string_view title, std::string_view text) override {
    if (beforeMessage_) beforeMessage_();
    ui_.inform(title, text);
  }
  void warn(std::string_view title, std::string_view text) override {
    if (beforeMessage_) beforeMessage_();
    ui_.warn(title, text);
  }

 private:
  UserInterface& ui_;
  std::function<void()> confirmed_, beforeMessage_;
};

// The event pump runs without user input while one of these lives.
class HeldInput {
 public:
  explicit HeldInput(QtEventPump& pump) : pump_(pump), was_(pump.holdInput) {
    pump_.holdInput = true;
  }
  ~HeldInput() { pump_.holdInput = was_; }
  HeldInput(const HeldInput&) = delete;
  HeldInput& operator=(const HeldInput&) = delete;

 private:
  QtEventPump& pump_;
  bool was_;
};

}  // namespace

// What the window sees of a running scan. Labels take the latest text only when the event
// loop is about to run, so a walk of many values costs no label update per value.
class frmMain::Observer final : public ScanObserver {
 public:
  explicit Observer(frmMain& w) : w_(w) {}
  void keyLabel(std::string_view s) override {
    key_.assign(s);
    keyDirty_ = true;
  }
  void valueLabel(std::string_view s) override {
    value_.assign(s);
    valueDirty_ = true;
  }
  void totalProblems(std::size_t n) override { w_.lblTotalErrors->setText(QString::number(n)); }
  void progressRowAdded(std::size_t i) override {
    const ProgressRow& r = w_.ctx_.progress()[i];
    auto* item =
        new QTreeWidgetItem(w_.lvwResultProgress, {qs(r.name), qs(r.status), qs(r.problems)});
    w_.lvwResultProgress->setCurrentItem(item);
    w_.lvwResultProgress->scrollToItem(item);
  }
  void progressRowChanged(std::size_t i) override {
    QTreeWidgetItem* item = w_.lvwResultProgress->topLevelItem(static_cast<int>(i));
    if (!item) return;
    const ProgressRow& r = w_.ctx_.progress()[i];
    item->setText(1, qs(r.status));
    item->setText(2, qs(r.problems));
    for (int c = 0; c < 3; ++c) item->setForeground(c, r.darkRed ? QBrush(kDarkRed) : QBrush());
  }
  /// Labels change at most every 30 ms: enough to read, and each change costs a relayout.
  void flushIfDue() {
    if (!shown_.isValid() || shown_.elapsed() >= 30) flush();
  }
  void flush() {
    shown_.start();
    if (keyDirty_) w_.lblRegistryScan->setText(qs(key_));
    if (valueDirty_) w_.lblRegistryFilesScan->setText(qs(value_));
    keyDirty_ = valueDirty_ = false;
  }

 private:
  frmMain& w_;
  std::string key_, value_;
  bool keyDirty_ = false, valueDirty_ = false;
  QElapsedTimer shown_;
};

frmMain::frmMain(Target& target, UserInterface& ui, std::vector<std::string> arguments,
                 std::string version, QWidget* parent)
    : QMainWindow(parent),
      target_(target),
      ui_(ui),
      ctx_(target),
      restore_(std::make_unique<Restore>(ctx_, ui)),
      arguments_(std::move(arguments)),
      version_(std::move(version)),
      observer_(std::make_unique<Observer>(*this)) {
  runModal = [](QDialog& d) { return d.exec(); };
  runStep = runStepOffWindowThread;
  restore_->setStepRunner([this](const std::function<void()>& step) { runStep(step); });
  openDocument = [this](const std::string& doc, const std::string& ext) {
    OpenWith::open(ui_, doc, ext);
  };
  endProcess = [] { QCoreApplication::exit(0); };
  startProgram = [](const std::vector<std::string>& command) { return OpenWith::start(command); };
  ctx_.setPump(&pump_);
  ctx_.setObserver(observer_.get());
  pump_.beforeEvents = [this] { observer_->flushIfDue(); };
  buildWindow();
  buildMenus();
  connectCommands();
  Form_Load();
}

frmMain::~frmMain() {
  ctx_.setObserver(nullptr);
  ctx_.setPump(nullptr);
}

// What each control and menu item does; the widgets themselves are built in frmMainWidgets.cpp.
void frmMain::connectCommands() {
  connect(tmrUnload, &QTimer::timeout, this, &frmMain::tmrUnload_Timer);
  connect(TmrIncrementProgressBar, &QTimer::timeout, this, &frmMain::TmrIncrementProgressBar_Timer);
  connect(cmdQuickScan, &QPushButton::clicked, this, &frmMain::cmdQuickScan_Click);
  connect(cmdDeepScan, &QPushButton::clicked, this, &frmMain::cmdDeepScan_Click);
  connect(cmdRestore, &QPushButton::clicked, this, &frmMain::cmdRestore_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmMain::cmdCancel_Click);
  connect(vbatvwResults, &QTreeWidget::itemChanged, this,
          [this](QTreeWidgetItem* item, int column) {
            if (column == 0) vbatvwResults_nodeCheck(item);
          });
  connect(vbatvwResults, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { showDetails(item); });
  connect(cmdRepairCorruptFiles, &QPushButton::clicked, this,
          &frmMain::cmdRepairCorruptFiles_Click);
  connect(cmdRestoreNow, &QPushButton::clicked, this, &frmMain::cmdRestoreNow_Click);
  connect(tray, &clsTray::leftDoubleClick, this, &frmMain::mnuShowOrvane_Click);
  connect(tray, &clsTray::rightButtonUp, this, [this] { mnuTray->popup(QCursor::pos()); });

  connect(mnuAQuickScan, &QAction::triggered, this, &frmMain::cmdQuickScan_Click);
  connect(mnuADeepScan, &QAction::triggered, this, &frmMain::cmdDeepScan_Click);
  connect(mnuFixTheProblems, &QAction::triggered, this, &frmMain::cmdRepairCorruptFiles_Click);
  connect(mnuARestore, &QAction::triggered, this, &frmMain::cmdRestore_Click);
  connect(mnuSavePlan, &QAction::triggered, this, &frmMain::mnuSavePlan_Click);
  connect(mnuFixFromPlan, &QAction::triggered, this, &frmMain::mnuFixFromPlan_Click);
  connect(vbatvwResults, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QTreeWidgetItem* item = vbatvwResults->itemAt(at);
    if (!item || !item->parent()) return;  // problems only, not sections
    if (mnuResults->exec(vbatvwResults->viewport()->mapToGlobal(at)) == mnuNeverReport)
      mnuNeverReport_Click(item);
  });
  connect(mnuAInternetSystemCleaner, &QAction::triggered, this,
          &frmMain::mnuAInternetSystemCleaner_Click);
  connect(mnuExit, &QAction::triggered, this, &frmMain::ExitApplication);
  connect(mnuTOptionsAndSettings, &QAction::triggered, this,
          &frmMain::mnuTOptionsAndSettings_Click);
  // The item inverts its own mark; the click handler stores the new state.
  for (int k = 0; k < 13; ++k)
    connect(mnuOptions[static_cast<std::size_t>(k)], &QAction::triggered, this,
            [this, k] { mnuOptions_Click(k); });
  for (int k = 0; k < static_cast<int>(mnuExtraSections.size()); ++k)
    connect(mnuExtraSections[static_cast<std::size_t>(k)], &QAction::triggered, this,
            [this, k] { mnuExtraSections_Click(k); });
  connect(MnuFileSpeedUpMyComputer, &QAction::triggered, this,
          &frmMain::MnuFileSpeedUpMyComputer_Click);
  connect(mnuFileSpeedUpMyInternet, &QAction::triggered, this,
          &frmMain::mnuFileSpeedUpMyInternet_Click);
  connect(mnuFilePrintListofErrors, &QAction::triggered, this,
          &frmMain::mnuFilePrintListofErrors_Click);
  connect(mnuHOnlineHelp, &QAction::triggered, this, &frmMain::mnuHOnlineHelp_Click);
  connect(mnuHelpAboutThisProgram, &QAction::triggered, this,
          &frmMain::mnuHelpAboutThisProgram_Click);
  connect(mnuShowOrvane, &QAction::triggered, this, &frmMain::mnuShowOrvane_Click);
  connect(mnuTrayExit, &QAction::triggered, this, &frmMain::ExitApplication);
}

void frmMain::Form_Load() {
  const QString product = qs(kProductName);
  setWindowTitle(product);
  cmdCancel->hide();
  showPage(Page::Main);
  mnuHelpAboutThisProgram->setText("About " + product);
  mnuHOnlineHelp->setText(product + " Online Help...");
  tray->ShowIcon(this);
  tray->ChangeToolTip(this, qs(kApplicationTitle) + " v" + qs(version_));
  mnuShowOrvane->setText(product + " v" + qs(version_));
  cmdRepairCorruptFiles->setEnabled(false);
  mnuFixTheProblems->setEnabled(false);
  mnuFileScanforProblems->setEnabled(false);
  lblTotalErrors->hide();
  TmrIncrementProgressBar->stop();
  pgbDeletingErrors->hide();
  pgbDeletingErrors->setValue(0);
  lblStatusOfActionTaken->hide();
  lblStatus->setText("Ready");
  setUpColumns();
  Settings settings(ctx_.registry());
  for (int k = 0; k < 13; ++k)
    mnuOptions[static_cast<std::size_t>(k)]->setChecked(
        Settings::truthValue(settings.Menu(k)).value_or(true));
  for (std::size_t k = 0; k < mnuExtraSections.size(); ++k)
    mnuExtraSections[k]->setChecked(
        Settings::truthValue(settings.get(kExtraSections[k].switchName).value_or("False"))
            .value_or(false));
  startInTray_ = settings.chkMinimizeToSysTray() == "True";
}

void frmMain::showAtStart() {
  if (startInTray_ && tray->bRunningInTray() && clsTray::trayAvailable())
    return;  // the tray icon only
  if (startInTray_) {
    showMinimized();
    return;
  }
  show();
  raise();
  activateWindow();
}

void frmMain::showPage(Page page) {
  picMain->setVisible(page == Page::Main);
  picScanning->setVisible(page == Page::Scanning);
  PicResults->setVisible(page == Page::Results);
}

void frmMain::setScanCommandsEnabled(bool on) {
  cmdQuickScan->setEnabled(on);
  cmdDeepScan->setEnabled(on);
  cmdRestore->setEnabled(on);
}

void frmMain::cmdQuickScan_Click() { startScan(ScanMode::Quick); }
void frmMain::cmdDeepScan_Click() { startScan(ScanMode::Deep); }

void frmMain::startScan(ScanMode mode) {
  // A scan command reached from inside a running scan, or while a repair or restore writes.
  if (ctx_.scanning || actionRunning_) return;
  ++scansStarted_;
  lastMode_ = mode;
  IgnoreList::applyTo(ctx_);
  tree_.clear();
  vbatvwResults->clear();
  imgListOfProblems->show();
  imgListOfItemsInBackupFile->hide();
  mnuAQuickScan->setEnabled(false);
  mnuADeepScan->setEnabled(false);
  mnuARestore->setEnabled(false);
  mnuFixTheProblems->setEnabled(false);
  showPage(Page::Scanning);
  lvwResultProgress->clear();
  lvwResultProgress->show();
  PgbScanning->setValue(0);
  PgbScanning->show();
  TmrIncrementProgressBar->start();
  setScanCommandsEnabled(false);
  cmdCancel->show();
  lblRegistryScan->setText("None");
  lblRegistryFilesScan->setText("None");
  lblRegistryScan->show();
  lblRegistryFilesScan->show();
  lblTotalErrors->setText("0");
  pump_.resetGap();
  pump_.flush();
  runScan(ctx_, mode, nullptr);
  observer_->flush();
  EndScan(mode);
}

void frmMain::EndScan(ScanMode mode) {
  cmdRepairCorruptFiles->setEnabled(true);
  mnuFixTheProblems->setEnabled(true);
  cmdRepairCorruptFiles->show();
  mnuFixTheProblems->setVisible(true);
  cmdRestoreNow->hide();
  pgbDeletingErrors->hide();
  TmrIncrementProgressBar->stop();
  mnuAQuickScan->setEnabled(true);
  mnuADeepScan->setEnabled(true);
  mnuARestore->setEnabled(true);
  lblRegistryScan->hide();
  lblRegistryFilesScan->hide();
  setScanCommandsEnabled(true);
  cmdCancel->hide();
  if (!ctx_.problems().empty()) {
    {  // the scan's last stretch and the tree's building would make one long gap
      HeldInput held(pump_);
      pump_.flush();
    }
    tree_.LoadResultsTree(
        ctx_, ResultsTree::kResults,
        mode == ScanMode::Quick ? "cmdQucikScan of frmMain" : "cmdDeepScan of frmMain");
    showResultsTree();
    picFixProblemLowerBase->show();
    picRestoreLowerBase->hide();
    showPage(Page::Results);
    cmdRepairCorruptFiles->setEnabled(true);
    mnuFixTheProblems->setEnabled(true);
    lblTotalErrors->show();
    lblTotalErrors->setText(QString::number(ctx_.problems().size()));
  } else {
    showPage(Page::Main);
    if (!ctx_.bCancelScan) ui_.inform(kProductName, kNoProblemsMessage);
  }
}

void frmMain::cmdCancel_Click() {
  ctx_.bCancelScan = true;
  TmrIncrementProgressBar->stop();
  // The scan commands come back in EndScan, once the cancelled scan has returned: a scan
  // started before then would run inside the old one.
  cmdCancel->hide();
  showPage(Page::Results);
}

void frmMain::TmrIncrementProgressBar_Timer() {
  const int v = PgbScanning->value();
  PgbScanning->setValue(v >= 99 ? 0 : v + 1);
}

void frmMain::showResultsTree() {
  fillingTree_ = true;
  // Thousands of rows take a while: the loop turns meanwhile, without user input, so no click
  // reaches a half-built tree.
  HeldInput held(pump_);
  vbatvwResults->clear();
  std::size_t shown = 0;
  for (const auto& section : tree_.nodes()) {
    auto* s = new QTreeWidgetItem({qs(section->text), qs(section->threatLevel)});
    s->setIcon(0, threatIcon(section->icon));
    s->setData(0, kKeyRole, qs(section->key));
    s->setFlags(s->flags() | Qt::ItemIsUserCheckable);
    s->setCheckState(0, section->checked ? Qt::Checked : Qt::Unchecked);
    for (const auto& child : section->children) {
      auto* c = new QTreeWidgetItem(s, {qs(child->text)});
      c->setIcon(0, threatIcon(child->icon));
      c->setData(0, kKeyRole, qs(child->key));
      c->setFlags(c->flags() | Qt::ItemIsUserCheckable);
      c->setCheckState(0, child->checked ? Qt::Checked : Qt::Unchecked);
      if (const ProblemRecord* row = rowOf(child->key))
        c->setToolTip(0, qs(joined(rowDetails(*row), "\n")));
      pump_.pump();
    }
    vbatvwResults->addTopLevelItem(s);
    s->setExpanded(tree_.nodes()[shown++]->expanded);
    pump_.pump();
  }
  lblDetails->clear();
  fillingTree_ = false;
}

const ProblemRecord* frmMain::rowOf(std::string_view key) {
  if (key.size() < 2 || key[0] != 'C') return nullptr;
  const std::size_t n = std::strtoul(std::string(key.substr(1)).c_str(), nullptr, 10);
  if (n < 1 || n > ctx_.problems().size()) return nullptr;
  return &ctx_.problems()[n - 1];
}

void frmMain::showDetails(QTreeWidgetItem* item) {
  const ProblemRecord* row = item ? rowOf(ss(item->data(0, kKeyRole).toString())) : nullptr;
  lblDetails->setText(row ? qs(joined(rowDetails(*row), "    ")) : QString());
}

QString planFileDialog(QWidget* parent, bool save) {
  const QString title = qs(kProductName) + (save ? " - Save plan" : " - Fix from plan");
  const QString filter = "Review plan (*.json)";
  return save ? QFileDialog::getSaveFileName(parent, title, QString(), filter)
              : QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

void frmMain::mnuSavePlan_Click() {
  if (ctx_.problems().empty()) {
    ui_.inform(kProductName, "There is no scan result to save as a plan.");
    return;
  }
  QString name = choosePlanFile ? choosePlanFile(true) : planFileDialog(this, true);
  if (name.trimmed().isEmpty()) return;
  const std::string text = writePlan({makePlan(ctx_, lastMode_, false)});
  AtomicFile f(ss(name), AtomicFile::Mode::Output);
  Outcome r = f.open();
  if (r && !f.write(text.data(), text.size()))
    r = Outcome::fail(ss(name) + ": could not be written", Status::WriteFault);
  if (r) r = f.commit();
  if (!r) ui_.warn(kProductName, "The plan was not saved: " + r.message());
}

void frmMain::mnuFixFromPlan_Click() {
  if (ctx_.scanning || actionRunning_) return;
  QString name = choosePlanFile ? choosePlanFile(false) : planFileDialog(this, false);
  if (name.trimmed().isEmpty()) return;
  const std::string file = ss(name);
  QFile in(name);
  if (!in.open(QIODevice::ReadOnly)) {
    ui_.warn(kProductName, file + ": the plan cannot be read. Nothing was changed.");
    return;
  }
  const QByteArray bytes = in.readAll();
  Result<std::vector<TargetPlan>> plan =
      parsePlan(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), file);
  Result<const TargetPlan*> part =
      plan ? planFor(*plan, target_, file) : Result<const TargetPlan*>(plan.error());
  Result<PlanCheck> check = part ? checkPlan(ctx_, **part, file) : Result<PlanCheck>(part.error());
  if (!check) {
    ui_.warn(kProductName, check.message());
    return;
  }
  tree_.clear();
  vbatvwResults->clear();
  ctx_.problems().clear();
  for (ProblemRecord& r : check->current) ctx_.problems().add(std::move(r));
  if (!check->changed.empty()) {
    std::string text = "These records of the plan are skipped:";
    for (const std::string& c : check->changed) text += "\r\n" + c;
    ui_.warn(kProductName, text);
  }
  cmdRepairCorruptFiles_Click();
}

void frmMain::mnuNeverReport_Click(QTreeWidgetItem* item) {
  const std::string key = ss(item->data(0, kKeyRole).toString());
  if (key.size() < 2 || key[0] != 'C') return;
  const std::size_t n = std::stoul(key.substr(1));
  if (n == 0 || n > ctx_.problems().size()) return;
  ProblemRecord& r = ctx_.problems()[n - 1];
  auto entry = IgnoreList::entryFor(r);
  if (!entry) {
    ui_.inform(kProductName, "Only registry entries can be left out of later scans.");
    return;
  }
  Outcome stored;
  bool added = false;
  bool saved =
      applyChange(target_, ui_, [&] { stored = IgnoreList::add(ctx_.registry(), *entry, added); });
  if (!saved) return;
  if (!stored) {
    ui_.warn(kProductName, "The ignore list was not changed: " + stored.message());
    return;
  }
  // Left out of the repair as well as of later scans.
  r.checked = false;
  fillingTree_ = true;
  item->setCheckState(0, Qt::Unchecked);
  item->setHidden(true);
  fillingTree_ = false;
}

void frmMain::vbatvwResults_nodeCheck(QTreeWidgetItem* item) {
  if (fillingTree_) return;
  ResultsNode* node = tree_.find(ss(item->data(0, kKeyRole).toString()));
  if (!node) return;
  const bool checked = item->checkState(0) == Qt::Checked;
  tree_.setChecked(ctx_.problems(), *node, checked);
  // Show what the model did to the children.
  fillingTree_ = true;
  for (int i = 0; i < item->childCount(); ++i) {
    QTreeWidgetItem* c = item->child(i);
    if (ResultsNode* n = tree_.find(ss(c->data(0, kKeyRole).toString())))
      c->setCheckState(0, n->checked ? Qt::Checked : Qt::Unchecked);
  }
  fillingTree_ = false;
}

void frmMain::cmdRepairCorruptFiles_Click() {
  if (actionRunning_) return;  // one repair or restore at a time
  const int found = static_cast<int>(ctx_.problems().size());
  RepairInterface ui(
      ui_,
      [this, found] {
        cmdRepairCorruptFiles->setEnabled(false);
        mnuFixTheProblems->setEnabled(false);
        lblStatusOfActionTaken->setText("Fixing the bugs...");
        lblStatusOfActionTaken->show();
        pgbDeletingErrors->show();
        pgbDeletingErrors->setMaximum(found + 1);
        pgbDeletingErrors->setValue(0);
        pump_.flush();
      },
      [this] {
        lvwResultProgress->hide();
        lblStatusOfActionTaken->hide();
        pgbDeletingErrors->hide();
        PgbScanning->hide();
      });
  const auto running = beginAction();
  HeldTarget held(target_);
  LatestValue<std::size_t> processed(pgbDeletingErrors, [this](std::size_t n) {
    pgbDeletingErrors->setValue(static_cast<int>(n));
  });
  Repair repair(ctx_, ui);
  repair.setProgress([&processed](std::size_t n) { processed.set(n); });
  // The backup set and the changes are written while the window paints; the questions and the
  // messages stay on this thread.
  repair.setStepRunner([this](const std::function<void()>& step) { runStep(step); });
  RepairResult r = repair.cmdRepairCorruptFiles_Click();
  using Outcome = RepairResult::Outcome;
  if (r.outcome == Outcome::Declined) return;
  pgbDeletingErrors->setValue(static_cast<int>(r.fixed));
  if (r.outcome == Outcome::Refused || r.outcome == Outcome::BackupFailed ||
      r.outcome == Outcome::SaveFailed) {
    // Nothing was removed: the results stay for another try.
    lblStatusOfActionTaken->hide();
    pgbDeletingErrors->hide();
    cmdRepairCorruptFiles->setEnabled(true);
    mnuFixTheProblems->setEnabled(true);
    return;
  }
  for (auto& row : ctx_.sections()) {
    row.status.clear();
    pump_.pump();
  }
  lvwResultProgress->hide();
  lblStatusOfActionTaken->hide();
  pgbDeletingErrors->hide();
  PgbScanning->hide();
  showPage(Page::Main);
}

int frmMain::modal(QDialog& d) { return runModal ? runModal(d) : d.exec(); }

std::shared_ptr<void> frmMain::beginAction() {
  actionRunning_ = true;
  return std::shared_ptr<void>(nullptr, [this](void*) {
    actionRunning_ = false;
    if (!closeWaiting_) return;
    closeWaiting_ = false;
    // After the action's own messages, as if the close came now.
    QTimer::singleShot(0, this, [this] { close(); });
  });
}

void frmMain::cmdRestore_Click() {
  if (actionRunning_) return;  // one repair or restore at a time
  {
    frmRestore dialog(*restore_, ui_, selectedBackup_, this);
    modal(dialog);
  }
  if (selectedBackup_.empty()) return;
  const auto running = beginAction();  // the backup file is read off this thread
  imgListOfProblems->hide();
  imgListOfItemsInBackupFile->show();
  cmdRestoreNow->setEnabled(true);
  showPage(Page::Results);
  picRestoreLowerBase->show();
  picFixProblemLowerBase->hide();
  lblTotalErrors->hide();
  if (restore_->cmdRestore_Click(selectedBackup_, &tree_)) {
    showResultsTree();
    showPage(Page::Results);
    cmdRepairCorruptFiles->hide();
    mnuFixTheProblems->setVisible(false);
    cmdRestoreNow->show();
  } else {
    vbatvwResults->clear();
    cmdRestoreNow->setEnabled(false);
  }
}

void frmMain::cmdRestoreNow_Click() {
  if (actionRunning_) return;  // one repair or restore at a time
  const auto running = beginAction();
  HeldTarget held(target_);
  cmdRestoreNow->setEnabled(false);
  LatestValue<std::string> status(lblStatusOfActionTaken, [this](const std::string& s) {
    lblStatusOfActionTaken->setText(qs(s));
  });
  restore_->setStatus([&status](std::string_view s) { status.set(std::string(s)); });
  RestoreResult r = restore_->cmdRestoreNow_Click();
  restore_->setStatus(nullptr);
  if (r.outcome == RestoreResult::Outcome::NothingLoaded) return;
  if (r.outcome == RestoreResult::Outcome::Refused) {  // the loaded set stays for another try
    cmdRestoreNow->setEnabled(true);
    return;
  }
  showPage(Page::Main);
  lvwResultProgress->hide();
  lblStatusOfActionTaken->hide();
  pgbDeletingErrors->hide();
}

void frmMain::mnuOptions_Click(int k) {
  // QAction has already inverted the mark.
  const bool on = mnuOptions[static_cast<std::size_t>(k)]->isChecked();
  const bool saved = applyChange(target_, ui_, [&]() -> Outcome {
    Settings settings(ctx_.registry());
    const std::string name = "Menu" + std::to_string(k);
    if (settings.setOption(name, on)) return {};
    return Error{Status::AccessDenied, "the registry refused " + name};
  });
  if (!saved) mnuOptions[static_cast<std::size_t>(k)]->setChecked(!on);
}

void frmMain::mnuExtraSections_Click(int k) {
  const auto i = static_cast<std::size_t>(k);
  const bool on = mnuExtraSections[i]->isChecked();
  const bool saved = applyChange(target_, ui_, [&] {
    Settings settings(ctx_.registry());
    settings.setOption(kExtraSections[i].switchName, on);
  });
  if (!saved) mnuExtraSections[i]->setChecked(!on);
}

void frmMain::mnuTOptionsAndSettings_Click() {
  frmOptionsAndSettings dialog(ctx_, ui_, runAtStartupProgram(target_, currentProgramPath()), this);
  modal(dialog);
}

void frmMain::MnuFileSpeedUpMyComputer_Click() {
  frmBootingSpeed dialog(ctx_, ui_, this);
  modal(dialog);
}

void frmMain::mnuFileSpeedUpMyInternet_Click() {
  frmSpeedIntenetConnection dialog(ctx_, ui_, this);
  modal(dialog);
}

void frmMain::mnuFilePrintListofErrors_Click() {
  if (ctx_.problems().empty()) return;
  QString name = QFileDialog::getSaveFileName(this, qs(kProductName) + " - Save as", QString(),
                                              "Rich Text Format (*.doc)");
  if (name.trimmed().isEmpty()) return;
  Report(ctx_, ui_).mnuFilePrintListofErrors_Click(ss(name));
}

void frmMain::mnuAInternetSystemCleaner_Click() {
  const std::string program = ctx_.target().machine().installFolder + "\\drevlin.exe";
  std::uint32_t attrs = 0;
  if (ctx_.files().attributes(program, attrs) != Status::Success || (attrs & fileattr::Directory)) {
    ui_.inform(kProductName, program + " file not found.");
    return;
  }
  // A Windows program of a prefix or an offline volume is not this host's to run.
  if (!target_.isRunningSystem()) {
    ui_.inform(kProductName, program + " cannot be started here: it is a program of the " +
                                 target_.kind() + " " + target_.location() +
                                 ", not of the system " + std::string(kProductName) + " runs on.");
    return;
  }
  auto host = ctx_.files().hostPath(program);
  if (host && startProgram && startProgram({*host})) return;
  ui_.inform(kProductName, program + " could not be started.");
}

std::string frmMain::helpPagePath() const {
  QString beside = QCoreApplication::applicationDirPath() + "/BrisquellHelp.htm";
  if (QFileInfo::exists(beside)) return ss(beside);
  if (std::string installed = installedHelpPage(); !installed.empty()) return installed;
#ifdef BRISQUELL_HELP_FALLBACK
  return BRISQUELL_HELP_FALLBACK;
#else
  return ss(beside);
#endif
}

void frmMain::mnuHOnlineHelp_Click() { openDocument(helpPagePath(), "html"); }

void frmMain::mnuHelpAboutThisProgram_Click() {
  frmAbout dialog(ctx_, ui_, version_, this);
  dialog.openDocument = openDocument;
  modal(dialog);
}

void frmMain::mnuShowOrvane_Click() {
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
  if (mnuTray->isVisible()) mnuTray->hide();
}

void frmMain::Form_Activate() {
  if (autoScan_ || !hasQuickSwitch(arguments_)) return;
  autoScan_ = true;
  cmdQuickScan_Click();
}

bool frmMain::event(QEvent* e) {
  const bool handled = QMainWindow::event(e);
  if (e->type() == QEvent::WindowActivate && !autoScan_ && hasQuickSwitch(arguments_))
    QTimer::singleShot(0, this, &frmMain::Form_Activate);  // after the window has painted
  return handled;
}

void frmMain::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized)) return;
  mnuTrayExit->setEnabled(true);
  mnuShowOrvane->setText(qs(kProductName) + " v" + qs(version_));
  // Without a tray there would be no way back to a hidden window: it stays minimized.
  if (tray->bRunningInTray() && clsTray::trayAvailable())
    QTimer::singleShot(0, this, &QWidget::hide);
}

void frmMain::closeEvent(QCloseEvent* e) {
  e->ignore();
  if (actionRunning_) {  // the registry is being written: the close comes after
    closeWaiting_ = true;
    return;
  }
  if (ctx_.scanning) {
    ui_.inform(kProductName, kStopScanning);
    return;
  }
  if (ui_.askYesNo(kApplicationTitle, kCloseQuestion)) tmrUnload->start();
}

void frmMain::tmrUnload_Timer() {
  if (actionRunning_) return;  // fires again once the repair or restore has returned
  tmrUnload->stop();
  endSteps();
}

void frmMain::ExitApplication() {
  if (actionRunning_) {
    closeWaiting_ = true;
    return;
  }
  if (ctx_.scanning) {
    ui_.inform(kProductName, kStopScanning);
    return;
  }
  if (!ui_.askYesNo(kApplicationTitle, kCloseQuestion)) return;
  endSteps();
}

void frmMain::endSteps() {
  ctx_.bCancelScan = true;
  tray->RemoveIcon(this);
  if (endProcess) endProcess();
}

}  // namespace brisquell::gui
