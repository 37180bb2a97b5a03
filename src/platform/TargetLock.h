// One changing command per target at a time, across processes: the lock is a file in the
// target, held for the whole of the command and released however the process ends.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Status.h"

namespace brisquell {

class TargetLock {
 public:
  virtual ~TargetLock() = default;
  /// Takes the lock, waiting up to `wait` while another process holds it; then fails with a
  /// message naming the holder (its process number, and its program when known). A process
  /// that holds the lock already takes it again at once. Fails too when the lock file cannot
  /// be made (a read-only target): nothing can be changed there.
  virtual Outcome acquire(std::chrono::milliseconds wait) = 0;
  /// Gives the lock up (also done by the destructor); the last holder in the process frees it.
  virtual void release() = 0;
};

/// The holder a lock file's text names ("PID\nPROGRAM\n"), for messages.
std::string lockHolderOf(std::string_view text);

/// How long a changing command waits for another one to finish before it refuses.
inline constexpr std::chrono::milliseconds kTargetLockWait{3000};

/// The lock of the target whose folder is `folder`.
std::unique_ptr<TargetLock> makeTargetLock(const std::string& folder);

/// True when no other process is changing the target now (this process may be): what such a
/// process leaves behind, its temporary files, is then litter.
bool noOtherWriter(const std::string& folder);

}  // namespace brisquell
