// A lock held by one process at a time, released when the process ends however it ends.
#pragma once

#include <memory>
#include <string>

namespace brisquell {

class InstanceLock {
 public:
  enum class State { Acquired, AlreadyRunning, Unavailable };

  virtual ~InstanceLock() = default;

  /// Takes the lock. Unavailable (with the reason) when the system cannot hold one; the
  /// caller then goes on without the protection rather than not at all.
  virtual State acquire(std::string& error) = 0;
  virtual void release() = 0;
  /// Where the lock is held (a file, an object name), for messages; empty before acquire.
  virtual std::string where() const = 0;
};

/// The lock called `name` of the user running this program. folder: a place of its own for
/// the lock where the system keeps locks in files (tests); empty for the user's usual place.
std::unique_ptr<InstanceLock> makeInstanceLock(std::string name, std::string folder = {});

}  // namespace brisquell
