// Repair, restore and report on machine folders: exact round trips, the backup before every
// deletion, honest counts, and archive entries kept on the target's drives.
#include <filesystem>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <zip.h>

#include "LnkWriter.h"
#include "platform/RegFile.h"
#include "platform/TargetChanges.h"
#include "repair/BackupArchive.h"
#include "repair/Repair.h"
#include "repair/Report.h"
#include "repair/Restore.h"
#include "repair/cInifile.h"
#include "scan/ScanDriver.h"
#include "shell/Settings.h"
#include "support/ForwardingStore.h"
#include "support/GatedTarget.h"
#include "support/ScriptedInterface.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

// A .reg value line with data given as bytes of a stored type (UTF-16LE for the text types).
std::string hexLine(std::string_view name, std::uint32_t type, const std::string& utf8) {
  Bytes b = isTextType(type) ? toUtf16le(utf8) : Bytes(utf8.begin(), utf8.end());
  std::string s = fmt::format("\"{}\"=hex({}):", name, type);
  for (std::size_t i = 0; i < b.size(); ++i) s += fmt::format("{}{:02x}", i ? "," : "", b[i]);
  return s + "\r\n";
}

std::string richRegistry() {
  using namespace std::string_literals;
  return "[HKEY_CLASSES_ROOT\\CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32]\r\n"
         "@=\"C:\\\\Missing\\\\gone.dll\"\r\n\"ThreadingModel\"=\"Apartment\"\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\TypeLib\\{22222222-0000-0000-0000-000000000002}\\1.0\\0\\HELPDIR]"
         "\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
         "zzz\\OpenWithList]\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
         "Paths\\gone.exe]\r\n"
         "@=\"C:\\\\Missing\\\\gone.exe\"\r\n\"Path\"=\"C:\\\\Missing\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
         "\"First\"=\"C:\\\\Present\\\\ok.exe\"\r\n" +
         hexLine("Multi", regtype::MultiSz, "C:\\Missing\\multi.exe\0second\0\0"s) +
         "\"Broken\"=\"C:\\\\Missing\\\\run.exe\"\r\n" +
         hexLine("Lines", regtype::Sz, "C:\\Missing\\lines.exe\r\nsecond line\0"s) +
         "\"Number\"=dword:0000002a\r\n\"Last\"=\"C:\\\\Present\\\\ok.exe\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\r\n"
         "\"C:\\\\Missing\\\\shared.dll\"=dword:00000001\r\n\"C:\\\\Present\\\\ok.dll\"=dword:"
         "00000002\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help]\r\n"
         "\"gone.hlp\"=\"C:\\\\Missing\"\r\n\r\n";
}

std::string exportOf(const std::string& folder) {
  auto tOpened = openTarget(folder);
  auto t = tOpened ? std::move(tOpened).value() : nullptr;
  EXPECT_TRUE(t) << tOpened.message();
  return t ? exportReg(t->registry(), 0, "") : std::string();
}

struct FixRun {
  RepairResult result;
  ProblemList problems;
  test::ScriptedInterface ui;
};

void fix(const std::string& folder, ScanMode mode, std::optional<bool> backup, FixRun& run,
         const std::function<void(ScanContext&)>& adjust = nullptr) {
  auto tOpened = openTarget(folder);
  auto t = tOpened ? std::move(tOpened).value() : nullptr;
  ASSERT_TRUE(t) << tOpened.message();
  ScanContext ctx(*t);
  runScan(ctx, mode);
  if (adjust) adjust(ctx);
  Repair repair(ctx, run.ui);
  repair.setTakeBackup(backup);
  run.result = repair.cmdRepairCorruptFiles_Click();
  run.problems = ctx.problems();
}

RestoreResult restore(const std::string& folder, const std::string& bkpPath,
                      test::ScriptedInterface& ui, std::vector<std::string>* status = nullptr) {
  auto tOpened = openTarget(folder);
  auto t = tOpened ? std::move(tOpened).value() : nullptr;
  EXPECT_TRUE(t) << tOpened.message();
  ScanContext ctx(*t);
  Restore r(ctx, ui);
  ResultsTree tree;
  EXPECT_TRUE(r.cmdRestore_Click(bkpPath, &tree));
  if (status) r.setStatus([status](std::string_view s) { status->emplace_back(s); });
  return r.cmdRestoreNow_Click();
}

