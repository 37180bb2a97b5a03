// In-memory registry tree: the store behind machine folders and the tests' fake registry.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/RegistryStore.h"
#include "platform/Text.h"

namespace brisquell {

/// Finds names among a list without regard to case; a hash table is built only for long lists.
/// Its slots hold part of each name's hash beside the position, so a probe looks at a name only
/// when the hashes agree, and the table grows without reading the names again.
class NameIndex {
 public:
  NameIndex() = default;
  ~NameIndex() { delete slots_.load(std::memory_order_relaxed); }
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;

  /// A name's folded hash, worked out at most once for a lookup and the insertion after it.
  class Hash {
   public:
    std::uint32_t get(std::string_view name) {
      if (!known_) {
        value_ = static_cast<std::uint32_t>(foldedHash(name) >> 32);
        known_ = true;
      }
      return value_;
    }

   private:
    std::uint32_t value_ = 0;
    bool known_ = false;
  };

  template <class Getter>
  std::int64_t find(std::string_view name, std::size_t count, Getter nameAt) const {
    Hash h;
    return find(name, h, count, nameAt);
  }
  /// `hash` is of `name`.
  template <class Getter>
  std::int64_t find(std::string_view name, Hash& hash, std::size_t count, Getter nameAt) const;
  /// Call after appending `name` at `position`; `count` is the list's new length.
  void added(std::uint32_t position, std::string_view name, Hash& hash, std::size_t count);
  void added(std::uint32_t position, std::string_view name, std::size_t count) {
    Hash h;
    added(position, name, h, count);
  }
  void invalidate() { delete slots_.exchange(nullptr, std::memory_order_relaxed); }

  static constexpr std::size_t kLinearLimit = 8;

 private:
  template <class Getter>
  void rebuild(std::size_t count, Getter nameAt) const;
  static void insert(std::vector<std::uint64_t>& slots, std::uint64_t slot);
  void grow();
  // hash << 32 | (position + 1); 0 = empty. Behind a pointer: most lists never need one, and
  // every key holds two indexes. A lookup may build the table; threads that only read may
  // look up at once, so the first table built is published atomically and the others dropped.
  mutable std::atomic<std::vector<std::uint64_t>*> slots_{nullptr};
};

/// Memory for a store's keys, taken in chunks that grow up to a few MiB; the large ones ask
/// for huge pages, so a registry of a million keys is not a million allocations and page faults.
/// Nothing is given back before the arena goes.
class KeyArena {
 public:
  KeyArena() = default;
  ~KeyArena();
  KeyArena(const KeyArena&) = delete;
  KeyArena& operator=(const KeyArena&) = delete;
  void* take(std::size_t size);
  /// Takes over the chunks of `other` (whose keys moved into this arena's store).
  void adopt(KeyArena& other);

 private:
  struct Chunk {
    void* base;
    std::size_t size;
    bool mapped;
  };
  std::vector<Chunk> chunks_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t nextSize_ = std::size_t{64} << 10;
};

class MemoryRegistry final : public RegistryStore {
 public:
  struct Key;
  /// Ends a key made in a store's arena in place, any other with delete.
  struct KeyDelete {
    void operator()(Key* k) const;
  };
  using KeyPtr = std::unique_ptr<Key, KeyDelete>;
  struct Value {
    std::string name;
    std::uint32_t type = regtype::None;
    Bytes data;  // as stored: strings UTF-16LE
  };
  struct Key {
    std::string name;
    Key* parent = nullptr;
    std::vector<KeyPtr> children;
    std::vector<Value> values;
    NameIndex childIndex, valueIndex;
    /// Set by every write to the key (value set or deleted, key created, subkey deleted);
    /// back ends that keep per-key metadata clear it when they have saved the key.
    bool changed = false;
    bool inArena = false;
    /// Free for the back end that loaded the key (e.g. an index into its own table); 0 = none.
    std::uint32_t tag = 0;
    Key* child(std::string_view n) const;
    Key* child(std::string_view n, NameIndex::Hash& h) const;
    Value* value(std::string_view n);
    Value* value(std::string_view n, NameIndex::Hash& h);
  };

  MemoryRegistry();
  ~MemoryRegistry() override;

  Status openKey(KeyHandle key, std::string_view subKey, std::uint32_t access,
                 KeyHandle& result) override;
  Status createKey(KeyHandle key, std::string_view subKey, KeyHandle& result) override;
  Status closeKey(KeyHandle key) override;
  Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) override;
  Status deleteValue(KeyHandle key, std::string_view name) override;
  Status deleteValuesFrom(KeyHandle key, std::uint32_t first) override;
  Status deleteKey(KeyHandle key, std::string_view subKey) override;
  Status deleteTree(KeyHandle key, std::string_view subKey) override;
  Status enumValueRaw(KeyHandle key, std::uint32_t index, std::string& name, std::uint32_t& type,
                      Bytes& data) override;
  Status queryValueRaw(KeyHandle key, std::string_view name, std::uint32_t& type,
                       Bytes& data) override;
  Status setValueRaw(KeyHandle key, std::string_view name, std::uint32_t type,
                     const Bytes& data) override;
  Status queryInfo(KeyHandle key, std::uint32_t& subKeys, std::uint32_t& values) override;
  /// hkey::ClassesRoot is a view of hkey::LocalMachine\SOFTWARE\Classes; every other root is
  /// its own.
  KeyLocation canonicalKey(KeyHandle root, std::string_view path) override;
  std::unique_ptr<RegistryStore> concurrentReader() override;
  bool modified() const override { return modified_; }
  void markSaved() override { modified_ = false; }

  /// Direct access for loaders and writers of whole registries.
  Key* root(KeyHandle predefined);
  /// The key a handle designates (predefined roots included), or null.
  Key* resolve(KeyHandle key);
  /// Finds or creates a key below `from`; sets the modified flag only when it creates one.
  Key* ensure(Key* from, std::string_view path);
  /// ensure() of one name (no "\\" in it), for loaders: one lookup, one hash.
  Key* ensureChild(Key* parent, std::string_view name);
  Key* find(Key* from, std::string_view path) const;
  void setRaw(Key* key, std::string_view name, std::uint32_t type, Bytes data);
  void removeTree(Key* key);
  /// Moves every key and value of `later` into this store as if its statements had been loaded
  /// after this store's: values of keys both hold are replaced in place, new keys and values go
  /// last. `later` is left empty.
  void mergeLoaded(MemoryRegistry& later);

 private:
  class Reader;
  /// Open keys by handle: the store's own, and one per concurrent reader.
  struct Handles {
    std::vector<Key*> keys;  // handle = position + 1
    std::vector<bool> open;  // per handle: not yet closed
    std::vector<std::uint32_t> free;
    // The subkey enumerated last: walks open each one by the name they were just given.
    const Key* enumerated = nullptr;
    std::uint32_t enumeratedAt = 0;
    KeyHandle add(Key* key);
    Status close(KeyHandle key);
  };
  Key* resolveIn(const Handles& handles, KeyHandle key);
  Status openIn(Handles& handles, KeyHandle key, std::string_view subKey, KeyHandle& result);
  Key* classesRoot(bool create);
  void forgetHandlesBelow(const Key* key);

  KeyArena arena_;  // before the roots: it goes after every key
  KeyPtr hklm_, hkcu_, hku_, hkcc_;
  Handles handles_;
  bool modified_ = false;
};

}  // namespace brisquell
