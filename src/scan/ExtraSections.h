// The sections a scan runs only when asked: references that uninstalled programs leave beyond
// the fixed sections (file associations, install folders, services, sounds, installer folders,
// the user's own classes and COM servers stored with variables).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/ScanContext.h"

namespace brisquell {

struct ExtraSection {
  std::string_view name;
  std::string_view threatLevel;
  std::string_view switchName;  // the value below the settings key that ticks it ("False" unset)
};
/// In list order: after the fixed sections (and after the drive sections of a deep scan).
extern const ExtraSection kExtraSections[7];
const ExtraSection* findExtraSection(std::string_view name);

/// Runs the walks of one extra section, appending its records.
void runExtraSection(ScanContext& ctx, std::string_view name);

/// What trying a reference as Windows would found.
enum class Verdict { Works, Missing, Unknown };
struct Tried {
  Verdict verdict = Verdict::Unknown;
  std::string path;  // the Windows path that is missing (Missing), or the text tried
};

/// A command line as CreateProcess reads it: a quoted program, or an unquoted one tried at
/// every blank, each with ".exe" added when it has no extension; a bare name is looked for in
/// the system folders (elsewhere it depends on the caller's PATH: Unknown).
Tried tryCommandLine(ScanContext& ctx, std::string_view line);
/// One file or folder named by a value; a bare name is looked for in `folders` first.
Tried tryFile(ScanContext& ctx, std::string_view path, const std::vector<std::string>& folders);
/// A service's ImagePath: driver paths (\SystemRoot\..., system32\drivers\..., \??\C:\...)
/// resolved as the kernel does, other services as command lines.
Tried tryImagePath(ScanContext& ctx, std::string_view imagePath, std::optional<std::uint32_t> type);

/// The candidates CreateProcess tries for an unquoted or quoted command line, in its order.
std::vector<std::string> commandCandidates(std::string_view line);

}  // namespace brisquell
