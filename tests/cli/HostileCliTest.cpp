// The command line handed wrong words, a target another command is writing, or a target it
// may not write.
#ifndef _WIN32
#include <sys/mount.h>
#endif
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/TargetLock.h"
#include "support/Portable.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

using test::runCli;

TEST(HostileCli, UnknownCommandIsNamedWithTheCommandsThereAre) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"frobnicate"},
        std::vector<std::string>{"--target", "/nowhere", "frob", "x"},
        std::vector<std::string>{"--user", "scan", "cleanup"}}) {
    auto r = runCli(args);
    EXPECT_EQ(r.exitCode, 2);
    const std::string word = args.size() == 1   ? "frobnicate"
                             : args.size() == 4 ? "frob"
                                                : "cleanup";
    EXPECT_NE(r.err.find("unknown command \"" + word + "\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("scan, reg, fix, backups, restore"), std::string::npos) << r.err;
  }
  auto none = runCli({});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("a command is required; the commands are: scan"), std::string::npos)
      << none.err;
}

TEST(HostileCli, CutRegFileIsRefusedAndTheTargetStaysAsItWas) {
  test::TempDir dir;
  test::makeMachine(dir / "m", "[HKEY_CURRENT_USER\\Kept]\r\n\"v\"=\"1\"\r\n");
  const std::string before = test::readText(dir / "m/registry.reg");
  test::writeUtf16(dir / "odd.reg",
                   "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\New]\r\n"
                   "\"a\"=hex:01,02,03,04");
  std::string bytes = test::readText(dir / "odd.reg");
  bytes.pop_back();
  test::writeText(dir / "odd.reg", bytes);
  auto r = runCli({"--target", dir / "m", "reg", "import", dir / "odd.reg"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find(dir / "odd.reg:4: "), std::string::npos) << r.err;
  EXPECT_EQ(test::readText(dir / "m/registry.reg"), before);
}

const std::string kBroken =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
    "\"Broken\"=\"C:\\\\Missing\\\\run.exe\"\r\n\r\n";

std::string importFile(const test::TempDir& dir, const std::string& name) {
  const std::string file = dir / (name + ".reg");
  test::writeText(
      file, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\" + name +
                "]\r\n\"v\"=\"" + name + "\"\r\n");
  return file;
}

TEST(HostileCli, AChangingCommandIsRefusedWhileAnotherProcessHoldsTheTargetReadingOnesGoOn) {
  test::TempDir dir;
  test::makeMachine(dir / "m", kBroken);
  const std::string before = test::readText(dir / "m/registry.reg");
  auto held = makeTargetLock(dir / "m");
  ASSERT_TRUE(held->acquire(std::chrono::milliseconds(0)));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"reg", "import", importFile(dir, "A")},
        std::vector<std::string>{"fix", "--yes"}}) {
    std::vector<std::string> full = {"--target", dir / "m"};
    full.insert(full.end(), args.begin(), args.end());
    auto r = runCli(full);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_NE(r.err.find("is being changed by process " + std::to_string(test::processId()) +
                         " (brisquell_tests"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::readText(dir / "m/registry.reg"), before);
  }
  auto scan = runCli({"--target", dir / "m", "reg", "export"});
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(scan.err.find("being changed"), std::string::npos) << scan.err;
  held->release();
  auto r = runCli({"--target", dir / "m", "reg", "import", importFile(dir, "A")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(HostileCli, WritersRacingOnOneTargetLoseNoChange) {
  BRISQUELL_SKIP_ON_WINDOWS("the racing writers are started by a bash script");
  test::TempDir dir;
  test::makeMachine(dir / "m", kBroken);
  std::string script = "set -e; pids=''; ";
  const std::vector<std::string> names = {"One", "Two", "Three", "Four", "Five", "Six"};
  for (const auto& n : names)
    script += std::string("env -u BRISQUELL_TARGET ") + BRISQUELL_CLI + " --target '" + dir / "m" +
              "' reg import '" + importFile(dir, n) + "' >/dev/null 2>&1 & pids=\"$pids $!\"; ";
  script += "for p in $pids; do wait $p; done";
  test::writeText(dir / "race.sh", script);
  EXPECT_EQ(std::system(("bash '" + dir / "race.sh" + "'").c_str()), 0);
  auto exported = runCli({"--target", dir / "m", "reg", "export"});
  std::erase(exported.out, '\0');  // UTF-16 of ASCII names
  for (const auto& n : names)
    EXPECT_NE(exported.out.find("[HKEY_CURRENT_USER\\Software\\" + n + "]"), std::string::npos)
        << n << " was lost";
}

// A small tmpfs of its own: a real full disk and a real read-only volume. Skipped where
// nothing can be mounted.
struct SmallVolumeTest : ::testing::Test {
  void SetUp() override {
    BRISQUELL_SKIP_ON_WINDOWS("a small volume of its own is mounted as tmpfs");
    mnt = dir / "vol";
    std::filesystem::create_directories(mnt);
#ifndef _WIN32
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=2m") != 0)
      GTEST_SKIP() << "no tmpfs can be mounted here";
    mounted = true;
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    if (mounted) ::umount2(mnt.c_str(), MNT_DETACH);
#endif
  }
  // Fills the volume up to `leave` bytes.
  void fill(std::size_t leave) {
    std::FILE* f = std::fopen((mnt + "/filler").c_str(), "wb");
    ASSERT_TRUE(f);
    std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
    std::filesystem::resize_file(
        mnt + "/filler",
        std::filesystem::file_size(mnt + "/filler") -
            std::min<std::uintmax_t>(leave, std::filesystem::file_size(mnt + "/filler")));
  }
  test::TempDir dir;
  std::string mnt;
  bool mounted = false;
};

TEST_F(SmallVolumeTest, AFullDiskStopsTheRepairBeforeAnyDeletionAndTheSaveKeepsTheOldRegistry) {
  // A large registry: its new copy does not fit where a backup set does.
  std::string body = kBroken + "[HKEY_CURRENT_USER\\Software\\Bulk]\r\n";
  for (int i = 0; i < 3000; ++i)
    body += "\"value" + std::to_string(i) + "\"=\"" + std::string(40, 'b') + "\"\r\n";
  test::makeMachine(mnt + "/m", body);
  const std::string before = test::readText(mnt + "/m/registry.reg");
  fill(0);
  auto full = runCli({"--target", mnt + "/m", "fix", "--yes"});
  EXPECT_NE(full.exitCode, 0);
  EXPECT_NE(full.err.find("Nothing has been deleted."), std::string::npos) << full.out << full.err;
  EXPECT_EQ(test::readText(mnt + "/m/registry.reg"), before);

  fill(64 * 1024);  // room for the backup set, not for the registry's new copy
  auto save = runCli({"--target", mnt + "/m", "fix", "--yes"});
  EXPECT_NE(save.exitCode, 0);
  EXPECT_NE((save.out + save.err).find("could not be saved"), std::string::npos)
      << save.out << save.err;
  EXPECT_EQ(test::readText(mnt + "/m/registry.reg"), before);
  for (const auto& e : std::filesystem::directory_iterator(mnt + "/m"))
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
  std::filesystem::remove(mnt + "/filler");
  auto again = runCli({"--target", mnt + "/m", "fix", "--yes"});
  EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
}

TEST_F(SmallVolumeTest, AReadOnlyTargetIsRefusedBeforeAnythingIsDone) {
  test::makeMachine(mnt + "/m", kBroken);
  const std::string before = test::readText(mnt + "/m/registry.reg");
#ifndef _WIN32
  ASSERT_EQ(::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
#endif
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"fix", "--yes"},
        std::vector<std::string>{"reg", "import", importFile(dir, "A")}}) {
    std::vector<std::string> full = {"--target", mnt + "/m"};
    full.insert(full.end(), args.begin(), args.end());
    auto r = runCli(full);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Do you want to proceed"), std::string::npos) << r.out;
  }
  EXPECT_EQ(test::readText(mnt + "/m/registry.reg"), before);
  auto read = runCli({"--target", mnt + "/m", "reg", "export"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
}

}  // namespace
}  // namespace brisquell
