// Terminals on POSIX systems: isatty tells, and arguments are bytes already.
#include "platform/Console.h"

#include <unistd.h>

namespace brisquell::console {

bool inputIsInteractive() { return ::isatty(STDIN_FILENO) != 0; }

bool errorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void useBinaryOutput() {}

std::vector<std::string> arguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace brisquell::console
