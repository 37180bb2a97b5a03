// Opening the named target for a command, and saving through the write gate.
#include "cli/CommandTarget.h"

#include <filesystem>
#include <iostream>

#include "cli/Commands.h"
#include "platform/TargetLock.h"

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
  // A changing command holds the target from before it reads it until it ends, so another
  // one's changes are neither read stale nor written over; reading commands do not wait.
  std::unique_ptr<TargetLock> lock;
  std::error_code ec;
  if (access == Access::Write && std::filesystem::is_directory(*folder, ec)) {
    lock = makeTargetLock(*folder);
    if (Outcome held = lock->acquire(kTargetLockWait); !held) {
      std::cerr << "brisquell: " << held.message() << "\n";
      return kFailed;
    }
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
