// Cache clearing: the clearing switch, the keep-list (reduction, matching, bad items), the walk
// over the folder cache, and a damaged index.
#include <gtest/gtest.h>

#include <filesystem>

#include "optimize/CacheClearing.h"
#include "optimize/CookieKeepList.h"
#include "scan/ScanTestSupport.h"

namespace brisquell::test {

namespace {

const std::string kCacheDir =
    "drive_c/Documents and Settings/user/Local Settings/Temporary Internet Files";
const std::string kKeepFile = "drive_c/Program Files/Brisquell/DoNotDeleteCookie";
const std::string kCookiePath =
    "C:\\Documents and Settings\\user\\Local Settings\\Temporary Internet "
    "Files\\Cookies\\user@quillpad[1].txt";

const std::vector<std::pair<std::string, std::string>> kEntries = {
    {"http://www.quillpad.example/index.htm", "Content.IE5\\K3J9ZQ2L\\index[1].htm"},
    {"Cookie:user@quillpad.example/", "Cookies\\user@quillpad[1].txt"},
    {"Cookie:user@adnetwork.example/", "Cookies\\user@adnetwork[1].txt"},
    {"Cookie:other@quillpad.example/", "Cookies\\other@quillpad[1].txt"},
    {"http://www.tallyx.example/logo.gif", "Content.IE5\\K3J9ZQ2L\\logo[1].gif"},
};

std::string hostFile(const std::string& rel) {
  std::string p = rel;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

struct Cache {
  ScanMachine m;
  explicit Cache(const std::string& reg = "", const std::string& keepList = "",
                 bool withKeepList = false)
      : m(reg) {
    std::string index = "BRISQUELL URL CACHE 1\n";
    for (const auto& [url, file] : kEntries) {
      index += url + "\t" + file + "\n";
      writeText(m.dir / (kCacheDir + "/" + hostFile(file)), "data of " + url);
    }
    writeText(m.dir / (kCacheDir + "/cache-index.txt"), index);
    if (withKeepList) writeText(m.dir / kKeepFile, keepList);
  }
  CacheClearResult clear() { return CacheClearing(*m.ctx).ClearCache(); }
  bool cached(const std::string& file) {
    return std::filesystem::exists(m.dir / (kCacheDir + "/" + hostFile(file)));
  }
  std::string index() { return readText(m.dir / (kCacheDir + "/cache-index.txt")); }
  /// The local files still present, in entry order.
  std::vector<std::string> left() {
    std::vector<std::string> out;
    for (const auto& [url, file] : kEntries)
      if (cached(file)) out.push_back(url);
    return out;
  }
};

const char* switchValue(const char* v) {
  static std::string reg;
  reg = std::string(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quandrel "
            "Technology\\Brisquell\\IESettings]\n\"Cache\"=\"") +
        v + "\"\n";
  return reg.c_str();
}

}  // namespace

TEST(CacheSwitch, MissingSwitchClearsEverythingWithoutKeepList) {
  Cache c;
  auto r = c.clear();
  EXPECT_EQ(r.outcome, CacheClearResult::Outcome::Cleared);
  EXPECT_EQ(r.deleted, 5u);
  EXPECT_EQ(r.spared, 0u);
  EXPECT_EQ(r.message(), "All Cache Files have been cleared sucessfully.");
  EXPECT_TRUE(c.left().empty());
  EXPECT_EQ(c.index(), "BRISQUELL URL CACHE 1\n");
}

TEST(CacheSwitch, ZeroOrTwoDeletesNothingAndClaimsNothing) {
  for (const char* v : {"0", "2"}) {
    Cache c(switchValue(v));
    auto r = c.clear();
    EXPECT_EQ(r.outcome, CacheClearResult::Outcome::SwitchedOff) << v;
    EXPECT_EQ(r.deleted, 0u);
    EXPECT_EQ(c.left().size(), 5u);
    EXPECT_EQ(r.message().find("cleared sucessfully"), std::string::npos);
    EXPECT_NE(r.message().find("not cleared"), std::string::npos);
  }
}

TEST(CacheSwitch, TextThatIsNoNumberClearsNothingAndIsLogged) {
  Cache c(switchValue("yes"));
  auto r = c.clear();
  EXPECT_EQ(r.outcome, CacheClearResult::Outcome::SwitchedOff);
  EXPECT_EQ(c.left().size(), 5u);
  EXPECT_NE(c.m.log().find("EraseIEFiles of frmSpeedIntenetConnection"), std::string::npos);
}

TEST(CacheSwitch, OneAndAHalfRoundsToTwo) {
  Cache c(switchValue("1.5"));
  EXPECT_EQ(c.clear().outcome, CacheClearResult::Outcome::SwitchedOff);
  Cache one(switchValue(" 1 "));
  EXPECT_EQ(one.clear().deleted, 5u);
}

// The window and the command line show the message as news or as a failure by this alone.
TEST(CacheSwitch, ToneOfTheMessage) {
  using Outcome = CacheClearResult::Outcome;
  using Tone = CacheClearResult::Tone;
  CacheClearResult r;
  EXPECT_EQ(r.tone(), Tone::Silent);
  r.outcome = Outcome::Cleared;
  EXPECT_EQ(r.tone(), Tone::Inform);
  r.failures.push_back("http://a/: locked");
  EXPECT_EQ(r.tone(), Tone::Warn) << "a cache that was not fully cleared is no good news";
  r.outcome = Outcome::SwitchedOff;
  EXPECT_EQ(r.tone(), Tone::Inform);
  r.outcome = Outcome::Unreadable;
  EXPECT_EQ(r.tone(), Tone::Warn);
}

TEST(CacheKeepList, CookieSparedByFullPathOthersDeleted) {
  Cache c("", kCookiePath + "\r\n", true);
  auto r = c.clear();
  EXPECT_EQ(r.deleted, 4u);
  EXPECT_EQ(r.spared, 1u);
  EXPECT_EQ(c.left(), (std::vector<std::string>{"Cookie:user@quillpad.example/"}));
  EXPECT_EQ(
      c.index(),
      "BRISQUELL URL CACHE 1\nCookie:user@quillpad.example/\tCookies\\user@quillpad[1].txt\n");
}

TEST(CacheKeepList, CookieSparedByBareNameInCapitals) {
  Cache c("", "USER@QUILLPAD", true);
  auto r = c.clear();
  EXPECT_EQ(r.spared, 1u);
  EXPECT_EQ(c.left(), (std::vector<std::string>{"Cookie:user@quillpad.example/"}));
}

TEST(CacheKeepList, EmptyItemsSpareNothing) {
  Cache c("", "\n\"\"\n,\n", true);
  auto r = c.clear();
  EXPECT_EQ(r.deleted, 5u);
  EXPECT_TRUE(c.left().empty());
}

TEST(CacheKeepList, ItemThatCannotBeReducedMatchesNothingAndTheWalkGoesOn) {
  Cache c("", "C:\\a.txt\nuser@adnetwork\n", true);
  auto r = c.clear();
  EXPECT_EQ(r.outcome, CacheClearResult::Outcome::Cleared);
  EXPECT_EQ(r.unusableItems, (std::vector<std::string>{"C:\\a.txt"}));
  EXPECT_EQ(r.spared, 1u);
  EXPECT_EQ(r.deleted, 4u);
  EXPECT_EQ(c.left(), (std::vector<std::string>{"Cookie:user@adnetwork.example/"}));
}

TEST(CacheKeepList, ItemsSplitOnCommasAndLineEndsQuotesKeepCommas) {
  EXPECT_EQ(CookieKeepList::items("a, b\r\n\"c,d\" ,e\n\n\"\""),
            (std::vector<std::string>{"a", "b", "c,d", "e", "", ""}));
}

TEST(CacheKeepList, Reduction) {
  EXPECT_EQ(CookieKeepList::reduce("C:\\Cookies\\user@site[1].txt"), "user@site");
  EXPECT_EQ(CookieKeepList::reduce("user@site"), "user@site");
  EXPECT_EQ(CookieKeepList::reduce("C:\\x\\[1].txt"), "");
  EXPECT_EQ(CookieKeepList::reduce("C:\\x\\ab.txt"), std::nullopt);
}

TEST(CacheKeepList, CookieNames) {
  EXPECT_EQ(CookieKeepList::cookieName("Cookie:user@example.com/"), "user@example");
  EXPECT_EQ(CookieKeepList::cookieName("Cookie:user@intranet/"), "user@intranet");
  EXPECT_EQ(CookieKeepList::cookieName("http://example.com/"), "");
  EXPECT_EQ(CookieKeepList::cookieName("cookie:user@example.com/"), "");
  EXPECT_EQ(CookieKeepList::cookieName("Cookie:"), "");
}

TEST(CacheWalk, DamagedIndexNamesFileAndLineAndChangesNothing) {
  Cache c;
  std::string bad = c.index() + "http://broken.example/ no tab here\n";
  writeText(c.m.dir / (kCacheDir + "/cache-index.txt"), bad);
  auto r = c.clear();
  EXPECT_EQ(r.outcome, CacheClearResult::Outcome::Unreadable);
  EXPECT_NE(r.error.find("cache-index.txt:7: "), std::string::npos) << r.error;
  EXPECT_EQ(r.message().find("cleared sucessfully"), std::string::npos);
  EXPECT_EQ(r.deleted, 0u);
  EXPECT_EQ(c.left().size(), 5u);
  EXPECT_EQ(c.index(), bad);
  EXPECT_NE(c.m.log().find("GetCacheURLList"), std::string::npos);
}

TEST(CacheWalk, EmptyOrMissingCacheIsClearedWithNothingDeleted) {
  ScanMachine m("");
  auto r = CacheClearing(*m.ctx).ClearCache();
  EXPECT_EQ(r.outcome, CacheClearResult::Outcome::Cleared);
  EXPECT_EQ(r.deleted, 0u);
}

TEST(CacheWalk, EntryWhoseFileIsAlreadyGoneIsStillRemoved) {
  Cache c;
  std::filesystem::remove(c.m.dir / (kCacheDir + "/Content.IE5/K3J9ZQ2L/logo[1].gif"));
  auto r = c.clear();
  EXPECT_EQ(r.deleted, 5u);
  EXPECT_TRUE(r.failures.empty());
}

TEST(CacheWalk, TextOfARecordIsReadWithinItsBounds) {
  ScanMachine m("");
  CacheClearing clearing(*m.ctx);
  Bytes record = makeUrlCacheRecord("http://a/", "C:\\x");
  EXPECT_EQ(clearing.GetStrFromPtrA(record, urlCacheRecordField(record, kUrlCacheSourceUrlField)),
            "http://a/");
  EXPECT_EQ(clearing.GetStrFromPtrA(record, urlCacheRecordField(record, kUrlCacheLocalFileField)),
            "C:\\x");
  EXPECT_EQ(clearing.GetStrFromPtrA(record, 999), "");
  record.pop_back();  // no terminating NUL inside the record
  EXPECT_EQ(clearing.GetStrFromPtrA(record, urlCacheRecordField(record, kUrlCacheLocalFileField)),
            "");
  EXPECT_NE(m.log().find("GetStrFromPtrA"), std::string::npos);
}

}  // namespace brisquell::test
