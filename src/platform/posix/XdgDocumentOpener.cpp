// Document opening on a freedesktop system: the extension's MIME type from the shared MIME
// database, the default program from xdg-mime, its desktop entry's Exec line. No probe file is
// written, and the document's path reaches the program unchanged (file names here are
// case-sensitive).
#include "platform/posix/XdgDocumentOpener.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Text.h"

extern char** environ;

namespace brisquell {

namespace {

std::vector<std::string> splitColon(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, ':'))
    if (!part.empty()) out.push_back(part);
  return out;
}

// Runs a program without a shell and returns its standard output; nullopt when it cannot run
// or fails. missing: the program is not installed, or said a tool it needs is not (exit 3).
std::optional<std::string> capture(const std::vector<std::string>& argv, bool& missing) {
  missing = false;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    missing = rc == ENOENT;
    return std::nullopt;
  }
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    missing = WIFEXITED(status) && WEXITSTATUS(status) == 3;
    return std::nullopt;
  }
  return out;
}

// The Exec line split by the quoting rules of desktop entries.
std::vector<std::string> splitExec(const std::string& exec) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size())
        cur += exec[++i];
      else if (c == '"')
        quoted = false;
      else
        cur += c;
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ' ' || c == '\t') {
      if (any) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) out.push_back(cur);
  return out;
}

}  // namespace

std::vector<std::string> XdgDocumentOpener::dataFolders() {
  std::vector<std::string> folders;
  if (const char* home = std::getenv("XDG_DATA_HOME"); home && *home)
    folders.push_back(home);
  else if (const char* h = std::getenv("HOME"); h && *h)
    folders.push_back(std::string(h) + "/.local/share");
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  for (auto& d : splitColon(dirs && *dirs ? dirs : "/usr/local/share:/usr/share"))
    folders.push_back(d);
  return folders;
}

std::optional<std::string> XdgDocumentOpener::mimeTypeOf(std::string_view extension) {
  const std::string pattern = "*." + std::string(extension);
  int bestWeight = -1;
  std::string best;
  for (const auto& folder : dataFolders()) {
    std::ifstream in(folder + "/mime/globs2");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      // weight:type:glob[:flags]
      std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
      if (b == std::string::npos) continue;
      std::size_t c = line.find(':', b + 1);
      std::string glob = line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
      bool caseSensitive = c != std::string::npos && line.find("cs", c) != std::string::npos;
      if (!(caseSensitive ? glob == pattern : iequals(glob, pattern))) continue;
      int weight = std::atoi(line.substr(0, a).c_str());
      if (weight > bestWeight) {
        bestWeight = weight;
        best = line.substr(a + 1, b - a - 1);
      }
    }
    if (bestWeight >= 0) return best;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> XdgDocumentOpener::commandFor(std::string_view mimeType,
                                                                      std::string_view document,
                                                                      bool& lookupFailed) {
  lookupFailed = false;
  // Without xdg-mime the desktop knows no program for the type: that is a missing opener, not
  // a lookup that could not be run.
  bool missing = false;
  auto out = capture({"xdg-mime", "query", "default", std::string(mimeType)}, missing);
  if (!out) {
    lookupFailed = !missing;
    return std::nullopt;
  }
  std::string entry = trimBlanks(*out);
  if (std::size_t nl = entry.find('\n'); nl != std::string::npos)
    entry = trimBlanks(entry.substr(0, nl));
  if (entry.empty() || entry.find('/') != std::string::npos) return std::nullopt;
  for (const auto& folder : dataFolders()) {
    std::ifstream in(folder + "/applications/" + entry);
    if (!in) continue;
    std::string line, exec;
    bool inEntry = false;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] == '[')
        inEntry = line == "[Desktop Entry]";
      else if (inEntry && line.rfind("Exec=", 0) == 0)
        exec = line.substr(5);
    }
    std::vector<std::string> words = splitExec(exec);
    if (words.empty()) return std::nullopt;
    std::vector<std::string> command;
    bool placed = false;
    for (const auto& w : words) {
      if (w == "%f" || w == "%F" || w == "%u" || w == "%U") {
        if (!placed) command.emplace_back(document);
        placed = true;
      } else if (w.size() == 2 && w[0] == '%') {
        continue;  // %i, %c, %k: icon, name and entry path are not needed to open a document
      } else {
        command.push_back(w);
      }
    }
    if (!placed) command.emplace_back(document);
    return command;
  }
  return std::nullopt;
}

bool XdgDocumentOpener::start(const std::vector<std::string>& command) {
  if (command.empty()) return false;
  std::vector<char*> args;
  for (const auto& a : command) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The program is not waited for; reaping it at once keeps no zombie behind.
  pid_t middle = fork();
  if (middle < 0) return false;
  if (middle == 0) {
    setsid();
    pid_t pid = 0;
    _exit(posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0 ? 0 : 1);
  }
  int status = 0;
  if (waitpid(middle, &status, 0) != middle) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

DocumentOpener& systemDocumentOpener() {
  static XdgDocumentOpener opener;
  return opener;
}

DocumentOpener::Program XdgDocumentOpener::programFor(std::string_view document,
                                                      std::string_view extension) {
  std::optional<std::string> mime = mimeTypeOf(extension);
  if (!mime) return {Lookup::NoProgram, {}};
  bool lookupFailed = false;
  auto command = commandFor(*mime, document, lookupFailed);
  if (lookupFailed) return {Lookup::Failed, {}};
  if (!command) return {Lookup::NoProgram, {}};
  return {Lookup::Found, std::move(*command)};
}

}  // namespace brisquell
