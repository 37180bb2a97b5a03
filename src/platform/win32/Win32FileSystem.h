// The running system's drives and files, through kernel32's wide calls.
#pragma once

#include "platform/FileSystem.h"

namespace brisquell {

class Win32FileSystem final : public FileSystem {
 public:
  /// currentDirectory: the folder that relative paths start from.
  explicit Win32FileSystem(std::string currentDirectory);

  std::vector<DriveInfo> drives() override;
  bool volumeInformation(std::string_view root) override;
  Status find(std::string_view pattern, std::vector<DirEntry>& out) override;
  Status attributes(std::string_view path, std::uint32_t& attributes) override;
  Status readFile(std::string_view path, Bytes& data) override;
  Status writeFile(std::string_view path, const Bytes& data) override;
  Status appendFile(std::string_view path, const Bytes& data) override;
  Status deleteFile(std::string_view path) override;
  Status createDirectory(std::string_view path) override;
  std::optional<std::string> hostPath(std::string_view path) override;
  std::optional<std::string> hostPathForNew(std::string_view path) override;
  void setListingCache(bool) override {}

  /// The absolute form of a path ("C:\x"), or a path error (isPathError) when it names no
  /// drive that can be tested.
  Status absolute(std::string_view path, std::string& out) const;

 private:
  std::string currentDirectory_;
};

}  // namespace brisquell
