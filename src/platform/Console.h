// The program's standard streams and arguments as the host gives them.
#pragma once

#include <string>
#include <vector>

namespace brisquell::console {

/// True when a person can answer on standard input: a terminal, or on Windows a console
/// (the NUL device passes the C runtime's isatty test, so the console itself is asked).
bool inputIsInteractive();
/// True when standard error is shown on a terminal or console (live progress).
bool errorIsTerminal();
/// Standard output and error write the bytes given: no CR added before LF, and UTF-8 shown
/// as such on a console.
void useBinaryOutput();
/// The command line's arguments as UTF-8 (on Windows from the wide command line, since argv
/// holds them in the ANSI code page).
std::vector<std::string> arguments(int argc, char** argv);

}  // namespace brisquell::console
