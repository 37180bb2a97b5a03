// One changing command per target: a second process waits briefly, then is refused with the
// holder named; the lock goes with its process however that ends; leftovers of killed saves
// are cleaned while nobody writes; a registry changed on disk is never written over.
#include "platform/TargetLock.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "platform/Target.h"
#include "platform/TargetChanges.h"
#include "support/Portable.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

#ifndef _WIN32
// A child process that holds the folder's lock until it is killed.
pid_t holdInChild(const std::string& folder) {
  int p[2];
  if (::pipe(p) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    ::close(p[0]);
    auto lock = makeTargetLock(folder);
    char ok = lock->acquire(0ms) ? '1' : '0';
    if (::write(p[1], &ok, 1) != 1) ::_exit(2);
    for (;;) ::pause();
  }
  ::close(p[1]);
  char ok = 0;
  if (::read(p[0], &ok, 1) != 1 || ok != '1') child = -1;
  ::close(p[0]);
  return child;
}

void kill9(pid_t child) {
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
}

// Whether a fresh program (sharing nothing of this process) can take the lock at once.
bool freeForAnotherProcess(const std::string& folder) {
  return std::system(("flock -n -E 3 '" + folder + "/.brisquell.lock' true").c_str()) == 0;
}
#endif

constexpr const char* kForked = "the other holder is a forked child, killed with SIGKILL";

TEST(TargetLock, ASecondProcessIsRefusedNamingTheHolderUntilTheHolderIsKilled) {
  BRISQUELL_SKIP_ON_WINDOWS(kForked);
#ifndef _WIN32
  TempDir dir;
  pid_t holder = holdInChild(dir.path());
  ASSERT_GT(holder, 0);
  EXPECT_FALSE(noOtherWriter(dir.path()));
  auto lock = makeTargetLock(dir.path());
  const auto start = std::chrono::steady_clock::now();
  Outcome refused = lock->acquire(300ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);  // it waited first
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.status(), Status::SharingViolation);
  EXPECT_NE(refused.message().find(fmt::format("process {} (", holder)), std::string::npos)
      << refused.message();
  EXPECT_NE(refused.message().find("brisquell_tests"), std::string::npos) << refused.message();
  EXPECT_NE(refused.message().find(dir.path()), std::string::npos);
  kill9(holder);  // no chance to clean up: the system drops the lock
  EXPECT_TRUE(noOtherWriter(dir.path()));
  ASSERT_TRUE(lock->acquire(0ms));
  // Taken again in this process at once; free for others only when the last holder lets go.
  auto nested = makeTargetLock(dir.path() + "/");
  ASSERT_TRUE(nested->acquire(0ms));
  EXPECT_TRUE(noOtherWriter(dir.path()));
  lock->release();
  EXPECT_FALSE(freeForAnotherProcess(dir.path()));
  nested.reset();
  EXPECT_TRUE(freeForAnotherProcess(dir.path()));
#endif
}

TEST(TargetLock, ALockFileThatIsALinkIsNeverFollowed) {
  BRISQUELL_NEEDS_SYMLINKS();
  TempDir dir;
  test::writeText(dir / "outside.txt", "keep");
  fs::create_directories(dir / "t");
  fs::create_symlink(dir / "outside.txt", dir / "t/.brisquell.lock");
  Outcome o = makeTargetLock(dir / "t")->acquire(0ms);
  EXPECT_FALSE(o);
  EXPECT_NE(o.message().find("nothing was changed"), std::string::npos) << o.message();
  EXPECT_EQ(test::readText(dir / "outside.txt"), "keep");
}

struct MachineWriterTest : ::testing::Test {
  void SetUp() override {
    test::makeMachine(dir / "m", "[HKEY_CURRENT_USER\\Software\\K]\r\n\"v\"=\"1\"\r\n");
  }
  std::unique_ptr<Target> open() {
    auto t = openTarget(dir / "m");
    EXPECT_TRUE(t) << t.message();
    return t ? std::move(t).value() : nullptr;
  }
  void setV(Target& t, const std::string& text) {
    KeyHandle h = 0;
    ASSERT_EQ(t.registry().createKey(hkey::CurrentUser, "Software\\K", h), Status::Success);
    Bytes data(text.begin(), text.end());
    data.push_back(0);
    t.registry().setValue(h, "v", regtype::Sz, data);
    t.registry().closeKey(h);
  }
  TempDir dir;
};

TEST_F(MachineWriterTest, ARegistryChangedOnDiskSinceItWasReadIsNotWrittenOver) {
  auto first = open();
  auto second = open();
  setV(*second, "second");
  ASSERT_TRUE(second->save());
  const std::string afterSecond = test::readText(dir / "m/registry.reg");
  setV(*first, "first");
  TargetChanges changes(*first);
  Outcome saved = changes.save();
  ASSERT_FALSE(saved);
  EXPECT_NE(saved.message().find("changed on disk since it was read"), std::string::npos)
      << saved.message();
  EXPECT_EQ(test::readText(dir / "m/registry.reg"), afterSecond);  // the other change stays
  // The failed save read the file again: the next change is made on what is there.
  setV(*first, "third");
  EXPECT_TRUE(first->save());
  std::string text = test::readText(dir / "m/registry.reg");
  std::erase(text, '\0');  // UTF-16 of ASCII text
  EXPECT_NE(text.find("third"), std::string::npos) << text;
}

TEST_F(MachineWriterTest, TemporariesOfKilledSavesAreRemovedOnlyWhileNobodyWrites) {
  BRISQUELL_SKIP_ON_WINDOWS(kForked);
#ifndef _WIN32
  const std::string ours = dir / "m/registry.reg.tmp-Ab12Z9";
  const std::vector<std::string> others = {dir / "m/registry.reg.tmp-longer-name",
                                           dir / "m/other.reg.tmp-Ab12Z9",
                                           dir / "m/registry.reg.brisquell-old"};
  test::writeText(ours, std::string(1 << 20, 'x'));
  for (const auto& o : others) test::writeText(o, "keep");
  pid_t writer = holdInChild(dir / "m");
  ASSERT_GT(writer, 0);
  open();
  EXPECT_TRUE(fs::exists(ours)) << "another process may be writing it now";
  kill9(writer);
  open();
  EXPECT_FALSE(fs::exists(ours));
  for (const auto& o : others) EXPECT_TRUE(fs::exists(o)) << o;
#endif
}

}  // namespace
}  // namespace brisquell
