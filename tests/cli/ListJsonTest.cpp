// --format json on the list commands: the same facts as the text tables, machine-readable.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::runCli;

TEST(ListJson, BackupsStartupAndSettingsListAsJson) {
  test::TempDir dir;
  const std::string m = dir / "m";
  test::makeMachine(m,
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
                    "\"Broken\"=\"C:\\\\Missing\\\\run.exe /x\"\r\n\r\n");
  auto json = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--target", m});
    args.insert(args.end(), {"--format", "json"});
    auto r = runCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return nlohmann::json::parse(r.out);
  };
  EXPECT_EQ(json({"backups", "list"}), nlohmann::json::array());
  auto startup = json({"startup", "list"});
  ASSERT_EQ(startup.size(), 1u) << startup;
  EXPECT_EQ(startup[0]["name"], "Broken");
  EXPECT_EQ(startup[0]["command"], "C:\\Missing\\run.exe /x");
  EXPECT_EQ(startup[0]["runs"], true);
  EXPECT_EQ(startup[0]["root"], "HKEY_LOCAL_MACHINE");

  ASSERT_EQ(runCli({"--target", m, "settings", "set", "Menu3", "False"}).exitCode, 0);
  auto settings = json({"settings", "list"});
  EXPECT_EQ(settings["chkTakeBackup"], "True");
  EXPECT_EQ(settings["Menu3"], "False");
  auto text = runCli({"--target", m, "settings", "list", "--format", "json"}).out;
  EXPECT_LT(text.find("chkTakeBackup"), text.find("Menu0")) << text;  // table order, as the text

  ASSERT_EQ(runCli({"--target", m, "fix", "--yes"}).exitCode, 0);
  auto backups = json({"backups", "list"});
  ASSERT_EQ(backups.size(), 1u) << backups;
  EXPECT_EQ(backups[0]["name"].get<std::string>().rfind("BrisquellBK", 0), 0u) << backups;
  EXPECT_TRUE(backups[0]["dateTime"].is_string()) << backups;
  EXPECT_NE(backups[0]["path"].get<std::string>().find("\\Backup\\"), std::string::npos);
  EXPECT_EQ(json({"ignore", "list"}), nlohmann::json::array());
  EXPECT_EQ(runCli({"--target", m, "backups", "list", "--format", "xml"}).exitCode, 2);
}

}  // namespace
}  // namespace brisquell
