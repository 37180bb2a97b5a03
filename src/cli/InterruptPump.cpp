// SIGINT only sets a flag; the pump turns it into bCancelScan.
#include "cli/InterruptPump.h"

#include <atomic>
#include <csignal>

namespace brisquell::cli {

namespace {
std::atomic<bool> interrupted{false};
extern "C" void brisquellInterruptPumpSignal(int) { interrupted = true; }
}  // namespace

InterruptPump::InterruptPump(ScanContext& ctx) : ctx_(ctx) {
  interrupted = false;
  previous_ = std::signal(SIGINT, brisquellInterruptPumpSignal);
  ctx_.setPump(this);
}

InterruptPump::~InterruptPump() {
  ctx_.setPump(nullptr);
  std::signal(SIGINT, previous_);
}

void InterruptPump::pump() {
  if (interrupted) ctx_.bCancelScan = true;
}

}  // namespace brisquell::cli
