// Ctrl-C during a scan of a command that goes on to change things: sets the cancel flag at the
// scan's next yield point.
#pragma once

#include "scan/ScanContext.h"

namespace brisquell::cli {

class InterruptPump final : public EventPump {
 public:
  explicit InterruptPump(ScanContext& ctx);  // installs the handler
  ~InterruptPump() override;                 // puts the previous one back
  InterruptPump(const InterruptPump&) = delete;
  InterruptPump& operator=(const InterruptPump&) = delete;
  void pump() override;

 private:
  ScanContext& ctx_;
  void (*previous_)(int);
};

}  // namespace brisquell::cli
