// The browser cache clearing of frmSpeedIntenetConnection ("Clear Cache"): deletes every entry
// of the target's URL cache that the keep-list does not spare, when the clearing switch allows.
#pragma once

#include <string>
#include <vector>

#include "scan/ScanContext.h"

namespace brisquell {

/// How a clearing ended, with the counts and the text the user is to see.
struct CacheClearResult {
  enum class Outcome {
    Cleared,      // the walk ran to the end; see failures for entries it could not delete
    SwitchedOff,  // the clearing switch is not 1: nothing was deleted
    Unreadable,   // the cache or the keep-list could not be read: nothing more was deleted
    Skipped,      // not a Windows platform: nothing happened, nothing is to be said
  };
  Outcome outcome = Outcome::Skipped;
  std::size_t deleted = 0;
  std::size_t spared = 0;
  std::vector<std::string> failures;       // "URL: why" per entry that stays
  std::vector<std::string> unusableItems;  // keep-list items that spare nothing
  std::string switchText;                  // the clearing switch as read
  std::string error;                       // why the cache could not be read

  /// The message of the window; empty for Skipped. Claims a cleared cache only when it is one.
  std::string message() const;
  /// How the message is shown: as news (a cleared cache, or clearing switched off), as a
  /// failure, or not at all (Skipped).
  enum class Tone { Silent, Inform, Warn };
  Tone tone() const;
};

class CacheClearing {
 public:
  static constexpr std::string_view kClearedMessage =
      "All Cache Files have been cleared sucessfully.";

  explicit CacheClearing(ScanSession& ctx) : ctx_(ctx) {}

  /// What "Clear Cache" does below the window: on platform 1 or 2, EraseIEFiles.
  CacheClearResult ClearCache();
  /// Reads the clearing switch and runs the walk when it is 1.
  void EraseIEFiles(CacheClearResult& result);
  /// Deletes every cache entry the keep-list does not spare.
  void GetCacheURLList(CacheClearResult& result);
  /// The NUL-terminated text at an offset of an entry record, read within the record; the
  /// empty text when it does not lie inside it.
  std::string GetStrFromPtrA(const Bytes& record, std::uint32_t offset);

 private:
  ScanSession& ctx_;
};

}  // namespace brisquell
