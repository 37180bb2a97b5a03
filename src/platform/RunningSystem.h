// The system this program runs on, as a target where it is one (Windows).
#pragma once

#include <memory>

#include "platform/Target.h"

namespace brisquell {

/// True where the running system can be the target: the default when none is named.
bool runningSystemIsTarget();
/// The running system's registry, drives and caches; an error where it is no target.
Result<std::unique_ptr<Target>> openRunningSystem();

}  // namespace brisquell
