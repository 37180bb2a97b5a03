// What the fuzz targets share: a scratch folder per process, files written whole, and checks
// that stop the run (libFuzzer keeps the input that tripped one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/host/HostFileSystem.h"

namespace brisquell::fuzz {

/// Drive C: of a scratch folder of its own ("<scratch>/<name>"), made empty on each call.
struct ScratchDrive {
  explicit ScratchDrive(const std::string& name);
  std::string root;  // the host folder holding C:'s contents
  HostFileSystem files;
};

/// A folder of this process's own, removed when it exits.
const std::string& scratchDir();
/// Replaces the file's contents; creates missing folders above it.
void putFile(const std::string& path, std::string_view bytes);
/// Removes the path and everything below it.
void removeAll(const std::string& path);

/// Prints what broke and aborts: libFuzzer reports it as a crash and saves the input.
[[noreturn]] void broken(std::string_view property, std::string_view detail = {});

/// Where two texts part, with some of each around it, for a property's message.
std::string firstDifference(std::string_view a, std::string_view b);

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace brisquell::fuzz

#define FUZZ_CHECK(cond, detail)                             \
  do {                                                       \
    if (!(cond)) ::brisquell::fuzz::broken(#cond, (detail)); \
  } while (0)
