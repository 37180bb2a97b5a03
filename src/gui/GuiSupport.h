// Small helpers shared by the windows: text conversion, drawn pictures, saving the target.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/Target.h"
#include "platform/TargetChanges.h"
#include "platform/UserInterface.h"

namespace brisquell::gui {

inline QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string ss(const QString& s) { return s.toUtf8().toStdString(); }

/// The results tree's pictures: 100 High, 101 Medium, 102 Low, 103 a problem.
QIcon threatIcon(int number);
/// The program's own icon (window, tray).
QIcon programIcon();
/// A header banner with a title, drawn to the given size.
QPixmap headerPicture(int width, int height, const QString& title, const QString& subtitle = {});

/// Makes a change through the target's write gate: refused (with a warning, before anything
/// changes) while the target must not be written, then saved; a failed save is warned about and
/// undone in memory. True only when the change is on disk.
bool applyChange(Target& target, UserInterface& ui, const std::function<void()>& change);

/// applyChange for a change that can fail part way (a registry write refused): the failure is
/// warned about as a save that failed, and nothing of the change is kept or saved.
bool applyCheckedChange(Target& target, UserInterface& ui, const std::function<Outcome()>& change);
template <class Change>
requires std::is_same_v<std::invoke_result_t<Change&>, Outcome>
bool applyChange(Target& target, UserInterface& ui, Change&& change) {
  return applyCheckedChange(target, ui, std::function<Outcome()>(std::forward<Change>(change)));
}
/// Runs `work` on a thread of its own while the window thread goes on painting (user input
/// waits), and returns its result once it has returned; off the window thread it just runs it.
Outcome runOffWindowThread(const std::function<Outcome()>& work);
/// Every save through the write gate runs that way from now on.
void saveOffWindowThread();
/// The target's lock held for a whole action of the window, taken and given back off the window
/// thread (both write the lock file, and a busy disk can keep that waiting); the action's own
/// write gate shares it. When it cannot be taken the action's own gate says why.
class HeldTarget {
 public:
  explicit HeldTarget(Target& target);
  ~HeldTarget();
  HeldTarget(const HeldTarget&) = delete;
  HeldTarget& operator=(const HeldTarget&) = delete;

 private:
  std::unique_ptr<TargetChanges> changes_;
};

/// A step of a long command (the repair's backup set and changes, a restore's writing back)
/// run the same way; what it did is in what it changed.
void runStepOffWindowThread(const std::function<void()>& step);

/// Hands the latest of a step's values (a count, a status line) to the window thread: a value
/// set from another thread is shown at the next turn of the window's event loop, with at most
/// one update waiting at a time; on the window thread it is shown at once. Values that arrive
/// after this object has gone are dropped.
template <class T>
class LatestValue {
 public:
  LatestValue(QObject* context, std::function<void(const T&)> show)
      : state_(std::make_shared<State>()) {
    state_->context = context;
    state_->show = std::move(show);
  }
  ~LatestValue() { state_->alive = false; }
  LatestValue(const LatestValue&) = delete;
  LatestValue& operator=(const LatestValue&) = delete;

  void set(T value) {
    if (QThread::currentThread() == state_->context->thread()) {
      state_->show(value);
      return;
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->latest = std::move(value);
    if (state_->posted) return;
    state_->posted = true;
    QMetaObject::invokeMethod(
        state_->context,
        [s = state_] {
          T v;
          {
            std::lock_guard<std::mutex> l(s->mutex);
            v = std::move(s->latest);
            s->posted = false;
          }
          if (s->alive) s->show(v);
        },
        Qt::QueuedConnection);
  }

 private:
  struct State {
    QObject* context = nullptr;
    std::function<void(const T&)> show;
    std::mutex mutex;
    T latest{};
    bool posted = false;
    bool alive = true;  // read and written on the window thread only
  };
  std::shared_ptr<State> state_;
};

}  // namespace brisquell::gui
