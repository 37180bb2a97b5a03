// Target loading: recognises the kind of target a folder holds, and finds the folder the user
// named.
#include "platform/Target.h"

#include <cstdlib>

#include <fmt/format.h>

#include "platform/HostIo.h"
#include "platform/machine/MachineFolder.h"
#if BRISQUELL_OFFLINE_WINDOWS
#include "platform/hive/OfflineWindows.h"
#endif
#if BRISQUELL_WINE_PREFIX
#include "platform/wine/WinePrefix.h"
#endif

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
  if (!hostio::stat(folder).directory)
    return Error{Status::PathNotFound, fmt::format("{}: no such folder", folder)};
#if BRISQUELL_OFFLINE_WINDOWS
  if (OfflineWindows::looksLikeOne(folder)) return asTarget(OfflineWindows::open(folder, options));
#else
  if (hostio::stat(folder + "/Windows/System32/config/SOFTWARE").exists)
    return Error{Status::NotSupported,
                 fmt::format("{}: an offline Windows installation; this build reads none (it "
                             "was built without hivex)",
                             folder)};
#endif
  if (!options.empty())
    return Error{Status::InvalidParameter,
                 fmt::format("{}: --user and --drive apply to an offline Windows installation only",
                             folder)};
  if (MachineFolder::looksLikeOne(folder)) return asTarget(MachineFolder::open(folder));
#if BRISQUELL_WINE_PREFIX
  if (WinePrefix::looksLikeOne(folder)) return asTarget(WinePrefix::open(folder));
#else
  if (hostio::stat(folder + "/system.reg").regular && hostio::stat(folder + "/drive_c").directory)
    return Error{Status::NotSupported,
                 fmt::format("{}: a Wine prefix; open it with the Linux build, which sees its "
                             "drive links and its wineserver",
                             folder)};
#endif
  return Error{Status::InvalidParameter,
               fmt::format("{}: not a known target (a machine folder holds machine.ini and "
                           "registry.reg; a Wine prefix holds system.reg, user.reg and drive_c; an "
                           "offline Windows installation holds Windows/System32/config/SOFTWARE)",
                           folder)};
}

Result<std::string> targetFolder(const std::string& given, std::string_view program) {
  if (!given.empty()) return given;
  if (auto env = hostio::environment("BRISQUELL_TARGET"); env && !env->empty()) return *env;
  return Error{Status::InvalidParameter,
               fmt::format("no target: name the machine to work on with `{} --target DIR` or the "
                           "environment variable BRISQUELL_TARGET",
                           program)};
}

}  // namespace brisquell
