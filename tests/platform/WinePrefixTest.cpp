// Wine prefixes as targets: recognition, drives from dosdevices/, saving only what changed,
// refusing damaged files, and never writing while a wineserver runs for the prefix.
#include "platform/wine/WinePrefix.h"

#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/TargetChanges.h"
#include "platform/wine/WineServer.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

namespace fs = std::filesystem;
using test::readText;
using test::runCli;
using test::TempDir;
using test::writeText;

const std::string kSystem = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Classes\\.txt] 1702194095
#time=1da2b3c4d5e6f70
@="txtfile"

[Software\\Wine\\Drives] 1702194095
#time=1da2b3c4d5e6f70
"e:"="cdrom"
"y:"="hd"
)";

const std::string kUser = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders] 1702194095
#time=1da2b3c4d5e6f70
"AppData"="C:\\users\\alice\\AppData\\Roaming"
)";

void makePrefix(const TempDir& dir, const std::string& system = kSystem,
                const std::string& user = kUser) {
  writeText(dir / "system.reg", system);
  writeText(dir / "user.reg", user);
  writeText(dir / "userdef.reg", "WINE REGISTRY Version 2\n");
  fs::create_directories(dir / "drive_c/windows/system32");
  fs::create_directories(dir / "drive_c/users/alice/AppData/Roaming");
  fs::create_directories(dir / "drive_c/users/Public");
  fs::create_directories(dir / "drive_e");
  fs::create_directories(dir / "dosdevices");
  fs::create_symlink("../drive_c", dir / "dosdevices/c:");
  fs::create_symlink("../drive_e", dir / "dosdevices/e:");
  fs::create_symlink("/", dir / "dosdevices/z:");
  fs::create_symlink("/", dir / "dosdevices/y:");
  fs::create_symlink("../no-such-folder", dir / "dosdevices/d:");
  fs::create_symlink("/dev/ttyS0", dir / "dosdevices/com1");
  // Wine links the profile's folders to the host's home.
  fs::create_symlink(dir.path(), dir / "drive_c/users/alice/Desktop");
}

std::unique_ptr<WinePrefix> openPrefix(const TempDir& dir) {
  auto pOpened = WinePrefix::open(dir.path());
  auto p = pOpened ? std::move(pOpened).value() : nullptr;
  EXPECT_TRUE(p) << pOpened.message();
  return p;
}

fs::file_time_type mtime(const std::string& p) { return fs::last_write_time(p); }

std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(WinePrefix, IsRecognisedAndDescribed) {
  TempDir dir;
  makePrefix(dir);
  EXPECT_TRUE(WinePrefix::looksLikeOne(dir.path()));
  auto tOpened = openTarget(dir.path());
  auto t = tOpened ? std::move(tOpened).value() : nullptr;
  ASSERT_TRUE(t) << tOpened.message();
  EXPECT_EQ(t->kind(), "Wine prefix");
  const MachineInfo& m = t->machine();
  EXPECT_EQ(m.platformId, 2);
  EXPECT_EQ(m.windowsDirectory, "C:\\windows");
  EXPECT_EQ(m.systemDirectory, "C:\\windows\\system32");
  EXPECT_EQ(m.installFolder, "C:\\Program Files\\Brisquell");
  EXPECT_EQ(m.userName, "alice");
  EXPECT_FALSE(t->writeBlocker());
  // Nothing is created by opening: the install folder appears when a backup first needs it.
  EXPECT_FALSE(fs::exists(dir / "drive_c/Program Files"));

  TempDir notPrefix;
  writeText(notPrefix / "system.reg", kSystem);
  EXPECT_FALSE(WinePrefix::looksLikeOne(notPrefix.path()));
}

