// Times a quick and a deep scan of a machine folder and the memory the scan adds to the loaded
// registry: brisquell-bench-scan [--walkers N] MACHINE_DIR (N threads, as the command line's 2;
// 1 by default, as the desktop program)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/machine/MachineFolder.h"
#include "scan/ScanDriver.h"

using namespace brisquell;

namespace {

long statusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

double seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  unsigned walkers = 1;
  if (argc == 4 && std::string(argv[1]) == "--walkers") {
    walkers = static_cast<unsigned>(std::stoul(argv[2]));
    argv += 2;
    argc -= 2;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: brisquell-bench-scan [--walkers N] TARGET_DIR\n");
    return 2;
  }
  auto t0 = std::chrono::steady_clock::now();
  auto machineOpened = openTarget(argv[1]);  // a machine folder, or any other target kind
  auto machine = machineOpened ? std::move(machineOpened).value() : nullptr;
  if (!machine) {
    std::fprintf(stderr, "%s\n", machineOpened.message().c_str());
    return 2;
  }
  double load = seconds(t0);
  long rssLoaded = statusKb("VmRSS:");
  std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak from here
  ScanContext ctx(*machine);
  ctx.walkers = walkers;
  for (ScanMode mode : {ScanMode::Quick, ScanMode::Deep}) {
    auto t = std::chrono::steady_clock::now();
    runScan(ctx, mode);
    double s = seconds(t);
    std::printf(
        "%-5s scan: %8.4f s, %zu problems, peak memory %ld MB (%ld MB above the loaded registry)\n",
        mode == ScanMode::Quick ? "quick" : "deep", s, ctx.problems().size(),
        statusKb("VmHWM:") / 1024, (statusKb("VmHWM:") - rssLoaded) / 1024);
  }
  std::printf("load: %.3f s, resident after load %ld MB\n", load, rssLoaded / 1024);
  return 0;
}
