// Several targets at once: repeated --target and --targets-under, output grouped per target,
// one bad target reported while the others go on, and fix --plan over a plan of several.
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
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
    "\"Broken\"=\"C:\\\\Missing\\\\run.exe\"\r\n\r\n";

TEST(ManyTargets, ScansReportAndFixesEachTargetAndGoOnPastABadOne) {
  test::TempDir dir;
  // A library as Steam keeps one: compatdata/<id>/pfx; one prefix is damaged.
  const std::string lib = dir / "compatdata";
  test::makeMachine(lib + "/10/pfx", kMachine);
  test::makeMachine(lib + "/20/pfx", kMachine);
  test::writeText(lib + "/15/pfx/system.reg", "not a registry");
  fs::create_directories(lib + "/tmp");  // neither a pfx nor a target: not taken

  auto json = runCli({"--targets-under", lib, "scan", "--format", "json"});
  EXPECT_EQ(json.exitCode, 1) << json.err;
  EXPECT_NE(test::slashed(json.err).find(test::slashed(lib + "/15/pfx")), std::string::npos)
      << json.err;
  auto j = nlohmann::json::parse(json.out);
  ASSERT_EQ(j["targets"].size(), 2u) << json.out;
  EXPECT_EQ(j["targets"][0]["target"]["location"], fs::canonical(lib + "/10/pfx").string());
  EXPECT_EQ(j["targets"][1]["target"]["location"], fs::canonical(lib + "/20/pfx").string());
  EXPECT_EQ(j["targets"][1]["total"], 1);
  ASSERT_EQ(j["failed"].size(), 1u);
  EXPECT_EQ(test::slashed(j["failed"][0]["folder"]), test::slashed(lib + "/15/pfx"));

  auto text = runCli({"--target", lib + "/10/pfx", "--target", lib + "/20/pfx", "scan"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  auto first = text.out.find("== " + lib + "/10/pfx (machine folder) ==");
  auto second = text.out.find("== " + lib + "/20/pfx (machine folder) ==");
  ASSERT_NE(first, std::string::npos) << text.out;
  ASSERT_NE(second, std::string::npos) << text.out;
  EXPECT_LT(first, second);
  auto tsv =
      runCli({"--target", lib + "/10/pfx", "--target", lib + "/20/pfx", "scan", "--format", "tsv"});
  EXPECT_EQ(tsv.out.rfind(lib + "/10/pfx\t-2147483646\tBroken", 0), 0u) << tsv.out;

  auto report = runCli(
      {"--target", lib + "/10/pfx", "--target", lib + "/20/pfx", "report", dir / "report.txt"});
  EXPECT_EQ(report.exitCode, 0) << report.err;
  EXPECT_NE(report.out.find("== " + lib + "/20/pfx =="), std::string::npos) << report.out;
  const std::string written = test::readText(dir / "report.txt");
  std::size_t reported = 0;
  for (auto at = written.find("run.exe"); at != std::string::npos;
       at = written.find("run.exe", at + 1))
    ++reported;
  EXPECT_EQ(reported, 2u) << written;  // each target's problem, appended in turn

  // One plan for both prefixes: fix --plan repairs each in its own target.
  auto plan = runCli({"--targets-under", lib, "scan", "--format", "json", "-o", dir / "p.json"});
  EXPECT_EQ(plan.exitCode, 1);
  auto fix = runCli({"--target", lib + "/10/pfx", "--target", lib + "/20/pfx", "fix", "--plan",
                     dir / "p.json", "--yes"});
  EXPECT_EQ(fix.exitCode, 0) << fix.out << fix.err;
  for (const char* id : {"10", "20"})
    EXPECT_EQ(runCli({"--target", lib + "/" + id + "/pfx", "scan", "--format", "tsv"}).out, "");

  // Commands that take one target say so.
  auto two = runCli({"--target", lib + "/10/pfx", "--target", lib + "/20/pfx", "settings"});
  EXPECT_EQ(two.exitCode, 2);
  EXPECT_NE(two.err.find("only scan, report and fix --plan work on several targets"),
            std::string::npos);
  EXPECT_EQ(runCli({"--targets-under", dir / "none", "scan"}).exitCode, 2);
}

}  // namespace
}  // namespace brisquell
