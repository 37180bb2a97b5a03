// The target's lock file through flock(2); its text is "PID\nPROGRAM\n".
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "platform/LockFile.h"
#include "platform/TargetLock.h"

namespace brisquell {

namespace {

class PosixLockFile final : public LockFile {
 public:
  explicit PosixLockFile(int fd) : fd_(fd) {}
  ~PosixLockFile() override { ::close(fd_); }

  Status tryLock(std::string& why) override {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Status::Success;
    if (errno == EWOULDBLOCK || errno == EINTR) return Status::SharingViolation;
    why = std::strerror(errno);
    return Status::AccessDenied;
  }

  std::string holder() override {
    char buf[512];
    ssize_t n = ::pread(fd_, buf, sizeof buf - 1, 0);
    if (n <= 0) return "another program";
    return lockHolderOf(std::string_view(buf, static_cast<std::size_t>(n)));
  }

  void writeHolder() override {
    std::string me = fmt::format("{}\n{}\n", ::getpid(), program_invocation_short_name);
    if (::ftruncate(fd_, 0) == 0) {
      ssize_t w = ::pwrite(fd_, me.data(), me.size(), 0);
      (void)w;  // the name is for messages only
    }
  }

  void clearHolder() override {
    if (::ftruncate(fd_, 0) != 0) {
    }
  }

 private:
  int fd_;
};

}  // namespace

Result<std::unique_ptr<LockFile>> openLockFile(const std::string& folder) {
  const std::string path = folder + kLockFileName;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0644);
  if (fd < 0 && errno == EROFS)
    return Error{Status::AccessDenied,
                 fmt::format("{} is on a read-only volume: nothing can be changed there", folder)};
  if (fd < 0)
    return Error{Status::AccessDenied,
                 fmt::format("{}: the target cannot be written ({}); nothing was changed", path,
                             std::strerror(errno))};
  return std::unique_ptr<LockFile>(std::make_unique<PosixLockFile>(fd));
}

bool lockFileFree(const std::string& folder) {
  int fd = ::open((folder + kLockFileName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) return errno == ENOENT;
  bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // also gives the probe's lock up
  return free;
}

std::string lockKey(const std::string& folder) {
  char* r = ::realpath(folder.c_str(), nullptr);
  if (!r) return folder;
  std::string s = r;
  std::free(r);
  return s;
}

}  // namespace brisquell
