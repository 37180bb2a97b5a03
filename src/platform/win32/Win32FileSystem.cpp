// Files on the running system: FindFirstFileW and GetFileAttributesW answer as Windows does,
// long names through "\\?\".
#include "platform/win32/Win32FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/AtomicFile.h"
#include "platform/HostIo.h"
#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

Status lastStatus() { return static_cast<Status>(GetLastError()); }

}  // namespace

Win32FileSystem::Win32FileSystem(std::string currentDirectory)
    : currentDirectory_(std::move(currentDirectory)) {}

Status Win32FileSystem::absolute(std::string_view path, std::string& out) const {
  std::string p(path);
  std::replace(p.begin(), p.end(), '/', '\\');
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    out = p;  // UNC: the network answers for itself
    return Status::Success;
  }
  if (p.size() >= 2 && p[1] == ':') {
    out = p.size() == 2 || p[2] != '\\' ? p.substr(0, 2) + "\\" + p.substr(2) : p;
  } else if (!p.empty() && p[0] == '\\') {
    if (currentDirectory_.size() < 2) return Status::InvalidName;
    out = currentDirectory_.substr(0, 2) + p;
  } else {
    if (currentDirectory_.size() < 2 || currentDirectory_[1] != ':') return Status::InvalidName;
    out = currentDirectory_;
    if (out.back() != '\\') out += '\\';
    out += p;
  }
  char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
  if (letter < 'A' || letter > 'Z') return Status::InvalidName;
  if (!(GetLogicalDrives() & (1u << (letter - 'A')))) return Status::InvalidDrive;
  return Status::Success;
}

std::vector<DriveInfo> Win32FileSystem::drives() {
  std::vector<DriveInfo> out;
  DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    DriveInfo d;
    d.letter = static_cast<char>('A' + i);
    const std::wstring root{static_cast<wchar_t>(L'A' + i), L':', L'\\'};
    switch (GetDriveTypeW(root.c_str())) {
      case DRIVE_REMOVABLE: d.type = DriveRemovable; break;
      case DRIVE_FIXED: d.type = DriveFixed; break;
      case DRIVE_REMOTE: d.type = DriveNetwork; break;
      case DRIVE_CDROM: d.type = DriveCdRom; break;
      case DRIVE_RAMDISK: d.type = DriveRamDisk; break;
      default: d.type = DriveUnknown; break;
    }
    d.ready = volumeInformation(win32::narrow(root));
    out.push_back(d);
  }
  return out;
}

bool Win32FileSystem::volumeInformation(std::string_view root) {
  // No error box for an empty drive: the answer is "not ready".
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  wchar_t name[MAX_PATH + 1];
  BOOL ok = GetVolumeInformationW(win32::widen(root).c_str(), name, MAX_PATH + 1, nullptr, nullptr,
                                  nullptr, nullptr, 0);
  SetErrorMode(old);
  return ok != 0;
}

Status Win32FileSystem::find(std::string_view pattern, std::vector<DirEntry>& out) {
  out.clear();
  std::string full;
  if (Status st = absolute(pattern, full); st != Status::Success) return st;
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(win32::hostPath(full).c_str(), &d);
  Status result = Status::Success;
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    result = e == ERROR_NOT_READY ? Status::NotReady : static_cast<Status>(e);
  } else {
    do {
      std::wstring_view n = d.cFileName;
      if (n == L"." || n == L"..") continue;
      out.push_back(DirEntry{win32::narrow(n), d.dwFileAttributes});
    } while (FindNextFileW(h, &d));
    FindClose(h);
    if (out.empty()) result = Status::FileNotFound;
  }
  SetErrorMode(old);
  std::stable_sort(out.begin(), out.end(), [](const DirEntry& a, const DirEntry& b) {
    return foldCase(a.name) < foldCase(b.name);
  });
  return result;
}

Status Win32FileSystem::attributes(std::string_view path, std::uint32_t& attrs) {
  attrs = 0;
  std::string full;
  if (Status st = absolute(path, full); st != Status::Success) return st;
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  DWORD a = GetFileAttributesW(win32::hostPath(full).c_str());
  Status st = a == INVALID_FILE_ATTRIBUTES ? lastStatus() : Status::Success;
  SetErrorMode(old);
  if (st == Status::Success) attrs = a;
  return st;
}

Status Win32FileSystem::readFile(std::string_view path, Bytes& data) {
  std::string full;
  if (Status st = absolute(path, full); st != Status::Success) return st;
  if (hostio::stat(full).directory) return Status::AccessDenied;
  std::FILE* f = hostio::open(full, "rb");
  if (!f) return hostio::stat(full).exists ? Status::AccessDenied : Status::FileNotFound;
  data.clear();
  unsigned char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  bool bad = std::ferror(f) != 0;
  std::fclose(f);
  return bad ? Status::ReadFault : Status::Success;
}

Status Win32FileSystem::writeFile(std::string_view path, const Bytes& data) {
  std::string full;
  if (Status st = absolute(path, full); st != Status::Success) return st;
  AtomicFile f(full);
  if (!f.open() || !f.write(reinterpret_cast<const char*>(data.data()), data.size()) || !f.commit())
    return Status::WriteFault;
  return Status::Success;
}

Status Win32FileSystem::appendFile(std::string_view path, const Bytes& data) {
  std::string full;
  if (Status st = absolute(path, full); st != Status::Success) return st;
  std::FILE* f = hostio::open(full, "ab");
  if (!f) return Status::AccessDenied;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? Status::Success : Status::WriteFault;
}

Status Win32FileSystem::deleteFile(std::string_view path) {
  std::string full;
  if (Status st = absolute(path, full); st != Status::Success) return st;
  if (DeleteFileW(win32::hostPath(full).c_str())) return Status::Success;
  return lastStatus();
}

Status Win32FileSystem::createDirectory(std::string_view path) {
  std::string full;
  if (Status st = absolute(path, full); st != Status::Success) return st;
  while (full.size() > 3 && full.back() == '\\') full.pop_back();
  for (std::size_t i = 3; i <= full.size(); ++i) {
    if (i < full.size() && full[i] != '\\') continue;
    const std::string part = full.substr(0, i);
    if (CreateDirectoryW(win32::hostPath(part).c_str(), nullptr)) continue;
    DWORD e = GetLastError();
    if (e != ERROR_ALREADY_EXISTS) return static_cast<Status>(e);
    if (!hostio::stat(part).directory) return Status::FileExists;
  }
  return Status::Success;
}

std::optional<std::string> Win32FileSystem::hostPath(std::string_view path) {
  std::string full;
  if (absolute(path, full) != Status::Success || !hostio::stat(full).exists) return std::nullopt;
  return full;
}

std::optional<std::string> Win32FileSystem::hostPathForNew(std::string_view path) {
  std::string full;
  if (absolute(path, full) != Status::Success) return std::nullopt;
  std::size_t slash = full.rfind('\\');
  if (slash == std::string::npos || !hostio::stat(full.substr(0, slash + 1)).directory)
    return std::nullopt;
  return full;
}

}  // namespace brisquell