struct RepairRestoreTest : ::testing::Test {
  void SetUp() override {
    test::makeMachine(dir / "m", richRegistry());
    test::writeText(dir / "m/drive_c/Present/ok.exe", "x");
    test::writeText(dir / "m/drive_c/Present/ok.dll", "x");
    folder = dir / "m";
  }
  std::string backupHost(const std::string& name = "") {
    return folder + "/drive_c/Program Files/Brisquell/Backup" + (name.empty() ? "" : "/" + name);
  }
  test::TempDir dir;
  std::string folder;
};

TEST_F(RepairRestoreTest, FixThenRestoreGivesAByteIdenticalExportQuickAndDeep) {
  for (ScanMode mode : {ScanMode::Quick, ScanMode::Deep}) {
    SCOPED_TRACE(mode == ScanMode::Quick ? "quick" : "deep");
    fs::remove_all(backupHost());
    const std::string before = exportOf(folder);
    FixRun run;
    fix(folder, mode, true, run);
    ASSERT_EQ(run.result.outcome, RepairResult::Outcome::Done);
    ASSERT_GE(run.result.found, 8u);
    EXPECT_EQ(run.result.fixed, run.result.found);
    EXPECT_TRUE(run.result.failures.empty());
    EXPECT_EQ(run.ui.informed.back(), Repair::endMessage(run.result.found, run.result.found));
    const std::string fixedExport = exportOf(folder);
    EXPECT_NE(fixedExport, before);
    EXPECT_EQ(fixedExport.find("m\0u\0l\0t\0i\0.\0e\0x\0e", 0, 18), std::string::npos);
    ASSERT_FALSE(run.result.backupFile.empty());
    test::ScriptedInterface ui;
    RestoreResult r = restore(folder, run.result.backupFile, ui);
    EXPECT_TRUE(r.failures.empty()) << r.failures.front();
    EXPECT_EQ(ui.informed.back(), "Restore completed successfully.");
    EXPECT_EQ(exportOf(folder), before);

    // Without a backup the run deletes the same and leaves no backup set.
    fs::remove_all(backupHost());
    FixRun plain;
    fix(folder, mode, false, plain);
    EXPECT_EQ(plain.result.fixed, run.result.fixed);
    EXPECT_TRUE(plain.result.backupFile.empty());
    EXPECT_FALSE(fs::exists(backupHost()));
    EXPECT_EQ(exportOf(folder), fixedExport);
    test::makeMachine(folder, richRegistry());  // afresh for the next mode
  }
}

TEST_F(RepairRestoreTest, AKeyOfThousandsOfValuesGetsEveryOneBackInItsPlace) {
  // The Run key once more: 5,000 values after its own, broken ones among them and at both
  // ends, of mixed spellings and types, so nearly the whole key is put back in order.
  std::string run = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n";
  for (int i = 0; i < 5000; ++i) {
    bool broken = i == 0 || i % 397 == 5 || i == 4999;
    std::string name = (i % 2 ? "item" : "ITEM") + fmt::format("{:04}", i);
    const char* where = broken ? "Missing" : "Present";
    run += i % 3 ? fmt::format("\"{}\"=\"C:\\\\{}\\\\ok.exe\"\r\n", name, where)
                 : hexLine(name, regtype::ExpandSz,
                           fmt::format("C:\\{}\\ok.exe", where) + std::string(1, '\0'));
  }
  test::makeMachine(folder, richRegistry() + run + "\r\n");
  const std::string before = exportOf(folder);
  FixRun run1;
  fix(folder, ScanMode::Quick, true, run1);
  ASSERT_EQ(run1.result.outcome, RepairResult::Outcome::Done);
  std::size_t inRun = 0;
  for (const ProblemRecord& r : run1.problems.rows()) inRun += r.FullKeyPath.ends_with("\\Run");
  EXPECT_GE(inRun, 2u + 10u);  // the plain strings of them, its own two and ten of ours
  EXPECT_TRUE(run1.result.failures.empty());
  ASSERT_NE(exportOf(folder), before);
  test::ScriptedInterface ui;
  RestoreResult r = restore(folder, run1.result.backupFile, ui);
  EXPECT_TRUE(r.failures.empty()) << r.failures.front();
  EXPECT_EQ(exportOf(folder), before);
}

