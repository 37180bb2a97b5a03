// The target's lock file through LockFileEx: byte 0 is locked, the holder's text follows it.
#include <windows.h>

#include <fmt/format.h>

#include "platform/HostIo.h"
#include "platform/LockFile.h"
#include "platform/TargetLock.h"
#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

HANDLE openFile(const std::string& folder, DWORD access, DWORD disposition) {
  return ::CreateFileW(win32::hostPath(folder + kLockFileName).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool lockNow(HANDLE h) {
  OVERLAPPED at{};
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

class Win32LockFile final : public LockFile {
 public:
  Win32LockFile(HANDLE h, std::string folder) : h_(h), folder_(std::move(folder)) {}
  ~Win32LockFile() override { ::CloseHandle(h_); }

  Status tryLock(std::string& why) override {
    if (lockNow(h_)) return Status::Success;
    const DWORD e = ::GetLastError();
    if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) return Status::SharingViolation;
    why = win32::errorText(e);
    return Status::AccessDenied;
  }

  std::string holder() override {
    // The lock covers byte 0 alone: the text after it is read through a handle of its own.
    HANDLE h = openFile(folder_, GENERIC_READ, OPEN_EXISTING);
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

  void writeHolder() override {
    wchar_t exe[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::string name = win32::narrow(exe);
    if (auto slash = name.find_last_of("\\/"); slash != std::string::npos)
      name = name.substr(slash + 1);
    const std::string me = fmt::format("\n{}\n{}\n", ::GetCurrentProcessId(), name);
    DWORD written = 0;
    OVERLAPPED at{};
    if (::WriteFile(h_, me.data(), static_cast<DWORD>(me.size()), &written, &at))
      ::SetEndOfFile(h_);  // the name is for messages only
  }

  void clearHolder() override {
    LARGE_INTEGER one{};
    one.QuadPart = 1;
    if (::SetFilePointerEx(h_, one, nullptr, FILE_BEGIN)) ::SetEndOfFile(h_);
  }

 private:
  HANDLE h_;
  std::string folder_;
};

}  // namespace

Result<std::unique_ptr<LockFile>> openLockFile(const std::string& folder) {
  HANDLE h = openFile(folder, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE)
    return Error{Status::AccessDenied,
                 fmt::format("{}{}: the target cannot be written ({}); nothing was changed", folder,
                             kLockFileName, win32::errorText(::GetLastError()))};
  return std::unique_ptr<LockFile>(std::make_unique<Win32LockFile>(h, folder));
}

bool lockFileFree(const std::string& folder) {
  HANDLE h = openFile(folder, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  const bool free = lockNow(h);
  ::CloseHandle(h);  // also gives the probe's lock up
  return free;
}

std::string lockKey(const std::string& folder) {
  std::string real = hostio::realPath(folder);
  return real.empty() ? folder : real;
}

}  // namespace brisquell
