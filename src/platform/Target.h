// A target: one Windows machine's registry and drives, whatever holds them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/RegistryStore.h"
#include "platform/ShortcutReader.h"
#include "platform/Status.h"
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
  /// Writes registry changes back in one atomic step; succeeds at once when nothing needs saving.
  /// Refuses, without writing anything, while writeBlocker() is set. After a failure the store
  /// may differ from the files: reload() brings it back (TargetChanges does so).
  virtual Outcome save() = 0;
  /// Drops every change not saved: reads the registry again from the target's files.
  virtual Outcome reload() = 0;
  /// Why the registry must not be written now (another program holds it), or nothing.
  /// Commands that change the registry ask before they change anything, and refuse while it
  /// is set; commands that only read may go on, noting that what they read may be stale.
  virtual std::optional<std::string> writeBlocker() const { return std::nullopt; }
  /// The host folder whose lock a changing command holds (TargetLock), empty for a target
  /// kept nowhere on disk.
  virtual std::string lockFolder() const { return {}; }
  /// False for a root key whose keys this target has no place to keep (hkey::Users, ...).
  virtual bool canStore(KeyHandle root) const {
    (void)root;
    return true;
  }
  /// True for the Windows this program runs on (its live registry): the programs the target
  /// names can be started here. A folder target (a prefix, a machine folder, an offline
  /// volume) is another machine, whose programs this host cannot start as its own.
  virtual bool isRunningSystem() const { return false; }
  /// Folders of the user's profile that lead out of the target (Wine links Desktop, Documents
  /// and the like to the host user's home folders), as Windows paths. The deep scan walks
  /// them although they are links, and follows no link below them.
  virtual std::vector<std::string> linkedShellFolders() const { return {}; }
  /// True where each registry write takes effect as it is made (the running system): save()
  /// only makes it durable and reload() undoes nothing, so a failed change must stop a repair.
  virtual bool changesAtOnce() const { return false; }
  /// What the user should know about how the target was opened (the user chosen, parts
  /// missing or left unread); printed before the command's own output.
  virtual std::vector<std::string> notes() const { return {}; }
};

/// Recognises the target kind of a folder and opens it; the error (exit code 2 on the command
/// line) names the folder, or the file and line that is damaged.
Result<std::unique_ptr<Target>> openTarget(const std::string& folder);

/// The folder the user named: `given` (a --target option), else $BRISQUELL_TARGET; without
/// either, an error telling how to name one (`program` is the command to show).
Result<std::string> targetFolder(const std::string& given, std::string_view program);

/// Choices only some target kinds take (an offline Windows installation's user and drives).
struct TargetOptions {
  std::string user;                 // profile folder name; empty: chosen as Windows would
  std::vector<std::string> drives;  // "D=PATH[,type]"
  bool empty() const { return user.empty() && drives.empty(); }
};
/// As above; a target kind that takes none of the options refuses them.
Result<std::unique_ptr<Target>> openTarget(const std::string& folder, const TargetOptions& options);

}  // namespace brisquell
