// How the repair and the restore run their long steps: a window runs them off its own thread
// and returns once each has returned; a command line runs them where it is.
#pragma once

#include <functional>

namespace brisquell {

using StepRunner = std::function<void(const std::function<void()>& step)>;

/// Runs the step through the runner, or at once where there is none.
inline void runStep(const StepRunner& runner, const std::function<void()>& step) {
  if (runner)
    runner(step);
  else
    step();
}

}  // namespace brisquell
