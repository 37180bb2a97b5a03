// brisquell startup, tune and cache from the outside: output, exit codes, what reaches the target.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/machine/MachineFolder.h"
#include "support/TempDir.h"

namespace brisquell::test {

namespace {

const char* kRunMachine = R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Tray"="\"C:\\Nimbus\\nmtray.exe\" /background"
"nmagent"="nmagent.exe"

[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Brisquell\Run]
"Old"="C:\\Old\\old.exe"
)";

const std::string kCacheDir =
    "drive_c/Documents and Settings/user/Local Settings/Temporary Internet Files";

// A value of hkey::LocalMachine as the machine folder holds it on disk.
std::string savedValue(const std::string& folder, std::string_view key, std::string_view name) {
  auto mOpened = MachineFolder::open(folder);
  auto m = mOpened ? std::move(mOpened).value() : nullptr;
  if (!m) return mOpened.message();
  KeyHandle h = 0;
  if (m->registry().openKey(hkey::LocalMachine, key, keyaccess::AllAccess, h) != Status::Success)
    return "(no key)";
  std::uint32_t type = 0;
  Bytes data;
  Status st = m->registry().queryValue(h, name, type, data);
  m->registry().closeKey(h);
  if (st != Status::Success || data.empty()) return "(none)";
  return std::string(data.begin(), data.end() - 1);
}

bool contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

}  // namespace

TEST(StartupCommand, ListDisableEnable) {
  TempDir d;
  makeMachine(d / "m", kRunMachine);
  auto list = runCli({"--target", d / "m", "startup"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_TRUE(contains(list.out, "yes   Tray  \"C:\\Nimbus\\nmtray.exe\" /background\n"))
      << list.out;
  EXPECT_TRUE(contains(list.out, "no    Old   C:\\Old\\old.exe\n")) << list.out;
  EXPECT_FALSE(contains(list.out, "nmagent"));

  auto off = runCli({"--target", d / "m", "startup", "disable", "tray"});
  ASSERT_EQ(off.exitCode, 0) << off.err;
  EXPECT_EQ(off.out, "Tray is switched off.\n");
  auto after = runCli({"--target", d / "m", "startup", "list"});
  EXPECT_TRUE(contains(after.out, "no    Tray  \"C:\\Nimbus\\nmtray.exe\" /background\n"))
      << after.out;

  auto on = runCli({"--target", d / "m", "startup", "enable", "Old"});
  ASSERT_EQ(on.exitCode, 0) << on.err;
  auto last = runCli({"--target", d / "m", "startup", "list"});
  EXPECT_TRUE(contains(last.out, "yes   Old   C:\\Old\\old.exe\n")) << last.out;

  auto again = runCli({"--target", d / "m", "startup", "enable", "Old"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_TRUE(contains(again.out, "already switched on"));
  auto unknown = runCli({"--target", d / "m", "startup", "disable", "nmagent"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(contains(unknown.err, "no startup program is named \"nmagent\""));
  EXPECT_EQ(runCli({"--target", d / "m", "startup", "disable"}).exitCode, 2);
  EXPECT_EQ(runCli({"--target", d / "m", "startup", "remove", "Old"}).exitCode, 2);
}

TEST(TuneCommand, WritesTheValuesOfTheKindAndSaves) {
  TempDir d;
  makeMachine(d / "m", "");
  auto cable = runCli({"--target", d / "m", "tune", "cable"});
  ASSERT_EQ(cable.exitCode, 0) << cable.err;
  EXPECT_TRUE(contains(cable.out, "VxD\\MSTCP\\DefaultRcvWindow = 372300"));
  EXPECT_TRUE(contains(cable.out, "NetTrans\\MaxMTU = 1500"));
  EXPECT_TRUE(
      contains(cable.out, "For the changes to take effect, you must restart your computer."));
  EXPECT_EQ(savedValue(d / "m", "SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans", "MaxMSS"),
            "1460");
  auto dial = runCli({"--target", d / "m", "tune", "dialup"});
  ASSERT_EQ(dial.exitCode, 0) << dial.err;
  EXPECT_TRUE(contains(dial.out, "DefaultRcvWindow = 8192"));

  auto def = runCli({"--target", d / "m", "tune", "default"});
  ASSERT_EQ(def.exitCode, 0) << def.err;
  EXPECT_TRUE(contains(def.out, "MaxMSS removed"));
  EXPECT_TRUE(contains(def.out, "Default Values Loaded."));
  EXPECT_EQ(runCli({"--target", d / "m", "tune", "wifi"}).exitCode, 2);
  EXPECT_EQ(runCli({"--target", d / "m", "tune"}).exitCode, 2);
}

TEST(CacheCommand, ReportsDeletedAndSparedAndHonoursTheSwitch) {
  TempDir d;
  makeMachine(d / "m", "");
  writeText(d / ("m/" + kCacheDir + "/cache-index.txt"),
            "BRISQUELL URL CACHE "
            "1\nhttp://a.example/\tX\\a[1].htm\nCookie:user@b.example/\tCookies\\user@b[1].txt\n");
  writeText(d / ("m/" + kCacheDir + "/X/a[1].htm"), "a");
  writeText(d / ("m/" + kCacheDir + "/Cookies/user@b[1].txt"), "b");
  writeText(d / "m/drive_c/Program Files/Brisquell/DoNotDeleteCookie", "User@B\nC:\\x\\y\n");

  makeMachine(d / "off",
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quandrel "
              "Technology\\Brisquell\\IESettings]\n\"Cache\"=\"0\"\n");
  writeText(d / ("off/" + kCacheDir + "/cache-index.txt"),
            "BRISQUELL URL CACHE 1\nhttp://a.example/\ta.htm\n");
  auto off = runCli({"--target", d / "off", "cache", "clear"});
  EXPECT_EQ(off.exitCode, 0) << off.err;
  EXPECT_FALSE(contains(off.out, "cleared sucessfully"));
  EXPECT_TRUE(contains(off.out, "not cleared"));

  auto clear = runCli({"--target", d / "m", "cache", "clear"});
  ASSERT_EQ(clear.exitCode, 0) << clear.err;
  EXPECT_EQ(clear.out,
            "1 entry deleted, 1 spared.\nAll Cache Files have been cleared sucessfully.\n");
  EXPECT_TRUE(contains(clear.err, "\"C:\\x\\y\" names no cookie file"));
  EXPECT_FALSE(std::filesystem::exists(d / ("m/" + kCacheDir + "/X/a[1].htm")));
  EXPECT_TRUE(std::filesystem::exists(d / ("m/" + kCacheDir + "/Cookies/user@b[1].txt")));

  writeText(d / ("m/" + kCacheDir + "/cache-index.txt"), "BRISQUELL URL CACHE 1\nno tab\n");
  auto bad = runCli({"--target", d / "m", "cache", "clear"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_TRUE(contains(bad.err, "cache-index.txt:2: expected the URL, a tab and the local file"))
      << bad.err;
  EXPECT_FALSE(contains(bad.out, "sucessfully"));
  EXPECT_EQ(runCli({"--target", d / "m", "cache"}).exitCode, 2);
}

TEST(CacheCommand, DemoMachineSparesTwoCookies) {
  TempDir d;
  std::filesystem::copy(std::string(BRISQUELL_SOURCE_DIR) + "/examples/demo-machine", d / "demo",
                        std::filesystem::copy_options::recursive);
  auto r = runCli({"--target", d / "demo", "cache", "clear"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "5 entries deleted, 2 spared.\nAll Cache Files have been cleared sucessfully.\n");
}

}  // namespace brisquell::test
