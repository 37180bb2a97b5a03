// Opening the named target for a command, and saving through the write gate.
#include "cli/CommandTarget.h"

#include <iostream>

#include "cli/Commands.h"

namespace brisquell::cli {

CommandTarget::CommandTarget(std::unique_ptr<Target> target)
    : target_(std::move(target)),
      ctx_(std::make_unique<ScanContext>(*target_)),
      changes_(*target_) {}

namespace {
bool keepUntilExit = false;
}  // namespace

void keepTargetsUntilExit() { keepUntilExit = true; }

bool CommandTarget::save() {
  Outcome saved = changes_.save();
  if (!saved) std::cerr << "brisquell: " << saved.message() << "\n";
  return saved.ok();
}

int runOnTarget(const Global& g, Access access, const std::function<int(CommandTarget&)>& command) {
  Result<std::string> folder = targetFolder(g.target, "brisquell");
  if (!folder) {
    std::cerr << "brisquell: " << folder.message() << "\n";
    return kUsage;
  }
  Result<std::unique_ptr<Target>> opened = openTarget(*folder, g.options);
  if (!opened) {
    std::cerr << "brisquell: " << opened.message() << "\n";
    return kUsage;
  }
  auto owned = std::make_unique<CommandTarget>(std::move(opened).value());
  CommandTarget& on = *owned;
  // Freeing a whole registry after the last output only delays the exit: the process keeps it
  // (still reachable) and the system takes it back.
  struct Keep {
    std::unique_ptr<CommandTarget>& owned;
    ~Keep() {
      static auto* kept = new std::vector<std::unique_ptr<CommandTarget>>();
      if (keepUntilExit) kept->push_back(std::move(owned));
    }
  } keep{owned};
  for (const auto& note : on.target().notes()) std::cerr << "brisquell: note: " << note << "\n";
  if (access == Access::Write) {
    if (Outcome allowed = TargetChanges(on.target()).begin(); !allowed) {
      std::cerr << "brisquell: " << allowed.message() << "\n";
      return kFailed;
    }
  } else if (auto blocker = on.target().writeBlocker()) {
    std::cerr << "brisquell: note: what is read may be stale: " << *blocker << ".\n";
  }
  return command(on);
}

}  // namespace brisquell::cli
