// The browser's URL cache of a target: enumeration and deletion in the shape of WinInet's
// FindFirstUrlCacheEntryA / FindNextUrlCacheEntryA / DeleteUrlCacheEntryA / FindCloseUrlCache.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "platform/Text.h"

namespace brisquell {

/// Layout of an entry record as the enumeration fills it (all numbers little-endian):
///   offset 0: size of the whole record; the caller writes its buffer size here before a call
///   offset 4: offset of the source URL (NUL-terminated UTF-8) from the record's start
///   offset 8: offset of the local file's Windows path (NUL-terminated), 0 when there is none
///   offset 12: the texts
/// Offsets rather than addresses, so that a record can be checked against its own bounds.
inline constexpr std::uint32_t kUrlCacheRecordHeader = 12;
inline constexpr std::uint32_t kUrlCacheSourceUrlField = 4;
inline constexpr std::uint32_t kUrlCacheLocalFileField = 8;

/// The record of one entry, sized exactly.
Bytes makeUrlCacheRecord(std::string_view url, std::string_view localFile);
/// The 32-bit number at an offset of a record; 0 past its end.
std::uint32_t urlCacheRecordField(const Bytes& record, std::uint32_t offset);

class UrlCache {
 public:
  using Handle = std::uint32_t;
  virtual ~UrlCache() = default;

  /// Without a buffer, or with one smaller than the first entry's record:
  /// Status::InsufficientBuffer with size set to the record's size, and no handle. With a
  /// buffer (and size) at least that large: fills it and returns a non-zero handle.
  /// Status::NoMoreItems when the cache is empty; other codes when it cannot be read
  /// (errorText() says why).
  virtual Status findFirstEntry(Bytes* buffer, std::uint32_t& size, Handle& handle) = 0;
  /// The same for the next entry of an enumeration; Status::NoMoreItems after the last.
  virtual Status findNextEntry(Handle handle, Bytes* buffer, std::uint32_t& size) = 0;
  /// Removes the entry with this URL and its local file.
  virtual Status deleteEntry(std::string_view url) = 0;
  struct Deletion {
    Status status = Status::Success;
    std::string error;  // errorText() of the failure
  };
  /// Removes the entries of these URLs as deleteEntry() does each, their files in whatever
  /// order is quickest: one result per URL, in their order.
  virtual std::vector<Deletion> deleteEntries(const std::vector<std::string>& urls);
  virtual Status findClose(Handle handle) = 0;
  /// Until endChanges(), deletions may be recorded in the cache's index in batches rather than
  /// one rewrite each; an entry is always dropped from the index only after its file is gone.
  virtual void beginChanges() {}
  /// Records what is still pending; on a failure errorText() says why (the files deleted so far
  /// are gone, their entries still listed).
  virtual Status endChanges() { return Status::Success; }

  /// Why the last failing call failed, naming file and line where a file is damaged.
  virtual std::string errorText() const = 0;
  /// Where the cache lives, for messages.
  virtual std::string location() const = 0;
};

/// The cache of a target that keeps none: every call fails and says so.
UrlCache& noUrlCache();

}  // namespace brisquell
