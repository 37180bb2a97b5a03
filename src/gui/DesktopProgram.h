// The entry procedure of the desktop program: version, single instance, splash, settings
// reset, main window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gui/frmMain.h"
#include "platform/Target.h"
#include "platform/UserInterface.h"

namespace brisquell::gui {

struct EntryOptions {
  std::string lockFolder;  // empty: the user's runtime folder
  int splashMs = 2000;     // the splash window's unload timer
  bool showSplash = true;
  bool runEventLoop = true;  // false: return once the main window is shown (tests)
};

struct EntryResult {
  int exitCode = 0;
  bool refusedAsSecond = false;  // another instance holds the lock
  bool splashShown = false;
  std::unique_ptr<frmMain> window;  // when the event loop was not run
};

/// Runs the start-up in its order; with runEventLoop, until the program ends.
EntryResult runDesktopProgram(Target& target, UserInterface& ui,
                              const std::vector<std::string>& arguments,
                              const EntryOptions& options = {});

}  // namespace brisquell::gui
