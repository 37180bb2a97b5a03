// advapi32 under the store's calls: names cross as UTF-16, data stays as stored. A live
// registry changes at once, so each change is read back before it counts as made.
#include "platform/win32/Win32Registry.h"

#include <windows.h>

#include <vector>

#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

Status statusOf(LSTATUS r) { return static_cast<Status>(r); }

HKEY predefined(KeyHandle key) {
  switch (key) {
    case hkey::ClassesRoot: return HKEY_CLASSES_ROOT;
    case hkey::CurrentUser: return HKEY_CURRENT_USER;
    case hkey::LocalMachine: return HKEY_LOCAL_MACHINE;
    case hkey::Users: return HKEY_USERS;
    case hkey::CurrentConfig: return HKEY_CURRENT_CONFIG;
    default: return nullptr;
  }
}

std::wstring keyName(std::string_view utf8) { return win32::widen(utf8); }

// A value name may hold NULs only through the counted wide form; an empty name is the
// default value.
std::wstring valueName(std::string_view utf8) { return win32::widen(utf8); }

}  // namespace

Win32Registry::Win32Registry(View view) : view_(view) {}

Win32Registry::~Win32Registry() {
  for (auto& [handle, key] : open_) RegCloseKey(static_cast<HKEY>(key));
}

unsigned long Win32Registry::viewFlag() const {
  return view_ == View::Wow32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

void* Win32Registry::hkeyOf(KeyHandle key) const {
  if (HKEY p = predefined(key)) return p;
  auto it = open_.find(key);
  return it == open_.end() ? nullptr : it->second;
}

Status Win32Registry::openKey(KeyHandle key, std::string_view subKey, std::uint32_t access,
                              KeyHandle& result) {
  result = 0;
  HKEY parent = static_cast<HKEY>(hkeyOf(key));
  if (!parent) return Status::InvalidHandle;
  // Reading is all a scan needs; writes reopen nothing, they ask for the rights they need.
  REGSAM sam = (access == keyaccess::AllAccess ? KEY_READ | KEY_WRITE : KEY_READ) | viewFlag();
  HKEY h = nullptr;
  LSTATUS r = RegOpenKeyExW(parent, keyName(subKey).c_str(), 0, sam, &h);
  if (r == ERROR_ACCESS_DENIED && access == keyaccess::AllAccess)
    r = RegOpenKeyExW(parent, keyName(subKey).c_str(), 0, KEY_READ | viewFlag(), &h);
  if (r != ERROR_SUCCESS) return statusOf(r);
  result = next_++;
  open_[result] = h;
  return Status::Success;
}

Status Win32Registry::createKey(KeyHandle key, std::string_view subKey, KeyHandle& result) {
  result = 0;
  HKEY parent = static_cast<HKEY>(hkeyOf(key));
  if (!parent) return Status::InvalidHandle;
  HKEY h = nullptr;
  DWORD disposition = 0;
  LSTATUS r = RegCreateKeyExW(parent, keyName(subKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE | viewFlag(), nullptr, &h, &disposition);
  if (r != ERROR_SUCCESS) return statusOf(r);
  if (disposition == REG_CREATED_NEW_KEY) modified_ = true;
  result = next_++;
  open_[result] = h;
  return Status::Success;
}

Status Win32Registry::closeKey(KeyHandle key) {
  if (predefined(key)) return Status::Success;
  auto it = open_.find(key);
  if (it == open_.end()) return Status::InvalidHandle;
  RegCloseKey(static_cast<HKEY>(it->second));
  open_.erase(it);
  return Status::Success;
}

Status Win32Registry::enumKey(KeyHandle key, std::uint32_t index, std::string& name) {
  HKEY h = static_cast<HKEY>(hkeyOf(key));
  if (!h) return Status::InvalidHandle;
  std::wstring buf(256, L'\0');  // the longest key name Windows allows is 255
  DWORD n = static_cast<DWORD>(buf.size());
  LSTATUS r = RegEnumKeyExW(h, index, buf.data(), &n, nullptr, nullptr, nullptr, nullptr);
  if (r != ERROR_SUCCESS) return statusOf(r);
  name = win32::narrow(std::wstring_view(buf.data(), n));
  return Status::Success;
}

Status Win32Registry::deleteValue(KeyHandle key, std::string_view name) {
  HKEY h = static_cast<HKEY>(hkeyOf(key));
  if (!h) return Status::InvalidHandle;
  const std::wstring n = valueName(name);
  LSTATUS r = RegDeleteValueW(h, n.c_str());
  if (r != ERROR_SUCCESS) return statusOf(r);
  modified_ = true;
  // Read back: the value must be gone.
  r = RegQueryValueExW(h, n.c_str(), nullptr, nullptr, nullptr, nullptr);
  return r == ERROR_FILE_NOT_FOUND ? Status::Success : Status::WriteFault;
}

Status Win32Registry::deleteKey(KeyHandle key, std::string_view subKey) {
  HKEY h = static_cast<HKEY>(hkeyOf(key));
  if (!h) return Status::InvalidHandle;
  const std::wstring n = keyName(subKey);
  LSTATUS r = RegDeleteKeyExW(h, n.c_str(), viewFlag(), 0);
  if (r != ERROR_SUCCESS) return statusOf(r);
  modified_ = true;
  HKEY probe = nullptr;
  r = RegOpenKeyExW(h, n.c_str(), 0, KEY_READ | viewFlag(), &probe);
  if (r == ERROR_SUCCESS) {
    RegCloseKey(probe);
    return Status::WriteFault;
  }
  return Status::Success;
}

Status Win32Registry::deleteTree(KeyHandle key, std::string_view subKey) {
  HKEY parent = static_cast<HKEY>(hkeyOf(key));
  if (!parent) return Status::InvalidHandle;
  HKEY h = nullptr;
  LSTATUS r = RegOpenKeyExW(parent, keyName(subKey).c_str(), 0,
                            KEY_READ | KEY_WRITE | DELETE | viewFlag(), &h);
  if (r != ERROR_SUCCESS) return statusOf(r);
  // Subkeys first, each by name, so that the view flag applies all the way down.
  std::vector<std::wstring> names;
  for (DWORD i = 0;; ++i) {
    std::wstring buf(256, L'\0');
    DWORD n = static_cast<DWORD>(buf.size());
    r = RegEnumKeyExW(h, i, buf.data(), &n, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS) {
      RegCloseKey(h);
      return statusOf(r);
    }
    names.emplace_back(buf.data(), n);
  }
  KeyHandle self = next_++;
  open_[self] = h;
  Status st = Status::Success;
  for (const std::wstring& n : names) {
    st = deleteTree(self, win32::narrow(n));
    if (st != Status::Success) break;
  }
  closeKey(self);
  if (st != Status::Success) return st;
  return deleteKey(key, subKey);
}

Status Win32Registry::enumValueRaw(KeyHandle key, std::uint32_t index, std::string& name,
                                   std::uint32_t& type, Bytes& data) {
  HKEY h = static_cast<HKEY>(hkeyOf(key));
  if (!h) return Status::InvalidHandle;
  DWORD maxName = 0, maxData = 0;
  LSTATUS r = RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &maxName, &maxData, nullptr, nullptr);
  if (r != ERROR_SUCCESS) return statusOf(r);
  // The sizes can grow between the two calls when another program writes: try again larger.
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::wstring nbuf(maxName + 2, L'\0');
    DWORD n = static_cast<DWORD>(nbuf.size());
    Bytes d(maxData + 2);
    DWORD dn = static_cast<DWORD>(d.size());
    DWORD t = 0;
    r = RegEnumValueW(h, index, nbuf.data(), &n, nullptr, &t, d.data(), &dn);
    if (r == ERROR_MORE_DATA) {
      maxName = maxName * 2 + 256;
      maxData = maxData * 2 + 4096;
      continue;
    }
    if (r != ERROR_SUCCESS) return statusOf(r);
    name = win32::narrow(std::wstring_view(nbuf.data(), n));
    type = t;
    d.resize(dn);
    data = std::move(d);
    return Status::Success;
  }
  return Status::MoreData;
}

