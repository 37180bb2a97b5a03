// Drives kept as host folders: Windows paths resolve through the drive map, each component
// matched without regard to case, as Windows does.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/FileSystem.h"
#include "platform/host/BeneathPath.h"
#include "platform/host/ShortNames.h"

namespace brisquell {

/// Host-side tests used when recognising and opening targets.
bool hostIsDir(const std::string& path);
bool hostIsFile(const std::string& path);

/// What tells a file's contents changed: its inode, size and modification time.
struct HostFileStamp {
  unsigned long long inode = 0;
  long long size = -1, mtimeNs = 0;
  bool operator==(const HostFileStamp&) const = default;
};
HostFileStamp hostFileStamp(const std::string& path);

/// Why files in the host folder cannot be replaced (a read-only volume or folder), or nothing.
std::optional<std::string> hostFolderReadOnly(const std::string& folder);

/// Removes what an interrupted save of ours left in the folder: files named `name` followed by
/// one of `suffixes` and six more characters (mkstemp's), or by a suffix alone when it ends in
/// "new". Only call while no other process is writing the target. The names removed.
std::vector<std::string> removeStaleTemporaries(const std::string& folder, const std::string& name);

struct HostDrive {
  DriveInfo info;
  std::string hostRoot;  // absolute host folder holding the drive's contents
};

/// For critical sections of a hash lookup or two: waiting in the kernel for one costs more
/// than the section itself.
class SpinLock {
 public:
  void lock() {
    for (int spins = 0; flag_.test_and_set(std::memory_order_acquire); ++spins)
      if (spins > 64) std::this_thread::yield();
  }
  void unlock() { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class HostFileSystem final : public FileSystem {
 public:
  /// currentDirectory: the Windows folder that relative paths start from.
  HostFileSystem(std::vector<HostDrive> drives, std::string currentDirectory);

  std::vector<DriveInfo> drives() override;
  bool volumeInformation(std::string_view root) override;
  Status find(std::string_view pattern, std::vector<DirEntry>& out) override;
  Status attributes(std::string_view path, std::uint32_t& attributes) override;
  Status readFile(std::string_view path, Bytes& data) override;
  Status writeFile(std::string_view path, const Bytes& data) override;
  Status writeFileFrom(std::string_view path,
                       const std::function<long long(char*, std::size_t)>& read) override;
  std::optional<std::uint64_t> freeSpace(std::string_view folder) override;
  Status appendFile(std::string_view path, const Bytes& data) override;
  Status deleteFile(std::string_view path) override;
  std::vector<Status> deleteFilesIn(std::string_view folder,
                                    const std::vector<std::string>& names) override;
  Status createDirectory(std::string_view path) override;
  std::optional<std::string> hostPath(std::string_view path) override;
  std::optional<std::string> hostPathForNew(std::string_view path) override;
  void setListingCache(bool enabled) override;
  bool concurrentReads() const override { return true; }

  /// Confines every write and deletion to this host folder as well (a Wine prefix, whose
  /// drives may lead out of it): outside it, they fail with Status::AccessDenied.
  void setWriteArea(const std::string& hostFolder);
  /// A host folder outside the drives' folders that belongs to the target all the same (a
  /// shell folder the target links out to): read and written, but never through a further
  /// link out of it.
  void addLinkedArea(const std::string& hostFolder);
  /// How names in 8.3 form ("PROGRA~1") resolve on these drives; none until a target says.
  void setShortNames(ShortNameScheme scheme, DosNameReader dosNames = readNtfsDosName) {
    shortNames_ = scheme;
    dosNames_ = std::move(dosNames);
    std::lock_guard<SpinLock> hold(cacheLock_);
    found_.clear();
    resolved_.clear();
  }

 private:
  Status findUncached(std::string_view pattern, std::vector<DirEntry>& out);
  struct Entry {
    std::string name, folded;
    std::uint32_t attributes;
  };
  using Listing = std::vector<Entry>;  // sorted by folded name

  struct Parsed {
    const HostDrive* drive = nullptr;
    std::vector<std::string> components;
    bool trailingSlash = false;
  };
  Status parse(std::string_view path, Parsed& out) const;
  /// Host folder of the first n components; Status::PathNotFound when one is missing,
  /// Status::AccessDenied when a link on the way leads out of the drive's folder.
  Status resolveDir(const Parsed& p, std::size_t n, std::string& hostDir);
  Status resolveDirUncached(const Parsed& p, std::size_t n, std::string& hostDir);
  /// The host path of a Windows path, never through a link out of the drive's folder (nor,
  /// when writing, out of the write area): Status::AccessDenied then. mayBeNew: a missing last
  /// component is fine (the path is spelled as given).
  /// real: when writing, where the host path's real path goes.
  Status locate(std::string_view path, LastLink last, bool writing, bool mayBeNew,
                std::string& host, Parsed* parsed = nullptr, std::string* real = nullptr);
  /// Success when the host path stays inside the drive's folder (and the write area); its real
  /// path in `real` when asked for.
  Status confine(const Parsed& p, const std::string& host, LastLink last, bool writing,
                 std::string* real = nullptr);
  /// The folder's entries; nullptr when it cannot be listed, with the reason in why
  /// (PathNotFound when it is not there, AccessDenied or ReadFault when it cannot be read).
  std::shared_ptr<const Listing> listing(const std::string& hostDir, Status* why = nullptr);
  const Entry* lookup(const Listing& l, std::string_view name) const;
  /// The entry a name stands for, by its long name or else by its short name; nullptr with why
  /// FileNotFound when none, NotSupported when a short name cannot be resolved for certain.
  const Entry* entryFor(const std::string& hostDir, const Listing& l, std::string_view name,
                        Status& why) const;
  void forget(const std::string& hostDir);

  std::vector<HostDrive> drives_;
  std::vector<std::string> realRoots_;    // per drive, its folder's real path ("" when none)
  std::vector<std::string> linkedAreas_;  // real paths
  std::string writeArea_;                 // real path; empty: the drives' folders only
  std::string currentDirectory_;
  bool caching_ = false;
  // Guards the three caches below: two walkers of one scan may fill them at once. A listing is
  // built outside it; the first one stored wins.
  mutable SpinLock cacheLock_;
  std::unordered_map<std::string, std::shared_ptr<const Listing>> cache_;
  std::unordered_map<std::string, Status> unlisted_;  // why a cached folder has no listing
  // While listings are cached, find() of a name already looked for answers as it did then:
  // scans test the same few thousand files over and over.
  struct Found {
    Status status;
    std::vector<DirEntry> entries;
  };
  std::unordered_map<std::string, Found> found_;
  // While listings are cached, the host folder a Windows folder resolves to (or why none):
  // the files a scan tests lie in a few thousand folders, each named again and again.
  struct Resolved {
    Status status;
    std::string hostDir;
  };
  std::unordered_map<std::string, Resolved> resolved_;
  ShortNameScheme shortNames_ = ShortNameScheme::None;
  DosNameReader dosNames_;
};

}  // namespace brisquell
