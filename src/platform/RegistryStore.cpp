// Root names, the raw/text conversions and the text view shared by every registry back end.
#include "platform/RegistryStore.h"

#include <vector>

namespace brisquell {

std::string_view rootName(KeyHandle root) {
  switch (root) {
    case hkey::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case hkey::CurrentUser: return "HKEY_CURRENT_USER";
    case hkey::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case hkey::Users: return "HKEY_USERS";
    case hkey::CurrentConfig: return "HKEY_CURRENT_CONFIG";
    default: return {};
  }
}

KeyHandle rootFromName(std::string_view n) {
  static const struct {
    std::string_view longName, shortName;
    KeyHandle key;
  } roots[] = {{"HKEY_CLASSES_ROOT", "HKCR", hkey::ClassesRoot},
               {"HKEY_CURRENT_USER", "HKCU", hkey::CurrentUser},
               {"HKEY_LOCAL_MACHINE", "HKLM", hkey::LocalMachine},
               {"HKEY_USERS", "HKU", hkey::Users},
               {"HKEY_CURRENT_CONFIG", "HKCC", hkey::CurrentConfig}};
  for (const auto& r : roots)
    if (iequals(n, r.longName) || iequals(n, r.shortName)) return r.key;
  return 0;
}

Bytes rawToText(std::uint32_t type, const Bytes& raw) {
  if (!isTextType(type)) return raw;
  std::string s = fromUtf16le(raw);
  return Bytes(s.begin(), s.end());
}

Bytes textToRaw(std::uint32_t type, const Bytes& text) {
  if (!isTextType(type)) return text;
  return toUtf16le(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

Status RegistryStore::enumValue(KeyHandle key, std::uint32_t index, std::string& name,
                                std::uint32_t& type, Bytes& data) {
  Status st = enumValueRaw(key, index, name, type, data);
  if (st == Status::Success && isTextType(type)) data = rawToText(type, data);
  return st;
}

Status RegistryStore::queryValue(KeyHandle key, std::string_view name, std::uint32_t& type,
                                 Bytes& data) {
  Status st = queryValueRaw(key, name, type, data);
  if (st == Status::Success && isTextType(type)) data = rawToText(type, data);
  return st;
}

Status RegistryStore::setValue(KeyHandle key, std::string_view name, std::uint32_t type,
                               const Bytes& data) {
  return setValueRaw(key, name, type, textToRaw(type, data));
}

Status RegistryStore::deleteValuesFrom(KeyHandle key, std::uint32_t first) {
  std::vector<std::string> names;
  std::string name;
  std::uint32_t type;
  Bytes data;
  Status st;
  for (std::uint32_t i = first; (st = enumValueRaw(key, i, name, type, data)) == Status::Success;
       ++i)
    names.push_back(name);
  if (st != Status::NoMoreItems) return st;
  Status result = Status::Success;
  for (const std::string& n : names)
    if (Status d = deleteValue(key, n); d != Status::Success) result = d;
  return result;
}

std::string textValue(RegistryStore& store, KeyHandle root, std::string_view path,
                      std::string_view name) {
  KeyHandle h = 0;
  if (store.openKey(root, path, keyaccess::AllAccess, h) != Status::Success) return {};
  ScopedKey key(store, h);
  std::uint32_t type = 0;
  Bytes data;
  if (store.queryValue(h, name, type, data) != Status::Success || !isTextType(type)) return {};
  std::string s(data.begin(), data.end());
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

}  // namespace brisquell
