// Shortcut reader over liblnk: the file is opened through its host path.
#pragma once

#include <cstddef>
#include <cstdint>

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

  std::string lastProblem() const override { return problem_; }

  /// Shortcuts are a few kilobytes; a larger file is no shortcut Windows would follow.
  static constexpr std::size_t kMaxShortcutBytes = 1 << 20;
  /// Why the structure's own sizes do not fit in a file of that length (each size field read
  /// before liblnk trusts it for an allocation); empty when they fit.
  static std::string structureProblem(const std::uint8_t* data, std::size_t size);

 private:
  FileSystem& files_;
  Environment env_;
  std::string problem_;
};

}  // namespace brisquell
