// What both systems' target locks share: nesting within the process, waiting for another
// process, the messages; LockFile is what each system does differently.
#include "platform/TargetLock.h"

#include <map>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "platform/LockFile.h"

namespace brisquell {

namespace {

// Locks this process holds, by folder. The systems' locks conflict between two handles of
// one process too, so a nested taker shares the first one's.
struct Held {
  std::unique_ptr<LockFile> file;
  int count = 0;
};
std::mutex heldMutex;
std::map<std::string, Held> held;

class ProcessTargetLock final : public TargetLock {
 public:
  explicit ProcessTargetLock(std::string folder) : folder_(std::move(folder)) {}
  ~ProcessTargetLock() override { release(); }

  Outcome acquire(std::chrono::milliseconds wait) override {
    if (holding_) return {};
    std::lock_guard<std::mutex> guard(heldMutex);
    key_ = lockKey(folder_);
    if (auto it = held.find(key_); it != held.end()) {
      ++it->second.count;
      holding_ = true;
      return {};
    }
    auto opened = openLockFile(folder_);
    if (!opened) return opened.error();
    std::unique_ptr<LockFile> file = std::move(opened).value();
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
      std::string why;
      const Status st = file->tryLock(why);
      if (st == Status::Success) break;
      if (st != Status::SharingViolation)
        return Error{st, fmt::format("{}{}: cannot be locked ({}); nothing was changed", folder_,
                                     kLockFileName, why)};
      if (std::chrono::steady_clock::now() >= until)
        return Error{Status::SharingViolation,
                     fmt::format("{} is being changed by {}; nothing was changed: run the command "
                                 "again when that has finished",
                                 folder_, file->holder())};
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    file->writeHolder();
    held[key_] = Held{std::move(file), 1};
    holding_ = true;
    return {};
  }

  void release() override {
    if (!holding_) return;
    holding_ = false;
    std::lock_guard<std::mutex> guard(heldMutex);
    auto it = held.find(key_);
    if (it == held.end() || --it->second.count > 0) return;
    it->second.file->clearHolder();
    held.erase(it);  // closing the file gives the lock up
  }

 private:
  std::string folder_, key_;
  bool holding_ = false;
};

}  // namespace

std::string lockHolderOf(std::string_view text) {
  std::size_t nl = text.find('\n');
  std::string pid(text.substr(0, nl));
  std::string name =
      nl == std::string_view::npos ? std::string() : std::string(text.substr(nl + 1));
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
    return "another program";
  return name.empty() ? fmt::format("process {}", pid) : fmt::format("process {} ({})", pid, name);
}

std::unique_ptr<TargetLock> makeTargetLock(const std::string& folder) {
  return std::make_unique<ProcessTargetLock>(folder);
}

bool noOtherWriter(const std::string& folder) {
  {
    std::lock_guard<std::mutex> guard(heldMutex);
    if (held.count(lockKey(folder))) return true;
  }
  return lockFileFree(folder);
}

}  // namespace brisquell
