// A host folder held open, so that its files are deleted by name without the path to it being
// resolved again for each one. posix/ implements it; where a system has no such calls the
// folder never opens, and callers go by path.
#pragma once

#include <string>
#include <vector>

namespace brisquell {

class HostFolder {
 public:
  /// Opens the folder at a real path (absolute, no links in it) one component at a time,
  /// following no link: a link put on the way since the path was resolved makes it fail.
  explicit HostFolder(const std::string& realPath);
  ~HostFolder();
  HostFolder(const HostFolder&) = delete;
  HostFolder& operator=(const HostFolder&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  /// The folder's names in the order it lists them (on ext4 its hash order, in which deleting
  /// touches each block of the folder once); false when it cannot be read.
  bool names(std::vector<std::string>& out) const;
  /// Removes the file or link of this name, never a folder nor what a link leads to: 0 or the
  /// error number. Safe on several threads at once.
  int remove(const std::string& name) const;

 private:
  int fd_ = -1;
};

}  // namespace brisquell
