// The restore window.
#include "gui/frmRestore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/GuiSupport.h"
#include "scan/ScanDriver.h"

namespace brisquell::gui {

frmRestore::frmRestore(Restore& restore, UserInterface& ui, std::string& selectedBackup,
                       QWidget* parent)
    : QDialog(parent), restore_(restore), ui_(ui), selected_(selectedBackup) {
  setWindowTitle("Restore");
  resize(620, 340);
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel("Select the backup file to restore the data:", this);
  layout->addWidget(Label1);
  lvwBackups = new QTreeWidget(this);
  lvwBackups->setHeaderLabels({"Backup Name", "Date & Time", "Backup Path", "DT"});
  lvwBackups->setRootIsDecorated(false);
  lvwBackups->setColumnWidth(0, 200);
  lvwBackups->setColumnWidth(1, 190);
  lvwBackups->setColumnHidden(3, true);  // the sort key is not for the eye
  layout->addWidget(lvwBackups, 1);
  auto* buttons = new QHBoxLayout;
  cmdDeleteBackup = new QPushButton("&Delete Backup", this);
  cmdOK = new QPushButton("&OK", this);
  cmdCancel = new QPushButton("&Cancel", this);
  cmdOK->setDefault(true);
  buttons->addWidget(cmdDeleteBackup);
  buttons->addStretch(1);
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  layout->addLayout(buttons);
  connect(cmdOK, &QPushButton::clicked, this, &frmRestore::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmRestore::cmdCancel_Click);
  connect(cmdDeleteBackup, &QPushButton::clicked, this, &frmRestore::cmdDeleteBackup_Click);
  connect(lvwBackups, &QTreeWidget::itemDoubleClicked, this, &frmRestore::cmdOK_Click);
  Form_Load();
}

void frmRestore::Form_Load() {
  selected_.clear();
  sets_ = restore_.Form_Load();
  for (const BackupListing& s : sets_)
    new QTreeWidgetItem(lvwBackups,
                        {qs(s.name), s.dateText.empty() ? QString("(no date)") : qs(s.dateText),
                         qs(s.path), qs(s.sortKey)});
  if (lvwBackups->topLevelItemCount() > 0) lvwBackups->setCurrentItem(lvwBackups->topLevelItem(0));
}

int frmRestore::selectedRow() const {
  QTreeWidgetItem* item = lvwBackups->currentItem();
  return item ? lvwBackups->indexOfTopLevelItem(item) : -1;
}

void frmRestore::cmdOK_Click() {
  if (lvwBackups->topLevelItemCount() == 0) {
    ui_.inform(kProductName, Restore::kNotFound);
    return;
  }
  int row = selectedRow();
  if (row < 0) row = 0;
  selected_ = sets_[static_cast<std::size_t>(row)].path;
  accept();
}

void frmRestore::cmdCancel_Click() { reject(); }

void frmRestore::reject() {
  selected_.clear();
  QDialog::reject();
}

void frmRestore::cmdDeleteBackup_Click() {
  if (lvwBackups->topLevelItemCount() == 0) {
    ui_.inform(kProductName, Restore::kNotFound);
    return;
  }
  int row = selectedRow();
  if (row < 0) row = 0;
  const BackupListing set = sets_[static_cast<std::size_t>(row)];
  if (!restore_.cmdDeleteBackup_Click(set)) {
    // Declined, or nothing was left to delete: the row goes only when the set is gone.
    auto listed = restore_.Form_Load();
    bool stillThere = false;
    for (const auto& s : listed) stillThere = stillThere || s.path == set.path;
    if (stillThere) return;
  }
  delete lvwBackups->takeTopLevelItem(row);
  sets_.erase(sets_.begin() + row);
}

}  // namespace brisquell::gui
