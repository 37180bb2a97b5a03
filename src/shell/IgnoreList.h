// The ignore list: registry keys (with everything below them) and single values the user asked
// never to be reported. Kept under the product key in the target's registry, like the other
// settings: one subkey per entry ("Ignore\1", "Ignore\2", ...) with the text values "Key" and,
// for a single value, "Value".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "scan/ScanContext.h"

namespace brisquell {

struct IgnoreEntry {
  std::string key;                   // "HKEY_LOCAL_MACHINE\path", the root's long name
  std::optional<std::string> value;  // a value's name ("(Default)" for the unnamed one); none:
                                     // the whole key and below
  bool operator==(const IgnoreEntry& o) const;
  std::string text() const;
};

class IgnoreList {
 public:
  static constexpr std::string_view kKey = "SOFTWARE\\Quandrel Technology\\Brisquell\\Ignore";

  /// An entry from what the user typed: the root long ("HKEY_CURRENT_USER") or short ("HKCU").
  static Result<IgnoreEntry> entry(std::string_view key, std::optional<std::string> value);
  /// The entry that leaves out exactly this record's value; none for a shortcut file.
  static std::optional<IgnoreEntry> entryFor(const ProblemRecord& r);

  static std::vector<IgnoreEntry> load(RegistryAccess& registry);
  /// Adds the entry unless the list holds it (false, nothing written, when it does).
  static Outcome add(RegistryAccess& registry, const IgnoreEntry& e, bool& added);
  /// Removes the entry (false in `found` when the list does not hold it).
  static Outcome remove(RegistryAccess& registry, const IgnoreEntry& e, bool& found);

  /// True when an entry covers the record (a key through any of its names: HKCR is HKLM's
  /// Software\Classes).
  static bool covers(RegistryStore& store, const std::vector<IgnoreEntry>& list,
                     const ProblemRecord& r);
  /// Makes the next scans of the context leave out what the stored list covers.
  static void applyTo(ScanContext& ctx);

 private:
  static Outcome save(RegistryAccess& registry, const std::vector<IgnoreEntry>& list);
};

}  // namespace brisquell
