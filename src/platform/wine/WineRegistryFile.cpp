// Wine's registry files: what the reader (WineRegistryReader.cpp) and the writer
// (WineRegistryWriter.cpp) share.
#include "platform/wine/WineRegistryFile.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "platform/HostIo.h"

namespace brisquell {

namespace {

constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;

}  // namespace

WineRegistryFile::WineRegistryFile(MemoryRegistry& store, KeyHandle root)
    : store_(store), root_(root) {}

std::uint64_t WineRegistryFile::currentTime() {
  auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  return kTicks1601To1970 + static_cast<std::uint64_t>(since1970 / 100);
}

Outcome WineRegistryFile::load(const std::string& path) {
  std::ifstream in(hostio::fsPath(path), std::ios::binary);
  if (!in) return Outcome::fail(fmt::format("{}: cannot be read", path), Status::FileNotFound);
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return Outcome::fail(fmt::format("{}: read error", path), Status::ReadFault);
  return parse(std::move(ss).str(), path);
}

bool WineRegistryFile::changed() const {
  std::vector<const MemoryRegistry::Key*> stack{store_.root(root_)};
  while (!stack.empty()) {
    const MemoryRegistry::Key* k = stack.back();
    stack.pop_back();
    if (k->changed) return true;
    for (const auto& c : k->children) stack.push_back(c.get());
  }
  return false;
}

std::string_view WineRegistryFile::blockText(const Block& b) const {
  if (b.own) return b.text;
  return std::string_view(source_).substr(b.begin, b.end - b.begin);
}

}  // namespace brisquell
