// Review plans through the core: digests, writing and reading back, and damaged plans refused
// with the file and line.
#include "repair/Plan.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace brisquell {
namespace {

TargetPlan samplePlan() {
  TargetPlan p;
  p.target = {"machine folder", "/m", "user"};
  PlanRecord r;
  r.record = {"-2147483646",
              "Broken",
              "C:\\gone\\a.exe",
              "Windows Startup",
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
              "HKEY_LOCAL_MACHINE"};
  r.valueType = "REG_SZ";
  r.digest = sha256Hex(Bytes{'a', 0});
  r.tested = {{"C:\\gone\\a.exe", std::nullopt, "its folder does not exist on the target"},
              {"C:\\x.exe", std::string("/m/drive_c/x.exe"), ""}};
  p.records.push_back(r);
  PlanRecord f;
  f.record = {"Windows Shortcuts(Drive C:)", "",          "C:\\t.exe -> C:\\a.lnk",
              "Windows Shortcuts(Drive C:)", "C:\\a.lnk", ""};
  f.valueType = "file";
  f.digest = sha256Hex(Bytes{1, 2, 3});
  f.tested = {{"C:\\t.exe", std::nullopt, "why"}};
  p.records.push_back(f);
  return p;
}

// The plan text with one substring replaced, for damaging it in one place.
std::string damaged(std::string text, const std::string& from, const std::string& to) {
  auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The line of the first (or last) place the text holds what.
std::size_t lineOf(const std::string& text, const std::string& what, bool last = false) {
  auto at = last ? text.rfind(what) : text.find(what);
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
}

TEST(Plan, DigestsAreSha256) {
  EXPECT_EQ(sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex(Bytes{'a', 'b', 'c'}),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(valueTypeName(1), "REG_SZ");
  EXPECT_EQ(valueTypeName(11), "REG_QWORD");
  EXPECT_EQ(valueTypeName(0x1F), "0x1F");
}

TEST(Plan, WrittenPlansReadBackWithEveryField) {
  TargetPlan p = samplePlan();
  auto read = parsePlan(writePlan({p}), "plan.json");
  ASSERT_TRUE(read) << read.message();
  ASSERT_EQ(read->size(), 1u);
  const TargetPlan& q = read->front();
  EXPECT_EQ(q.target, p.target);
  ASSERT_EQ(q.records.size(), 2u);
  EXPECT_EQ(q.records[0].record.KeyName, "Broken");
  EXPECT_EQ(q.records[0].record.FullKeyPath, p.records[0].record.FullKeyPath);
  EXPECT_EQ(q.records[0].digest, p.records[0].digest);
  ASSERT_EQ(q.records[0].tested.size(), 2u);
  EXPECT_FALSE(q.records[0].tested[0].host);
  EXPECT_EQ(q.records[0].tested[1].host, "/m/drive_c/x.exe");
  EXPECT_TRUE(q.records[1].record.isFileProblem());
  EXPECT_GT(q.records[1].line, q.records[0].line);

  // Several targets: one part each, and the same target twice is refused.
  TargetPlan other = samplePlan();
  other.target.location = "/n";
  auto two = parsePlan(writePlan({p, other}), "plan.json");
  ASSERT_TRUE(two) << two.message();
  EXPECT_EQ(two->size(), 2u);
  EXPECT_EQ((*two)[1].target.location, "/n");
  auto twice = parsePlan(writePlan({p, p}), "plan.json");
  ASSERT_FALSE(twice);
  EXPECT_NE(twice.message().find("a second part"), std::string::npos) << twice.message();
}

TEST(Plan, DamagedPlansAreRefusedWithFileAndLine) {
  const std::string good = writePlan({samplePlan()});
  struct Case {
    std::string text, at, says;
    int shift = 0;  // lines from `at` to where the fault is named
    bool last = false;
  };
  const std::string digest = sha256Hex(Bytes{'a', 0});
  const std::vector<Case> cases = {
      {damaged(good, "\"KeyName\": \"Broken\",", "\"KeyName\": \"Broken\""), "\"KeyValue\"",
       "not a valid plan"},
      // A missing member is named at the start of its record.
      {damaged(good, "\"KeyName\": \"Broken\",", ""), "\"FullKeyPath\": \"SOFTWARE",
       "\"KeyName\" is missing", -1},
      {damaged(good, "\"KeyName\": \"Broken\"", "\"KeyName\": 7"), "\"KeyName\": 7",
       "must be a string"},
      {damaged(good, digest, "12ab"), "\"12ab\"", "64 lower-case hex"},
      {damaged(good, "\"REG_SZ\"", "\"REG_STRING\""), "REG_STRING", "is not known"},
      {damaged(good, "\"-2147483646\"", "\"HKLM\""), "\"HKLM\"", "names no root key"},
      {damaged(good, "\"HKEY_LOCAL_MACHINE\"", "\"HKEY_CURRENT_USER\""), "\"HKEY_CURRENT_USER\"",
       "is not the root key"},
      {damaged(good, "\"brisquell-plan\"", "\"something-else\""), "something-else",
       "not a review plan"},
      {damaged(good, "\"version\": 1", "\"version\": 2"), "\"version\": 2", "version 2"},
      {damaged(good, "\"listings\": 1", "\"listings\": 0"), "\"listings\": 0", "at least 1"},
      {damaged(good, "\"valueType\": \"file\"", "\"valueType\": \"REG_SZ\""),
       "\"valueType\": \"REG_SZ\"", "shortcut record", 0, true},
  };
  for (const Case& c : cases) {
    auto r = parsePlan(c.text, "plan.json");
    ASSERT_FALSE(r) << c.says;
    const std::string line =
        "plan.json:" + std::to_string(lineOf(c.text, c.at, c.last) + c.shift) + ": ";
    EXPECT_EQ(r.message().rfind(line, 0), 0u) << r.message() << " / wanted " << line;
    EXPECT_NE(r.message().find(c.says), std::string::npos) << r.message();
  }
  for (const std::string& junk : {std::string(), std::string("[]"), std::string("{}"),
                                  std::string(100000, '['), std::string("{\"a\":\xff}"),
                                  std::string("{\"format\":\"brisquell-plan\",\"targets\":[]}")}) {
    auto r = parsePlan(junk, "plan.json");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.message().rfind("plan.json:", 0), 0u) << r.message();
  }
}

}  // namespace
}  // namespace brisquell
