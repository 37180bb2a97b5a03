// Message boxes with the icon of their kind.
#include "gui/MessageBoxInterface.h"

#include <QApplication>
#include <QMessageBox>

namespace brisquell::gui {

namespace {

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

bool MessageBoxInterface::askYesNo(std::string_view title, std::string_view text) {
  return QMessageBox::question(QApplication::activeWindow(), qs(title), qs(text),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void MessageBoxInterface::inform(std::string_view title, std::string_view text) {
  QMessageBox::information(QApplication::activeWindow(), qs(title), qs(text));
}

void MessageBoxInterface::warn(std::string_view title, std::string_view text) {
  QMessageBox::warning(QApplication::activeWindow(), qs(title), qs(text));
}

}  // namespace brisquell::gui