TEST(WinePrefix, DrivesComeFromDosdevicesAndStayInsideThePrefix) {
  TempDir dir;
  makePrefix(dir);
  auto p = openPrefix(dir);
  ASSERT_TRUE(p);
  auto drives = p->files().drives();
  ASSERT_EQ(drives.size(), 5u);
  EXPECT_EQ(drives[0].letter, 'C');
  EXPECT_EQ(drives[0].type, DriveFixed);
  EXPECT_TRUE(drives[0].ready);
  EXPECT_EQ(drives[1].letter, 'D');
  EXPECT_FALSE(drives[1].ready);  // its link leads nowhere
  EXPECT_EQ(drives[2].letter, 'E');
  EXPECT_EQ(drives[2].type, DriveCdRom);  // from HKLM\Software\Wine\Drives
  // Y: and Z: lead out of the prefix: network, so a deep scan does not walk the host.
  EXPECT_EQ(drives[3].letter, 'Y');
  EXPECT_EQ(drives[3].type, DriveNetwork);
  EXPECT_EQ(drives[4].letter, 'Z');
  EXPECT_EQ(drives[4].type, DriveNetwork);
  EXPECT_TRUE(drives[4].ready);

  std::uint32_t a = 0;
  EXPECT_EQ(p->files().attributes("C:\\WINDOWS\\System32", a), Status::Success);
  EXPECT_TRUE(a & fileattr::Directory);
  // Linked profile folders are reported as links, which the shortcut walk does not enter.
  EXPECT_EQ(p->files().attributes("C:\\users\\alice\\Desktop", a), Status::Success);
  EXPECT_TRUE(a & fileattr::ReparsePoint);
  // Files on Z: can still be tested.
  EXPECT_EQ(p->files().attributes("Z:\\", a), Status::Success);
}

TEST(WinePrefix, SavesOnlyTheFileThatChanged) {
  TempDir dir;
  makePrefix(dir);
  auto p = openPrefix(dir);
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->save());
  EXPECT_EQ(readText(dir / "system.reg"), kSystem);

  const auto userTime = mtime(dir / "user.reg");
  KeyHandle h = 0;
  ASSERT_EQ(p->registry().createKey(hkey::ClassesRoot, "CLSID\\{A}\\InprocServer32", h),
            Status::Success);
  ASSERT_EQ(p->registry().setValue(h, "", regtype::Sz, Bytes{'x', '.', 'd', 'l', 'l', 0}),
            Status::Success);
  p->registry().closeKey(h);
  Outcome result = p->save();
  ASSERT_TRUE(result) << result.message();
  EXPECT_EQ(mtime(dir / "user.reg"), userTime);
  const std::string saved = readText(dir / "system.reg");
  // The keys nothing wrote to keep their text; the new key sits in tree order among them.
  EXPECT_EQ(saved.find(kSystem.substr(0, kSystem.find("\n\n[Software\\\\Wine"))), 0u);
  EXPECT_NE(saved.find(kSystem.substr(kSystem.find("\n\n[Software\\\\Wine"))), std::string::npos);
  EXPECT_NE(saved.find("[Software\\\\Classes\\\\CLSID\\\\{A}\\\\InprocServer32] "),
            std::string::npos);
  EXPECT_NE(saved.find("@=\"x.dll\""), std::string::npos);

  auto again = openPrefix(dir);
  ASSERT_TRUE(again);
  ASSERT_EQ(again->registry().openKey(hkey::ClassesRoot, "CLSID\\{A}\\InprocServer32",
                                      keyaccess::AllAccess, h),
            Status::Success);
  again->registry().closeKey(h);
}

TEST(WinePrefix, RefusesToOverwriteAFileWineRewroteMeanwhile) {
  TempDir dir;
  makePrefix(dir);
  auto p = openPrefix(dir);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->registry().setValue(hkey::ClassesRoot, "x", regtype::Sz, Bytes{'y', 0}),
            Status::Success);
  const std::string wineWrote = kSystem + "\n[Software\\\\Other] 1702194096\n";
  writeText(dir / "system.reg", wineWrote);
  Outcome saved = p->save();
  EXPECT_FALSE(saved);
  EXPECT_NE(saved.message().find("changed on disk"), std::string::npos) << saved.message();
  EXPECT_EQ(readText(dir / "system.reg"), wineWrote);
}

