// Resolution below a root: the longest existing part through realpath(3), the rest as spelled.
#include "platform/host/BeneathPath.h"

#include <sys/stat.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace brisquell {

std::string realFolder(const std::string& path) {
  char* r = ::realpath(path.c_str(), nullptr);
  if (!r) return {};
  std::string s = r;
  std::free(r);
  return s;
}

bool isBeneath(const std::string& realRoot, const std::string& real) {
  if (realRoot.empty() || real.empty()) return false;
  if (realRoot == "/") return real.front() == '/';
  return real.compare(0, realRoot.size(), realRoot) == 0 &&
         (real.size() == realRoot.size() || real[realRoot.size()] == '/');
}

std::optional<std::string> resolveBeneath(const std::string& realRoot, const std::string& path,
                                          LastLink last) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  std::string head = path;
  while (head.size() > 1 && head.back() == '/') head.pop_back();
  std::vector<std::string> tail;  // components not resolved, last first
  auto splitOff = [&]() -> bool {
    std::size_t slash = head.rfind('/');
    if (slash == std::string::npos || head.size() == 1) return false;
    std::string name = head.substr(slash + 1);
    if (name == "..") return false;  // cannot be kept as spelled
    tail.push_back(std::move(name));
    head = slash == 0 ? "/" : head.substr(0, slash);
    return true;
  };
  if (last == LastLink::Keep && !splitOff()) return std::nullopt;
  for (;;) {
    std::string real = realFolder(head);
    if (!real.empty()) {
      if (!isBeneath(realRoot, real)) return std::nullopt;
      for (auto it = tail.rbegin(); it != tail.rend(); ++it) {
        if (real.back() != '/') real += '/';
        real += *it;
      }
      return real;
    }
    if (errno != ENOENT && errno != ENOTDIR) return std::nullopt;  // cannot tell where it leads
    struct stat st;
    if (::lstat(head.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return std::nullopt;
    if (!splitOff()) return std::nullopt;
  }
}

}  // namespace brisquell
