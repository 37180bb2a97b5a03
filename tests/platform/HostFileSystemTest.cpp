// Drives kept as host folders: path resolution, wildcards, drive states and file operations.
#include "platform/host/HostFileSystem.h"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "support/Portable.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::TempDir;

class HostFileSystemTest : public ::testing::Test {
 protected:
  HostFileSystemTest() {
    test::writeText(dir / "c/WINDOWS/System32/Kernel32.DLL", "k");
    test::writeText(dir / "c/WINDOWS/System32/user32.dll", "u");
    test::writeText(dir / "c/WINDOWS/System32/readme", "r");
    test::writeText(dir / "c/WINDOWS/win.ini", "[windows]");
    test::writeText(dir / "outside.txt", "not on any drive");
    std::filesystem::create_directories(dir / "e");
    fs = std::make_unique<HostFileSystem>(
        std::vector<HostDrive>{{{'E', DriveRemovable, true}, dir / "e"},
                               {{'C', DriveFixed, true}, dir / "c"},
                               {{'D', DriveCdRom, false}, dir / "no-disc"}},
        "C:\\WINDOWS");
  }
  std::vector<std::string> names(std::string_view pattern, Status expected = Status::Success) {
    std::vector<DirEntry> found;
    EXPECT_EQ(fs->find(pattern, found), expected) << pattern;
    std::vector<std::string> out;
    for (const auto& e : found) out.push_back(e.name);
    return out;
  }
  TempDir dir;
  std::unique_ptr<HostFileSystem> fs;
};

TEST_F(HostFileSystemTest, ResolvesWindowsPathsWithoutRegardToCase) {
  BRISQUELL_SKIP_ON_WINDOWS(
      "the host file system ignores letter case itself, so the exact names are not the ones looked "
      "up");
  std::uint32_t a = 0;
  EXPECT_EQ(fs->attributes("c:\\windows\\SYSTEM32\\kernel32.dll", a), Status::Success);
  EXPECT_FALSE(a & fileattr::Directory);
  EXPECT_EQ(fs->attributes("C:/Windows/System32/", a), Status::Success);
  EXPECT_TRUE(a & fileattr::Directory);
  EXPECT_EQ(fs->attributes("System32\\USER32.DLL", a), Status::Success)
      << "relative to C:\\WINDOWS";
  EXPECT_EQ(fs->attributes("\\windows\\win.ini", a), Status::Success);
  EXPECT_EQ(fs->attributes("C:\\WINDOWS\\.\\System32\\..\\win.ini", a), Status::Success);
  EXPECT_EQ(names("C:\\WINDOWS\\System32\\Kernel32.dll"), std::vector<std::string>{"Kernel32.DLL"});
  EXPECT_EQ(*fs->hostPath("C:\\windows\\system32\\KERNEL32.dll"),
            dir / "c/WINDOWS/System32/Kernel32.DLL");

  // Missing things are "not found"; they are not path errors.
  EXPECT_EQ(fs->attributes("C:\\WINDOWS\\gone.dll", a), Status::FileNotFound);
  std::vector<DirEntry> found;
  Status st = fs->find("C:\\NoSuchDir\\x.dll", found);
  EXPECT_TRUE(st == Status::PathNotFound || st == Status::FileNotFound) << st;
  EXPECT_FALSE(isPathError(st));
  EXPECT_EQ(fs->find("C:\\WINDOWS\\win.ini\\", found), Status::FileNotFound);
  // ".." stops at the drive's root: nothing beside the drive folder is reachable.
  EXPECT_EQ(fs->attributes("C:\\..\\..\\outside.txt", a), Status::FileNotFound);
  EXPECT_FALSE(fs->hostPath("C:\\..\\outside.txt"));
}

TEST_F(HostFileSystemTest, WildcardsInTheLastComponent) {
  EXPECT_EQ(names("C:\\WINDOWS\\SYSTEM32\\*.DLL"),
            (std::vector<std::string>{"Kernel32.DLL", "user32.dll"}));
  EXPECT_EQ(names("C:\\WINDOWS\\System32\\?ERNEL32.*"), std::vector<std::string>{"Kernel32.DLL"});
  EXPECT_EQ(names("C:\\WINDOWS\\System32\\*"),
            (std::vector<std::string>{"Kernel32.DLL", "readme", "user32.dll"}));
  EXPECT_EQ(names("C:\\WINDOWS\\*"), (std::vector<std::string>{"System32", "win.ini"}));
  names("C:\\WINDOWS\\System32\\*.exe", Status::FileNotFound);
  names("C:\\WIN*\\win.ini", Status::InvalidName);
}

