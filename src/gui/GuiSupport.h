// Small helpers shared by the windows: text conversion, drawn pictures, saving the target.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

#include <string>
#include <string_view>

#include "platform/Target.h"
#include "platform/UserInterface.h"

namespace brisquell::gui {

inline QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string ss(const QString& s) { return s.toUtf8().toStdString(); }

/// The results tree's pictures: 100 High, 101 Medium, 102 Low, 103 a problem.
QIcon threatIcon(int number);
/// The program's own icon (window, tray).
QIcon programIcon();
/// A header banner with a title, drawn to the given size.
QPixmap headerPicture(int width, int height, const QString& title, const QString& subtitle = {});

/// Saves what a command changed in the target's registry; warns when it cannot.
bool saveChanges(Target& target, UserInterface& ui);

}  // namespace brisquell::gui
