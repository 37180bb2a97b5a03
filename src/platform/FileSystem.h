// The target's drives and files, addressed by Windows paths ("C:\WINDOWS\x.dll").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace brisquell {

/// Drive type codes as the drive collection reports them.
enum DriveType : int {
  DriveUnknown = 0,
  DriveRemovable = 1,
  DriveFixed = 2,
  DriveNetwork = 3,
  DriveCdRom = 4,
  DriveRamDisk = 5,
};

/// File attribute bits.
enum : std::uint32_t {
  FILE_ATTRIBUTE_READONLY = 0x1,
  FILE_ATTRIBUTE_HIDDEN = 0x2,
  FILE_ATTRIBUTE_SYSTEM = 0x4,
  FILE_ATTRIBUTE_DIRECTORY = 0x10,
  FILE_ATTRIBUTE_ARCHIVE = 0x20,
  FILE_ATTRIBUTE_NORMAL = 0x80,
  FILE_ATTRIBUTE_REPARSE_POINT = 0x400,
};

/// File-system status codes (Win32 values).
enum : std::int32_t {
  FS_OK = 0,
  FS_FILE_NOT_FOUND = 2,
  FS_PATH_NOT_FOUND = 3,
  FS_ACCESS_DENIED = 5,
  FS_INVALID_DRIVE = 15,
  FS_NOT_READY = 21,
  FS_WRITE_FAULT = 29,
  FS_READ_FAULT = 30,
  FS_FILE_EXISTS = 80,
  FS_INVALID_NAME = 123,
  FS_DIR_NOT_EMPTY = 145,
};

/// True for codes that mean "the path cannot be tested" rather than "nothing is there".
inline bool isPathError(std::int32_t status) {
  return status == FS_INVALID_DRIVE || status == FS_NOT_READY || status == FS_INVALID_NAME;
}

struct DriveInfo {
  char letter = 'C';
  int type = DriveFixed;
  bool ready = true;
};

struct DirEntry {
  std::string name;
  std::uint32_t attributes = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  /// Drives in letter order.
  virtual std::vector<DriveInfo> drives() = 0;
  /// Succeeds when the root ("C:\") belongs to a ready drive whose contents can be read.
  virtual bool volumeInformation(std::string_view root) = 0;

  /// Entries matching a path whose last component may hold '*' and '?', in a stable order
  /// (names sorted without regard to case). FS_FILE_NOT_FOUND when nothing matches; a path
  /// error (isPathError) when the path cannot be tested.
  virtual std::int32_t find(std::string_view pattern, std::vector<DirEntry>& out) = 0;
  virtual std::int32_t attributes(std::string_view path, std::uint32_t& attributes) = 0;

  virtual std::int32_t readFile(std::string_view path, Bytes& data) = 0;
  /// Replaces the file's contents (through a temporary file and a rename).
  virtual std::int32_t writeFile(std::string_view path, const Bytes& data) = 0;
  /// Appends to the file, creating it when missing (its folder must exist).
  virtual std::int32_t appendFile(std::string_view path, const Bytes& data) = 0;
  virtual std::int32_t deleteFile(std::string_view path) = 0;
  /// Creates the folder and every missing folder above it.
  virtual std::int32_t createDirectory(std::string_view path) = 0;

  /// The host path of an existing entry, for libraries that read files themselves.
  virtual std::optional<std::string> hostPath(std::string_view path) = 0;
  /// The host path the Windows path would have (its folder must exist), for creating files.
  virtual std::optional<std::string> hostPathForNew(std::string_view path) = 0;

  /// While enabled, folder listings are read once and kept (for the length of one scan).
  virtual void setListingCache(bool enabled) = 0;
};

/// Keeps the listing cache on for one scope.
class ListingCacheScope {
 public:
  explicit ListingCacheScope(FileSystem& fs) : fs_(fs) { fs_.setListingCache(true); }
  ~ListingCacheScope() { fs_.setListingCache(false); }
  ListingCacheScope(const ListingCacheScope&) = delete;
  ListingCacheScope& operator=(const ListingCacheScope&) = delete;

 private:
  FileSystem& fs_;
};

}  // namespace brisquell
