// The about window.
#include "gui/frmAbout.h"

#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/GuiSupport.h"
#include "scan/ScanDriver.h"
#include "shell/OpenWith.h"
#include "shell/Settings.h"

namespace brisquell::gui {

frmAbout::frmAbout(ScanContext& ctx, UserInterface& ui, std::string version, QWidget* parent)
    : QDialog(parent), ctx_(ctx), ui_(ui), version_(std::move(version)) {
  setWindowTitle("Product Name");
  auto* layout = new QVBoxLayout(this);
  ImgHeader = new QLabel(this);
  ImgHeader->setPixmap(headerPicture(400, 60, qs(kProductName)));
  layout->addWidget(ImgHeader);
  lblProductName = new QLabel(this);
  QFont serif("Serif");
  serif.setStyleHint(QFont::Serif);
  serif.setPointSize(20);
  serif.setBold(true);
  lblProductName->setFont(serif);
  lblVersion = new QLabel(this);
  lblDisclaimer = new QLabel(this);
  lblDisclaimer->setWordWrap(true);
  lblURL = new QLabel(this);
  lblURL->setCursor(Qt::PointingHandCursor);
  lblURL->setStyleSheet("color: #0645ad; text-decoration: underline;");
  lblURL->installEventFilter(this);
  Line1 = new QFrame(this);
  Line1->setFrameShape(QFrame::HLine);
  cmdOK = new QPushButton("OK", this);
  cmdOK->setDefault(true);
  layout->addWidget(lblProductName);
  layout->addWidget(lblVersion);
  layout->addWidget(lblURL);
  layout->addWidget(Line1);
  layout->addWidget(lblDisclaimer);
  layout->addWidget(cmdOK, 0, Qt::AlignRight);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
  openDocument = [this](const std::string& doc, const std::string& ext) {
    OpenWith::open(ui_, doc, ext);
  };
  Form_Load();
}

void frmAbout::Form_Load() {
  const QString product = qs(kProductName);
  lblProductName->setText(product);
  setWindowTitle("About - " + product + " v " + qs(version_));
  lblVersion->setText("Version " + qs(version_));
  Settings settings(ctx_.registry());
  lblDisclaimer->setText("Copyright \u00a9 " + qs(settings.Companyname()) +
                         ". All rights reserved. This program is protected by copyright law; "
                         "copying or distributing it without permission is not allowed.");
  lblURL->setText(qs(settings.Reglink()));
}

void frmAbout::lblURL_Click() {
  if (openDocument) openDocument(ss(lblURL->text()), "htm");
}

}  // namespace brisquell::gui

namespace brisquell::gui {

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lblURL && event->type() == QEvent::MouseButtonRelease) {
    lblURL_Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace brisquell::gui
