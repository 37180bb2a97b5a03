// The scan driver: the section list for a mode, the walks of each ticked section, the counts.
#pragma once

#include "platform/UserInterface.h"
#include "scan/KnownKeys.h"
#include "scan/ScanContext.h"

namespace brisquell {

inline constexpr std::string_view kNoProblemsMessage = "Congratulations!!! No problem found.";
inline constexpr std::string_view kProductName = "Brisquell";

struct FixedSection {
  std::string_view name;
  std::string_view threatLevel;
};
/// The thirteen fixed sections in list order; the last is in the deep scan only.
extern const FixedSection kFixedSections[13];

/// Rebuilds the section list: the fixed sections of the mode ticked by their switches, the drive
/// sections (deep), then the extra sections that are switched on. A session's sectionChoice
/// replaces the switches ("default" keeps them, "all" ticks everything).
void LoadRegistryValues(ScanContext& ctx, ScanMode mode);
/// Reads a comma list of section names (any case), "default" and "all" into canonical names;
/// the error names the unknown item and lists the sections.
Result<std::vector<std::string>> chooseSections(std::string_view list);
/// A section's threat level: from the section list, else from the extra sections' table (a
/// restored set may hold sections this scan did not run); empty when unknown.
std::string_view threatLevelOf(ScanContext& ctx, std::string_view section);
void GetFixedDrives(ScanContext& ctx);
void ScanRegistryAndHardDisk(ScanContext& ctx);
std::size_t GetProblemsinActiveEx(ScanContext& ctx, std::string_view section);

enum class ScanOutcome { Finished, Cancelled, Refused };

/// A whole scan as the scan commands run it: rebuild the section list, clear the flag and the
/// lists, scan, end. Refused while another scan runs. With no problems and no cancel, tells
/// the user so through ui (when given).
ScanOutcome runScan(ScanContext& ctx, ScanMode mode, UserInterface* ui = nullptr);

}  // namespace brisquell
