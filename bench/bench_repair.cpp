// Times a fix of every problem with a backup, and the restore of that backup, on a scratch copy
// of a machine folder, and checks that the restore gives the registry back byte for byte:
// brisquell-bench-repair [--deep] MACHINE_DIR
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/RegFile.h"
#include "platform/machine/MachineFolder.h"
#include "repair/Repair.h"
#include "repair/Restore.h"
#include "scan/ScanDriver.h"

using namespace brisquell;
namespace fs = std::filesystem;

namespace {

class Yes final : public UserInterface {
 public:
  bool askYesNo(std::string_view, std::string_view) override { return true; }
  void inform(std::string_view, std::string_view) override {}
  void warn(std::string_view, std::string_view t) override {
    std::fprintf(stderr, "%.*s\n", int(t.size()), t.data());
  }
};

double seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

std::unique_ptr<MachineFolder> open(const std::string& dir) {
  auto mOpened = MachineFolder::open(dir);
  auto m = mOpened ? std::move(mOpened).value() : nullptr;
  if (!m) std::fprintf(stderr, "%s\n", mOpened.message().c_str());
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  bool deep = argc == 3 && std::string(argv[1]) == "--deep";
  if (argc != 2 + deep) {
    std::fprintf(stderr, "usage: brisquell-bench-repair [--deep] MACHINE_DIR\n");
    return 2;
  }
  std::string scratch =
      (fs::temp_directory_path() / ("brisquell-bench-repair-" + std::to_string(::getpid())))
          .string();
  fs::copy(argv[1 + deep], scratch, fs::copy_options::recursive);
  struct Cleanup {
    std::string p;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(p, ec);
    }
  } cleanup{scratch};

  auto machine = open(scratch);
  if (!machine) return 2;
  const std::string before = exportReg(machine->registry(), 0, "");
  ScanContext ctx(*machine);
  auto t = std::chrono::steady_clock::now();
  runScan(ctx, deep ? ScanMode::Deep : ScanMode::Quick);
  double scan = seconds(t);
  Yes ui;
  Repair repair(ctx, ui);
  repair.setTakeBackup(true);
  t = std::chrono::steady_clock::now();
  RepairResult fixed = repair.cmdRepairCorruptFiles_Click();
  double fix = seconds(t);
  std::size_t files = 0;
  for (const auto& r : ctx.problems().rows()) files += r.isFileProblem();

  auto again = open(scratch);
  if (!again) return 2;
  ScanContext rctx(*again);
  Restore restore(rctx, ui);
  t = std::chrono::steady_clock::now();
  bool loaded = restore.cmdRestore_Click(fixed.backupFile);
  RestoreResult restored = restore.cmdRestoreNow_Click();
  double back = seconds(t);
  auto check = open(scratch);
  bool identical = check && exportReg(check->registry(), 0, "") == before;

  std::printf("machine              %s (%s scan %.2f s)\n", argv[1 + deep], deep ? "deep" : "quick",
              scan);
  std::printf("problems             %zu (%zu shortcut files), fixed %zu, failures %zu\n",
              fixed.found, files, fixed.fixed, fixed.failures.size());
  std::printf("fix with backup      %.2f s (backup set, deletions, save)\n", fix);
  std::printf("restore              %.2f s (load %s, write back, extract, save), failures %zu\n",
              back, loaded ? "ok" : "FAILED", restored.failures.size());
  std::printf("export after restore %s\n", identical ? "identical" : "DIFFERENT");
  return identical && fixed.failures.empty() && restored.failures.empty() ? 0 : 1;
}
