// Root names and the raw/text conversions shared by every registry back end.
#include "platform/RegistryStore.h"

namespace brisquell {

std::string_view rootName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    default: return {};
  }
}

HKEY rootFromName(std::string_view n) {
  static const struct {
    std::string_view longName, shortName;
    HKEY key;
  } roots[] = {{"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
               {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
               {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
               {"HKEY_USERS", "HKU", HKEY_USERS},
               {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG}};
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

}  // namespace brisquell
