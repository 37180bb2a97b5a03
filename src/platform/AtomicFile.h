// Replaces a file in one step: write a temporary file beside it, flush, rename.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/Status.h"

namespace brisquell {

class AtomicFile {
 public:
  /// What the path may be besides a regular file.
  enum class Mode {
    /// A file the program keeps (a target's registry, a file inside a target): whatever the
    /// name is, the new file takes its place; a link there is never followed out of the target.
    Replace,
    /// A file the user named for output: a symbolic link is followed and its target replaced;
    /// a device, FIFO or socket is written straight into, never replaced by a regular file.
    Output,
  };

  explicit AtomicFile(std::string path, Mode mode = Mode::Replace);
  ~AtomicFile();  // abandons the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  Outcome open();
  bool write(const char* data, std::size_t size);
  /// Flushes to disk and renames over the target; on failure the old file stays.
  Outcome commit();
  const std::string& path() const { return path_; }

 private:
  std::string path_;    // as the caller named it, for messages
  std::string target_;  // what is replaced or written into
  std::string temp_;    // empty when writing straight into target_
  Mode mode_;
  std::FILE* file_ = nullptr;
  int writeErrno_ = 0;
  std::uint64_t written_ = 0, handedOver_ = 0;  // bytes written; of them, given to writeback
};

}  // namespace brisquell
