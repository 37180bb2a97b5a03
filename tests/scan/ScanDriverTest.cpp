// The scan driver: section list from the switches, modes, drive sections, counts, cancel,
// re-entry, and the error log's shape.
#include <filesystem>
#include <type_traits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScanTestSupport.h"
#include "platform/UserInterface.h"

namespace brisquell::test {

using ::testing::ElementsAre;

namespace {

struct RecordingUi : UserInterface {
  std::vector<std::string> messages;
  bool askYesNo(std::string_view, std::string_view) override { return true; }
  void inform(std::string_view title, std::string_view text) override {
    messages.push_back(std::string(title) + ": " + std::string(text));
  }
  void warn(std::string_view, std::string_view) override {}
};

struct CallbackPump : EventPump {
  std::function<void()> f;
  void pump() override { f(); }
};

std::vector<std::string> progressNames(ScanContext& ctx) {
  std::vector<std::string> out;
  for (const auto& p : ctx.progress()) out.push_back(p.name + "|" + p.status + "|" + p.problems);
  return out;
}

// A copy would keep pointers into the original (the log's folder lookup, the registry access's
// log, the front ends' indexes into the lists).
static_assert(!std::is_copy_constructible_v<ScanSession> &&
              !std::is_copy_assignable_v<ScanSession>);
static_assert(!std::is_copy_constructible_v<ScanState> && !std::is_copy_assignable_v<ScanState>);
static_assert(!std::is_copy_constructible_v<ScanContext> &&
              !std::is_move_constructible_v<ScanContext>);

constexpr const char* kSettings =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quandrel Technology\\Brisquell\\Settings]\n";

}  // namespace

TEST(ScanDriver, SwitchesAndModes) {
  ScanMachine m(
      std::string(kSettings) +
      "\"Menu0\"=\"False\"\n\"Menu1\"=\"0\"\n\"Menu2\"=\"false\"\n\"Menu3\"=hex:00\n"
      "\"Menu4\"=dword:00000000\n\"Menu6\"=\"False\"\n\"Menu7\"=\"False\"\n\"Menu8\"=\"False\"\n"
      "\"Menu9\"=\"False\"\n\"Menu10\"=\"False\"\n\"Menu11\"=\"False\"\n\"Menu12\"=\"False\"\n");
  m.scan(ScanMode::Quick);
  ASSERT_EQ(m.ctx->sections().size(), 12u);
  EXPECT_THAT(progressNames(*m.ctx), ElementsAre("File Extensions|Finished|0 Registry Problems",
                                                 "Device Drivers|Finished|0 Registry Problems"));
  EXPECT_FALSE(m.ctx->progress()[1].darkRed);
  // The deep scan adds the (unticked) MS-Dos row and one always-ticked row per fixed drive.
  m.scan(ScanMode::Deep);
  ASSERT_EQ(m.ctx->sections().size(), 14u);
  EXPECT_EQ(m.ctx->sections()[12].name, "MS-Dos Shortcuts");
  EXPECT_FALSE(m.ctx->sections()[12].ticked);
  EXPECT_EQ(m.ctx->sections()[13].name, "Windows Shortcuts(Drive C:)");
  EXPECT_EQ(m.ctx->sections()[13].threatLevel, "High");
  EXPECT_EQ(progressNames(*m.ctx).back(),
            "Windows Shortcuts(Drive C:)|Finished|0 Registry Problems");

  // A switch that is no Boolean stops reading: later rows stay ticked, no drive rows.
  ScanMachine bad(std::string(kSettings) +
                  "\"Menu0\"=\"False\"\n\"Menu1\"=\"maybe\"\n\"Menu2\"=\"False\"\n");
  bad.scan(ScanMode::Deep);
  EXPECT_FALSE(bad.ctx->sections()[0].ticked);
  EXPECT_TRUE(bad.ctx->sections()[2].ticked);
  EXPECT_EQ(bad.ctx->sections().size(), 13u);
  EXPECT_NE(bad.log().find("LoadRegistryValues\r\n"), std::string::npos);
}

TEST(ScanDriver, DriveSectionsBeyondG) {
  std::string drives;
  for (char c = 'C'; c <= 'I'; ++c)
    drives += std::string(1, c) + "=fixed,drive_" + char(c + 32) + "\n";
  drives += "J=cdrom,drive_j,notready\n";
  TempDir d;
  for (char c = 'c'; c <= 'i'; ++c)
    std::filesystem::create_directories(d / (std::string("drive_") + c));
  makeMachine(d.path(), "", "[Drives]\n" + drives);
  auto machineOpened = MachineFolder::open(d.path());
  auto machine = machineOpened ? std::move(machineOpened).value() : nullptr;
  ASSERT_TRUE(machine) << machineOpened.message();
  ScanContext ctx(*machine);
  runScan(ctx, ScanMode::Deep);
  auto rows = progressNames(ctx);
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows[13], "Windows Shortcuts(Drive C:)|Finished|0 Registry Problems");
  EXPECT_EQ(rows[17], "Windows Shortcuts(Drive G:)|Finished|0 Registry Problems");
  EXPECT_EQ(rows[18], "Windows Shortcuts(Drive H:)|Scanning|");
  EXPECT_EQ(rows[19], "Windows Shortcuts(Drive I:)|Scanning|");
}

