// Path cleaning, directory lookups, the existence test and problem recording.
#include "scan/ScanContext.h"

namespace brisquell {

namespace {
constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
}

ScanSession::ScanSession(Target& target)
    : target_(target),
      log_(target.files(), [this] { return GetWindowsDirectory(); }),
      registry_(target.registry(), log_, target.machine().platformId) {}

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
  if (st == Status::NotReady) throw deviceUnavailable();
  if (isPathError(st)) throw badFileName();
  tested_.emplace_back(path);  // found missing: evidence for the record it may lead to
  return false;
}

void ScanState::AddProblem(std::int32_t rootKey, std::string_view valueName,
                           std::string_view valueText, std::string_view section,
                           std::string_view keyPath, std::string_view rootName) {
  ProblemRecord r;
  r.MainKey = std::to_string(rootKey);
  r.KeyName = valueName.empty() ? std::string("(Default)") : std::string(valueName);
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

void ScanContext::AddProblem(std::int32_t rootKey, std::string_view valueName,
                             std::string_view valueText, std::string_view section,
                             std::string_view keyPath, std::string_view rootName) {
  const std::size_t before = problems().size();
  ScanState::AddProblem(rootKey, valueName, valueText, section, keyPath, rootName);
  if (problems().size() > before) problems().rows().back().testedPaths = tested();
}

void ScanContext::RecordIfMissing(const CheckArgs& a, const std::string& path) {
  if (!FileOrFolderExists(path))
    AddProblem(a.rootKey, a.valueName, path, a.section, a.keyPath, a.rootName);
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
