// The settings table and its reads and writes.
#include "shell/Settings.h"

#include "scan/ExtraSections.h"
#include "scan/KnownKeys.h"

namespace brisquell {

const std::vector<Settings::Entry>& Settings::entries() {
  static const std::vector<Entry> table = [] {
    std::vector<Entry> t = {
        {"Version", "Brisquell_Version\\Version", "Version", "1.25"},
        {"Companyname", "Brisquell_Version", "Companyname", "Quandrel Technology Company"},
        {"Reglink", "Brisquell_Version", "Reglink", "https://www.quandrel.example/brisquell"},
        {"ResetValue", "Registry Status", "ResetValue", ""},
        {"chkTakeBackup", "Options", "chkTakeBackup", "True"},
        {"chkRunAtStartup", "Options", "chkRunAtStartup", "True"},
        {"chkMinimizeToSysTray", "Options", "chkMinimizeToSysTray", "False"},
    };
    static const char* menus[13] = {"Menu0", "Menu1", "Menu2", "Menu3",  "Menu4",  "Menu5", "Menu6",
                                    "Menu7", "Menu8", "Menu9", "Menu10", "Menu11", "Menu12"};
    for (const char* m : menus) t.push_back({m, "Settings", m, "True"});
    // The extra sections are asked for, never assumed: off until switched on.
    for (const ExtraSection& x : kExtraSections)
      t.push_back({x.switchName, "Settings", x.switchName, "False"});
    t.push_back(
        {"DialUpInternetAccess", "frmSpeedIntenetConnection", "DialUpInternetAccess", "True"});
    t.push_back(
        {"CableInternetAccess", "frmSpeedIntenetConnection", "CableInternetAccess", "False"});
    t.push_back({"DSL", "frmSpeedIntenetConnection", "DSL", "False"});
    t.push_back({"LastTime", "Optimization", "LastTime", "", false});
    t.push_back({"Cache", "IESettings", "Cache", "1"});
    return t;
  }();
  return table;
}

const Settings::Entry* Settings::find(std::string_view name) {
  for (const Entry& e : entries())
    if (iequals(e.name, name)) return &e;
  return nullptr;
}

std::string Settings::keyOf(const Entry& e) {
  std::string k(kProductKey);
  if (!e.subKey.empty()) k.append("\\").append(e.subKey);
  return k;
}

std::string Settings::get(const Entry& e) {
  return registry_.QueryValueOrDefault(hkey::LocalMachine, keyOf(e), e.value, e.defaultValue);
}

std::optional<std::string> Settings::get(std::string_view name) {
  const Entry* e = find(name);
  if (!e) return std::nullopt;
  return get(*e);
}

bool Settings::set(std::string_view name, std::string_view value) {
  const Entry* e = find(name);
  if (!e) return false;
  return registry_.SetKeyValue(hkey::LocalMachine, keyOf(*e), e->value, value, regtype::Sz) ==
         Status::Success;
}

std::string Settings::text(std::string_view name) {
  const Entry* e = find(name);
  return e ? get(*e) : std::string();
}

}  // namespace brisquell