TEST(WinePrefix, SavesBothFilesOrNeither) {
  TempDir dir;
  makePrefix(dir);
  auto p = openPrefix(dir);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->registry().setValue(hkey::ClassesRoot, "sys", regtype::Sz, Bytes{'1', 0}),
            Status::Success);
  ASSERT_EQ(p->registry().setValue(hkey::CurrentUser, "usr", regtype::Sz, Bytes{'2', 0}),
            Status::Success);
  const auto before = listing(dir.path());
  // The second file cannot be put in place: the first, already replaced, is put back.
  int renames = 0;
  p->setRenameForTest([&renames](const char* from, const char* to) {
    if (++renames == 2) {
      errno = EIO;
      return -1;
    }
    return ::rename(from, to);
  });
  Outcome failed = p->save();
  ASSERT_FALSE(failed);
  EXPECT_NE(failed.message().find("user.reg: could not be replaced"), std::string::npos)
      << failed.message();
  EXPECT_NE(failed.message().find("the files are as they were"), std::string::npos)
      << failed.message();
  EXPECT_EQ(renames, 2);
  EXPECT_EQ(readText(dir / "system.reg"), kSystem);
  EXPECT_EQ(readText(dir / "user.reg"), kUser);
  EXPECT_EQ(listing(dir.path()), before) << "no new or kept-aside file is left behind";

  // Saved again without reading the files first, the half-taken state could lose changes.
  Outcome again = p->save();
  EXPECT_FALSE(again);
  EXPECT_NE(again.message().find("must be read again"), std::string::npos) << again.message();
  EXPECT_EQ(renames, 2);

  // Through the gate the failed save also drops the changes in memory, so they cannot ride
  // along with a later save.
  ASSERT_TRUE(p->reload());
  ASSERT_EQ(p->registry().setValue(hkey::ClassesRoot, "sys", regtype::Sz, Bytes{'1', 0}),
            Status::Success);
  ASSERT_EQ(p->registry().setValue(hkey::CurrentUser, "usr", regtype::Sz, Bytes{'2', 0}),
            Status::Success);
  renames = 0;
  Outcome gated = TargetChanges(*p).save();
  ASSERT_FALSE(gated);
  EXPECT_NE(gated.message().find("undone"), std::string::npos) << gated.message();
  std::uint32_t type = 0;
  Bytes data;
  EXPECT_EQ(p->registry().queryValue(hkey::ClassesRoot, "sys", type, data), Status::FileNotFound);
  EXPECT_FALSE(p->registry().modified());

  p->setRenameForTest(nullptr);
  ASSERT_EQ(p->registry().setValue(hkey::ClassesRoot, "sys", regtype::Sz, Bytes{'1', 0}),
            Status::Success);
  ASSERT_EQ(p->registry().setValue(hkey::CurrentUser, "usr", regtype::Sz, Bytes{'2', 0}),
            Status::Success);
  Outcome saved = p->save();
  ASSERT_TRUE(saved) << saved.message();
  EXPECT_NE(readText(dir / "system.reg").find("\"sys\"=\"1\""), std::string::npos);
  EXPECT_NE(readText(dir / "user.reg").find("\"usr\"=\"2\""), std::string::npos);
  EXPECT_EQ(listing(dir.path()), before);
  // The stamps follow the new files: a second save is not taken for a stale one.
  ASSERT_EQ(p->registry().setValue(hkey::CurrentUser, "usr", regtype::Sz, Bytes{'3', 0}),
            Status::Success);
  saved = p->save();
  EXPECT_TRUE(saved) << saved.message();
}

TEST(WinePrefix, ASaveKilledBetweenItsStepsIsFinishedOrUndoneAtTheNextOpen) {
  const std::string newSystem = kSystem + "\n[Software\\\\New] 1702194095\n";
  const std::string newUser = kUser + "\n[Software\\\\New] 1702194095\n";
  auto sides = [](const TempDir& dir) {
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().find(".brisquell-") != std::string::npos)
        left.push_back(e.path().filename().string());
    return left;
  };
  {  // killed before the first rename: the new files are dropped, the old ones stand
    TempDir dir;
    makePrefix(dir);
    writeText(dir / "system.reg.brisquell-new", newSystem);
    writeText(dir / "user.reg.brisquell-new", newUser);
    fs::create_hard_link(dir / "system.reg", dir / "system.reg.brisquell-old");
    auto p = openPrefix(dir);
    ASSERT_TRUE(p);
    EXPECT_EQ(readText(dir / "system.reg"), kSystem);
    EXPECT_EQ(readText(dir / "user.reg"), kUser);
    EXPECT_TRUE(sides(dir).empty());
  }
  {  // killed after the first rename: the second new file is put in place too
    TempDir dir;
    makePrefix(dir);
    fs::rename(dir / "system.reg", dir / "system.reg.brisquell-old");
    writeText(dir / "system.reg", newSystem);
    writeText(dir / "user.reg.brisquell-new", newUser);
    fs::create_hard_link(dir / "user.reg", dir / "user.reg.brisquell-old");
    auto p = openPrefix(dir);
    ASSERT_TRUE(p);
    EXPECT_EQ(readText(dir / "system.reg"), newSystem);
    EXPECT_EQ(readText(dir / "user.reg"), newUser);
    EXPECT_TRUE(sides(dir).empty());
    // and the next save works
    ASSERT_EQ(p->registry().setValue(hkey::CurrentUser, "usr", regtype::Sz, Bytes{'2', 0}),
              Status::Success);
    Outcome saved = p->save();
    EXPECT_TRUE(saved) << saved.message();
  }
  {  // killed while the kept-aside names were dropped: only they go
    TempDir dir;
    makePrefix(dir, newSystem, newUser);
    writeText(dir / "user.reg.brisquell-old", kUser);
    auto p = openPrefix(dir);
    ASSERT_TRUE(p);
    EXPECT_EQ(readText(dir / "user.reg"), newUser);
    EXPECT_TRUE(sides(dir).empty());
  }
}

