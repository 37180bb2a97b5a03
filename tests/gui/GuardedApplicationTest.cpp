// The desktop program's last-resort handler: an exception thrown by an event handler ends the
// event loop with exit code 1 and a message, instead of aborting the process.
#include "gui/GuardedApplication.h"

#include <QTimer>

#include <cstdio>
#include <stdexcept>

namespace {

class Throwing final : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("a handler failed");
    return QObject::event(e);
  }
};

}  // namespace

int main(int argc, char** argv) {
  brisquell::gui::GuardedApplication app(argc, argv);
  Throwing target;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  // Should the handler not end the loop, the test fails rather than hangs.
  QTimer::singleShot(5000, &app, [] { QCoreApplication::exit(3); });
  const int code = QCoreApplication::exec();
  const std::string& failure = app.failure();
  std::printf("exit code %d, message: %s\n", code, failure.c_str());
  const bool ok = code == 1 && failure.find("a handler failed") != std::string::npos;
  return ok ? 0 : 1;
}
