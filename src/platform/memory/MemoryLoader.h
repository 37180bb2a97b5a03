// Loads .reg statements straight into a MemoryRegistry, reusing the previous key's path.
#pragma once

#include "platform/RegFile.h"
#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

class MemoryLoader final : public RegSink {
 public:
  explicit MemoryLoader(MemoryRegistry& store) : store_(store) {}
  void key(KeyHandle root, std::string_view path) override;
  void deleteKey(KeyHandle root, std::string_view path) override;
  void value(std::string_view name, std::uint32_t type, Bytes data) override;
  void deleteValue(std::string_view name) override;

 private:
  MemoryRegistry& store_;
  MemoryRegistry::Key* current_ = nullptr;
  KeyHandle lastRoot_ = 0;
  std::string lastPath_;
  std::vector<std::pair<std::size_t, MemoryRegistry::Key*>> chain_;  // (path length, key) per level
};

/// Loads a whole .reg file into a fresh store; "FILE:LINE: what is wrong" on any fault.
Outcome loadRegFile(const std::string& path, MemoryRegistry& store);

}  // namespace brisquell