TEST(WinePrefix, ImportRefusesKeysThePrefixCannotKeep) {
  TempDir dir;
  makePrefix(dir);
  const std::string importFile = dir / "in.reg";
  writeText(importFile,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Kept]\n\"a\"=\"1\"\n\n"
            "[HKEY_USERS\\.DEFAULT\\Software\\Lost]\n\"b\"=\"2\"\n\n"
            "[HKEY_CURRENT_CONFIG\\System\\Lost]\n\"c\"=\"3\"\n");
  const std::string system = readText(dir / "system.reg"), user = readText(dir / "user.reg");
  auto imp = runCli({"--target", dir.path(), "reg", "import", importFile});
  EXPECT_EQ(imp.exitCode, 1);
  EXPECT_NE(imp.err.find("HKEY_USERS\\.DEFAULT\\Software\\Lost"), std::string::npos) << imp.err;
  EXPECT_NE(imp.err.find("HKEY_CURRENT_CONFIG\\System\\Lost"), std::string::npos) << imp.err;
  EXPECT_NE(imp.err.find("nothing was imported"), std::string::npos) << imp.err;
  EXPECT_EQ(readText(dir / "system.reg"), system);
  EXPECT_EQ(readText(dir / "user.reg"), user);
  // HKEY_CLASSES_ROOT lives in system.reg: that is kept.
  writeText(importFile, "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.kept]\n@=\"keptfile\"\n");
  imp = runCli({"--target", dir.path(), "reg", "import", importFile});
  EXPECT_EQ(imp.exitCode, 0) << imp.err;
  EXPECT_NE(readText(dir / "system.reg").find("@=\"keptfile\""), std::string::npos);
}

