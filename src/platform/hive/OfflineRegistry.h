// The registry of an offline Windows installation: hives mounted in one in-memory tree, with
// HKEY_CLASSES_ROOT merged from the user's and the machine's classes and CurrentControlSet
// resolved to the control set Windows would pick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

class OfflineRegistry final : public RegistryStore {
 public:
  /// The tree the hives are read into and written from.
  MemoryRegistry& tree() { return mem_; }
  /// CurrentControlSet below HKLM\SYSTEM stands for this key ("ControlSet001"); empty: none.
  void setCurrentControlSet(std::string name) { controlSet_ = std::move(name); }
  /// Keys below which writes land in a hive (root + path); writes elsewhere are refused.
  void addMount(KeyHandle root, std::string path) { mounts_.push_back({root, std::move(path)}); }
  /// Forgets the mounts and the control set, before the hives are read again.
  void unmountAll() {
    mounts_.clear();
    controlSet_.clear();
  }

  /// Where a key seen through HKCR really lives: "HKEY_CURRENT_USER\Software\Classes\..." or
  /// "HKEY_LOCAL_MACHINE\SOFTWARE\Classes\..." (the machine's when neither holds it yet).
  std::string classesLocation(std::string_view path);

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
  /// An HKCR key lives in the user's classes when they hold it, else in the machine's.
  KeyLocation canonicalKey(KeyHandle root, std::string_view path) override;
  bool modified() const override { return mem_.modified(); }
  void markSaved() override { mem_.markSaved(); }

 private:
  /// deleteKey and deleteTree: the same rules, with or without what lies below.
  Status remove(KeyHandle key, std::string_view subKey, bool withSubkeys);
  using Key = MemoryRegistry::Key;
  static constexpr KeyHandle kClassesBit = 0x40000000u;
  struct ClassesHandle {
    std::string path;  // below HKCR
    bool open = false;
    std::uint64_t generation = ~0ull;
    std::vector<std::string> children;  // merged: the user's first, then the machine's others
  };
  struct Mount {
    KeyHandle root;
    std::string path;
  };

  static bool isClasses(KeyHandle h) { return !(h & 0x80000000u) && (h & kClassesBit); }
  ClassesHandle* classes(KeyHandle h);
  KeyHandle addClasses(std::string path);
  Key* userClasses(std::string_view path);
  Key* machineClasses(std::string_view path);
  /// The key whose values HKCR shows for the path: the user's when it has one.
  Key* classesHolder(std::string_view path);
  const std::vector<std::string>& mergedChildren(ClassesHandle& c);
  /// Opens, in the tree, the key whose values a classes handle shows, for a write to them.
  Status openClassesHolder(KeyHandle key, KeyHandle& result);
  /// Runs a deletion of values on the tree's key that holds the key's values (through the
  /// classes view, the machine's or the user's classes key).
  template <class Delete>
  Status deleteValuesOf(KeyHandle key, Delete del);
  /// subKey relative to a plain handle, with CurrentControlSet spelled as its control set.
  std::string spell(KeyHandle key, std::string_view subKey, Status& status);
  /// True when a key made at that place would belong to a hive.
  bool insideMount(KeyHandle key, std::string_view subKey);
  /// True when deleting the key would take a hive's mount key (or one above it) away.
  bool holdsMount(const Key* k);

  MemoryRegistry mem_;
  std::string controlSet_;
  std::vector<Mount> mounts_;
  ClassesHandle rootClasses_;  // HKCR itself
  std::vector<ClassesHandle> classes_;
  std::vector<std::uint32_t> freeClasses_;
  std::uint64_t generation_ = 0;
};

}  // namespace brisquell
