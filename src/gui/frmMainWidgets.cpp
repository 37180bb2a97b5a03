// The main window's widgets and menus: built here, in their order on screen; what they do
// when used is wired up in frmMain.cpp.
#include "gui/frmMain.h"

#include <QAction>
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
#include "scan/ExtraSections.h"
#include "scan/ScanDriver.h"

namespace brisquell::gui {

namespace {

constexpr const char* kWelcome =
    "Brisquell can safely clean and repair your Windows registry problems. It uses an intelligent "
    "and high-performance detection engine to quickly identify missing and invalid references in "
    "your Windows registry. By using Brisquell regularly to clean your registry, your system "
    "should not only be more stable but it will also help Windows and your software run faster.";
constexpr const char* kMenuCaptions[13] = {
    "Registry Integrity", "ActiveX \\ COM",    "ActiveX \\ COM Subsections",
    "File Extensions",    "Application Paths", "Device Driver",
    "Windows Fonts",      "Help Files",        "Microsoft Shared",
    "Windows Startup",    "Uninstall Section", "VxD Section",
    "MS-Dos Shortcuts"};

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

}  // namespace

void frmMain::buildWindow() {
  setWindowIcon(programIcon());
  resize(760, 540);
  tmrUnload = new QTimer(this);
  tmrUnload->setInterval(100);
  TmrIncrementProgressBar = new QTimer(this);
  TmrIncrementProgressBar->setInterval(50);

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
  auto* hint = new QLabel(
      "Choose <b>Quick Scan</b> to check the registry sections, or <b>Deep Scan</b> "
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
  lblDetails = new QLabel(PicResults);
  lblDetails->setWordWrap(true);
  lblDetails->setTextFormat(Qt::PlainText);
  lblDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblDetails->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  resultsLayout->addWidget(lblDetails);

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
  resultsLayout->addWidget(picFixProblemLowerBase);

  picRestoreLowerBase = new QWidget(PicResults);
  auto* restoreLayout = new QHBoxLayout(picRestoreLowerBase);
  restoreLayout->setContentsMargins(0, 0, 0, 0);
  restoreLayout->addStretch(1);
  cmdRestoreNow = bigButton("Restore Now", threatIcon(103), picRestoreLowerBase);
  restoreLayout->addWidget(cmdRestoreNow);
  resultsLayout->addWidget(picRestoreLowerBase);
  pages->addWidget(PicResults);

  setCentralWidget(central);
  lblStatus = new QLabel("####", this);
  statusBar()->addWidget(lblStatus, 1);

  tray = new clsTray(this);
}

void frmMain::buildMenus() {
  mnuAction = menuBar()->addMenu("Action");
  mnuAQuickScan = mnuAction->addAction("&Quick Scan");
  mnuADeepScan = mnuAction->addAction("&Deep Scan");
  mnuFixTheProblems = mnuAction->addAction("&Fix the Problems");
  mnuARestore = mnuAction->addAction("&Restore");
  mnuSavePlan = mnuAction->addAction("Save plan…");
  mnuFixFromPlan = mnuAction->addAction("Fix from plan…");
  mnuAInternetSystemCleaner = mnuAction->addAction("Internet && System &Cleaner");
  mnuAInternetSystemCleaner->setVisible(false);
  mnuAction->addSeparator();
  mnuExit = mnuAction->addAction("E&xit");

  mnuTools = menuBar()->addMenu("&Settings");
  mnuTOptionsAndSettings = mnuTools->addAction("Options");
  mnuTools->addSeparator();
  for (int k = 0; k < 13; ++k) {
    QAction* a = mnuTools->addAction(kMenuCaptions[k]);
    a->setCheckable(true);
    mnuOptions[static_cast<std::size_t>(k)] = a;
  }
  mnuTools->addSeparator();
  for (std::size_t k = 0; k < mnuExtraSections.size(); ++k) {
    QAction* a = mnuTools->addAction(QString::fromUtf8(
        kExtraSections[k].name.data(), static_cast<int>(kExtraSections[k].name.size())));
    a->setCheckable(true);
    mnuExtraSections[k] = a;
  }

  // The File menu is kept hidden: its windows stay reachable for whenever it is shown.
  mnuFile = menuBar()->addMenu("File");
  mnuFileScanforProblems = mnuFile->addAction("Scan for problems");
  MnuFileSpeedUpMyComputer = mnuFile->addAction("Speed Up My Computer");
  mnuFileSpeedUpMyInternet = mnuFile->addAction("Speed Up My Internet");
  mnuFilePrintListofErrors = mnuFile->addAction("Print List of Errors");
  mnuFile->addSeparator();
  mnuFileExit = mnuFile->addAction("Exit");
  mnuFile->menuAction()->setVisible(false);

  mnuHelp = menuBar()->addMenu("Help");
  mnuHOnlineHelp = mnuHelp->addAction("");
  mnuHelp->addSeparator();
  mnuHelpAboutThisProgram = mnuHelp->addAction("");

  mnuTray = new QMenu("Tray Menu", this);
  mnuShowOrvane = mnuTray->addAction("Show Orvane");
  mnuCloseThisMenu = mnuTray->addAction("Close this menu");
  mnuTray->addSeparator();
  mnuTrayExit = mnuTray->addAction("Exit");
}

void frmMain::setUpColumns() {
  vbatvwResults->setContextMenuPolicy(Qt::CustomContextMenu);
  mnuResults = new QMenu(this);
  mnuNeverReport = mnuResults->addAction("Never report this");
  vbatvwResults->setColumnCount(2);
  vbatvwResults->setHeaderLabels({"Problems", "Threat Level"});
  vbatvwResults->header()->setStretchLastSection(false);
  vbatvwResults->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  vbatvwResults->header()->setSectionResizeMode(1, QHeaderView::Fixed);
  vbatvwResults->setColumnWidth(1, 90);
  vbatvwResults->setIconSize(QSize(16, 16));
}

}  // namespace brisquell::gui
