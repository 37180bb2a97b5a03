// The Windows services behind the platform interfaces, on the system the tests run on (Wine
// in CI): host files by UTF-16 and long names, the registry over advapi32, the drives and
// files of the running system, the instance mutex, the program's own path.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/Console.h"
#include "platform/HostIo.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramLocation.h"
#include "platform/RunningSystem.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Registry.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

TEST(Win32HostIo, NamesOutsideTheAnsiCodePageAndLongPathsOpen) {
  test::TempDir dir;
  // Greek, CJK and an emoji: none is in a Western ANSI code page.
  const std::string name = dir.path() + "\\\xCE\xB1\xCE\xB2-\xE6\xBC\xA2-\xF0\x9F\x98\x80.txt";
  std::FILE* f = hostio::open(name, "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("abc", 1, 3, f), 3u);
  ASSERT_TRUE(hostio::syncFile(f));
  std::fclose(f);
  EXPECT_TRUE(hostio::stat(name).regular);
  EXPECT_EQ(hostio::stat(name).size, 3u);
  std::vector<hostio::Entry> entries;
  ASSERT_TRUE(hostio::list(dir.path(), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(dir.path() + "\\" + entries[0].name, name);

  // A rename replaces an existing file in one step (the C runtime's rename refuses).
  const std::string other = dir.path() + "\\other.txt";
  test::writeText(other, "old");
  ASSERT_TRUE(hostio::rename(name, other));
  EXPECT_EQ(test::readText(other), "abc");
  EXPECT_FALSE(hostio::stat(name).exists);

  // Past MAX_PATH, through "\\?\"; "/" as a separator still works there.
  std::string deep = dir.path();
  for (int i = 0; i < 12; ++i) {
    deep += "/a-folder-name-of-some-length-" + std::to_string(i);
    ASSERT_TRUE(hostio::makeFolder(deep)) << deep;
  }
  ASSERT_GT(deep.size(), 300u);
  const std::string file = deep + "/file.txt";
  test::writeText(file, "deep");
  EXPECT_EQ(test::readText(file), "deep");
  EXPECT_TRUE(hostio::removeFile(file));
  EXPECT_FALSE(hostio::stat(file).exists);
  EXPECT_TRUE(hostio::isAbsolute("C:\\x"));
  EXPECT_TRUE(hostio::isAbsolute("c:/x"));
  EXPECT_FALSE(hostio::isAbsolute("x\\y"));
}

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "Software\\BrisquellTest-" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(store_.createKey(hkey::CurrentUser, path_, key_), Status::Success);
  }
  void TearDown() override {
    store_.closeKey(key_);
    EXPECT_EQ(store_.deleteTree(hkey::CurrentUser, path_), Status::Success);
    KeyHandle gone = 0;
    EXPECT_EQ(store_.openKey(hkey::CurrentUser, path_, keyaccess::AllAccess, gone),
              Status::FileNotFound);
  }
  Win32Registry store_;
  std::string path_;
  KeyHandle key_ = 0;
};

TEST_F(Win32RegistryTest, EveryTypeAndNameRoundTripsRaw) {
  struct Case {
    std::string name;
    std::uint32_t type;
    Bytes data;
  };
  const Case cases[] = {
      {"", regtype::Sz, {'a', 0, 'b', 0, 0, 0}},   // the default value
      {"odd length", regtype::Sz, {'x', 0, 'y'}},  // kept as stored
      {"\xCE\xB1 non-ASCII name", regtype::ExpandSz, {'%', 0, 0, 0}},
      {"binary", regtype::Binary, {0, 1, 2, 255}},
      {"qword", regtype::Qword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"unknown type", 0x1234, {9, 8, 7}},
      {"empty", regtype::Binary, {}},
  };
  for (const Case& c : cases)
    ASSERT_EQ(store_.setValueRaw(key_, c.name, c.type, c.data), Status::Success) << c.name;
  for (const Case& c : cases) {
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(store_.queryValueRaw(key_, c.name, type, data), Status::Success) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
  std::uint32_t subKeys = 9, values = 0;
  ASSERT_EQ(store_.queryInfo(key_, subKeys, values), Status::Success);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, std::size(cases));
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
  std::size_t seen = 0;
  for (std::uint32_t i = 0; store_.enumValueRaw(key_, i, name, type, data) == Status::Success; ++i)
    ++seen;
  EXPECT_EQ(seen, std::size(cases));
  // The text layer sees UTF-8 over the same calls.
  ASSERT_EQ(store_.queryValue(key_, "", type, data), Status::Success);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("ab\0", 3));

  EXPECT_EQ(store_.deleteValue(key_, "binary"), Status::Success);
  EXPECT_EQ(store_.queryValueRaw(key_, "binary", type, data), Status::FileNotFound);
  EXPECT_EQ(store_.deleteValue(key_, "binary"), Status::FileNotFound);
}

