// The backup archive: a zip of the shortcut files a repair deleted, each entry named after the
// file's Windows path ("C/Documents and Settings/user/Desktop/x.lnk") so that extracting every
// entry puts each file back where it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace brisquell {

class BackupArchive {
 public:
  explicit BackupArchive(FileSystem& files) : files_(files) {}

  /// Entry name of a Windows path, empty for a path without a drive letter.
  static std::string entryName(std::string_view windowsPath);

  /// Queues a file of the target for the archive; false (with why) when it cannot be read.
  bool add(std::string_view windowsPath, std::string& error);
  std::size_t size() const { return pending_.size(); }
  /// Writes every queued file into the archive at the Windows path zipPath, in one go. The
  /// archive is complete on disk when this returns true.
  bool write(std::string_view zipPath, std::string& error);

  struct Extracted {
    std::vector<std::string> restored;  // Windows paths written back
    std::vector<std::string> refused;   // one message per entry that was not extracted
  };
  /// Extracts every entry whose name is a path on one of the target's drives, streamed to disk;
  /// an entry with "..", an absolute host path or an unknown drive, a symbolic link, one larger
  /// than the drive's free space or grown absurdly in compression is refused, nothing of it
  /// written, and the rest goes on. False with why when the archive itself cannot be read.
  bool extract(std::string_view zipPath, Extracted& result, std::string& error);

 private:
  struct Pending {
    std::string entry;
    Bytes data;
  };
  FileSystem& files_;
  std::vector<Pending> pending_;
};

}  // namespace brisquell
