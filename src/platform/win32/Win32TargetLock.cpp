// The target lock through LockFileEx on "<target>\.brisquell.lock", which names the holder.
#include "platform/TargetLock.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

constexpr const char* kLockName = "/.brisquell.lock";

// A nested taker in this process shares the first one's handle: the system lock would
// refuse a second handle of the same process too.
struct Held {
  HANDLE handle = INVALID_HANDLE_VALUE;
  int count = 0;
};
std::mutex heldMutex;
std::map<std::string, Held> held;

HANDLE openLockFile(const std::string& folder, DWORD access, DWORD disposition) {
  return ::CreateFileW(win32::hostPath(folder + kLockName).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool lockNow(HANDLE h) {
  OVERLAPPED at{};
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

std::string holderOf(const std::string& folder) {
  // The lock covers byte 0 alone; the holder's text after it can still be read.
  HANDLE h = openLockFile(folder, GENERIC_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return "another program";
  char buf[512];
  DWORD n = 0;
  OVERLAPPED at{};
  at.Offset = 1;
  std::string text;
  if (::ReadFile(h, buf, sizeof buf - 1, &n, &at) && n > 0) text.assign(buf, n);
  ::CloseHandle(h);
  return lockHolderOf(text);
}

class Win32TargetLock final : public TargetLock {
 public:
  explicit Win32TargetLock(std::string folder) : folder_(std::move(folder)) {}
  ~Win32TargetLock() override { release(); }

  Outcome acquire(std::chrono::milliseconds wait) override {
    if (holding_) return {};
    std::lock_guard<std::mutex> guard(heldMutex);
    auto it = held.find(folder_);
    if (it != held.end()) {
      ++it->second.count;
      holding_ = true;
      return {};
    }
    HANDLE h = openLockFile(folder_, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE)
      return Error{Status::AccessDenied,
                   fmt::format("{}{}: the target cannot be written ({}); nothing was changed",
                               folder_, kLockName, win32::errorText(::GetLastError()))};
    const auto until = std::chrono::steady_clock::now() + wait;
    while (!lockNow(h)) {
      if (std::chrono::steady_clock::now() >= until) {
        ::CloseHandle(h);
        return Error{Status::SharingViolation,
                     fmt::format("{} is being changed by {}; nothing was changed: run the command "
                                 "again when that has finished",
                                 folder_, holderOf(folder_))};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Byte 0 is the lock; the holder's name follows it.
    char exe[MAX_PATH] = "";
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string name = exe;
    if (auto slash = name.find_last_of("\\/"); slash != std::string::npos)
      name = name.substr(slash + 1);
    std::string me = fmt::format("\n{}\n{}\n", ::GetCurrentProcessId(), name);
    DWORD written = 0;
    ::WriteFile(h, me.data(), static_cast<DWORD>(me.size()), &written, nullptr);
    ::SetEndOfFile(h);
    held[folder_] = Held{h, 1};
    holding_ = true;
    return {};
  }

  void release() override {
    if (!holding_) return;
    holding_ = false;
    std::lock_guard<std::mutex> guard(heldMutex);
    auto it = held.find(folder_);
    if (it == held.end() || --it->second.count > 0) return;
    ::CloseHandle(it->second.handle);  // closing the handle gives the lock up
    held.erase(it);
  }

 private:
  std::string folder_;
  bool holding_ = false;
};

}  // namespace

std::unique_ptr<TargetLock> makeTargetLock(const std::string& folder) {
  return std::make_unique<Win32TargetLock>(folder);
}

bool noOtherWriter(const std::string& folder) {
  {
    std::lock_guard<std::mutex> guard(heldMutex);
    if (held.count(folder)) return true;
  }
  HANDLE h = openLockFile(folder, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  bool free = lockNow(h);
  ::CloseHandle(h);  // also gives the probe's lock up
  return free;
}

}  // namespace brisquell
