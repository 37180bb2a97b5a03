// The log-on programs window: each run entry with a check box; Done moves the changed ones.
#pragma once

#include <QDialog>

#include "optimize/StartupPrograms.h"
#include "platform/UserInterface.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace brisquell::gui {

class frmBootingSpeed : public QDialog {
  Q_OBJECT
 public:
  frmBootingSpeed(ScanContext& ctx, UserInterface& ui, QWidget* parent = nullptr);

  QTreeWidget* lvwWindowsStartupFiles = nullptr;
  QWidget* PicSpeedUpYourComputer = nullptr;
  QLabel* ImgHeader = nullptr;
  QLabel* lblSpeedUpComputer = nullptr;
  QLabel* lblComments = nullptr;
  QPushButton* cmdDone = nullptr;
  QPushButton* cmdClose = nullptr;

  void cmdDone_Click();
  void cmdClose_Click();
  StartupPrograms& model() { return startup_; }

 private:
  void Form_Load();

  ScanContext& ctx_;
  UserInterface& ui_;
  StartupPrograms startup_;
};

}  // namespace brisquell::gui
