// Builds small machines for scan tests and runs scans over them.
#pragma once

#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "platform/machine/MachineFolder.h"
#include "scan/ScanContext.h"
#include "scan/ScanDriver.h"
#include "support/TempDir.h"

namespace brisquell::test {

/// A machine folder with C: (fixed) and a not-ready D: CD-ROM; files are created empty.
struct ScanMachine {
  TempDir dir;
  std::unique_ptr<MachineFolder> machine;
  std::unique_ptr<ScanContext> ctx;

  explicit ScanMachine(const std::string& regBody, const std::vector<std::string>& files = {},
                       const std::string& drives = "C=fixed,drive_c\nD=cdrom,drive_d,notready\n") {
    for (const auto& f : files) writeText(dir / ("drive_c/" + f), "");
    std::filesystem::create_directories(dir / "drive_c/WINDOWS/system32");
    makeMachine(dir.path(), regBody, "[Machine]\nPlatform=2\n[Drives]\n" + drives);
    auto machineOpened = MachineFolder::open(dir.path());
    machine = machineOpened ? std::move(machineOpened).value() : nullptr;
    if (!machine) ADD_FAILURE() << machineOpened.message();
    ctx = std::make_unique<ScanContext>(*machine);
  }
  ScanOutcome scan(ScanMode mode = ScanMode::Quick) { return runScan(*ctx, mode); }
  const std::vector<ProblemRecord>& problems() { return ctx->problems().rows(); }
  /// "KeyName=KeyValue@Section" of each record, for compact expectations.
  std::vector<std::string> summary() {
    std::vector<std::string> out;
    for (const auto& r : problems()) out.push_back(r.KeyName + "=" + r.KeyValue + "@" + r.Section);
    return out;
  }
  std::string log() { return readText(dir / "drive_c/WINDOWS/ErrBrisq.txt"); }
};

}  // namespace brisquell::test
