// Registry keys that more than one layer reads or writes: the product's own keys and the run
// key of the log-on programs.
#pragma once

#include <string_view>

namespace brisquell {

inline constexpr std::string_view kProductKey = "SOFTWARE\\Quandrel Technology\\Brisquell";
inline constexpr std::string_view kSettingsKey =
    "SOFTWARE\\Quandrel Technology\\Brisquell\\Settings";
/// The machine's log-on programs: scanned, managed by StartupPrograms, and where the program
/// itself starts with Windows.
inline constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace brisquell
