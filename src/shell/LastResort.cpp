// The last-resort message: what failed, and that the command stopped there.
#include "shell/LastResort.h"

#include <new>

namespace brisquell {

std::string lastResortMessage(std::exception_ptr error) {
  std::string what;
  try {
    if (error) std::rethrow_exception(error);
    what = "an unknown fault";
  } catch (const std::bad_alloc&) {
    what = "out of memory";
  } catch (const std::exception& e) {
    what = *e.what() ? e.what() : "an unnamed fault";
  } catch (...) {
    what = "an unknown fault";
  }
  return "internal error (" + what +
         "); the work in progress stopped there. What was saved before stays saved; a change "
         "not yet saved was not written.";
}

}  // namespace brisquell
