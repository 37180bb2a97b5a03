// One running desktop program per user, through the system's instance lock.
#pragma once

#include <memory>
#include <string>

#include "platform/InstanceLock.h"

namespace brisquell {

class SingleInstance {
 public:
  using State = InstanceLock::State;

  /// folder: where the lock lives where locks are files; empty for the user's usual place.
  explicit SingleInstance(std::string folder = {}, std::string name = "brisquell-gui");

  /// Takes the lock. Unavailable (with the reason) when the system cannot hold it; the
  /// desktop program then starts without the protection rather than not at all.
  State acquire(std::string& error) { return lock_->acquire(error); }
  void release() { lock_->release(); }
  std::string lockPath() const { return lock_->where(); }

 private:
  std::unique_ptr<InstanceLock> lock_;
};

}  // namespace brisquell
