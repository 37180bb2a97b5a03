// The target's drives and files, addressed by Windows paths ("C:\WINDOWS\x.dll").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
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
namespace fileattr {
inline constexpr std::uint32_t Readonly = 0x1;
inline constexpr std::uint32_t Hidden = 0x2;
inline constexpr std::uint32_t System = 0x4;
inline constexpr std::uint32_t Directory = 0x10;
inline constexpr std::uint32_t Archive = 0x20;
inline constexpr std::uint32_t Normal = 0x80;
inline constexpr std::uint32_t ReparsePoint = 0x400;
}  // namespace fileattr

/// The type code of a drive type's name in machine.ini or on the command line ("cdrom"); -1
/// when unknown.
inline int driveTypeFromName(std::string_view n) {
  if (iequals(n, "removable")) return DriveRemovable;
  if (iequals(n, "fixed")) return DriveFixed;
  if (iequals(n, "network")) return DriveNetwork;
  if (iequals(n, "cdrom")) return DriveCdRom;
  if (iequals(n, "ramdisk")) return DriveRamDisk;
  return -1;
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
  /// (names sorted without regard to case). Status::FileNotFound when nothing matches; a path
  /// error (isPathError) when the path cannot be tested.
  virtual Status find(std::string_view pattern, std::vector<DirEntry>& out) = 0;
  virtual Status attributes(std::string_view path, std::uint32_t& attributes) = 0;

  virtual Status readFile(std::string_view path, Bytes& data) = 0;
  /// Replaces the file's contents (through a temporary file and a rename).
  virtual Status writeFile(std::string_view path, const Bytes& data) = 0;
  /// Replaces the file's contents with what `read` gives (a chunk at a time, up to the size
  /// asked for; 0 at the end, negative on a failure, which leaves the old file), so a large
  /// file never has to be held whole.
  virtual Status writeFileFrom(std::string_view path,
                               const std::function<long long(char*, std::size_t)>& read) {
    Bytes data;
    char buf[65536];
    for (long long n; (n = read(buf, sizeof buf)) != 0;) {
      if (n < 0) return Status::ReadFault;
      data.insert(data.end(), buf, buf + n);
    }
    return writeFile(path, data);
  }
  /// Bytes free for new files in the folder; nullopt when unknown.
  virtual std::optional<std::uint64_t> freeSpace(std::string_view folder) {
    (void)folder;
    return std::nullopt;
  }
  /// Appends to the file, creating it when missing (its folder must exist).
  virtual Status appendFile(std::string_view path, const Bytes& data) = 0;
  virtual Status deleteFile(std::string_view path) = 0;
  /// Deletes files of one folder by name, each as deleteFile() would: one status per name, in
  /// their order. The files may go in any order, and on more than one thread.
  virtual std::vector<Status> deleteFilesIn(std::string_view folder,
                                            const std::vector<std::string>& names) {
    std::string prefix(folder);
    if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
    std::vector<Status> out;
    out.reserve(names.size());
    for (const std::string& n : names) out.push_back(deleteFile(prefix + n));
    return out;
  }
  /// Creates the folder and every missing folder above it.
  virtual Status createDirectory(std::string_view path) = 0;

  /// The host path of an existing entry, for libraries that read files themselves.
  virtual std::optional<std::string> hostPath(std::string_view path) = 0;
  /// The host path the Windows path would have (its folder must exist), for creating files.
  virtual std::optional<std::string> hostPathForNew(std::string_view path) = 0;

  /// While enabled, folder listings are read once and kept (for the length of one scan).
  virtual void setListingCache(bool enabled) = 0;
  /// True when find(), attributes(), readFile() and hostPath() may run on two threads at once
  /// while nothing is written (a scan's second walker).
  virtual bool concurrentReads() const { return false; }
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
