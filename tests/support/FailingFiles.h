// A target whose file system fails every look-up below one folder with a chosen status, as a
// folder the program may not read does; everything else passes to the real target.
#pragma once

#include <string>

#include "platform/FileSystem.h"
#include "platform/Target.h"

namespace brisquell::test {

class FailingFiles final : public FileSystem {
 public:
  /// folder: "C:\Locked"; every path inside it (and its listing) fails with status.
  FailingFiles(FileSystem& inner, std::string folder, Status status)
      : inner_(inner), folder_(std::move(folder)), status_(status) {}

  std::vector<DriveInfo> drives() override { return inner_.drives(); }
  bool volumeInformation(std::string_view r) override { return inner_.volumeInformation(r); }
  Status find(std::string_view p, std::vector<DirEntry>& out) override {
    out.clear();
    if (inside(p)) return status_;
    return inner_.find(p, out);
  }
  Status attributes(std::string_view p, std::uint32_t& a) override {
    a = 0;
    return inside(p) ? status_ : inner_.attributes(p, a);
  }
  Status readFile(std::string_view p, Bytes& d) override {
    return inside(p) ? status_ : inner_.readFile(p, d);
  }
  Status writeFile(std::string_view p, const Bytes& d) override { return inner_.writeFile(p, d); }
  Status appendFile(std::string_view p, const Bytes& d) override { return inner_.appendFile(p, d); }
  Status deleteFile(std::string_view p) override { return inner_.deleteFile(p); }
  Status createDirectory(std::string_view p) override { return inner_.createDirectory(p); }
  std::optional<std::string> hostPath(std::string_view p) override {
    if (inside(p)) return std::nullopt;
    return inner_.hostPath(p);
  }
  std::optional<std::string> hostPathForNew(std::string_view p) override {
    return inner_.hostPathForNew(p);
  }
  void setListingCache(bool e) override { inner_.setListingCache(e); }

 private:
  bool inside(std::string_view p) const {
    return p.size() > folder_.size() && iequals(p.substr(0, folder_.size()), folder_) &&
           p[folder_.size()] == '\\';
  }
  FileSystem& inner_;
  std::string folder_;
  Status status_;
};

/// The real target with its files seen through FailingFiles.
class FailingFilesTarget final : public Target {
 public:
  FailingFilesTarget(Target& inner, std::string folder, Status status)
      : inner_(inner), files_(inner.files(), std::move(folder), status) {}
  std::string kind() const override { return inner_.kind(); }
  std::string location() const override { return inner_.location(); }
  RegistryStore& registry() override { return inner_.registry(); }
  FileSystem& files() override { return files_; }
  ShortcutReader& shortcuts() override { return inner_.shortcuts(); }
  const MachineInfo& machine() const override { return inner_.machine(); }
  Outcome save() override { return inner_.save(); }
  Outcome reload() override { return inner_.reload(); }

 private:
  Target& inner_;
  FailingFiles files_;
};

}  // namespace brisquell::test
