// The program's own path on Windows: GetModuleFileNameW.
#include "platform/ProgramLocation.h"

#include <windows.h>

#include "platform/HostIo.h"
#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

std::string folderOf(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string currentProgramPath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  std::string path = win32::narrow(buf);
  if (path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);
  return path;
}

std::string siblingProgramPath(std::string_view name) {
  const std::string folder = folderOf(currentProgramPath());
  if (folder.empty()) return std::string(name) + ".exe";
  return folder + "\\" + std::string(name) + ".exe";
}

std::string installedFile(std::string_view shareFolder, std::string_view name) {
  const std::string folder = folderOf(currentProgramPath());
  if (folder.empty()) return {};
  const std::string beside = folder + "\\" + std::string(name);
  if (hostio::stat(beside).regular) return beside;
  std::string share(shareFolder);
  for (char& c : share)
    if (c == '/') c = '\\';
  const std::string installed = folderOf(folder) + "\\" + share + "\\" + std::string(name);
  if (hostio::stat(installed).regular) return installed;
  return {};
}

}  // namespace brisquell
