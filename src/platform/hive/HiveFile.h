// One hive file of an offline Windows installation, read whole into the in-memory store and
// written back through hivex: only what changed is touched, so everything else (security
// descriptors, class names, time stamps, names the store cannot spell) stays as it was.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Status.h"
#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

class HiveFile {
 public:
  /// path: the hive on the host; mountPath: where it shows in the store ("SOFTWARE" below HKLM).
  HiveFile(std::string path, KeyHandle root, std::string mountPath);
  ~HiveFile();
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  const std::string& path() const { return path_; }
  KeyHandle root() const { return root_; }
  const std::string& mountPath() const { return mountPath_; }
  /// The key the hive's root node shows as (null once it is gone).
  MemoryRegistry::Key* mount(MemoryRegistry& store) const;

  /// Reads every key and value into the mount key (created empty). `hidden`: a path below the
  /// hive's root that another hive covers (HKCU\Software\Classes); it is neither read nor written.
  /// A hive hivex refuses, or one with cycles or unreadable parts, fails naming the file.
  Outcome load(MemoryRegistry& store, std::string_view hidden = {});

  /// Why the hive may hold changes Windows has not applied yet, or nothing.
  const std::optional<std::string>& dirty() const { return dirty_; }
  /// Notes from the load (parts of the hive the store cannot hold, left as they are).
  const std::vector<std::string>& notes() const { return notes_; }

  /// True when a key of this hive changed since the load or the last save.
  bool changed(MemoryRegistry& store) const;
  /// True when the file was replaced or modified on disk since it was read.
  bool changedOnDisk() const;
  /// Writes the hive with the store's changes into a flushed temporary file beside it.
  Outcome prepare(MemoryRegistry& store);
  /// Keeps a copy of the original next to it, once per object: NAME.brisquell-before-STAMP.
  Outcome keepCopy(const std::string& stamp);
  /// Renames the prepared temporary file over the hive (after keepCopy).
  Outcome commit(const std::string& stamp);
  /// Puts the kept copy back after a later hive of the same save failed.
  Outcome rollBack();
  /// Drops a prepared temporary file.
  void abandon();
  /// After a save: the new keys' nodes recorded, the change marks cleared.
  void saved(MemoryRegistry& store);
  const std::string& safetyCopy() const { return safetyCopy_; }

 private:
  struct Stamp {
    ino_t inode = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const Stamp&) const = default;
  };
  static Stamp stampOf(const std::string& path);
  void checkDirty();
  MemoryRegistry::Key* hiddenKey(MemoryRegistry& store) const;

  std::string path_, mountPath_, hidden_;
  KeyHandle root_;
  Stamp stamp_;
  std::optional<std::string> dirty_;
  std::vector<std::string> notes_;
  /// Nodes the store does not show (unreadable names, the covered classes key): never deleted
  /// when their parent's subkeys are written back.
  std::unordered_set<std::size_t> unseen_;
  /// Keys that hold values whose names could not be read: their values are never rewritten.
  std::unordered_set<std::size_t> unreadableValues_;
  std::string temp_, safetyCopy_;
  bool committed_ = false;
  std::vector<std::pair<MemoryRegistry::Key*, std::size_t>> newNodes_;
};

}  // namespace brisquell
