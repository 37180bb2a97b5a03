// Exceptions stop at the event loop's edge: remembered, then the program ends with a failure.
#include "gui/GuardedApplication.h"

#include <exception>

#include "shell/LastResort.h"

namespace brisquell::gui {

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    if (failure_.empty()) failure_ = lastResortMessage(std::current_exception());
    QCoreApplication::exit(1);
    return true;
  }
}

}  // namespace brisquell::gui
