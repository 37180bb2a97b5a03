// The scan's registry walks: every subkey at every depth, every value of one key, and the
// display walk over the first level of a key.
#pragma once

#include "scan/ScanContext.h"

namespace brisquell {

void EnumerateRegKeys(ScanContext& ctx, KeyHandle root, const std::string& keyPath,
                      std::string_view section, std::string_view rootName);
void EnumerateRegKeyValues(ScanContext& ctx, KeyHandle root, const std::string& keyPath,
                           std::string_view section, std::string_view rootName);
void EnumerateRegKeyNames(ScanContext& ctx, KeyHandle root, const std::string& keyPath);

/// The text the walks hand to the checks for a value of the given type and (text-view) data.
std::string valueTextOf(std::uint32_t type, const Bytes& data);
/// The same text read from the stored bytes (UTF-16LE strings), into `text`: what the walks
/// use, converting only what the checks read.
void valueTextOfRaw(std::uint32_t type, const Bytes& raw, std::string& text);

}  // namespace brisquell
