// A scan on two threads finds, logs and reports exactly what it finds on one, and a cancel
// leaves what one thread would have left at some point of its walk.
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "ScanTestSupport.h"

namespace brisquell::test {

namespace {

struct Demo {
  TempDir dir;
  std::unique_ptr<MachineFolder> machine;
  std::unique_ptr<ScanContext> ctx;
  explicit Demo(unsigned walkers) {
    std::filesystem::copy(std::string(BRISQUELL_SOURCE_DIR) + "/examples/demo-machine",
                          dir / "demo", std::filesystem::copy_options::recursive);
    auto opened = MachineFolder::open(dir / "demo");
    machine = opened ? std::move(opened).value() : nullptr;
    if (!machine) {
      ADD_FAILURE() << opened.message();
      return;
    }
    ctx = std::make_unique<ScanContext>(*machine);
    ctx->walkers = walkers;
    // Paths that cannot be tested, walked by three sections: each gives a log entry.
    ctx->registry().SetKeyValue(hkey::ClassesRoot, "CLSID\\{0D0D0D0D}\\InprocServer32", "",
                                "D:\\x.dll", regtype::Sz);
    ctx->registry().SetKeyValue(hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\Help", "bad.hlp",
                                "C:\\a|b", regtype::Sz);
    // The user asked never to see the records of one class.
    ctx->leaveOut = [](const ProblemRecord& r) {
      return r.FullKeyPath.find("{7C5A8F31-2B4E-4D6A-8E9F-1A2B3C4D5E6F}") != std::string::npos;
    };
  }
  std::string log() {
    // An entry's time of day and date may differ from run to run.
    auto file = machine->files().hostPath("C:\\WINDOWS\\ErrBrisq.txt");
    std::string text = file ? readText(*file) : std::string();
    return std::regex_replace(text, std::regex("\\d\\d:\\d\\d:\\d\\d\r\n\\d{4}-\\d\\d-\\d\\d"),
                              "T");
  }
};

// Every field of every record and row the scan leaves behind, one line each.
std::string everything(ScanContext& ctx) {
  std::string out;
  for (const ProblemRecord& r : ctx.problems().rows()) {
    out += r.MainKey + "|" + r.KeyName + "|" + r.KeyValue + "|" + r.Section + "|" + r.FullKeyPath +
           "|" + r.MainKeyName + "|" + (r.unnamed ? "u" : "-") + "|" + r.ValueText + "|" +
           r.TestedPath + "|" + r.Reason + "|";
    for (const std::string& t : r.testedPaths) out += t + ";";
    out += "\n";
  }
  for (const ProgressRow& p : ctx.progress())
    out +=
        "progress " + p.name + "|" + p.status + "|" + p.problems + (p.darkRed ? "|red" : "") + "\n";
  for (const SectionRow& s : ctx.sections())
    out += "section " + s.name + "|" + s.status + "|" + s.problems + "\n";
  out += "left out " + std::to_string(ctx.leftOut) + "\n";
  return out;
}

struct CallbackPump : EventPump {
  std::function<void()> f;
  void pump() override { f(); }
};

}  // namespace

TEST(TwoWalkers, FindLogAndReportExactlyWhatOneWalkerDoes) {
  for (ScanMode mode : {ScanMode::Quick, ScanMode::Deep}) {
    Demo one(1), two(2);
    ASSERT_TRUE(one.ctx && two.ctx);
    EXPECT_EQ(runScan(*one.ctx, mode), ScanOutcome::Finished);
    EXPECT_EQ(runScan(*two.ctx, mode), ScanOutcome::Finished);
    const std::string expected = everything(*one.ctx);
    EXPECT_EQ(everything(*two.ctx), expected);
    EXPECT_GT(one.ctx->leftOut, 0u);
    EXPECT_NE(one.log().find("Device unavailable"), std::string::npos);
    EXPECT_NE(one.log().find("Bad file name or number"), std::string::npos);
    EXPECT_EQ(two.log(), one.log());
    EXPECT_EQ(two.ctx->log().entries(), one.ctx->log().entries());
    // A second scan of the same context starts from clean lists.
    EXPECT_EQ(runScan(*two.ctx, mode), ScanOutcome::Finished);
    EXPECT_EQ(everything(*two.ctx), expected);
  }
}

TEST(TwoWalkersCancel, LeavesWhatOneWalkerLeavesWhenStoppedSomewhere) {
  Demo whole(1);
  ASSERT_TRUE(whole.ctx);
  runScan(*whole.ctx, ScanMode::Deep);
  const auto& all = whole.ctx->problems().rows();
  const auto& rows = whole.ctx->progress();
  for (int stopAt : {1, 2, 3, 5, 8, 13, 40, 200, 5000}) {
    Demo two(2);
    ASSERT_TRUE(two.ctx);
    CallbackPump pump;
    int calls = 0;
    pump.f = [&] {
      if (++calls >= stopAt) two.ctx->bCancelScan = true;
    };
    two.ctx->setPump(&pump);
    ScanOutcome outcome = runScan(*two.ctx, ScanMode::Deep);
    const auto& found = two.ctx->problems().rows();
    const auto& shown = two.ctx->progress();
    SCOPED_TRACE("stopped at call " + std::to_string(stopAt));
    // What was found is the start of what a whole scan finds, in its order.
    ASSERT_LE(found.size(), all.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].KeyValue, all[i].KeyValue);
      EXPECT_EQ(found[i].Section, all[i].Section);
    }
    // The rows are the whole scan's first rows; all but a cancelled last one are finished.
    ASSERT_LE(shown.size(), rows.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_EQ(shown[i].name, rows[i].name);
      if (i + 1 < shown.size() || outcome == ScanOutcome::Finished) {
        EXPECT_EQ(shown[i].problems, rows[i].problems);
      }
    }
    if (outcome == ScanOutcome::Finished) {
      EXPECT_EQ(found.size(), all.size());
    }
    for (const ProblemRecord& r : found)
      EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                              [&](const ProgressRow& p) { return p.name == r.Section; }));
  }
}

}  // namespace brisquell::test
