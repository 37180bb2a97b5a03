// Target loading: recognises the kind of target a folder holds.
#include "platform/Target.h"

#include <sys/stat.h>

#include <fmt/format.h>

#include "platform/hive/OfflineWindows.h"
#include "platform/machine/MachineFolder.h"
#include "platform/wine/WinePrefix.h"

namespace brisquell {

std::unique_ptr<Target> openTarget(const std::string& folder, TargetError& error) {
  return openTarget(folder, TargetOptions{}, error);
}

std::unique_ptr<Target> openTarget(const std::string& folder, const TargetOptions& options,
                                   TargetError& error) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error.message = fmt::format("{}: no such folder", folder);
    return nullptr;
  }
  if (OfflineWindows::looksLikeOne(folder)) return OfflineWindows::open(folder, options, error);
  if (!options.empty()) {
    error.message = fmt::format("{}: --user and --drive apply to an offline Windows installation "
                                "only",
                                folder);
    return nullptr;
  }
  if (MachineFolder::looksLikeOne(folder)) return MachineFolder::open(folder, error);
  if (WinePrefix::looksLikeOne(folder)) return WinePrefix::open(folder, error);
  error.message = fmt::format(
      "{}: not a known target (a machine folder holds machine.ini and registry.reg; a Wine "
      "prefix holds system.reg, user.reg and drive_c; an offline Windows installation holds "
      "Windows/System32/config/SOFTWARE)",
      folder);
  return nullptr;
}

}  // namespace brisquell
