// Single-value registry operations used by settings, repair, restore and the optimizers, and
// the value reader behind the scan's walks. Names and data are read whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/RegistryStore.h"

namespace brisquell {

class ErrorLog;

/// Root handles travel as signed 32-bit numbers in records.
inline std::int32_t signedHandle(KeyHandle root) { return static_cast<std::int32_t>(root); }
inline KeyHandle handleFromSigned(std::int32_t v) { return static_cast<KeyHandle>(v); }

class RegistryAccess {
 public:
  RegistryAccess(RegistryStore& store, ErrorLog& log, int platformId)
      : store_(store), log_(log), platformId_(platformId) {}

  RegistryStore& store() { return store_; }

  /// Text of a value as the walks see it: strings up to the first NUL, numbers as signed
  /// decimal, every other type the empty text.
  std::string GetSubKeyValue(KeyHandle key, std::string_view name);
  /// status 0 read, -1 type not supported or value missing, other: the failing call's status.
  Status QueryValueEx(KeyHandle key, std::string_view name, std::string& value);
  std::string QueryValueOrDefault(KeyHandle root, std::string_view keyPath, std::string_view name,
                                  std::string_view defaultValue);
  bool QueryValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                  std::string& text);
  /// type 1 (regtype::Sz) or 4 (regtype::Dword); creates the key path when missing. Returns
  /// the status of the write (of the key's creation when that failed).
  Status SetKeyValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                     std::string_view value, std::uint32_t type);
  Status SetKeyValue(KeyHandle root, std::string_view keyPath, std::string_view name, bool value,
                     std::uint32_t type);
  /// Text given as a literal is text: without this, "42" would take the bool overload.
  Status SetKeyValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                     const char* value, std::uint32_t type) {
    return SetKeyValue(root, keyPath, name, std::string_view(value), type);
  }
  Status SetValueEx(KeyHandle key, std::string_view name, std::uint32_t type,
                    std::string_view value);
  /// Numeric data as regtype::Dword, other text trimmed as regtype::Sz without a NUL. False when
  /// the key could not be opened or the write failed.
  bool WriteRegistryValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                          std::string_view data);
  /// The store's status: Status::FileNotFound when the key or the value is not there.
  Status DeleteValue(KeyHandle root, std::string_view keyPath, std::string_view name);
  std::int32_t GetVersion() const { return platformId_; }

 private:
  RegistryStore& store_;
  ErrorLog& log_;
  int platformId_;
};

/// VB-style numeric test: optional blanks and sign, digits, optional fraction.
bool isNumericText(std::string_view s);
/// A stored switch as a truth value: "True" or "False" in any case, or a number (0 is false),
/// blanks around it ignored; nothing for any other text.
std::optional<bool> truthValue(std::string_view s);

}  // namespace brisquell
