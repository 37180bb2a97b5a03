// Hive files of an offline installation through hivex: a hive the reader accepts, written back
// with one value added, reads again to the same keys and values plus that one.
#include <string>

#include "FuzzSupport.h"
#include "platform/RegFile.h"
#include "platform/hive/HiveFile.h"
#include "platform/memory/MemoryRegistry.h"

using namespace brisquell;

namespace {

std::string contentOf(MemoryRegistry& store) {
  std::string out;
  Outcome r = writeReg(store, hkey::LocalMachine, "SOFTWARE", RegFormat::Version5,
                       [&](const char* d, std::size_t n) {
                         out.append(d, n);
                         return true;
                       });
  return r ? out : "unexportable: " + r.message();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDrive drive("hive");
  const std::string path = drive.root + "/SOFTWARE";
  fuzz::putFile(path, fuzz::asText(data, size));

  MemoryRegistry store;
  HiveFile hive(path, hkey::LocalMachine, "SOFTWARE");
  Outcome loaded = hive.load(store);
  if (!loaded) {
    FUZZ_CHECK(loaded.message().find(path) != std::string::npos, loaded.message());
    return 0;
  }

  KeyHandle top = 0;
  FUZZ_CHECK(store.openKey(hkey::LocalMachine, "SOFTWARE", 0, top) == Status::Success, "mount");
  const Bytes text = toUtf16le("written by the fuzzer");
  Bytes stored = text;
  stored.push_back(0);
  stored.push_back(0);
  FUZZ_CHECK(store.setValueRaw(top, "Fuzz Added", regtype::Sz, stored) == Status::Success,
             "value set");
  store.closeKey(top);
  const std::string expected = contentOf(store);

  Outcome prepared = hive.prepare(store);
  if (!prepared) {
    // hivex may refuse to write a hive it reads; then the file must be as it was.
    FUZZ_CHECK(prepared.message().find(path) != std::string::npos, prepared.message());
    hive.abandon();
    return 0;
  }
  Outcome committed = hive.commit("fuzz");
  FUZZ_CHECK(committed, committed.message());
  hive.saved(store);

  MemoryRegistry back;
  HiveFile again(path, hkey::LocalMachine, "SOFTWARE");
  Outcome reloaded = again.load(back);
  FUZZ_CHECK(reloaded, reloaded.message());
  FUZZ_CHECK(contentOf(back) == expected, "hive written back reads differently " +
                                              fuzz::firstDifference(expected, contentOf(back)));
  return 0;
}
