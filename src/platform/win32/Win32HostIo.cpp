// Host files on Windows: every name crosses to UTF-16, long names through "\\?\".
#include "platform/HostIo.h"

#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

#include "platform/win32/Wide.h"

namespace brisquell::hostio {

namespace {

void setErrno(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL: errno = ENOSPC; break;
    default: errno = EACCES; break;
  }
}

}  // namespace

Info stat(const std::string& path, bool follow) {
  Info i;
  WIN32_FILE_ATTRIBUTE_DATA d{};
  const std::wstring w = win32::hostPath(path);
  if (!GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &d)) {
    // Devices ("NUL", "CON") have no attributes but open: they exist, as no regular file.
    HANDLE h = CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return i;
    i.exists = GetFileType(h) != FILE_TYPE_DISK;
    CloseHandle(h);
    return i;
  }
  i.exists = true;
  i.link = !follow && (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  i.directory = d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  i.regular = !i.directory && !(d.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
  i.readOnly = d.dwFileAttributes & FILE_ATTRIBUTE_READONLY;
  i.size = (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  return i;
}

std::FILE* open(const std::string& path, const char* mode) {
  return _wfopen(win32::hostPath(path).c_str(), win32::widen(mode).c_str());
}

std::filesystem::path fsPath(std::string_view path) {
  return std::filesystem::path(win32::hostPath(path));
}

bool removeFile(const std::string& path) {
  if (DeleteFileW(win32::hostPath(path).c_str())) return true;
  setErrno(GetLastError());
  return false;
}

bool makeFolder(const std::string& path) {
  if (CreateDirectoryW(win32::hostPath(path).c_str(), nullptr)) return true;
  DWORD e = GetLastError();
  if (e == ERROR_ALREADY_EXISTS) return true;
  setErrno(e);
  return false;
}

bool rename(const std::string& from, const std::string& to) {
  // rename() of the C runtime refuses an existing target; this replaces it in one step.
  if (MoveFileExW(win32::hostPath(from).c_str(), win32::hostPath(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  setErrno(GetLastError());
  return false;
}

bool syncFile(std::FILE* file) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (h == INVALID_HANDLE_VALUE) return false;
  // Pipes and the console have nothing to flush to a disk.
  if (GetFileType(h) != FILE_TYPE_DISK) return true;
  return FlushFileBuffers(h) != 0;
}

bool writeThrough(std::FILE* file, const char* data, std::size_t size) {
  const int fd = _fileno(file);
  while (size > 0) {
    const unsigned piece = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
    int n = _write(fd, data, piece);
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Windows writes behind on its own; FlushFileBuffers waits for the rest.
void startWriteback(std::FILE*, std::uint64_t, std::uint64_t) {}

void syncFolder(const std::string&) {
  // MOVEFILE_WRITE_THROUGH has made the rename durable already.
}

std::optional<std::string> readLink(const std::string&) {
  // Links are followed by the wide calls themselves.
  return std::nullopt;
}

void copyPermissions(const std::string&, const std::string&) {}

std::FILE* openDevice(const std::string& path) { return open(path, "wb"); }

std::FILE* createUnique(const std::string& stem, std::string& path) {
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned long long seed =
      GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    unsigned long long v = seed + static_cast<unsigned long long>(attempt) * 7919u;
    for (int k = 0; k < 6; ++k) {
      suffix += digits[v % 36];
      v /= 36;
    }
    path = stem + suffix;
    HANDLE h = CreateFileW(win32::hostPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD e = GetLastError();
      if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) continue;
      setErrno(e);
      return nullptr;
    }
    CloseHandle(h);
    if (std::FILE* f = open(path, "wb")) return f;
    removeFile(path);
    return nullptr;
  }
  errno = EEXIST;
  return nullptr;
}

bool list(const std::string& folder, std::vector<Entry>& out) {
  std::wstring pattern = win32::hostPath(folder);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW d;
  HANDLE h =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &d, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND) return true;  // an empty root
    setErrno(e);
    return false;
  }
  do {
    std::wstring_view n = d.cFileName;
    if (n == L"." || n == L"..") continue;
    Entry e;
    e.name = win32::narrow(n);
    e.known = !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    e.directory = d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    e.regular = !e.directory;
    out.push_back(std::move(e));
  } while (FindNextFileW(h, &d));
  FindClose(h);
  return true;
}

bool canEnter(const std::string& folder) {
  std::vector<Entry> ignored;
  return list(folder, ignored);
}

std::string realPath(const std::string& path) {
  HANDLE h = CreateFileW(win32::hostPath(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::wstring buf(32768, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()),
                                      FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= buf.size()) return {};
  buf.resize(n);
  if (buf.rfind(L"\\\\?\\UNC\\", 0) == 0)
    buf = L"\\\\" + buf.substr(8);
  else if (buf.rfind(L"\\\\?\\", 0) == 0 && buf.size() < MAX_PATH)
    buf = buf.substr(4);
  return win32::narrow(buf);
}

std::optional<std::string> environment(const char* name) {
  std::wstring w = win32::widen(name);
  DWORD n = GetEnvironmentVariableW(w.c_str(), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring v(n, L'\0');
  n = GetEnvironmentVariableW(w.c_str(), v.data(), n);
  v.resize(n);
  return win32::narrow(v);
}

bool isAbsolute(std::string_view p) {
  if (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
      (p[2] == '\\' || p[2] == '/'))
    return true;
  return p.size() >= 2 && (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/');
}

std::tm localTime(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

std::wstring widePath(const std::string& path) { return win32::hostPath(path); }

std::string lastErrorText() {
  DWORD e = GetLastError();
  return e ? win32::errorText(e) : std::string(std::strerror(errno));
}

}  // namespace brisquell::hostio
