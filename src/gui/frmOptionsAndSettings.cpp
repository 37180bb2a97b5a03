// The options window.
#include "gui/frmOptionsAndSettings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/GuiSupport.h"
#include "shell/StoredOptions.h"

namespace brisquell::gui {

frmOptionsAndSettings::frmOptionsAndSettings(ScanContext& ctx, UserInterface& ui,
                                             std::string programPath, QWidget* parent)
    : QDialog(parent), ctx_(ctx), ui_(ui), programPath_(std::move(programPath)) {
  setWindowTitle("Options");
  auto* layout = new QVBoxLayout(this);
  Frame1 = new QGroupBox("Settings", this);
  auto* frame = new QVBoxLayout(Frame1);
  chkMinimizeToSysTray = new QCheckBox("Minimize into my system tray at Start-up", Frame1);
  chkRunAtStartup = new QCheckBox("Run at Start-up", Frame1);
  chkTakeBackup = new QCheckBox("Always take backup before cleaning Registry (Recomended)", Frame1);
  frame->addWidget(chkMinimizeToSysTray);
  frame->addWidget(chkRunAtStartup);
  frame->addWidget(chkTakeBackup);
  layout->addWidget(Frame1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cmdApply = new QPushButton("&Apply", this);
  cmdCancel = new QPushButton("C&lose", this);
  buttons->addWidget(cmdApply);
  buttons->addWidget(cmdCancel);
  layout->addLayout(buttons);
  for (QCheckBox* box : {chkMinimizeToSysTray, chkRunAtStartup, chkTakeBackup})
    connect(box, &QCheckBox::toggled, cmdApply, [this] { cmdApply->setEnabled(true); });
  connect(cmdApply, &QPushButton::clicked, this, &frmOptionsAndSettings::cmdApply_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmOptionsAndSettings::cmdCancel_Click);
  Form_Load();
}

void frmOptionsAndSettings::Form_Load() {
  Settings settings(ctx_.registry());
  StoredOptions o = StoredOptions::load(settings);
  chkTakeBackup->setChecked(o.chkTakeBackup);
  chkMinimizeToSysTray->setChecked(o.chkMinimizeToSysTray);
  chkRunAtStartup->setChecked(o.chkRunAtStartup);
  cmdApply->setEnabled(false);
}

void frmOptionsAndSettings::cmdApply_Click() {
  StoredOptions o;
  o.chkTakeBackup = chkTakeBackup->isChecked();
  o.chkRunAtStartup = chkRunAtStartup->isChecked();
  o.chkMinimizeToSysTray = chkMinimizeToSysTray->isChecked();
  const bool saved = applyChange(ctx_.target(), ui_, [&] {
    Settings settings(ctx_.registry());
    return o.apply(settings, ctx_.registry(), programPath_);
  });
  if (!saved) Form_Load();  // the boxes show what is stored
  cmdApply->setEnabled(false);
}

void frmOptionsAndSettings::cmdCancel_Click() { reject(); }

}  // namespace brisquell::gui
