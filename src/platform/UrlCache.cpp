// Entry records of the URL cache, and the cache of targets that keep none.
#include "platform/UrlCache.h"

#include <algorithm>

namespace brisquell {

namespace {

void putNumber(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

class NoUrlCache final : public UrlCache {
 public:
  Status findFirstEntry(Bytes*, std::uint32_t&, Handle& handle) override {
    handle = 0;
    return Status::FileNotFound;
  }
  Status findNextEntry(Handle, Bytes*, std::uint32_t&) override { return Status::InvalidHandle; }
  Status deleteEntry(std::string_view) override { return Status::FileNotFound; }
  Status findClose(Handle) override { return Status::InvalidHandle; }
  std::string errorText() const override { return "this kind of target keeps no URL cache"; }
  std::string location() const override { return {}; }
};

}  // namespace

std::vector<UrlCache::Deletion> UrlCache::deleteEntries(const std::vector<std::string>& urls) {
  std::vector<Deletion> out;
  out.reserve(urls.size());
  for (const std::string& url : urls) {
    Status st = deleteEntry(url);
    out.push_back(Deletion{st, st == Status::Success ? std::string() : errorText()});
  }
  return out;
}

Bytes makeUrlCacheRecord(std::string_view url, std::string_view localFile) {
  const std::size_t urlAt = kUrlCacheRecordHeader;
  const std::size_t fileAt = urlAt + url.size() + 1;
  Bytes b(fileAt + (localFile.empty() ? 0 : localFile.size() + 1), 0);
  putNumber(b, 0, static_cast<std::uint32_t>(b.size()));
  putNumber(b, kUrlCacheSourceUrlField, static_cast<std::uint32_t>(urlAt));
  putNumber(b, kUrlCacheLocalFileField, localFile.empty() ? 0 : static_cast<std::uint32_t>(fileAt));
  std::copy(url.begin(), url.end(), b.begin() + urlAt);
  std::copy(localFile.begin(), localFile.end(), b.begin() + fileAt);
  return b;
}

std::uint32_t urlCacheRecordField(const Bytes& record, std::uint32_t offset) {
  if (offset > record.size() || record.size() - offset < 4) return 0;
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(record[offset + i]) << (8 * i);
  return v;
}

UrlCache& noUrlCache() {
  static NoUrlCache none;
  return none;
}

}  // namespace brisquell
