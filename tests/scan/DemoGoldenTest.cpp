// The demo machine's scans, record for record, against the kept golden files.
#include <filesystem>

#include <gtest/gtest.h>

#include "ScanTestSupport.h"

namespace brisquell::test {

namespace {

std::string scanAsTsv(ScanMode mode, unsigned walkers) {
  TempDir d;
  std::filesystem::copy(std::string(BRISQUELL_SOURCE_DIR) + "/examples/demo-machine", d / "demo",
                        std::filesystem::copy_options::recursive);
  auto machineOpened = MachineFolder::open(d / "demo");
  auto machine = machineOpened ? std::move(machineOpened).value() : nullptr;
  if (!machine) {
    ADD_FAILURE() << machineOpened.message();
    return {};
  }
  ScanContext ctx(*machine);
  ctx.walkers = walkers;
  runScan(ctx, mode);
  std::string out;
  for (const auto& r : ctx.problems().rows())
    out += r.MainKey + "\t" + r.KeyName + "\t" + r.KeyValue + "\t" + r.Section + "\t" +
           r.FullKeyPath + "\t" + r.MainKeyName + "\n";
  return out;
}

}  // namespace

TEST(DemoGolden, QuickAndDeepScansMatch) {
  for (unsigned walkers : {1u, 2u}) {
    SCOPED_TRACE(std::to_string(walkers) + " walkers");
    EXPECT_EQ(scanAsTsv(ScanMode::Quick, walkers),
              readText(std::string(BRISQUELL_TEST_DATA) + "/demo-quick.tsv"));
    EXPECT_EQ(scanAsTsv(ScanMode::Deep, walkers),
              readText(std::string(BRISQUELL_TEST_DATA) + "/demo-deep.tsv"));
  }
}

}  // namespace brisquell::test
