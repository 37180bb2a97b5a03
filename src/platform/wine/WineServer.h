// Finds a running wineserver for a Wine prefix: while one runs, Wine holds the prefix's
// registry in memory and writes it back over the files when it stops.
#pragma once

#include <optional>
#include <string>

namespace brisquell {

struct WineServerProcess {
  long pid = 0;           // 0 when only its socket was found
  std::string serverDir;  // the folder of its socket and lock
};

/// The wineserver serving the prefix folder, if one runs. Looks where Wine puts the server's
/// folder (/tmp/.wine-UID/server-DEV-INODE, or the folder the prefix's "wineserver" file names,
/// as Debian's build does), tests its lock, and falls back on the process list.
std::optional<WineServerProcess> findWineServer(const std::string& prefix);

}  // namespace brisquell
