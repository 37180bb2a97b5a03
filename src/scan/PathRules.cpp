// Path cleaning, directory lookups, the existence test and problem recording.
#include "scan/ScanContext.h"

#include <functional>

namespace brisquell {

namespace {
constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool startsWithFolder(std::string_view path, std::string_view folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  return iequals(path.substr(0, folder.size()), folder) && path[folder.size()] == '\\';
}

// Where a 32-bit program on 64-bit Windows finds what its registration names: the file system
// redirector sends system32 to SysWOW64, and its %ProgramFiles% is the "(x86)" folder.
std::vector<std::string> wow64Alternates(ScanSession& s, const std::string& path) {
  std::vector<std::string> out;
  RegistryAccess& reg = s.registry();
  auto swap = [&](const std::string& from, const std::string& to) {
    if (!to.empty() && !iequals(from, to) && startsWithFolder(path, from))
      out.push_back(to + path.substr(from.size()));
  };
  swap(GetPathWithSlash(s.GetWindowsDirectory()) + "system32",
       GetPathWithSlash(s.GetWindowsDirectory()) + "SysWOW64");
  std::string x86;
  if (reg.QueryValue(hkey::LocalMachine, kCurrentVersion, "ProgramFilesDir (x86)", x86))
    swap(s.GetProgramFilesPath(), trimBlanks(x86));
  std::string common;
  if (reg.QueryValue(hkey::LocalMachine, kCurrentVersion, "CommonFilesDir (x86)", common))
    swap(s.GetCommonProgramFilesPath(), trimBlanks(common));
  return out;
}

std::string machineValue(RegistryAccess& reg, KeyHandle root, std::string_view key,
                         std::string_view name) {
  std::string v;
  if (!reg.QueryValue(root, key, name, v)) return {};
  return trimBlanks(v);
}

}  // namespace

ScanSession::ScanSession(Target& target) : ScanSession(target, target.registry()) {}

ScanSession::ScanSession(Target& target, RegistryStore& store)
    : target_(target),
      log_(target.files(), [this] { return GetWindowsDirectory(); }),
      registry_(store, log_, target.machine().platformId) {}

std::string ScanSession::GetWindowsDirectory() {
  std::string d = target_.machine().windowsDirectory;
  while (d.size() > 3 && d.back() == '\\') d.pop_back();
  return d;
}

std::string ScanSession::GetSystemDirectory() {
  std::string d = target_.machine().systemDirectory;
  while (d.size() > 3 && d.back() == '\\') d.pop_back();
  return d;
}

std::string ScanSession::GetProgramFilesPath() {
  std::string s;
  if (!registry_.QueryValue(hkey::LocalMachine, kCurrentVersion, "ProgramFilesDir", s)) return {};
  return trimBlanks(s);
}

std::string ScanSession::GetCommonProgramFilesPath() {
  std::string s;
  if (!registry_.QueryValue(hkey::LocalMachine, kCurrentVersion, "CommonFilesDir", s)) return {};
  return trimBlanks(s);
}

bool ScanSession::FileOrFolderExists(std::string_view path) {
  std::vector<DirEntry> found;
  Status st = target_.files().find(path, found);
  if (st == Status::Success) return true;
  if (st == Status::FileNotFound || st == Status::PathNotFound) {
    tested_.emplace_back(path);  // found missing: evidence for the record it may lead to
    return false;
  }
  throw untestablePath(st);
}

std::optional<std::string> ScanSession::expandEnvironment(std::string_view text) {
  // Variables may name others ("%SystemDrive%\\ProgramData"); a few levels are enough, and a
  // loop of names ends as "not known".
  std::function<std::optional<std::string>(std::string_view, int)> expand;
  auto variable = [&](std::string_view name, int depth) -> std::optional<std::string> {
    std::string v;
    if (iequals(name, "SystemRoot") || iequals(name, "windir"))
      v = GetWindowsDirectory();
    else if (iequals(name, "SystemDrive"))
      v = GetWindowsDirectory().substr(0, 2);
    else if (iequals(name, "ProgramFiles") || iequals(name, "ProgramW6432"))
      v = GetProgramFilesPath();
    else if (iequals(name, "CommonProgramFiles") || iequals(name, "CommonProgramW6432"))
      v = GetCommonProgramFilesPath();
    else if (iequals(name, "ProgramFiles(x86)"))
      v = machineValue(registry_, hkey::LocalMachine, kCurrentVersion, "ProgramFilesDir (x86)");
    else if (iequals(name, "CommonProgramFiles(x86)"))
      v = machineValue(registry_, hkey::LocalMachine, kCurrentVersion, "CommonFilesDir (x86)");
    else if (iequals(name, "ProgramData") || iequals(name, "ALLUSERSPROFILE"))
      v = machineValue(registry_, hkey::LocalMachine,
                       "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                       "ProgramData");
    if (v.empty())
      v = machineValue(registry_, hkey::LocalMachine,
                       "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", name);
    if (v.empty()) v = machineValue(registry_, hkey::CurrentUser, "Environment", name);
    if (v.empty()) v = machineValue(registry_, hkey::CurrentUser, "Volatile Environment", name);
    if (v.empty()) return std::nullopt;
    return expand(v, depth + 1);
  };
  expand = [&](std::string_view t, int depth) -> std::optional<std::string> {
    if (depth > 4) return std::nullopt;
    std::string out;
    std::size_t i = 0;
    while (i < t.size()) {
      std::size_t open = t.find('%', i);
      std::size_t close = open == std::string_view::npos ? open : t.find('%', open + 1);
      if (close == std::string_view::npos) {
        out.append(t.substr(i));
        break;
      }
      out.append(t.substr(i, open - i));
      std::string_view name = t.substr(open + 1, close - open - 1);
      // "%1", "%*" and "%~dp0" are a command's arguments, not variables; a quote or a blank
      // between two percent signs means they belong to different words.
      if (name.empty() || name.find_first_of("\" \t") != std::string_view::npos ||
          name.find_first_not_of("0123456789*") == std::string_view::npos || name[0] == '~') {
        out += '%';
        i = open + 1;
        continue;
      }
      auto v = variable(name, depth);
      if (!v) return std::nullopt;
      out += *v;
      i = close + 1;
    }
    return out;
  };
  return expand(text, 0);
}

void ScanState::AddProblem(std::int32_t rootKey, std::string_view valueName,
                           std::string_view valueText, std::string_view section,
                           std::string_view keyPath, std::string_view rootName) {
  ProblemRecord r;
  r.MainKey = std::to_string(rootKey);
  r.unnamed = valueName.empty();
  r.KeyName = r.unnamed ? std::string("(Default)") : std::string(valueName);
  r.KeyValue = valueText;
  r.Section = section;
  r.FullKeyPath = keyPath;
  r.MainKeyName = rootName;
  addProblem(std::move(r));
}

void ScanState::addProblem(ProblemRecord r) {
  if (leaveOut && leaveOut(r)) {
    ++leftOut;
    return;
  }
  problems_.add(std::move(r));
}

bool ScanContext::PathWorks(const std::string& path) {
  if (FileOrFolderExists(path)) return true;
  if (wow64View)
    for (const std::string& alt : wow64Alternates(*this, path))
      if (FileOrFolderExists(alt)) return true;
  return false;
}

void ScanContext::AddProblem(std::int32_t rootKey, std::string_view valueName,
                             std::string_view valueText, std::string_view section,
                             std::string_view keyPath, std::string_view rootName) {
  const std::size_t before = problems().size();
  ScanState::AddProblem(rootKey, valueName, valueText, section, keyPath, rootName);
  if (problems().size() > before) problems().rows().back().testedPaths = tested();
}

void ScanContext::RecordIfMissing(const CheckArgs& a, const std::string& path) {
  if (PathWorks(path)) return;
  const std::size_t before = problems().size();
  AddProblem(a.rootKey, a.valueName, path, a.section, a.keyPath, a.rootName);
  if (problems().size() == before) return;
  ProblemRecord& r = problems().rows().back();
  r.ValueText = a.valueText;
  r.TestedPath = path;
  if (trimBlanks(a.valueText).find('\\') == std::string::npos &&
      path.find('\\') != std::string::npos)
    r.Reason = "a name without a folder, looked for in " + path.substr(0, path.rfind('\\'));
}

void ScanContext::CheckAllSystemdirectory(const CheckArgs& a) {
  try {
    std::string path;
    if (icontains(a.valueText, "%Systemroot%")) {
      path = GetWindowsDirectory() + CheckSystemRootDirectory(a.valueText);
    } else if (icontains(a.valueText, "%ProgramFiles%")) {
      path = GetProgramFilesPath() + CheckSystemRootDirectory(a.valueText);
    } else {
      path = GetCommonProgramFilesPath() + CheckCommonProgramFilesPath(a.valueText);
    }
    RecordIfMissing(a, path);
  } catch (const TrappedError& e) {
    log().write("CheckAllSystemdirectory", e);
  }
}

std::string GetPathWithSlash(std::string_view s) {
  if (trimBlanks(s).empty()) return {};
  if (s.back() == '\\') return std::string(s);
  return std::string(s) + "\\";
}

std::string GetFileExtension(std::string_view s) {
  for (std::size_t i = s.size(); i-- > 0;) {
    char c = s[i];
    if (c == '.') {
      std::string ext(s.substr(i + 1));
      for (char& ch : ext)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
      return ext;
    }
    if (c == ':' || c == '\\') return {};
  }
  return {};
}

std::string RemoveEnter(std::string_view s) {
  while (!s.empty() && (s.front() == '"' || s.front() == '\r' || s.front() == ' '))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == '"' || s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
  return std::string(s);
}

std::string RemoveBackSlashandComma(std::string_view s) {
  std::size_t a = s.find('/');
  std::size_t b = s.find(',');
  std::string r;
  if (a != std::string_view::npos) r = RemoveEnter(s.substr(0, a));
  if (b != std::string_view::npos)
    r = RemoveEnter(s.substr(0, b));  // a comma wins wherever it stands
  return r.empty() ? std::string(s) : r;
}

std::string CheckSystemRootDirectory(std::string_view s) {
  std::size_t a = ifind(s, "%Systemroot%");
  if (a != std::string_view::npos) return std::string(s.substr(a + 12));
  a = ifind(s, "%ProgramFiles%");
  if (a != std::string_view::npos) return std::string(s.substr(a + 14));
  return {};
}

std::string CheckCommonProgramFilesPath(std::string_view s) {
  std::size_t a = ifind(s, "%commonprogramfiles%");
  return a == std::string_view::npos ? std::string() : std::string(s.substr(a + 20));
}

}  // namespace brisquell
