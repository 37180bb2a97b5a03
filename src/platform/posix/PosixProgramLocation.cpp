// The program's own path on Linux: /proc/self/exe.
#include "platform/ProgramLocation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace brisquell {

namespace {

std::string folderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string currentProgramPath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string siblingProgramPath(std::string_view name) {
  const std::string self = currentProgramPath();
  const std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return std::string(name);
  return self.substr(0, slash + 1) + std::string(name);
}

std::string installedFile(std::string_view shareFolder, std::string_view name) {
  const std::string folder = folderOf(currentProgramPath());
  if (folder.empty()) return {};
  const std::string beside = folder + "/" + std::string(name);
  if (isRegularFile(beside)) return beside;
  const std::string installed =
      folderOf(folder) + "/" + std::string(shareFolder) + "/" + std::string(name);
  if (isRegularFile(installed)) return installed;
  return {};
}

}  // namespace brisquell