TEST_F(HostFileSystemTest, DrivesAndTheirStates) {
  auto drives = fs->drives();
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].letter, 'C');
  EXPECT_EQ(drives[1].letter, 'D');
  EXPECT_EQ(drives[1].type, DriveCdRom);
  EXPECT_FALSE(drives[1].ready);
  EXPECT_EQ(drives[2].type, DriveRemovable);
  EXPECT_TRUE(fs->volumeInformation("C:\\"));
  EXPECT_TRUE(fs->volumeInformation("e:"));
  EXPECT_FALSE(fs->volumeInformation("D:\\"));
  EXPECT_FALSE(fs->volumeInformation("Q:\\"));

  // A drive that is not ready, or not there, cannot be tested: every call says so.
  for (const char* path : {"D:\\setup.exe", "Q:\\x\\y.dll", "\\\\server\\share\\a.txt"}) {
    SCOPED_TRACE(path);
    std::uint32_t a;
    std::vector<DirEntry> found;
    Bytes data;
    EXPECT_TRUE(isPathError(fs->attributes(path, a)));
    EXPECT_TRUE(isPathError(fs->find(path, found)));
    EXPECT_TRUE(isPathError(fs->readFile(path, data)));
    EXPECT_TRUE(isPathError(fs->deleteFile(path)));
    EXPECT_TRUE(isPathError(fs->writeFile(path, data)));
  }
}

TEST_F(HostFileSystemTest, ReadWriteAppendDelete) {
  Bytes data;
  ASSERT_EQ(fs->readFile("c:\\windows\\WIN.INI", data), Status::Success);
  EXPECT_EQ(std::string(data.begin(), data.end()), "[windows]");
  EXPECT_NE(fs->readFile("C:\\WINDOWS\\System32", data), Status::Success) << "a folder is no file";

  // A new file lands in the existing folder, whatever case the path uses.
  const Bytes payload{'a', 0, 'b'};
  ASSERT_EQ(fs->writeFile("C:\\windows\\system32\\New.txt", payload), Status::Success);
  EXPECT_EQ(test::readText(dir / "c/WINDOWS/System32/New.txt"), std::string("a\0b", 3));
  ASSERT_EQ(fs->appendFile("C:\\WINDOWS\\SYSTEM32\\new.TXT", Bytes{'!'}), Status::Success);
  EXPECT_EQ(test::readText(dir / "c/WINDOWS/System32/New.txt"), std::string("a\0b!", 4));
  EXPECT_EQ(fs->writeFile("C:\\Missing\\x.txt", payload), Status::PathNotFound);
  ASSERT_EQ(fs->createDirectory("C:\\windows\\Backup\\2024"), Status::Success);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "c/WINDOWS/Backup/2024"));
  ASSERT_EQ(fs->writeFile("C:\\WINDOWS\\BACKUP\\2024\\a.reg", payload), Status::Success);

  ASSERT_EQ(fs->deleteFile("c:\\windows\\system32\\NEW.TXT"), Status::Success);
  EXPECT_FALSE(std::filesystem::exists(dir / "c/WINDOWS/System32/New.txt"));
  EXPECT_EQ(fs->deleteFile("C:\\WINDOWS\\System32\\New.txt"), Status::FileNotFound);
  EXPECT_NE(fs->deleteFile("C:\\WINDOWS\\System32"), Status::Success) << "folders are not deleted";
  EXPECT_TRUE(std::filesystem::is_directory(dir / "c/WINDOWS/System32"));
}

