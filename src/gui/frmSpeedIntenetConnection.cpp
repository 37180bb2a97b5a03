// The internet window.
#include "gui/frmSpeedIntenetConnection.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QVBoxLayout>

#include "gui/GuiSupport.h"
#include "optimize/CacheClearing.h"
#include "scan/ScanDriver.h"
#include "shell/ShellStart.h"

namespace brisquell::gui {

void ProgressPicture::paintEvent(QPaintEvent*) {
  QPainter g(this);
  g.fillRect(rect(), QColor(255, 255, 0));
  g.fillRect(QRect(0, 0, width() * percent_ / 100, height()), QColor(0, 0, 255));
}

frmSpeedIntenetConnection::frmSpeedIntenetConnection(ScanContext& ctx, UserInterface& ui,
                                                     QWidget* parent)
    : QDialog(parent), ctx_(ctx), ui_(ui), tuning_(ctx) {
  auto* layout = new QVBoxLayout(this);
  PicSpeedUpYourInternet = new QWidget(this);
  auto* header = new QVBoxLayout(PicSpeedUpYourInternet);
  header->setContentsMargins(0, 0, 0, 0);
  Picture1 = new QLabel(PicSpeedUpYourInternet);
  Picture1->setPixmap(headerPicture(480, 50, qs(kProductName)));
  header->addWidget(Picture1);
  layout->addWidget(PicSpeedUpYourInternet);
  Label2 = new QLabel("Optimize windows for your connection", this);
  QFont f = Label2->font();
  f.setBold(true);
  Label2->setFont(f);
  layout->addWidget(Label2);
  optDialUpInternetAccess = new QRadioButton("Dial-Up Internet-Acces", this);
  optCableInternetAccess = new QRadioButton("Cable Internet Access", this);
  optDSL = new QRadioButton("DSL (Digital Subscriber Line)", this);
  for (QRadioButton* o : {optDialUpInternetAccess, optCableInternetAccess, optDSL})
    layout->addWidget(o);
  auto* tuneButtons = new QHBoxLayout;
  cmdOptimize = new QPushButton("Optimize", this);
  cmdSetToDefault = new QPushButton("Set To Default", this);
  tuneButtons->addWidget(cmdOptimize);
  tuneButtons->addWidget(cmdSetToDefault);
  tuneButtons->addStretch(1);
  layout->addLayout(tuneButtons);
  lblMessage = new QLabel("Clearing your cache will increase your overall internet speed.", this);
  layout->addWidget(lblMessage);
  auto* cacheRow = new QHBoxLayout;
  cmdClearCache = new QPushButton("Clear Cache", this);
  cacheRow->addWidget(cmdClearCache);
  cacheRow->addStretch(1);
  layout->addLayout(cacheRow);
  auto* progressRow = new QHBoxLayout;
  picProgressBar = new ProgressPicture(this);
  picProgressBar->setFixedHeight(18);
  Label1 = new QLabel("0%", this);
  Label1->setMinimumWidth(40);
  progressRow->addWidget(picProgressBar, 1);
  progressRow->addWidget(Label1);
  layout->addLayout(progressRow);
  auto* closeRow = new QHBoxLayout;
  closeRow->addStretch(1);
  cmdClose = new QPushButton("&Close", this);
  closeRow->addWidget(cmdClose);
  layout->addLayout(closeRow);

  connect(optDialUpInternetAccess, &QRadioButton::clicked, this, [this] {
    if (!applyChange(ctx_.target(), ui_, [this] { tuning_.optDialUpInternetAccess_Click(); }))
      Form_Load();
  });
  connect(optCableInternetAccess, &QRadioButton::clicked, this, [this] {
    if (!applyChange(ctx_.target(), ui_, [this] { tuning_.optCableInternetAccess_Click(); }))
      Form_Load();
  });
  connect(optDSL, &QRadioButton::clicked, this, [this] {
    if (!applyChange(ctx_.target(), ui_, [this] { tuning_.optDSL_Click(); })) Form_Load();
  });
  connect(cmdOptimize, &QPushButton::clicked, this, &frmSpeedIntenetConnection::cmdOptimize_Click);
  connect(cmdSetToDefault, &QPushButton::clicked, this,
          &frmSpeedIntenetConnection::cmdSetToDefault_Click);
  connect(cmdClearCache, &QPushButton::clicked, this,
          &frmSpeedIntenetConnection::cmdClearCache_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmSpeedIntenetConnection::cmdClose_Click);
  Form_Load();
}

void frmSpeedIntenetConnection::Form_Load() {
  setWindowTitle(qs(ConnectionTuning::kCaption));
  cmdClearCache->setEnabled(true);
  picProgressBar->hide();
  Label1->hide();
  const ConnectionKind kind = tuning_.Form_Load();
  // Radio buttons cannot all be cleared while they are exclusive.
  for (QRadioButton* o : {optDialUpInternetAccess, optCableInternetAccess, optDSL}) {
    o->setAutoExclusive(false);
    o->setChecked(false);
  }
  optDialUpInternetAccess->setChecked(kind == ConnectionKind::DialUp);
  optCableInternetAccess->setChecked(kind == ConnectionKind::Cable);
  optDSL->setChecked(kind == ConnectionKind::Dsl);
  for (QRadioButton* o : {optDialUpInternetAccess, optCableInternetAccess, optDSL})
    o->setAutoExclusive(true);
}

ConnectionKind frmSpeedIntenetConnection::selectedKind() const {
  if (optDialUpInternetAccess->isChecked()) return ConnectionKind::DialUp;
  if (optCableInternetAccess->isChecked()) return ConnectionKind::Cable;
  if (optDSL->isChecked()) return ConnectionKind::Dsl;
  return ConnectionKind::None;
}

void frmSpeedIntenetConnection::busy(bool on) {
  if (on)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
  cmdOptimize->setEnabled(!on);
  cmdSetToDefault->setEnabled(!on);
  cmdClose->setVisible(!on);
}

void frmSpeedIntenetConnection::ProgressBar() {
  picProgressBar->show();
  Label1->show();
  for (int p = 0; p <= 100; ++p) {
    Label1->setText(QString::number(p) + "%");
    picProgressBar->setPercent(p);
    picProgressBar->repaint();
    if (stepPauseMs > 0) QThread::msleep(static_cast<unsigned long>(stepPauseMs));
    QCoreApplication::processEvents();
  }
}

void frmSpeedIntenetConnection::cmdOptimize_Click() {
  busy(true);
  cmdClearCache->setEnabled(false);
  TuningResult r;
  const bool saved =
      applyChange(ctx_.target(), ui_, [&] { r = tuning_.cmdOptimize_Click(selectedKind()); });
  ProgressBar();
  if (!saved || !r.failed.empty()) {
    std::string text = "These values could not be written:";
    for (const auto& f : r.failed) text += "\n" + f;
    if (!r.failed.empty()) ui_.warn(kApplicationTitle, text);
  } else {
    ui_.inform(kApplicationTitle, ConnectionTuning::kRestartMessage);
  }
  picProgressBar->hide();
  Label1->hide();
  busy(false);
  cmdClearCache->setEnabled(true);
}

void frmSpeedIntenetConnection::cmdSetToDefault_Click() {
  busy(true);
  cmdClearCache->setEnabled(false);
  TuningResult r;
  const bool saved = applyChange(ctx_.target(), ui_, [&] { r = tuning_.cmdSetToDefault_Click(); });
  ProgressBar();
  if (saved && r.failed.empty())
    ui_.inform(kApplicationTitle, ConnectionTuning::kDefaultsMessage);
  else if (!r.failed.empty()) {
    std::string text = "These values could not be removed:";
    for (const auto& f : r.failed) text += "\n" + f;
    ui_.warn(kApplicationTitle, text);
  }
  picProgressBar->hide();
  Label1->hide();
  busy(false);
  cmdClearCache->setEnabled(true);
}

void frmSpeedIntenetConnection::cmdClearCache_Click() {
  cmdClearCache->setEnabled(false);
  busy(true);
  CacheClearing clearing(ctx_);
  CacheClearResult r;
  const bool done = applyChange(ctx_.target(), ui_, [&] { r = clearing.ClearCache(); });
  if (done && r.outcome != CacheClearResult::Outcome::Skipped) {
    ProgressBar();
    if (r.tone() == CacheClearResult::Tone::Inform)
      ui_.inform(kProductName, r.message());
    else
      ui_.warn(kProductName, r.message());
    picProgressBar->hide();
    Label1->hide();
  }
  busy(false);
  // "Clear Cache" stays off until the window is opened again or another command ends.
}

void frmSpeedIntenetConnection::cmdClose_Click() { reject(); }

}  // namespace brisquell::gui
