// The longest time the window's event loop goes without running, per action, on a machine:
//   brisquell_gui_stall_timing MACHINE   (the machine is changed: run it on a scratch copy)
// A 5 ms heartbeat timer stamps each turn of the event loop; an action that blocks the window
// thread shows as a gap between stamps.
#include <QApplication>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "gui/GuiSupport.h"
#include "gui/frmMain.h"
#include "gui/frmOptionsAndSettings.h"
#include "gui/frmSpeedIntenetConnection.h"
#include "platform/UserInterface.h"

namespace {

class Agreeing final : public brisquell::UserInterface {
 public:
  bool askYesNo(std::string_view, std::string_view) override { return true; }
  void inform(std::string_view, std::string_view) override {}
  void warn(std::string_view, std::string_view text) override {
    std::fprintf(stderr, "warning: %.*s\n", static_cast<int>(text.size()), text.data());
  }
};

class Heartbeat {
 public:
  Heartbeat() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { stamp(); });
    clock_.start();
    timer_.start();
  }
  // Runs the action and returns the longest gap between two turns of the event loop.
  qint64 measure(const std::function<void()>& action) {
    QCoreApplication::processEvents();
    longest_ = 0;
    last_ = clock_.elapsed();
    action();
    stamp();
    return longest_;
  }

 private:
  void stamp() {
    const qint64 now = clock_.elapsed();
    longest_ = std::max(longest_, now - last_);
    last_ = now;
  }
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0, longest_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: brisquell_gui_stall_timing MACHINE\n");
    return 2;
  }
  brisquell::gui::saveOffWindowThread();  // as the desktop program does at its start
  auto opened = brisquell::openTarget(argv[1]);
  if (!opened) {
    std::fprintf(stderr, "%s\n", opened.message().c_str());
    return 2;
  }
  auto target = std::move(opened).value();
  Agreeing ui;
  brisquell::gui::frmMain w(*target, ui, {}, "1.25");
  w.endProcess = [] {};
  w.show();
  Heartbeat beat;
  qint64 worst = 0;
  auto row = [&](const char* what, const std::function<void()>& action) {
    QElapsedTimer t;
    t.start();
    const qint64 gap = beat.measure(action);
    worst = std::max(worst, gap);
    std::printf("%-36s %7lld ms   longest stall %5lld ms\n", what,
                static_cast<long long>(t.elapsed()), static_cast<long long>(gap));
    std::fflush(stdout);
  };
  row("Settings menu item", [&] { w.mnuOptions_Click(0); });
  row("Settings menu item again", [&] { w.mnuOptions_Click(0); });
  {
    brisquell::gui::frmOptionsAndSettings options(w.context(), ui, "/usr/bin/brisquell-gui", &w);
    options.show();
    row("Options: Apply", [&] { options.cmdApply_Click(); });
  }
  {
    brisquell::gui::frmSpeedIntenetConnection connection(w.context(), ui, &w);
    connection.show();
    row("connection type: DSL", [&] { connection.optDSL->click(); });
    row("connection type: cable", [&] { connection.optCableInternetAccess->click(); });
  }
  row("Quick Scan", [&] { w.cmdQuickScan_Click(); });
  row("fix (with backup)", [&] { w.cmdRepairCorruptFiles_Click(); });
  row("closing", [&] { w.ExitApplication(); });
  std::printf("longest stall of all: %lld ms (goal: at most 100 ms)\n",
              static_cast<long long>(worst));
  return 0;
}
