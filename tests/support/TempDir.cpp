// Test helpers shared by every test file.
#include "support/TempDir.h"

#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace brisquell::test {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "brisquell-test-XXXXXX").string();
  path_ = ::mkdtemp(tmpl.data());
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void writeText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeUtf16(const std::string& path, const std::string& utf8) {
  Bytes b{0xFF, 0xFE};
  appendUtf16le(utf8, b);
  writeText(path, std::string(b.begin(), b.end()));
}

void makeMachine(const std::string& folder, const std::string& regBody,
                 const std::string& machineIni) {
  fs::create_directories(folder + "/drive_c");
  writeText(folder + "/machine.ini",
            machineIni.empty() ? "[Machine]\nPlatform=2\n[Drives]\nC=fixed,drive_c\n" : machineIni);
  writeText(folder + "/registry.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + regBody);
}

RunResult runCli(const std::vector<std::string>& args, const std::string& env) {
  static int counter = 0;
  std::string base = (fs::temp_directory_path() / ("brisquell-cli-" + std::to_string(::getpid()) +
                                                   "-" + std::to_string(counter++)))
                         .string();
  std::string cmd = env.empty() ? "env -u BRISQUELL_TARGET " : "env " + env + " ";
  cmd += BRISQUELL_CLI;
  for (const auto& a : args) {
    cmd += " '";
    for (char c : a) cmd += c == '\'' ? std::string("'\\''") : std::string(1, c);
    cmd += "'";
  }
  cmd += " >" + base + ".out 2>" + base + ".err </dev/null";
  RunResult r;
  int status = std::system(cmd.c_str());
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = readText(base + ".out");
  r.err = readText(base + ".err");
  fs::remove(base + ".out");
  fs::remove(base + ".err");
  return r;
}

}  // namespace brisquell::test
