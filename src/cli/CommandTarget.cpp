// Opening the named target for a command, and saving through the write gate.
#include "cli/CommandTarget.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "cli/Commands.h"
#include "platform/HostIo.h"
#include "platform/RunningSystem.h"
#include "platform/TargetLock.h"

namespace brisquell::cli {

CommandTarget::CommandTarget(std::unique_ptr<Target> target)
    : target_(std::move(target)),
      ctx_(std::make_unique<ScanContext>(*target_)),
      changes_(*target_) {
  ctx_->walkers = 2;  // nothing waits on the command line: a scan may use a second core
}

namespace {
bool keepUntilExit = false;
}  // namespace

void keepTargetsUntilExit() { keepUntilExit = true; }

bool CommandTarget::save() {
  Outcome saved = changes_.save();
  if (!saved) std::cerr << "brisquell: " << saved.message() << "\n";
  return saved.ok();
}

namespace {

// Opens one folder and runs the command; why it could not, in `why`, with the exit code.
int openAndRun(const std::string& folder, const Global& g, Access access,
               const std::function<int(CommandTarget&)>& command, std::string& why) {
  Result<std::unique_ptr<Target>> opened = openTarget(folder, g.options);
  if (!opened) {
    why = opened.message();
    return kUsage;
  }
  CommandTarget on(std::move(opened).value());
  for (const auto& note : on.target().notes()) std::cerr << "brisquell: note: " << note << "\n";
  if (access == Access::Write) {
    if (Outcome allowed = TargetChanges(on.target()).begin(); !allowed) {
      why = allowed.message();
      return kFailed;
    }
  } else if (auto blocker = on.target().writeBlocker()) {
    std::cerr << "brisquell: note: what is read may be stale: " << *blocker << ".\n";
  }
  return command(on);
}

bool holdsTarget(const std::filesystem::path& p) {
  std::error_code ec;
  for (const char* f : {"system.reg", "registry.reg", "Windows/System32/config/SOFTWARE"})
    if (std::filesystem::exists(p / f, ec)) return true;
  return false;
}

// Without a named target the running system is the target where it can be one.
bool onRunningSystem(const Global& g) {
  if (!g.target.empty() || !runningSystemIsTarget()) return false;
  auto env = hostio::environment("BRISQUELL_TARGET");
  return !env || env->empty();
}

}  // namespace

bool severalTargets(const Global& g) { return g.targets.size() > 1 || !g.targetsUnder.empty(); }

Result<std::vector<std::string>> targetFolders(const Global& g) {
  std::vector<std::string> folders = g.targets;
  if (folders.empty() && g.targetsUnder.empty()) {
    Result<std::string> one = targetFolder(g.target, "brisquell");
    if (!one) return Error{one.error()};
    folders.push_back(*one);
  }
  if (!g.targetsUnder.empty()) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(g.targetsUnder, ec), end; !ec && it != end; it.increment(ec)) {
      if (!it->is_directory(ec)) continue;
      if (fs::is_directory(it->path() / "pfx", ec))
        found.push_back(it->path() / "pfx");
      else if (holdsTarget(it->path()))
        found.push_back(it->path());
    }
    if (ec)
      return Result<std::vector<std::string>>::fail(
          g.targetsUnder + ": the folder cannot be read (" + ec.message() + ")");
    std::sort(found.begin(), found.end());
    if (found.empty())
      return Result<std::vector<std::string>>::fail(
          g.targetsUnder + ": no target below it (no subfolder holds a pfx folder or a target)");
    for (const auto& p : found) folders.push_back(p.string());
  }
  return folders;
}

int runOnTargets(const Global& g, Access access,
                 const std::function<int(CommandTarget&, const std::string&)>& command,
                 const std::function<void(const std::string&, const std::string&)>& failed) {
  Result<std::vector<std::string>> folders = targetFolders(g);
  if (!folders) {
    std::cerr << "brisquell: " << folders.message() << "\n";
    return kUsage;
  }
  int result = kOk;
  for (const std::string& folder : *folders) {
    std::string why;
    int rc = openAndRun(
        folder, g, access, [&](CommandTarget& on) { return command(on, folder); }, why);
    if (!why.empty()) {
      std::cerr << "brisquell: " << why << "\n";
      failed(folder, why);
    }
    if (rc != kOk && result == kOk) result = rc == kUsage ? kFailed : rc;
  }
  return result;
}

int runOnTarget(const Global& g, Access access, const std::function<int(CommandTarget&)>& command) {
  if (severalTargets(g)) {
    std::cerr << "brisquell: only scan, report and fix --plan work on several targets\n";
    return kUsage;
  }
  Result<std::unique_ptr<Target>> opened = Error{};
  // A changing command holds the target from before it reads it until it ends, so another
  // one's changes are neither read stale nor written over; reading commands do not wait.
  std::unique_ptr<TargetLock> lock;
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
    std::error_code ec;
    if (access == Access::Write && std::filesystem::is_directory(hostio::fsPath(*folder), ec)) {
      lock = makeTargetLock(*folder);
      if (Outcome held = lock->acquire(kTargetLockWait); !held) {
        std::cerr << "brisquell: " << held.message() << "\n";
        return kFailed;
      }
    }
    opened = openTarget(*folder, g.options);
  }
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
