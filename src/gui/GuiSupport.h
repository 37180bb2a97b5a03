// Small helpers shared by the windows: text conversion, drawn pictures, saving the target.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

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

/// Makes a change through the target's write gate: refused (with a warning, before anything
/// changes) while the target must not be written, then saved; a failed save is warned about and
/// undone in memory. True only when the change is on disk.
bool applyChange(Target& target, UserInterface& ui, const std::function<void()>& change);

/// applyChange for a change that can fail part way (a registry write refused): the failure is
/// warned about as a save that failed, and nothing of the change is kept or saved.
bool applyCheckedChange(Target& target, UserInterface& ui, const std::function<Outcome()>& change);
template <class Change>
requires std::is_same_v<std::invoke_result_t<Change&>, Outcome>
bool applyChange(Target& target, UserInterface& ui, Change&& change) {
  return applyCheckedChange(target, ui, std::function<Outcome()>(std::forward<Change>(change)));
}
/// Runs `work` on a thread of its own while the window thread goes on painting (user input
/// waits), and returns its result once it has returned; off the window thread it just runs it.
Outcome runOffWindowThread(const std::function<Outcome()>& work);
/// Every save through the write gate runs that way from now on.
void saveOffWindowThread();

}  // namespace brisquell::gui
