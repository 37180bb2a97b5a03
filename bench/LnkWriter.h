// Writes shell-link (.lnk) files for test data and generated machines: a LinkInfo local path
// or, optionally, only a relative path or environment-variable location.
#pragma once

#include <string>

#include "platform/Text.h"

namespace brisquell {

struct LnkSpec {
  std::string localBasePath;     // "C:\Program Files\App\app.exe" (ANSI, LinkInfo)
  std::string commonPathSuffix;  // appended to the base path by readers
  std::string relativePath;      // StringData RELATIVE_PATH, empty for none
  std::string environmentPath;   // EnvironmentVariableDataBlock target, empty for none
  bool directory = false;        // the target's attributes
};

Bytes makeShortcut(const LnkSpec& shortcut);
inline Bytes makeShortcut(const std::string& target) {
  LnkSpec s;
  s.localBasePath = target;
  return makeShortcut(s);
}

}  // namespace brisquell
