// The entry procedure.
#include "gui/DesktopProgram.h"

#include <QApplication>

#include "gui/GuiSupport.h"
#include "gui/frmMain.h"
#include "gui/frmSplash.h"
#include "platform/TargetChanges.h"
#include "scan/ScanDriver.h"
#include "shell/ShellStart.h"
#include "shell/SingleInstance.h"

namespace brisquell::gui {

EntryResult runDesktopProgram(Target& target, UserInterface& ui,
                              const std::vector<std::string>& arguments,
                              const EntryOptions& options) {
  EntryResult result;
  saveOffWindowThread();  // a save of a large registry takes seconds: the window keeps painting
  std::string version;
  {
    ScanContext ctx(target);
    version = readVersionText(ctx);
  }
  SingleInstance instance(options.lockFolder);
  std::string lockError;
  if (instance.acquire(lockError) == SingleInstance::State::AlreadyRunning) {
    ui.inform(kApplicationTitle, alreadyRunningMessage(version));
    result.refusedAsSecond = true;
    return result;
  }
  if (options.showSplash) {
    frmSplash splash(options.splashMs);
    result.splashShown = true;
    splash.exec();
  }
  {
    ScanContext ctx(target);
    // While the target must not be written the reset waits for a later start. The lock may
    // wait for another program: it is taken and given back off the window thread, as the save
    // (through the save runner) is, and a failed save is said once it has returned.
    HeldTarget held(target);
    TargetChanges changes(target);
    if (runOffWindowThread([&] { return changes.begin(); }) && ResetRegistrySettings(ctx))
      if (Outcome saved = changes.save(); !saved)
        ui.warn(kProductName, "The settings could not be reset: " + saved.message());
  }
  auto window = std::make_unique<frmMain>(target, ui, arguments, version);
  window->showAtStart();
  if (!options.runEventLoop) {
    result.window = std::move(window);
    return result;
  }
  result.exitCode = QApplication::exec();
  return result;
}

}  // namespace brisquell::gui
