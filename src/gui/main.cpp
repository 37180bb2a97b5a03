// brisquell-gui [--target DIR] [-Quick]: the desktop program.
#include <QApplication>
#include <QMessageBox>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "gui/DesktopProgram.h"
#include "gui/GuiSupport.h"
#include "gui/MessageBoxInterface.h"
#include "scan/ScanDriver.h"

int main(int argc, char** argv) {
  using namespace brisquell;
  QApplication app(argc, argv);
  QApplication::setApplicationName("Brisquell");
  QApplication::setWindowIcon(gui::programIcon());
  // The window may live in the tray with no window shown; only the exit steps end the program.
  QApplication::setQuitOnLastWindowClosed(false);

  std::vector<std::string> arguments;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    arguments.push_back(a);
    if (a == "--help" || a == "-h") {
      std::cout << "Usage: brisquell-gui [--target DIR] [-Quick]\n"
                   "  --target DIR  the machine to work on (default: $BRISQUELL_TARGET)\n"
                   "  -Quick        run one quick scan when the window first shows\n";
      return 0;
    }
    if (a == "--target" && i + 1 < argc) {
      folder = argv[++i];
      arguments.push_back(folder);
    } else if (a.rfind("--target=", 0) == 0) {
      folder = a.substr(9);
    }
  }
  if (folder.empty())
    if (const char* env = std::getenv("BRISQUELL_TARGET")) folder = env;
  gui::MessageBoxInterface ui;
  if (folder.empty()) {
    ui.warn(kProductName, "Name the machine to work on: brisquell-gui --target DIR, or set the "
                          "environment variable BRISQUELL_TARGET.");
    return 2;
  }
  TargetError error;
  auto target = openTarget(folder, error);
  if (!target) {
    ui.warn(kProductName, error.message);
    return 2;
  }
  return gui::runDesktopProgram(*target, ui, arguments).exitCode;
}
