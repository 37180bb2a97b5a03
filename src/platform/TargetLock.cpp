// What both systems' target locks share: reading the holder's name out of the lock file.
#include "platform/TargetLock.h"

#include <fmt/format.h>

namespace brisquell {

std::string lockHolderOf(std::string_view text) {
  std::size_t nl = text.find('\n');
  std::string pid(text.substr(0, nl));
  std::string name =
      nl == std::string_view::npos ? std::string() : std::string(text.substr(nl + 1));
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
    return "another program";
  return name.empty() ? fmt::format("process {}", pid) : fmt::format("process {} ({})", pid, name);
}

}  // namespace brisquell
