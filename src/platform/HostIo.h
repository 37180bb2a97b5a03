// The host's own files, named by UTF-8 host paths: the few calls the back ends make outside
// the Windows path model. posix/ and win32/ implement them; on Windows every call crosses to
// UTF-16 and long paths, so a name outside the ANSI code page still opens.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisquell::hostio {

struct Info {
  bool exists = false;
  bool directory = false;
  bool regular = false;
  bool link = false;  // only when links are not followed
  bool readOnly = false;
  std::uint64_t size = 0;
  std::uint64_t fileId = 0;  // the inode where the system has them; 0 elsewhere
};

/// What is at a host path; `follow` false looks at a link itself.
Info stat(const std::string& path, bool follow = true);
/// fopen with a UTF-8 name; the mode is fopen's ("rb", "ab", ...).
std::FILE* open(const std::string& path, const char* mode);
/// A path object for the standard streams and std::filesystem.
std::filesystem::path fsPath(std::string_view path);
/// Removes a file; false with errno set (ENOENT when missing).
bool removeFile(const std::string& path);
/// Creates one folder; true when it exists already.
bool makeFolder(const std::string& path);
/// Renames over an existing file, as one step where the system can.
bool rename(const std::string& from, const std::string& to);
/// Flushes a file's data to the disk.
bool syncFile(std::FILE* file);
/// Writes straight to the file's descriptor, past the stream's buffer (flushed before by the
/// caller): large pieces are not copied once more. False with errno set.
bool writeThrough(std::FILE* file, const char* data, std::size_t size);
/// Starts writing a range of a file's data to the disk without waiting for it, where the system
/// can, so that a later syncFile() has less left to wait for. Durability still needs syncFile().
void startWriteback(std::FILE* file, std::uint64_t offset, std::uint64_t length);
/// Makes a folder's entries (a rename into it) durable where the system needs that.
void syncFolder(const std::string& folder);
/// Where a symbolic link points, as written in it; nothing when the path is no link.
std::optional<std::string> readLink(const std::string& path);
/// Gives `to` the permissions of `from` (0644 when `from` is missing) where files have them.
void copyPermissions(const std::string& from, const std::string& to);
/// Opens an existing file that is no regular file (a device, a FIFO) for writing.
std::FILE* openDevice(const std::string& path);
/// A new, empty file for writing named `stem` plus a unique ending; its name in `path`.
std::FILE* createUnique(const std::string& stem, std::string& path);

struct Entry {
  std::string name;
  bool directory = false;
  bool regular = false;
  bool known = false;  // false: the kind needs a stat()
};
/// The names in a folder, without "." and ".."; false when it cannot be read.
bool list(const std::string& folder, std::vector<Entry>& out);
/// True when the folder's entries can be listed and opened.
bool canEnter(const std::string& folder);
/// The absolute path with links resolved; empty when it does not exist.
std::string realPath(const std::string& path);
/// An environment variable as UTF-8.
std::optional<std::string> environment(const char* name);
/// True for "/x" here and for "C:\x", "C:/x" and "\\server\x" on Windows.
bool isAbsolute(std::string_view path);
/// The local time of a moment.
std::tm localTime(std::time_t t);
#ifdef _WIN32
/// The form of a host path the wide Windows calls take (UTF-16, "\\?\" when long).
std::wstring widePath(const std::string& path);
#endif
/// The last system error as text.
std::string lastErrorText();

}  // namespace brisquell::hostio
