// .reg files, REGEDIT4 and version 5 (UTF-16LE): whatever the reader accepts, the writer writes
// and the reader reads back to the same registry; a second export is byte for byte the first.
#include <string>

#include "FuzzSupport.h"
#include "platform/RegFile.h"
#include "platform/memory/MemoryLoader.h"
#include "platform/memory/MemoryRegistry.h"

using namespace brisquell;

namespace {

// The whole store as a file of the format; nullopt when the writer refuses a name no .reg
// line can hold (it says so and writes nothing).
bool exportAll(MemoryRegistry& store, RegFormat format, std::string& out) {
  out.clear();
  Outcome r = writeReg(store, 0, "", format, [&](const char* d, std::size_t n) {
    out.append(d, n);
    return true;
  });
  if (!r) FUZZ_CHECK(r.status() == Status::InvalidName, r.message());
  return static_cast<bool>(r);
}

// Reads an export of ours back: it must parse, in the format it was written in.
void reread(const std::string& text, RegFormat format, MemoryRegistry& into) {
  MemoryLoader loader(into);
  auto info = parseRegBytes(text, "export.reg", loader);
  FUZZ_CHECK(info, info ? std::string() : info.message());
  FUZZ_CHECK(info->format == format, "format of the export");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryRegistry first;
  MemoryLoader loader(first);
  auto info = parseRegBytes(fuzz::asText(data, size), "input.reg", loader);
  if (!info) {
    // Refusals name the file and the line.
    FUZZ_CHECK(info.message().rfind("input.reg", 0) == 0, info.message());
    return 0;
  }

  // Version 5 holds everything the store holds: write, read, write again to the same bytes.
  std::string v5;
  if (exportAll(first, RegFormat::Version5, v5)) {
    MemoryRegistry second;
    reread(v5, RegFormat::Version5, second);
    std::string again;
    FUZZ_CHECK(exportAll(second, RegFormat::Version5, again), "second export refused");
    FUZZ_CHECK(again == v5,
               "version 5 export read back differs " + fuzz::firstDifference(v5, again));
  }

  // REGEDIT4 may spell text differently, but what it wrote once it reads and writes the same.
  std::string r4;
  if (exportAll(first, RegFormat::Regedit4, r4)) {
    MemoryRegistry second;
    reread(r4, RegFormat::Regedit4, second);
    std::string again;
    FUZZ_CHECK(exportAll(second, RegFormat::Regedit4, again), "second export refused");
    FUZZ_CHECK(again == r4,
               "REGEDIT4 export read back differs " + fuzz::firstDifference(r4, again));
  }
  return 0;
}
