// What the tests need from the host in one spelling for Linux and Windows.
#pragma once

#include <cstdlib>
#include <string>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

namespace brisquell::test {

inline void setEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  ::setenv(name, value.c_str(), 1);
#endif
}

inline void unsetEnvironment(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  ::unsetenv(name);
#endif
}

/// A host path with Windows's second separator folded into '/', so that paths joined by
/// std::filesystem and by hand compare equal; unchanged elsewhere.
inline std::string slashed(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

inline long processId() {
#ifdef _WIN32
  return _getpid();
#else
  return ::getpid();
#endif
}

}  // namespace brisquell::test

/// Ends a test that cannot apply on Windows, saying why; a no-op elsewhere.
#ifdef _WIN32
#define BRISQUELL_SKIP_ON_WINDOWS(why) GTEST_SKIP() << "not on Windows: " << why
#else
#define BRISQUELL_SKIP_ON_WINDOWS(why) static_cast<void>(0)
#endif

/// Wine 8 gives Windows programs no usable symbolic links.
#define BRISQUELL_NEEDS_SYMLINKS() \
  BRISQUELL_SKIP_ON_WINDOWS("symbolic links (Wine 8 offers Windows programs none that work)")
