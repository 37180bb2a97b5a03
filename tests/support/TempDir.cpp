// Test helpers shared by every test file.
#include "support/TempDir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/HostIo.h"
#ifdef _WIN32
#include "platform/win32/Wide.h"
#endif

namespace fs = std::filesystem;

namespace brisquell::test {

#ifdef _WIN32
namespace {
std::string dirOfTemp() { return brisquell::win32::narrow(fs::temp_directory_path().wstring()); }
}  // namespace
#endif

TempDir::TempDir() {
#ifdef _WIN32
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    fs::path p =
        fs::temp_directory_path() / ("brisquell-test-" + std::to_string(random() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(p, ec)) path_ = brisquell::win32::narrow(p.wstring());
  }
#else
  std::string tmpl = (fs::temp_directory_path() / "brisquell-test-XXXXXX").string();
  path_ = ::mkdtemp(tmpl.data());
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(hostio::fsPath(path_), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(hostio::fsPath(path_), ec);
}

void writeText(const std::string& path, const std::string& text) {
  fs::create_directories(hostio::fsPath(path).parent_path());
  std::ofstream(hostio::fsPath(path), std::ios::binary) << text;
}

std::string readText(const std::string& path) {
  std::ifstream in(hostio::fsPath(path), std::ios::binary);
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

#ifdef _WIN32
namespace {

// One argument as CommandLineToArgvW reads it back.
std::wstring quoted(const std::wstring& a) {
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : a) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

RunResult runCli(const std::vector<std::string>& args, const std::string& env) {
  using brisquell::win32::narrow;
  using brisquell::win32::widen;
  static int counter = 0;
  const std::string base = dirOfTemp() + "brisquell-cli-" + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(counter++);
  // The environment: this process's without BRISQUELL_TARGET, then the given NAME=VALUEs.
  std::vector<std::wstring> vars;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
      std::wstring v = p;
      if (_wcsnicmp(v.c_str(), L"BRISQUELL_TARGET=", 17) != 0) vars.push_back(v);
    }
    FreeEnvironmentStringsW(block);
  }
  std::istringstream given(env);
  for (std::string assignment; given >> assignment;) vars.push_back(widen(assignment));
  std::wstring block;
  for (const auto& v : vars) block += v + L'\0';
  block += L'\0';

  // A build tree path ("/work/...") is reached through Wine's drive for the Unix root.
  std::string program = BRISQUELL_CLI;
  if (!program.empty() && program[0] == '/') program = "Z:" + program;
  std::wstring cmd = quoted(widen(program));
  for (const auto& a : args) cmd += L" " + quoted(widen(a));
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto file = [&](const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE out = file(base + ".out", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = file(base + ".err", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE in = file("NUL", GENERIC_READ, OPEN_EXISTING);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  RunResult r;
  // No console of its own: the program must see that nobody can answer it.
  if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr, &si,
                     &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    r.exitCode = static_cast<int>(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  CloseHandle(in);
  r.out = readText(base + ".out");
  r.err = readText(base + ".err");
  DeleteFileW(widen(base + ".out").c_str());
  DeleteFileW(widen(base + ".err").c_str());
  (void)narrow;
  return r;
}
#else
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
#endif

}  // namespace brisquell::test
