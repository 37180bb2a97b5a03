// Test support for hives: the hive writer (bench/HiveWriter.h) failing the test on error, .reg
// text loading and comparable dumps of a tree.
#pragma once

#include <string>
#include <string_view>

#include "platform/memory/MemoryRegistry.h"

namespace brisquell::test {

/// Writes the smallest valid hive: a root key with one security descriptor, nothing else.
void writeEmptyHive(const std::string& path);

/// Writes the key `path` below `root` of the store, with everything below it, as a hive file
/// (its root key holding the key's values and subkeys), through hivex. `skip`: a path below
/// that key that is left out. Values keep their type and bytes; order is the hive's (sorted).
void writeHive(const std::string& file, MemoryRegistry& store, KeyHandle root,
               std::string_view path, std::string_view skip = {});

/// Lays out an offline Windows installation in `folder` from the store: SOFTWARE and SYSTEM
/// (CurrentControlSet written as ControlSet001, Select\Current = 1) in
/// Windows/System32/config, HKCU as NTUSER.DAT of the profile (Documents and Settings/USER when
/// xpLayout, else Users/USER), and HKCU\Software\Classes as its UsrClass.dat.
void writeOfflineWindows(const std::string& folder, MemoryRegistry& store,
                         const std::string& user = "user", bool xpLayout = false);

/// Loads .reg text (version 5 body, without header) into a store; fails the test when bad.
void loadRegText(MemoryRegistry& store, const std::string& body);

/// Every key, value name, type and data below the root, as comparable text.
std::string dumpTree(MemoryRegistry& store, KeyHandle root, std::string_view path = {});

}  // namespace brisquell::test
