// .reg files: REGEDIT4 and "Windows Registry Editor Version 5.00", read and written losslessly.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/RegistryStore.h"
#include "platform/Status.h"

namespace brisquell {

enum class RegFormat { Regedit4, Version5 };

/// How the text of a .reg file was decoded. Version 5 files are UTF-16LE; a REGEDIT4 file is
/// ANSI: read as UTF-8 when the whole file is valid UTF-8, else as Windows-1252.
enum class RegEncoding { Utf16le, Utf8, Windows1252 };

/// What a parsed file was.
struct RegFileInfo {
  RegFormat format = RegFormat::Version5;
  RegEncoding encoding = RegEncoding::Utf16le;
};

/// "UTF-16LE", "UTF-8" or "Windows-1252".
const char* encodingName(RegEncoding e);

/// Receives the statements of a .reg file in order. Paths are below the root; text data arrives
/// already in the stored (UTF-16LE) form.
class RegSink {
 public:
  virtual ~RegSink() = default;
  virtual void key(KeyHandle root, std::string_view path) = 0;
  virtual void deleteKey(KeyHandle root, std::string_view path) = 0;
  virtual void value(std::string_view name, std::uint32_t type, Bytes data) = 0;
  virtual void deleteValue(std::string_view name) = 0;
};

/// Parses a .reg file, streaming it; the sink sees statements up to the first error only, so
/// callers that must be all-or-nothing collect first (RegRecorder) or load into a fresh store.
/// Errors read "FILE:LINE: what is wrong".
Result<RegFileInfo> parseRegFile(const std::string& path, RegSink& sink);
/// Parses .reg bytes held in memory (label names them in errors).
Result<RegFileInfo> parseRegBytes(std::string_view bytes, const std::string& label, RegSink& sink);

/// How one piece of a file parsed: lines counted from the piece's first; on a fault the line
/// within the piece and what is wrong (the caller names the file and adds the lines before).
struct RegPieceResult {
  bool ok = true;
  Status status = Status::FileCorrupt;
  std::size_t lines = 0, errorLine = 0;
  std::string errorWhat;
};
/// Parses bytes [begin, end) of a version 5 UTF-16LE file open as `fd`: from the file's start
/// (header included), or from the start of a key line. `moreAfter` says a key line follows the
/// piece, so that a continuation cut off at its end fails as it would in the whole file.
RegPieceResult parseRegPiece(int fd, std::uint64_t begin, std::uint64_t end, bool moreAfter,
                             RegSink& sink);

/// Collects statements so that they can be applied only once the whole file parsed.
class RegRecorder final : public RegSink {
 public:
  void key(KeyHandle root, std::string_view path) override;
  void deleteKey(KeyHandle root, std::string_view path) override;
  void value(std::string_view name, std::uint32_t type, Bytes data) override;
  void deleteValue(std::string_view name) override;
  /// Applies everything to a store through its ordinary operations.
  Status applyTo(RegistryStore& store) const;
  std::size_t size() const { return ops_.size(); }

 private:
  struct Op {
    enum Kind { Key, DeleteKey, Value, DeleteValue } kind;
    KeyHandle root;
    std::string text;
    std::uint32_t type;
    Bytes data;
  };
  std::vector<Op> ops_;
};

/// Applies statements to a store as they arrive, through its ordinary operations; after the
/// first failing one it applies nothing more and status() says why.
class RegApplier final : public RegSink {
 public:
  explicit RegApplier(RegistryStore& store) : store_(store) {}
  void key(KeyHandle root, std::string_view path) override;
  void deleteKey(KeyHandle root, std::string_view path) override;
  void value(std::string_view name, std::uint32_t type, Bytes data) override;
  void deleteValue(std::string_view name) override;
  Status status() const { return status_; }

 private:
  RegistryStore& store_;
  ScopedKey current_;
  Status status_ = Status::Success;
};

/// Writes the key root\path (all roots when root is 0) with everything below it.
/// The writer calls `out` with chunks of finished file bytes; when it returns false the write
/// stops with Status::WriteFault. A key whose name no .reg line can hold (a line break in it)
/// stops the write with Status::InvalidName and a message naming the key.
Outcome writeReg(RegistryStore& store, KeyHandle root, std::string_view path, RegFormat format,
                 const std::function<bool(const char*, std::size_t)>& out);
/// Convenience: the export as one byte string (empty on failure).
std::string exportReg(RegistryStore& store, KeyHandle root, std::string_view path,
                      RegFormat format = RegFormat::Version5);

/// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\x" into a root and a path; false on an unknown root.
bool splitRegPath(std::string_view full, KeyHandle& root, std::string& path);

}  // namespace brisquell
