// wineserver detection: the server holds a write lock on "lock" in its folder while it runs.
#include "platform/wine/WineServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <vector>

#include <fmt/format.h>

#include "platform/host/HostFileSystem.h"

namespace brisquell {

namespace {

// 1 held (pid set), 0 free, -1 cannot tell.
int lockHolder(const std::string& lockFile, long& pid) {
  int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  int r = ::fcntl(fd, F_GETLK, &fl);
  ::close(fd);
  if (r != 0) return -1;
  if (fl.l_type == F_UNLCK) return 0;
  pid = fl.l_pid;
  return 1;
}

bool socketAnswers(const std::string& socketFile) {
  struct stat st;
  if (::stat(socketFile.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketFile.size() >= sizeof addr.sun_path) return false;
  socketFile.copy(addr.sun_path, socketFile.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::optional<WineServerProcess> findWineServer(const std::string& prefix) {
  struct stat st;
  if (::stat(prefix.c_str(), &st) != 0) return std::nullopt;
  const std::string serverName =
      fmt::format("server-{:x}-{:x}", static_cast<unsigned long>(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
  std::vector<std::string> tmpRoots{"/tmp"};
  if (const char* t = std::getenv("TMPDIR"); t && *t && std::string(t) != "/tmp")
    tmpRoots.push_back(t);

  std::vector<std::string> dirs;
  for (unsigned uid : {static_cast<unsigned>(st.st_uid), static_cast<unsigned>(::getuid())})
    dirs.push_back(fmt::format("/tmp/.wine-{}/{}", uid, serverName));
  // Debian's Wine keeps the server in a randomly named folder recorded in the prefix.
  std::ifstream named(prefix + "/wineserver");
  std::string name;
  if (named && std::getline(named, name) &&
      !(name = std::string(trimmedRightView(name, "\n\r "))).empty()) {
    if (name[0] == '/')
      dirs.push_back(name + "/" + serverName);
    else if (name.find('/') == std::string::npos)
      for (const auto& root : tmpRoots) dirs.push_back(root + "/" + name + "/" + serverName);
  }

  for (const auto& dir : dirs) {
    if (!hostIsDir(dir)) continue;
    long pid = 0;
    int held = lockHolder(dir + "/lock", pid);
    if (held == 1) return WineServerProcess{pid, dir};
    if (held == -1 && socketAnswers(dir + "/socket")) return WineServerProcess{0, dir};
  }

  // A server we could not see through its folder still runs with that folder as its cwd.
  if (DIR* proc = ::opendir("/proc")) {
    std::optional<WineServerProcess> found;
    while (dirent* e = ::readdir(proc)) {
      char* end = nullptr;
      long pid = std::strtol(e->d_name, &end, 10);
      if (pid <= 0 || *end) continue;
      std::ifstream comm(fmt::format("/proc/{}/comm", pid));
      std::string c;
      if (!comm || !std::getline(comm, c) || c.rfind("wineserver", 0) != 0) continue;
      char buf[4096];
      ssize_t n = ::readlink(fmt::format("/proc/{}/cwd", pid).c_str(), buf, sizeof buf - 1);
      if (n <= 0) continue;
      std::string cwd(buf, static_cast<std::size_t>(n));
      if (cwd.size() > serverName.size() &&
          cwd.compare(cwd.size() - serverName.size(), serverName.size(), serverName) == 0 &&
          cwd[cwd.size() - serverName.size() - 1] == '/') {
        found = WineServerProcess{pid, cwd};
        break;
      }
    }
    ::closedir(proc);
    if (found) return found;
  }
  return std::nullopt;
}

}  // namespace brisquell
