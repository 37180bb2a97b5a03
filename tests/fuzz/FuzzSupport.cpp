// Scratch files of the fuzz targets.
#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace brisquell::fuzz {

namespace {

struct Scratch {
  std::string path;
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brisquell-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    path = pattern;
  }
  ~Scratch() { removeAll(path); }
};

}  // namespace

const std::string& scratchDir() {
  static Scratch s;
  return s.path;
}

namespace {
std::string freshFolder(const std::string& name) {
  std::string root = scratchDir() + "/" + name;
  removeAll(root);
  std::filesystem::create_directories(root);
  return root;
}
}  // namespace

ScratchDrive::ScratchDrive(const std::string& name)
    : root(freshFolder(name)), files({HostDrive{DriveInfo{'C', DriveFixed, true}, root}}, "C:\\") {}

void putFile(const std::string& path, std::string_view bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) broken("scratch file written", path);
}

void removeAll(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::string firstDifference(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const std::size_t from = i < 80 ? 0 : i - 80;
  auto show = [&](std::string_view s) {
    std::string out;
    for (char c : s.substr(std::min(from, s.size()), 160)) {
      unsigned char u = static_cast<unsigned char>(c);
      if (u >= 0x20 && u < 0x7F) {
        out += c;
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "<%02x>", u);
        out += hex;
      }
    }
    return out;
  };
  return "at byte " + std::to_string(i) + ":\n  " + show(a) + "\n  " + show(b);
}

void broken(std::string_view property, std::string_view detail) {
  std::fprintf(stderr, "\n*** property broken: %.*s\n%.*s\n", static_cast<int>(property.size()),
               property.data(), static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace brisquell::fuzz
