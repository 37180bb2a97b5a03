// Version text, settings reset, command-line switch and the program's own files.
#include "shell/ShellStart.h"

#include "scan/ScanDriver.h"
#include "shell/Settings.h"

namespace brisquell {

std::string readVersionText(ScanContext& ctx) {
  Settings settings(ctx.registry());
  return settings.Version();
}

std::string alreadyRunningMessage(std::string_view version) {
  return std::string(kProductName) + " v" + std::string(version) + " is already running.";
}

bool ResetRegistrySettings(ScanContext& ctx) {
  Settings settings(ctx.registry());
  if (trimBlanks(settings.ResetValue()).empty()) return false;
  RegistryStore& store = ctx.registry().store();
  KeyHandle product = 0;
  if (store.openKey(hkey::LocalMachine, kProductKey, keyaccess::AllAccess, product) !=
      Status::Success)
    return false;
  bool deleted = false;
  std::uint32_t index = 0;
  std::string name;
  // A subkey that cannot be deleted is stepped over, so the walk always ends.
  while (store.enumKey(product, index, name) == Status::Success) {
    if (name.find("Brisquell_Version") == std::string::npos &&
        store.deleteKey(product, name) == Status::Success) {
      deleted = true;
      continue;
    }
    ++index;
  }
  store.closeKey(product);
  if (store.deleteKey(hkey::LocalMachine, kProductKey) == Status::Success) deleted = true;
  return deleted;
}

bool hasQuickSwitch(const std::vector<std::string>& arguments) {
  for (const std::string& a : arguments)
    if (icontains(a, "-Quick")) return true;
  return false;
}

std::string desktopProgramPath() { return siblingProgramPath("brisquell-gui"); }

std::string installedHelpPage() {
  return installedFile("share/doc/brisquell", "BrisquellHelp.htm");
}

}  // namespace brisquell
