// .reg files: REGEDIT4 and "Windows Registry Editor Version 5.00", read and written losslessly.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/RegistryStore.h"

namespace brisquell {

enum class RegFormat { Regedit4, Version5 };

/// Where a .reg file is wrong: rendered "FILE:LINE: what is wrong".
struct RegError {
  std::string file;
  std::size_t line = 0;
  std::string what;
  std::string message() const;
};

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
bool parseRegFile(const std::string& path, RegSink& sink, RegError& error);
/// Parses .reg bytes held in memory (label names them in errors).
bool parseRegBytes(std::string_view bytes, const std::string& label, RegSink& sink,
                   RegError& error);

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

/// Writes the key root\path (all roots when root is 0) with everything below it.
/// The writer calls `out` with chunks of finished file bytes.
Status writeReg(RegistryStore& store, KeyHandle root, std::string_view path, RegFormat format,
                      const std::function<bool(const char*, std::size_t)>& out);
/// Convenience: the export as one byte string.
std::string exportReg(RegistryStore& store, KeyHandle root, std::string_view path,
                      RegFormat format = RegFormat::Version5);

/// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\x" into a root and a path; false on an unknown root.
bool splitRegPath(std::string_view full, KeyHandle& root, std::string& path);

}  // namespace brisquell
