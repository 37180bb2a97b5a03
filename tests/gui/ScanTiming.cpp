// Times a quick scan run from the main window, and how often the window painted meanwhile:
//   brisquell_gui_scan_timing MACHINE [RUNS]
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "gui/frmMain.h"
#include "platform/UserInterface.h"

namespace {

class Silent final : public brisquell::UserInterface {
 public:
  bool askYesNo(std::string_view, std::string_view) override { return false; }
  void inform(std::string_view, std::string_view) override {}
  void warn(std::string_view, std::string_view) override {}
};

// Longest time between two paints of any widget while the scan runs.
class PaintWatch final : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint && running) {
      const qint64 now = clock.elapsed();
      longest = std::max(longest, now - last);
      last = now;
      ++paints;
    }
    return QObject::eventFilter(o, e);
  }
  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  long paints = 0;
  bool running = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: brisquell_gui_scan_timing MACHINE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
  auto targetOpened = brisquell::openTarget(argv[1]);
  auto target = targetOpened ? std::move(targetOpened).value() : nullptr;
  if (!target) {
    std::fprintf(stderr, "%s\n", targetOpened.message().c_str());
    return 2;
  }
  Silent ui;
  brisquell::gui::frmMain w(*target, ui, {}, "1.25");
  w.endProcess = [] {};
  w.show();
  QCoreApplication::processEvents();
  PaintWatch watch;
  app.installEventFilter(&watch);
  for (int i = 0; i < runs; ++i) {
    watch.clock.start();
    watch.last = 0;
    watch.longest = 0;
    watch.paints = 0;
    watch.running = true;
    QElapsedTimer t;
    t.start();
    w.cmdQuickScan_Click();
    const qint64 ms = t.elapsed();
    watch.running = false;
    watch.longest = std::max(watch.longest, ms - watch.last);
    std::printf(
        "run %d: %lld ms, %zu problems, %ld paints, longest gap between paints %lld ms, "
        "longest gap between event-loop runs %lld ms\n",
        i + 1, static_cast<long long>(ms), w.context().problems().size(), watch.paints,
        static_cast<long long>(watch.longest), static_cast<long long>(w.pump().longestGapMs()));
  }
  return 0;
}
