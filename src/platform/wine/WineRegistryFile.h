// One of Wine's registry files (system.reg, user.reg) loaded into a branch of a MemoryRegistry,
// keeping what it takes to write the file back byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

/// Wine's text format ("WINE REGISTRY Version 2"): keys relative to the file's root, each with
/// its modification time, values as strings, dwords or hex. Keys nothing wrote to are written
/// back exactly as read; a key that changed is written as Wine writes it, with the save's time.
class WineRegistryFile {
 public:
  /// root: the branch the file holds (hkey::LocalMachine for system.reg, hkey::CurrentUser
  /// for user.reg). The store must outlive this object.
  WineRegistryFile(MemoryRegistry& store, KeyHandle root);

  /// Reads the file into the branch; "FILE:LINE: what is wrong" on any fault (the branch may
  /// then hold part of the file and must not be saved).
  Outcome load(const std::string& path);
  /// The same from text; name stands for the file in messages.
  Outcome parse(std::string text, const std::string& name);

  /// "win32", "win64" or empty, from the header's #arch line.
  const std::string& arch() const { return arch_; }
  /// True when a key of the branch was written to since the load or the last save.
  bool changed() const;
  /// The file as it would be saved now; changed keys get the time `now` (FILETIME ticks).
  std::string render(std::uint64_t now) const;
  /// Writes the file atomically if a key changed; true when it was written, false when there
  /// was nothing to write. Afterwards the written keys count as unchanged, with their new text.
  Result<bool> save(const std::string& path);

  class Prepared;
  /// The same in two steps, for files that must be replaced together: the text to write, and
  /// saved() once it is on disk (until then the keys still count as changed).
  Prepared prepare(std::uint64_t now) const;
  void saved(Prepared&& prepared);

  /// The current time as FILETIME ticks (100 ns since 1601).
  static std::uint64_t currentTime();

 private:
  struct Block {
    std::size_t begin = 0, end = 0;  // leading blank lines + key text, in source_
    std::string text;                // replaces the source range once we have written the key
    bool own = false;                // text holds the block
    std::string classLine;           // "#class=..." line as read, kept when the key is rewritten
    bool link = false;               // "#link": a symbolic link key
  };
  struct Pending {
    MemoryRegistry::Key* key;
    std::string text;  // empty: the key is now implicit
  };

 public:
  /// A rendered file and what saving it changes in the keys' bookkeeping.
  class Prepared {
   public:
    const std::string& text() const { return text_; }

   private:
    friend class WineRegistryFile;
    std::string text_;
    std::vector<Pending> pending_;
  };

 private:
  class Reader;  // WineRegistryReader.cpp

  std::string_view blockText(const Block& b) const;
  void renderKey(MemoryRegistry::Key* key, std::uint64_t now, std::string& out,
                 std::vector<Pending>* pending) const;

  MemoryRegistry& store_;
  KeyHandle root_;
  std::string source_;
  std::size_t headerEnd_ = 0, trailerBegin_ = 0;
  std::string arch_;
  std::vector<Block> blocks_;
};

/// Text escaping as Wine writes it: "\\", the two given characters, \xNNNN above 127 and
/// control characters; a final NUL is left out (text data implies it). Names hold no implied
/// NUL: with finalNulImplied false a name's final NUL is written as "\0" and survives a reread.
/// Appends to out and returns the count written.
std::size_t wineEscape(const char16_t* units, std::size_t count, char e1, char e2, std::string& out,
                       bool finalNulImplied = true);

}  // namespace brisquell
