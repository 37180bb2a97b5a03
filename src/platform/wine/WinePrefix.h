// A Wine prefix as a target: system.reg and user.reg as the registry, dosdevices/ as the drives.
#pragma once

#include <sys/types.h>

#include <functional>

#include "platform/Target.h"
#include "platform/cache/FolderUrlCache.h"
#include "platform/host/HostFileSystem.h"
#include "platform/lnk/LnkShortcutReader.h"
#include "platform/memory/MemoryRegistry.h"
#include "platform/wine/WineRegistryFile.h"

namespace brisquell {

class WinePrefix final : public Target {
 public:
  /// system.reg, user.reg and drive_c/ in the folder.
  static bool looksLikeOne(const std::string& folder);
  /// Loads both registry files; null with "FILE:LINE: what is wrong" when one is damaged.
  static Result<std::unique_ptr<WinePrefix>> open(const std::string& folder);

  std::string kind() const override { return "Wine prefix"; }
  std::string location() const override { return folder_; }
  std::string lockFolder() const override { return folder_; }
  RegistryStore& registry() override { return registry_; }
  FileSystem& files() override { return *files_; }
  ShortcutReader& shortcuts() override { return *shortcuts_; }
  UrlCache& urlCache() override { return *urlCache_; }
  const MachineInfo& machine() const override { return info_; }
  /// Says when drive C: leads out of the prefix (nothing is written there).
  std::vector<std::string> notes() const override;
  /// Set while a wineserver runs for the prefix.
  std::optional<std::string> writeBlocker() const override;
  /// Writes system.reg and/or user.reg, each only when one of its keys changed: both or
  /// neither (the new files are written beside the old ones first, then put in place).
  Outcome save() override;
  Outcome reload() override;
  /// HKEY_LOCAL_MACHINE (with HKEY_CLASSES_ROOT) and HKEY_CURRENT_USER: the two files' roots.
  bool canStore(KeyHandle root) const override;
  /// The user's profile folders that are links out of the prefix (to the host's home).
  std::vector<std::string> linkedShellFolders() const override { return linkedShellFolders_; }

  /// Test hook: replaces rename(2) for the step that puts the new files in place.
  void setRenameForTest(std::function<int(const char*, const char*)> rename) {
    rename_ = std::move(rename);
  }

  /// The drives as found in dosdevices/, for diagnostics and tests.

 private:
  struct FileStamp {
    ino_t inode = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp stampOf(const std::string& path);
  Outcome load();
  void findDrives();
  void describeMachine();
  void findLinkedShellFolders();

  std::string folder_;
  MachineInfo info_;
  MemoryRegistry registry_;
  std::unique_ptr<WineRegistryFile> system_, user_;
  FileStamp systemStamp_, userStamp_;
  std::vector<HostDrive> drives_;
  std::unique_ptr<HostFileSystem> files_;
  std::unique_ptr<LnkShortcutReader> shortcuts_;
  std::unique_ptr<FolderUrlCache> urlCache_;
  std::function<int(const char*, const char*)> rename_;
  std::vector<std::string> linkedShellFolders_;
  bool mustReload_ = false;  // a save failed after the readers took their keys as written
};

}  // namespace brisquell
