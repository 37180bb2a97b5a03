// brisquell-bench-registry: load, save and memory figures of the in-memory registry on a
// machine folder's registry.reg. Each load whose memory is reported runs in a fresh process
// (this program with --load-only), so the peak belongs to that load alone.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/RegFile.h"
#include "platform/machine/MachineFolder.h"
#include "platform/memory/MemoryLoader.h"

using namespace brisquell;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// User plus system CPU time of this process: steadier than wall time on a busy machine.
double cpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A field of /proc/self/status in kB (VmHWM: peak resident set, VmRSS: current), or 0.
std::size_t statusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  std::size_t len = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, len, field) == 0 && line.size() > len && line[len] == ':')
      return std::strtoull(line.c_str() + len + 1, nullptr, 10);
  return 0;
}

void count(const MemoryRegistry::Key& k, std::size_t& keys, std::size_t& values) {
  values += k.values.size();
  for (const auto& c : k.children) {
    ++keys;
    count(*c, keys, values);
  }
}

struct LoadFigures {
  double seconds = 0, cpu = 0;
  std::size_t hwmBeforeKb = 0, hwmKb = 0, rssKb = 0, keys = 0, values = 0;
};

// Child mode: one load, its time and memory, on one line.
int loadOnly(const std::string& file) {
  LoadFigures f;
  f.hwmBeforeKb = statusKb("VmHWM");
  MemoryRegistry store;
  auto t = Clock::now();
  double c = cpuSeconds();
  if (Outcome loaded = loadRegFile(file, store); !loaded) {
    std::fprintf(stderr, "%s\n", loaded.message().c_str());
    return 1;
  }
  f.seconds = since(t);
  f.cpu = cpuSeconds() - c;
  f.hwmKb = statusKb("VmHWM");
  f.rssKb = statusKb("VmRSS");
  for (KeyHandle r : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig})
    count(*store.root(r), f.keys, f.values);
  std::printf("%.6f %.6f %zu %zu %zu %zu %zu\n", f.seconds, f.cpu, f.hwmBeforeKb, f.hwmKb, f.rssKb,
              f.keys, f.values);
  // As the command line does: the process drops the tree at exit instead of freeing it (and a
  // profile of this mode then shows the load alone).
  std::fflush(stdout);
  std::_Exit(0);
}

bool runChild(const std::string& file, LoadFigures& f) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl("/proc/self/exe", "brisquell-bench-registry", "--load-only", file.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  return std::sscanf(out.c_str(), "%lf %lf %zu %zu %zu %zu %zu", &f.seconds, &f.cpu, &f.hwmBeforeKb,
                     &f.hwmKb, &f.rssKb, &f.keys, &f.values) == 7;
}

// Wall time of a command run with its output to /dev/null (the floors: iconv, dd); < 0 on failure.
double timeCommand(const std::vector<std::string>& args) {
  auto t = Clock::now();
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return since(t);
}