TEST_F(HostFileSystemTest, ListingCacheSeesTheProgramsOwnChanges) {
  ListingCacheScope cache(*fs);
  EXPECT_EQ(names("C:\\WINDOWS\\*.txt", Status::FileNotFound), std::vector<std::string>{});
  ASSERT_EQ(fs->writeFile("C:\\WINDOWS\\log.txt", Bytes{'x'}), Status::Success);
  EXPECT_EQ(names("C:\\WINDOWS\\*.txt"), std::vector<std::string>{"log.txt"});
  ASSERT_EQ(fs->deleteFile("C:\\WINDOWS\\LOG.TXT"), Status::Success);
  names("C:\\WINDOWS\\log.txt", Status::FileNotFound);
  // A folder found missing is looked for again once the program has made it.
  names("C:\\WINDOWS\\Fresh\\f.txt", Status::PathNotFound);
  names("C:\\WINDOWS\\Fresh\\Sub\\g.txt", Status::PathNotFound);
  ASSERT_EQ(fs->createDirectory("C:\\WINDOWS\\Fresh"), Status::Success);
  ASSERT_EQ(fs->writeFile("C:\\WINDOWS\\Fresh\\f.txt", Bytes{'y'}), Status::Success);
  EXPECT_EQ(names("C:\\windows\\fresh\\*"), std::vector<std::string>{"f.txt"});
  EXPECT_EQ(names("C:\\WINDOWS\\Fresh\\f.txt"), std::vector<std::string>{"f.txt"});
  ASSERT_EQ(fs->createDirectory("C:\\WINDOWS\\Fresh\\Sub"), Status::Success);
  ASSERT_EQ(fs->writeFile("C:\\WINDOWS\\Fresh\\Sub\\g.txt", Bytes{'z'}), Status::Success);
  EXPECT_EQ(names("C:\\WINDOWS\\Fresh\\Sub\\g.txt"), std::vector<std::string>{"g.txt"});
}

