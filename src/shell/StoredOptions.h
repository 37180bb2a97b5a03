// The three options of the options window and the run-at-start-up entry that goes with them;
// the window and `brisquell settings` both change them only through here.
#pragma once

#include <string>
#include <string_view>

#include "platform/Target.h"
#include "shell/Settings.h"

namespace brisquell {

struct StoredOptions {
  bool chkTakeBackup = true;
  bool chkRunAtStartup = true;
  bool chkMinimizeToSysTray = false;

  /// The check boxes as the window loads them: each text's truth value, its default when the
  /// text is no truth word and no number.
  static StoredOptions load(Settings& settings);
  /// Writes the three values in the window's order and rewrites or deletes the run entry; a
  /// write the registry refuses does not stop the others, and the error names every one.
  Outcome apply(Settings& settings, RegistryAccess& registry, std::string_view programPath) const;
};

/// The run entry's command: the program's path between double quotes, then " -Quick".
std::string runAtStartupCommand(std::string_view programPath);
/// The program the run entry starts: on the running Windows this program's own path; on any
/// other target the executable in the target's install folder ("…\Brisquell.exe"), since
/// Windows there cannot start a program of this host.
std::string runAtStartupProgram(const Target& target, std::string_view runningProgram);
/// Writes the run entry (on) or deletes it (off; a missing value is no error); false when the
/// registry refused.
bool setRunAtStartup(RegistryAccess& registry, bool on, std::string_view programPath);

}  // namespace brisquell
