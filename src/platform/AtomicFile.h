// Replaces a file in one step: write a temporary file beside it, flush, rename.
#pragma once

#include <cstdio>
#include <string>

namespace brisquell {

class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();  // abandons the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool open(std::string& error);
  bool write(const char* data, std::size_t size);
  /// Flushes to disk and renames over the target; on failure the old file stays.
  bool commit(std::string& error);
  const std::string& path() const { return path_; }

 private:
  std::string path_, temp_;
  std::FILE* file_ = nullptr;
  int writeErrno_ = 0;
};

}  // namespace brisquell
