// The main window. The scan, repair and restore run on this thread through the core; the
// window only shows their lists and answers their questions.
#include "gui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/GuiSupport.h"
#include "gui/clsTray.h"
#include "gui/frmAbout.h"
#include "gui/frmBootingSpeed.h"
#include "gui/frmOptionsAndSettings.h"
#include "gui/frmRestore.h"
#include "gui/frmSpeedIntenetConnection.h"
#include "repair/Repair.h"
#include "repair/Report.h"
#include "scan/ScanDriver.h"
#include "shell/OpenWith.h"
#include "shell/Settings.h"
#include "shell/ShellStart.h"

namespace brisquell::gui {

namespace {

constexpr const char* kWelcome =
    "Brisquell can safely clean and repair your Windows registry problems. It uses an intelligent "
    "and high-performance detection engine to quickly identify missing and invalid references in "
    "your Windows registry. By using Brisquell regularly to clean your registry, your system "
    "should not only be more stable but it will also help Windows and your software run faster.";
constexpr const char* kMenuCaptions[13] = {
    "Registry Integrity", "ActiveX \\ COM", "ActiveX \\ COM Subsections", "File Extensions",
    "Application Paths",  "Device Driver", "Windows Fonts",            "Help Files",
    "Microsoft Shared",   "Windows Startup", "Uninstall Section",      "VxD Section",
    "MS-Dos Shortcuts"};
constexpr std::string_view kStopScanning = "Stop scanning and then exit.";
constexpr std::string_view kCloseQuestion = "Are you sure want to close this application?";
constexpr int kKeyRole = Qt::UserRole + 1;
const QColor kDarkRed(192, 0, 0);

// A label whose long text never widens the window.
QLabel* elidingLabel(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  l->setMinimumWidth(1);
  return l;
}

QPushButton* bigButton(const QString& text, const QIcon& icon, QWidget* parent) {
  auto* b = new QPushButton(icon, text, parent);
  b->setIconSize(QSize(24, 24));
  b->setMinimumHeight(44);
  b->setMinimumWidth(140);
  return b;
}

// The repair's question goes through here: a Yes shows the window's repair state at once.
class RepairInterface final : public UserInterface {
 public:
  RepairInterface(UserInterface& ui, std::function<void()> confirmed)
      : ui_(ui), confirmed_(std::move(confirmed)) {}
  bool askYesNo(std::string_view title, std::string_view text) override {
    bool yes = ui_.askYesNo(title, text);
    if (yes && confirmed_) confirmed_();
    return yes;
  }
  void inform(std::string_view title, std::string_view text) override { ui_.inform(title, text); }
  void warn(std::string_view title, std::string_view text) override { ui_.warn(title, text); }

