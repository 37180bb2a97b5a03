// Host files on POSIX systems: the bytes of a name are the name.
#include "platform/HostIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace brisquell::hostio {

Info stat(const std::string& path, bool follow) {
  struct stat st {};
  Info i;
  if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return i;
  i.exists = true;
  i.directory = S_ISDIR(st.st_mode);
  i.regular = S_ISREG(st.st_mode);
  i.link = S_ISLNK(st.st_mode);
  i.readOnly = !(st.st_mode & S_IWUSR);
  i.size = static_cast<std::uint64_t>(st.st_size);
  i.fileId = static_cast<std::uint64_t>(st.st_ino);
  return i;
}

std::FILE* open(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::filesystem::path fsPath(std::string_view path) { return std::filesystem::path(path); }

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool makeFolder(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool syncFile(std::FILE* file) { return ::fsync(fileno(file)) == 0; }

bool writeThrough(std::FILE* file, const char* data, std::size_t size) {
  const int fd = fileno(file);
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void startWriteback(std::FILE* file, std::uint64_t offset, std::uint64_t length) {
#ifdef __linux__
  // Only a hint: a failure here shows again, and is reported, at the fsync.
  (void)::sync_file_range(fileno(file), static_cast<off_t>(offset), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
#else
  (void)file;
  (void)offset;
  (void)length;
#endif
}

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::optional<std::string> readLink(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return std::nullopt;
  std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
  ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
  if (n < 0) return std::nullopt;
  link.resize(static_cast<std::size_t>(n));
  return link;
}

void copyPermissions(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::stat(from.c_str(), &st) == 0)
    ::chmod(to.c_str(), st.st_mode & 07777);
  else
    ::chmod(to.c_str(), 0644);
}

std::FILE* openDevice(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    int err = errno;
    ::close(fd);
    errno = err;
  }
  return f;
}

std::FILE* createUnique(const std::string& stem, std::string& path) {
  path = stem + "XXXXXX";
  int fd = ::mkstemp(path.data());
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = err;
  }
  return f;
}

bool list(const std::string& folder, std::vector<Entry>& out) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return false;
  while (dirent* e = ::readdir(d)) {
    std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    Entry entry;
    entry.name = std::string(n);
    entry.known = e->d_type == DT_DIR || e->d_type == DT_REG;
    entry.directory = e->d_type == DT_DIR;
    entry.regular = e->d_type == DT_REG;
    out.push_back(std::move(entry));
  }
  ::closedir(d);
  return true;
}

bool canEnter(const std::string& folder) { return ::access(folder.c_str(), R_OK | X_OK) == 0; }

std::string realPath(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::optional<std::string> environment(const char* name) {
  if (const char* v = std::getenv(name)) return std::string(v);
  return std::nullopt;
}

bool isAbsolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::tm localTime(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return tm;
}

std::string lastErrorText() { return std::strerror(errno); }

}  // namespace brisquell::hostio
