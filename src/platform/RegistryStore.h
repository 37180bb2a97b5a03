// The registry store: the platform operations every registry back end offers, Win32 style.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Status.h"
#include "platform/Text.h"

namespace brisquell {

/// Key handles. The predefined roots carry their Windows values.
using KeyHandle = std::uint32_t;
namespace hkey {
inline constexpr KeyHandle ClassesRoot = 0x80000000u;
inline constexpr KeyHandle CurrentUser = 0x80000001u;
inline constexpr KeyHandle LocalMachine = 0x80000002u;
inline constexpr KeyHandle Users = 0x80000003u;
inline constexpr KeyHandle CurrentConfig = 0x80000005u;
}  // namespace hkey

/// Value type codes. A value keeps whatever number it was stored with; these are the known ones.
namespace regtype {
inline constexpr std::uint32_t None = 0;
inline constexpr std::uint32_t Sz = 1;
inline constexpr std::uint32_t ExpandSz = 2;
inline constexpr std::uint32_t Binary = 3;
inline constexpr std::uint32_t Dword = 4;
inline constexpr std::uint32_t DwordBigEndian = 5;
inline constexpr std::uint32_t Link = 6;
inline constexpr std::uint32_t MultiSz = 7;
inline constexpr std::uint32_t Qword = 11;
}  // namespace regtype

/// Access masks; stores without security may ignore them.
namespace keyaccess {
inline constexpr std::uint32_t EnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t AllAccess = 0xF003F;
}  // namespace keyaccess

/// Root name ("HKEY_LOCAL_MACHINE") of a predefined handle, or empty.
std::string_view rootName(KeyHandle root);
/// Predefined handle of a root name, long ("HKEY_CURRENT_USER") or short ("HKCU"); 0 when unknown.
KeyHandle rootFromName(std::string_view name);

/// True for types whose data is text (stored as UTF-16LE, seen as UTF-8 through the text calls).
inline bool isTextType(std::uint32_t type) {
  return type == regtype::Sz || type == regtype::ExpandSz || type == regtype::MultiSz;
}

/// Where a key really lives: the root and path that name it however it was reached.
struct KeyLocation {
  KeyHandle root = 0;
  std::string path;
};

/// The operations of a registry. Names and data cross as whole strings and byte vectors: no
/// call ends early because a buffer is too small. Key paths use "\" and are compared without
/// regard to case. Back ends implement the raw calls, which see the bytes as stored (strings
/// as UTF-16LE, as Windows keeps them); the text calls (the "A" forms) are one layer on top of
/// them, shared by every back end, that sees string data as UTF-8.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  virtual Status openKey(KeyHandle key, std::string_view subKey, std::uint32_t access,
                         KeyHandle& result) = 0;
  /// Opens subKey, creating every missing key on the way.
  virtual Status createKey(KeyHandle key, std::string_view subKey, KeyHandle& result) = 0;
  virtual Status closeKey(KeyHandle key) = 0;

  /// Subkey name at a 0-based index; Status::NoMoreItems past the last.
  virtual Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) = 0;
  virtual Status deleteValue(KeyHandle key, std::string_view name) = 0;
  /// Deletes the values at 0-based positions `first` and after, in one call; the values
  /// before stay as they are. The default deletes them one by one by name.
  virtual Status deleteValuesFrom(KeyHandle key, std::uint32_t first);
  /// Deletes a key that has no subkeys.
  virtual Status deleteKey(KeyHandle key, std::string_view subKey) = 0;
  /// Deletes a key with everything below it.
  virtual Status deleteTree(KeyHandle key, std::string_view subKey) = 0;

  /// Raw forms: data exactly as stored.
  virtual Status enumValueRaw(KeyHandle key, std::uint32_t index, std::string& name,
                              std::uint32_t& type, Bytes& data) = 0;
  virtual Status queryValueRaw(KeyHandle key, std::string_view name, std::uint32_t& type,
                               Bytes& data) = 0;
  virtual Status setValueRaw(KeyHandle key, std::string_view name, std::uint32_t type,
                             const Bytes& data) = 0;

  /// Counts of a key's subkeys and values.
  virtual Status queryInfo(KeyHandle key, std::uint32_t& subKeys, std::uint32_t& values) = 0;

  /// The root and path the key `root\path` really lives under, so that two names of one key
  /// (a view such as hkey::ClassesRoot and what it shows) come out the same. The path is
  /// returned as given below the mapped part, neither case-folded nor trimmed.
  virtual KeyLocation canonicalKey(KeyHandle root, std::string_view path) = 0;

  /// A store over the same registry with handles of its own, for one more thread that reads
  /// while no thread writes (a scan's second walker); it refuses every write. Nothing when
  /// the back end cannot be read from two threads.
  virtual std::unique_ptr<RegistryStore> concurrentReader() { return nullptr; }

  /// True once anything was written since load or the last markSaved().
  virtual bool modified() const = 0;
  virtual void markSaved() = 0;

  /// Text forms over the raw calls: text types (see isTextType) as UTF-8.
  /// Value at a 0-based index: name, type and data.
  Status enumValue(KeyHandle key, std::uint32_t index, std::string& name, std::uint32_t& type,
                   Bytes& data);
  Status queryValue(KeyHandle key, std::string_view name, std::uint32_t& type, Bytes& data);
  Status setValue(KeyHandle key, std::string_view name, std::uint32_t type, const Bytes& data);
};

/// A value's text (without its terminating NUL) when the key and a text value are there, else
/// empty.
std::string textValue(RegistryStore& store, KeyHandle root, std::string_view path,
                      std::string_view name);

/// Data conversions between the raw (UTF-16LE) and text (UTF-8) views of a value.
Bytes rawToText(std::uint32_t type, const Bytes& raw);
Bytes textToRaw(std::uint32_t type, const Bytes& text);

/// Opens a key for the lifetime of the object and closes it on every path.
class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(RegistryStore& store, KeyHandle key) : store_(&store), key_(key) {}
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() { reset(); }
  void reset(RegistryStore* store = nullptr, KeyHandle key = 0) {
    if (store_ && key_) store_->closeKey(key_);
    store_ = store;
    key_ = key;
  }
  KeyHandle get() const { return key_; }
  explicit operator bool() const { return key_ != 0; }

 private:
  RegistryStore* store_ = nullptr;
  KeyHandle key_ = 0;
};

}  // namespace brisquell
