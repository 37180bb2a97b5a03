// Descriptor-relative folder access: openat() with O_NOFOLLOW, unlinkat() without AT_REMOVEDIR.
#include "platform/HostFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace brisquell {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

HostFolder::HostFolder(const std::string& realPath) {
  if (realPath.empty() || realPath[0] != '/') return;
  int fd = ::open("/", kFolderFlags);
  std::size_t at = 1;
  while (fd >= 0 && at < realPath.size()) {
    std::size_t slash = realPath.find('/', at);
    if (slash == std::string::npos) slash = realPath.size();
    const std::string name = realPath.substr(at, slash - at);
    at = slash + 1;
    if (name.empty() || name == ".") continue;
    // A real path has no "..": one here could climb out of what was checked.
    int next = name == ".." ? -1 : ::openat(fd, name.c_str(), kFolderFlags);
    ::close(fd);
    fd = next;
  }
  fd_ = fd;
}

HostFolder::~HostFolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool HostFolder::names(std::vector<std::string>& out) const {
  out.clear();
  if (fd_ < 0) return false;
  // The listing gets its own descriptor: the folder's stays free for the deletions.
  int fd = ::openat(fd_, ".", kFolderFlags);
  if (fd < 0) return false;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* e = ::readdir(d)) {
    std::string_view n = e->d_name;
    if (n != "." && n != "..") out.emplace_back(n);
  }
  const bool ok = errno == 0;
  ::closedir(d);
  return ok;
}

int HostFolder::remove(const std::string& name) const {
  if (fd_ < 0) return EBADF;
  return ::unlinkat(fd_, name.c_str(), 0) == 0 ? 0 : errno;
}

}  // namespace brisquell
