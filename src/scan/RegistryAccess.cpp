// Registry reads and writes with the text rules every caller relies on.
#include "scan/RegistryAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "scan/ErrorLog.h"

namespace brisquell {

namespace {

// DWORDs read and written as VB's signed Long.
std::int32_t longOf(const Bytes& b) { return static_cast<std::int32_t>(dwordOf(b)); }
Bytes longBytes(std::int32_t n) { return dwordBytes(static_cast<std::uint32_t>(n)); }

}  // namespace

bool isNumericText(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  while (i < s.size() && s[i] == ' ') ++i;
  return digits > 0 && i == s.size();
}

std::optional<bool> truthValue(std::string_view s) {
  std::string t = trimBlanks(s);
  if (iequals(t, "True")) return true;
  if (iequals(t, "False")) return false;
  if (isNumericText(t)) return std::strtod(t.c_str(), nullptr) != 0;
  return std::nullopt;
}

std::string RegistryAccess::GetSubKeyValue(KeyHandle key, std::string_view name) {
  std::uint32_t type = 0;
  Bytes data;
  if (store_.queryValue(key, name, type, data) != Status::Success) return {};
  switch (type) {
    case regtype::Sz:
    case regtype::MultiSz: {
      auto nul = std::find(data.begin(), data.end(), 0);
      return std::string(data.begin(), nul);
    }
    case regtype::Dword:
      if (data.size() < 4) return {};
      return std::to_string(longOf(data));
    default: return {};
  }
}

Status RegistryAccess::QueryValueEx(KeyHandle key, std::string_view name, std::string& value) {
  std::uint32_t type = 0;
  Bytes data;
  Status st = store_.queryValue(key, name, type, data);
  if (st != Status::Success)
    return Status::NotSupported;  // a missing value leaves the type at 0: not supported
  switch (type) {
    case regtype::Sz:
    case regtype::MultiSz:
      value = data.empty() ? std::string() : std::string(data.begin(), data.end() - 1);
      return Status::Success;
    case regtype::Dword:
      if (data.size() < 4) return Status::MoreData;
      value = std::to_string(longOf(data));
      return Status::Success;
    default: return Status::NotSupported;
  }
}

std::string RegistryAccess::QueryValueOrDefault(KeyHandle root, std::string_view keyPath,
                                                std::string_view name,
                                                std::string_view defaultValue) {
  KeyHandle h = 0;
  if (store_.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success)
    return std::string(defaultValue);
  ScopedKey key(store_, h);
  std::string text(defaultValue);
  Status r = QueryValueEx(h, name, text);
  return r == Status::NotSupported ? std::string(defaultValue) : text;
}

bool RegistryAccess::QueryValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                                std::string& text) {
  KeyHandle h = 0;
  if (store_.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return false;
  ScopedKey key(store_, h);
  std::uint32_t type = 0;
  Bytes data;
  if (store_.queryValue(h, name, type, data) != Status::Success) return false;
  if (type == regtype::Sz) {
    text = data.empty() ? std::string() : std::string(data.begin(), data.end() - 1);
    return true;
  }
  if (type == regtype::Dword && data.size() >= 4) {
    text = std::to_string(longOf(data));
    return true;
  }
  return false;
}

Status RegistryAccess::SetValueEx(KeyHandle key, std::string_view name, std::uint32_t type,
                                  std::string_view value) {
  if (type == regtype::Sz) {
    Bytes data(value.begin(), value.end());
    data.push_back(0);
    return store_.setValue(key, name, regtype::Sz, data);
  }
  if (type == regtype::Dword) {
    double d = 0;
    std::string v = trimBlanks(value);
    if (!isNumericText(v)) {
      log_.write("SetValueEx", 13, "Type mismatch");
      return Status::InvalidParameter;
    }
    d = std::strtod(v.c_str(), nullptr);
    if (d < -2147483648.0 || d > 2147483647.0) {
      log_.write("SetValueEx", 6, "Overflow");
      return Status::InvalidParameter;
    }
    return store_.setValue(key, name, regtype::Dword,
                           longBytes(static_cast<std::int32_t>(std::lround(d))));
  }
  return Status::NotSupported;  // nothing was written
}

Status RegistryAccess::SetKeyValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                                   std::string_view value, std::uint32_t type) {
  KeyHandle h = 0;
  if (store_.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) {
    KeyHandle created = 0;
    Status st = store_.createKey(root, keyPath, created);
    if (st != Status::Success) return st;
    store_.closeKey(created);
    if ((st = store_.openKey(root, keyPath, keyaccess::AllAccess, h)) != Status::Success) return st;
  }
  ScopedKey key(store_, h);
  return SetValueEx(h, name, type, value);
}

Status RegistryAccess::SetKeyValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                                   bool value, std::uint32_t type) {
  std::string_view text =
      type == regtype::Dword ? (value ? "-1" : "0") : (value ? "True" : "False");
  return SetKeyValue(root, keyPath, name, text, type);
}

bool RegistryAccess::WriteRegistryValue(KeyHandle root, std::string_view keyPath,
                                        std::string_view name, std::string_view data) {
  KeyHandle h = 0;
  if (store_.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return false;
  ScopedKey key(store_, h);
  Status st;
  if (isNumericText(data)) {
    double d = std::strtod(trimBlanks(data).c_str(), nullptr);
    if (d < -2147483648.0 || d > 2147483647.0) {
      log_.write("WriteRegistryValue", 6, "Overflow");
      return false;
    }
    st = store_.setValue(h, name, regtype::Dword,
                         longBytes(static_cast<std::int32_t>(std::lround(d))));
  } else {
    std::string text = trimBlanks(data);
    st = store_.setValue(h, name, regtype::Sz, Bytes(text.begin(), text.end()));
  }
  if (st != Status::Success) {
    log_.write("WriteRegistryValue", code(st), "The value could not be written");
    return false;
  }
  return true;
}

Status RegistryAccess::DeleteValue(KeyHandle root, std::string_view keyPath,
                                   std::string_view name) {
  KeyHandle h = 0;
  Status st = store_.openKey(root, keyPath, keyaccess::AllAccess, h);
  if (st != Status::Success) return st;
  ScopedKey key(store_, h);
  return store_.deleteValue(h, name);
}

}  // namespace brisquell
