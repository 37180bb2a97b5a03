// The desktop program's application object: its last-resort handler for exceptions that escape
// an event handler (Qt must never see one; it would abort the process).
#pragma once

#include <QApplication>

#include <string>

namespace brisquell::gui {

class GuardedApplication final : public QApplication {
 public:
  GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  /// Delivers the event; an exception from its handler is caught, remembered, and ends every
  /// event loop with exit code 1.
  bool notify(QObject* receiver, QEvent* event) override;

  /// The message for the first exception caught, or empty.
  const std::string& failure() const { return failure_; }

 private:
  std::string failure_;
};

}  // namespace brisquell::gui
