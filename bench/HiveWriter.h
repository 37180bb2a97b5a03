// Hive files written through hivex from an in-memory registry, and whole offline Windows
// installations laid out from a machine's registry: for the generator and the tests.
#pragma once

#include <string>
#include <string_view>

#include "platform/Status.h"
#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

/// Writes the smallest valid hive: a root key with one security descriptor, nothing else.
Outcome writeEmptyHive(const std::string& path);

/// Writes the key `path` below `root` of the store, with everything below it, as a hive file
/// (its root key holding the key's values and subkeys). `skip`: a path below that key left out.
/// Values keep their type and bytes; subkeys come out in the hive's (sorted) order.
Outcome writeHive(const std::string& file, MemoryRegistry& store, KeyHandle root,
                  std::string_view path, std::string_view skip = {});

/// Lays out an offline Windows installation in `folder` from the store: SOFTWARE and SYSTEM
/// (CurrentControlSet written as ControlSet001, Select\Current = 1 unless the store has a
/// Select key) in Windows/System32/config, HKCU as the user's NTUSER.DAT (below Documents and
/// Settings when xpLayout, else Users) and HKCU\Software\Classes as the user's UsrClass.dat.
/// Folders that exist in another letter case are used as they are.
Outcome writeOfflineWindows(const std::string& folder, MemoryRegistry& store,
                            const std::string& user = "user", bool xpLayout = false);

}  // namespace brisquell
