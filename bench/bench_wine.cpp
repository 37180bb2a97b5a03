// Load and save times of a Wine prefix's registry (system.reg + user.reg), and two checks on
// the real files: unchanged keys come back byte for byte, rewritten keys as Wine writes them.
//   brisquell-bench-wine PREFIX [ROUNDS]
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/memory/MemoryRegistry.h"
#include "platform/wine/WineRegistryFile.h"

using namespace brisquell;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void markAll(MemoryRegistry::Key* k) {
  k->changed = true;
  for (auto& c : k->children) markAll(c.get());
}

// Every key's time set to one value, so that rewriting every key at that time must match.
std::string withOneTime(const std::string& text, std::uint64_t t, std::uint32_t secs) {
  std::string out;
  std::istringstream in(text);
  std::string line;
  char buf[64];
  while (std::getline(in, line)) {
    if (line.rfind("#time=", 0) == 0) {
      std::snprintf(buf, sizeof buf, "#time=%llx", static_cast<unsigned long long>(t));
      line = buf;
    } else if (!line.empty() && line[0] == '[') {
      std::size_t close = line.rfind("] ");
      if (close != std::string::npos) line = line.substr(0, close) + "] " + std::to_string(secs);
    }
    out += line + "\n";
  }
  return out;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PREFIX [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string prefix = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const std::string files[2] = {prefix + "/system.reg", prefix + "/user.reg"};
  const KeyHandle roots[2] = {hkey::LocalMachine, hkey::CurrentUser};
  std::uintmax_t bytes = fs::file_size(files[0]) + fs::file_size(files[1]);

  // Work on copies: the prefix itself is never written.
  const fs::path work =
      fs::temp_directory_path() / ("brisquell-bench-wine-" + std::to_string(::getpid()));
  fs::create_directories(work);
  const std::string copies[2] = {(work / "system.reg").string(), (work / "user.reg").string()};

  std::vector<double> loads, saves;
  std::size_t keys = 0, values = 0;
  bool ok = true;
  for (int r = 0; r < rounds && ok; ++r) {
    fs::copy_file(files[0], copies[0], fs::copy_options::overwrite_existing);
    fs::copy_file(files[1], copies[1], fs::copy_options::overwrite_existing);
    MemoryRegistry store;
    WineRegistryFile system(store, roots[0]), user(store, roots[1]);
    std::string err;
    auto t0 = Clock::now();
    Outcome loaded = system.load(copies[0]);
    if (loaded) loaded = user.load(copies[1]);
    ok = loaded.ok();
    err = loaded.message();
    auto t1 = Clock::now();
    if (!ok) {
      std::fprintf(stderr, "%s\n", err.c_str());
      break;
    }
    loads.push_back(ms(t1 - t0));
    if (r == 0) {
      std::vector<MemoryRegistry::Key*> stack{store.root(roots[0]), store.root(roots[1])};
      while (!stack.empty()) {
        auto* k = stack.back();
        stack.pop_back();
        ++keys;
        values += k->values.size();
        for (auto& c : k->children) stack.push_back(c.get());
      }
    }
    // One change in each file, as a repair makes: both files are written in full.
    KeyHandle h = 0;
    store.createKey(hkey::LocalMachine, "Software\\Brisquell Bench", h);
    store.setValue(h, "x", regtype::Sz, Bytes{'1', 0});
    store.closeKey(h);
    store.createKey(hkey::CurrentUser, "Software\\Brisquell Bench", h);
    store.setValue(h, "x", regtype::Sz, Bytes{'1', 0});
    store.closeKey(h);
    auto t2 = Clock::now();
    Result<bool> saved = system.save(copies[0]);
    if (saved) saved = user.save(copies[1]);
    ok = saved.ok();
    err = saved.message();
    auto t3 = Clock::now();
    if (!ok) std::fprintf(stderr, "%s\n", err.c_str());
    saves.push_back(ms(t3 - t2));
  }

  // Checks on the real files.
  for (int i = 0; i < 2 && ok; ++i) {
    const std::string original = readAll(files[i]);
    MemoryRegistry store;
    WineRegistryFile f(store, roots[i]);
    if (Outcome parsed = f.parse(original, files[i]); !parsed) {
      std::fprintf(stderr, "%s\n", parsed.message().c_str());
      return 1;
    }
    if (f.render(WineRegistryFile::currentTime()) != original) {
      std::fprintf(stderr, "%s: not reproduced byte for byte\n", files[i].c_str());
      ok = false;
    }
    const std::uint64_t t = 0x1da2b3c4d5e6f70ull;
    const std::string normalised = withOneTime(original, t, 1702194095u);
    MemoryRegistry store2;
    WineRegistryFile g(store2, roots[i]);
    if (Outcome parsed = g.parse(normalised, files[i]); !parsed) {
      std::fprintf(stderr, "%s\n", parsed.message().c_str());
      return 1;
    }
    markAll(store2.root(roots[i]));
    std::string rewritten = g.render(t);
    if (rewritten != normalised) {
      std::size_t at = 0;
      while (at < rewritten.size() && at < normalised.size() && rewritten[at] == normalised[at])
        ++at;
      std::fprintf(stderr, "%s: rewriting every key differs from Wine at byte %zu: ...%s...\n",
                   files[i].c_str(), at, normalised.substr(at > 80 ? at - 80 : 0, 160).c_str());
      ok = false;
    }
  }
  fs::remove_all(work);
  if (loads.empty() || saves.empty()) return 1;
  std::printf("files: %ju bytes, %zu keys, %zu values; %d rounds\n", bytes, keys, values, rounds);
  std::printf("load (system.reg + user.reg): median %.1f ms, best %.1f ms\n", median(loads),
              *std::min_element(loads.begin(), loads.end()));
  std::printf("save (both files, atomic, fsync): median %.1f ms, best %.1f ms\n", median(saves),
              *std::min_element(saves.begin(), saves.end()));
  std::printf("unchanged files byte for byte, rewritten keys as Wine writes them: %s\n",
              ok ? "yes" : "NO");
  return ok ? 0 : 1;
}
