// The running Windows system as a target. Its registry changes as each call is made: there is
// no file to replace, so save() only flushes, and the write gate refuses up front when this
// process may not change the machine's keys.
#include "platform/RunningSystem.h"

#include <windows.h>

#include "platform/ProgramLocation.h"
#include "platform/lnk/LnkShortcutReader.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32UrlCache.h"

namespace brisquell {

namespace {

std::string folderCall(UINT (*call)(LPWSTR, UINT)) {
  wchar_t buf[MAX_PATH + 1];
  UINT n = call(buf, MAX_PATH + 1);
  return n && n <= MAX_PATH ? win32::narrow(std::wstring_view(buf, n)) : std::string();
}

MachineInfo runningMachine() {
  MachineInfo m;
  if (auto w = folderCall(GetWindowsDirectoryW); !w.empty()) m.windowsDirectory = w;
  if (auto s = folderCall(GetSystemDirectoryW); !s.empty()) m.systemDirectory = s;
  wchar_t temp[MAX_PATH + 2];
  if (DWORD n = GetTempPathW(MAX_PATH + 2, temp); n && n <= MAX_PATH + 1) {
    std::string t = win32::narrow(std::wstring_view(temp, n));
    if (t.size() > 3 && t.back() == '\\') t.pop_back();
    m.tempFolder = t;
  }
  wchar_t user[257];
  DWORD un = 257;
  if (GetUserNameW(user, &un) && un > 0)
    m.userName = win32::narrow(std::wstring_view(user, un - 1));
  std::string self = currentProgramPath();
  if (std::size_t slash = self.rfind('\\'); slash != std::string::npos)
    m.installFolder = self.substr(0, slash);
  return m;
}

// The machine's variables, then this process's own, which are those of the running system.
Environment processEnvironment(const MachineInfo& m) {
  Environment env = machineEnvironment(m);
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) {
      std::string entry = win32::narrow(p);
      std::size_t eq = entry.find('=', 1);  // "=C:=C:\x" entries start with '='
      if (eq == std::string::npos || entry[0] == '=') continue;
      std::string name = entry.substr(0, eq), value = entry.substr(eq + 1);
      bool replaced = false;
      for (auto& [k, v] : env)
        if (iequals(k, name)) {
          v = value;
          replaced = true;
        }
      if (!replaced) env.emplace_back(std::move(name), std::move(value));
    }
    FreeEnvironmentStringsW(block);
  }
  return env;
}

class RunningWindows final : public Target {
 public:
  RunningWindows()
      : machine_(runningMachine()),
        files_(machine_.installFolder),
        shortcuts_(files_, processEnvironment(machine_)) {}

  std::string kind() const override { return "running Windows system"; }
  std::string location() const override { return "this computer"; }
  RegistryStore& registry() override { return registry_; }
  FileSystem& files() override { return files_; }
  ShortcutReader& shortcuts() override { return shortcuts_; }
  UrlCache& urlCache() override { return cache_; }
  const MachineInfo& machine() const override { return machine_; }

  Outcome save() override {
    // Each write took effect (and was read back) as it was made; make it durable.
    if (Status st = registry_.flush(); st != Status::Success)
      return Outcome::fail("the registry could not be flushed to disk: " +
                               win32::errorText(static_cast<unsigned long>(code(st))),
                           st);
    registry_.markSaved();
    return {};
  }
  Outcome reload() override { return {}; }  // nothing is held apart from the registry itself

  std::optional<std::string> writeBlocker() const override {
    // Refused before the first change, rather than failing half-way through a repair.
    auto& store = const_cast<Win32Registry&>(registry_);
    if (!store.canWrite(hkey::LocalMachine, "SOFTWARE\\Classes") ||
        !store.canWrite(hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"))
      return std::string(
          "the machine's registry keys cannot be changed by this user: run Brisquell as "
          "administrator");
    return std::nullopt;
  }

  bool changesAtOnce() const override { return true; }

  bool canStore(KeyHandle root) const override {
    return root == hkey::ClassesRoot || root == hkey::CurrentUser || root == hkey::LocalMachine ||
           root == hkey::Users || root == hkey::CurrentConfig;
  }

 private:
  MachineInfo machine_;
  Win32Registry registry_;
  Win32FileSystem files_;
  LnkShortcutReader shortcuts_;
  Win32UrlCache cache_;
};

}  // namespace

bool runningSystemIsTarget() { return true; }

Result<std::unique_ptr<Target>> openRunningSystem() {
  return std::unique_ptr<Target>(std::make_unique<RunningWindows>());
}

}  // namespace brisquell
