// Version text, settings reset, command-line switch and program path.
#include "shell/ShellStart.h"

#include <unistd.h>

#include <climits>

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
  if (store.openKey(hkey::LocalMachine, kProductKey, keyaccess::AllAccess, product) != Status::Success) return false;
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

std::string currentProgramPath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string desktopProgramPath() {
  std::string self = currentProgramPath();
  std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return "brisquell-gui";
  return self.substr(0, slash + 1) + "brisquell-gui";
}

}  // namespace brisquell
