// The throttled event pump.
#include "gui/QtEventPump.h"

#include <QCoreApplication>

namespace brisquell::gui {

QtEventPump::QtEventPump() { since_.start(); }

void QtEventPump::pump() {
  if (since_.elapsed() < interval_) return;
  flush();
}

void QtEventPump::flush() {
  const qint64 gap = since_.elapsed();
  if (gap > longestGap_) longestGap_ = gap;
  if (beforeEvents) beforeEvents();
  QCoreApplication::processEvents();
  if (afterEvents) afterEvents();
  since_.restart();
}

}  // namespace brisquell::gui
