// The shortcut scan of the deep scan: broken .lnk files on the fixed drives.
#pragma once

#include "scan/ScanContext.h"

namespace brisquell {

/// Finds the fixed drive that a drive section names and scans it when its section is ticked.
void GetAllHardDrives(ScanContext& ctx, std::string_view sectionName);

}  // namespace brisquell
