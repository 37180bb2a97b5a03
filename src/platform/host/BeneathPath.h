// Host paths resolved without leaving a folder: a symbolic link on the way is followed only
// while where it leads stays inside.
#pragma once

#include <optional>
#include <string>

namespace brisquell {

/// What to do with a symbolic link that is the path's last component.
enum class LastLink {
  Follow,  // reading or writing the file: where the link leads must be inside
  Keep,    // deleting or replacing the entry itself: the link is what is touched
};

/// The real location of `path` when it is inside `realRoot` (a folder's real path, no links),
/// every link on the way followed; nullopt when a link leads out, loops, or cannot be read.
/// Components that do not exist yet are kept as spelled, so a file about to be created
/// resolves too; a link that leads nowhere does not, since it could be made to lead anywhere.
std::optional<std::string> resolveBeneath(const std::string& realRoot, const std::string& path,
                                          LastLink last);

/// The real path of an existing folder, empty when it has none.
std::string realFolder(const std::string& path);

/// True when `real` is `realRoot` or inside it.
bool isBeneath(const std::string& realRoot, const std::string& real);

}  // namespace brisquell
