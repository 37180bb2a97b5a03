// The instance lock on Windows: a named mutex in the session's namespace. The system releases
// it when the process ends however it ends (the next owner sees WAIT_ABANDONED, and has it).
#include "platform/InstanceLock.h"

#include <windows.h>

#include <mutex>
#include <set>

#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

// A mutex is its owner thread's again and again: a second lock of the same name in this
// process must be refused here, as another process's is by the system.
std::mutex ownedMutex;
std::set<std::string> ownedHere;

class Win32InstanceLock final : public InstanceLock {
 public:
  explicit Win32InstanceLock(const std::string& name) {
    // A mutex name may hold no backslash past its namespace.
    name_.reserve(name.size() + 6);
    name_ = "Local\\";
    for (char c : name) name_ += c == '\\' ? '_' : c;
  }
  ~Win32InstanceLock() override { release(); }
  Win32InstanceLock(const Win32InstanceLock&) = delete;
  Win32InstanceLock& operator=(const Win32InstanceLock&) = delete;

  State acquire(std::string& error) override {
    if (owned_) return State::Acquired;
    if (!mutex_) mutex_ = CreateMutexW(nullptr, FALSE, win32::widen(name_).c_str());
    if (!mutex_) {
      error = name_ + ": " + win32::errorText(GetLastError());
      return State::Unavailable;
    }
    std::lock_guard<std::mutex> guard(ownedMutex);
    if (ownedHere.count(name_)) return State::AlreadyRunning;
    DWORD r = WaitForSingleObject(mutex_, 0);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
      owned_ = true;
      ownedHere.insert(name_);
      return State::Acquired;
    }
    if (r == WAIT_TIMEOUT) return State::AlreadyRunning;
    error = name_ + ": " + win32::errorText(GetLastError());
    return State::Unavailable;
  }

  void release() override {
    if (owned_) {
      ReleaseMutex(mutex_);
      std::lock_guard<std::mutex> guard(ownedMutex);
      ownedHere.erase(name_);
    }
    owned_ = false;
    if (mutex_) CloseHandle(mutex_);
    mutex_ = nullptr;
  }

  std::string where() const override { return mutex_ ? name_ : std::string(); }

 private:
  std::string name_;
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

}  // namespace

// The folder is for systems that keep locks in files; a mutex needs none. Tests that pass
// one get a name of their own so that they do not meet a running program.
std::unique_ptr<InstanceLock> makeInstanceLock(std::string name, std::string folder) {
  if (!folder.empty()) {
    name += '-';
    name += std::to_string(std::hash<std::string>{}(folder));
  }
  return std::make_unique<Win32InstanceLock>(name);
}

}  // namespace brisquell
