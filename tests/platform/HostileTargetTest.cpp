// A target that holds links out of its drive folders, and Windows paths made to lead away:
// nothing outside is read, written or deleted; links that stay inside work as before.
#include <unistd.h>
#include <filesystem>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "platform/cache/FolderUrlCache.h"
#include "platform/host/BeneathPath.h"
#include "platform/host/HostFileSystem.h"
#include "platform/machine/MachineFolder.h"
#if BRISQUELL_WINE_PREFIX
#include "platform/wine/WinePrefix.h"
#endif
#include "support/Portable.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

using test::readText;
using test::TempDir;
using test::writeText;

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

struct HostileTargetTest : ::testing::Test {
  void SetUp() override {
    BRISQUELL_NEEDS_SYMLINKS();
    writeText(dir / "outside/secret.txt", "secret");
    writeText(dir / "c/real/a.txt", "inside");
    fs::create_symlink(dir / "outside/secret.txt", dir / "c/out_file");
    fs::create_symlink(dir / "outside", dir / "c/out_dir");
    fs::create_symlink("../../outside", dir / "c/real/up_dir");  // relative, out by ".."
    fs::create_symlink(dir / "c/real", dir / "c/in_dir");
    fs::create_symlink("real/a.txt", dir / "c/in_file");
    fs::create_symlink(dir / "outside/not-yet.txt", dir / "c/nowhere");
    HostDrive c;
    c.info.letter = 'C';
    c.hostRoot = dir / "c";
    files = std::make_unique<HostFileSystem>(std::vector<HostDrive>{c}, "C:\\real");
  }
  TempDir dir;
  std::unique_ptr<HostFileSystem> files;
};

TEST_F(HostileTargetTest, NothingIsReadThroughALinkOutOfTheDrive) {
  Bytes data;
  std::uint32_t attrs = 0;
  std::vector<DirEntry> found;
  for (const char* p : {"C:\\out_dir\\secret.txt", "C:\\OUT_DIR\\Secret.txt",
                        "C:\\real\\up_dir\\secret.txt", "up_dir\\secret.txt"}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(files->readFile(p, data), Status::AccessDenied);
    EXPECT_EQ(files->attributes(p, attrs), Status::AccessDenied);
    EXPECT_EQ(files->find(p, found), Status::AccessDenied);  // cannot be tested, not missing
    EXPECT_FALSE(files->hostPath(p));
  }
  // The links themselves are there, as links: what they lead to is not looked at.
  for (const char* p : {"C:\\out_file", "C:\\out_dir", "C:\\nowhere"}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(files->readFile(p, data), Status::AccessDenied);
    ASSERT_EQ(files->attributes(p, attrs), Status::Success);
    EXPECT_EQ(attrs, fileattr::ReparsePoint | fileattr::Archive);
    ASSERT_EQ(files->find(p, found), Status::Success);
    EXPECT_EQ(found[0].attributes, fileattr::ReparsePoint | fileattr::Archive);
  }
  // Links that stay inside are followed as before.
  for (const char* p : {"C:\\in_file", "C:\\in_dir\\a.txt", "C:\\In_Dir\\A.TXT"}) {
    SCOPED_TRACE(p);
    ASSERT_EQ(files->readFile(p, data), Status::Success);
    EXPECT_EQ(std::string(data.begin(), data.end()), "inside");
    EXPECT_EQ(files->find(p, found), Status::Success);
  }
  // "..", absolute host paths, NULs and over-long names never reach the host as given.
  EXPECT_EQ(files->readFile("C:\\..\\..\\outside\\secret.txt", data), Status::FileNotFound);
  EXPECT_EQ(files->readFile(dir / "outside/secret.txt", data), Status::FileNotFound);
  EXPECT_EQ(files->readFile(std::string("C:\\real\\a.txt\0..\\x", 19), data), Status::InvalidName);
  std::string longPath = "C:";
  for (int i = 0; i < 2000; ++i) longPath += "\\abcdefghijklmnopqrstuvwxyz";
  EXPECT_NE(files->readFile(longPath, data), Status::Success);
  EXPECT_NE(files->writeFile(longPath, bytes("x")), Status::Success);
  EXPECT_NE(files->createDirectory(longPath), Status::Success);
}

