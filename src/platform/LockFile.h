// The lock file in a target as each system locks it: what the target lock needs of the
// system. The holding, nesting and waiting are the same everywhere (TargetLock.cpp).
#pragma once

#include <memory>
#include <string>

#include "platform/Status.h"

namespace brisquell {

class LockFile {
 public:
  virtual ~LockFile() = default;  // closing it gives the lock up
  /// Success when taken now; SharingViolation while another process holds it; any other
  /// status is a fault, described in `why`.
  virtual Status tryLock(std::string& why) = 0;
  /// Who holds it, from the text its holder wrote ("another program" when that is unknown).
  virtual std::string holder() = 0;
  /// Writes this process's number and program into it, for other processes' messages.
  virtual void writeHolder() = 0;
  /// Empties it before it is given up, so that no later reader names a process that has gone.
  virtual void clearHolder() = 0;
};

inline constexpr const char* kLockFileName = "/.brisquell.lock";

/// Opens, or creates, the lock file of the target in `folder` (never through a link); the
/// error says why the target cannot be written.
Result<std::unique_ptr<LockFile>> openLockFile(const std::string& folder);
/// True when the folder has no lock file, or nobody holds it.
bool lockFileFree(const std::string& folder);
/// The one name of a folder that the locks of this process are kept by.
std::string lockKey(const std::string& folder);

}  // namespace brisquell
