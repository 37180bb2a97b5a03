// Wine registry files (system.reg, user.reg): a file the reader accepts is written back byte
// for byte while nothing changed; written afresh as Wine writes it, it reads back to the same
// keys and values, and writing that again gives the same text.
#include <algorithm>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/RegFile.h"
#include "platform/memory/MemoryRegistry.h"
#include "platform/wine/WineRegistryFile.h"

using namespace brisquell;

namespace {

constexpr std::uint64_t kTime = 0x1da2b3c4d5e6f70ull;

void touchAll(MemoryRegistry::Key* k) {
  k->changed = true;
  for (auto& c : k->children) touchAll(c.get());
}

// The branch's content as a version 5 export, for comparing two stores.
std::string contentOf(MemoryRegistry& store) {
  std::string out;
  Outcome r = writeReg(store, hkey::LocalMachine, "", RegFormat::Version5,
                       [&](const char* d, std::size_t n) {
                         out.append(d, n);
                         return true;
                       });
  // Wine keeps names no .reg line can hold; then only the Wine file itself is compared.
  return r ? out : std::string("unexportable");
}

// The lines of a text, sorted: the same for a file and its blocks in another order.
std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(fuzz::asText(data, size));
  MemoryRegistry store;
  WineRegistryFile file(store, hkey::LocalMachine);
  Outcome loaded = file.parse(text, "system.reg");
  if (!loaded) {
    FUZZ_CHECK(loaded.message().rfind("system.reg", 0) == 0, loaded.message());
    return 0;
  }
  // A key listed twice is merged and counts as changed, to be written once. Every other file
  // is written back as read: each key's block exactly, in the tree's order (the order Wine
  // writes; a file that lists its keys otherwise comes back sorted that way).
  if (!file.changed()) {
    const std::string back = file.render(kTime);
    FUZZ_CHECK(linesOf(back) == linesOf(text),
               "unchanged file not written back as read " + fuzz::firstDifference(text, back));
  }

  // Every key rewritten as Wine writes it.
  touchAll(store.root(hkey::LocalMachine));
  const std::string fresh = file.render(kTime);
  MemoryRegistry store2;
  WineRegistryFile file2(store2, hkey::LocalMachine);
  Outcome reread = file2.parse(fresh, "rewritten.reg");
  FUZZ_CHECK(reread, reread.message() + "\n--- rewritten:\n" + fresh);
  FUZZ_CHECK(contentOf(store) == contentOf(store2),
             "rewritten file reads back differently " +
                 fuzz::firstDifference(contentOf(store), contentOf(store2)));
  FUZZ_CHECK(file2.render(kTime) == fresh, "rewritten file not written back as read " +
                                               fuzz::firstDifference(fresh, file2.render(kTime)));
  touchAll(store2.root(hkey::LocalMachine));
  FUZZ_CHECK(file2.render(kTime) == fresh, "writing a rewritten file again changes it " +
                                               fuzz::firstDifference(fresh, file2.render(kTime)));
  return 0;
}
