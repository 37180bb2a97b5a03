// Where this program's own files are on the host.
#pragma once

#include <string>
#include <string_view>

namespace brisquell {

/// This process's executable, as an absolute host path; empty when it cannot be told.
std::string currentProgramPath();
/// The executable of the program called `name` (no suffix) in this executable's folder;
/// the bare file name when the folder cannot be told.
std::string siblingProgramPath(std::string_view name);
/// A file installed with the program: `name` beside the executable (a build tree), else
/// in `shareFolder` of the installation prefix (the executable's folder's parent); empty
/// when neither holds it.
std::string installedFile(std::string_view shareFolder, std::string_view name);

}  // namespace brisquell
