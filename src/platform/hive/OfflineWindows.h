// An offline Windows installation as a target: a mounted Windows volume whose hive files are
// the registry (through hivex) and whose folders are drive C:.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/Target.h"
#include "platform/cache/FolderUrlCache.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/OfflineRegistry.h"
#include "platform/host/HostFileSystem.h"
#include "platform/lnk/LnkShortcutReader.h"

namespace brisquell {

class OfflineWindows final : public Target {
 public:
  /// A user profile of the installation.
  struct Profile {
    std::string name;             // the profile folder's name
    std::string folder;           // host path of the profile folder
    std::string ntuser;           // host path of NTUSER.DAT; empty when the folder has none
    std::string usrClass;         // host path of UsrClass.dat; empty when missing
    std::string windowsPath;      // "C:\Users\NAME"
    std::time_t lastWritten = 0;  // of NTUSER.DAT
    bool xpLayout = false;        // below "Documents and Settings"
    /// Default, Public, All Users: templates and shared folders, never chosen on their own.
    bool shared = false;
  };

  /// Windows/System32/config/SOFTWARE exists in the folder, names matched without regard to case.
  static bool looksLikeOne(const std::string& folder);
  /// The profile folders below Users/ and Documents and Settings/, by name.
  static std::vector<Profile> profiles(const std::string& folder);
  /// Reads the hives; null with the error (naming the file) when one cannot be read.
  static Result<std::unique_ptr<OfflineWindows>> open(const std::string& folder,
                                                      const TargetOptions& options);

  std::string kind() const override { return "offline Windows installation"; }
  std::string location() const override { return folder_; }
  std::string lockFolder() const override { return folder_; }
  RegistryStore& registry() override { return registry_; }
  FileSystem& files() override { return *files_; }
  ShortcutReader& shortcuts() override { return *shortcuts_; }
  UrlCache& urlCache() override { return *urlCache_; }
  const MachineInfo& machine() const override { return info_; }
  /// Writes each changed hive through hivex, all of them or none.
  Outcome save() override;
  /// Reads every hive again, as it is on disk.
  Outcome reload() override;
  /// Set while a hive holds changes Windows has not applied, or the volume is read-only.
  std::optional<std::string> writeBlocker() const override;
  std::vector<std::string> notes() const override { return notes_; }

  OfflineRegistry& offlineRegistry() { return registry_; }
  const std::vector<std::unique_ptr<HiveFile>>& hives() const { return hives_; }
  /// The profile whose hive is HKEY_CURRENT_USER, if any.
  const Profile* user() const { return user_.name.empty() ? nullptr : &user_; }
  /// Test hook: the save fails just before replacing the hive with this file name.
  void failBeforeReplacing(std::string hiveName) { failBefore_ = std::move(hiveName); }

 private:
  Outcome load(const TargetOptions& options);
  Outcome chooseUser(const std::string& wanted);
  Outcome addDrives(const std::vector<std::string>& given, std::vector<HostDrive>& drives);
  void describeMachine();

  std::string folder_, configDir_, software_;
  MachineInfo info_;
  Profile user_;
  OfflineRegistry registry_;
  TargetOptions options_;
  std::vector<std::unique_ptr<HiveFile>> hives_;
  std::vector<std::string> notes_;
  std::optional<std::string> dirty_;
  std::unique_ptr<HostFileSystem> files_;
  std::unique_ptr<LnkShortcutReader> shortcuts_;
  std::unique_ptr<FolderUrlCache> urlCache_;
  Environment environment_;
  std::string failBefore_;
};

/// Host path of `rel` below `base`, each "/"-separated component matched without regard to
/// case; empty when a component is missing.
std::string findNoCase(const std::string& base, std::string_view rel);

}  // namespace brisquell
