// The throttled event pump.
#include "gui/QtEventPump.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

namespace brisquell::gui {

QtEventPump::QtEventPump() : thread_(QThread::currentThread()) { since_.start(); }

void QtEventPump::pump() {
  // A step run off the window thread yields here too; the window's loop is already turning.
  if (QThread::currentThread() != thread_) return;
  if (++calls_ < stride_) return;
  calls_ = 0;
  const qint64 now = since_.nsecsElapsed();
  const qint64 strideNs = now - lastCheckNs_;
  lastCheckNs_ = now;
  // The next stride is sized from what this one cost per call, at once: a walk that turns from
  // cheap yield points to costly ones (a folder listed, files tested) must not run a long stride
  // of the old size. At most 128 calls: even 40 us a call keeps a stride near 5 ms.
  const qint64 perCall = std::max<qint64>(strideNs / stride_, 1);
  stride_ = static_cast<unsigned>(std::clamp<qint64>(200'000 / perCall, 1, 128));
  if (now < qint64(interval_) * 1'000'000) return;
  flush();
}

void QtEventPump::flush() {
  const qint64 gap = since_.elapsed();
  if (gap > longestGap_) longestGap_ = gap;
  if (beforeEvents) beforeEvents();
  QCoreApplication::processEvents(holdInput ? QEventLoop::ExcludeUserInputEvents
                                            : QEventLoop::AllEvents);
  if (afterEvents) afterEvents();
  since_.restart();
  lastCheckNs_ = 0;
}

}  // namespace brisquell::gui
