// Shortcut reader over liblnk: the file is opened through its host path.
#pragma once

#include "platform/FileSystem.h"
#include "platform/ShortcutReader.h"

namespace brisquell {

class LnkShortcutReader final : public ShortcutReader {
 public:
  /// env expands the environment-variable location of shortcuts that have one.
  LnkShortcutReader(FileSystem& files, Environment env);

  /// The LinkInfo local path (with its common path suffix), else the network path, else the
  /// environment-variable location expanded, else the relative path resolved against the
  /// shortcut's folder.
  std::string targetPath(std::string_view shortcutPath) override;

  /// The same for a file on the host; folder is the shortcut's Windows folder.
  std::string targetPathOfHostFile(const std::string& hostFile, std::string_view folder);

 private:
  FileSystem& files_;
  Environment env_;
};

}  // namespace brisquell