Status Win32Registry::queryValueRaw(KeyHandle key, std::string_view name, std::uint32_t& type,
                                    Bytes& data) {
  HKEY h = static_cast<HKEY>(hkeyOf(key));
  if (!h) return Status::InvalidHandle;
  const std::wstring n = valueName(name);
  DWORD size = 0, t = 0;
  LSTATUS r = RegQueryValueExW(h, n.c_str(), nullptr, &t, nullptr, &size);
  for (int attempt = 0; r == ERROR_SUCCESS || r == ERROR_MORE_DATA; ++attempt) {
    Bytes d(size);
    DWORD got = size;
    r = RegQueryValueExW(h, n.c_str(), nullptr, &t, d.empty() ? nullptr : d.data(), &got);
    if (r == ERROR_SUCCESS) {
      d.resize(got);
      type = t;
      data = std::move(d);
      return Status::Success;
    }
    if (r != ERROR_MORE_DATA || attempt == 4) break;
    size = got > size ? got : size * 2 + 16;
  }
  return statusOf(r);
}

Status Win32Registry::setValueRaw(KeyHandle key, std::string_view name, std::uint32_t type,
                                  const Bytes& data) {
  HKEY h = static_cast<HKEY>(hkeyOf(key));
  if (!h) return Status::InvalidHandle;
  const std::wstring n = valueName(name);
  LSTATUS r = RegSetValueExW(h, n.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                             static_cast<DWORD>(data.size()));
  if (r != ERROR_SUCCESS) return statusOf(r);
  modified_ = true;
  std::uint32_t backType = 0;
  Bytes back;
  if (queryValueRaw(key, name, backType, back) != Status::Success || backType != type ||
      back != data)
    return Status::WriteFault;
  return Status::Success;
}

