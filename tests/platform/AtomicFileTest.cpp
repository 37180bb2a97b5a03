// Atomic files: a kept file is replaced whole; an output file named by the user is replaced
// through its links, and a device or FIFO is written into, never replaced.
#include "platform/AtomicFile.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/Portable.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::readText;
using test::TempDir;
using test::writeText;

Outcome writeAll(const std::string& path, AtomicFile::Mode mode, const std::string& text) {
  AtomicFile f(path, mode);
  if (Outcome r = f.open(); !r) return r;
  if (!f.write(text.data(), text.size())) return Outcome::fail("write failed");
  return f.commit();
}

#ifndef _WIN32
mode_t typeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & S_IFMT;
}
#endif

TEST(AtomicFile, OutputGoesThroughLinksAndIntoFifosAndDevices) {
  BRISQUELL_NEEDS_SYMLINKS();
#ifndef _WIN32
  TempDir dir;
  // A link is followed, even a dangling one, and the file it names is replaced.
  writeText(dir / "real.txt", "old");
  ::chmod((dir / "real.txt").c_str(), 0600);
  std::filesystem::create_symlink("real.txt", dir / "link.txt");
  std::filesystem::create_symlink("sub/../new.txt", dir / "dangling.txt");
  std::filesystem::create_directory(dir / "sub");
  ASSERT_TRUE(writeAll(dir / "link.txt", AtomicFile::Mode::Output, "new"));
  EXPECT_EQ(typeOf(dir / "link.txt"), S_IFLNK);
  EXPECT_EQ(readText(dir / "real.txt"), "new");
  struct stat st {};
  ::stat((dir / "real.txt").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "the replaced file keeps its permissions";
  ASSERT_TRUE(writeAll(dir / "dangling.txt", AtomicFile::Mode::Output, "made"));
  EXPECT_EQ(typeOf(dir / "dangling.txt"), S_IFLNK);
  EXPECT_EQ(readText(dir / "new.txt"), "made");

  // A FIFO gets the bytes and stays a FIFO.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    std::ifstream in(dir / "fifo", std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
  Outcome r = writeAll(dir / "fifo", AtomicFile::Mode::Output, "through the pipe");
  reader.join();
  ASSERT_TRUE(r) << r.message();
  EXPECT_EQ(received, "through the pipe");
  EXPECT_EQ(typeOf(dir / "fifo"), S_IFIFO);

  // /dev/null takes the bytes and stays the system's null device (this matters as root).
  ASSERT_TRUE(writeAll("/dev/null", AtomicFile::Mode::Output, "nothing"));
  EXPECT_EQ(typeOf("/dev/null"), S_IFCHR);
  if (::geteuid() == 0) {  // a null device of our own, through a link
    ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    std::filesystem::create_symlink("null", dir / "to-null");
    ASSERT_TRUE(writeAll(dir / "to-null", AtomicFile::Mode::Output, "gone"));
    EXPECT_EQ(typeOf(dir / "null"), S_IFCHR);
  }
  // A folder is refused and left alone.
  Outcome folder = writeAll(dir / "sub", AtomicFile::Mode::Output, "x");
  EXPECT_FALSE(folder);
  EXPECT_NE(folder.message().find("folder"), std::string::npos) << folder.message();
  EXPECT_EQ(typeOf(dir / "sub"), S_IFDIR);
  // Nothing temporary is left anywhere.
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
#endif
}

TEST(AtomicFile, KeptFilesReplaceTheNameNeverWhatALinkPointsAt) {
  BRISQUELL_NEEDS_SYMLINKS();
#ifndef _WIN32
  TempDir dir;
  writeText(dir / "outside.txt", "outside");
  std::filesystem::create_symlink(dir / "outside.txt", dir / "kept.txt");
  ASSERT_TRUE(writeAll(dir / "kept.txt", AtomicFile::Mode::Replace, "inside"));
  EXPECT_EQ(typeOf(dir / "kept.txt"), S_IFREG);
  EXPECT_EQ(readText(dir / "kept.txt"), "inside");
  EXPECT_EQ(readText(dir / "outside.txt"), "outside");

  // An abandoned write leaves the old file and no temporary.
  {
    AtomicFile f(dir / "kept.txt");
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.write("half", 4));
  }
  EXPECT_EQ(readText(dir / "kept.txt"), "inside");
  Outcome missing = writeAll(dir / "no/such/folder/x", AtomicFile::Mode::Replace, "x");
  EXPECT_FALSE(missing);
  EXPECT_NE(missing.message().find("no/such/folder/x"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
#endif
}

TEST(AtomicFile, ReplacesAnExistingFileAndWritesIntoTheNullDevice) {
  TempDir dir;
  writeText(dir / "kept.txt", "old");
  ASSERT_TRUE(writeAll(dir / "kept.txt", AtomicFile::Mode::Replace, "new"));
  EXPECT_EQ(readText(dir / "kept.txt"), "new");
  ASSERT_TRUE(writeAll(dir / "kept.txt", AtomicFile::Mode::Output, "newer"));
  EXPECT_EQ(readText(dir / "kept.txt"), "newer");
#ifdef _WIN32
  const std::string null = "NUL";
#else
  const std::string null = "/dev/null";
#endif
  Outcome r = writeAll(null, AtomicFile::Mode::Output, "nothing");
  EXPECT_TRUE(r) << r.message();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Small pieces go through the stream's buffer, large ones straight to the descriptor, and
// every few MiB the written part is handed to writeback: the bytes must stay in their order.
TEST(AtomicFile, LargeAndSmallPiecesMixedKeepTheirOrder) {
  TempDir dir;
  writeText(dir / "big.bin", "old");
  std::string expected;
  AtomicFile f(dir / "big.bin");
  ASSERT_TRUE(f.open());
  const std::size_t sizes[] = {1, 100, 300 << 10, 7, 1 << 20, (256 << 10) - 1, 256 << 10, 3 << 20};
  for (int round = 0; round < 4; ++round)
    for (std::size_t size : sizes) {
      std::string piece(size, '\0');
      for (std::size_t i = 0; i < size; ++i)
        piece[i] = static_cast<char>('a' + (expected.size() + i) % 23);
      expected += piece;
      ASSERT_TRUE(f.write(piece.data(), piece.size()));
    }
  EXPECT_EQ(readText(dir / "big.bin"), "old") << "replaced before the commit";
  ASSERT_TRUE(f.commit());
  EXPECT_EQ(readText(dir / "big.bin"), expected);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace brisquell
