// A target: one Windows machine's registry and drives, whatever holds them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/RegistryStore.h"
#include "platform/ShortcutReader.h"
#include "platform/UrlCache.h"

namespace brisquell {

/// Facts about the machine that the logic asks the operating system for on Windows.
struct MachineInfo {
  int platformId = 2;
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::string installFolder = "C:\\Program Files\\Brisquell";
  std::string tempFolder = "C:\\WINDOWS\\Temp";
  std::string userName = "user";
};

class Target {
 public:
  virtual ~Target() = default;
  /// "machine folder", "Wine prefix", ...
  virtual std::string kind() const = 0;
  virtual std::string location() const = 0;
  virtual RegistryStore& registry() = 0;
  virtual FileSystem& files() = 0;
  /// Reads the targets of shortcut files on the target's drives.
  virtual ShortcutReader& shortcuts() = 0;
  /// The browser's URL cache of the machine's user; a target that keeps none refuses every call.
  virtual UrlCache& urlCache() { return noUrlCache(); }
  virtual const MachineInfo& machine() const = 0;
  /// Writes registry changes back in one atomic step; true when nothing needed saving.
  /// Refuses, without writing anything, while writeBlocker() is set.
  virtual bool save(std::string& error) = 0;
  /// Why the registry must not be written now (another program holds it), or nothing.
  /// Commands that change the registry ask before they change anything, and refuse while it
  /// is set; commands that only read may go on, noting that what they read may be stale.
  virtual std::optional<std::string> writeBlocker() const { return std::nullopt; }
  /// What the user should know about how the target was opened (the user chosen, parts
  /// missing or left unread); printed before the command's own output.
  virtual std::vector<std::string> notes() const { return {}; }
};

/// Why a target could not be opened; exit code 2 on the command line.
struct TargetError {
  std::string message;
};

/// Recognises the target kind of a folder and opens it; null with the error otherwise.
std::unique_ptr<Target> openTarget(const std::string& folder, TargetError& error);

/// Choices only some target kinds take (an offline Windows installation's user and drives).
struct TargetOptions {
  std::string user;                 // profile folder name; empty: chosen as Windows would
  std::vector<std::string> drives;  // "D=PATH[,type]"
  bool empty() const { return user.empty() && drives.empty(); }
};
/// As above; a target kind that takes none of the options refuses them.
std::unique_ptr<Target> openTarget(const std::string& folder, const TargetOptions& options,
                                   TargetError& error);

}  // namespace brisquell
