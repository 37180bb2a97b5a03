// Resolution below a root: the longest existing part through the system's real path, the rest
// as spelled.
#include "platform/host/BeneathPath.h"

#include <cctype>
#include <cerrno>
#include <vector>

#include "platform/HostIo.h"

namespace brisquell {

namespace {

#ifdef _WIN32
constexpr bool kFoldCase = true;  // Windows names match whatever their case
bool isSeparator(char c) { return c == '/' || c == '\\'; }
#else
constexpr bool kFoldCase = false;
bool isSeparator(char c) { return c == '/'; }
#endif

// Length of the path's root ("/", "C:/", "//server/share/"), 0 when it has none.
std::size_t rootLength(const std::string& p) {
  if (!p.empty() && isSeparator(p[0])) return 1;
  if (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
      isSeparator(p[2]))
    return 3;
  return 0;
}

bool sameChar(char a, char b) {
  if (isSeparator(a) && isSeparator(b)) return true;
  if (!kFoldCase) return a == b;
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

std::string realFolder(const std::string& path) { return hostio::realPath(path); }

bool isBeneath(const std::string& realRoot, const std::string& real) {
  if (realRoot.empty() || real.empty()) return false;
  std::size_t n = realRoot.size();
  while (n > 1 && isSeparator(realRoot[n - 1]) && n > rootLength(realRoot)) --n;
  if (n == rootLength(realRoot)) {  // the root of a file system holds everything on it
    if (real.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (!sameChar(realRoot[i], real[i])) return false;
    return true;
  }
  if (real.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (!sameChar(realRoot[i], real[i])) return false;
  return real.size() == n || isSeparator(real[n]);
}

std::optional<std::string> resolveBeneath(const std::string& realRoot, const std::string& path,
                                          LastLink last) {
  if (rootLength(path) == 0) return std::nullopt;
  std::string head = path;
  while (head.size() > rootLength(head) && isSeparator(head.back())) head.pop_back();
  std::vector<std::string> tail;  // components not resolved, last first
  auto splitOff = [&]() -> bool {
    std::size_t slash = head.size();
    while (slash > 0 && !isSeparator(head[slash - 1])) --slash;
    if (slash == 0 || head.size() <= rootLength(head)) return false;
    std::string name = head.substr(slash);
    if (name == "..") return false;  // cannot be kept as spelled
    tail.push_back(std::move(name));
    head = slash <= rootLength(head) ? head.substr(0, rootLength(head)) : head.substr(0, slash - 1);
    return true;
  };
  if (last == LastLink::Keep && !splitOff()) return std::nullopt;
  for (;;) {
    std::string real = realFolder(head);
    if (!real.empty()) {
      if (!isBeneath(realRoot, real)) return std::nullopt;
      for (auto it = tail.rbegin(); it != tail.rend(); ++it) {
        if (!isSeparator(real.back())) real += '/';
        real += *it;
      }
      return real;
    }
    hostio::Info here = hostio::stat(head, false);
    // Something there that has no real path (a dangling or looping link) leads nowhere known.
    if (here.exists) return std::nullopt;
    if (!splitOff()) return std::nullopt;
  }
}

}  // namespace brisquell
