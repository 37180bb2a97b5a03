// Atomic replacement of a file: a reader sees the old contents or the new, never a mix.
#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace brisquell {

namespace {

std::string dirOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links to the name they end at, which need not exist yet. False on a loop.
bool followLinks(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n < 0) return true;
    link.resize(static_cast<std::size_t>(n));
    path = link.front() == '/' ? link : dirOf(path) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

}  // namespace

AtomicFile::AtomicFile(std::string path, Mode mode)
    : path_(std::move(path)), target_(path_), mode_(mode) {}

AtomicFile::~AtomicFile() {
  if (file_) {
    std::fclose(file_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }
}

Outcome AtomicFile::open() {
  if (mode_ == Mode::Output) {
    if (!followLinks(target_))
      return Outcome::fail(fmt::format("{}: cannot write: {}", path_, std::strerror(errno)),
                           Status::InvalidName);
    struct stat st;
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      if (S_ISDIR(st.st_mode))
        return Outcome::fail(fmt::format("{}: is a folder, not a file", path_),
                             Status::AccessDenied);
      // A device, FIFO or socket: renaming over it would put a regular file in its place.
      int fd = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (fd < 0 || !(file_ = ::fdopen(fd, "wb"))) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        return Outcome::fail(fmt::format("{}: cannot write: {}", path_, std::strerror(err)),
                             Status::AccessDenied);
      }
      return {};
    }
  }
  temp_ = target_ + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp_.data());
  if (fd < 0) {
    int err = errno;
    temp_.clear();
    return Outcome::fail(
        fmt::format("{}: cannot create a temporary file: {}", path_, std::strerror(err)),
        Status::AccessDenied);
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    int err = errno;
    ::close(fd);
    ::unlink(temp_.c_str());
    temp_.clear();
    return Outcome::fail(fmt::format("{}: cannot write: {}", path_, std::strerror(err)),
                         Status::AccessDenied);
  }
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  return {};
}

bool AtomicFile::write(const char* data, std::size_t size) {
  if (!file_ || writeErrno_) return false;
  if (std::fwrite(data, 1, size, file_) != size) {
    writeErrno_ = errno ? errno : EIO;
    return false;
  }
  return true;
}

Outcome AtomicFile::commit() {
  if (!file_) return Outcome::fail(fmt::format("{}: not open", path_), Status::InvalidHandle);
  const bool direct = temp_.empty();
  errno = 0;
  // Devices and FIFOs are flushed, not synced: fsync means nothing to them.
  bool ok = !writeErrno_ && std::fflush(file_) == 0 && (direct || ::fsync(fileno(file_)) == 0);
  int err = writeErrno_ ? writeErrno_ : errno;
  if (std::fclose(file_) != 0 && ok) {
    ok = false;
    err = errno;
  }
  file_ = nullptr;
  if (direct) {
    if (ok) return {};
    return Outcome::fail(
        fmt::format("{}: could not be written ({})", path_, std::strerror(err ? err : EIO)),
        Status::WriteFault);
  }
  if (ok) {
    // Keep the permissions of the file being replaced.
    struct stat st;
    if (::stat(target_.c_str(), &st) == 0)
      ::chmod(temp_.c_str(), st.st_mode & 07777);
    else
      ::chmod(temp_.c_str(), 0644);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      err = errno;
      ok = false;
    }
  }
  if (!ok) {
    ::unlink(temp_.c_str());
    temp_.clear();
    return Outcome::fail(fmt::format("{}: could not be saved ({}); the previous file is unchanged",
                                     path_, std::strerror(err ? err : EIO)),
                         Status::WriteFault);
  }
  temp_.clear();
  int dfd = ::open(dirOf(target_).c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

}  // namespace brisquell
