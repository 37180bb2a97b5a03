// The registry of the running Windows system over advapi32's wide calls.
#pragma once

#include <map>
#include <string>

#include "platform/RegistryStore.h"

namespace brisquell {

class Win32Registry final : public RegistryStore {
 public:
  /// Which registry view the keys are opened in: the 64-bit one shows Wow6432Node as a key,
  /// the 32-bit one shows what 32-bit programs see.
  enum class View { Native64, Wow32 };
  explicit Win32Registry(View view = View::Native64);
  ~Win32Registry() override;
  Win32Registry(const Win32Registry&) = delete;
  Win32Registry& operator=(const Win32Registry&) = delete;

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
  KeyLocation canonicalKey(KeyHandle root, std::string_view path) override;
  bool modified() const override { return modified_; }
  void markSaved() override { modified_ = false; }

  /// Writes what was changed under each root to the disk now.
  Status flush();
  /// True when the keys below `root\path` can be changed by this process (false without
  /// administrator rights for the machine's keys).
  bool canWrite(KeyHandle root, std::string_view path);

 private:
  void* hkeyOf(KeyHandle key) const;  // HKEY, or null for an unknown handle
  unsigned long viewFlag() const;

  View view_;
  std::map<KeyHandle, void*> open_;
  KeyHandle next_ = 1;
  bool modified_ = false;
};

}  // namespace brisquell
