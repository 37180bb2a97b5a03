// The log-on programs window.
#include "gui/frmBootingSpeed.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/GuiSupport.h"
#include "scan/ScanDriver.h"

namespace brisquell::gui {

frmBootingSpeed::frmBootingSpeed(ScanContext& ctx, UserInterface& ui, QWidget* parent)
    : QDialog(parent), ctx_(ctx), ui_(ui), startup_(ctx) {
  resize(620, 420);
  auto* layout = new QVBoxLayout(this);
  PicSpeedUpYourComputer = new QWidget(this);
  auto* header = new QVBoxLayout(PicSpeedUpYourComputer);
  header->setContentsMargins(0, 0, 0, 0);
  ImgHeader = new QLabel(PicSpeedUpYourComputer);
  ImgHeader->setPixmap(headerPicture(600, 50, qs(kProductName)));
  lblSpeedUpComputer = new QLabel(qs(StartupPrograms::kHeading), PicSpeedUpYourComputer);
  QFont f = lblSpeedUpComputer->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.3);
  lblSpeedUpComputer->setFont(f);
  lblComments = new QLabel(qs(StartupPrograms::kComments), PicSpeedUpYourComputer);
  lblComments->setWordWrap(true);
  header->addWidget(ImgHeader);
  header->addWidget(lblSpeedUpComputer);
  header->addWidget(lblComments);
  layout->addWidget(PicSpeedUpYourComputer);
  lvwWindowsStartupFiles = new QTreeWidget(this);
  lvwWindowsStartupFiles->setHeaderLabels({"Program", "Entry"});
  lvwWindowsStartupFiles->setRootIsDecorated(false);
  lvwWindowsStartupFiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  lvwWindowsStartupFiles->header()->setStretchLastSection(false);
  lvwWindowsStartupFiles->setColumnWidth(1, 160);
  layout->addWidget(lvwWindowsStartupFiles, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cmdDone = new QPushButton("Done", this);
  cmdDone->setToolTip("Close this window");
  cmdClose = new QPushButton("&Close", this);
  buttons->addWidget(cmdDone);
  buttons->addWidget(cmdClose);
  layout->addLayout(buttons);
  connect(cmdDone, &QPushButton::clicked, this, &frmBootingSpeed::cmdDone_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmBootingSpeed::cmdClose_Click);
  Form_Load();
}

void frmBootingSpeed::Form_Load() {
  setWindowTitle(qs(StartupPrograms::kCaption));
  lvwWindowsStartupFiles->clear();
  startup_.Form_Load();
  for (const StartupRow& r : startup_.rows()) {
    auto* item = new QTreeWidgetItem(lvwWindowsStartupFiles, {qs(r.text), qs(r.tag)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, r.checked ? Qt::Checked : Qt::Unchecked);
    item->setToolTip(0, qs(r.command));
  }
  cmdDone->setEnabled(true);
  lvwWindowsStartupFiles->setEnabled(true);
}

void frmBootingSpeed::cmdDone_Click() {
  cmdDone->setEnabled(false);
  lvwWindowsStartupFiles->setEnabled(false);
  PicSpeedUpYourComputer->setEnabled(false);
  for (int i = 0; i < lvwWindowsStartupFiles->topLevelItemCount(); ++i)
    startup_.setChecked(static_cast<std::size_t>(i),
                        lvwWindowsStartupFiles->topLevelItem(i)->checkState(0) == Qt::Checked);
  StartupDoneResult r;
  if (!applyChange(ctx_.target(), ui_, [&] { r = startup_.cmdDone_Click(); })) {
    // Nothing moved: the list shows the entries where they are.
    Form_Load();
    PicSpeedUpYourComputer->setEnabled(true);
    return;
  }
  // Entries that did not move stay where they were; say so rather than close as if they had.
  if (!r.failures.empty()) {
    std::string text = "These programs were left as they were:";
    for (const auto& f : r.failures) text += "\n" + f;
    ui_.warn(kProductName, text);
  }
  cmdDone->setEnabled(true);
  lvwWindowsStartupFiles->setEnabled(true);
  accept();
}

void frmBootingSpeed::cmdClose_Click() { reject(); }

}  // namespace brisquell::gui