bool sameContents(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 20), bb(1 << 20);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() ||
        std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(fa.gcount())) != 0)
      return false;
  }
  return !fa && !fb;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int usage() {
  std::fprintf(stderr,
               "usage: brisquell-bench-registry [--runs N] [--load-only-runs] MACHINE_DIR\n"
               "       brisquell-bench-registry --load-only REG_FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder, loadFile;
  int runs = 3;
  bool saves = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--load-only" && i + 1 < argc) {
      loadFile = argv[++i];
    } else if (a == "--load-only-runs") {
      saves = false;
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
      if (runs < 1) return usage();
    } else if (!a.empty() && a[0] != '-' && folder.empty()) {
      folder = a;
    } else {
      return usage();
    }
  }
  if (!loadFile.empty()) return loadOnly(loadFile);
  if (folder.empty()) return usage();

  const std::string file = folder + "/registry.reg";
  std::error_code ec;
  const auto bytes = static_cast<double>(std::filesystem::file_size(file, ec));
  if (ec) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), ec.message().c_str());
    return 1;
  }
  const double mb = bytes / 1e6;
  {  // Read the file once so that every timed load finds it in the page cache.
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size()))) {
    }
  }

  // (a), (c): loads in fresh processes.
  std::vector<double> loadTimes, loadCpu, iconvTimes, loadRatios;
  LoadFigures last;
  std::size_t peakKb = 0, baseKb = 0, rssKb = 0;
  for (int i = 0; i < runs; ++i) {
    // The floor, side by side with each load: transcoding the same text, nothing kept.
    double floor = timeCommand({"iconv", "-f", "UTF-16LE", "-t", "UTF-8", file});
    if (floor < 0) {
      std::fprintf(stderr, "iconv of %s failed\n", file.c_str());
      return 1;
    }
    iconvTimes.push_back(floor);
    if (!runChild(file, last)) {
      std::fprintf(stderr, "%s: the load failed\n", file.c_str());
      return 1;
    }
    loadTimes.push_back(last.seconds);
    loadCpu.push_back(last.cpu);
    loadRatios.push_back(last.seconds / floor);
    peakKb = std::max(peakKb, last.hwmKb);
    baseKb = last.hwmBeforeKb;
    rssKb = last.rssKb;
  }

  // (b): saves of one loaded store, through the product's atomic save and as bare serialising.
  MemoryRegistry store;
  if (Outcome loaded = saves ? loadRegFile(file, store) : Outcome{}; !loaded) {
    std::fprintf(stderr, "%s\n", loaded.message().c_str());
    return 1;
  }
  const std::string saved = folder + "/registry.bench-save.reg";
  const std::string ddOut = folder + "/registry.bench-dd.bin";
  std::vector<double> saveTimes, saveCpu, writeTimes, writeCpu, ddTimes, saveRatios;
  for (int i = 0; saves && i < runs; ++i) {
    // The floor: the same number of bytes written and flushed by dd.
    double floor = timeCommand({"dd", "if=" + file, "of=" + ddOut, "bs=1M", "conv=fsync"});
    if (floor < 0) {
      std::fprintf(stderr, "dd to %s failed\n", ddOut.c_str());
      return 1;
    }
    ddTimes.push_back(floor);
    auto t = Clock::now();
    double c = cpuSeconds();
    if (Outcome r = saveRegistryFile(store, saved); !r) {
      std::fprintf(stderr, "%s\n", r.message().c_str());
      return 1;
    }
    saveTimes.push_back(since(t));
    saveCpu.push_back(cpuSeconds() - c);
    saveRatios.push_back(saveTimes.back() / floor);
    std::size_t produced = 0;
    t = Clock::now();
    c = cpuSeconds();
    (void)writeReg(store, 0, "", RegFormat::Version5, [&](const char*, std::size_t n) {
      produced += n;
      return true;
    });
    writeTimes.push_back(since(t));
    writeCpu.push_back(cpuSeconds() - c);
  }
  bool identical = saves && sameContents(file, saved);
  std::filesystem::remove(saved, ec);
  std::filesystem::remove(ddOut, ec);

  const double peakMb = static_cast<double>(peakKb) * 1024 / 1e6;
  const double growthMb = static_cast<double>(peakKb - baseKb) * 1024 / 1e6;
  std::printf("machine          %s\n", folder.c_str());
  std::printf("registry.reg     %.0f bytes (%.1f MB), %zu keys, %zu values\n", bytes, mb, last.keys,
              last.values);
  std::printf("runs             %d (medians shown; MB = 10^6 bytes of registry.reg)\n\n", runs);
  std::printf("%-26s %9s %10s %9s %10s %8s %5s\n", "operation", "wall (s)", "MB/s", "CPU (s)",
              "MB/s CPU", "goal", "met");
  auto row = [&](const char* what, const std::vector<double>& wall, const std::vector<double>& cpu,
                 bool goal) {
    double w = median(wall), c = median(cpu);
    std::printf("%-26s %9.3f %10.1f %9.3f %10.1f %8s %5s\n", what, w, mb / w, c, mb / c,
                goal ? ">= 150" : "", goal ? (mb / w >= 150 ? "yes" : "NO") : "");
  };
  row("load (fresh process)", loadTimes, loadCpu, false);
  row("  floor: iconv", iconvTimes, iconvTimes, false);
  if (saves) {
    row("save (atomic, fsync)", saveTimes, saveCpu, false);
    row("  floor: dd conv=fsync", ddTimes, ddTimes, false);
    row("  of which serialising", writeTimes, writeCpu, false);
  }
  std::printf("\n%-26s %9s %9s %8s %5s\n", "against the floor", "median", "of ratios", "goal",
              "met");
  auto ratio = [&](const char* what, const std::vector<double>& subject,
                   const std::vector<double>& floor, const std::vector<double>& perRun,
                   double goal) {
    double r = median(subject) / median(floor);
    std::printf("%-26s %8.2fx %8.2fx %7.2fx %5s\n", what, r, median(perRun), goal,
                r <= goal ? "yes" : "NO");
  };
  ratio("load / iconv", loadTimes, iconvTimes, loadRatios, 1.5);
  if (saves) ratio("save / dd conv=fsync", saveTimes, ddTimes, saveRatios, 1.2);
  std::printf("\n%-26s %9s %10s %12s %8s\n", "memory", "MB", "x file", "goal", "met");
  std::printf("%-26s %9.1f %10.2f %12s %8s\n", "peak RSS of the load", peakMb, peakMb / mb,
              "<= 1.0", peakMb / mb <= 1.0 ? "yes" : "NO");
  std::printf("%-26s %9.1f %10.2f\n", "  less the empty process", growthMb, growthMb / mb);
  std::printf("%-26s %9.1f %10.2f\n", "RSS once loaded", static_cast<double>(rssKb) * 1024 / 1e6,
              static_cast<double>(rssKb) * 1024 / 1e6 / mb);
  const double values = static_cast<double>(last.values);
  std::printf("\nper value: load %.0f ns (CPU %.0f ns), peak memory %.0f bytes\n",
              median(loadTimes) / values * 1e9, median(loadCpu) / values * 1e9,
              static_cast<double>(peakKb) * 1024 / values);
  if (saves) std::printf("\nsaved file identical to registry.reg: %s\n", identical ? "yes" : "no");
  return 0;
}