TEST_F(RepairRestoreTest, TheDemoMachineRoundTripsQuickAndDeepWithAndWithoutBackup) {
  for (ScanMode mode : {ScanMode::Quick, ScanMode::Deep}) {
    test::TempDir scratch;
    fs::copy(BRISQUELL_SOURCE_DIR "/examples/demo-machine", scratch.path(),
             fs::copy_options::recursive);
    test::TempDir scratch2;
    fs::copy(BRISQUELL_SOURCE_DIR "/examples/demo-machine", scratch2.path(),
             fs::copy_options::recursive);
    const std::string before = exportOf(scratch.path());
    FixRun run, plain;
    fix(scratch.path(), mode, true, run);
    fix(scratch2.path(), mode, false, plain);
    EXPECT_EQ(exportOf(scratch.path()), exportOf(scratch2.path()));
    EXPECT_EQ(run.result.fixed, plain.result.fixed);
    EXPECT_TRUE(run.result.failures.empty());
    if (run.result.outcome == RepairResult::Outcome::NothingToRepair) continue;
    test::ScriptedInterface ui;
    RestoreResult r = restore(scratch.path(), run.result.backupFile, ui);
    EXPECT_TRUE(r.failures.empty());
    EXPECT_EQ(exportOf(scratch.path()), before);
  }
}

TEST_F(RepairRestoreTest, AValueListedTwiceKeepsItsOriginalInBothRecordsAndCountsOnce) {
  FixRun run;
  fix(folder, ScanMode::Quick, true, run);
  std::vector<std::size_t> com;
  for (std::size_t i = 0; i < run.problems.size(); ++i)
    if (run.problems[i].KeyValue == "C:\\Missing\\gone.dll") com.push_back(i);
  ASSERT_EQ(com.size(), 2u);  // through hkey::ClassesRoot and through SOFTWARE\Classes
  EXPECT_NE(run.problems[com[0]].MainKey, run.problems[com[1]].MainKey);
  EXPECT_EQ(run.result.fixed, run.result.found);  // the second finds it gone: fixed, not failed

  auto tOpened = openTarget(folder);
  auto t = tOpened ? std::move(tOpened).value() : nullptr;
  cInifile ini(t->files());
  ini.setPath(run.result.backupFile);
  ProblemList list;
  std::vector<BackupSet::Original> originals;
  BackupSet::readRecords(ini, list, originals);
  ASSERT_EQ(list.size(), run.problems.size());
  for (std::size_t i : com) {
    EXPECT_TRUE(originals[i].known && originals[i].existed);
    EXPECT_EQ(originals[i].type, regtype::Sz);
    EXPECT_EQ(fromUtf16le(originals[i].data), std::string("C:\\Missing\\gone.dll\0", 20));
  }
  // Registry Integrity and File Extensions blank a value that did not exist: restore removes it.
  bool sawCreated = false;
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].Section == "Registry Integrity") sawCreated = !originals[i].existed;
  EXPECT_TRUE(sawCreated);
}

TEST_F(RepairRestoreTest, ABackupThatCannotBeWrittenStopsTheRunBeforeAnyDeletion) {
  test::writeText(folder + "/drive_c/Program Files/Brisquell/Backup", "a file in the way");
  test::writeText(folder + "/drive_c/Links/a.lnk", "shortcut");
  const std::string before = exportOf(folder);
  FixRun run;
  fix(folder, ScanMode::Quick, true, run, [](ScanContext& ctx) {
    ctx.problems().add(ProblemRecord{"Windows Shortcuts(Drive C:)", "", "C:\\x -> C:\\Links\\a.lnk",
                                     "Windows Shortcuts(Drive C:)", "C:\\Links\\a.lnk", ""});
  });
  EXPECT_EQ(run.result.outcome, RepairResult::Outcome::BackupFailed);
  EXPECT_EQ(run.result.fixed, 0u);
  ASSERT_EQ(run.ui.warned.size(), 1u);
  EXPECT_NE(run.ui.warned[0].find("Nothing has been deleted."), std::string::npos);
  EXPECT_EQ(exportOf(folder), before);
  EXPECT_TRUE(fs::exists(folder + "/drive_c/Links/a.lnk"));
}

