// The options window: three stored options and the run-at-start-up entry.
#pragma once

#include <QDialog>

#include <string>

#include "platform/UserInterface.h"
#include "scan/ScanContext.h"

class QCheckBox;
class QGroupBox;
class QPushButton;

namespace brisquell::gui {

class frmOptionsAndSettings : public QDialog {
  Q_OBJECT
 public:
  /// programPath: what the run-at-start-up entry starts.
  frmOptionsAndSettings(ScanContext& ctx, UserInterface& ui, std::string programPath,
                        QWidget* parent = nullptr);

  QGroupBox* Frame1 = nullptr;
  QCheckBox* chkMinimizeToSysTray = nullptr;
  QCheckBox* chkRunAtStartup = nullptr;
  QCheckBox* chkTakeBackup = nullptr;
  QPushButton* cmdCancel = nullptr;
  QPushButton* cmdApply = nullptr;

  void cmdApply_Click();
  void cmdCancel_Click();

 private:
  void Form_Load();

  ScanContext& ctx_;
  UserInterface& ui_;
  std::string programPath_;
};

}  // namespace brisquell::gui