TEST(WinePrefix, DamagedRegistryIsRefusedAndNothingWritten) {
  struct Case {
    std::string text, where;
  } cases[] = {
      {"WINE REGISTRY Version 3\n", "system.reg:1: not a Wine registry file"},
      {"WINE REGISTRY Version 2\n\n#arch=win128\n", "system.reg:3: unknown architecture"},
      {kSystem + "\n[Software\\\\Broken] 1\n\"v\"=hex:zz\n", "system.reg:16: bad hex data"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    makePrefix(dir, c.text);
    const auto before = listing(dir.path());
    auto err = openTarget(dir.path());
    EXPECT_FALSE(err);
    EXPECT_NE(err.message().find(dir.path() + "/" + c.where), std::string::npos) << err.message();
    EXPECT_EQ(readText(dir / "system.reg"), c.text);
    EXPECT_EQ(listing(dir.path()), before);

    auto r = runCli({"--target", dir.path(), "scan", "--format", "tsv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(c.where), std::string::npos) << r.err;
    EXPECT_EQ(listing(dir.path()), before);
  }
  TempDir mismatch;
  makePrefix(mismatch, kSystem, "WINE REGISTRY Version 2\n\n#arch=win32\n");
  auto err = openTarget(mismatch.path());
  EXPECT_FALSE(err);
  EXPECT_NE(err.message().find("#arch=win32 does not match"), std::string::npos) << err.message();
}

// Runs Wine's own server for a prefix while the test needs it.
class LiveWineServer {
 public:
  explicit LiveWineServer(const std::string& prefix)
      : env_("WINEPREFIX='" + prefix + "' WINEDEBUG=-all ") {
    started_ = std::system((env_ + "wineserver -p >/dev/null 2>&1").c_str()) == 0;
    for (int i = 0; started_ && i < 100 && !findWineServer(prefix); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~LiveWineServer() { stop(); }
  void stop() {
    if (started_) std::system((env_ + "wineserver -k >/dev/null 2>&1").c_str());
    started_ = false;
  }
  bool started() const { return started_; }

 private:
  std::string env_;
  bool started_ = false;
};

bool haveWineServer() { return std::system("command -v wineserver >/dev/null 2>&1") == 0; }

TEST(WinePrefix, NeverWritesWhileAWineserverRuns) {
  if (!haveWineServer())
    GTEST_SKIP() << "wineserver is not installed (scripts/install-deps installs wine64)";
  TempDir dir;
  makePrefix(dir);
  const std::string importFile = dir / "add.reg";
  writeText(importFile, "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.new]\n@=\"newfile\"\n");
  auto p = openPrefix(dir);
  ASSERT_TRUE(p);
  std::string systemBefore, userBefore;
  {
    LiveWineServer server(dir.path());
    ASSERT_TRUE(server.started());
    auto found = findWineServer(dir.path());
    ASSERT_TRUE(found) << "the running wineserver was not found";
    EXPECT_GT(found->pid, 0);
    systemBefore = readText(dir / "system.reg");
    userBefore = readText(dir / "user.reg");

    auto blocker = p->writeBlocker();
    ASSERT_TRUE(blocker);
    EXPECT_NE(blocker->find("wineserver -k"), std::string::npos) << *blocker;
    ASSERT_EQ(p->registry().setValue(hkey::ClassesRoot, "x", regtype::Sz, Bytes{'y', 0}),
              Status::Success);
    Outcome saved = p->save();
    EXPECT_FALSE(saved);
    EXPECT_NE(saved.message().find("wineserver -k"), std::string::npos) << saved.message();
    EXPECT_EQ(readText(dir / "system.reg"), systemBefore);

    auto imp = runCli({"--target", dir.path(), "reg", "import", importFile});
    EXPECT_EQ(imp.exitCode, 1);
    EXPECT_NE(imp.err.find("wineserver -k"), std::string::npos) << imp.err;
    EXPECT_EQ(readText(dir / "system.reg"), systemBefore);
    EXPECT_EQ(readText(dir / "user.reg"), userBefore);

    // Every command that changes the target is refused before it changes anything.
    for (std::vector<std::string> args : {std::vector<std::string>{"fix", "--deep", "--yes"},
                                          {"cache", "clear"},
                                          {"tune", "dsl"},
                                          {"settings", "set", "Menu3", "False"}}) {
      args.insert(args.begin(), {"--target", dir.path()});
      auto refused = runCli(args);
      EXPECT_EQ(refused.exitCode, 1) << args[2];
      EXPECT_NE(refused.err.find("Nothing was changed"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(readText(dir / "system.reg"), systemBefore);
    EXPECT_EQ(readText(dir / "user.reg"), userBefore);

    // Reading goes on, with a note.
    auto scan = runCli({"--target", dir.path(), "scan", "--format", "tsv"});
    EXPECT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.err.find("may be stale"), std::string::npos) << scan.err;
    server.stop();
  }
  for (int i = 0; i < 100 && findWineServer(dir.path()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(p->writeBlocker());
  // Wine may have written its files on the way out; start from what is on disk now.
  auto fresh = openPrefix(dir);
  ASSERT_TRUE(fresh);
  auto imp = runCli({"--target", dir.path(), "reg", "import", importFile});
  EXPECT_EQ(imp.exitCode, 0) << imp.err;
  EXPECT_NE(readText(dir / "system.reg").find("@=\"newfile\""), std::string::npos);
}

TEST(WinePrefix, KeyNameNoRegFileCanHoldIsAnErrorNotABrokenExport) {
  TempDir dir;
  makePrefix(
      dir,
      kSystem + "\n[Software\\\\Two\\nLines] 1702194095\n#time=1da2b3c4d5e6f70\n\"a\"=\"b\"\n");
  writeText(dir / "out.reg", "before");
  auto r = runCli({"--target", dir.path(), "reg", "export", "--output", dir / "out.reg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("HKEY_LOCAL_MACHINE\\Software\\Two<LF>Lines"), std::string::npos) << r.err;
  EXPECT_EQ(readText(dir / "out.reg"), "before");
  // The rest of the registry still exports.
  auto part = runCli({"--target", dir.path(), "reg", "export", "HKLM\\Software\\Classes"});
  EXPECT_EQ(part.exitCode, 0) << part.err;
}

}  // namespace
}  // namespace brisquell
