// Reads the target of a shortcut (.lnk) file on the target, as the shell's TargetPath gives it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisquell {

struct MachineInfo;

class ShortcutReader {
 public:
  virtual ~ShortcutReader() = default;
  /// The target path of the shortcut at a Windows path; empty when the file cannot be read
  /// or names no file-system target.
  virtual std::string targetPath(std::string_view shortcutPath) = 0;
  /// Why the last targetPath gave the empty text for a file that exists but was skipped as
  /// damaged or too large ("FILE: what is wrong"); empty otherwise.
  virtual std::string lastProblem() const { return {}; }
};

/// Environment variables of the machine ("SystemRoot", "windir", ...) with their values.
using Environment = std::vector<std::pair<std::string, std::string>>;
Environment machineEnvironment(const MachineInfo& machine);

/// Replaces each %NAME% whose name is known (letter case ignored); others stay as written,
/// as ExpandEnvironmentStrings leaves them.
std::string expandEnvironmentStrings(std::string_view text, const Environment& env);

/// A relative path ("..\App\app.exe") resolved against a Windows folder, "." and ".." removed.
std::string resolveRelativePath(std::string_view folder, std::string_view relative);

}  // namespace brisquell
