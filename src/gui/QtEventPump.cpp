// The throttled event pump.
#include "gui/QtEventPump.h"

#include <QCoreApplication>
#include <QThread>

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
  if (strideNs < 100'000 && stride_ < 1024)
    stride_ *= 2;
  else if (strideNs > 500'000 && stride_ > 1)
    stride_ /= 2;
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
