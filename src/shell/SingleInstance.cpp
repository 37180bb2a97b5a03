// The desktop program's lock.
#include "shell/SingleInstance.h"

namespace brisquell {

SingleInstance::SingleInstance(std::string folder, std::string name)
    : lock_(makeInstanceLock(std::move(name), std::move(folder))) {}

}  // namespace brisquell
