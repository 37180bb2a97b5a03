// scan --format json and fix --plan from the outside: the plan round trip, records changed
// since the plan, plans of other targets and damaged plans.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/Portable.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

using test::runCli;

const char* kMachine =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe]\r\n"
    "@=\"C:\\\\Missing\\\\gone.exe\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
    "\"Broken\"=\"C:\\\\Missing\\\\run.exe\"\r\n"
    "\"Other\"=\"C:\\\\Folder\\\\other.exe\"\r\n"
    "\"Third\"=\"C:\\\\Missing\\\\third.exe\"\r\n"
    "\"Number\"=dword:00000007\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\r\n"
    "@=\"C:\\\\Missing\\\\a.dll\"\r\n\r\n";

struct PlanCommandTest : ::testing::Test {
  void SetUp() override {
    test::makeMachine(dir / "m", kMachine);
    fs::create_directories(dir / "m/drive_c/Folder");
    target = dir / "m";
  }
  std::string exportReg() { return runCli({"--target", target, "reg", "export"}).out; }
  std::string tsv() { return runCli({"--target", target, "scan", "--format", "tsv"}).out; }
  nlohmann::json scanPlan(const std::string& file) {
    auto r = runCli({"--target", target, "scan", "--format", "json", "--output", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return nlohmann::json::parse(test::readText(file));
  }
  void writePlan(const std::string& file, const nlohmann::json& j) {
    test::writeText(file, j.dump(2));
  }
  test::TempDir dir;
  std::string target;
};

std::string row(const nlohmann::json& p) {
  std::string s;
  for (const char* k : {"MainKey", "KeyName", "KeyValue", "Section", "FullKeyPath", "MainKeyName"})
    s += p[k].get<std::string>() + "\t";
  s.back() = '\n';
  return s;
}

TEST_F(PlanCommandTest, PlanCarriesTheEvidenceOfEveryRecord) {
  auto j = scanPlan(dir / "plan.json");
  EXPECT_EQ(j["format"], "brisquell-plan");
  EXPECT_EQ(j["target"]["kind"], "machine folder");
  EXPECT_EQ(j["target"]["location"], fs::canonical(target).string());
  ASSERT_EQ(j["problems"].size(), 6u);
  for (const auto& p : j["problems"]) {
    EXPECT_EQ(p["digest"].get<std::string>().size(), 64u) << p;
    EXPECT_EQ(p["valueType"], "REG_SZ") << p;
    ASSERT_GE(p["tested"].size(), 1u) << p;
  }
  // The folder that exists resolves on the host; the one that does not says so.
  bool resolved = false, unresolved = false;
  for (const auto& p : j["problems"])
    for (const auto& t : p["tested"]) {
      if (t["windows"] == "C:\\Folder\\other.exe") {
        resolved = true;
        EXPECT_EQ(test::slashed(t["host"]),
                  test::slashed(fs::canonical(target).string() + "/drive_c/Folder/other.exe"));
      }
      if (t["windows"] == "C:\\Missing\\run.exe") {
        unresolved = true;
        EXPECT_TRUE(t["host"].is_null());
        EXPECT_EQ(t["why"], "its folder does not exist on the target");
      }
    }
  EXPECT_TRUE(resolved && unresolved) << j.dump(1);
  // The value seen twice (through HKCR and HKLM) says so.
  for (const auto& p : j["problems"])
    EXPECT_EQ(p["listings"], p["KeyValue"] == "C:\\Missing\\a.dll" ? 2 : 1) << p;
}

TEST_F(PlanCommandTest, EditedPlanFixesExactlyWhatIsLeftAndRestoresByteForByte) {
  const std::string before = exportReg();
  const std::string beforeRows = tsv();
  auto j = scanPlan(dir / "plan.json");
  // Keep App Paths and "Third"; drop the rest.
  nlohmann::json kept = nlohmann::json::array();
  std::string keptRows;
  for (const auto& p : j["problems"])
    if (p["KeyName"] == "Third" || p["Section"] == "Application Paths") {
      kept.push_back(p);
      keptRows += row(p);
    }
  ASSERT_EQ(kept.size(), 2u);
  j["problems"] = kept;
  writePlan(dir / "edited.json", j);
  auto fix = runCli({"--target", target, "fix", "--plan", dir / "edited.json", "--yes"});
  ASSERT_EQ(fix.exitCode, 0) << fix.out << fix.err;
  EXPECT_NE(fix.out.find("Problems fixed: 2"), std::string::npos) << fix.out;
  std::string expected;
  std::size_t from = 0;
  for (std::size_t nl; (nl = beforeRows.find('\n', from)) != std::string::npos; from = nl + 1) {
    std::string line = beforeRows.substr(from, nl + 1 - from);
    if (keptRows.find(line) == std::string::npos) expected += line;
  }
  EXPECT_EQ(tsv(), expected);

  auto list = runCli({"--target", target, "backups", "list"});
  auto at = list.out.find("BrisquellBK");
  ASSERT_NE(at, std::string::npos) << list.out;
  std::string name = list.out.substr(at, list.out.find(' ', at) - at);
  auto restore = runCli({"--target", target, "restore", name, "--yes"});
  ASSERT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_EQ(exportReg(), before);
}

TEST_F(PlanCommandTest, WholeDemoPlanFixesEveryRecordAndRestoresByteForByte) {
  // The demo machine's checks test files that exist on the way to a missing one (an
  // uninstaller present, its script gone): only the missing ones are the plan's evidence.
  const std::string demo = dir / "demo";
  fs::copy(BRISQUELL_SOURCE_DIR "/examples/demo-machine", demo, fs::copy_options::recursive);
  target = demo;
  const std::string before = exportReg();
  auto scan =
      runCli({"--target", demo, "scan", "--deep", "--format", "json", "-o", dir / "d.json"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const auto total = nlohmann::json::parse(test::readText(dir / "d.json"))["total"].get<int>();
  auto fix = runCli({"--target", demo, "fix", "--plan", dir / "d.json", "--yes"});
  ASSERT_EQ(fix.exitCode, 0) << fix.out << fix.err;
  EXPECT_NE(fix.out.find("Problems fixed: " + std::to_string(total)), std::string::npos) << fix.out;
  EXPECT_EQ(runCli({"--target", demo, "scan", "--deep", "--format", "tsv"}).out, "");
  auto list = runCli({"--target", demo, "backups", "list"});
  auto at = list.out.find("BrisquellBK");
  ASSERT_NE(at, std::string::npos) << list.out;
  auto restore = runCli(
      {"--target", demo, "restore", list.out.substr(at, list.out.find(' ', at) - at), "--yes"});
  ASSERT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_EQ(exportReg(), before);
}

TEST_F(PlanCommandTest, RecordsChangedSinceThePlanAreSkippedAndNamed) {
  auto j = scanPlan(dir / "plan.json");
  // Changed data, a tested file that appeared, and a value seen twice with one listing dropped.
  test::writeText(dir / "change.reg",
                  "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                  "CurrentVersion\\Run]\r\n\"Broken\"=\"C:\\\\Missing\\\\run2.exe\"\r\n");
  ASSERT_EQ(runCli({"--target", target, "reg", "import", dir / "change.reg"}).exitCode, 0);
  test::writeText(dir / "m/drive_c/Folder/other.exe", "MZ");
  nlohmann::json kept = nlohmann::json::array();
  for (const auto& p : j["problems"])
    if (p["MainKeyName"] != "HKEY_CLASSES_ROOT") kept.push_back(p);
  j["problems"] = kept;
  writePlan(dir / "edited.json", j);
  auto fix = runCli({"--target", target, "fix", "--plan", dir / "edited.json", "--yes"});
  EXPECT_EQ(fix.exitCode, 1) << fix.out << fix.err;
  EXPECT_NE(fix.out.find("Run - Broken: skipped: changed since the plan: its data is not the same"),
            std::string::npos)
      << fix.out;
  EXPECT_NE(fix.out.find("Run - Other: skipped: changed since the plan: C:\\Folder\\other.exe "
                         "exists now"),
            std::string::npos)
      << fix.out;
  EXPECT_NE(fix.out.find("InprocServer32 - (Default): skipped: the scan listed this value 2 times"),
            std::string::npos)
      << fix.out;
  EXPECT_NE(fix.out.find("3 records of the plan skipped."), std::string::npos) << fix.out;
  // The rest were fixed: App Paths and Third are gone, the skipped ones stay.
  std::string rows = tsv();
  EXPECT_EQ(rows.find("gone.exe"), std::string::npos) << rows;
  EXPECT_EQ(rows.find("third.exe"), std::string::npos) << rows;
  EXPECT_NE(rows.find("run2.exe"), std::string::npos) << rows;
  EXPECT_NE(rows.find("a.dll"), std::string::npos) << rows;
}

TEST_F(PlanCommandTest, PlansOfOtherTargetsAndDamagedPlansChangeNothing) {
  auto j = scanPlan(dir / "plan.json");
  test::makeMachine(dir / "other", kMachine);
  const std::string before = test::readText(dir / "other/registry.reg");
  auto other = runCli({"--target", dir / "other", "fix", "--plan", dir / "plan.json", "--yes"});
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_NE(other.err.find("plan.json:1: the plan was made on the machine folder " +
                           fs::canonical(target).string()),
            std::string::npos)
      << other.err;
  EXPECT_NE(other.err.find("nothing was changed"), std::string::npos) << other.err;
  EXPECT_EQ(test::readText(dir / "other/registry.reg"), before);
  EXPECT_FALSE(fs::exists(dir / "other/drive_c/Program Files/Brisquell/Backup"));

  std::string text = test::readText(dir / "plan.json");
  text.replace(text.find("\"REG_SZ\""), 8, "\"REG_WHAT\"");
  test::writeText(dir / "bad.json", text);
  const std::string mine = test::readText(target + "/registry.reg");
  auto bad = runCli({"--target", target, "fix", "--plan", dir / "bad.json", "--yes"});
  EXPECT_EQ(bad.exitCode, 2);
  auto line = 1 + std::count(text.begin(), text.begin() + text.find("REG_WHAT"), '\n');
  EXPECT_NE(bad.err.find("bad.json:" + std::to_string(line) + ": \"valueType\" \"REG_WHAT\""),
            std::string::npos)
      << bad.err;
  EXPECT_EQ(test::readText(target + "/registry.reg"), mine);
  auto missing = runCli({"--target", target, "fix", "--plan", dir / "none.json", "--yes"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("none.json: the plan cannot be read"), std::string::npos);
}

}  // namespace
}  // namespace brisquell
