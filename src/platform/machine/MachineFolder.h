// The machine folder: machine.ini, registry.reg and one host folder per drive.
#pragma once

#include <functional>

#include "platform/Target.h"
#include "platform/cache/FolderUrlCache.h"
#include "platform/host/HostFileSystem.h"
#include "platform/lnk/LnkShortcutReader.h"
#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

class MachineFolder final : public Target {
 public:
  /// Opens the folder; null with the error (naming file and line) when it is no valid machine.
  static Result<std::unique_ptr<MachineFolder>> open(const std::string& folder);
  static bool looksLikeOne(const std::string& folder);

  std::string kind() const override { return "machine folder"; }
  std::string location() const override { return folder_; }
  std::string lockFolder() const override { return folder_; }
  RegistryStore& registry() override { return registry_; }
  FileSystem& files() override { return *files_; }
  ShortcutReader& shortcuts() override { return *shortcuts_; }
  UrlCache& urlCache() override { return *urlCache_; }
  const MachineInfo& machine() const override { return info_; }
  /// Refuses, naming the folder, when registry.reg cannot be replaced (a read-only folder or
  /// volume).
  std::optional<std::string> writeBlocker() const override;
  /// Refuses, writing nothing, when registry.reg changed on disk since it was read.
  Outcome save() override;
  Outcome reload() override;

  /// Test hook: the save's writer fails once this many bytes are written.
  void failSaveAfterBytes(std::size_t bytes) { failAfter_ = bytes; }

 private:
  std::string folder_;
  MachineInfo info_;
  MemoryRegistry registry_;
  std::unique_ptr<HostFileSystem> files_;
  std::unique_ptr<LnkShortcutReader> shortcuts_;
  std::unique_ptr<FolderUrlCache> urlCache_;
  std::size_t failAfter_ = SIZE_MAX;
  HostFileStamp stamp_;  // registry.reg as it was read
};

/// Saves a whole registry as a .reg file (version 5) by one atomic replacement.
Outcome saveRegistryFile(RegistryStore& store, const std::string& path,
                         std::size_t failAfterBytes = SIZE_MAX);

}  // namespace brisquell
