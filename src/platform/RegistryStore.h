// The registry store: the platform operations every registry back end offers, Win32 style.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace brisquell {

/// Key handles. The predefined roots carry their Windows values.
using HKEY = std::uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

/// Win32 status codes used by the stores.
enum : std::int32_t {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_MORE_DATA = 234,
  ERROR_NO_MORE_ITEMS = 259,
  ERROR_KEY_DELETED = 1018,
};

/// Value type codes.
enum : std::uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_DWORD_BIG_ENDIAN = 5,
  REG_LINK = 6,
  REG_MULTI_SZ = 7,
  REG_QWORD = 11,
};

/// Access masks; stores without security may ignore them.
inline constexpr std::uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

/// Root name ("HKEY_LOCAL_MACHINE") of a predefined handle, or empty.
std::string_view rootName(HKEY root);
/// Predefined handle of a root name, long ("HKEY_CURRENT_USER") or short ("HKCU"); 0 when unknown.
HKEY rootFromName(std::string_view name);

/// True for types whose data is text (stored as UTF-16LE, seen as UTF-8 through the text calls).
inline bool isTextType(std::uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

/// The operations of a registry. Names and data cross as whole strings and byte vectors: no
/// call ends early because a buffer is too small. Key paths use "\" and are compared without
/// regard to case. Text calls (the "A" forms) see string data as UTF-8; raw calls see the
/// bytes as stored (strings as UTF-16LE, as Windows keeps them).
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  virtual std::int32_t openKey(HKEY key, std::string_view subKey, std::uint32_t access,
                               HKEY& result) = 0;
  /// Opens subKey, creating every missing key on the way.
  virtual std::int32_t createKey(HKEY key, std::string_view subKey, HKEY& result) = 0;
  virtual std::int32_t closeKey(HKEY key) = 0;

  /// Subkey name at a 0-based index; ERROR_NO_MORE_ITEMS past the last.
  virtual std::int32_t enumKey(HKEY key, std::uint32_t index, std::string& name) = 0;
  /// Value at a 0-based index: name, type and data (text types as UTF-8, as the A calls give it).
  virtual std::int32_t enumValue(HKEY key, std::uint32_t index, std::string& name,
                                 std::uint32_t& type, Bytes& data) = 0;
  virtual std::int32_t queryValue(HKEY key, std::string_view name, std::uint32_t& type,
                                  Bytes& data) = 0;
  virtual std::int32_t setValue(HKEY key, std::string_view name, std::uint32_t type,
                                const Bytes& data) = 0;
  virtual std::int32_t deleteValue(HKEY key, std::string_view name) = 0;
  /// Deletes a key that has no subkeys.
  virtual std::int32_t deleteKey(HKEY key, std::string_view subKey) = 0;
  /// Deletes a key with everything below it.
  virtual std::int32_t deleteTree(HKEY key, std::string_view subKey) = 0;

  /// Raw forms: data exactly as stored.
  virtual std::int32_t enumValueRaw(HKEY key, std::uint32_t index, std::string& name,
                                    std::uint32_t& type, Bytes& data) = 0;
  virtual std::int32_t queryValueRaw(HKEY key, std::string_view name, std::uint32_t& type,
                                     Bytes& data) = 0;
  virtual std::int32_t setValueRaw(HKEY key, std::string_view name, std::uint32_t type,
                                   const Bytes& data) = 0;

  /// Counts of a key's subkeys and values.
  virtual std::int32_t queryInfo(HKEY key, std::uint32_t& subKeys, std::uint32_t& values) = 0;

  /// True once anything was written since load or the last markSaved().
  virtual bool modified() const = 0;
  virtual void markSaved() = 0;
};

/// Data conversions between the raw (UTF-16LE) and text (UTF-8) views of a value.
Bytes rawToText(std::uint32_t type, const Bytes& raw);
Bytes textToRaw(std::uint32_t type, const Bytes& text);

/// Opens a key for the lifetime of the object and closes it on every path.
class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(RegistryStore& store, HKEY key) : store_(&store), key_(key) {}
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() { reset(); }
  void reset(RegistryStore* store = nullptr, HKEY key = 0) {
    if (store_ && key_) store_->closeKey(key_);
    store_ = store;
    key_ = key;
  }
  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != 0; }

 private:
  RegistryStore* store_ = nullptr;
  HKEY key_ = 0;
};

}  // namespace brisquell
