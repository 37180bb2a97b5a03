// Target loading: recognises the kind of target a folder holds, and finds the folder the user
// named.
#include "platform/Target.h"

#include <sys/stat.h>
#include <cstdlib>

#include <fmt/format.h>

#include "platform/hive/OfflineWindows.h"
#include "platform/machine/MachineFolder.h"
#include "platform/wine/WinePrefix.h"

namespace brisquell {

namespace {

template <class T>
Result<std::unique_ptr<Target>> asTarget(Result<std::unique_ptr<T>> opened) {
  if (!opened) return opened.error();
  return std::unique_ptr<Target>(std::move(opened).value());
}

}  // namespace

Result<std::unique_ptr<Target>> openTarget(const std::string& folder) {
  return openTarget(folder, TargetOptions{});
}

Result<std::unique_ptr<Target>> openTarget(const std::string& folder,
                                           const TargetOptions& options) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Error{Status::PathNotFound, fmt::format("{}: no such folder", folder)};
  if (OfflineWindows::looksLikeOne(folder)) return asTarget(OfflineWindows::open(folder, options));
  if (!options.empty())
    return Error{Status::InvalidParameter,
                 fmt::format("{}: --user and --drive apply to an offline Windows installation only",
                             folder)};
  if (MachineFolder::looksLikeOne(folder)) return asTarget(MachineFolder::open(folder));
  if (WinePrefix::looksLikeOne(folder)) return asTarget(WinePrefix::open(folder));
  return Error{Status::InvalidParameter,
               fmt::format("{}: not a known target (a machine folder holds machine.ini and "
                           "registry.reg; a Wine prefix holds system.reg, user.reg and drive_c; an "
                           "offline Windows installation holds Windows/System32/config/SOFTWARE)",
                           folder)};
}

Result<std::string> targetFolder(const std::string& given, std::string_view program) {
  if (!given.empty()) return given;
  if (const char* env = std::getenv("BRISQUELL_TARGET"); env && *env) return std::string(env);
  return Error{Status::InvalidParameter,
               fmt::format("no target: name the machine to work on with `{} --target DIR` or the "
                           "environment variable BRISQUELL_TARGET",
                           program)};
}

}  // namespace brisquell
