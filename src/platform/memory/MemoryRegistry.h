// In-memory registry tree: the store behind machine folders and the tests' fake registry.
#pragma once

#include <memory>
#include <vector>

#include "platform/RegistryStore.h"

namespace brisquell {

/// Finds names among a list without regard to case; a hash table is built only for long lists.
class NameIndex {
 public:
  template <class Getter>
  std::int64_t find(std::string_view name, std::size_t count, Getter nameAt) const;
  void added(std::uint32_t position, std::string_view name, std::size_t count);
  void invalidate() { slots_.clear(); }

  static constexpr std::size_t kLinearLimit = 8;

 private:
  template <class Getter>
  void rebuild(std::size_t count, Getter nameAt) const;
  void insert(std::uint32_t position, std::uint64_t hash) const;
  mutable std::vector<std::uint32_t> slots_;  // position + 1; 0 = empty
};

class MemoryRegistry final : public RegistryStore {
 public:
  struct Value {
    std::string name;
    std::uint32_t type = regtype::None;
    Bytes data;  // as stored: strings UTF-16LE
  };
  struct Key {
    std::string name;
    Key* parent = nullptr;
    std::vector<std::unique_ptr<Key>> children;
    std::vector<Value> values;
    NameIndex childIndex, valueIndex;
    /// Set by every write to the key (value set or deleted, key created, subkey deleted);
    /// back ends that keep per-key metadata clear it when they have saved the key.
    bool changed = false;
    /// Free for the back end that loaded the key (e.g. an index into its own table); 0 = none.
    std::uint32_t tag = 0;
    Key* child(std::string_view n) const;
    Value* value(std::string_view n);
  };

  MemoryRegistry();
  ~MemoryRegistry() override;

  Status openKey(KeyHandle key, std::string_view subKey, std::uint32_t access,
                 KeyHandle& result) override;
  Status createKey(KeyHandle key, std::string_view subKey, KeyHandle& result) override;
  Status closeKey(KeyHandle key) override;
  Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) override;
  Status deleteValue(KeyHandle key, std::string_view name) override;
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
  bool modified() const override { return modified_; }
  void markSaved() override { modified_ = false; }

  /// Direct access for loaders and writers of whole registries.
  Key* root(KeyHandle predefined);
  /// The key a handle designates (predefined roots included), or null.
  Key* resolve(KeyHandle key);
  /// Finds or creates a key below `from`; sets the modified flag only when it creates one.
  Key* ensure(Key* from, std::string_view path);
  Key* find(Key* from, std::string_view path) const;
  void setRaw(Key* key, std::string_view name, std::uint32_t type, Bytes data);
  void removeTree(Key* key);
  /// Moves every key and value of `later` into this store as if its statements had been loaded
  /// after this store's: values of keys both hold are replaced in place, new keys and values go
  /// last. `later` is left empty.
  void mergeLoaded(MemoryRegistry& later);

 private:
  KeyHandle addHandle(Key* key);
  Key* classesRoot(bool create);
  void forgetHandlesBelow(const Key* key);

  std::unique_ptr<Key> hklm_, hkcu_, hku_, hkcc_;
  std::vector<Key*> handles_;  // handle = position + 1
  std::vector<bool> open_;     // per handle: not yet closed
  std::vector<std::uint32_t> freeHandles_;
  bool modified_ = false;
};

}  // namespace brisquell
