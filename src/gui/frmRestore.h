// The restore window: the backup sets, to choose one or delete one.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "repair/Restore.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace brisquell::gui {

class frmRestore : public QDialog {
  Q_OBJECT
 public:
  /// selectedBackup: the path shared with the main window; emptied at load and on cancel.
  frmRestore(Restore& restore, UserInterface& ui, std::string& selectedBackup,
             QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  QTreeWidget* lvwBackups = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;
  QPushButton* cmdDeleteBackup = nullptr;

  void cmdOK_Click();
  void cmdCancel_Click();
  void cmdDeleteBackup_Click();
  const std::vector<BackupListing>& sets() const { return sets_; }

 protected:
  void reject() override;

 private:
  void Form_Load();
  int selectedRow() const;

  Restore& restore_;
  UserInterface& ui_;
  std::string& selected_;
  std::vector<BackupListing> sets_;
};

}  // namespace brisquell::gui