TEST_F(RepairRestoreTest, ShortcutFilesAreArchivedBeforeDeletionAndComeBackExactly) {
  const std::string bytes("L\0\0\0\x01\x14\x02\0binary\r\n", 16);
  test::writeText(folder + "/drive_c/Documents and Settings/user/Desktop/Game.lnk", bytes);
  test::writeText(folder + "/drive_c/Links/Other.LNK", "other");
  fs::create_directories(folder + "/drive_c/Links/folder.lnk");
  auto add = [](ScanContext& ctx) {
    ctx.problems().clear();
    for (const char* p :
         {"C:\\Documents and Settings\\user\\Desktop\\Game.lnk", "C:\\Links\\other.lnk",
          "C:\\Links\\vanished.lnk", "C:\\Links\\folder.lnk"})
      ctx.problems().add(ProblemRecord{"Windows Shortcuts(Drive C:)", "",
                                       std::string("C:\\t.exe -> ") + p,
                                       "Windows Shortcuts(Drive C:)", p, ""});
  };
  FixRun run;
  fix(folder, ScanMode::Quick, true, run, add);
  EXPECT_EQ(run.result.found, 4u);
  EXPECT_EQ(run.result.fixed, 3u);  // the folder cannot be taken by the backup, so it stays
  ASSERT_EQ(run.result.failures.size(), 1u);
  EXPECT_NE(run.result.failures[0].find("folder.lnk"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder + "/drive_c/Documents and Settings/user/Desktop/Game.lnk"));
  EXPECT_FALSE(fs::exists(folder + "/drive_c/Links/Other.LNK"));
  ASSERT_EQ(run.result.archiveFile, BackupSet::archivePathOf(run.result.backupFile));

  test::ScriptedInterface ui;
  RestoreResult r = restore(folder, run.result.backupFile, ui);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(r.restoredFiles.size(), 2u);
  EXPECT_EQ(test::readText(folder + "/drive_c/Documents and Settings/user/Desktop/Game.lnk"),
            bytes);
  EXPECT_EQ(test::readText(folder + "/drive_c/Links/Other.LNK"), "other");

  FixRun plain;  // without a backup the files go at once and no archive is written
  fix(folder, ScanMode::Quick, false, plain, add);
  EXPECT_EQ(plain.result.fixed, 3u);
  EXPECT_TRUE(plain.result.archiveFile.empty());
  EXPECT_FALSE(fs::exists(folder + "/drive_c/Links/Other.LNK"));
}

// Refuses to delete one value name, as a registry without the right to do so would.
class RefusingStore final : public test::ForwardingStore {
 public:
  RefusingStore(RegistryStore& s, std::string refused)
      : ForwardingStore(s), refused_(std::move(refused)) {}
  Status deleteValue(KeyHandle k, std::string_view n) override {
    return iequals(n, refused_) ? Status::AccessDenied : s_.deleteValue(k, n);
  }

 private:
  std::string refused_;
};

class RefusingTarget final : public Target {
 public:
  RefusingTarget(std::unique_ptr<Target> t, std::string refused, bool live = false)
      : t_(std::move(t)), store_(t_->registry(), std::move(refused)), live_(live) {}
  bool changesAtOnce() const override { return live_; }
  std::string kind() const override { return t_->kind(); }
  std::string location() const override { return t_->location(); }
  RegistryStore& registry() override { return store_; }
  FileSystem& files() override { return t_->files(); }
  ShortcutReader& shortcuts() override { return t_->shortcuts(); }
  const MachineInfo& machine() const override { return t_->machine(); }
  Outcome save() override { return t_->save(); }
  Outcome reload() override { return t_->reload(); }

 private:
  std::unique_ptr<Target> t_;
  RefusingStore store_;
  bool live_;
};

