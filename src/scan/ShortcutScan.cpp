// Shortcut scan over the target's drives. Reading shortcut targets comes with the shortcut
// reader; until then the drive sections are walked for nothing.
#include "scan/ShortcutScan.h"

namespace brisquell {

void GetAllHardDrives(ScanContext&, std::string_view) {}

}  // namespace brisquell
