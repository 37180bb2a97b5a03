// The log-on programs manager behind frmBootingSpeed: lists the run key's entries (checked) and
// the switched-off ones kept in the disabled-startup store (unchecked), and moves entries
// between the two when Done is pressed. The window shows rows() and sets check marks.
#pragma once

#include <string>
#include <vector>

#include "scan/KnownKeys.h"
#include "scan/ScanContext.h"

namespace brisquell {

/// One row of lvwWindowsStartupFiles.
struct StartupRow {
  std::string text;     // the command shortened by RemoveBackSlashandComma: what the user sees
  std::string tag;      // the entry's value name
  std::string command;  // the full command as read, switches included
  KeyHandle root = 0;   // where the entry is now
  std::string keyPath;
  bool runs = false;     // found on the run-key side (checked at load)
  bool checked = false;  // the user's check mark
};

/// What one Done changed.
struct StartupDoneResult {
  std::size_t switchedOff = 0;
  std::size_t switchedOn = 0;
  /// One line per entry left where it was, with the reason; such an entry is never lost.
  std::vector<std::string> failures;
};

class StartupPrograms {
 public:
  static constexpr std::string_view kRunKey = brisquell::kRunKey;
  static constexpr std::string_view kStoreParent =
      "Software\\VB and VBA Program Settings\\Brisquell";
  static constexpr std::string_view kStoreKey =
      "Software\\VB and VBA Program Settings\\Brisquell\\Run";

  static constexpr std::string_view kCaption = "Brisquell - Speed up your computer";
  static constexpr std::string_view kHeading = "Speed Up Your Computer ";
  static constexpr std::string_view kComments =
      "To stop any of these files from running when Windows start, therefore speeding up your "
      "computer, simply uncheck the box next to it name. At any time in the future, if you would "
      "like to put any of these files back in the windows startup, simply recheck the box by its "
      "name.";

  explicit StartupPrograms(ScanSession& ctx) : ctx_(ctx) {}

  /// Fills the rows: the run key's entries checked, then the store's unchecked.
  void Form_Load();
  /// Walks a key and its subkeys, adding rows; lists the key's own values only on the first
  /// walk since Form_Load (the first-listing flag).
  void RegWindowsStartup(KeyHandle root, std::string_view keyPath);
  /// One row per value of the key whose shortened command holds a drive path (":\").
  void RegWindowsStartupKeyValues(KeyHandle root, std::string_view keyPath);
  /// Creates the key when missing and writes numeric text as regtype::Dword, other text trimmed as
  /// regtype::Sz. True when the write succeeded.
  bool RegCreateKeyValue(KeyHandle root, std::string_view keyPath, std::string_view name,
                         std::string_view value);
  /// Moves unchecked run entries into the store and checked stored entries back into the run
  /// key. Each move writes the entry to its new place and deletes it from the old one only
  /// once the registry reported the write done.
  StartupDoneResult cmdDone_Click();

  const std::vector<StartupRow>& rows() const { return rows_; }
  void setChecked(std::size_t row, bool checked) { rows_.at(row).checked = checked; }
  bool firstListingDone() const { return firstListing_; }

 private:
  bool moveEntry(StartupRow& row, KeyHandle toRoot, std::string_view toKey, std::string& why);

  ScanSession& ctx_;
  std::vector<StartupRow> rows_;
  bool firstListing_ = false;
  bool listingRunSide_ = false;
};

}  // namespace brisquell
