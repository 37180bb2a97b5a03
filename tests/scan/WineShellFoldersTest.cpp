// Wine links the profile's Desktop and Documents to the host user's home: the deep scan walks
// them (and no link below them), and a shortcut removed there is backed up and restored.
#include <filesystem>

#include <gtest/gtest.h>

#include "LnkWriter.h"
#include "repair/Repair.h"
#include "repair/Restore.h"
#include "repair/ResultsTree.h"
#include "scan/ScanDriver.h"
#include "support/Portable.h"
#include "support/ScriptedInterface.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

using test::TempDir;
using test::writeText;

const std::string kSystem =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n"
    "\n#arch=win64\n";
const std::string kUser =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n#arch=win64\n\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1702194095\n"
    "#time=1da2b3c4d5e6f70\n"
    "\"AppData\"=\"C:\\\\users\\\\alice\\\\AppData\\\\Roaming\"\n";

void writeBytes(const std::string& path, const Bytes& b) {
  writeText(path, std::string(b.begin(), b.end()));
}

struct LinkedPrefix {
  TempDir prefix, home;
  LinkedPrefix() {
    writeText(prefix / "system.reg", kSystem);
    writeText(prefix / "user.reg", kUser);
    fs::create_directories(prefix / "drive_c/windows/system32");
    fs::create_directories(prefix / "drive_c/users/alice/AppData/Roaming");
    fs::create_directories(prefix / "drive_c/Program Files/Brisquell");
    fs::create_directories(prefix / "dosdevices");
    fs::create_symlink("../drive_c", prefix / "dosdevices/c:");
    writeText(prefix / "drive_c/windows/notepad.exe", "x");
    // The profile's folders as winecfg links them, and one that stays inside the prefix.
    fs::create_directories(home / "Desktop");
    fs::create_directories(home / "Documents/Deep");
    fs::create_directories(home / "Elsewhere");
    fs::create_symlink(home / "Desktop", prefix / "drive_c/users/alice/Desktop");
    fs::create_symlink(home / "Documents", prefix / "drive_c/users/alice/Documents");
    fs::create_symlink("../../windows", prefix / "drive_c/users/alice/Inside");
    writeBytes(home / "Desktop/Gone.lnk", makeShortcut("C:\\Old\\gone.exe"));
    writeBytes(home / "Desktop/Works.lnk", makeShortcut("C:\\windows\\notepad.exe"));
    writeBytes(home / "Documents/Deep/Sub.lnk", makeShortcut("C:\\Old\\sub.exe"));
    // A link inside a linked folder is not followed: what it leads to is not the machine's.
    writeBytes(home / "Elsewhere/Far.lnk", makeShortcut("C:\\Old\\far.exe"));
    fs::create_symlink(home / "Elsewhere", home / "Desktop/Elsewhere");
  }
  std::unique_ptr<Target> open() {
    auto t = openTarget(prefix.path());
    EXPECT_TRUE(t) << t.message();
    return t ? std::move(t).value() : nullptr;
  }
};

std::vector<std::string> shortcutRows(ScanContext& ctx) {
  std::vector<std::string> out;
  for (const auto& r : ctx.problems().rows())
    if (r.isFileProblem()) out.push_back(r.FullKeyPath);
  return out;
}

TEST(WineShellFolders, TheProfilesLinkedFoldersAreWalkedAndNothingLinkedBelowThem) {
  BRISQUELL_NEEDS_SYMLINKS();
  LinkedPrefix p;
  auto t = p.open();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->linkedShellFolders(),
            (std::vector<std::string>{"C:\\users\\alice\\Desktop", "C:\\users\\alice\\Documents"}));
  ScanContext ctx(*t);
  runScan(ctx, ScanMode::Deep);
  EXPECT_EQ(shortcutRows(ctx),
            (std::vector<std::string>{"C:\\users\\alice\\Desktop\\Gone.lnk",
                                      "C:\\users\\alice\\Documents\\Deep\\Sub.lnk"}));
  // A machine folder lists none: its links stay unwalked as before.
  TempDir m;
  test::makeMachine(m.path(), "");
  auto machine = std::move(openTarget(m.path())).value();
  EXPECT_TRUE(machine->linkedShellFolders().empty());
}

TEST(WineShellFolders, AShortcutRemovedFromTheHomeFolderIsArchivedAndComesBackExactly) {
  BRISQUELL_NEEDS_SYMLINKS();
  LinkedPrefix p;
  const std::string host = p.home / "Desktop/Gone.lnk";
  const std::string before = test::readText(host);
  std::string backup;
  {
    auto t = p.open();
    ASSERT_TRUE(t);
    ScanContext ctx(*t);
    runScan(ctx, ScanMode::Deep);
    for (auto& r : ctx.problems().rows()) r.checked = r.FullKeyPath.ends_with("Gone.lnk");
    test::ScriptedInterface ui;
    Repair repair(ctx, ui);
    repair.setTakeBackup(true);
    RepairResult r = repair.cmdRepairCorruptFiles_Click();
    ASSERT_EQ(r.outcome, RepairResult::Outcome::Done) << r.error;
    EXPECT_EQ(r.fixed, 1u);
    EXPECT_FALSE(r.archiveFile.empty());
    backup = r.backupFile;
  }
  EXPECT_FALSE(fs::exists(host));
  EXPECT_TRUE(fs::exists(p.home / "Documents/Deep/Sub.lnk"));
  EXPECT_TRUE(fs::is_symlink(p.prefix / "drive_c/users/alice/Desktop"));

  auto t = p.open();
  ScanContext ctx(*t);
  test::ScriptedInterface ui;
  Restore restore(ctx, ui);
  ResultsTree tree;
  ASSERT_TRUE(restore.cmdRestore_Click(backup, &tree));
  RestoreResult r = restore.cmdRestoreNow_Click();
  EXPECT_TRUE(r.failures.empty());
  ASSERT_TRUE(fs::exists(host));
  EXPECT_EQ(test::readText(host), before);
  EXPECT_TRUE(fs::is_symlink(p.prefix / "drive_c/users/alice/Desktop"));
}

}  // namespace
}  // namespace brisquell