TEST_F(RepairRestoreTest, AValueTheRegistryKeepsIsNamedAndNotCounted) {
  RefusingTarget t(std::move(openTarget(folder)).value(), "Broken");
  ScanContext ctx(t);
  runScan(ctx, ScanMode::Quick);
  test::ScriptedInterface ui;
  Repair repair(ctx, ui);
  std::vector<std::size_t> progress;
  repair.setProgress([&](std::size_t n) { progress.push_back(n); });
  RepairResult r = repair.cmdRepairCorruptFiles_Click();
  EXPECT_EQ(r.fixed, r.found - 1);
  // The bar counts every checked row processed, the refused one included.
  ASSERT_EQ(progress.size(), r.found);
  EXPECT_EQ(progress.back(), r.found);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_NE(r.failures[0].find("Broken"), std::string::npos);
  ASSERT_EQ(ui.warned.size(), 1u);
  EXPECT_NE(ui.warned[0].find("Broken"), std::string::npos);
  EXPECT_EQ(ui.informed.back(), Repair::endMessage(r.found, r.found - 1));
}

TEST_F(RepairRestoreTest, OnALiveRegistryAFailedChangeStopsTheRunNamingWhatWasNotDone) {
  RefusingTarget t(std::move(openTarget(folder)).value(), "Multi", true);
  ScanContext ctx(t);
  runScan(ctx, ScanMode::Quick);
  std::size_t at = ctx.problems().size(), checked = 0;
  for (std::size_t n = 0; n < ctx.problems().size(); ++n)
    if (ctx.problems()[n].KeyName == "Multi" && at == ctx.problems().size()) at = n;
  for (const auto& p : ctx.problems().rows()) checked += p.checked;
  ASSERT_LT(at, ctx.problems().size() - 1) << "the refused row must not be the last";
  test::ScriptedInterface ui;
  Repair repair(ctx, ui);
  RepairResult r = repair.cmdRepairCorruptFiles_Click();
  // Everything before the refused row was done, nothing after it.
  EXPECT_EQ(r.fixed, at);
  ASSERT_EQ(r.failures.size(), checked - at);
  EXPECT_NE(r.failures[0].find("Multi"), std::string::npos) << r.failures[0];
  for (std::size_t k = 1; k < r.failures.size(); ++k)
    EXPECT_NE(r.failures[k].find("not done"), std::string::npos) << r.failures[k];
  ASSERT_EQ(ui.warned.size(), 1u);
  EXPECT_NE(ui.warned[0].find("not done"), std::string::npos) << ui.warned[0];
  // The refused row and every row after it are still there.
  ScanContext again(t);
  runScan(again, ScanMode::Quick);
  EXPECT_EQ(again.problems().size(), checked - at);
}

TEST_F(RepairRestoreTest, UncheckedRowsStayAndAreNotRecorded) {
  FixRun run;
  // Rows 4 and 5 each list a value no other row lists (rows 2 and 3 are one COM server).
  fix(folder, ScanMode::Quick, true, run, [](ScanContext& ctx) {
    for (std::size_t i = 0; i < ctx.problems().size(); ++i)
      ctx.problems()[i].checked = i == 3 || i == 4;
  });
  EXPECT_EQ(run.result.fixed, 2u);
  std::string text = test::readText(
      backupHost(run.result.backupFile.substr(run.result.backupFile.rfind('\\') + 1)));
  EXPECT_NE(text.find("[Restore: 4]"), std::string::npos);
  EXPECT_NE(text.find("[Restore: 5]"), std::string::npos);
  EXPECT_EQ(text.find("[Restore: 1]"), std::string::npos);
}

