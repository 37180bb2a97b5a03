// The splash window: two pictures and "Loading...", closing itself 2000 ms after it loaded.
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace brisquell::gui {

class frmSplash : public QDialog {
  Q_OBJECT
 public:
  explicit frmSplash(int unloadAfterMs = 2000, QWidget* parent = nullptr);

  QLabel* Image1 = nullptr;
  QLabel* Image2 = nullptr;
  QLabel* lblLoading = nullptr;
  QTimer* tmrUnload = nullptr;

 private:
  void tmrUnload_Timer();
};

}  // namespace brisquell::gui
