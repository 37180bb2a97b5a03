// Start-up logic shared by the desktop program and the command line: the version text, the
// one-shot settings reset, the -Quick switch, the program's own files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ProgramLocation.h"
#include "scan/ScanContext.h"

namespace brisquell {

inline constexpr std::string_view kApplicationTitle = "Brisquell";

/// The version text, read once at start-up ("1.25" when it cannot be read).
std::string readVersionText(ScanContext& ctx);
/// "Brisquell v1.25 is already running."
std::string alreadyRunningMessage(std::string_view version);

/// Deletes every subkey of the product key except the version key when "ResetValue" holds
/// non-blank text. True when it deleted anything (the target then needs saving).
bool ResetRegistrySettings(ScanContext& ctx);

/// The command line asks for one quick scan: "-Quick" anywhere, any letter case.
bool hasQuickSwitch(const std::vector<std::string>& arguments);

/// The desktop program beside this executable ("…/brisquell-gui").
std::string desktopProgramPath();
/// The help page installed with the program: beside it (a build tree) or in the
/// installation's share/doc/brisquell; empty when neither holds it.
std::string installedHelpPage();

}  // namespace brisquell