TEST_F(RepairRestoreTest, AHandWrittenPlainBackupRestoresAsStringValues) {
  test::writeText(
      backupHost("BrisquellBK100.bkp"),
      "[Backup Info]\r\nTime=12/8/2026 5:35:34 PM\r\n"
      "[Restore: 1]\r\nMainKey=-2147483646\r\nKeyName=Number\r\nKeyValue=42\r\n"
      "Section=Windows Startup\r\nFullKeyPath=SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\r\n"
      "MainKeyName=HKEY_LOCAL_MACHINE\r\n"
      "[Restore: 2]\r\nMainKey=-2147483647\r\nKeyName=(Default)\r\nKeyValue=C:\\new.exe\r\n"
      "FullKeyPath=Software\\Made\\Again\r\n"
      "[Restore: 3]\r\nMainKey=-2147483648\r\nKeyName=(Default)\r\nKeyValue=(value not set)\r\n"
      "FullKeyPath=CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32\r\n");
  test::ScriptedInterface ui;
  std::vector<std::string> status;
  RestoreResult r =
      restore(folder, "C:\\Program Files\\Brisquell\\Backup\\BrisquellBK100.bkp", ui, &status);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(r.written, 3u);
  EXPECT_EQ(ui.informed.back(), "Restore completed successfully.");
  EXPECT_EQ(status[0],
            "Restoring: HKEY_LOCAL_MACHINE-SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run - "
            "Number - 42");
  auto tOpened = openTarget(folder);
  auto t = tOpened ? std::move(tOpened).value() : nullptr;
  RegistryStore& s = t->registry();
  KeyHandle h = 0;
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(s.openKey(hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                      keyaccess::AllAccess, h),
            Status::Success);
  ASSERT_EQ(s.queryValue(h, "Number", type, data), Status::Success);
  EXPECT_EQ(type, regtype::Sz);  // a number comes back as the text the record holds
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("42\0", 3));
  s.closeKey(h);
  ASSERT_EQ(s.openKey(hkey::CurrentUser, "Software\\Made\\Again", keyaccess::AllAccess, h),
            Status::Success);  // created
  ASSERT_EQ(s.queryValue(h, "", type, data), Status::Success);
  s.closeKey(h);
  ASSERT_EQ(
      s.openKey(hkey::ClassesRoot, "CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32",
                keyaccess::AllAccess, h),
      Status::Success);
  EXPECT_NE(s.queryValue(h, "", type, data),
            Status::Success);  // "(value not set)": the unnamed value is removed
  s.closeKey(h);
}

TEST_F(RepairRestoreTest, ArchiveEntriesOffTheTargetsDrivesAreRefusedAndTheRestGoesOn) {
  test::writeText(backupHost("BrisquellBK200.bkp"),
                  "[Backup Info]\r\nTime=12/8/2026 5:35:34 PM\r\n[Restore: 1]\r\nMainKey=Windows "
                  "Shortcuts(Drive C:)\r\n"
                  "KeyName=\r\nKeyValue=x -> C:\\ok\\fine.lnk\r\nFullKeyPath=C:\\ok\\fine.lnk\r\n");
  std::string zipPath = backupHost("BrisquellBK200.zip");
  int code = 0;
  zip_t* z = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_TRUE(z);
  for (const char* name : {"C/../../escaped.txt", "/tmp/brisquell-absolute.txt", "Q/unknown.txt",
                           "C/ok/fine.lnk", "C:\\ok\\..\\..\\back.txt"}) {
    static const char body[] = "data";
    zip_file_add(z, name, zip_source_buffer(z, body, 4, 0), ZIP_FL_ENC_UTF_8);
  }
  ASSERT_EQ(zip_close(z), 0);
  test::ScriptedInterface ui;
  RestoreResult r = restore(folder, "C:\\Program Files\\Brisquell\\Backup\\BrisquellBK200.bkp", ui);
  EXPECT_EQ(test::readText(folder + "/drive_c/ok/fine.lnk"), "data");
  ASSERT_EQ(r.failures.size(), 4u);
  for (const auto& f : r.failures) EXPECT_NE(f.find("refused"), std::string::npos) << f;
  EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
  EXPECT_FALSE(fs::exists(folder + "/escaped.txt"));
  EXPECT_FALSE(fs::exists(folder + "/back.txt"));
  EXPECT_FALSE(fs::exists("/tmp/brisquell-absolute.txt"));
  ASSERT_EQ(ui.warned.size(), 1u);
  EXPECT_TRUE(ui.informed.empty());  // no success reported
}

