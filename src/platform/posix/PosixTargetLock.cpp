// The target lock through flock(2) on "<target>/.brisquell.lock", which names the holder.
#include "platform/TargetLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <fmt/format.h>

namespace brisquell {

namespace {

constexpr const char* kLockName = "/.brisquell.lock";

// Locks this process holds, by folder: flock conflicts between two descriptors of one
// process too, so a nested taker shares the first one's.
struct Held {
  int fd = -1;
  int count = 0;
};
std::mutex heldMutex;
std::map<std::string, Held> held;

std::string keyOf(const std::string& folder) {
  char* r = ::realpath(folder.c_str(), nullptr);
  if (!r) return folder;
  std::string s = r;
  std::free(r);
  return s;
}

std::string holderOf(int fd) {
  char buf[512];
  ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return "another program";
  std::string text(buf, static_cast<std::size_t>(n));
  return lockHolderOf(text);
}

class PosixTargetLock final : public TargetLock {
 public:
  explicit PosixTargetLock(std::string folder) : folder_(std::move(folder)) {}
  ~PosixTargetLock() override { release(); }

  Outcome acquire(std::chrono::milliseconds wait) override {
    if (holding_) return {};
    std::lock_guard<std::mutex> guard(heldMutex);
    key_ = keyOf(folder_);
    auto it = held.find(key_);
    if (it != held.end()) {
      ++it->second.count;
      holding_ = true;
      return {};
    }
    const std::string path = folder_ + kLockName;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0644);
    if (fd < 0 && errno == EROFS)
      return Error{
          Status::AccessDenied,
          fmt::format("{} is on a read-only volume: nothing can be changed there", folder_)};
    if (fd < 0)
      return Error{Status::AccessDenied,
                   fmt::format("{}: the target cannot be written ({}); nothing was changed", path,
                               std::strerror(errno))};
    const auto until = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        int e = errno;
        ::close(fd);
        return Error{
            Status::AccessDenied,
            fmt::format("{}: cannot be locked ({}); nothing was changed", path, std::strerror(e))};
      }
      if (std::chrono::steady_clock::now() >= until) {
        std::string who = holderOf(fd);
        ::close(fd);
        return Error{Status::SharingViolation,
                     fmt::format("{} is being changed by {}; nothing was changed: run the command "
                                 "again when that has finished",
                                 folder_, who)};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string me = fmt::format("{}\n{}\n", ::getpid(), program_invocation_short_name);
    if (::ftruncate(fd, 0) == 0) {
      ssize_t w = ::pwrite(fd, me.data(), me.size(), 0);
      (void)w;  // the name is for messages only
    }
    held[key_] = Held{fd, 1};
    holding_ = true;
    return {};
  }

  void release() override {
    if (!holding_) return;
    holding_ = false;
    std::lock_guard<std::mutex> guard(heldMutex);
    auto it = held.find(key_);
    if (it == held.end() || --it->second.count > 0) return;
    // Emptied before it is unlocked: a later reader never names a process that is gone.
    if (::ftruncate(it->second.fd, 0) != 0) {
    }
    ::close(it->second.fd);
    held.erase(it);
  }

 private:
  std::string folder_, key_;
  bool holding_ = false;
};

}  // namespace

std::unique_ptr<TargetLock> makeTargetLock(const std::string& folder) {
  return std::make_unique<PosixTargetLock>(folder);
}

bool noOtherWriter(const std::string& folder) {
  {
    std::lock_guard<std::mutex> guard(heldMutex);
    if (held.count(keyOf(folder))) return true;
  }
  int fd = ::open((folder + kLockName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) return errno == ENOENT;
  bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // also gives the probe's lock up
  return free;
}

}  // namespace brisquell
