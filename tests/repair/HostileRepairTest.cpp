// Repair and restore handed what a hostile user would: names only of blanks, a value really
// named "(Default)", archives with links, bombs and names that lead away, and drives linked out
// of the target.
#ifndef _WIN32
#include <sys/mount.h>
#endif
#include <filesystem>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <zip.h>

#include "platform/RegFile.h"
#include "repair/BackupSet.h"
#include "repair/Repair.h"
#include "repair/Restore.h"
#include "repair/cInifile.h"
#include "scan/ScanDriver.h"
#include "support/Portable.h"
#include "support/ScriptedInterface.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

constexpr std::string_view kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::unique_ptr<Target> open(const std::string& folder) {
  auto opened = openTarget(folder);
  EXPECT_TRUE(opened) << opened.message();
  return opened ? std::move(opened).value() : nullptr;
}

std::string exportOf(const std::string& folder) {
  auto t = open(folder);
  return t ? exportReg(t->registry(), 0, "") : std::string();
}

RepairResult fix(const std::string& folder, test::ScriptedInterface& ui) {
  auto t = open(folder);
  ScanContext ctx(*t);
  runScan(ctx, ScanMode::Quick);
  Repair repair(ctx, ui);
  repair.setTakeBackup(true);
  return repair.cmdRepairCorruptFiles_Click();
}

RestoreResult restore(const std::string& folder, const std::string& bkp,
                      test::ScriptedInterface& ui) {
  auto t = open(folder);
  ScanContext ctx(*t);
  Restore r(ctx, ui);
  EXPECT_TRUE(r.cmdRestore_Click(bkp, nullptr));
  return r.cmdRestoreNow_Click();
}

bool hasValue(const std::string& folder, std::string_view key, std::string_view name) {
  auto t = open(folder);
  RegistryStore& s = t->registry();
  KeyHandle h = 0;
  if (s.openKey(hkey::LocalMachine, key, keyaccess::AllAccess, h) != Status::Success) return false;
  std::uint32_t type = 0;
  Bytes data;
  bool found = s.queryValueRaw(h, name, type, data) == Status::Success;
  s.closeKey(h);
  return found;
}

struct HostileRepairTest : ::testing::Test {
  void SetUp() override { folder = dir / "m"; }
  std::string backupHost(const std::string& name = "") {
    return folder + "/drive_c/Program Files/Brisquell/Backup" + (name.empty() ? "" : "/" + name);
  }
  test::TempDir dir;
  std::string folder;
};

TEST_F(HostileRepairTest, BlankNamesAndAValueNamedDefaultComeBackExactly) {
  // Three broken values whose names trimming or "(Default)" would lose, beside a working
  // unnamed value that must stay as it is.
  test::makeMachine(folder, fmt::format("[HKEY_LOCAL_MACHINE\\{}]\r\n"
                                        "@=\"C:\\\\Present\\\\ok.exe\"\r\n"
                                        "\" \"=\"C:\\\\Missing\\\\blank.exe\"\r\n"
                                        "\"\t\"=\"C:\\\\Missing\\\\tab.exe\"\r\n"
                                        "\"  two \"=\"C:\\\\Missing\\\\two.exe\"\r\n"
                                        "\"(Default)\"=\"C:\\\\Missing\\\\named.exe\"\r\n"
                                        "\"Quoted\"=\"\\\"C:\\\\Missing\\\\q.exe\\\"\"\r\n",
                                        kRun));
  test::writeText(folder + "/drive_c/Present/ok.exe", "x");
  const std::string before = exportOf(folder);

  test::ScriptedInterface ui;
  RepairResult r = fix(folder, ui);
  EXPECT_EQ(r.found, 5u);
  EXPECT_EQ(r.fixed, 5u);
  EXPECT_TRUE(r.failures.empty());
  for (std::string_view name : {" ", "\t", "  two ", "(Default)", "Quoted"})
    EXPECT_FALSE(hasValue(folder, kRun, name)) << "[" << name << "] stayed";
  EXPECT_TRUE(hasValue(folder, kRun, "")) << "the working unnamed value was touched";
  {
    auto t = open(folder);
    KeyHandle h = 0;
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(t->registry().openKey(hkey::LocalMachine, kRun, keyaccess::AllAccess, h),
              Status::Success);
    ASSERT_EQ(t->registry().queryValue(h, "", type, data), Status::Success);
    EXPECT_EQ(std::string(data.begin(), data.end()).substr(0, 17), "C:\\Present\\ok.exe");
    t->registry().closeKey(h);
  }

  // The records read back carry the names exactly and keep the unnamed value apart.
  {
    auto t = open(folder);
    cInifile ini(t->files());
    ini.setPath(r.backupFile);
    ProblemList records;
    std::vector<BackupSet::Original> originals;
    BackupSet::readRecords(ini, records, originals);
    ASSERT_EQ(records.size(), 5u);
    std::vector<std::string> names;
    for (const ProblemRecord& p : records.rows()) {
      EXPECT_FALSE(p.isFileProblem()) << "[" << p.KeyName << "]";
      EXPECT_FALSE(p.unnamed) << "[" << p.KeyName << "]";
      names.push_back(p.valueName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{" ", "\t", "  two ", "(Default)", "Quoted"}));
  }

  RestoreResult back = restore(folder, r.backupFile, ui);
  EXPECT_TRUE(back.failures.empty()) << back.failures.front();
  EXPECT_EQ(back.written, 5u);
  EXPECT_EQ(exportOf(folder), before);
}

