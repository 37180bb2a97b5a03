// Version 5 .reg text straight from an in-memory tree: the UTF-16 is written directly (no UTF-8
// text in between), and parts of the tree are serialised on several threads at once, handed to
// the caller in file order.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

struct RegTreeOptions {
  /// Threads that serialise while the caller writes: 0 serialises and writes in turn on the
  /// caller's thread; 1 writes each root whole on one thread; more cut the tree into parts (a
  /// planner thread walks ahead) that they take in turn. Below 0: one fewer than the cores, at
  /// least 1 and at most 4.
  int threads = -1;
  /// A chunk goes to `out` once it holds this many bytes (at the end of a key).
  std::size_t chunkBytes = std::size_t(1) << 20;
  /// Keys plus values in one part of the work.
  std::size_t partWeight = std::size_t(1) << 14;
};

/// A key written with everything below it, under its full path as the file spells it.
struct RegTreeTop {
  const MemoryRegistry::Key* key = nullptr;
  std::string path;
};

/// Writes the byte order mark, the header and every top in order: the same bytes as writeReg's
/// version 5 output. `out` is called on the calling thread only, in file order; when it returns
/// false the write stops with Status::WriteFault. A key with a line break in its name stops it
/// with Status::InvalidName.
/// The failure of a key whose name holds a line break (a key line cannot), the breaks shown.
Outcome unwritableKeyName(std::string_view path);

Outcome writeRegTree(const std::vector<RegTreeTop>& tops,
                     const std::function<bool(const char*, std::size_t)>& out,
                     const RegTreeOptions& options = {});

}  // namespace brisquell