TEST_F(Win32RegistryTest, KeysTreesAndTheClassesView) {
  KeyHandle sub = 0;
  ASSERT_EQ(store_.createKey(key_, "a\\b\\c", sub), Status::Success);
  store_.closeKey(sub);
  std::string name;
  ASSERT_EQ(store_.enumKey(key_, 0, name), Status::Success);
  EXPECT_EQ(name, "a");
  EXPECT_EQ(store_.enumKey(key_, 1, name), Status::NoMoreItems);
  // A key with subkeys is not deleted by deleteKey; deleteTree takes it all.
  EXPECT_NE(store_.deleteKey(key_, "a"), Status::Success);
  EXPECT_EQ(store_.deleteTree(key_, "a"), Status::Success);
  EXPECT_EQ(store_.enumKey(key_, 0, name), Status::NoMoreItems);
  EXPECT_EQ(store_.closeKey(12345), Status::InvalidHandle);

  // HKCR names the machine's classes unless the user's classes hold the key.
  KeyLocation machine = store_.canonicalKey(hkey::ClassesRoot, "NoSuchBrisquellClass");
  EXPECT_EQ(machine.root, hkey::LocalMachine);
  EXPECT_EQ(machine.path, "SOFTWARE\\Classes\\NoSuchBrisquellClass");
  const std::string userClass =
      "Software\\Classes\\BrisquellTestClass-" + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(store_.createKey(hkey::CurrentUser, userClass, sub), Status::Success);
  store_.closeKey(sub);
  KeyLocation user = store_.canonicalKey(
      hkey::ClassesRoot, "BrisquellTestClass-" + std::to_string(GetCurrentProcessId()));
  EXPECT_EQ(user.root, hkey::CurrentUser);
  EXPECT_EQ(user.path, userClass);
  EXPECT_EQ(store_.deleteTree(hkey::CurrentUser, userClass), Status::Success);

  // The 32-bit view opens the keys 32-bit programs see.
  Win32Registry wow(Win32Registry::View::Wow32);
  KeyHandle software = 0;
  EXPECT_EQ(wow.openKey(hkey::LocalMachine, "Software", keyaccess::EnumerateSubKeys, software),
            Status::Success);
  wow.closeKey(software);
}

