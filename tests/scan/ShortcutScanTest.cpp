// The shortcut scan: which shortcuts count as broken, where the walk goes and in what order,
// damaged files, links, unreadable folders, cancel and the drive sections.
#include "scan/ShortcutScan.h"

#include <filesystem>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LnkWriter.h"
#include "platform/machine/MachineFolder.h"
#include "scan/ScanDriver.h"
#include "support/Portable.h"
#include "support/TempDir.h"

namespace brisquell::test {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

struct CallbackPump : EventPump {
  std::function<void()> f;
  void pump() override {
    if (f) f();
  }
};

struct LabelRecorder : ScanObserver {
  std::vector<std::string> labels;
  void valueLabel(std::string_view s) override { labels.emplace_back(s); }
};

/// A machine folder whose drives hold shortcuts written with LnkWriter.
struct LnkMachine {
  TempDir dir;
  std::string drives;
  std::unique_ptr<MachineFolder> machine;
  std::unique_ptr<ScanContext> ctx;

  explicit LnkMachine(std::string driveLines = "C=fixed,drive_c\n")
      : drives(std::move(driveLines)) {
    fs::create_directories(dir / "drive_c/WINDOWS/system32");
  }
  /// drive_c-relative host path of a Windows path on C: ("Old\app.exe").
  std::string host(const std::string& rel, char drive = 'c') {
    std::string r = rel;
    for (char& c : r)
      if (c == '\\') c = '/';
    return dir / (std::string("drive_") + drive + "/" + r);
  }
  void bytes(const std::string& rel, const Bytes& b, char drive = 'c') {
    writeText(host(rel, drive), std::string(b.begin(), b.end()));
  }
  void lnk(const std::string& rel, const std::string& target, char drive = 'c') {
    bytes(rel, makeShortcut(target), drive);
  }
  void lnk(const std::string& rel, const LnkSpec& link, char drive = 'c') {
    bytes(rel, makeShortcut(link), drive);
  }
  void file(const std::string& rel, char drive = 'c') { writeText(host(rel, drive), ""); }
  void folder(const std::string& rel, char drive = 'c') {
    fs::create_directories(host(rel, drive));
  }

  ScanContext& open() {
    makeMachine(dir.path(), "", "[Machine]\nPlatform=2\n[Drives]\n" + drives);
    auto machineOpened = MachineFolder::open(dir.path());
    machine = machineOpened ? std::move(machineOpened).value() : nullptr;
    if (!machine) ADD_FAILURE() << machineOpened.message();
    ctx = std::make_unique<ScanContext>(*machine);
    return *ctx;
  }
  /// A deep scan; the KeyValue of each shortcut problem, in list order.
  std::vector<std::string> deepScan() {
    if (!ctx) open();
    runScan(*ctx, ScanMode::Deep);
    return shortcutProblems();
  }
  std::vector<std::string> shortcutProblems() {
    std::vector<std::string> out;
    for (const auto& r : ctx->problems().rows())
      if (r.isFileProblem()) out.push_back(r.KeyValue);
    return out;
  }
  std::string log() { return readText(dir / "drive_c/WINDOWS/ErrBrisq.txt"); }
};

}  // namespace

TEST(ShortcutScan, BrokenShortcutIsOneFileProblem) {
  LnkMachine m;
  m.lnk("Documents and Settings\\u\\Desktop\\App.lnk", "C:\\Old\\app.exe");
  EXPECT_THAT(m.deepScan(),
              ElementsAre("C:\\Old\\app.exe -> C:\\Documents and Settings\\u\\Desktop\\App.lnk"));
  ASSERT_EQ(m.ctx->problems().size(), 1u);
  const ProblemRecord& r = m.ctx->problems()[0];
  EXPECT_EQ(r.MainKey, "Windows Shortcuts(Drive C:)");
  EXPECT_EQ(r.Section, "Windows Shortcuts(Drive C:)");
  EXPECT_EQ(r.FullKeyPath, "C:\\Documents and Settings\\u\\Desktop\\App.lnk");
  EXPECT_EQ(r.KeyName, "");
  EXPECT_EQ(r.MainKeyName, "");
  EXPECT_EQ(m.ctx->sections().back().problems, "1 Registry Problems");
}

