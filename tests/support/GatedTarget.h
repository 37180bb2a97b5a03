// A target around another whose write gate the test controls: a blocker as a running
// wineserver sets one, and saves that fail without writing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Target.h"

namespace brisquell::test {

class GatedTarget final : public Target {
 public:
  explicit GatedTarget(std::unique_ptr<Target> inner) : inner_(std::move(inner)) {}

  /// writeBlocker() while set; save() refuses then, as a real back end does.
  std::optional<std::string> blocker;
  /// save() fails, writing nothing.
  bool failSaves = false;
  /// Called by save() first, on the thread it runs on.
  std::function<void()> duringSave;
  int saves = 0, reloads = 0;

  std::string kind() const override { return inner_->kind(); }
  std::string location() const override { return inner_->location(); }
  RegistryStore& registry() override { return inner_->registry(); }
  FileSystem& files() override { return inner_->files(); }
  ShortcutReader& shortcuts() override { return inner_->shortcuts(); }
  UrlCache& urlCache() override { return inner_->urlCache(); }
  const MachineInfo& machine() const override { return inner_->machine(); }
  std::optional<std::string> writeBlocker() const override { return blocker; }
  std::string lockFolder() const override { return inner_->lockFolder(); }
  bool canStore(KeyHandle root) const override { return inner_->canStore(root); }
  bool isRunningSystem() const override { return inner_->isRunningSystem(); }
  std::vector<std::string> linkedShellFolders() const override {
    return inner_->linkedShellFolders();
  }
  Outcome save() override {
    ++saves;
    if (duringSave) duringSave();
    if (blocker) return Error{Status::AccessDenied, *blocker + "; nothing was written"};
    if (failSaves && inner_->registry().modified())
      return Error{Status::WriteFault,
                   location() + "/registry.reg: could not be saved (disk full)"};
    return inner_->save();
  }
  Outcome reload() override {
    ++reloads;
    return inner_->reload();
  }
  Target& inner() { return *inner_; }

 private:
  std::unique_ptr<Target> inner_;
};

}  // namespace brisquell::test
