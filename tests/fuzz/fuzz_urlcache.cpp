// The URL cache index: enumeration keeps to its size protocol and its records' bounds; deleting
// an entry removes exactly that entry and its file, and nothing outside the cache folder.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Text.h"
#include "platform/cache/FolderUrlCache.h"

using namespace brisquell;

namespace {

struct Listed {
  std::string url, file;
  bool operator==(const Listed&) const = default;
};

// The whole enumeration; false when the index is refused.
bool enumerate(UrlCache& cache, std::vector<Listed>& out) {
  out.clear();
  std::uint32_t size = 0;
  UrlCache::Handle h = 0;
  Status st = cache.findFirstEntry(nullptr, size, h);
  if (st == Status::NoMoreItems) return true;
  if (st != Status::InsufficientBuffer) return false;
  for (;;) {
    FUZZ_CHECK(size >= kUrlCacheRecordHeader, "record smaller than its header");
    Bytes record(size);
    std::uint32_t given = size;
    st = out.empty() ? cache.findFirstEntry(&record, given, h)
                     : cache.findNextEntry(h, &record, given);
    FUZZ_CHECK(st == Status::Success, "a sized buffer was refused");
    FUZZ_CHECK(urlCacheRecordField(record, 0) <= record.size(), "record size past its buffer");
    std::uint32_t urlAt = urlCacheRecordField(record, kUrlCacheSourceUrlField);
    std::uint32_t fileAt = urlCacheRecordField(record, kUrlCacheLocalFileField);
    FUZZ_CHECK(urlAt >= kUrlCacheRecordHeader && urlAt < record.size(), "URL offset");
    FUZZ_CHECK(fileAt == 0 || (fileAt >= kUrlCacheRecordHeader && fileAt < record.size()),
               "file offset");
    FUZZ_CHECK(record.back() == 0, "texts end in NUL inside the record");
    const char* base = reinterpret_cast<const char*>(record.data());
    out.push_back({base + urlAt, fileAt ? base + fileAt : ""});
    size = 0;
    st = cache.findNextEntry(h, nullptr, size);
    if (st == Status::NoMoreItems) break;
    FUZZ_CHECK(st == Status::InsufficientBuffer,
               "size question answered with " + cache.errorText());
  }
  cache.findClose(h);
  return true;
}

bool exists(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDrive drive("cache");
  fuzz::putFile(drive.root + "/cache/cache-index.txt", fuzz::asText(data, size));
  fuzz::putFile(drive.root + "/outside.txt", "keep");
  FolderUrlCache cache(drive.files, "C:\\cache");

  std::vector<Listed> entries;
  if (!enumerate(cache, entries)) {
    const std::string why = cache.errorText();
    FUZZ_CHECK(why.rfind(drive.root + "/cache/cache-index.txt:", 0) == 0, why);
    return 0;
  }
  if (entries.empty()) return 0;

  // The first entry's file exists (its record names it by Windows path); deleting the entry
  // takes it and leaves the rest listed. An entry may list the index itself; then the index
  // written over it is the file.
  const Listed first = entries.front();
  FUZZ_CHECK(first.file.rfind("C:\\cache\\", 0) == 0,
             "local file outside the cache: " + first.file);
  std::string host = drive.root + "/";
  for (char c : first.file.substr(3)) host += c == '\\' ? '/' : c;
  // Windows drops a name's trailing dots and blanks, so no file of the drive is named so.
  bool windowsName = true;
  for (std::size_t i = 0; i < first.file.size(); ++i)
    if ((first.file[i] == '.' || first.file[i] == ' ') &&
        (i + 1 == first.file.size() || first.file[i + 1] == '\\'))
      windowsName = false;
  bool ownFile = windowsName && !iequals(first.file, "C:\\cache\\cache-index.txt");
  if (ownFile) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(host).parent_path(), ec);
    ownFile = static_cast<bool>(std::ofstream(host) << "cached");  // a name no folder can hold
  }
  const Status st = cache.deleteEntry(first.url);
  FUZZ_CHECK(st == Status::Success, cache.errorText());
  FUZZ_CHECK(!ownFile || !exists(host), "the entry's file stays: " + first.file);
  FUZZ_CHECK(exists(drive.root + "/outside.txt"), "a file outside the cache was deleted");
  std::vector<Listed> after;
  FUZZ_CHECK(enumerate(cache, after), "the rewritten index is refused: " + cache.errorText());
  entries.erase(entries.begin());
  FUZZ_CHECK(after == entries, "deleting one entry changed the others");
  return 0;
}