TEST(ShortcutScan, ExistingTargetsOfAnyKindAreNotReported) {
  LnkMachine m;
  m.file("Program Files\\App\\app.exe");
  m.file("Program Files\\App\\readonly.exe");
  fs::permissions(m.host("Program Files\\App\\readonly.exe"), fs::perms::owner_read);
  m.folder("Program Files\\App\\Data.d");
#ifndef _WIN32  // Wine 8 offers Windows programs no usable symbolic links
  fs::create_symlink(m.host("Program Files\\App\\app.exe"),
                     m.host("Program Files\\App\\linked.exe"));
#else
  m.file("Program Files\\App\\linked.exe");
#endif
  m.lnk("a.lnk", "C:\\Program Files\\App\\app.exe");
  m.lnk("b.lnk", "c:\\PROGRAM FILES\\app\\APP.EXE");  // letter case as Windows ignores it
  m.lnk("c.lnk", "C:\\Program Files\\App\\readonly.exe");
  m.lnk("d.lnk", "C:\\Program Files\\App\\Data.d");  // a folder
  m.lnk("e.lnk", "C:\\Program Files\\App\\linked.exe");
  EXPECT_THAT(m.deepScan(), IsEmpty());
  EXPECT_EQ(m.ctx->sections().back().problems, "0 Registry Problems");
}

TEST(ShortcutScan, SkippedPlacesTargetsAndNames) {
  LnkMachine m("C=fixed,drive_c\nD=cdrom,drive_d,notready\n");
  m.lnk("RECYCLED\\x.lnk", "C:\\gone\\a.exe");
  m.lnk("Documents and Settings\\u\\Local Settings\\temporary internet files\\y.lnk",
        "C:\\gone\\b.exe");
  m.lnk("cd.lnk", "d:\\setup.exe");          // the CD-ROM drive
  m.lnk("node.lnk", "C:\\Nodes\\gone.exe");  // "NODE" anywhere
  m.lnk("data.lnk", "C:\\Data");             // a folder target without a dot
  m.lnk("two.lnk2", "C:\\gone\\c.exe");
  m.lnk("bak.lnk.bak", "C:\\gone\\d.exe");
  m.lnk("Caps.LNK", "C:\\gone\\e.exe");
  m.lnk("Mixed.Lnk", "C:\\gone\\f.exe");
  EXPECT_THAT(m.deepScan(),
              ElementsAre("C:\\gone\\e.exe -> C:\\Caps.LNK", "C:\\gone\\f.exe -> C:\\Mixed.Lnk"));
}

TEST(ShortcutScan, CdRomDrive) {
  // With no CD-ROM drive, a broken shortcut is reported as any other.
  LnkMachine none;
  none.lnk("y.lnk", "C:\\x\\y.exe");
  EXPECT_THAT(none.deepScan(), ElementsAre("C:\\x\\y.exe -> C:\\y.lnk"));
  EXPECT_EQ(GetCdRom(*none.ctx), "");

  // The last CD-ROM drive is the one that counts.
  LnkMachine two(
      "C=fixed,drive_c\nE=cdrom,drive_e,notready\nF=removable,drive_f,notready\n"
      "G=cdrom,drive_g,notready\n");
  two.lnk("e.lnk", "E:\\setup.exe");
  two.lnk("g.lnk", "G:\\setup.exe");
  two.open();
  EXPECT_EQ(GetCdRom(*two.ctx), "G:");
  // E: is not ready: its shortcut cannot be tested, which ends the walk of the folder.
  EXPECT_THAT(two.deepScan(), IsEmpty());
  EXPECT_THAT(two.log(), HasSubstr("FindFilesAPI"));
}

