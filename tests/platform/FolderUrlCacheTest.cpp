// The folder URL cache: the size protocol of the enumeration, deletion, and index checks.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/cache/FolderUrlCache.h"
#include "platform/machine/MachineFolder.h"
#include "support/TempDir.h"

namespace brisquell::test {

namespace {

const std::string kDir =
    "drive_c/Documents and Settings/user/Local Settings/Temporary Internet Files";

struct Folder {
  TempDir d;
  std::unique_ptr<MachineFolder> m;
  explicit Folder(const std::string& index = "") {
    makeMachine(d.path(), "");
    if (!index.empty()) writeText(d / (kDir + "/cache-index.txt"), index);
    auto mOpened = MachineFolder::open(d.path());
    m = mOpened ? std::move(mOpened).value() : nullptr;
    if (!m) ADD_FAILURE() << mOpened.message();
  }
  UrlCache& cache() { return m->urlCache(); }
  std::string error(const std::string& index) {
    writeText(d / (kDir + "/cache-index.txt"), index);
    std::uint32_t size = 0;
    UrlCache::Handle h = 0;
    EXPECT_EQ(cache().findFirstEntry(nullptr, size, h), Status::FileCorrupt) << index;
    EXPECT_EQ(cache().deleteEntry("http://a/"), Status::FileCorrupt);
    return cache().errorText();
  }
};

std::string urlOf(const Bytes& record) {
  std::uint32_t at = urlCacheRecordField(record, kUrlCacheSourceUrlField);
  return std::string(reinterpret_cast<const char*>(record.data()) + at);
}

}  // namespace

TEST(FolderUrlCache, LivesInTheUsersProfile) {
  MachineInfo nt;
  nt.userName = "ann";
  EXPECT_EQ(FolderUrlCache::folderFor(nt),
            "C:\\Documents and Settings\\ann\\Local Settings\\Temporary Internet Files");
  MachineInfo old;
  old.platformId = 1;
  old.windowsDirectory = "D:\\WIN98\\";
  EXPECT_EQ(FolderUrlCache::folderFor(old), "D:\\WIN98\\Temporary Internet Files");
}

TEST(FolderUrlCache, EnumerationAsksForTheSizeFirst) {
  Folder f(
      "BRISQUELL URL CACHE 1\r\n; two "
      "entries\r\nhttp://a/\tA\\a.htm\r\nCookie:u@b.example/\tCookies\\u@b[1].txt\r\n");
  std::uint32_t size = 0;
  UrlCache::Handle h = 0;
  ASSERT_EQ(f.cache().findFirstEntry(nullptr, size, h), Status::InsufficientBuffer);
  EXPECT_EQ(h, 0u);
  Bytes expected = makeUrlCacheRecord(
      "http://a/",
      "C:\\Documents and Settings\\user\\Local Settings\\Temporary Internet Files\\A\\a.htm");
  EXPECT_EQ(size, expected.size());
  Bytes buffer(size);
  ASSERT_EQ(f.cache().findFirstEntry(&buffer, size, h), Status::Success);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(buffer, expected);

  size = 0;
  ASSERT_EQ(f.cache().findNextEntry(h, nullptr, size), Status::InsufficientBuffer);
  Bytes small(size - 1);
  std::uint32_t smallSize = size - 1;
  EXPECT_EQ(f.cache().findNextEntry(h, &small, smallSize), Status::InsufficientBuffer);
  buffer.assign(size, 0);
  ASSERT_EQ(f.cache().findNextEntry(h, &buffer, size), Status::Success);
  EXPECT_EQ(urlOf(buffer), "Cookie:u@b.example/");
  size = 0;
  EXPECT_EQ(f.cache().findNextEntry(h, nullptr, size), Status::NoMoreItems);
  EXPECT_EQ(f.cache().findClose(h), Status::Success);
  EXPECT_EQ(f.cache().findNextEntry(h, nullptr, size), Status::InvalidHandle);
}

TEST(FolderUrlCache, MissingIndexIsAnEmptyCache) {
  Folder f;
  std::uint32_t size = 0;
  UrlCache::Handle h = 0;
  EXPECT_EQ(f.cache().findFirstEntry(nullptr, size, h), Status::NoMoreItems);
  EXPECT_EQ(f.cache().deleteEntry("http://a/"), Status::FileNotFound);
}

TEST(FolderUrlCache, DeletingAnEntryDeletesItsFileAndKeepsTheOtherLines) {
  Folder f;
  auto& cache = static_cast<FolderUrlCache&>(f.cache());
  ASSERT_TRUE(cache.addEntry("http://a/", "Content.IE5/X/a[1].htm", Bytes{'a'}))
      << cache.errorText();
  ASSERT_TRUE(cache.addEntry("http://b/", "Content.IE5\\X\\b[1].htm", Bytes{'b'}));
  EXPECT_FALSE(cache.addEntry("http://b/", "Content.IE5\\X\\c.htm", Bytes{}));
  EXPECT_FALSE(cache.addEntry("http://c/", "..\\..\\escape.txt", Bytes{}));
  std::string host = f.d / (kDir + "/Content.IE5/X/a[1].htm");
  ASSERT_TRUE(std::filesystem::exists(host));
  EXPECT_EQ(cache.deleteEntry("http://a/"), Status::Success);
  EXPECT_FALSE(std::filesystem::exists(host));
  EXPECT_EQ(readText(f.d / (kDir + "/cache-index.txt")),
            "BRISQUELL URL CACHE 1\nhttp://b/\tContent.IE5\\X\\b[1].htm\n");
  EXPECT_EQ(cache.deleteEntry("http://a/"), Status::FileNotFound);
}

TEST(FolderUrlCache, DeletionsInOneRunRewriteTheIndexInBatches) {
  std::string index = "BRISQUELL URL CACHE 1\n; kept comment\n";
  for (int i = 0; i < 1500; ++i)
    index += "http://x/" + std::to_string(i) + "\tA\\f" + std::to_string(i) + ".htm\n";
  Folder f(index);
  for (int i = 0; i < 1500; ++i) writeText(f.d / (kDir + "/A/f" + std::to_string(i) + ".htm"), "x");
  UrlCache& cache = f.cache();
  const std::string indexFile = f.d / (kDir + "/cache-index.txt");
  cache.beginChanges();
  for (int i = 0; i < 999; ++i)
    ASSERT_EQ(cache.deleteEntry("http://x/" + std::to_string(i)), Status::Success) << i;
  // Between batches the files are gone first; the index still names them, which is harmless.
  EXPECT_FALSE(std::filesystem::exists(f.d / (kDir + "/A/f0.htm")));
  EXPECT_EQ(readText(indexFile), index);
  EXPECT_EQ(cache.deleteEntry("http://x/999"), Status::Success);  // the thousandth: written
  std::string afterBatch = readText(indexFile);
  EXPECT_EQ(afterBatch.find("http://x/999\t"), std::string::npos);
  EXPECT_NE(afterBatch.find("http://x/1000\t"), std::string::npos);
  EXPECT_EQ(cache.deleteEntry("http://x/5"), Status::FileNotFound) << "deleted once only";
  EXPECT_EQ(cache.deleteEntry("http://x/1000"), Status::Success);
  // A run that ends without writing (a kill) leaves an entry whose file is gone: deleting it
  // again later works.
  auto again = MachineFolder::open(f.d.path());
  ASSERT_TRUE(again);
  EXPECT_EQ((*again)->urlCache().deleteEntry("http://x/1000"), Status::Success);
  EXPECT_EQ(cache.endChanges(), Status::Success);
  std::string expected = "BRISQUELL URL CACHE 1\n; kept comment\n";
  for (int i = 1001; i < 1500; ++i)
    expected += "http://x/" + std::to_string(i) + "\tA\\f" + std::to_string(i) + ".htm\n";
  EXPECT_EQ(readText(indexFile), expected);
  EXPECT_TRUE(std::filesystem::exists(f.d / (kDir + "/A/f1001.htm")));
}

TEST(FolderUrlCache, DamagedIndexNamesFileAndLine) {
  Folder f;
  const std::string h = "BRISQUELL URL CACHE 1\n";
  EXPECT_NE(f.error("http://a/\ta.htm\n").find("cache-index.txt:1: not a URL cache index"),
            std::string::npos);
  EXPECT_NE(f.error(h + "\nhttp://a/ a.htm\n").find("cache-index.txt:3: expected the URL, a tab"),
            std::string::npos);
  EXPECT_NE(f.error(h + "http://a/\ta\tb\n").find(":2: more than one tab"), std::string::npos);
  EXPECT_NE(f.error(h + "\ta.htm\n").find(":2: the URL is empty"), std::string::npos);
  EXPECT_NE(f.error(h + "http://a/\t..\\..\\WINDOWS\\x.dll\n").find(":2: the local file"),
            std::string::npos);
  EXPECT_NE(f.error(h + "http://a/\tC:\\x.txt\n").find(":2: the local file"), std::string::npos);
  EXPECT_NE(f.error(h + "http://a/\t\\x.txt\n").find(":2: the local file"), std::string::npos);
  EXPECT_NE(f.error(h + "http://a/\ta\nhttp://a/\tb\n")
                .find(":3: the URL is listed twice (first on line 2)"),
            std::string::npos);
  // Names Windows cuts down to the folder itself, or to the index.
  EXPECT_NE(f.error(h + "http://a/\t .\n").find(":2: the local file \" .\" is not a path"),
            std::string::npos);
  EXPECT_NE(f.error(h + "http://a/\tA\\...\\b\n").find(":2: the local file"), std::string::npos);
  EXPECT_NE(f.error(h + "http://a/\tcache-index.txt. \n").find(":2: the local file is the index"),
            std::string::npos);
  // A file named in bytes that are no UTF-8 could never be found to be deleted.
  EXPECT_NE(f.error(h + "http://a/\tA\\\xd2\x8b\xf5.htm\n").find(":2: not UTF-8 text"),
            std::string::npos);
}

TEST(FolderUrlCache, TargetWithoutCacheRefusesWithAReason) {
  std::uint32_t size = 0;
  UrlCache::Handle h = 0;
  EXPECT_EQ(noUrlCache().findFirstEntry(nullptr, size, h), Status::FileNotFound);
  EXPECT_FALSE(noUrlCache().errorText().empty());
}

}  // namespace brisquell::test