TEST_F(HostileRepairTest, AnOlderSetThatLostABlankNameToTrimmingRestoresItFromTheExactCopy) {
  test::makeMachine(folder, fmt::format("[HKEY_LOCAL_MACHINE\\{}]\r\n", kRun));
  // Written as before names were quoted: the blank name reads back empty, the exact copy has it.
  test::writeText(backupHost("BrisquellBK300.bkp"),
                  fmt::format("[Backup Info]\r\nTime=12/8/2026 5:35:34 PM\r\n"
                              "[Restore: 1]\r\nMainKey=-2147483646\r\nKeyName= \r\n"
                              "KeyValue=C:\\x.exe\r\nSection=Windows Startup\r\n"
                              "FullKeyPath={}\r\nMainKeyName=HKEY_LOCAL_MACHINE\r\n"
                              "OriginalType=1\r\nOriginalData={}\r\nOriginalIndex=0\r\n"
                              "OriginalName={}\r\nOriginalKeyPath={}\r\n",
                              kRun, BackupSet::toHex(std::string("C\0:\0\0\0", 6)),
                              BackupSet::toHex(" "), BackupSet::toHex(kRun)));
  test::ScriptedInterface ui;
  RestoreResult r = restore(folder, "C:\\Program Files\\Brisquell\\Backup\\BrisquellBK300.bkp", ui);
  EXPECT_EQ(r.written, 1u);
  EXPECT_TRUE(hasValue(folder, kRun, " "));
  EXPECT_FALSE(hasValue(folder, kRun, ""));
}

