// The main window: start page, scan page and results page, the menus, the tray, the exit.
#pragma once

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/QtEventPump.h"
#include "platform/UserInterface.h"
#include "repair/Restore.h"
#include "repair/ResultsTree.h"
#include "scan/ScanContext.h"

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace brisquell::gui {

class clsTray;

class frmMain : public QMainWindow {
  Q_OBJECT
 public:
  /// arguments: the process command line (for "-Quick"); version: the version text.
  frmMain(Target& target, UserInterface& ui, std::vector<std::string> arguments,
          std::string version, QWidget* parent = nullptr);
  ~frmMain() override;

  // Controls, in their order in the window.
  QTimer* tmrUnload = nullptr;
  QTimer* TmrIncrementProgressBar = nullptr;
  QLabel* lblStatus = nullptr;
  QWidget* picMain = nullptr;
  QLabel* Label1 = nullptr;
  QWidget* picScanning = nullptr;
  QProgressBar* PgbScanning = nullptr;
  QTreeWidget* lvwResultProgress = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblRegistryFilesScan = nullptr;
  QLabel* lblRegistryScan = nullptr;
  QWidget* PicResults = nullptr;
  QTreeWidget* vbatvwResults = nullptr;
  QLabel* lblDetails = nullptr;  // the current row's key, value and the path tested
  QWidget* picFixProblemLowerBase = nullptr;
  QProgressBar* pgbDeletingErrors = nullptr;
  QPushButton* cmdRepairCorruptFiles = nullptr;
  QLabel* lblStatusOfActionTaken = nullptr;
  QLabel* lblTotalErrors = nullptr;
  QWidget* picRestoreLowerBase = nullptr;
  QPushButton* cmdRestoreNow = nullptr;
  QLabel* imgListOfProblems = nullptr;
  QLabel* imgListOfItemsInBackupFile = nullptr;
  QLabel* Image1 = nullptr;
  QPushButton* cmdQuickScan = nullptr;
  QPushButton* cmdDeepScan = nullptr;
  QPushButton* cmdRestore = nullptr;

  // Menus.
  QMenu* mnuAction = nullptr;
  QAction* mnuAQuickScan = nullptr;
  QAction* mnuADeepScan = nullptr;
  QAction* mnuFixTheProblems = nullptr;
  QAction* mnuARestore = nullptr;
  QAction* mnuAInternetSystemCleaner = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuTools = nullptr;
  QAction* mnuTOptionsAndSettings = nullptr;
  std::array<QAction*, 13> mnuOptions{};
  /// The extra sections' switches, below the fixed ones, in kExtraSections order.
  std::array<QAction*, 7> mnuExtraSections{};
  QMenu* mnuFile = nullptr;
  QAction* mnuFileScanforProblems = nullptr;
  QAction* MnuFileSpeedUpMyComputer = nullptr;
  QAction* mnuFileSpeedUpMyInternet = nullptr;
  QAction* mnuFilePrintListofErrors = nullptr;
  QAction* mnuFileExit = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuHOnlineHelp = nullptr;
  QAction* mnuHelpAboutThisProgram = nullptr;
  QMenu* mnuTray = nullptr;
  QAction* mnuShowOrvane = nullptr;
  QAction* mnuCloseThisMenu = nullptr;
  QAction* mnuTrayExit = nullptr;

  clsTray* tray = nullptr;

  // Commands.
  void cmdQuickScan_Click();
  void cmdDeepScan_Click();
  void cmdCancel_Click();
  void cmdRepairCorruptFiles_Click();
  void cmdRestore_Click();
  void cmdRestoreNow_Click();
  void mnuOptions_Click(int k);
  void mnuExtraSections_Click(int k);
  void mnuTOptionsAndSettings_Click();
  void MnuFileSpeedUpMyComputer_Click();
  void mnuFileSpeedUpMyInternet_Click();
  void mnuFilePrintListofErrors_Click();
  void mnuAInternetSystemCleaner_Click();
  void mnuHOnlineHelp_Click();
  void mnuHelpAboutThisProgram_Click();
  void mnuShowOrvane_Click();
  void ExitApplication();
  void Form_Activate();
  void tmrUnload_Timer();

  /// Shows the window as the load left it: hidden in the tray, minimized, or normal.
  void showAtStart();
  bool scanRunning() const { return ctx_.scanning; }
  ScanContext& context() { return ctx_; }
  QtEventPump& pump() { return pump_; }
  int scansStarted() const { return scansStarted_; }
  /// The help page handed to OpenWith.
  std::string helpPagePath() const;

  /// How modal windows are run (exec() by default); tests drive them through it.
  std::function<int(QDialog&)> runModal;
  /// How a document is opened (OpenWith by default).
  std::function<void(const std::string& document, const std::string& extension)> openDocument;
  /// How a program of the running system is started (detached; false when it could not be).
  std::function<bool(const std::vector<std::string>& command)> startProgram;
  /// How the process ends after a confirmed exit (leaves the event loop by default).
  std::function<void()> endProcess;
  /// How a long step of the repair or the restore runs (off the window thread by default, the
  /// window painting meanwhile with user input held back); returns once the step has.
  std::function<void(const std::function<void()>& step)> runStep;
  /// True while a repair or a restore is running; a close asked meanwhile waits for its end.
  bool actionRunning() const { return actionRunning_; }
  /// Which plan file to save to (save) or fix from; the file dialog by default, empty: none.
  std::function<QString(bool save)> choosePlanFile;

  /// Action menu: the last scan's review plan to a file, and a repair of exactly what a plan
  /// still holds.
  void mnuSavePlan_Click();
  void mnuFixFromPlan_Click();
  /// Results tree context menu: the item's value goes on the ignore list and out of the tree.
  void mnuNeverReport_Click(QTreeWidgetItem* item);
  QAction* mnuSavePlan = nullptr;
  QAction* mnuFixFromPlan = nullptr;
  QMenu* mnuResults = nullptr;
  QAction* mnuNeverReport = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  enum class Page { Main, Scanning, Results };
  class Observer;

  void Form_Load();
  // frmMainWidgets.cpp: the controls and menus, without what they do.
  void buildWindow();
  void buildMenus();
  void setUpColumns();
  void connectCommands();
  void showPage(Page page);
  void startScan(ScanMode mode);
  ScanMode lastMode_ = ScanMode::Quick;
  void EndScan(ScanMode mode);
  void showResultsTree();
  void vbatvwResults_nodeCheck(QTreeWidgetItem* item);
  void showDetails(QTreeWidgetItem* item);
  /// The problem row a results node's key ("C12") names, or null.
  const ProblemRecord* rowOf(std::string_view key);
  void setScanCommandsEnabled(bool on);
  void TmrIncrementProgressBar_Timer();
  void endSteps();
  int modal(QDialog& d);
  /// Marks a repair or restore as running until the returned guard goes; a close asked
  /// meanwhile is carried out after it.
  std::shared_ptr<void> beginAction();

  Target& target_;
  UserInterface& ui_;
  ScanContext ctx_;
  ResultsTree tree_;
  std::unique_ptr<Restore> restore_;
  std::string selectedBackup_;
  std::vector<std::string> arguments_;
  std::string version_;
  QtEventPump pump_;
  std::unique_ptr<Observer> observer_;
  bool autoScan_ = false;
  bool startInTray_ = false;
  bool fillingTree_ = false;
  bool actionRunning_ = false;
  bool closeWaiting_ = false;
  int scansStarted_ = 0;
};

}  // namespace brisquell::gui
