// The splash window.
#include "gui/frmSplash.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/GuiSupport.h"
#include "scan/ScanDriver.h"

namespace brisquell::gui {

frmSplash::frmSplash(int unloadAfterMs, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setWindowTitle(qs(kProductName));
  setWindowIcon(programIcon());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 8);
  Image1 = new QLabel(this);
  Image1->setPixmap(headerPicture(420, 110, qs(kProductName), "Registry cleaner"));
  Image2 = new QLabel(this);
  Image2->setPixmap(programIcon().pixmap(64, 64));
  Image2->setAlignment(Qt::AlignCenter);
  lblLoading = new QLabel("Loading...", this);
  lblLoading->setAlignment(Qt::AlignCenter);
  layout->addWidget(Image1);
  layout->addWidget(Image2);
  layout->addWidget(lblLoading);
  tmrUnload = new QTimer(this);
  tmrUnload->setSingleShot(false);
  tmrUnload->setInterval(unloadAfterMs);
  connect(tmrUnload, &QTimer::timeout, this, &frmSplash::tmrUnload_Timer);
  // Off and on again: the full interval counts from the end of loading.
  tmrUnload->stop();
  tmrUnload->start();
}

void frmSplash::tmrUnload_Timer() {
  tmrUnload->stop();
  accept();
}

}  // namespace brisquell::gui
