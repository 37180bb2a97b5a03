// Target loading: recognises the kind of target a folder holds.
#include "platform/Target.h"

#include <sys/stat.h>

#include <fmt/format.h>

#include "platform/machine/MachineFolder.h"
#include "platform/wine/WinePrefix.h"

namespace brisquell {

std::unique_ptr<Target> openTarget(const std::string& folder, TargetError& error) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error.message = fmt::format("{}: no such folder", folder);
    return nullptr;
  }
  if (MachineFolder::looksLikeOne(folder)) return MachineFolder::open(folder, error);
  if (WinePrefix::looksLikeOne(folder)) return WinePrefix::open(folder, error);
  error.message = fmt::format(
      "{}: not a known target (a machine folder holds machine.ini and registry.reg; a Wine "
      "prefix holds system.reg, user.reg and drive_c)",
      folder);
  return nullptr;
}

}  // namespace brisquell