TEST_F(RepairRestoreTest, ReportAppendsTheListEveryTime) {
  auto tOpened = openTarget(folder);
  auto t = tOpened ? std::move(tOpened).value() : nullptr;
  ScanContext ctx(*t);
  test::ScriptedInterface ui;
  Report report(ctx, ui);
  EXPECT_TRUE(report.mnuFilePrintListofErrors_Click(dir / "none.txt"));
  EXPECT_FALSE(fs::exists(dir / "none.txt"));  // an empty list writes nothing
  ctx.problems().add(ProblemRecord{"", "a", "C:\\A.EXE", "", "", ""});
  ctx.problems().add(ProblemRecord{"", "b", "C:\\B.DLL", "", "", ""});
  EXPECT_TRUE(report.mnuFilePrintListofErrors_Click("   "));
  EXPECT_TRUE(ui.informed.empty());
  EXPECT_TRUE(report.mnuFilePrintListofErrors_Click(fmt::format(" {} ", dir / "r.doc")));
  EXPECT_TRUE(report.mnuFilePrintListofErrors_Click(dir / "r.doc"));
  const std::string once = "Brisquell\r\n\r\n1->C:\\A.EXE\r\n\r\n2->C:\\B.DLL\r\n\r\n";
  EXPECT_EQ(test::readText(dir / "r.doc"), once + once);
  EXPECT_EQ(ui.informed.back(), "File has been saved at :" + (dir / "r.doc"));
  EXPECT_FALSE(report.mnuFilePrintListofErrors_Click(dir / "no/such/folder/r.doc"));
  EXPECT_EQ(ui.warned.size(), 1u);
}

}  // namespace
}  // namespace brisquell

