// The about window: product, version, company and the web page link.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "platform/UserInterface.h"
#include "scan/ScanContext.h"

class QFrame;
class QLabel;
class QPushButton;

namespace brisquell::gui {

class frmAbout : public QDialog {
  Q_OBJECT
 public:
  frmAbout(ScanContext& ctx, UserInterface& ui, std::string version, QWidget* parent = nullptr);

  QLabel* ImgHeader = nullptr;
  QLabel* lblProductName = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblDisclaimer = nullptr;
  QLabel* lblURL = nullptr;
  QFrame* Line1 = nullptr;
  QPushButton* cmdOK = nullptr;

  void lblURL_Click();
  std::function<void(const std::string& document, const std::string& extension)> openDocument;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Form_Load();

  ScanContext& ctx_;
  UserInterface& ui_;
  std::string version_;
};

}  // namespace brisquell::gui
