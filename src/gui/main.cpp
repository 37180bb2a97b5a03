// brisquell-gui [--target DIR] [-Quick]: the desktop program.
#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "gui/DesktopProgram.h"
#include "gui/GuardedApplication.h"
#include "gui/GuiSupport.h"
#include "gui/MessageBoxInterface.h"
#include "platform/Console.h"
#include "platform/HostIo.h"
#include "platform/RunningSystem.h"
#include "scan/ScanDriver.h"
#include "shell/LastResort.h"

namespace {

int run(brisquell::gui::GuardedApplication& app, int argc, char** argv) {
  using namespace brisquell;
  QApplication::setApplicationName("Brisquell");
  QApplication::setWindowIcon(gui::programIcon());
  // The window may live in the tray with no window shown; only the exit steps end the program.
  QApplication::setQuitOnLastWindowClosed(false);

  std::vector<std::string> arguments;
  std::string given;
  const std::vector<std::string> args = console::arguments(argc, argv);  // UTF-8 on Windows
  argc = static_cast<int>(args.size());
  for (int i = 1; i < argc; ++i) {
    std::string a = args[i];
    arguments.push_back(a);
    if (a == "--help" || a == "-h") {
      std::cout << "Usage: brisquell-gui [--target DIR] [-Quick]\n"
                   "  --target DIR  the machine to work on (default: $BRISQUELL_TARGET)\n"
                   "  -Quick        run one quick scan when the window first shows\n";
      return 0;
    }
    if (a == "--target" && i + 1 < argc) {
      given = args[++i];
      arguments.push_back(given);
    } else if (a.rfind("--target=", 0) == 0) {
      given = a.substr(9);
    }
  }
  gui::MessageBoxInterface ui;
  Result<std::unique_ptr<Target>> target = Error{};
  auto env = hostio::environment("BRISQUELL_TARGET");
  if (given.empty() && (!env || env->empty()) && runningSystemIsTarget()) {
    target = openRunningSystem();  // on Windows: this computer
  } else {
    Result<std::string> folder = targetFolder(given, "brisquell-gui");
    if (!folder) {
      ui.warn(kProductName, folder.message());
      return 2;
    }
    target = openTarget(*folder);
  }
  if (!target) {
    ui.warn(kProductName, target.message());
    return 2;
  }
  int code = gui::runDesktopProgram(**target, ui, arguments).exitCode;
  if (!app.failure().empty()) {
    std::cerr << "brisquell-gui: " << app.failure() << "\n";
    ui.warn(kProductName, app.failure());
    return 1;
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  brisquell::gui::GuardedApplication app(argc, argv);
  // Whatever escapes outside an event handler ends here, said plainly, never as an abort.
  try {
    return run(app, argc, argv);
  } catch (...) {
    const std::string message = brisquell::lastResortMessage(std::current_exception());
    std::cerr << "brisquell-gui: " << message << "\n";
    try {
      QMessageBox::critical(nullptr, "Brisquell", QString::fromStdString(message));
    } catch (...) {
    }
    return 1;
  }
}
