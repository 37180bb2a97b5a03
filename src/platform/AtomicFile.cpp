// Atomic replacement of a file: a reader sees the old contents or the new, never a mix.
#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "platform/HostIo.h"

namespace brisquell {

namespace {

constexpr std::uint64_t kWritebackStep = 8u << 20;
constexpr std::size_t kWriteThrough = 256u << 10;

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::string dirOf(const std::string& path) {
  std::size_t slash = path.find_last_of(kSeparators);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links to the name they end at, which need not exist yet. False on a loop.
bool followLinks(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::optional<std::string> link = hostio::readLink(path);
    if (!link || link->empty()) return true;
    path = hostio::isAbsolute(*link) ? *link : dirOf(path) + "/" + *link;
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
    if (!temp_.empty()) hostio::removeFile(temp_);
  }
}

Outcome AtomicFile::open() {
  if (mode_ == Mode::Output) {
    if (!followLinks(target_))
      return Outcome::fail(fmt::format("{}: cannot write: {}", path_, std::strerror(errno)),
                           Status::InvalidName);
    hostio::Info st = hostio::stat(target_);
    if (st.exists && !st.regular) {
      if (st.directory)
        return Outcome::fail(fmt::format("{}: is a folder, not a file", path_),
                             Status::AccessDenied);
      // A device, FIFO or socket: renaming over it would put a regular file in its place.
      if (!(file_ = hostio::openDevice(target_))) {
        int err = errno;
        return Outcome::fail(fmt::format("{}: cannot write: {}", path_, std::strerror(err)),
                             Status::AccessDenied);
      }
      return {};
    }
  }
  file_ = hostio::createUnique(target_ + ".tmp-", temp_);
  if (!file_) {
    int err = errno;
    temp_.clear();
    return Outcome::fail(
        fmt::format("{}: cannot create a temporary file: {}", path_, std::strerror(err)),
        Status::AccessDenied);
  }
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  return {};
}

bool AtomicFile::write(const char* data, std::size_t size) {
  if (!file_ || writeErrno_) return false;
  // Large pieces go past the stream's buffer, which would only copy them once more.
  const bool through = size >= kWriteThrough;
  if (through ? std::fflush(file_) != 0 || !hostio::writeThrough(file_, data, size)
              : std::fwrite(data, 1, size, file_) != size) {
    writeErrno_ = errno ? errno : EIO;
    return false;
  }
  written_ += size;
  // A large file goes to the disk while the rest is still being written, so that the fsync at
  // the commit waits for the tail only.
  if (!temp_.empty() && written_ - handedOver_ >= kWritebackStep) {
    if (std::fflush(file_) != 0) {
      writeErrno_ = errno ? errno : EIO;
      return false;
    }
    hostio::startWriteback(file_, handedOver_, written_ - handedOver_);
    handedOver_ = written_;
  }
  return true;
}

Outcome AtomicFile::commit() {
  if (!file_) return Outcome::fail(fmt::format("{}: not open", path_), Status::InvalidHandle);
  const bool direct = temp_.empty();
  errno = 0;
  // Devices and FIFOs are flushed, not synced: fsync means nothing to them.
  bool ok = !writeErrno_ && std::fflush(file_) == 0 && (direct || hostio::syncFile(file_));
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
    hostio::copyPermissions(target_, temp_);
    if (!hostio::rename(temp_, target_)) {
      err = errno;
      ok = false;
    }
  }
  if (!ok) {
    hostio::removeFile(temp_);
    temp_.clear();
    return Outcome::fail(fmt::format("{}: could not be saved ({}); the previous file is unchanged",
                                     path_, std::strerror(err ? err : EIO)),
                         Status::WriteFault);
  }
  temp_.clear();
  hostio::syncFolder(dirOf(target_));
  return {};
}

}  // namespace brisquell
