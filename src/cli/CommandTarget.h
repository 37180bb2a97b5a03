// The preamble every command that works on a target shares: open the named target, ask the
// write gate, make the scan session, save through the gate.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/Target.h"
#include "platform/TargetChanges.h"
#include "scan/ScanContext.h"

namespace brisquell::cli {

struct Global;

/// What a command will do with the target.
enum class Access { Read, Write };

/// The target a command works on, the scan session over it and its write gate.
class CommandTarget {
 public:
  explicit CommandTarget(std::unique_ptr<Target> target);
  Target& target() { return *target_; }
  ScanContext& ctx() { return *ctx_; }
  /// Saves what the command changed; prints why not (the changes are then undone in memory).
  bool save();

 private:
  std::unique_ptr<Target> target_;
  std::unique_ptr<ScanContext> ctx_;
  TargetChanges changes_;
};

/// Opens the target named by --target or $BRISQUELL_TARGET (exit 2, having said why, when it
/// cannot) and runs the command on it, returning the command's exit code. With Access::Write
/// the write gate is asked first: while the target must not be written the command is refused
/// (exit 1) before anything is changed. With Access::Read it goes on, with a note that what it
/// reads may be stale.
int runOnTarget(const Global& g, Access access, const std::function<int(CommandTarget&)>& command);

/// From now on runOnTarget keeps each target it opened until the process ends, instead of
/// freeing it when the command returns: for a process that exits right after the command.
void keepTargetsUntilExit();

/// The folders the command line names: every --target (else $BRISQUELL_TARGET), then the
/// targets found below --targets-under (each subfolder's pfx, as in a Steam library's
/// compatdata, or the subfolder itself when it holds a target).
Result<std::vector<std::string>> targetFolders(const Global& g);

/// Runs the command on each target in turn, as runOnTarget does for one. A target that cannot
/// be opened (or written) is reported through failed and the others go on; the result is the
/// first failing exit code, else kOk.
int runOnTargets(
    const Global& g, Access access,
    const std::function<int(CommandTarget&, const std::string& folder)>& command,
    const std::function<void(const std::string& folder, const std::string& why)>& failed);

/// True when the command line names more than one target (or --targets-under).
bool severalTargets(const Global& g);

}  // namespace brisquell::cli