 private:
  UserInterface& ui_;
  std::function<void()> confirmed_;
};

}  // namespace

// What the window sees of a running scan. Labels take the latest text only when the event
// loop is about to run, so a walk of many values costs no label update per value.
class frmMain::Observer final : public ScanObserver {
 public:
  explicit Observer(frmMain& w) : w_(w) {}
  void keyLabel(std::string_view s) override { key_.assign(s); keyDirty_ = true; }
  void valueLabel(std::string_view s) override { value_.assign(s); valueDirty_ = true; }
  void totalProblems(std::size_t n) override { w_.lblTotalErrors->setText(QString::number(n)); }
  void progressRowAdded(std::size_t i) override {
    const ProgressRow& r = w_.ctx_.progress()[i];
    auto* item = new QTreeWidgetItem(w_.lvwResultProgress, {qs(r.name), qs(r.status), qs(r.problems)});
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
  openDocument = [this](const std::string& doc, const std::string& ext) { OpenWith::open(ui_, doc, ext); };
  endProcess = [] { QCoreApplication::exit(0); };
  ctx_.setPump(&pump_);
  ctx_.setObserver(observer_.get());
  pump_.beforeEvents = [this] { observer_->flushIfDue(); };
  buildWindow();
  buildMenus();
  Form_Load();
}

frmMain::~frmMain() {
  ctx_.setObserver(nullptr);
  ctx_.setPump(nullptr);
}

void frmMain::buildWindow() {
  setWindowIcon(programIcon());
  resize(760, 540);
  tmrUnload = new QTimer(this);
  tmrUnload->setInterval(100);
  connect(tmrUnload, &QTimer::timeout, this, &frmMain::tmrUnload_Timer);
  TmrIncrementProgressBar = new QTimer(this);
  TmrIncrementProgressBar->setInterval(50);
  connect(TmrIncrementProgressBar, &QTimer::timeout, this, &frmMain::TmrIncrementProgressBar_Timer);

  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  Image1 = new QLabel(central);
  Image1->setPixmap(headerPicture(2400, 64, qs(kProductName), "Registry cleaner"));
  Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  Image1->setStyleSheet("background: #1a4c9a;");
  outer->addWidget(Image1);

  auto* body = new QHBoxLayout;
  body->setContentsMargins(10, 10, 10, 10);
  outer->addLayout(body, 1);
  auto* side = new QVBoxLayout;
  cmdQuickScan = bigButton("Quick Scan", threatIcon(102), central);
  cmdQuickScan->setToolTip("Scan the registry sections");
  cmdDeepScan = bigButton("Deep Scan", threatIcon(100), central);
  cmdDeepScan->setToolTip("Scan the registry sections and the shortcuts on the fixed drives");
  cmdRestore = bigButton("Restore", threatIcon(103), central);
  cmdRestore->setToolTip("Write back what an earlier repair removed");
  side->addWidget(cmdQuickScan);
  side->addWidget(cmdDeepScan);
  side->addWidget(cmdRestore);
  side->addStretch(1);
  body->addLayout(side);
  connect(cmdQuickScan, &QPushButton::clicked, this, &frmMain::cmdQuickScan_Click);
  connect(cmdDeepScan, &QPushButton::clicked, this, &frmMain::cmdDeepScan_Click);
  connect(cmdRestore, &QPushButton::clicked, this, &frmMain::cmdRestore_Click);

  auto* pages = new QVBoxLayout;
  body->addLayout(pages, 1);

  // Start page.
  picMain = new QWidget(central);
  auto* mainLayout = new QVBoxLayout(picMain);
  auto* welcomeTitle = new QLabel("Welcome to " + qs(kProductName), picMain);
  QFont tf = welcomeTitle->font();
  tf.setPointSizeF(tf.pointSizeF() * 1.6);
  tf.setBold(true);
  welcomeTitle->setFont(tf);
  Label1 = new QLabel(kWelcome, picMain);
  Label1->setWordWrap(true);
  mainLayout->addWidget(welcomeTitle);
  mainLayout->addSpacing(8);
  mainLayout->addWidget(Label1);
  mainLayout->addSpacing(12);
  auto* hint = new QLabel("Choose <b>Quick Scan</b> to check the registry sections, or <b>Deep Scan</b> "
                          "to check the shortcuts on your fixed drives as well. Nothing is changed "
                          "until you press <b>Fix the Problems</b>, and a backup is taken first.",
                          picMain);
  hint->setWordWrap(true);
  mainLayout->addWidget(hint);
  mainLayout->addStretch(1);
  pages->addWidget(picMain);

  // Scan page.
  picScanning = new QWidget(central);
  auto* scanLayout = new QVBoxLayout(picScanning);
  auto* scanTitle = new QLabel("Scanning your registry...", picScanning);
  scanTitle->setFont(tf);
  scanLayout->addWidget(scanTitle);
  lblRegistryScan = elidingLabel("None", picScanning);
  lblRegistryFilesScan = elidingLabel("None", picScanning);
  lblRegistryFilesScan->setStyleSheet("color: #555;");
  scanLayout->addWidget(lblRegistryScan);
  scanLayout->addWidget(lblRegistryFilesScan);
  PgbScanning = new QProgressBar(picScanning);
  PgbScanning->setRange(0, 100);
  PgbScanning->setTextVisible(false);
  scanLayout->addWidget(PgbScanning);
  lvwResultProgress = new QTreeWidget(picScanning);
  lvwResultProgress->setHeaderLabels({"Registry Section", "Status", "Problems"});
  lvwResultProgress->setRootIsDecorated(false);
  lvwResultProgress->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  lvwResultProgress->header()->setStretchLastSection(false);
  lvwResultProgress->setColumnWidth(1, 90);
  lvwResultProgress->setColumnWidth(2, 150);
  scanLayout->addWidget(lvwResultProgress, 1);
  auto* cancelRow = new QHBoxLayout;
  cancelRow->addStretch(1);
  cmdCancel = new QPushButton("Cancel", picScanning);
  cmdCancel->setToolTip("Click this button if you are sure you want to cancel the scan.");
  cancelRow->addWidget(cmdCancel);
  scanLayout->addLayout(cancelRow);
  connect(cmdCancel, &QPushButton::clicked, this, &frmMain::cmdCancel_Click);
  pages->addWidget(picScanning);

  // Results page.
  PicResults = new QWidget(central);
  auto* resultsLayout = new QVBoxLayout(PicResults);
  imgListOfProblems = new QLabel("Problems found in your registry", PicResults);
  imgListOfProblems->setFont(tf);
  imgListOfItemsInBackupFile = new QLabel("Items in the backup file", PicResults);
  imgListOfItemsInBackupFile->setFont(tf);
  resultsLayout->addWidget(imgListOfProblems);
  resultsLayout->addWidget(imgListOfItemsInBackupFile);
  vbatvwResults = new QTreeWidget(PicResults);
  resultsLayout->addWidget(vbatvwResults, 1);
  connect(vbatvwResults, &QTreeWidget::itemChanged, this,
          [this](QTreeWidgetItem* item, int column) {
            if (column == 0) vbatvwResults_nodeCheck(item);
          });

  picFixProblemLowerBase = new QWidget(PicResults);
  auto* fixLayout = new QHBoxLayout(picFixProblemLowerBase);
  fixLayout->setContentsMargins(0, 0, 0, 0);
  auto* totalCaption = new QLabel("Problems found:", picFixProblemLowerBase);
  lblTotalErrors = new QLabel("0", picFixProblemLowerBase);
  QFont bold = lblTotalErrors->font();
  bold.setBold(true);
  lblTotalErrors->setFont(bold);
  lblStatusOfActionTaken = new QLabel("Deleteing the corrupt files", picFixProblemLowerBase);
  pgbDeletingErrors = new QProgressBar(picFixProblemLowerBase);
  cmdRepairCorruptFiles = bigButton("Fix the Problems", threatIcon(102), picFixProblemLowerBase);
  fixLayout->addWidget(totalCaption);
  fixLayout->addWidget(lblTotalErrors);
  fixLayout->addSpacing(12);
  fixLayout->addWidget(lblStatusOfActionTaken);
  fixLayout->addWidget(pgbDeletingErrors, 1);
  fixLayout->addStretch(0);
  fixLayout->addWidget(cmdRepairCorruptFiles);
  connect(cmdRepairCorruptFiles, &QPushButton::clicked, this, &frmMain::cmdRepairCorruptFiles_Click);
  resultsLayout->addWidget(picFixProblemLowerBase);

  picRestoreLowerBase = new QWidget(PicResults);
  auto* restoreLayout = new QHBoxLayout(picRestoreLowerBase);
  restoreLayout->setContentsMargins(0, 0, 0, 0);
  restoreLayout->addStretch(1);
  cmdRestoreNow = bigButton("Restore Now", threatIcon(103), picRestoreLowerBase);
  restoreLayout->addWidget(cmdRestoreNow);
  connect(cmdRestoreNow, &QPushButton::clicked, this, &frmMain::cmdRestoreNow_Click);
  resultsLayout->addWidget(picRestoreLowerBase);
  pages->addWidget(PicResults);

  setCentralWidget(central);
  lblStatus = new QLabel("####", this);
  statusBar()->addWidget(lblStatus, 1);

  tray = new clsTray(this);
  connect(tray, &clsTray::leftDoubleClick, this, &frmMain::mnuShowOrvane_Click);
  connect(tray, &clsTray::rightButtonUp, this, [this] { mnuTray->popup(QCursor::pos()); });
}

void frmMain::buildMenus() {
  mnuAction = menuBar()->addMenu("Action");
  mnuAQuickScan = mnuAction->addAction("&Quick Scan", this, &frmMain::cmdQuickScan_Click);
  mnuADeepScan = mnuAction->addAction("&Deep Scan", this, &frmMain::cmdDeepScan_Click);
  mnuFixTheProblems = mnuAction->addAction("&Fix the Problems", this, &frmMain::cmdRepairCorruptFiles_Click);
  mnuARestore = mnuAction->addAction("&Restore", this, &frmMain::cmdRestore_Click);
  mnuAInternetSystemCleaner =
      mnuAction->addAction("Internet && System &Cleaner", this, &frmMain::mnuAInternetSystemCleaner_Click);
  mnuAInternetSystemCleaner->setVisible(false);
  mnuAction->addSeparator();
  mnuExit = mnuAction->addAction("E&xit", this, &frmMain::ExitApplication);

  mnuTools = menuBar()->addMenu("&Settings");
  mnuTOptionsAndSettings = mnuTools->addAction("Options", this, &frmMain::mnuTOptionsAndSettings_Click);
  mnuTools->addSeparator();
  for (int k = 0; k < 13; ++k) {
    mnuOptions[static_cast<std::size_t>(k)] = mnuTools->addAction(kMenuCaptions[k]);
    QAction* a = mnuOptions[static_cast<std::size_t>(k)];
    a->setCheckable(true);
    // The item inverts its own mark; the click handler stores the new state.
    connect(a, &QAction::triggered, this, [this, k] { mnuOptions_Click(k); });
  }

  // The File menu is kept hidden: its windows stay reachable for whenever it is shown.
  mnuFile = menuBar()->addMenu("File");
  mnuFileScanforProblems = mnuFile->addAction("Scan for problems");
  MnuFileSpeedUpMyComputer = mnuFile->addAction("Speed Up My Computer", this, &frmMain::MnuFileSpeedUpMyComputer_Click);
  mnuFileSpeedUpMyInternet = mnuFile->addAction("Speed Up My Internet", this, &frmMain::mnuFileSpeedUpMyInternet_Click);
  mnuFilePrintListofErrors = mnuFile->addAction("Print List of Errors", this, &frmMain::mnuFilePrintListofErrors_Click);
  mnuFile->addSeparator();
  mnuFileExit = mnuFile->addAction("Exit");
  mnuFile->menuAction()->setVisible(false);

  mnuHelp = menuBar()->addMenu("Help");
  mnuHOnlineHelp = mnuHelp->addAction("", this, &frmMain::mnuHOnlineHelp_Click);
  mnuHelp->addSeparator();
  mnuHelpAboutThisProgram = mnuHelp->addAction("", this, &frmMain::mnuHelpAboutThisProgram_Click);

  mnuTray = new QMenu("Tray Menu", this);
  mnuShowOrvane = mnuTray->addAction("Show Orvane", this, &frmMain::mnuShowOrvane_Click);
  mnuCloseThisMenu = mnuTray->addAction("Close this menu");
  mnuTray->addSeparator();
  mnuTrayExit = mnuTray->addAction("Exit", this, &frmMain::ExitApplication);
}

void frmMain::setUpColumns() {
  vbatvwResults->setColumnCount(2);
  vbatvwResults->setHeaderLabels({"Problems", "Threat Level"});
  vbatvwResults->header()->setStretchLastSection(false);
  vbatvwResults->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  vbatvwResults->header()->setSectionResizeMode(1, QHeaderView::Fixed);
  vbatvwResults->setColumnWidth(1, 90);
  vbatvwResults->setIconSize(QSize(16, 16));
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
    mnuOptions[static_cast<std::size_t>(k)]->setChecked(Settings::truthValue(settings.Menu(k)).value_or(true));
  startInTray_ = settings.chkMinimizeToSysTray() == "True";
}

void frmMain::showAtStart() {
  if (startInTray_ && tray->bRunningInTray() && clsTray::trayAvailable()) return;  // the tray icon only
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
  if (ctx_.scanning) return;  // a scan command reached from inside a running scan
  ++scansStarted_;
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
    tree_.LoadResultsTree(ctx_, ResultsTree::kResults,
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
  vbatvwResults->clear();
  QList<QTreeWidgetItem*> top;
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
      c->setToolTip(0, qs(child->text));
    }
    top.append(s);
  }
  vbatvwResults->addTopLevelItems(top);
  for (int i = 0; i < vbatvwResults->topLevelItemCount(); ++i)
    vbatvwResults->topLevelItem(i)->setExpanded(tree_.nodes()[static_cast<std::size_t>(i)]->expanded);
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
  const int found = static_cast<int>(ctx_.problems().size());
  RepairInterface ui(ui_, [this, found] {
    cmdRepairCorruptFiles->setEnabled(false);
    mnuFixTheProblems->setEnabled(false);
    lblStatusOfActionTaken->setText("Fixing the bugs...");
    lblStatusOfActionTaken->show();
    pgbDeletingErrors->show();
    pgbDeletingErrors->setMaximum(found + 1);
    pgbDeletingErrors->setValue(0);
    pump_.flush();
  });
  Repair repair(ctx_, ui);
  repair.setProgress([this](std::size_t n) { pgbDeletingErrors->setValue(static_cast<int>(n)); });
  RepairResult r = repair.cmdRepairCorruptFiles_Click();
  using Outcome = RepairResult::Outcome;
  if (r.outcome == Outcome::Declined) return;
  pgbDeletingErrors->setValue(static_cast<int>(r.fixed));
  if (r.outcome == Outcome::BackupFailed || r.outcome == Outcome::SaveFailed) {
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

void frmMain::cmdRestore_Click() {
  {
    frmRestore dialog(*restore_, ui_, selectedBackup_, this);
    modal(dialog);
  }
  if (selectedBackup_.empty()) return;
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
  cmdRestoreNow->setEnabled(false);
  restore_->setStatus([this](std::string_view s) { lblStatusOfActionTaken->setText(qs(s)); });
  RestoreResult r = restore_->cmdRestoreNow_Click();
  restore_->setStatus(nullptr);
  if (r.outcome == RestoreResult::Outcome::NothingLoaded) return;
  showPage(Page::Main);
  lvwResultProgress->hide();
  lblStatusOfActionTaken->hide();
  pgbDeletingErrors->hide();
}

void frmMain::mnuOptions_Click(int k) {
  // QAction has already inverted the mark.
  const bool on = mnuOptions[static_cast<std::size_t>(k)]->isChecked();
  Settings settings(ctx_.registry());
  settings.setOption("Menu" + std::to_string(k), on);
  saveChanges(target_, ui_);
}

void frmMain::mnuTOptionsAndSettings_Click() {
  frmOptionsAndSettings dialog(ctx_, ui_, currentProgramPath(), this);
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
  auto host = ctx_.files().hostPath(program);
  if (host && ctx_.files().attributes(program, attrs) == Status::Success && OpenWith::start({*host})) return;
  ui_.inform(kProductName, program + " file not found.");
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
  if (tray->bRunningInTray() && clsTray::trayAvailable()) QTimer::singleShot(0, this, &QWidget::hide);
}

void frmMain::closeEvent(QCloseEvent* e) {
  e->ignore();
  if (ctx_.scanning) {
    ui_.inform(kProductName, kStopScanning);
    return;
  }
  if (ui_.askYesNo(kApplicationTitle, kCloseQuestion)) tmrUnload->start();
}

void frmMain::tmrUnload_Timer() {
  tmrUnload->stop();
  endSteps();
}

void frmMain::ExitApplication() {
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
