// One running desktop program per user: a lock file in the user's runtime folder.
#pragma once

#include <string>

namespace brisquell {

class SingleInstance {
 public:
  enum class State { Acquired, AlreadyRunning, Unavailable };

  /// folder: where the lock lives; empty for the user's runtime folder.
  explicit SingleInstance(std::string folder = {}, std::string name = "brisquell-gui.lock");
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  /// Takes the lock. Unavailable (with the reason) when no private folder can hold it; the
  /// caller then starts without the protection rather than not at all.
  State acquire(std::string& error);
  void release();
  const std::string& lockPath() const { return path_; }

  /// $XDG_RUNTIME_DIR when it is the user's own private folder, else a private folder
  /// below the temporary folder that is checked to be the user's alone; empty on failure.
  static std::string runtimeFolder(std::string& error);

 private:
  std::string folder_, name_, path_;
  int fd_ = -1;
};

}  // namespace brisquell