// Under the listing cache a name looked for again answers as the first time, whatever the
// answer was; the program's own writes and the end of the cache are seen at once.
TEST_F(HostFileSystemTest, RepeatedLookupsUnderTheCacheAnswerAsWithout) {
  const std::vector<std::pair<std::string, Status>> asked = {
      {"C:\\WINDOWS\\System32\\Kernel32.dll", Status::Success},
      {"c:\\windows\\system32\\USER32.DLL", Status::Success},
      {"C:\\WINDOWS\\System32\\gone.dll", Status::FileNotFound},
      {"C:\\WINDOWS\\Nowhere\\gone.dll", Status::PathNotFound},
      {"C:\\WINDOWS\\System32\\*.dll", Status::Success},
      {"C:\\WINDOWS\\win.ini\\", Status::FileNotFound},
      {"D:\\setup.exe", Status::NotReady},
      {"Q:\\x.dll", Status::InvalidDrive}};
  std::vector<std::vector<std::string>> uncached;
  for (const auto& [path, st] : asked) uncached.push_back(names(path, st));
  {
    ListingCacheScope cache(*fs);
    for (int round = 0; round < 2; ++round)
      for (std::size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(names(asked[i].first, asked[i].second), uncached[i]) << asked[i].first;
    // Two threads asking at once, as a scan's two walkers do, get the same answers.
    ASSERT_TRUE(fs->concurrentReads());
    fs->setListingCache(false);
    fs->setListingCache(true);
    int wrong[2] = {0, 0};
    auto ask = [&](int who) {
      for (int round = 0; round < 50; ++round)
        for (std::size_t i = 0; i < asked.size(); ++i) {
          std::vector<DirEntry> found;
          std::vector<std::string> got;
          bool same = fs->find(asked[i].first, found) == asked[i].second;
          for (const auto& e : found) got.push_back(e.name);
          if (!same || got != uncached[i]) ++wrong[who];
        }
    };
    std::thread other(ask, 1);
    ask(0);
    other.join();
    EXPECT_EQ(wrong[0] + wrong[1], 0);
    ASSERT_EQ(fs->writeFile("C:\\WINDOWS\\System32\\gone.dll", Bytes{'x'}), Status::Success);
    EXPECT_EQ(names("C:\\WINDOWS\\System32\\gone.dll"), std::vector<std::string>{"gone.dll"});
    EXPECT_EQ(names("C:\\WINDOWS\\System32\\*.dll").size(), uncached[4].size() + 1);
  }
  test::writeText(dir / "c/WINDOWS/Nowhere/gone.dll", "made outside the program");
  EXPECT_EQ(names("C:\\WINDOWS\\Nowhere\\gone.dll"), std::vector<std::string>{"gone.dll"});
}

// A machine.ini may leave InstallFolder empty or odd: relative paths then name nothing that can
// be tested, and no path, however short, may read past its end.
TEST_F(HostFileSystemTest, ShortPathsAndOddCurrentFolders) {
  std::vector<HostDrive> drives{{{'C', DriveFixed, true}, dir / "c"}};
  for (const char* cwd : {"", "C", "\\", "7:", "C:"}) {
    HostFileSystem odd(drives, cwd);
    for (const char* path :
         {"", "C", "C\\", "x", "\\", "\\x", ":", ":\\", "C:", "C:x", "c:\\WINDOWS\\win.ini"}) {
      SCOPED_TRACE(std::string("cwd \"") + cwd + "\", path \"" + path + "\"");
      std::uint32_t a = 0;
      std::vector<DirEntry> found;
      Bytes data;
      const bool onDrive = std::string_view(path).size() >= 2 && path[1] == ':';
      const bool relativeToRoot = std::string_view(cwd) == "C:" && path[0] != ':';
      const Status st = odd.attributes(path, a);
      if (onDrive || relativeToRoot) {
        EXPECT_FALSE(isPathError(st)) << st;
      } else {
        EXPECT_TRUE(isPathError(st)) << st;
        EXPECT_TRUE(isPathError(odd.find(path, found)));
        EXPECT_TRUE(isPathError(odd.readFile(path, data)));
        EXPECT_FALSE(odd.hostPath(path));
      }
    }
  }
  HostFileSystem atRoot(drives, "C:");
  std::uint32_t a = 0;
  EXPECT_EQ(atRoot.attributes("WINDOWS\\win.ini", a), Status::Success);
  EXPECT_EQ(atRoot.attributes("C:WINDOWS\\win.ini", a), Status::Success);
  EXPECT_EQ(atRoot.attributes("C:", a), Status::Success);
  EXPECT_TRUE(a & fileattr::Directory);
}

// Deleting many files of one folder at once deletes what deleteFile() would, name by name: a
// file, a link itself (never what it leads to); never a folder; and nothing through a folder
// that leads out of the drive.
TEST_F(HostFileSystemTest, DeletingManyFilesOfAFolderDeletesWhatEachDeletionWould) {
  BRISQUELL_NEEDS_SYMLINKS();
  namespace fs_ = std::filesystem;
  const std::string cache = dir / "c/WINDOWS/Cache/";
  auto fileName = [](int i) {
    std::string n = std::to_string(i);
    n.insert(0, 1, 'f');
    return n.append(".dat");
  };
  for (int i = 0; i < 50; ++i) test::writeText(cache + fileName(i), "x");
  fs_::create_directories(cache + "folder.dat");
  fs_::create_symlink(dir / "outside.txt", cache + "link.dat");
  std::vector<std::string> names = {"link.dat", "folder.dat", "F3.DAT", "gone.dat", "f3.dat"};
  for (int i = 0; i < 50; ++i)
    if (i != 3) names.push_back(fileName(i));
  std::vector<Status> got = fs->deleteFilesIn("C:\\WINDOWS\\Cache", names);
  ASSERT_EQ(got.size(), names.size());
  EXPECT_EQ(got[0], Status::Success);  // the link, not the file it names
  EXPECT_TRUE(fs_::exists(dir / "outside.txt"));
  EXPECT_FALSE(fs_::is_symlink(cache + "link.dat"));
  EXPECT_EQ(got[1], Status::AccessDenied);
  EXPECT_TRUE(fs_::is_directory(cache + "folder.dat"));
  // Two spellings of one file, in whatever order they go: one deletes it, the other finds
  // it gone, as two deleteFile() calls would.
  EXPECT_EQ((got[2] == Status::Success) + (got[4] == Status::Success), 1);
  EXPECT_EQ((got[2] == Status::FileNotFound) + (got[4] == Status::FileNotFound), 1);
  EXPECT_EQ(got[3], Status::FileNotFound);
  for (std::size_t i = 5; i < names.size(); ++i) EXPECT_EQ(got[i], Status::Success) << names[i];
  std::size_t left = 0;
  for (const auto& e : fs_::directory_iterator(cache)) left += e.path().filename() != "folder.dat";
  EXPECT_EQ(left, 0u);

  // A cache folder that is a link out of the drive: nothing is deleted through it.
  fs_::create_directories(dir / "elsewhere");
  test::writeText(dir / "elsewhere/f0.dat", "keep");
  fs_::create_directory_symlink(dir / "elsewhere", dir / "c/WINDOWS/Away");
  got = fs->deleteFilesIn("C:\\WINDOWS\\Away", {"f0.dat"});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0], Status::Success);
  EXPECT_TRUE(fs_::exists(dir / "elsewhere/f0.dat"));
}

}  // namespace
}  // namespace brisquell
