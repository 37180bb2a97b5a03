// A scan's session (target, log, registry access, cancel flag, front-end hooks) together with
// the lists it fills. Code that needs only one half takes ScanSession& or ScanState&.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scan/ScanSession.h"
#include "scan/ScanState.h"

namespace brisquell {

/// Check arguments shared by every section check, in their order.
struct CheckArgs {
  std::int32_t rootKey = 0;
  std::string rootName;
  std::string valueName;
  std::string valueText;
  std::string section;
  std::string keyPath;
  /// The whole command line while a start-up or uninstall command is checked: the paths cut
  /// from it are then tested as Windows starts it.
  std::string commandLine;
};

class ScanContext : public ScanSession, public ScanState {
 public:
  explicit ScanContext(Target& target) : ScanSession(target) {}
  ScanContext(Target& target, RegistryStore& store) : ScanSession(target, store) {}

  /// As ScanState's, with the paths the check tested as the record's evidence.
  void AddProblem(std::int32_t rootKey, std::string_view valueName, std::string_view valueText,
                  std::string_view section, std::string_view keyPath, std::string_view rootName);

  /// Records a problem when the path names nothing; a path that cannot be tested throws
  /// TrappedError, as FileOrFolderExists does.
  void RecordIfMissing(const CheckArgs& a, const std::string& path);
  /// The existence test as the program reading the value sees it: in a 32-bit view, the
  /// redirected folders count too. Throws as FileOrFolderExists does.
  bool PathWorks(const std::string& path);
  void CheckAllSystemdirectory(const CheckArgs& a);
};

// Text routines of the checks (no target needed).
std::string GetPathWithSlash(std::string_view s);
std::string GetFileExtension(std::string_view s);
std::string RemoveEnter(std::string_view s);
std::string RemoveBackSlashandComma(std::string_view s);
std::string CheckSystemRootDirectory(std::string_view s);
std::string CheckCommonProgramFilesPath(std::string_view s);

}  // namespace brisquell
