// A POSIX system holds no Windows registry of its own: a target is always named.
#include "platform/RunningSystem.h"

namespace brisquell {

bool runningSystemIsTarget() { return false; }

Result<std::unique_ptr<Target>> openRunningSystem() {
  return Error{Status::NotSupported, "this system has no Windows registry of its own"};
}

}  // namespace brisquell
