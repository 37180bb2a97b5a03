// The console on Windows: GetConsoleMode answers only for a real console.
#include "platform/Console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "platform/win32/Wide.h"

namespace brisquell::console {

namespace {

bool isConsole(DWORD which) {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

}  // namespace

bool inputIsInteractive() { return isConsole(STD_INPUT_HANDLE); }

bool errorIsTerminal() { return isConsole(STD_ERROR_HANDLE); }

void useBinaryOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> arguments(int argc, char** argv) {
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(win32::narrow(wide[i]));
  LocalFree(wide);
  return out;
}

}  // namespace brisquell::console
