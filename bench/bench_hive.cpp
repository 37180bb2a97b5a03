// brisquell-bench-hive: load time and memory of an offline Windows installation's hives, beside
// the time `hivexregedit --export` takes to read the same hives. Each load runs in a fresh
// process (this program with --load-only), so its peak memory is its own.
//   brisquell-bench-hive VOLUME [ROUNDS]
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

#include "platform/hive/OfflineWindows.h"

using namespace brisquell;

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

std::size_t statusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  std::size_t len = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, len, field) == 0 && line.size() > len && line[len] == ':')
      return std::strtoull(line.c_str() + len + 1, nullptr, 10);
  return 0;
}

int loadOnly(const std::string& volume) {
  std::size_t before = statusKb("VmHWM");
  auto t = Clock::now();
  auto w = OfflineWindows::open(volume, {});
  if (!w) {
    std::fprintf(stderr, "%s\n", w.message().c_str());
    return 1;
  }
  std::printf("%.6f %zu %zu\n", since(t), before, statusKb("VmHWM"));
  return 0;
}

bool child(const std::string& volume, double& seconds, std::size_t& beforeKb, std::size_t& peakKb) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl("/proc/self/exe", "brisquell-bench-hive", "--load-only", volume.c_str(), nullptr);
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
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
         std::sscanf(out.c_str(), "%lf %zu %zu", &seconds, &beforeKb, &peakKb) == 3;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--load-only") return loadOnly(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s VOLUME [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string volume = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  auto w = OfflineWindows::open(volume, {});
  if (!w) {
    std::fprintf(stderr, "%s\n", w.message().c_str());
    return 2;
  }
  std::uintmax_t bytes = 0;
  std::vector<std::string> hives;
  for (const auto& h : (*w)->hives()) {
    hives.push_back(h->path());
    bytes += std::filesystem::file_size(h->path());
  }
  w->reset();  // the benchmark's own loads below start without it
  const bool haveHivex = std::system("command -v hivexregedit >/dev/null 2>&1") == 0;
  std::vector<double> loads, exports;
  std::size_t peakAboveKb = 0;
  for (int r = 0; r < rounds; ++r) {
    double s = 0;
    std::size_t before = 0, peak = 0;
    if (!child(volume, s, before, peak)) {
      std::fprintf(stderr, "the load failed\n");
      return 1;
    }
    loads.push_back(s);
    peakAboveKb = std::max(peakAboveKb, peak - before);
    if (haveHivex) {
      auto t = Clock::now();
      for (const auto& h : hives)
        if (std::system(("hivexregedit --export " + quoted(h) + " '\\' >/dev/null").c_str()) != 0) {
          std::fprintf(stderr, "hivexregedit failed on %s\n", h.c_str());
          return 1;
        }
      exports.push_back(since(t));
    }
  }
  std::printf("hives                      %zu files, %.1f MB\n", hives.size(), bytes / 1048576.0);
  std::printf("load (median of %d)        %.3f s\n", rounds, median(loads));
  std::printf("peak memory of the load    %.1f MB (%.2f x the hives)\n", peakAboveKb / 1024.0,
              peakAboveKb * 1024.0 / static_cast<double>(bytes));
  if (haveHivex)
    std::printf("hivexregedit --export      %.3f s (load takes 1/%.1f of it)\n", median(exports),
                median(exports) / median(loads));
  else
    std::printf("hivexregedit --export      not installed (Debian libwin-hivex-perl)\n");
  return 0;
}
