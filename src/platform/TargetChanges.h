// The one path by which a command changes a target: refused while the target must not be
// written, saved at the end, and undone in memory when the save fails.
#pragma once

#include <functional>
#include <memory>

#include "platform/Status.h"
#include "platform/Target.h"
#include "platform/TargetLock.h"

namespace brisquell {

/// Every change of a target's files or registry goes through one of these:
///   TargetChanges changes(target);
///   if (Outcome o = changes.begin(); !o) ... nothing was changed, say o.message()
///   ... change the registry and files ...
///   if (Outcome o = changes.save(); !o) ... say o.message(); never report success
/// A failed save reloads the registry from the target's files, so no change of the failed
/// command lingers in memory to be written by a later, unrelated save.
class TargetChanges {
 public:
  explicit TargetChanges(Target& target) : target_(target) {}

  /// Asked before the first change: fails while Target::writeBlocker() is set, and when
  /// another process is changing the target (its lock is then held until this object goes).
  Outcome begin() const;
  /// Writes the registry changes; on failure rolls the in-memory registry back to the files.
  Outcome save();
  /// begin(), change(), save() in one.
  Outcome apply(const std::function<void()>& change);

  Target& target() { return target_; }

  /// Runs a save (or the reload after a failed one) and returns only when it has returned. A
  /// front end with a window installs one that keeps the window painting meanwhile; without one
  /// the save runs on the calling thread.
  using SaveRunner = std::function<Outcome(const std::function<Outcome()>& save)>;
  static void setSaveRunner(SaveRunner runner);

 private:
  Target& target_;
  mutable std::unique_ptr<TargetLock> lock_;
};

}  // namespace brisquell
