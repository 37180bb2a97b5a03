// Opening the named target for a command, and saving through the write gate.
#include "cli/CommandTarget.h"

#include <iostream>

#include "cli/Commands.h"
#include "platform/HostIo.h"
#include "platform/RunningSystem.h"

namespace brisquell::cli {

CommandTarget::CommandTarget(std::unique_ptr<Target> target)
    : target_(std::move(target)),
      ctx_(std::make_unique<ScanContext>(*target_)),
      changes_(*target_) {}

bool CommandTarget::save() {
  Outcome saved = changes_.save();
  if (!saved) std::cerr << "brisquell: " << saved.message() << "\n";
  return saved.ok();
}

namespace {

// Without a named target the running system is the target where it can be one.
bool onRunningSystem(const Global& g) {
  if (!g.target.empty() || !runningSystemIsTarget()) return false;
  auto env = hostio::environment("BRISQUELL_TARGET");
  return !env || env->empty();
}

}  // namespace

int runOnTarget(const Global& g, Access access, const std::function<int(CommandTarget&)>& command) {
  Result<std::unique_ptr<Target>> opened = Error{};
  if (onRunningSystem(g)) {
    if (!g.options.empty()) {
      std::cerr << "brisquell: --user and --drive apply to an offline Windows installation "
                   "only\n";
      return kUsage;
    }
    opened = openRunningSystem();
  } else {
    Result<std::string> folder = targetFolder(g.target, "brisquell");
    if (!folder) {
      std::cerr << "brisquell: " << folder.message() << "\n";
      return kUsage;
    }
    opened = openTarget(*folder, g.options);
  }
  if (!opened) {
    std::cerr << "brisquell: " << opened.message() << "\n";
    return kUsage;
  }
  CommandTarget on(std::move(opened).value());
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
