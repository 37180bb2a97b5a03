// The instance lock on a POSIX system: flock() on a file in a folder only the user can reach.
#pragma once

#include <string>

#include "platform/InstanceLock.h"

namespace brisquell {

class PosixInstanceLock final : public InstanceLock {
 public:
  /// The lock file is folder/name.lock; an empty folder means runtimeFolder().
  PosixInstanceLock(std::string name, std::string folder);
  ~PosixInstanceLock() override;
  PosixInstanceLock(const PosixInstanceLock&) = delete;
  PosixInstanceLock& operator=(const PosixInstanceLock&) = delete;

  State acquire(std::string& error) override;
  void release() override;
  std::string where() const override { return path_; }

  /// $XDG_RUNTIME_DIR when it is the user's own private folder, else a private folder
  /// below the temporary folder that is checked to be the user's alone; empty on failure.
  static std::string runtimeFolder(std::string& error);

 private:
  std::string name_, folder_, path_;
  int fd_ = -1;
};

}  // namespace brisquell