TEST(Win32FileSystem, FindsAndTestsAsWindowsDoes) {
  test::TempDir dir;
  test::writeText(dir.path() + "\\Alpha.txt", "a");
  test::writeText(dir.path() + "\\beta.TXT", "b");
  test::writeText(dir.path() + "\\sub\\\xCE\xB3.dll", "g");
  Win32FileSystem fs(dir.path());
  std::vector<DirEntry> found;
  ASSERT_EQ(fs.find(dir.path() + "\\*.txt", found), Status::Success);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].name, "Alpha.txt");
  EXPECT_EQ(found[1].name, "beta.TXT");
  EXPECT_EQ(fs.find(dir.path() + "\\*.exe", found), Status::FileNotFound);
  std::uint32_t attrs = 0;
  ASSERT_EQ(fs.attributes("sub\\\xCE\xB3.dll", attrs), Status::Success);  // relative
  EXPECT_FALSE(attrs & fileattr::Directory);
  ASSERT_EQ(fs.attributes(dir.path() + "\\SUB", attrs), Status::Success);
  EXPECT_TRUE(attrs & fileattr::Directory);
  EXPECT_EQ(fs.attributes(dir.path() + "\\missing.dll", attrs), Status::FileNotFound);
  EXPECT_TRUE(isPathError(fs.attributes("1:\\x", attrs)));

  ASSERT_EQ(fs.createDirectory(dir.path() + "\\new\\deeper"), Status::Success);
  ASSERT_EQ(fs.writeFile(dir.path() + "\\new\\deeper\\f.bin", Bytes{1, 2}), Status::Success);
  ASSERT_EQ(fs.appendFile(dir.path() + "\\new\\deeper\\f.bin", Bytes{3}), Status::Success);
  Bytes back;
  ASSERT_EQ(fs.readFile(dir.path() + "\\new\\deeper\\f.bin", back), Status::Success);
  EXPECT_EQ(back, (Bytes{1, 2, 3}));
  EXPECT_EQ(fs.deleteFile(dir.path() + "\\new\\deeper\\f.bin"), Status::Success);
  EXPECT_EQ(fs.deleteFile(dir.path() + "\\new\\deeper\\f.bin"), Status::FileNotFound);

  // C: is there and ready on every Windows (and on Wine).
  bool haveC = false;
  for (const DriveInfo& d : fs.drives())
    if (d.letter == 'C') haveC = d.ready && d.type == DriveFixed;
  EXPECT_TRUE(haveC);
  EXPECT_TRUE(fs.volumeInformation("C:\\"));
}

TEST(Win32Services, InstanceMutexProgramPathAndTheRunningSystem) {
  auto first = makeInstanceLock("brisquell-test", "win32-services");
  std::string error;
  ASSERT_EQ(first->acquire(error), InstanceLock::State::Acquired) << error;
  EXPECT_NE(first->where().find("brisquell-test"), std::string::npos);
  // A mutex belongs to a thread: another thread stands for another instance.
  InstanceLock::State second = InstanceLock::State::Acquired;
  std::thread([&] {
    auto other = makeInstanceLock("brisquell-test", "win32-services");
    std::string e;
    second = other->acquire(e);
  }).join();
  EXPECT_EQ(second, InstanceLock::State::AlreadyRunning);
  first->release();
  std::thread([&] {
    auto other = makeInstanceLock("brisquell-test", "win32-services");
    std::string e;
    second = other->acquire(e);
  }).join();
  EXPECT_EQ(second, InstanceLock::State::Acquired);

  const std::string self = currentProgramPath();
  EXPECT_TRUE(hostio::isAbsolute(self)) << self;
  EXPECT_NE(self.find("brisquell_tests.exe"), std::string::npos) << self;
  EXPECT_NE(siblingProgramPath("brisquell").find("brisquell.exe"), std::string::npos);

  ASSERT_TRUE(runningSystemIsTarget());
  auto system = openRunningSystem();
  ASSERT_TRUE(system) << system.message();
  EXPECT_EQ((*system)->kind(), "running Windows system");
  EXPECT_TRUE(hostio::isAbsolute((*system)->machine().windowsDirectory));
  std::uint32_t attrs = 0;
  EXPECT_EQ((*system)->files().attributes((*system)->machine().systemDirectory, attrs),
            Status::Success);
}

TEST(Win32Console, TheNulDeviceIsNoConsole) {
  // The C runtime's isatty() is true for NUL; only a console may be asked a question.
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(nul, INVALID_HANDLE_VALUE);
  HANDLE old = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, nul);
  EXPECT_FALSE(console::inputIsInteractive());
  SetStdHandle(STD_INPUT_HANDLE, old);
  CloseHandle(nul);
}

}  // namespace
}  // namespace brisquell
