// Backup sets: the backup file (INI text, one record per repaired problem) and its archive of
// deleted shortcut files, side by side in the Backup folder of the install folder.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/RegistryStore.h"
#include "scan/ProblemList.h"

namespace brisquell {

class cInifile;

/// One row of the restore window's list.
struct BackupListing {
  std::string name;      // "Backup Name": the file name
  std::string dateText;  // "Date & Time": "mmm dd, yyyy at hh:nn:ss AMPM", empty when unreadable
  std::string path;      // "Backup Path": the folder and the file name
  std::string sortKey;   // "DT": "yyyymmddhhnnss"
};

class BackupSet {
 public:
  using Clock = std::chrono::system_clock;

  /// The value a record describes as it was before the run changed anything: what makes a
  /// restore exact. Kept in extra keys of the record, which older readers ignore.
  struct Original {
    bool known = false;    // the record carries these keys
    bool existed = false;  // false: the run created the value, so a restore removes it
    std::uint32_t type = regtype::None;
    Bytes data;               // exactly as stored
    std::int64_t index = -1;  // position among the key's values, -1 unknown
    std::string name, keyPath;
  };

  static constexpr std::string_view kInfoSection = "Backup Info";
  static constexpr std::string_view kTimeKey = "Time";
  static constexpr std::string_view kRecordPrefix = "Restore: ";
  static constexpr std::string_view kFields[6] = {"MainKey", "KeyName",     "KeyValue",
                                                  "Section", "FullKeyPath", "MainKeyName"};

  /// The install folder's path followed by "\Backup\".
  static std::string folderOf(std::string_view installFolder);
  /// Folder, "Brisquell", "BK" and the seconds since local midnight (at most seven significant
  /// digits, no trailing zeros).
  static std::string baseName(std::string_view folder, Clock::time_point now);
  static std::string secondsText(Clock::time_point now);
  /// Contains "BrisquellBK" and ".bkp", letter case ignored.
  static bool isBackupFileName(std::string_view name);
  /// Every ".bkp" replaced by ".zip" (case-sensitive).
  static std::string archivePathOf(std::string_view backupPath);

  /// General date text as the backup file keeps it: "12/8/2026 5:35:34 PM".
  static std::string generalDate(Clock::time_point t);
  /// Parses general date text (and a few other common forms); nullopt when it is no date.
  static std::optional<std::tm> parseDate(std::string_view text);
  static std::string listDate(const std::tm& t);  // "Dec 08, 2026 at 05:35:34 PM"
  static std::string sortKey(const std::tm& t);   // "20261208173534"

  /// The backup sets of a folder, newest first (sets without a readable time last).
  static std::vector<BackupListing> list(FileSystem& files, std::string_view folder);

  /// Writes one record section "Restore: n": the six fields, then the original value.
  static void writeRecord(cInifile& ini, std::size_t n, const ProblemRecord& r,
                          const Original* original);
  /// Reads the records of the file in file order into the list (emptied first); originals gets
  /// one entry per problem (known = false for records without the extra keys).
  static void readRecords(cInifile& ini, ProblemList& problems, std::vector<Original>& originals);

  /// One name for a key however it is reached (the store says where views such as
  /// hkey::ClassesRoot lead). Case-folded.
  static std::string keyIdentity(RegistryStore& store, KeyHandle root, std::string_view path);
  /// The root handle a record's MainKey holds (signed decimal); nullopt when it holds none.
  static std::optional<KeyHandle> rootOf(std::string_view mainKey);

  static std::string toHex(const std::uint8_t* data, std::size_t size);
  static std::string toHex(std::string_view s) {
    return toHex(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  }
  static std::optional<Bytes> fromHex(std::string_view hex);
};

}  // namespace brisquell
