// The scan's event pump in the window: runs the Qt event loop at the scan's yield points, at
// most every interval (15 ms), so the window repaints and Cancel gets through without the
// loop's cost on every value.
#pragma once

#include <QElapsedTimer>

#include <functional>

class QThread;

#include "scan/ScanContext.h"

namespace brisquell::gui {

class QtEventPump final : public EventPump {
 public:
  QtEventPump();
  void pump() override;
  /// Runs the loop now, whatever the time since the last run.
  void flush();
  void setInterval(int ms) { interval_ = ms; }
  /// While set, the loop runs without user input (the window is being filled, not scanned).
  bool holdInput = false;
  /// Called before each run of the loop (the window puts its labels up to date there).
  std::function<void()> beforeEvents;
  /// Called after each run of the loop.
  std::function<void()> afterEvents;
  /// Longest gap between two runs of the loop, for the benchmark.
  qint64 longestGapMs() const { return longestGap_; }
  void resetGap() { longestGap_ = 0; }

 private:
  QThread* thread_;  // the window thread: the only one that runs the loop
  QElapsedTimer since_;
  int interval_ = 15;
  // The clock is read every stride_ calls: yield points come up to millions of times a
  // second, and the stride is sized so that one stride takes about 0.2 ms.
  unsigned calls_ = 0;
  unsigned stride_ = 1;
  qint64 lastCheckNs_ = 0;
  qint64 longestGap_ = 0;
};

}  // namespace brisquell::gui