TEST_F(HostileTargetTest, NothingIsWrittenOrDeletedThroughALinkOutOfTheDrive) {
  EXPECT_EQ(files->writeFile("C:\\out_dir\\new.txt", bytes("x")), Status::AccessDenied);
  EXPECT_EQ(files->appendFile("C:\\out_file", bytes("x")), Status::AccessDenied);
  EXPECT_EQ(files->appendFile("C:\\nowhere", bytes("x")), Status::AccessDenied);
  EXPECT_EQ(files->appendFile("C:\\real\\up_dir\\log.txt", bytes("x")), Status::AccessDenied);
  EXPECT_EQ(files->deleteFile("C:\\out_dir\\secret.txt"), Status::AccessDenied);
  EXPECT_EQ(files->createDirectory("C:\\out_dir\\sub\\deeper"), Status::AccessDenied);
  EXPECT_FALSE(files->hostPathForNew("C:\\out_dir\\new.zip"));
  EXPECT_FALSE(fs::exists(dir / "outside/new.txt"));
  EXPECT_FALSE(fs::exists(dir / "outside/not-yet.txt"));
  EXPECT_FALSE(fs::exists(dir / "outside/log.txt"));
  EXPECT_FALSE(fs::exists(dir / "outside/sub"));
  EXPECT_EQ(readText(dir / "outside/secret.txt"), "secret");
  // Replacing or deleting a link touches the link, never what it leads to.
  EXPECT_EQ(files->writeFile("C:\\out_file", bytes("replaced")), Status::Success);
  EXPECT_EQ(readText(dir / "outside/secret.txt"), "secret");
  EXPECT_EQ(readText(dir / "c/out_file"), "replaced");
  EXPECT_FALSE(fs::is_symlink(dir / "c/out_file"));
  EXPECT_EQ(files->deleteFile("C:\\out_dir"), Status::Success);
  EXPECT_TRUE(fs::exists(dir / "outside/secret.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "c/out_dir")));
  // Inside, through links too, everything works.
  EXPECT_EQ(files->writeFile("C:\\in_dir\\b.txt", bytes("b")), Status::Success);
  EXPECT_EQ(readText(dir / "c/real/b.txt"), "b");
  EXPECT_EQ(files->createDirectory("C:\\in_dir\\sub"), Status::Success);
  EXPECT_TRUE(fs::is_directory(dir / "c/real/sub"));
  EXPECT_EQ(files->appendFile("C:\\in_file", bytes("+")), Status::Success);
  EXPECT_EQ(readText(dir / "c/real/a.txt"), "inside+");
}

TEST_F(HostileTargetTest, AWriteAreaKeepsWritesInsideItWhateverTheDrivesAre) {
  // A drive whose folder is the host's root, as a Wine prefix's Z: (or a c: made to lead to "/").
  writeText(dir / "prefix/drive_c/x.txt", "x");
  HostDrive c, z;
  c.info.letter = 'C';
  c.hostRoot = dir / "prefix/drive_c";
  z.info.letter = 'Z';
  z.hostRoot = "/";
  HostFileSystem fs2({c, z}, "C:\\");
  fs2.setWriteArea(dir / "prefix");
  const std::string zOutside = "Z:" + dir / "outside/z.txt";
  Bytes data;
  EXPECT_EQ(fs2.readFile("Z:" + dir / "outside/secret.txt", data), Status::Success);  // read: yes
  EXPECT_EQ(fs2.writeFile(zOutside, bytes("z")), Status::AccessDenied);
  EXPECT_EQ(fs2.appendFile(zOutside, bytes("z")), Status::AccessDenied);
  EXPECT_EQ(fs2.deleteFile("Z:" + dir / "outside/secret.txt"), Status::AccessDenied);
  EXPECT_EQ(fs2.createDirectory("Z:" + dir / "outside/made"), Status::AccessDenied);
  EXPECT_FALSE(fs::exists(dir / "outside/z.txt"));
  EXPECT_FALSE(fs::exists(dir / "outside/made"));
  EXPECT_TRUE(fs::exists(dir / "outside/secret.txt"));
  EXPECT_EQ(fs2.writeFile("C:\\y.txt", bytes("y")), Status::Success);
  EXPECT_EQ(fs2.writeFile("Z:" + dir / "prefix/drive_c/z.txt", bytes("z")), Status::Success);
}

TEST(BeneathPath, FollowsLinksOnlyWhileTheyStayInside) {
  BRISQUELL_NEEDS_SYMLINKS();
  TempDir dir;
  writeText(dir / "root/a/f.txt", "f");
  writeText(dir / "other/g.txt", "g");
  fs::create_symlink("a", dir / "root/rel");
  fs::create_symlink("../other", dir / "root/a/up");
  fs::create_symlink("loop2", dir / "root/loop1");
  fs::create_symlink("loop1", dir / "root/loop2");
  const std::string root = realFolder(dir / "root");
  EXPECT_EQ(resolveBeneath(root, dir / "root/rel/f.txt", LastLink::Follow), root + "/a/f.txt");
  EXPECT_EQ(resolveBeneath(root, dir / "root/rel/new/deeper.txt", LastLink::Follow),
            root + "/a/new/deeper.txt");
  EXPECT_FALSE(resolveBeneath(root, dir / "root/a/up/g.txt", LastLink::Follow));
  EXPECT_FALSE(resolveBeneath(root, dir / "root/a/up", LastLink::Follow));
  EXPECT_EQ(resolveBeneath(root, dir / "root/a/up", LastLink::Keep), root + "/a/up");
  EXPECT_FALSE(resolveBeneath(root, dir / "root/loop1/x", LastLink::Follow));
  EXPECT_FALSE(resolveBeneath(root, dir / "root/../other/g.txt", LastLink::Follow));
  EXPECT_FALSE(resolveBeneath(root, "relative/path", LastLink::Follow));
  EXPECT_TRUE(isBeneath("/", "/anything"));
  EXPECT_FALSE(isBeneath("/a/b", "/a/bc"));
}

TEST(HostileWinePrefix, ACDriveLedOutOfThePrefixIsReadButNeverWritten) {
  BRISQUELL_SKIP_ON_WINDOWS("a Wine prefix is a Linux folder that only the Linux build opens");
#if BRISQUELL_WINE_PREFIX
  TempDir dir;
  const std::string prefix = dir / "p";
  writeText(prefix + "/system.reg", "WINE REGISTRY Version 2\n\n#arch=win64\n");
  writeText(prefix + "/user.reg", "WINE REGISTRY Version 2\n\n#arch=win64\n");
  fs::create_directories(prefix + "/drive_c");
  fs::create_directories(prefix + "/dosdevices");
  fs::create_directories(dir / "elsewhere");
  fs::create_symlink(dir / "elsewhere", prefix + "/dosdevices/c:");
  auto opened = WinePrefix::open(prefix);
  ASSERT_TRUE(opened) << opened.message();
  auto& t = *opened.value();
  ASSERT_EQ(t.notes().size(), 1u);
  EXPECT_NE(t.notes()[0].find("leads out of it"), std::string::npos) << t.notes()[0];
  EXPECT_EQ(t.files().createDirectory("C:\\Program Files\\Brisquell\\Backup"),
            Status::AccessDenied);
  EXPECT_FALSE(fs::exists(dir / "elsewhere/Program Files"));
#endif
}

TEST(HostileCache, ClearingNeverDeletesThroughAFolderLinkInTheCache) {
  BRISQUELL_NEEDS_SYMLINKS();
  // One entry at a time, and in one run of changes that remembers the folders it found plain.
  for (bool batched : {false, true}) {
    TempDir dir;
    const std::string cache =
        dir / "m/drive_c/Documents and Settings/user/Local Settings/Temporary Internet Files";
    test::makeMachine(dir / "m", "");
    writeText(dir / "outside/x.dat", "outside");
    writeText(dir / "outside/v.dat", "outside too");
    writeText(dir / "m/drive_c/Docs/y.dat", "a document");
    writeText(cache + "/z.dat", "cache");
    writeText(cache + "/sub/w.dat", "cache");
    fs::create_symlink(dir / "outside", cache + "/out");
    fs::create_symlink(dir / "m/drive_c/Docs", cache + "/in");
    fs::create_symlink(dir / "outside", cache + "/sub/deeper");  // below a plain folder
    writeText(cache + "/cache-index.txt",
              "BRISQUELL URL CACHE 1\nhttp://w/\tsub\\w.dat\nhttp://v/\tsub\\deeper\\v.dat\n"
              "http://x/\tout\\x.dat\nhttp://y/\tin\\y.dat\nhttp://z/\tz.dat\n");
    auto m = MachineFolder::open(dir / "m");
    ASSERT_TRUE(m) << m.message();
    UrlCache& c = m.value()->urlCache();
    if (batched) c.beginChanges();
    EXPECT_EQ(c.deleteEntry("http://w/"), Status::Success) << batched;
    EXPECT_EQ(c.deleteEntry("http://v/"), Status::AccessDenied) << batched;
    EXPECT_EQ(c.deleteEntry("http://x/"), Status::AccessDenied);
    EXPECT_NE(c.errorText().find("folder link"), std::string::npos) << c.errorText();
    EXPECT_EQ(c.deleteEntry("http://y/"), Status::AccessDenied);
    EXPECT_EQ(c.deleteEntry("http://z/"), Status::Success);
    if (batched) c.endChanges();
    EXPECT_EQ(readText(dir / "outside/x.dat"), "outside");
    EXPECT_EQ(readText(dir / "outside/v.dat"), "outside too");
    EXPECT_EQ(readText(dir / "m/drive_c/Docs/y.dat"), "a document");
    EXPECT_FALSE(fs::exists(cache + "/z.dat"));
    EXPECT_FALSE(fs::exists(cache + "/sub/w.dat"));
    const std::string index = readText(cache + "/cache-index.txt");
    for (const char* kept : {"http://v/", "http://x/", "http://y/"})  // refused entries stay
      EXPECT_NE(index.find(kept), std::string::npos) << kept << " batched " << batched;
    EXPECT_EQ(index.find("http://w/"), std::string::npos);
  }
}

TEST(HostileCache, ChunkedClearingNeverFollowsALinkThatReplacesTheCacheFolderMidRun) {
  BRISQUELL_NEEDS_SYMLINKS();
  TempDir dir;
  const std::string cache =
      dir / "m/drive_c/Documents and Settings/user/Local Settings/Temporary Internet Files";
  test::makeMachine(dir / "m", "");
  std::string index = "BRISQUELL URL CACHE 1\n";
  std::vector<std::string> first, second;
  for (int i = 0; i < 600; ++i) {  // enough for the second thread
    const std::string n = fmt::format("f{}.htm", i);
    index += fmt::format("http://x/{}\tA\\{}\n", i, n);
    writeText(cache + "/A/" + n, "cache");
    writeText(dir / ("outside/A/" + n), "outside");
    (i < 300 ? first : second).push_back(fmt::format("http://x/{}", i));
  }
  writeText(cache + "/A/dir.htm/keep.txt", "a folder by a file's name");
  fs::create_symlink(dir / "outside/A/f0.htm", cache + "/A/link.htm");
  index += "http://d/\tA\\dir.htm\nhttp://l/\tA\\link.htm\n";
  writeText(cache + "/cache-index.txt", index);
  auto m = MachineFolder::open(dir / "m");
  ASSERT_TRUE(m) << m.message();
  UrlCache& c = m.value()->urlCache();
  c.beginChanges();
  first.push_back("http://d/");
  first.push_back("http://l/");
  auto done = c.deleteEntries(first);
  for (std::size_t i = 0; i < 300; ++i) EXPECT_EQ(done[i].status, Status::Success) << i;
  EXPECT_EQ(done[300].status, Status::AccessDenied) << "a folder is no cache file";
  EXPECT_EQ(done[301].status, Status::Success) << "the link itself goes";
  EXPECT_TRUE(fs::exists(cache + "/A/dir.htm/keep.txt"));
  EXPECT_FALSE(fs::is_symlink(cache + "/A/link.htm"));
  // The cache folder swapped for a link out between two chunks: nothing outside goes.
  fs::rename(cache, dir / "moved");
  fs::create_symlink(dir / "outside", cache);
  done = c.deleteEntries(second);
  for (const auto& d : done) EXPECT_NE(d.status, Status::Success);
  c.endChanges();
  for (int i = 0; i < 600; ++i)
    EXPECT_EQ(readText(dir / fmt::format("outside/A/f{}.htm", i)), "outside") << i;
  EXPECT_TRUE(fs::exists(dir / "moved/A/f300.htm"));
  EXPECT_FALSE(fs::exists(dir / "moved/A/f299.htm"));
}

}  // namespace
}  // namespace brisquell
