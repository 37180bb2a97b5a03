// Test helpers: temporary folders, small machine folders, running the command line.
#pragma once

#include <string>
#include <vector>

#include "platform/Text.h"

namespace brisquell::test {

/// A fresh folder removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

void writeText(const std::string& path, const std::string& text);  // creates parent folders
std::string readText(const std::string& path);
/// UTF-16LE with BOM, for version 5 .reg files.
void writeUtf16(const std::string& path, const std::string& utf8);

/// Writes a machine folder: machine.ini (given text or a default with a fixed C: drive) and
/// registry.reg holding the given .reg body below a version 5 header (as UTF-8).
void makeMachine(const std::string& folder, const std::string& regBody,
                 const std::string& machineIni = "");

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};
/// Runs the brisquell executable with arguments (shell-quoted here) and captures its output.
RunResult runCli(const std::vector<std::string>& args, const std::string& env = "");

}  // namespace brisquell::test