namespace brisquell {
namespace {

std::string textOf(RegistryStore& store, KeyHandle root, std::string_view path,
                   std::string_view name) {
  KeyHandle h = 0;
  if (store.openKey(root, path, keyaccess::AllAccess, h) != Status::Success) return "(no key)";
  ScopedKey key(store, h);
  std::uint32_t type = 0;
  Bytes data;
  if (store.queryValue(h, name, type, data) != Status::Success) return "(no value)";
  std::string s(data.begin(), data.end());
  return s.substr(0, s.find('\0'));
}

constexpr std::string_view kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST_F(RepairRestoreTest, TheWriteGateRefusesUndoesAFailedSaveAndNeverReportsSuccess) {
  const std::string lnk = folder + "/drive_c/Desktop/Gone.lnk";
  const Bytes shortcut = makeShortcut("C:\\Missing\\app.exe");
  test::writeText(lnk, std::string(shortcut.begin(), shortcut.end()));
  const std::string before = exportOf(folder);
  auto opened = openTarget(folder);
  ASSERT_TRUE(opened) << opened.message();
  test::GatedTarget t(std::move(opened).value());
  auto cleaned = [](const test::ScriptedInterface& ui) {
    for (const auto& m : ui.informed)
      if (m.find("has been cleaned") != std::string::npos) return true;
    return false;
  };

  // While the target must not be written nothing is asked, backed up or deleted.
  t.blocker = "a wineserver (process 42) is running for the Wine prefix";
  {
    ScanContext ctx(t);
    runScan(ctx, ScanMode::Deep);
    ASSERT_GE(ctx.problems().size(), 2u);
    test::ScriptedInterface ui;
    Repair repair(ctx, ui);
    repair.setTakeBackup(true);
    RepairResult r = repair.cmdRepairCorruptFiles_Click();
    EXPECT_EQ(r.outcome, RepairResult::Outcome::Refused);
    EXPECT_TRUE(ui.questions.empty());
    ASSERT_EQ(ui.warned.size(), 1u);
    EXPECT_NE(ui.warned[0].find("process 42"), std::string::npos) << ui.warned[0];
    EXPECT_FALSE(cleaned(ui));
    EXPECT_TRUE(fs::exists(lnk))
        << "the shortcut file was deleted although the save would be refused";
    EXPECT_FALSE(fs::exists(backupHost()));
    EXPECT_FALSE(t.registry().modified());
    EXPECT_EQ(t.saves, 0);
  }

  // A failed save: the registry in memory is the disk's again, and the run says it failed.
  t.blocker.reset();
  t.failSaves = true;
  {
    ScanContext ctx(t);
    runScan(ctx, ScanMode::Quick);
    test::ScriptedInterface ui;
    Repair repair(ctx, ui);
    repair.setTakeBackup(true);
    RepairResult r = repair.cmdRepairCorruptFiles_Click();
    EXPECT_EQ(r.outcome, RepairResult::Outcome::SaveFailed);
    EXPECT_EQ(r.fixed, 0u);
    EXPECT_FALSE(cleaned(ui));
    ASSERT_EQ(ui.warned.size(), 1u);
    EXPECT_NE(ui.warned[0].find("disk full"), std::string::npos) << ui.warned[0];
    EXPECT_NE(ui.warned[0].find("undone"), std::string::npos) << ui.warned[0];
    EXPECT_EQ(t.reloads, 1);
    EXPECT_FALSE(t.registry().modified());
    EXPECT_EQ(exportReg(t.registry(), 0, ""), before);
    EXPECT_EQ(textOf(t.registry(), hkey::LocalMachine, kRun, "Broken"), "C:\\Missing\\run.exe");
  }

  // The next, unrelated save writes its own change and nothing of the failed run.
  t.failSaves = false;
  {
    ScanContext ctx(t);
    Outcome saved =
        TargetChanges(t).apply([&] { Settings(ctx.registry()).setOption("Menu3", false); });
    ASSERT_TRUE(saved) << saved.message();
  }
  {
    auto disk = openTarget(folder);
    ASSERT_TRUE(disk);
    EXPECT_EQ(textOf((*disk)->registry(), hkey::LocalMachine, kRun, "Broken"),
              "C:\\Missing\\run.exe");
  }

  // Tried again, the repair backs up the values whole: restoring the newest set brings them back.
  ScanContext ctx(t);
  runScan(ctx, ScanMode::Quick);
  test::ScriptedInterface ui;
  Repair repair(ctx, ui);
  repair.setTakeBackup(true);
  RepairResult r = repair.cmdRepairCorruptFiles_Click();
  ASSERT_EQ(r.outcome, RepairResult::Outcome::Done);
  EXPECT_TRUE(cleaned(ui));
  EXPECT_EQ(textOf(t.registry(), hkey::LocalMachine, kRun, "Broken"), "(no value)");
  test::ScriptedInterface restoreUi;
  RestoreResult back = restore(folder, r.backupFile, restoreUi);
  EXPECT_TRUE(back.failures.empty());
  auto disk = openTarget(folder);
  ASSERT_TRUE(disk);
  EXPECT_EQ(textOf((*disk)->registry(), hkey::LocalMachine, kRun, "Broken"),
            "C:\\Missing\\run.exe");
}

TEST_F(RepairRestoreTest, RestoreIsRefusedWhileTheTargetMustNotBeWritten) {
  FixRun run;
  fix(folder, ScanMode::Quick, true, run);
  ASSERT_EQ(run.result.outcome, RepairResult::Outcome::Done);
  const std::string fixed = exportOf(folder);
  auto opened = openTarget(folder);
  ASSERT_TRUE(opened);
  test::GatedTarget t(std::move(opened).value());
  t.blocker = "another program holds the registry";
  ScanContext ctx(t);
  test::ScriptedInterface ui;
  Restore r(ctx, ui);
  ASSERT_TRUE(r.cmdRestore_Click(run.result.backupFile));
  RestoreResult refused = r.cmdRestoreNow_Click();
  EXPECT_EQ(refused.outcome, RestoreResult::Outcome::Refused);
  EXPECT_TRUE(ui.informed.empty());
  EXPECT_EQ(exportReg(t.registry(), 0, ""), fixed);
  // Deleting a backup set is a change too.
  auto sets = r.Form_Load();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_FALSE(r.cmdDeleteBackup_Click(sets[0]));
  EXPECT_TRUE(fs::exists(backupHost(sets[0].name)));
  // Once the target may be written, the same load is written back.
  t.blocker.reset();
  RestoreResult done = r.cmdRestoreNow_Click();
  EXPECT_EQ(done.outcome, RestoreResult::Outcome::Done);
  EXPECT_TRUE(done.failures.empty()) << done.failures.front();
  ASSERT_FALSE(ui.informed.empty());
  EXPECT_EQ(ui.informed.back(), Restore::kCompleted);
}

}  // namespace
}  // namespace brisquell