TEST(ScanDriver, CountsBeyondSixteenBits) {
  std::string body =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\n";
  for (int i = 0; i < 33000; ++i)
    body += "\"C:\\\\gone\\\\f" + std::to_string(i) + ".dll\"=dword:00000001\n";
  ScanMachine m(body);
  m.scan();
  EXPECT_EQ(m.problems().size(), 33000u);
  for (const auto& s : m.ctx->sections())
    if (s.name == "Microsoft Shared") {
      EXPECT_EQ(s.problems, "33000 Registry Problems");
    }
  EXPECT_TRUE(m.ctx->progress()[8].darkRed);
}

TEST(ScanDriver, CancelAndReentry) {
  ScanMachine m(R"(
[HKEY_CLASSES_ROOT\CLSID\{1}\InprocServer32]
@="C:\\gone\\a.dll"
[HKEY_CLASSES_ROOT\CLSID\{2}\InprocServer32]
@="C:\\gone\\b.dll"
[HKEY_CLASSES_ROOT\CLSID\{3}\InprocServer32]
@="C:\\gone\\c.dll"
)");
  CallbackPump pump;
  RecordingUi ui;
  // A scan started from inside a running one is refused.
  ScanOutcome inner = ScanOutcome::Finished;
  pump.f = [&] {
    if (inner == ScanOutcome::Finished) inner = runScan(*m.ctx, ScanMode::Quick);
  };
  m.ctx->setPump(&pump);
  EXPECT_EQ(runScan(*m.ctx, ScanMode::Quick, &ui), ScanOutcome::Finished);
  EXPECT_EQ(inner, ScanOutcome::Refused);
  EXPECT_EQ(m.problems().size(), 6u);

  // Cancel once the second problem is recorded: the scan stops at the next test.
  pump.f = [&] {
    if (m.ctx->problems().size() >= 2) m.ctx->bCancelScan = true;
  };
  EXPECT_EQ(runScan(*m.ctx, ScanMode::Quick, &ui), ScanOutcome::Cancelled);
  EXPECT_EQ(m.problems().size(), 2u);
  EXPECT_THAT(progressNames(*m.ctx), ElementsAre("Registry Integrity|Finished|0 Registry Problems",
                                                 "ActiveX \\ COM|Scanning|"));
  EXPECT_TRUE(ui.messages.empty());

  // Nothing ticked: no rows, no records, and the user is told.
  m.ctx->setPump(nullptr);
  std::string off = kSettings;
  for (int i = 0; i < 13; ++i) off += "\"Menu" + std::to_string(i) + "\"=\"False\"\n";
  ScanMachine none(off);
  EXPECT_EQ(runScan(*none.ctx, ScanMode::Quick, &ui), ScanOutcome::Finished);
  EXPECT_TRUE(none.ctx->progress().empty());
  EXPECT_THAT(ui.messages, ElementsAre("Brisquell: Congratulations!!! No problem found."));
}

TEST(ScanDriver, ErrorLogEntriesAndUnwritableLog) {
  ScanMachine m(R"(
[HKEY_CLASSES_ROOT\CLSID\{1}\InprocServer32]
@="D:\\x.dll"
[HKEY_CLASSES_ROOT\CLSID\{2}\InprocServer32]
@="C:\\WINDOWS\\system32\\ro.dll"
)",
                {"WINDOWS/system32/ro.dll"});
  std::filesystem::permissions(m.dir / "drive_c/WINDOWS/system32/ro.dll",
                               std::filesystem::perms::owner_read);
  m.scan();
  EXPECT_TRUE(m.problems().empty());  // a read-only file exists like any other
  std::string log = m.log();
  // Two sections walk the same key: two entries of five CR LF lines each.
  std::size_t lines = 0;
  for (std::size_t p = log.find("\r\n"); p != std::string::npos; p = log.find("\r\n", p + 2))
    ++lines;
  EXPECT_EQ(lines, 10u);
  EXPECT_EQ(log.rfind(" 68 \r\nDevice unavailable\r\n", 0), 0u);

  // Without a Windows folder the log cannot be written; the scan goes on regardless.
  ScanMachine noWindows(R"(
[HKEY_CLASSES_ROOT\CLSID\{1}\InprocServer32]
@="D:\\x.dll"
[HKEY_CLASSES_ROOT\CLSID\{2}\InprocServer32]
@="C:\\gone.dll"
)");
  std::filesystem::remove_all(noWindows.dir / "drive_c/WINDOWS");
  noWindows.scan();
  EXPECT_EQ(noWindows.problems().size(), 2u);
}

}  // namespace brisquell::test
