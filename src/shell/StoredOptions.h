// The three options of the options window and the run-at-start-up entry that goes with them;
// the window and `brisquell settings` both change them only through here.
#pragma once

#include <string>
#include <string_view>

#include "shell/Settings.h"

namespace brisquell {

struct StoredOptions {
  bool chkTakeBackup = true;
  bool chkRunAtStartup = true;
  bool chkMinimizeToSysTray = false;

  /// The check boxes as the window loads them: each text's truth value, its default when the
  /// text is no truth word and no number.
  static StoredOptions load(Settings& settings);
  /// Writes the three values in the window's order and rewrites or deletes the run entry.
  void apply(Settings& settings, RegistryAccess& registry, std::string_view programPath) const;
};

/// The run entry's command: the program's path between double quotes, then " -Quick".
std::string runAtStartupCommand(std::string_view programPath);
/// Writes the run entry (on) or deletes it (off; a missing value is no error); false when the
/// registry refused.
bool setRunAtStartup(RegistryAccess& registry, bool on, std::string_view programPath);

}  // namespace brisquell
