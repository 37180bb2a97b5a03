// The instance lock: flock() is released by the kernel when the process ends however it ends,
// so a crash leaves no stale lock behind.
#include "platform/posix/PosixInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace brisquell {

namespace {

// A folder that no other user can write into or swap out.
bool isPrivateFolder(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0022) == 0;
}

}  // namespace

std::unique_ptr<InstanceLock> makeInstanceLock(std::string name, std::string folder) {
  return std::make_unique<PosixInstanceLock>(std::move(name), std::move(folder));
}

PosixInstanceLock::PosixInstanceLock(std::string name, std::string folder)
    : name_(std::move(name)), folder_(std::move(folder)) {}

PosixInstanceLock::~PosixInstanceLock() { release(); }

std::string PosixInstanceLock::runtimeFolder(std::string& error) {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg && isPrivateFolder(xdg))
    return xdg;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  std::string folder = base + "/brisquell-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = folder + ": " + std::strerror(errno);
    return {};
  }
  if (!isPrivateFolder(folder)) {
    error = folder + " is not a private folder of this user";
    return {};
  }
  return folder;
}

InstanceLock::State PosixInstanceLock::acquire(std::string& error) {
  if (fd_ >= 0) return State::Acquired;
  std::string folder = folder_.empty() ? runtimeFolder(error) : folder_;
  if (folder.empty()) return State::Unavailable;
  path_ = folder + "/" + name_ + ".lock";
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    error = path_ + ": " + std::strerror(errno);
    return State::Unavailable;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return State::Acquired;
  const int why = errno;
  close(fd_);
  fd_ = -1;
  if (why == EWOULDBLOCK) return State::AlreadyRunning;
  error = path_ + ": " + std::strerror(why);
  return State::Unavailable;
}

void PosixInstanceLock::release() {
  if (fd_ < 0) return;
  flock(fd_, LOCK_UN);
  close(fd_);
  fd_ = -1;
}

}  // namespace brisquell
