// A folder that cannot be read is not a missing folder: what lies below it cannot be tested,
// is logged, and is never reported; in the checks, the shortcut walk and the listing cache.
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <filesystem>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LnkWriter.h"
#include "ScanTestSupport.h"
#include "platform/host/HostFileSystem.h"
#include "support/FailingFiles.h"
#include "support/Portable.h"

namespace brisquell::test {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(UnreadableFolders, ChecksLogWhatLiesBelowAndReportOnlyTheMissing) {
  for (Status denied : {Status::AccessDenied, Status::ReadFault}) {
    ScanMachine m(R"REG(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\locked.exe]
@="C:\\Locked\\locked.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\gone.exe]
@="C:\\Gone\\gone.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"locked"="\"C:\\Locked\\Sub\\agent.exe\" /tray"
"gone"="C:\\Gone\\agent.exe"
)REG",
                  {"Locked/locked.exe", "Locked/Sub/agent.exe"});
    FailingFilesTarget target(*m.machine, "C:\\Locked", denied);
    ScanContext ctx(target);
    runScan(ctx, ScanMode::Quick);
    std::vector<std::string> found;
    for (const auto& r : ctx.problems().rows()) found.push_back(r.KeyValue);
    EXPECT_THAT(found, ElementsAre("C:\\Gone\\gone.exe", "C:\\Gone\\agent.exe")) << code(denied);
    EXPECT_THAT(m.log(), HasSubstr("Path/File access error"));
    EXPECT_THAT(m.log(), HasSubstr("CheckApplicationPath"));
  }
}

TEST(UnreadableFolders, ShortcutToTargetBelowUnreadableFolderIsNotReported) {
  ScanMachine m("", {"Locked/app.exe"});
  writeText(m.dir / "drive_c/Desktop/app.lnk", "");
  {
    const Bytes b = makeShortcut("C:\\Locked\\app.exe");
    writeText(m.dir / "drive_c/Desktop/app.lnk", std::string(b.begin(), b.end()));
    const Bytes g = makeShortcut("C:\\Gone\\app.exe");
    writeText(m.dir / "drive_c/Other/gone.lnk", std::string(g.begin(), g.end()));
  }
  FailingFilesTarget target(*m.machine, "C:\\Locked", Status::AccessDenied);
  ScanContext ctx(target);
  runScan(ctx, ScanMode::Deep);
  std::vector<std::string> found;
  for (const auto& r : ctx.problems().rows()) found.push_back(r.KeyValue);
  EXPECT_THAT(found, ElementsAre("C:\\Gone\\app.exe -> C:\\Other\\gone.lnk"));
  EXPECT_THAT(m.log(), HasSubstr("FindFilesAPI"));
  EXPECT_THAT(m.log(), HasSubstr("Path/File access error"));
}

#ifndef _WIN32
namespace {

// Runs body as an unprivileged user so that folder permissions bite even for root (as in CI);
// false when that user cannot be taken on here.
bool runUnprivileged(const std::function<bool()>& body) {
  if (::geteuid() != 0) {
    EXPECT_TRUE(body()) << "checks failed";
    return true;
  }
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(77);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return false;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "unprivileged checks failed";
  return true;
}

}  // namespace
#endif

TEST(UnreadableFolders, HostFolderWithoutPermissionCannotBeTestedCachedOrNot) {
  BRISQUELL_SKIP_ON_WINDOWS("folder permissions are POSIX modes taken away by chmod");
#ifndef _WIN32
  TempDir d;
  writeText(d / "c/Open/here.exe", "");
  writeText(d / "c/Locked/Sub/there.exe", "");
  ::chmod((d / "c/Locked").c_str(), 0);
  std::filesystem::permissions(d.path(), std::filesystem::perms::all);  // for the child
  std::filesystem::permissions(d / "c", std::filesystem::perms::all);
  std::filesystem::permissions(d / "c/Open", std::filesystem::perms::all);
  HostFileSystem fs({{{'C', DriveFixed, true}, d / "c"}}, "C:\\");
  bool ran = runUnprivileged([&] {
    bool ok = true;
    for (bool cached : {false, true, true}) {  // the second cached round reads the cache
      fs.setListingCache(cached);
      std::vector<DirEntry> out;
      ok &= fs.find("C:\\Open\\here.exe", out) == Status::Success;
      ok &= fs.find("C:\\Open\\gone.exe", out) == Status::FileNotFound;
      ok &= fs.find("C:\\Locked\\Sub\\there.exe", out) == Status::AccessDenied;
      ok &= fs.find("C:\\Locked\\there.exe", out) == Status::AccessDenied;
      ok &= fs.find("C:\\Locked\\*", out) == Status::AccessDenied;
    }
    fs.setListingCache(false);
    return ok;
  });
  ::chmod((d / "c/Locked").c_str(), 0755);
  if (!ran) GTEST_SKIP() << "no unprivileged user to test folder permissions with";
#endif
}

}  // namespace brisquell::test
