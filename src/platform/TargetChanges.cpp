// The write gate: refusal before a change, rollback after a failed save.
#include "platform/TargetChanges.h"

#include <fmt/format.h>

namespace brisquell {

Outcome TargetChanges::begin() const {
  if (auto blocker = target_.writeBlocker())
    return Error{
        Status::AccessDenied,
        fmt::format("the target cannot be changed now: {}. Nothing was changed.", *blocker)};
  if (!lock_ && !target_.lockFolder().empty()) {
    auto lock = makeTargetLock(target_.lockFolder());
    if (Outcome o = lock->acquire(kTargetLockWait); !o) return o;
    lock_ = std::move(lock);
  }
  return {};
}

namespace {
TargetChanges::SaveRunner& saveRunner() {
  static TargetChanges::SaveRunner runner;
  return runner;
}
Outcome run(const std::function<Outcome()>& save) {
  return saveRunner() ? saveRunner()(save) : save();
}
}  // namespace

void TargetChanges::setSaveRunner(SaveRunner runner) { saveRunner() = std::move(runner); }

Outcome TargetChanges::save() {
  Outcome saved = run([this] { return target_.save(); });
  if (saved) return saved;
  // What the command changed in memory must not reach the disk with some later save.
  Outcome reloaded = run([this] { return target_.reload(); });
  if (reloaded)
    return Error{saved.status(),
                 fmt::format("{}. The registry's changes were undone: it is as it is on disk.",
                             saved.message())};
  return Error{saved.status(),
               fmt::format("{}. Reading the registry again failed too ({}): do not go on with this "
                           "target before it is opened again.",
                           saved.message(), reloaded.message())};
}

Outcome TargetChanges::apply(const std::function<void()>& change) {
  if (Outcome o = begin(); !o) return o;
  change();
  return save();
}

}  // namespace brisquell
