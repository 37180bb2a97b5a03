// CreateProcess's search for a command line's program, and the references of command lines.
#include "scan/CommandLines.h"

#include <vector>

namespace brisquell {

namespace {

constexpr std::string_view kEnvironmentKey =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isBareName(std::string_view name) {
  return name.find_first_of("\\/:") == std::string_view::npos;
}

bool isFullPath(std::string_view path) {
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

bool hasExtension(std::string_view path) {
  std::size_t slash = path.find_last_of("\\/:");
  std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return last.find('.') != std::string_view::npos;
}

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix) {
  return !prefix.empty() && s.size() >= prefix.size() &&
         iequals(s.substr(0, prefix.size()), prefix);
}

// Success when a file (not a folder) is at the path; FileNotFound when nothing is, or only a
// folder; another status when the path cannot be tested.
Status fileAt(ScanSession& s, const std::string& path) {
  if (path.find_first_of("*?") != std::string::npos) return Status::FileNotFound;
  std::vector<DirEntry> found;
  Status st = s.files().find(path, found);
  if (st == Status::Success)
    return found.empty() || (found.front().attributes & fileattr::Directory) ? Status::FileNotFound
                                                                             : Status::Success;
  if (st == Status::PathNotFound) return Status::FileNotFound;
  return st;
}

// %SystemRoot% and %windir% in a search path entry; false for entries naming other variables.
bool expandFolder(ScanSession& s, std::string entry, std::string& out) {
  for (std::string_view token : {"%SystemRoot%", "%windir%"}) {
    std::size_t at = ifind(entry, token);
    if (at != std::string::npos) entry.replace(at, token.size(), s.GetWindowsDirectory());
  }
  out = trimBlanks(entry);
  return !out.empty() && out.find('%') == std::string::npos;
}

std::vector<std::string> searchFolders(ScanSession& s) {
  const std::string windows = s.GetWindowsDirectory();
  std::vector<std::string> folders = {s.GetSystemDirectory(), GetPathWithSlash(windows) + "System",
                                      windows};
  for (KeyHandle root : {hkey::LocalMachine, hkey::CurrentUser}) {
    const std::string path =
        textValue(s.registry().store(), root,
                  root == hkey::LocalMachine ? kEnvironmentKey : "Environment", "Path");
    if (path.empty()) continue;
    std::size_t i = 0;
    while (i <= path.size()) {
      std::size_t j = path.find(';', i);
      if (j == std::string::npos) j = path.size();
      std::string folder;
      if (expandFolder(s, path.substr(i, j - i), folder)) folders.push_back(folder);
      i = j + 1;
    }
  }
  return folders;
}

// Looks for one name CreateProcess would try; records an untestable answer in why.
Launch tryProgram(ScanSession& s, std::string name, Status& why) {
  name = trimBlanks(name);
  if (name.empty()) return Launch::Fails;
  if (!hasExtension(name)) name += ".exe";
  Status st = isBareName(name) ? FindOnSearchPath(s, name) : fileAt(s, name);
  if (st == Status::Success) return Launch::Starts;
  // A full path holding characters no name may hold ("C:\a.exe -f C:\b.log") names nothing.
  if (st == Status::InvalidName && isFullPath(name)) return Launch::Fails;
  if (st != Status::FileNotFound) {
    why = st;
    return Launch::Untestable;
  }
  return Launch::Fails;
}

}  // namespace

Status FindOnSearchPath(ScanSession& s, std::string_view bareName) {
  Status untestable = Status::FileNotFound;
  for (const std::string& folder : searchFolders(s)) {
    if (folder.empty()) continue;
    Status st = fileAt(s, GetPathWithSlash(folder) + std::string(bareName));
    if (st == Status::Success) return st;
    if (st != Status::FileNotFound) untestable = st;
  }
  return untestable;
}

Launch LaunchCommandLine(ScanSession& s, std::string_view commandLine, Status& why) {
  std::string_view line = commandLine;
  while (!line.empty() && (isBlank(line.front()) || line.front() == '\r' || line.front() == '\n'))
    line.remove_prefix(1);
  why = Status::Success;
  if (!line.empty() && line.front() == '"') {
    std::size_t close = line.find('"', 1);
    return tryProgram(
        s, std::string(line.substr(1, close == std::string_view::npos ? close : close - 1)), why);
  }
  bool untestable = false;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i < line.size() && !isBlank(line[i])) continue;
    if (i == 0 || isBlank(line[i - 1])) continue;  // runs of blanks give no new prefix
    Status reason = Status::Success;
    Launch l = tryProgram(s, std::string(line.substr(0, i)), reason);
    if (l == Launch::Starts) return l;
    if (l == Launch::Untestable && !untestable) {
      untestable = true;
      why = reason;
    }
  }
  return untestable ? Launch::Untestable : Launch::Fails;
}

bool IsProgramPart(ScanSession& s, std::string_view commandLine, std::string_view path) {
  std::string_view line = commandLine;
  while (!line.empty() && (line.front() == ' ' || line.front() == '\r' || line.front() == '"' ||
                           line.front() == '\t'))
    line.remove_prefix(1);
  std::string p = trimBlanks(path);
  const std::string system = GetPathWithSlash(s.GetSystemDirectory());
  if (startsWithIgnoringCase(p, system) && isBareName(std::string_view(p).substr(system.size())) &&
      !startsWithIgnoringCase(line, system))
    p = p.substr(system.size());
  return startsWithIgnoringCase(line, p);
}

void RecordCommandLineReference(ScanContext& ctx, const CheckArgs& a, const std::string& path) {
  auto record = [&](const std::string& p) {
    ctx.AddProblem(a.rootKey, a.valueName, p, a.section, a.keyPath, a.rootName);
  };
  if (IsProgramPart(ctx, a.commandLine, path)) {
    Status why;
    switch (LaunchCommandLine(ctx, a.commandLine, why)) {
      case Launch::Starts: return;
      case Launch::Untestable: throw untestablePath(why);
      case Launch::Fails: {
        // A quoted program ends at its closing quote, whatever the cut took after it.
        std::string program = trimBlanks(path.substr(0, path.find('"')));
        ctx.noteMissing(program);
        record(program);
        return;
      }
    }
  }
  if (ctx.FileOrFolderExists(path)) return;
  // A file a launcher is given by bare name (rundll32.exe x.dll,Entry) is loaded along the
  // search path, not from the system folder alone.
  const std::string system = GetPathWithSlash(ctx.GetSystemDirectory());
  if (startsWithIgnoringCase(path, system) &&
      isBareName(std::string_view(path).substr(system.size()))) {
    Status st = FindOnSearchPath(ctx, std::string_view(path).substr(system.size()));
    if (st == Status::Success) return;
    if (st != Status::FileNotFound) throw untestablePath(st);
  }
  record(path);
}

}  // namespace brisquell
