// The ignore list from the outside: kept in the target's registry, left out of scans (and
// counted), shown again with --no-ignore, and bad keys refused.
#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::runCli;

const char* kMachine =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
    "\"Broken\"=\"C:\\\\Missing\\\\run.exe\"\r\n"
    "\"Kept\"=\"C:\\\\Missing\\\\kept.exe\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\r\n"
    "@=\"C:\\\\Missing\\\\a.dll\"\r\n\r\n";

TEST(IgnoreCommand, IgnoredEntriesAreLeftOutCountedAndKeptInTheTarget) {
  test::TempDir dir;
  const std::string m = dir / "m";
  test::makeMachine(m, kMachine);
  auto tsv = [&](bool all) {
    std::vector<std::string> args = {"--target", m, "scan", "--format", "tsv"};
    if (all) args.push_back("--no-ignore");
    return runCli(args);
  };
  const std::string everything = tsv(false).out;
  ASSERT_EQ(std::count(everything.begin(), everything.end(), '\n'), 4) << everything;

  // A value, and a whole key given through HKCR that also covers HKLM\SOFTWARE\Classes.
  auto add = runCli({"--target", m, "ignore", "add",
                     "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Broken"});
  ASSERT_EQ(add.exitCode, 0) << add.err;
  EXPECT_EQ(add.out,
            "Ignored: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run  "
            "Broken\n");
  ASSERT_EQ(runCli({"--target", m, "ignore", "add", "HKEY_CLASSES_ROOT\\CLSID"}).exitCode, 0);
  auto again = runCli({"--target", m, "ignore", "add", "HKCR\\CLSID\\"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_NE(again.out.find("Already ignored"), std::string::npos) << again.out;
  // Stored under the product key, as text values.
  auto stored =
      runCli({"--target", m, "reg", "export", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quandrel Technology"});
  std::erase(stored.out, '\0');  // the export is UTF-16
  EXPECT_NE(stored.out.find("Brisquell\\Ignore\\2]\r\n\"Key\"=\"HKEY_CLASSES_ROOT\\\\CLSID\""),
            std::string::npos)
      << stored.out;

  auto left = tsv(false);
  EXPECT_EQ(left.out.find("run.exe"), std::string::npos) << left.out;
  EXPECT_EQ(left.out.find("a.dll"), std::string::npos) << left.out;
  EXPECT_NE(left.out.find("kept.exe"), std::string::npos) << left.out;
  EXPECT_NE(left.err.find("3 ignored entries left out (scan --no-ignore shows them)."),
            std::string::npos)
      << left.err;
  auto text = runCli({"--target", m, "scan"});
  EXPECT_NE(text.out.find("3 ignored entries left out"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("1 problem found."), std::string::npos) << text.out;
  auto json = nlohmann::json::parse(runCli({"--target", m, "scan", "--format", "json"}).out);
  EXPECT_EQ(json["leftOut"], 3);
  EXPECT_EQ(tsv(true).out, everything);

  auto list = runCli({"--target", m, "ignore", "list", "--format", "json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  auto j = nlohmann::json::parse(list.out);
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0]["value"], "Broken");
  EXPECT_TRUE(j[1]["value"].is_null());

  EXPECT_EQ(runCli({"--target", m, "ignore", "remove", "HKCR\\CLSID"}).exitCode, 0);
  auto gone = runCli({"--target", m, "ignore", "remove", "HKCR\\CLSID"});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_NE(gone.out.find("Not in the ignore list"), std::string::npos) << gone.out;
  EXPECT_NE(tsv(false).out.find("a.dll"), std::string::npos);
  EXPECT_EQ(runCli({"--target", m, "ignore", "list"}).out,
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run  Broken\n");

  const std::string before = test::readText(m + "/registry.reg");
  auto bad = runCli({"--target", m, "ignore", "add", "HKEY_NOWHERE\\x"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("\"HKEY_NOWHERE\\x\" is no registry key"), std::string::npos) << bad.err;
  EXPECT_EQ(test::readText(m + "/registry.reg"), before);
}

}  // namespace
}  // namespace brisquell
