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
    std::uint32_t type = REG_NONE;
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

  std::int32_t openKey(HKEY key, std::string_view subKey, std::uint32_t access,
                       HKEY& result) override;
  std::int32_t createKey(HKEY key, std::string_view subKey, HKEY& result) override;
  std::int32_t closeKey(HKEY key) override;
  std::int32_t enumKey(HKEY key, std::uint32_t index, std::string& name) override;
  std::int32_t enumValue(HKEY key, std::uint32_t index, std::string& name, std::uint32_t& type,
                         Bytes& data) override;
  std::int32_t queryValue(HKEY key, std::string_view name, std::uint32_t& type,
                          Bytes& data) override;
  std::int32_t setValue(HKEY key, std::string_view name, std::uint32_t type,
                        const Bytes& data) override;
  std::int32_t deleteValue(HKEY key, std::string_view name) override;
  std::int32_t deleteKey(HKEY key, std::string_view subKey) override;
  std::int32_t deleteTree(HKEY key, std::string_view subKey) override;
  std::int32_t enumValueRaw(HKEY key, std::uint32_t index, std::string& name, std::uint32_t& type,
                            Bytes& data) override;
  std::int32_t queryValueRaw(HKEY key, std::string_view name, std::uint32_t& type,
                             Bytes& data) override;
  std::int32_t setValueRaw(HKEY key, std::string_view name, std::uint32_t type,
                           const Bytes& data) override;
  std::int32_t queryInfo(HKEY key, std::uint32_t& subKeys, std::uint32_t& values) override;
  bool modified() const override { return modified_; }
  void markSaved() override { modified_ = false; }

  /// Direct access for loaders and writers of whole registries.
  Key* root(HKEY predefined);
  /// The key a handle designates (predefined roots included), or null.
  Key* resolve(HKEY key);
  /// Finds or creates a key below `from`; sets the modified flag only when it creates one.
  Key* ensure(Key* from, std::string_view path);
  Key* find(Key* from, std::string_view path) const;
  void setRaw(Key* key, std::string_view name, std::uint32_t type, Bytes data);
  void removeTree(Key* key);

 private:
  HKEY addHandle(Key* key);
  Key* classesRoot(bool create);
  void forgetHandlesBelow(const Key* key);

  std::unique_ptr<Key> hklm_, hkcu_, hku_, hkcc_;
  std::vector<Key*> handles_;  // handle = position + 1
  std::vector<bool> open_;  // per handle: not yet closed
  std::vector<std::uint32_t> freeHandles_;
  bool modified_ = false;
};

}  // namespace brisquell