TEST(ShortcutScan, TargetForms) {
  LnkMachine m;
  LnkSpec suffix;
  suffix.localBasePath = "C:\\Program Files\\";
  suffix.commonPathSuffix = "Gone\\app.exe";
  m.lnk("1.lnk", suffix);
  LnkSpec relative;
  relative.relativePath = "..\\Tools\\gone.exe";
  m.lnk("Menu\\Sub\\2.lnk", relative);
  LnkSpec env;
  env.environmentPath = "%SystemRoot%\\gone.exe";
  m.lnk("3.lnk", env);
  LnkSpec envLive;
  envLive.environmentPath = "%windir%\\system32\\here.dll";
  m.file("WINDOWS\\system32\\here.dll");
  m.lnk("4.lnk", envLive);
  m.lnk("5.lnk",
        "C:\\\xC3\x9C"
        "ber\\gone.exe");  // UTF-8, this product's ANSI
  m.lnk("6.lnk",
        "C:\\\xDC"
        "ber\\gone.exe");  // Windows-1252 from Windows itself
  m.file(
      "\xC3\x9C"
      "ber\\here.exe");
  m.lnk("7.lnk",
        "C:\\\xC3\x9C"
        "ber\\here.exe");
  EXPECT_THAT(m.deepScan(), ElementsAre("C:\\Program Files\\Gone\\app.exe -> C:\\1.lnk",
                                        "C:\\WINDOWS\\gone.exe -> C:\\3.lnk",
                                        "C:\\\xC3\x9C"
                                        "ber\\gone.exe -> C:\\5.lnk",
                                        "C:\\\xC3\x9C"
                                        "ber\\gone.exe -> C:\\6.lnk",
                                        "C:\\Menu\\Tools\\gone.exe -> C:\\Menu\\Sub\\2.lnk"));
}

TEST(ShortcutScan, WalkOrderFilesFirstThenSubFoldersSortedWithoutCase) {
  LnkMachine m;
  m.lnk("b.lnk", "C:\\gone\\1.exe");
  m.lnk("A.lnk", "C:\\gone\\2.exe");
  m.lnk("sub\\c.lnk", "C:\\gone\\3.exe");
  m.lnk("Z.lnk", "C:\\gone\\4.exe");
  m.lnk("a_dir\\x.lnk", "C:\\gone\\5.exe");
  m.lnk("a_dir\\deeper\\y.lnk", "C:\\gone\\6.exe");
  m.lnk("a_dir\\z.lnk", "C:\\gone\\7.exe");
  EXPECT_THAT(m.deepScan(),
              ElementsAre("C:\\gone\\2.exe -> C:\\A.lnk", "C:\\gone\\1.exe -> C:\\b.lnk",
                          "C:\\gone\\4.exe -> C:\\Z.lnk", "C:\\gone\\5.exe -> C:\\a_dir\\x.lnk",
                          "C:\\gone\\7.exe -> C:\\a_dir\\z.lnk",
                          "C:\\gone\\6.exe -> C:\\a_dir\\deeper\\y.lnk",
                          "C:\\gone\\3.exe -> C:\\sub\\c.lnk"));
}

