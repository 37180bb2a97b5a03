// No descriptor-relative deletion here: the folder never opens, and its files go by path.
#include "platform/HostFolder.h"

#include <cerrno>

namespace brisquell {

HostFolder::HostFolder(const std::string&) {}

HostFolder::~HostFolder() = default;

bool HostFolder::names(std::vector<std::string>& out) const {
  out.clear();
  return false;
}

int HostFolder::remove(const std::string&) const { return ENOSYS; }

}  // namespace brisquell
