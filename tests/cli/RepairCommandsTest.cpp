// fix, backups, restore and report on the command line.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

using test::runCli;

struct RepairCommandsTest : ::testing::Test {
  void SetUp() override {
    test::makeMachine(
        dir / "m",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
        "Paths\\gone.exe]\r\n"
        "@=\"C:\\\\Missing\\\\gone.exe\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
        "\"Broken\"=\"C:\\\\Missing\\\\run.exe\"\r\n\"Number\"=dword:00000007\r\n\r\n");
    target = dir / "m";
  }
  std::string exportReg() { return runCli({"--target", target, "reg", "export"}).out; }
  test::TempDir dir;
  std::string target;
};

TEST_F(RepairCommandsTest, FixWithoutATerminalOrYesRefusesAndChangesNothing) {
  const std::string before = test::readText(target + "/registry.reg");
  auto r = runCli({"--target", target, "fix"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
  EXPECT_EQ(test::readText(target + "/registry.reg"), before);
  EXPECT_FALSE(fs::exists(target + "/drive_c/Program Files/Brisquell/Backup"));
}

TEST_F(RepairCommandsTest, FixListRestoreDeleteRoundTrip) {
  const std::string before = exportReg();
  auto fix = runCli({"--target", target, "fix", "--yes"});
  ASSERT_EQ(fix.exitCode, 0) << fix.err;
  EXPECT_NE(fix.out.find("Application Paths (1 Registry Problems)"), std::string::npos) << fix.out;
  EXPECT_NE(fix.out.find(
                "Brisquell will now fix your Windows Registry problems. Do you want to proceed?"),
            std::string::npos);
  EXPECT_NE(
      fix.out.find("Windows Registry has been cleaned.\n\nProblems found: 2\nProblems fixed: 2"),
      std::string::npos)
      << fix.out;
  EXPECT_NE(exportReg(), before);

  auto list = runCli({"--target", target, "backups"});
  ASSERT_EQ(list.exitCode, 0);
  std::size_t at = list.out.find("BrisquellBK");
  ASSERT_NE(at, std::string::npos) << list.out;
  std::string name = list.out.substr(at, list.out.find(' ', at) - at);
  EXPECT_NE(list.out.find(" at "), std::string::npos);
  EXPECT_NE(list.out.find("C:\\Program Files\\Brisquell\\Backup\\" + name), std::string::npos);

  auto refused = runCli({"--target", target, "restore", name});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("--yes"), std::string::npos);

  auto restore = runCli({"--target", target, "restore", name, "--yes"});
  ASSERT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_NE(restore.out.find(
                "Restoring: HKEY_LOCAL_MACHINE-SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run - "
                "Broken - C:\\Missing\\run.exe"),
            std::string::npos)
      << restore.out;
  EXPECT_NE(restore.out.find("Restore completed successfully."), std::string::npos);
  EXPECT_EQ(exportReg(), before);

  EXPECT_EQ(runCli({"--target", target, "restore", "BrisquellBKnothing.bkp", "--yes"}).exitCode, 1);
  auto del = runCli({"--target", target, "backups", "delete", name, "--yes"});
  EXPECT_EQ(del.exitCode, 0) << del.err;
  auto empty = runCli({"--target", target, "backups", "list"});
  EXPECT_NE(empty.out.find("Backup not found on your PC."), std::string::npos);
}

TEST_F(RepairCommandsTest, FixWithNoBackupWritesNoSetAndReportAppends) {
  auto report = runCli({"--target", target, "report", dir / "r.txt"});
  ASSERT_EQ(report.exitCode, 0) << report.err;
  EXPECT_EQ(report.out, "File has been saved at :" + (dir / "r.txt") + "\n");
  runCli({"--target", target, "report", dir / "r.txt"});
  std::string text = test::readText(dir / "r.txt");
  EXPECT_EQ(text.substr(0, 24), "Brisquell\r\n\r\n1->C:\\Missi");
  EXPECT_EQ(text.size() % 2, 0u);
  EXPECT_EQ(text.substr(0, text.size() / 2), text.substr(text.size() / 2));

  auto fix = runCli({"--target", target, "fix", "--yes", "--no-backup"});
  ASSERT_EQ(fix.exitCode, 0) << fix.err;
  EXPECT_FALSE(fs::exists(target + "/drive_c/Program Files/Brisquell/Backup"));
  auto again = runCli({"--target", target, "fix", "--yes"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_NE(
      again.out.find("There are no corrupted Windows Registry entries to be repaired on your PC."),
      std::string::npos);
}

}  // namespace
}  // namespace brisquell