TEST(ShortcutScan, DamagedShortcutFilesAreSkippedWithoutACrash) {
  LnkMachine m;
  const Bytes good = makeShortcut("C:\\gone\\app.exe");
  m.bytes("empty.lnk", {});
  for (std::size_t n : {1u, 4u, 20u, 75u, 76u, 80u, 100u}) {
    Bytes cut(good.begin(), good.begin() + std::min(n, good.size() - 1));
    m.bytes("cut" + std::to_string(n) + ".lnk", cut);
  }
  Bytes garbage;
  for (int i = 0; i < 4096; ++i)
    garbage.push_back(static_cast<std::uint8_t>((i * 7919 + 13) % 251));
  m.bytes("garbage.lnk", garbage);
  Bytes huge = good;  // a valid header whose LinkInfo claims far more than the file holds
  huge[0x4C] = 0xFF;
  huge[0x4D] = 0xFF;
  huge[0x4E] = 0xFF;
  huge[0x4F] = 0x7F;
  m.bytes("huge.lnk", huge);
  m.bytes("text.lnk",
          Bytes{'[', 'I', 'n', 't', 'e', 'r', 'n', 'e', 't', 'S', 'h', 'o', 'r', 't', ']'});
  m.folder("folder.lnk");  // a folder named like a shortcut is walked into, not read
  m.lnk("folder.lnk\\inner.lnk", "C:\\gone\\inner.exe");
  m.lnk("zz.lnk", "C:\\gone\\last.exe");
  EXPECT_THAT(m.deepScan(), ElementsAre("C:\\gone\\last.exe -> C:\\zz.lnk",
                                        "C:\\gone\\inner.exe -> C:\\folder.lnk\\inner.lnk"));
  EXPECT_EQ(GetTarget(*m.ctx, "C:\\garbage.lnk"), "");
  EXPECT_EQ(GetTarget(*m.ctx, "C:\\missing.lnk"), "");
  // The damaged ones are logged, naming the file and what is wrong; a missing one is not.
  const std::string log = m.log();
  EXPECT_NE(log.find("huge.lnk: damaged shortcut (link info of 2147483647 bytes at offset 76 runs "
                     "past the end); skipped"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("cut80.lnk: damaged shortcut"), std::string::npos);
  EXPECT_EQ(log.find("missing.lnk"), std::string::npos);
}

TEST(ShortcutScan, ShortcutCutAtEveryLengthGivesItsTargetOrNothing) {
  LnkMachine m;
  LnkSpec link;
  link.localBasePath = "C:\\gone\\";
  link.commonPathSuffix = "app.exe";
  link.relativePath = "..\\gone\\app.exe";
  link.environmentPath = "%SystemDrive%\\gone\\app.exe";
  const Bytes whole = makeShortcut(link);
  for (std::size_t n = 0; n < whole.size(); n += 3)
    m.bytes("cuts\\" + std::to_string(n) + ".lnk", Bytes(whole.begin(), whole.begin() + n));
  for (const std::string& v : m.deepScan())
    EXPECT_THAT(v, testing::StartsWith("C:\\gone\\app.exe -> "));
}

TEST(ShortcutScan, LinkedFoldersAreNotFollowed) {
  BRISQUELL_NEEDS_SYMLINKS();
  LnkMachine m;
  m.lnk("a\\x.lnk", "C:\\gone\\x.exe");
  fs::create_directory_symlink("..", m.host("a\\up"));
  fs::create_directory_symlink(".", m.host("a\\self"));
  fs::create_directory_symlink(m.host(""), m.host("root"));
  fs::create_symlink("loop.lnk", m.host("loop.lnk"));       // a link to itself: unreadable
  fs::create_symlink(m.host("a\\x.lnk"), m.host("b.lnk"));  // a link to a shortcut file is read
  EXPECT_THAT(m.deepScan(),
              ElementsAre("C:\\gone\\x.exe -> C:\\b.lnk", "C:\\gone\\x.exe -> C:\\a\\x.lnk"));
}

namespace {

/// Passes everything to the machine's file system except listings of one folder.
struct LockedFolderFiles final : FileSystem {
  FileSystem& inner;
  std::string locked;  // "C:\Locked\*"
  LockedFolderFiles(FileSystem& i, std::string l) : inner(i), locked(std::move(l)) {}
  std::vector<DriveInfo> drives() override { return inner.drives(); }
  bool volumeInformation(std::string_view r) override { return inner.volumeInformation(r); }
  Status find(std::string_view p, std::vector<DirEntry>& out) override {
    if (iequals(p, locked)) {
      out.clear();
      return Status::AccessDenied;
    }
    return inner.find(p, out);
  }
  Status attributes(std::string_view p, std::uint32_t& a) override {
    return inner.attributes(p, a);
  }
  Status readFile(std::string_view p, Bytes& d) override { return inner.readFile(p, d); }
  Status writeFile(std::string_view p, const Bytes& d) override { return inner.writeFile(p, d); }
  Status appendFile(std::string_view p, const Bytes& d) override { return inner.appendFile(p, d); }
  Status deleteFile(std::string_view p) override { return inner.deleteFile(p); }
  Status createDirectory(std::string_view p) override { return inner.createDirectory(p); }
  std::optional<std::string> hostPath(std::string_view p) override { return inner.hostPath(p); }
  std::optional<std::string> hostPathForNew(std::string_view p) override {
    return inner.hostPathForNew(p);
  }
  void setListingCache(bool e) override { inner.setListingCache(e); }
};

struct LockedFolderTarget final : Target {
  Target& inner;
  LockedFolderFiles files_;
  LockedFolderTarget(Target& t, std::string locked)
      : inner(t), files_(t.files(), std::move(locked)) {}
  std::string kind() const override { return inner.kind(); }
  std::string location() const override { return inner.location(); }
  RegistryStore& registry() override { return inner.registry(); }
  FileSystem& files() override { return files_; }
  ShortcutReader& shortcuts() override { return inner.shortcuts(); }
  const MachineInfo& machine() const override { return inner.machine(); }
  Outcome save() override { return inner.save(); }
  Outcome reload() override { return inner.reload(); }
};

}  // namespace

TEST(ShortcutScan, UnreadableFolderIsLoggedAndSkipped) {
  LnkMachine m;
  m.lnk("A\\a.lnk", "C:\\gone\\a.exe");
  m.lnk("Locked\\l.lnk", "C:\\gone\\l.exe");
  m.lnk("Locked\\Below\\b.lnk", "C:\\gone\\b.exe");
  m.lnk("Z\\z.lnk", "C:\\gone\\z.exe");
  m.open();
  LockedFolderTarget target(*m.machine, "C:\\Locked\\*");
  ScanContext ctx(target);
  runScan(ctx, ScanMode::Deep);
  std::vector<std::string> found;
  for (const auto& r : ctx.problems().rows()) found.push_back(r.FullKeyPath);
  EXPECT_THAT(found, ElementsAre("C:\\A\\a.lnk", "C:\\Z\\z.lnk"));
  EXPECT_THAT(m.log(), HasSubstr("FindFilesAPI"));
  EXPECT_THAT(m.log(), HasSubstr("Path/File access error"));
  EXPECT_EQ(ctx.sections().back().status, "Finished");
}

TEST(ShortcutScan, ShortcutThatCannotBeTestedEndsItsFolderOnly) {
  LnkMachine m;
  m.lnk("A\\1.lnk", "Q:\\nowhere\\app.exe");  // no drive Q:
  m.lnk("A\\2.lnk", "C:\\gone\\2.exe");
  m.lnk("A\\Below\\3.lnk", "C:\\gone\\3.exe");
  m.lnk("B\\4.lnk", "C:\\gone\\4.exe");
  EXPECT_THAT(m.deepScan(), ElementsAre("C:\\gone\\4.exe -> C:\\B\\4.lnk"));
  EXPECT_THAT(m.log(), HasSubstr("FindFilesAPI"));
}

TEST(ShortcutScan, CancelStopsTheWalkBeforeTheNextEntry) {
  LnkMachine m;
  for (char c = 'a'; c <= 'e'; ++c)
    m.lnk(std::string(1, c) + ".lnk", std::string("C:\\gone\\") + c + ".exe");
  m.lnk("sub\\s.lnk", "C:\\gone\\s.exe");
  m.open();
  LabelRecorder labels;
  CallbackPump pump;
  pump.f = [&] {
    if (labels.labels.size() == 2) m.ctx->bCancelScan = true;
  };
  m.ctx->setObserver(&labels);
  m.ctx->setPump(&pump);
  EXPECT_EQ(runScan(*m.ctx, ScanMode::Deep), ScanOutcome::Cancelled);
  EXPECT_THAT(m.shortcutProblems(),
              ElementsAre("C:\\gone\\a.exe -> C:\\a.lnk", "C:\\gone\\b.exe -> C:\\b.lnk"));
  EXPECT_THAT(labels.labels, ElementsAre("C:\\a.lnk", "C:\\b.lnk"));

  // A cancel inside a sub folder ends the walk of every folder after it.
  LnkMachine deep;
  deep.lnk("one\\1.lnk", "C:\\gone\\1.exe");
  deep.lnk("one\\2.lnk", "C:\\gone\\2.exe");
  deep.lnk("two\\3.lnk", "C:\\gone\\3.exe");
  deep.open();
  CallbackPump stop;
  stop.f = [&] {
    if (deep.ctx->problems().size() == 1) deep.ctx->bCancelScan = true;
  };
  deep.ctx->setPump(&stop);
  EXPECT_EQ(runScan(*deep.ctx, ScanMode::Deep), ScanOutcome::Cancelled);
  EXPECT_THAT(deep.shortcutProblems(), ElementsAre("C:\\gone\\1.exe -> C:\\one\\1.lnk"));
}

TEST(ShortcutScan, DriveSections) {
  // An unticked drive section is not scanned even when asked for by name.
  LnkMachine m("C=fixed,drive_c\nD=fixed,drive_d,notready\nE=removable,drive_e\n");
  m.lnk("x.lnk", "C:\\gone\\x.exe");
  m.lnk("e.lnk", "E:\\gone\\e.exe", 'e');
  m.open();
  LoadRegistryValues(*m.ctx, ScanMode::Deep);
  ASSERT_EQ(m.ctx->sections().back().name, "Windows Shortcuts(Drive D:)");
  SectionRow& c = m.ctx->sections()[13];
  ASSERT_EQ(c.name, "Windows Shortcuts(Drive C:)");
  c.ticked = false;
  EXPECT_EQ(GetAllHardDrives(*m.ctx, "Windows Shortcuts(Drive C:)"), "");
  EXPECT_THAT(m.shortcutProblems(), IsEmpty());
  c.ticked = true;
  GetAllHardDrives(*m.ctx, "Windows Shortcuts(Drive C:)");
  EXPECT_THAT(m.shortcutProblems(), ElementsAre("C:\\gone\\x.exe -> C:\\x.lnk"));
  // A drive that is not ready, and a drive that is not fixed, are not scanned.
  m.ctx->problems().clear();
  GetAllHardDrives(*m.ctx, "Windows Shortcuts(Drive D:)");
  GetAllHardDrives(*m.ctx, "Windows Shortcuts(Drive E:)");
  EXPECT_THAT(m.shortcutProblems(), IsEmpty());

  // Only the letters C to G are scanned by the deep scan; H keeps its row at "Scanning".
  LnkMachine h("C=fixed,drive_c\nH=fixed,drive_h\n");
  h.lnk("c.lnk", "C:\\gone\\c.exe");
  h.lnk("h.lnk", "H:\\gone\\h.exe", 'h');
  EXPECT_THAT(h.deepScan(), ElementsAre("C:\\gone\\c.exe -> C:\\c.lnk"));
  ASSERT_EQ(h.ctx->progress().back().name, "Windows Shortcuts(Drive H:)");
  EXPECT_EQ(h.ctx->progress().back().status, "Scanning");
  EXPECT_EQ(h.ctx->progress().back().problems, "");
  // The routine itself knows the drive.
  h.ctx->problems().clear();
  GetAllHardDrives(*h.ctx, "Windows Shortcuts(Drive H:)");
  EXPECT_THAT(h.shortcutProblems(), ElementsAre("H:\\gone\\h.exe -> H:\\h.lnk"));
}

TEST(ShortcutScan, TextRoutines) {
  EXPECT_EQ(StripNulls(std::string("abc\0def", 7)), "abc");
  EXPECT_EQ(StripNulls("abc"), "abc");
  EXPECT_EQ(StripNulls(std::string("\0x", 2)), "");
  LnkMachine m;
  m.open();
  FileTargetPath(*m.ctx, "C:\\a.lnk", "C:\\b.exe", "Windows Shortcuts(Drive C:)");
  FileTargetPath(*m.ctx, "C:\\a.lnk", "C:\\b.exe", "Windows Shortcuts(Drive C:)");
  ASSERT_EQ(m.ctx->problems().size(), 2u);  // never merged
  EXPECT_EQ(m.ctx->problems()[1].KeyValue, "C:\\b.exe -> C:\\a.lnk");
}

}  // namespace brisquell::test
