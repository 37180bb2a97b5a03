// clsTray over QSystemTrayIcon.
#include "gui/clsTray.h"

#include <QSystemTrayIcon>
#include <QWidget>

namespace brisquell::gui {

clsTray::clsTray(QObject* parent) : QObject(parent), icon_(new QSystemTrayIcon(this)) {
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (!running_) return;
    if (r == QSystemTrayIcon::DoubleClick)
      emit leftDoubleClick();
    else if (r == QSystemTrayIcon::Context)
      emit rightButtonUp();
  });
}

clsTray::~clsTray() = default;

bool clsTray::trayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void clsTray::ShowIcon(QWidget* sysTrayForm) {
  icon_->setIcon(sysTrayForm->windowIcon());
  tip_ = sysTrayForm->windowTitle().left(kTipLength);
  icon_->setToolTip(tip_);
  icon_->show();
  running_ = true;
}

void clsTray::RemoveIcon(QWidget*) {
  icon_->hide();
  tip_.clear();
  running_ = false;
}

void clsTray::ChangeToolTip(QWidget*, const QString& strNewTip) {
  if (!running_) return;
  tip_ = strNewTip.left(kTipLength);
  icon_->setToolTip(tip_);
}

}  // namespace brisquell::gui