// A backup set of shortcut records whose archive holds the given entries.
struct Entry {
  std::string name, body;
  bool link = false;
};
void writeSet(const std::string& backupFolder, const std::string& base,
              const std::vector<Entry>& entries) {
  std::string bkp = "[Backup Info]\r\nTime=12/8/2026 5:35:34 PM\r\n";
  for (std::size_t i = 0; i < entries.size(); ++i)
    bkp += fmt::format(
        "[Restore: {}]\r\nMainKey=Windows Shortcuts(Drive C:)\r\nKeyName=\r\n"
        "KeyValue=x\r\nFullKeyPath=C:\\{}\r\n",
        i + 1, entries[i].name);
  test::writeText(backupFolder + "/" + base + ".bkp", bkp);
  int code = 0;
  zip_t* z =
      zip_open((backupFolder + "/" + base + ".zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_TRUE(z);
  for (const Entry& e : entries) {
    zip_source_t* src = zip_source_buffer(z, e.body.data(), e.body.size(), 0);
    zip_int64_t at = zip_file_add(z, e.name.c_str(), src, ZIP_FL_ENC_UTF_8);
    ASSERT_GE(at, 0);
    if (e.link)
      zip_file_set_external_attributes(z, static_cast<zip_uint64_t>(at), 0, ZIP_OPSYS_UNIX,
                                       0120777u << 16);  // a Unix symbolic link
  }
  ASSERT_EQ(zip_close(z), 0);
}

TEST_F(HostileRepairTest, ArchiveLinksBombsAndLinkedFoldersWriteNothingOutside) {
  BRISQUELL_NEEDS_SYMLINKS();
  test::makeMachine(folder, "");
  fs::create_directories(dir / "outside");
  fs::create_directories(backupHost());
  fs::create_symlink(dir / "outside", folder + "/drive_c/Linked");  // a folder link out
  const std::string zeros(20 << 20, '\0');                          // deflates ~1000 to 1
  writeSet(backupHost(), "BrisquellBK400",
           {{"C/Links/evil.lnk", (dir / "outside/target.txt"), true},
            {"C/Linked/escaped.lnk", "through the folder link"},
            {"C/Bomb/bomb.lnk", zeros},
            {"C/ok/fine.lnk", "fine"}});
  test::ScriptedInterface ui;
  RestoreResult r = restore(folder, "C:\\Program Files\\Brisquell\\Backup\\BrisquellBK400.bkp", ui);
  EXPECT_EQ(test::readText(folder + "/drive_c/ok/fine.lnk"), "fine");
  ASSERT_EQ(r.failures.size(), 3u);
  EXPECT_NE(r.failures[0].find("symbolic link"), std::string::npos) << r.failures[0];
  EXPECT_NE(r.failures[1].find("Linked"), std::string::npos) << r.failures[1];
  EXPECT_NE(r.failures[2].find("would grow"), std::string::npos) << r.failures[2];
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/drive_c/Links/evil.lnk")));
  EXPECT_TRUE(fs::is_empty(dir / "outside"));
  EXPECT_FALSE(fs::exists(folder + "/drive_c/Bomb/bomb.lnk"));
  EXPECT_TRUE(ui.informed.empty());  // no success reported
}

TEST_F(HostileRepairTest, ARepairDeletesNothingThroughALinkOut) {
  BRISQUELL_NEEDS_SYMLINKS();
  // A shortcut record for a file reached through a folder link out of the drive.
  test::makeMachine(folder, "");
  test::writeText(dir / "outside/victim.lnk", "keep");
  fs::create_symlink(dir / "outside", folder + "/drive_c/Linked");
  auto t = open(folder);
  ScanContext ctx(*t);
  ctx.problems().add(ProblemRecord{"Windows Shortcuts(Drive C:)", "", "x -> C:\\Linked\\victim.lnk",
                                   "Windows Shortcuts(Drive C:)", "C:\\Linked\\victim.lnk", ""});
  test::ScriptedInterface ui;
  Repair repair(ctx, ui);
  repair.setTakeBackup(false);
  RepairResult r = repair.cmdRepairCorruptFiles_Click();
  EXPECT_EQ(r.fixed, 0u);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_EQ(test::readText(dir / "outside/victim.lnk"), "keep");
}

TEST_F(HostileRepairTest, APathThroughALinkOutOfTheDriveIsNeverReported) {
  BRISQUELL_NEEDS_SYMLINKS();
  test::makeMachine(folder, fmt::format("[HKEY_LOCAL_MACHINE\\{}]\r\n"
                                        "\"App\"=\"C:\\\\Linked\\\\app.exe\"\r\n",
                                        kRun));
  test::writeText(dir / "outside/app.exe", "x");
  fs::create_symlink(dir / "outside", folder + "/drive_c/Linked");
  auto t = open(folder);
  ScanContext ctx(*t);
  runScan(ctx, ScanMode::Quick);
  EXPECT_TRUE(ctx.problems().empty()) << ctx.problems()[0].KeyValue;
}

TEST_F(HostileRepairTest, AnEntryLargerThanTheFreeSpaceIsRefusedWithNothingWritten) {
  const std::string vol = dir / "vol";
  fs::create_directories(vol);
  BRISQUELL_SKIP_ON_WINDOWS("a small volume of its own is mounted as tmpfs");
#ifndef _WIN32
  if (::mount("tmpfs", vol.c_str(), "tmpfs", 0, "size=3m") != 0)
    GTEST_SKIP() << "no tmpfs can be mounted here";
#endif
  folder = vol + "/m";
  test::makeMachine(folder, "");
  fs::create_directories(backupHost());
  std::string noise(1800 * 1024, '\0');  // does not compress: the archive is as large
  std::uint32_t x = 12345;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  writeSet(backupHost(), "BrisquellBK500", {{"C/Big/big.lnk", noise}, {"C/ok/fine.lnk", "fine"}});
  test::ScriptedInterface ui;
  RestoreResult r = restore(folder, "C:\\Program Files\\Brisquell\\Backup\\BrisquellBK500.bkp", ui);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_NE(r.failures[0].find("free"), std::string::npos) << r.failures[0];
  EXPECT_FALSE(fs::exists(folder + "/drive_c/Big/big.lnk"));
  EXPECT_EQ(test::readText(folder + "/drive_c/ok/fine.lnk"), "fine");
#ifndef _WIN32
  ::umount2(vol.c_str(), MNT_DETACH);
#endif
}

}  // namespace
}  // namespace brisquell
