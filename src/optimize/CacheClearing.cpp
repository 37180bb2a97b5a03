// The cache walk: size query, exact buffer, keep-list test, delete; one handle at a time.
#include "optimize/CacheClearing.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "optimize/CookieKeepList.h"
#include "shell/Settings.h"

namespace brisquell {

namespace {

constexpr std::string_view kClickName = "cmdClearCache_Click of frmSpeedIntenetConnection";
constexpr std::string_view kEraseName = "EraseIEFiles of frmSpeedIntenetConnection";
constexpr std::string_view kWalkName = "GetCacheURLList";
constexpr std::string_view kTextName = "GetStrFromPtrA";

// The switch as a 16-bit integer, rounding as the settings have always been read.
int integer16(std::string_view text) {
  std::string t = trimBlanks(text);
  if (!isNumericText(t)) throw TrappedError{13, "Type mismatch"};
  double d = std::nearbyint(std::strtod(t.c_str(), nullptr));
  if (d < -32768.0 || d > 32767.0) throw TrappedError{6, "Overflow"};
  return static_cast<int>(d);
}

Bytes sizedBuffer(std::uint32_t size) {
  Bytes b(std::max<std::uint32_t>(size, 4), 0);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(size >> (8 * i));
  return b;
}

}  // namespace

std::string CacheClearResult::message() const {
  switch (outcome) {
    case Outcome::Cleared:
      if (failures.empty()) return std::string(CacheClearing::kClearedMessage);
      return fmt::format("{} cache entr{} could not be deleted.", failures.size(),
                         failures.size() == 1 ? "y" : "ies");
    case Outcome::SwitchedOff:
      return fmt::format(
          "The cache was not cleared: clearing is switched off (the setting \"Cache\" is \"{}\").",
          switchText);
    case Outcome::Unreadable: return "The cache was not cleared: " + error;
    case Outcome::Skipped: break;
  }
  return {};
}

CacheClearResult::Tone CacheClearResult::tone() const {
  switch (outcome) {
    case Outcome::Cleared: return failures.empty() ? Tone::Inform : Tone::Warn;
    case Outcome::SwitchedOff: return Tone::Inform;
    case Outcome::Unreadable: return Tone::Warn;
    case Outcome::Skipped: break;
  }
  return Tone::Silent;
}

CacheClearResult CacheClearing::ClearCache() {
  CacheClearResult result;
  ctx_.log().trap(kClickName, [&] {
    std::int32_t platform = ctx_.registry().GetVersion();
    if (platform != 1 && platform != 2) return;
    EraseIEFiles(result);
  });
  return result;
}

void CacheClearing::EraseIEFiles(CacheClearResult& result) {
  result.outcome = CacheClearResult::Outcome::SwitchedOff;
  ctx_.log().trap(kEraseName, [&] {
    result.switchText = Settings(ctx_.registry()).IECache();
    if (integer16(result.switchText) != 1) return;
    result.outcome = CacheClearResult::Outcome::Cleared;
    GetCacheURLList(result);
  });
}

std::string CacheClearing::GetStrFromPtrA(const Bytes& record, std::uint32_t offset) {
  std::string text;
  ctx_.log().trap(kTextName, [&] {
    if (offset == 0 || offset >= record.size())
      throw TrappedError{5, "Invalid procedure call or argument"};
    auto begin = record.begin() + offset;
    auto nul = std::find(begin, record.end(), 0);
    if (nul == record.end()) throw TrappedError{5, "Invalid procedure call or argument"};
    text.assign(begin, nul);
  });
  return text;
}

void CacheClearing::GetCacheURLList(CacheClearResult& result) {
  UrlCache& cache = ctx_.target().urlCache();
  UrlCache::Handle handle = 0;
  auto unreadable = [&](Status status) {
    result.outcome = CacheClearResult::Outcome::Unreadable;
    result.error = cache.errorText();
    if (result.error.empty())
      result.error = fmt::format("the cache could not be read (error {})", status);
    ctx_.log().write(kWalkName, code(status), result.error);
  };
  bool batching = false;
  // Entries to delete are passed on a few thousand at a time: the cache may then take their
  // files in the order its disk likes best.
  constexpr std::size_t kDeletionChunk = 8192;
  std::vector<std::string> pending;
  auto deletePending = [&] {
    const std::vector<UrlCache::Deletion> done = cache.deleteEntries(pending);
    for (std::size_t i = 0; i < done.size(); ++i) {
      if (done[i].status == Status::Success)
        ++result.deleted;
      else
        result.failures.push_back(fmt::format("{}: {}", pending[i], done[i].error));
    }
    pending.clear();
  };
  bool failed = ctx_.log().trap(kWalkName, [&] {
    std::uint32_t size = 0;
    Status st = cache.findFirstEntry(nullptr, size, handle);
    if (st == Status::NoMoreItems) return;
    if (st != Status::InsufficientBuffer || handle != 0) {
      unreadable(st);
      return;
    }
    // Read before the first delete: a keep-list that cannot be read must not let its cookies go.
    CookieKeepList keep;
    std::string keepError;
    if (!keep.load(ctx_.files(), ctx_.target().machine().installFolder, keepError)) {
      result.outcome = CacheClearResult::Outcome::Unreadable;
      result.error = keepError;
      ctx_.log().write(kWalkName, 75, keepError);
      return;
    }
    result.unusableItems = keep.unusable();
    Bytes buffer = sizedBuffer(size);
    cache.beginChanges();
    batching = true;
    st = cache.findFirstEntry(&buffer, size, handle);
    if (st != Status::Success) {
      unreadable(st);
      return;
    }
    for (;;) {
      std::string url =
          GetStrFromPtrA(buffer, urlCacheRecordField(buffer, kUrlCacheSourceUrlField));
      if (url.empty()) {
        result.failures.push_back("(an entry without a URL): it could not be read");
      } else if (keep.spares(CookieKeepList::cookieName(url))) {
        ++result.spared;
      } else {
        pending.push_back(std::move(url));
        if (pending.size() >= kDeletionChunk) deletePending();
      }
      size = 0;
      st = cache.findNextEntry(handle, nullptr, size);
      if (st != Status::InsufficientBuffer) {
        if (st != Status::NoMoreItems) unreadable(st);
        break;
      }
      buffer = sizedBuffer(size);
      ctx_.doEvents();
      st = cache.findNextEntry(handle, &buffer, size);
      if (st != Status::Success) {
        unreadable(st);
        break;
      }
    }
  });
  // What the walk chose before it stopped is deleted whatever stopped it, and the index is
  // brought up to date with the files.
  if (!pending.empty()) ctx_.log().trap(kWalkName, deletePending);
  if (batching && cache.endChanges() != Status::Success) {
    result.failures.push_back(cache.errorText());
    ctx_.log().write(kWalkName, code(Status::WriteFault), cache.errorText());
  }
  if (failed) {
    result.outcome = CacheClearResult::Outcome::Unreadable;
    result.error = "the clearing stopped on an error (see the error log)";
  }
  if (handle != 0) cache.findClose(handle);
}

}  // namespace brisquell
