// The tray icon of the main window over QSystemTrayIcon: show, change tip or picture, remove.
// Its mouse messages go to the main window, which decides what they mean.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QSystemTrayIcon;
class QWidget;

namespace brisquell::gui {

class clsTray : public QObject {
  Q_OBJECT
 public:
  /// The tip field holds 64 characters with the closing NUL.
  static constexpr int kTipLength = 63;

  explicit clsTray(QObject* parent = nullptr);
  ~clsTray() override;

  bool bRunningInTray() const { return running_; }
  void ShowIcon(QWidget* sysTrayForm);
  void RemoveIcon(QWidget* sysTrayForm);
  void ChangeToolTip(QWidget* sysTrayForm, const QString& strNewTip);

  QString tip() const { return tip_; }
  /// Whether the desktop shows tray icons at all; without one, minimizing must not hide.
  static bool trayAvailable();

 signals:
  void leftDoubleClick();
  void rightButtonUp();

 private:
  QSystemTrayIcon* icon_ = nullptr;
  bool running_ = false;
  QString tip_;
};

}  // namespace brisquell::gui
