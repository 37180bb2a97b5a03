// Atomic replacement of a file: a reader sees the old contents or the new, never a mix.
#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace brisquell {

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() {
  if (file_) {
    std::fclose(file_);
    ::unlink(temp_.c_str());
  }
}

bool AtomicFile::open(std::string& error) {
  temp_ = path_ + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp_.data());
  if (fd < 0) {
    error = fmt::format("{}: cannot create a temporary file: {}", path_, std::strerror(errno));
    return false;
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    ::close(fd);
    ::unlink(temp_.c_str());
    error = fmt::format("{}: cannot write: {}", path_, std::strerror(errno));
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  return true;
}

bool AtomicFile::write(const char* data, std::size_t size) {
  if (!file_ || writeErrno_) return false;
  if (std::fwrite(data, 1, size, file_) != size) {
    writeErrno_ = errno ? errno : EIO;
    return false;
  }
  return true;
}

bool AtomicFile::commit(std::string& error) {
  if (!file_) {
    error = fmt::format("{}: not open", path_);
    return false;
  }
  bool ok = !writeErrno_ && std::fflush(file_) == 0 && ::fsync(fileno(file_)) == 0;
  int err = writeErrno_ ? writeErrno_ : errno;
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  if (ok) {
    // Keep the permissions of the file being replaced.
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0) ::chmod(temp_.c_str(), st.st_mode & 07777);
    else ::chmod(temp_.c_str(), 0644);
    if (::rename(temp_.c_str(), path_.c_str()) != 0) {
      err = errno;
      ok = false;
    }
  }
  if (!ok) {
    ::unlink(temp_.c_str());
    error = fmt::format("{}: could not be saved ({}); the previous file is unchanged", path_,
                        std::strerror(err ? err : EIO));
    return false;
  }
  std::string dir = path_.substr(0, path_.find_last_of('/') == std::string::npos ? 0 : path_.find_last_of('/'));
  int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace brisquell
