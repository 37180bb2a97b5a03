// The internet window: connection kind and its tuning values, and clearing the browser cache.
#pragma once

#include <QDialog>

#include "optimize/ConnectionTuning.h"
#include "platform/UserInterface.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace brisquell::gui {

/// The progress picture: a blue bar growing over yellow.
class ProgressPicture : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  void setPercent(int p) { percent_ = p; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int percent_ = 0;
};

class frmSpeedIntenetConnection : public QDialog {
  Q_OBJECT
 public:
  frmSpeedIntenetConnection(ScanContext& ctx, UserInterface& ui, QWidget* parent = nullptr);

  QWidget* PicSpeedUpYourInternet = nullptr;
  QLabel* Picture1 = nullptr;
  QLabel* Label2 = nullptr;
  QRadioButton* optDialUpInternetAccess = nullptr;
  QRadioButton* optCableInternetAccess = nullptr;
  QRadioButton* optDSL = nullptr;
  QPushButton* cmdOptimize = nullptr;
  QPushButton* cmdSetToDefault = nullptr;
  QLabel* lblMessage = nullptr;
  QPushButton* cmdClearCache = nullptr;
  QPushButton* cmdClose = nullptr;
  ProgressPicture* picProgressBar = nullptr;
  QLabel* Label1 = nullptr;

  void cmdOptimize_Click();
  void cmdSetToDefault_Click();
  void cmdClearCache_Click();
  void cmdClose_Click();
  void ProgressBar();
  /// The pause between the animation's steps (2 ms); tests set 0.
  int stepPauseMs = 2;

 private:
  void Form_Load();
  void busy(bool on);
  ConnectionKind selectedKind() const;

  ScanContext& ctx_;
  UserInterface& ui_;
  ConnectionTuning tuning_;
};

}  // namespace brisquell::gui
