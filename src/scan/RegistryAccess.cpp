// Registry reads and writes with the text rules every caller relies on.
#include "scan/RegistryAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "scan/ErrorLog.h"

namespace brisquell {

namespace {


std::int32_t dwordOf(const Bytes& b) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && i < b.size(); ++i) v |= static_cast<std::uint32_t>(b[i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

Bytes dwordBytes(std::int32_t n) {
  auto v = static_cast<std::uint32_t>(n);
  return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

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

std::string RegistryAccess::GetSubKeyValue(HKEY key, std::string_view name) {
  std::uint32_t type = 0;
  Bytes data;
  if (store_.queryValue(key, name, type, data) != ERROR_SUCCESS) return {};
  switch (type) {
    case REG_SZ:
    case REG_MULTI_SZ: {
      auto nul = std::find(data.begin(), data.end(), 0);
      return std::string(data.begin(), nul);
    }
    case REG_DWORD:
      if (data.size() < 4) return {};
      return std::to_string(dwordOf(data));
    default:
      return {};
  }
}

std::int32_t RegistryAccess::QueryValueEx(HKEY key, std::string_view name, std::string& value) {
  std::uint32_t type = 0;
  Bytes data;
  std::int32_t st = store_.queryValue(key, name, type, data);
  if (st != ERROR_SUCCESS) return -1;  // a missing value leaves the type at 0: not supported
  switch (type) {
    case REG_SZ:
    case REG_MULTI_SZ:
      value = data.empty() ? std::string() : std::string(data.begin(), data.end() - 1);
      return ERROR_SUCCESS;
    case REG_DWORD:
      if (data.size() < 4) return ERROR_MORE_DATA;
      value = std::to_string(dwordOf(data));
      return ERROR_SUCCESS;
    default:
      return -1;
  }
}

std::string RegistryAccess::QueryValueOrDefault(HKEY root, std::string_view keyPath,
                                                std::string_view name,
                                                std::string_view defaultValue) {
  HKEY h = 0;
  if (store_.openKey(root, keyPath, KEY_ALL_ACCESS, h) != ERROR_SUCCESS)
    return std::string(defaultValue);
  ScopedKey key(store_, h);
  std::string text(defaultValue);
  std::int32_t r = QueryValueEx(h, name, text);
  return r == -1 ? std::string(defaultValue) : text;
}

bool RegistryAccess::QueryValue(HKEY root, std::string_view keyPath, std::string_view name,
                                std::string& text) {
  HKEY h = 0;
  if (store_.openKey(root, keyPath, KEY_ALL_ACCESS, h) != ERROR_SUCCESS) return false;
  ScopedKey key(store_, h);
  std::uint32_t type = 0;
  Bytes data;
  if (store_.queryValue(h, name, type, data) != ERROR_SUCCESS) return false;
  if (type == REG_SZ) {
    text = data.empty() ? std::string() : std::string(data.begin(), data.end() - 1);
    return true;
  }
  if (type == REG_DWORD && data.size() >= 4) {
    text = std::to_string(dwordOf(data));
    return true;
  }
  return false;
}

std::int32_t RegistryAccess::SetValueEx(HKEY key, std::string_view name, std::uint32_t type,
                                        std::string_view value) {
  if (type == REG_SZ) {
    Bytes data(value.begin(), value.end());
    data.push_back(0);
    return store_.setValue(key, name, REG_SZ, data);
  }
  if (type == REG_DWORD) {
    double d = 0;
    std::string v = trimBlanks(value);
    if (!isNumericText(v)) {
      log_.write("SetValueEx", 13, "Type mismatch");
      return ERROR_INVALID_PARAMETER;
    }
    d = std::strtod(v.c_str(), nullptr);
    if (d < -2147483648.0 || d > 2147483647.0) {
      log_.write("SetValueEx", 6, "Overflow");
      return ERROR_INVALID_PARAMETER;
    }
    return store_.setValue(key, name, REG_DWORD, dwordBytes(static_cast<std::int32_t>(std::lround(d))));
  }
  return ERROR_SUCCESS;
}

void RegistryAccess::SetKeyValue(HKEY root, std::string_view keyPath, std::string_view name,
                                 std::string_view value, std::uint32_t type) {
  HKEY h = 0;
  if (store_.openKey(root, keyPath, KEY_ALL_ACCESS, h) != ERROR_SUCCESS) {
    HKEY created = 0;
    if (store_.createKey(root, keyPath, created) == ERROR_SUCCESS) store_.closeKey(created);
    if (store_.openKey(root, keyPath, KEY_ALL_ACCESS, h) != ERROR_SUCCESS) return;
  }
  ScopedKey key(store_, h);
  SetValueEx(h, name, type, value);
}

void RegistryAccess::SetKeyValue(HKEY root, std::string_view keyPath, std::string_view name,
                                 bool value, std::uint32_t type) {
  std::string_view text = type == REG_DWORD ? (value ? "-1" : "0") : (value ? "True" : "False");
  SetKeyValue(root, keyPath, name, text, type);
}

bool RegistryAccess::WriteRegistryValue(HKEY root, std::string_view keyPath, std::string_view name,
                                        std::string_view data) {
  HKEY h = 0;
  if (store_.openKey(root, keyPath, KEY_ALL_ACCESS, h) != ERROR_SUCCESS) return false;
  ScopedKey key(store_, h);
  std::int32_t st;
  if (isNumericText(data)) {
    double d = std::strtod(trimBlanks(data).c_str(), nullptr);
    if (d < -2147483648.0 || d > 2147483647.0) {
      log_.write("WriteRegistryValue", 6, "Overflow");
      return false;
    }
    st = store_.setValue(h, name, REG_DWORD, dwordBytes(static_cast<std::int32_t>(std::lround(d))));
  } else {
    std::string text = trimBlanks(data);
    st = store_.setValue(h, name, REG_SZ, Bytes(text.begin(), text.end()));
  }
  if (st != ERROR_SUCCESS) {
    log_.write("WriteRegistryValue", st, "The value could not be written");
    return false;
  }
  return true;
}

void RegistryAccess::DeleteValue(HKEY root, std::string_view keyPath, std::string_view name) {
  HKEY h = 0;
  if (store_.openKey(root, keyPath, KEY_ALL_ACCESS, h) != ERROR_SUCCESS) return;
  ScopedKey key(store_, h);
  store_.deleteValue(h, name);
}

}  // namespace brisquell