Status Win32Registry::queryInfo(KeyHandle key, std::uint32_t& subKeys, std::uint32_t& values) {
  HKEY h = static_cast<HKEY>(hkeyOf(key));
  if (!h) return Status::InvalidHandle;
  DWORD k = 0, v = 0;
  LSTATUS r = RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &k, nullptr, nullptr, &v, nullptr,
                               nullptr, nullptr, nullptr);
  if (r != ERROR_SUCCESS) return statusOf(r);
  subKeys = k;
  values = v;
  return Status::Success;
}

KeyLocation Win32Registry::canonicalKey(KeyHandle root, std::string_view path) {
  if (root != hkey::ClassesRoot) return {root, std::string(path)};
  auto below = [path](std::string_view base) {
    std::string p(base);
    if (!path.empty()) {
      p += '\\';
      p.append(path);
    }
    return p;
  };
  // Windows merges the user's classes over the machine's: a key lives in the user's when
  // that holds it, else in the machine's.
  const std::string user = below("Software\\Classes");
  HKEY probe = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyName(user).c_str(), 0, KEY_READ | viewFlag(), &probe) ==
      ERROR_SUCCESS) {
    RegCloseKey(probe);
    return {hkey::CurrentUser, user};
  }
  return {hkey::LocalMachine, below("SOFTWARE\\Classes")};
}

Status Win32Registry::flush() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    LSTATUS r = RegFlushKey(root);
    if (r != ERROR_SUCCESS) return statusOf(r);
  }
  return Status::Success;
}

bool Win32Registry::canWrite(KeyHandle root, std::string_view path) {
  HKEY parent = predefined(root);
  if (!parent) return false;
  HKEY h = nullptr;
  LSTATUS r =
      RegOpenKeyExW(parent, keyName(path).c_str(), 0, KEY_SET_VALUE | DELETE | viewFlag(), &h);
  if (r == ERROR_SUCCESS) RegCloseKey(h);
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

}  // namespace brisquell
