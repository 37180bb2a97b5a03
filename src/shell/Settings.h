// The stored settings: every value the program keeps between runs, with its key and default.
// The one place that knows where each lives; reads and writes go through the registry layer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/KnownKeys.h"
#include "scan/RegistryAccess.h"

namespace brisquell {

class Settings {
 public:
  /// One stored value below the product key (subKey empty: the product key itself).
  struct Entry {
    std::string_view name;    // the name the command line and the settings table use
    std::string_view subKey;  // below the product key
    std::string_view value;   // the value's name in the registry
    std::string_view defaultValue;
    bool hasDefault = true;
  };

  explicit Settings(RegistryAccess& registry) : registry_(registry) {}

  /// Every stored value of the product key, in table order (Menu0..Menu12 and the extra sections'
  /// Menu13..Menu19 included).
  static const std::vector<Entry>& entries();
  static const Entry* find(std::string_view name);

  /// The stored text, or the entry's default when it cannot be read.
  std::string get(const Entry& e);
  std::optional<std::string> get(std::string_view name);
  /// Writes the text as regtype::Sz, creating the key when missing; false for an unknown name
  /// or a write the registry refused.
  bool set(std::string_view name, std::string_view value);

  std::string Version() { return text("Version"); }
  std::string Companyname() { return text("Companyname"); }
  std::string Reglink() { return text("Reglink"); }
  std::string ResetValue() { return text("ResetValue"); }
  /// The repair's backup switch: on only when the text is exactly "True".
  bool chkTakeBackup() { return text("chkTakeBackup") == "True"; }
  std::string chkTakeBackupText() { return text("chkTakeBackup"); }
  std::string chkRunAtStartup() { return text("chkRunAtStartup"); }
  std::string chkMinimizeToSysTray() { return text("chkMinimizeToSysTray"); }
  /// Fixed scan section k (0..12) switched on: the stored text of "Menu" + k.
  std::string Menu(int k) { return text("Menu" + std::to_string(k)); }
  std::string DialUpInternetAccess() { return text("DialUpInternetAccess"); }
  std::string CableInternetAccess() { return text("CableInternetAccess"); }
  std::string DSL() { return text("DSL"); }
  std::string LastTime() { return text("LastTime"); }
  std::string IECache() { return text("Cache"); }

  bool setOption(std::string_view name, bool on) { return set(name, on ? "True" : "False"); }

  /// Entries outside the product key.
  static constexpr std::string_view kRunKey = brisquell::kRunKey;
  static constexpr std::string_view kRunValue = "Brisquell";

  /// "True"/"False" in any case, or a number (zero false); nullopt for any other text.
  static std::optional<bool> truthValue(std::string_view text) {
    return brisquell::truthValue(text);
  }

 private:
  std::string text(std::string_view name);
  static std::string keyOf(const Entry& e);

  RegistryAccess& registry_;
};

}  // namespace brisquell
