// brisquell-generate: writes a synthetic machine folder shaped like a Windows 11 installation
// (registry, C: folder tree, shortcuts), with a few percent of broken references in every
// scanned section, for benchmarks and scale tests. The output depends only on size and seed.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "HiveWriter.h"
#include "LnkWriter.h"
#include "platform/Bytes.h"
#include "platform/machine/MachineFolder.h"
#include "platform/memory/MemoryRegistry.h"

using namespace brisquell;
using Key = MemoryRegistry::Key;

namespace {

// splitmix64: the same sequence on every platform and standard library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
  std::uint32_t range(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }
  bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
  template <class T>
  const T& pick(const std::vector<T>& v) {
    return v[below(static_cast<std::uint32_t>(v.size()))];
  }
  template <class T, std::size_t N>
  const T& pick(const std::array<T, N>& v) {
    return v[below(N)];
  }

 private:
  std::uint64_t s_;
};

// ---- names ----

const std::array<const char*, 48> kSyllables = {
    "ar",  "bel", "cor",  "dex",  "en",    "fal",  "gen", "hal",   "ion",  "jet",  "kin",  "lum",
    "mar", "nex", "or",   "pix",  "quar",  "ras",  "sol", "tek",   "ul",   "vor",  "wex",  "xan",
    "yel", "zen", "tra",  "cam",  "lin",   "pro",  "sys", "net",   "data", "soft", "ware", "media",
    "clo", "byt", "core", "flow", "vista", "mira", "orb", "pulse", "syn",  "tor",  "vel",  "qua"};
const std::array<const char*, 9> kVendorSuffix = {
    "", "", " Software", " Systems", " Labs", " Inc", " Technologies", " GmbH", " Corporation"};
const std::array<const char*, 12> kProductSuffix = {"",         "",        " Studio", " Player",
                                                    " Manager", " Tools",  " Suite",  " Client",
                                                    " Runtime", " Helper", " Viewer", " Sync"};
// Real installations carry some non-ASCII names; these exercise the UTF-16 paths of the store.
const std::array<const char*, 6> kForeignVendors = {"Müller Datentechnik", "Société Logicielle",
                                                    "Ωmega Soft",          "Бета Системы",
                                                    "Ångström Werkzeuge",  "Čapek Software"};

std::string capitalised(std::string s) {
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 32);
  return s;
}

std::string stem(Rng& r, int parts) {
  std::string s;
  for (int i = 0; i < parts; ++i) s += r.pick(kSyllables);
  return s;
}

std::string guid(Rng& r) {
  std::uint64_t a = r.next(), b = r.next();
  return fmt::format("{{{:08X}-{:04X}-{:04X}-{:04X}-{:012X}}}", a >> 32, (a >> 16) & 0xFFFF,
                     a & 0xFFFF, b >> 48, b & 0xFFFFFFFFFFFFull);
}

std::string hex(Rng& r, int digits) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < digits; ++i) s.push_back(d[r.below(16)]);
  return s;
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

// ---- value data ----

Bytes szData(std::string_view text) {
  Bytes b = toUtf16le(text);
  b.push_back(0);
  b.push_back(0);
  return b;
}

Bytes multiData(const std::vector<std::string>& items) {
  Bytes b;
  for (const auto& s : items) {
    appendUtf16le(s, b);
    b.push_back(0);
    b.push_back(0);
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

Bytes dwordData(std::uint32_t v) { return dwordBytes(v); }

Bytes randomBytes(Rng& r, std::size_t n) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<std::uint8_t>(r.next());
  return b;
}

// ---- the scanned sections, for the summary of planted breakage ----

enum Section {
  kIntegrity,
  kCom,
  kFileExt,
  kAppPaths,
  kFonts,
  kHelp,
  kShared,
  kStartup,
  kUninstall,
  kVxd,
  kShortcuts,
  kSectionCount
};
const std::array<const char*, kSectionCount> kSectionNames = {
    "Registry Integrity (empty HELPDIR)",
    "ActiveX \\ COM (InprocServer32, LocalServer32)",
    "File Extensions (empty OpenWithList)",
    "Application Paths (App Paths, MUICache)",
    "Windows Fonts",
    "Help Files",
    "Microsoft Shared (Shared Tools, SharedDLLs)",
    "Windows Startup (Run)",
    "Uninstall Section",
    "VxD Section",
    "Windows Shortcuts (Drive C:)"};

struct Tally {
  std::array<std::size_t, kSectionCount> refs{}, broken{};
};

// ---- the machine being built ----

struct Product {
  std::string vendor, name, dir, stem, exe, version, code;
  std::vector<std::string> dlls;
  bool removed = false, msi = false;
};

class Machine {
 public:
  Machine(std::uint64_t seed, double scale) : r(seed), scale_(scale) {
    hklm = reg.root(hkey::LocalMachine);
    hkcu = reg.root(hkey::CurrentUser);
    hku = reg.root(hkey::Users);
    hkcc = reg.root(hkey::CurrentConfig);
    software = path(hklm, "SOFTWARE");
    classes = path(software, "Classes");
    clsid = path(classes, "CLSID");
  }

  std::size_t n(double large, std::size_t atLeast = 1) const {
    auto v = static_cast<std::size_t>(large * scale_ + 0.5);
    return v < atLeast ? atLeast : v;
  }

  // Keys and values, counted as they are created.
  Key* child(Key* parent, std::string_view name) {
    std::size_t before = parent->children.size();
    Key* k = reg.ensure(parent, name);
    if (parent->children.size() != before) ++keys;
    return k;
  }
  Key* path(Key* from, std::string_view p) {
    std::size_t i = 0;
    while (i < p.size()) {
      std::size_t j = p.find('\\', i);
      if (j == std::string_view::npos) j = p.size();
      from = child(from, p.substr(i, j - i));
      i = j + 1;
    }
    return from;
  }
  void set(Key* k, std::string_view name, std::uint32_t type, Bytes data) {
    std::size_t before = k->values.size();
    reg.setRaw(k, name, type, std::move(data));
    if (k->values.size() != before) ++values;
  }
  void sz(Key* k, std::string_view name, std::string_view text) {
    set(k, name, regtype::Sz, szData(text));
  }
  void expand(Key* k, std::string_view name, std::string_view text) {
    set(k, name, regtype::ExpandSz, szData(text));
  }
  void dword(Key* k, std::string_view name, std::uint32_t v) {
    set(k, name, regtype::Dword, dwordData(v));
  }
  void binary(Key* k, std::string_view name, std::size_t size) {
    set(k, name, regtype::Binary, randomBytes(r, size));
  }
  void multi(Key* k, std::string_view name, const std::vector<std::string>& items) {
    set(k, name, regtype::MultiSz, multiData(items));
  }

  // Files of C:, by Windows path; the contents are empty except for shortcuts.
  void file(const std::string& winPath, Bytes content = {}) { files[winPath] = std::move(content); }

  // One reference of a section: present (the file is created) or broken (it is not).
  bool decideBroken(Section s, bool forced, double p) {
    std::size_t i = tally.refs[s]++;
    // The third reference of a section breaks when none did yet, so even a small machine
    // carries a problem in every section.
    bool broken = forced || r.chance(p) || (i == 2 && tally.broken[s] == 0);
    if (broken) ++tally.broken[s];
    return broken;
  }
  // A file of an installed product (or of Windows): a broken reference names a file that
  // an update or an uninstaller took away.
  std::string refFile(Section s, const std::string& winPath, bool removed = false,
                      double p = 0.02) {
    if (decideBroken(s, removed, p)) {
      if (removed) return winPath;
      std::size_t dot = winPath.rfind('.');
      std::string gone =
          winPath.substr(0, dot) + fmt::format("_{}", hex(r, 4)) + winPath.substr(dot);
      return gone;
    }
    file(winPath);
    return winPath;
  }

  Rng r;
  MemoryRegistry reg;
  Key *hklm, *hkcu, *hku, *hkcc, *software, *classes, *clsid;
  std::size_t keys = 0, values = 0;
  std::map<std::string, Bytes> files;
  std::vector<std::string> emptyDirs;
  std::vector<Product> products;
  std::vector<std::string> sysDlls, sysExes, extensions;
  Tally tally;

 private:
  double scale_;
};

const std::string kWin = "C:\\Windows";
const std::string kSys = "C:\\Windows\\System32";
const std::string kUser = "C:\\Users\\user";
const std::string kCommon = "C:\\Program Files\\Common Files";

// ---- Windows itself ----

void makeWindows(Machine& m) {
  Rng& r = m.r;
  const std::vector<std::string> wellKnown = {
      "kernel32.dll", "user32.dll",   "gdi32.dll",   "shell32.dll",        "ole32.dll",
      "oleaut32.dll", "comctl32.dll", "mscoree.dll", "shlwapi.dll",        "urlmon.dll",
      "wininet.dll",  "msxml6.dll",   "propsys.dll", "windows.storage.dll"};
  std::set<std::string> seen(wellKnown.begin(), wellKnown.end());
  m.sysDlls = wellKnown;
  while (m.sysDlls.size() < m.n(3500, 40)) {
    std::string s = stem(r, r.range(2, 3)) + (r.chance(0.2) ? "32" : "") + ".dll";
    if (seen.insert(s).second) m.sysDlls.push_back(s);
  }
  m.sysExes = {"msiexec.exe",
               "rundll32.exe",
               "ctfmon.exe",
               "svchost.exe",
               "explorer.exe",
               "regsvr32.exe",
               "SecurityHealthSystray.exe"};
  while (m.sysExes.size() < m.n(600, 12)) {
    std::string s = stem(r, 2) + ".exe";
    if (seen.insert(s).second) m.sysExes.push_back(s);
  }
  for (const auto& d : m.sysDlls) m.file(kSys + "\\" + d);
  for (const auto& e : m.sysExes) m.file(kSys + "\\" + e);
  m.file(kWin + "\\explorer.exe");
  m.file(kWin + "\\regedit.exe");
  for (std::size_t i = 0; i < m.n(700, 8); ++i) m.file(kSys + "\\drivers\\" + stem(r, 2) + ".sys");
  for (std::size_t i = 0; i < m.n(2500, 20); ++i)
    m.file(kWin + "\\SysWOW64\\" + stem(r, 2) + ".dll");
  for (std::size_t i = 0; i < m.n(1800, 10); ++i) m.file(kWin + "\\INF\\" + stem(r, 2) + ".inf");
  m.emptyDirs.push_back(kWin + "\\Temp");
  m.emptyDirs.push_back("C:\\Program Files\\Brisquell");

  Key* nt = m.path(m.software, "Microsoft\\Windows NT\\CurrentVersion");
  m.sz(nt, "ProductName", "Windows 10 Pro");
  m.sz(nt, "DisplayVersion", "23H2");
  m.sz(nt, "CurrentBuild", "22631");
  m.dword(nt, "CurrentMajorVersionNumber", 10);
  m.sz(nt, "SystemRoot", "C:\\Windows");
  m.sz(nt, "RegisteredOwner", "user");
  m.binary(nt, "DigitalProductId", 164);
  Key* cv = m.path(m.software, "Microsoft\\Windows\\CurrentVersion");
  m.sz(cv, "ProgramFilesDir", "C:\\Program Files");
  m.sz(cv, "CommonFilesDir", kCommon);
  m.expand(cv, "ProgramFilesPath", "%ProgramFiles%");
  m.sz(cv, "DevicePath", "%SystemRoot%\\inf");

  // Fonts: bare names live in the Windows Fonts folder, per-user fonts carry full paths.
  Key* fonts = m.path(nt, "Fonts");
  for (std::size_t i = 0; i < m.n(480, 12); ++i) {
    std::string face = capitalised(stem(r, 2));
    if (r.chance(0.12)) {  // bitmap fonts are never tested
      std::string f = upper(stem(r, 1)) + fmt::format("{}.FON", r.range(1, 9));
      m.file(kWin + "\\Fonts\\" + f);
      m.sz(fonts, face + " (VGA res)", f);
    } else if (r.chance(0.1)) {
      std::string p = kUser + "\\AppData\\Local\\Microsoft\\Windows\\Fonts\\" + stem(r, 2) + ".ttf";
      m.sz(fonts, face + " (TrueType)", m.refFile(kFonts, p));
    } else {
      std::string f = stem(r, 2) + (r.chance(0.8) ? ".ttf" : ".otf");
      std::string p = m.refFile(kFonts, kWin + "\\Fonts\\" + f);
      m.sz(fonts, face + (r.chance(0.3) ? " Bold (TrueType)" : " (TrueType)"),
           p.substr(p.rfind('\\') + 1));
    }
  }

  // COM classes registered by Windows: mostly expandable strings (which a scan leaves alone),
  // the rest plain paths or bare names in the system folder.
  for (std::size_t i = 0; i < m.n(7500, 20); ++i) {
    Key* c = m.child(m.clsid, guid(r));
    m.sz(c, "", capitalised(stem(r, 2)) + " Class");
    Key* inproc = m.child(c, "InprocServer32");
    const std::string& dll = r.pick(m.sysDlls);
    double dice = static_cast<double>(r.below(100));
    if (dice < 65) {
      m.expand(inproc, "", "%SystemRoot%\\system32\\" + dll);
    } else if (dice < 85) {
      std::string p = m.refFile(kCom, kSys + "\\" + dll, false, 0.01);
      m.sz(inproc, "", p.substr(p.rfind('\\') + 1));
    } else {
      m.sz(inproc, "", m.refFile(kCom, kSys + "\\" + dll, false, 0.01));
    }
    m.sz(inproc, "ThreadingModel", r.chance(0.6) ? "Both" : "Apartment");
    if (r.chance(0.3)) {
      std::string progid = "Windows." + capitalised(stem(r, 2)) + ".1";
      m.sz(m.child(c, "ProgID"), "", progid);
      Key* p = m.child(m.classes, progid);
      m.sz(p, "", capitalised(stem(r, 2)));
      m.sz(m.child(p, "CLSID"), "", c->name);
    }
    if (r.chance(0.25)) m.child(m.child(c, "Implemented Categories"), guid(r));
    if (r.chance(0.1)) m.sz(c, "AppID", guid(r));
  }

  // Type libraries; a HELPDIR key without a value is what a broken one looks like.
  Key* typelib = m.path(m.classes, "TypeLib");
  for (std::size_t i = 0; i < m.n(1300, 10); ++i) {
    Key* t = m.child(typelib, guid(r));
    Key* v = m.child(t, fmt::format("{}.{}", r.range(1, 3), r.below(3)));
    m.sz(v, "", capitalised(stem(r, 2)) + " Type Library");
    m.sz(m.path(v, r.chance(0.7) ? "0\\win64" : "0\\win32"), "", kSys + "\\" + r.pick(m.sysDlls));
    m.sz(m.child(v, "FLAGS"), "", "0");
    Key* help = m.child(v, "HELPDIR");
    if (!m.decideBroken(kIntegrity, false, 0.03)) m.sz(help, "", r.chance(0.5) ? kSys : "");
  }

  // Interfaces, Wow64 classes: large and never scanned.
  Key* iface = m.path(m.classes, "Interface");
  for (std::size_t i = 0; i < m.n(16000, 20); ++i) {
    Key* k = m.child(iface, guid(r));
    m.sz(k, "", "I" + capitalised(stem(r, 3)));
    m.sz(m.child(k, "ProxyStubClsid32"), "", "{00020424-0000-0000-C000-000000000046}");
    m.sz(m.child(k, "NumMethods"), "", fmt::format("{}", r.range(3, 40)));
    if (r.chance(0.3)) {
      Key* tl = m.child(k, "TypeLib");
      m.sz(tl, "", guid(r));
      m.sz(tl, "Version", "1.0");
    }
  }
  Key* wow = m.path(m.classes, "WOW6432Node\\CLSID");
  for (std::size_t i = 0; i < m.n(4000, 10); ++i) {
    Key* c = m.child(wow, guid(r));
    m.sz(c, "", capitalised(stem(r, 2)));
    Key* in = m.child(c, "InprocServer32");
    m.expand(in, "", "%SystemRoot%\\SysWow64\\" + r.pick(m.sysDlls));
    m.sz(in, "ThreadingModel", "Both");
  }

  // File types known to Windows.
  std::set<std::string> exts;
  for (const char* e : {".txt", ".jpg", ".png", ".pdf", ".zip", ".mp3", ".mp4", ".html", ".xml",
                        ".json", ".log", ".ini", ".docx", ".xlsx", ".csv", ".reg"})
    exts.insert(e);
  while (exts.size() < m.n(1600, 30)) {
    std::string e = ".";
    for (std::uint32_t k = r.range(2, 4); k > 0; --k)
      e.push_back(static_cast<char>('a' + r.below(26)));
    exts.insert(e);
  }
  m.extensions.assign(exts.begin(), exts.end());
  for (const auto& e : m.extensions) {
    Key* k = m.child(m.classes, e);
    std::string progid = capitalised(e.substr(1)) + "File";
    m.sz(k, "", progid);
    if (r.chance(0.4)) m.sz(k, "Content Type", "application/x-" + e.substr(1));
    if (r.chance(0.3)) m.sz(k, "PerceivedType", r.chance(0.5) ? "document" : "text");
    Key* owp = m.child(k, "OpenWithProgids");
    m.set(owp, progid, regtype::None, {});
    Key* p = m.child(m.classes, progid);
    m.sz(p, "", capitalised(e.substr(1)) + " File");
    m.expand(m.child(p, "DefaultIcon"), "",
             "%SystemRoot%\\System32\\imageres.dll,-" + std::to_string(r.range(2, 200)));
    m.expand(m.path(p, "shell\\open\\command"), "", "%SystemRoot%\\system32\\NOTEPAD.EXE %1");
  }

  // Shared Tools: helpers below Common Files\Microsoft Shared.
  Key* shared = m.path(m.software, "Microsoft\\Shared Tools");
  for (std::size_t i = 0; i < m.n(160, 6); ++i) {
    std::string tool = capitalised(stem(r, 2));
    Key* k = m.child(shared, tool);
    std::string dir = kCommon + "\\Microsoft Shared\\" + tool;
    std::string dll = dir + "\\" + stem(r, 2) + ".dll";
    m.sz(k, "Path", m.refFile(kShared, dll));
    m.sz(k, "SharedFilesDir", dir + "\\");
    if (r.chance(0.4)) m.dword(k, "Version", r.range(1, 16));
    if (r.chance(0.3)) {
      Key* sub = m.child(k, "Options");
      m.sz(sub, "Exe", m.refFile(kShared, dir + "\\" + stem(r, 2) + ".exe"));
    }
  }

  // Virtual device drivers: a handful, always.
  Key* vdd = m.path(m.hklm, "SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers");
  for (int i = 0; i < 4; ++i) {
    std::string name = stem(r, 2) + ".dll";
    if (!m.decideBroken(kVxd, false, 0.05)) m.file(kSys + "\\" + name);
    const std::string& ref = name;
    if (i == 0)
      m.multi(vdd, "VDD", {ref});
    else if (i == 1)
      m.sz(vdd, "VDD2", kSys + "\\" + ref);
    else
      m.sz(vdd, fmt::format("VDD{}", i + 1), ref);
  }

  // Help files of Windows.
  Key* help = m.path(m.software, "Microsoft\\Windows\\Help");
  Key* html = m.path(m.software, "Microsoft\\Windows\\HTML Help");
  for (std::size_t i = 0; i < m.n(60, 3); ++i) {
    std::string f = stem(r, 2) + (r.chance(0.5) ? ".hlp" : ".chm");
    m.refFile(kHelp, kWin + "\\Help\\" + f);
    m.sz(f.ends_with(".hlp") ? help : html, f, kWin + "\\Help");
  }

  // Run entries of Windows components (an expandable one is left alone by a scan).
  Key* run = m.path(m.software, "Microsoft\\Windows\\CurrentVersion\\Run");
  m.expand(run, "RtkAudUService", "\"%SystemRoot%\\System32\\RtkAudUService64.exe\" -background");
}

// ---- installed programs ----

std::string vendorName(Rng& r) {
  if (r.chance(0.015)) return r.pick(kForeignVendors);
  return capitalised(stem(r, 2)) + r.pick(kVendorSuffix);
}

void makeProducts(Machine& m) {
  Rng& r = m.r;
  std::vector<std::string> vendors;
  for (std::size_t i = 0; i < m.n(350, 6); ++i) vendors.push_back(vendorName(r));
  std::set<std::string> dirs;
  while (m.products.size() < m.n(1400, 14)) {
    Product p;
    p.vendor = r.pick(vendors);
    p.name = capitalised(stem(r, 2)) + r.pick(kProductSuffix);
    p.dir = std::string(r.chance(0.3) ? "C:\\Program Files (x86)\\" : "C:\\Program Files\\") +
            p.vendor + "\\" + p.name;
    if (!dirs.insert(upper(p.dir)).second) continue;
    p.stem = stem(r, 2);
    p.exe = p.dir + "\\" + p.stem + ".exe";
    p.version = fmt::format("{}.{}.{}", r.range(1, 24), r.below(10), r.below(3000));
    p.code = guid(r);
    p.msi = r.chance(0.5);
    p.removed = r.chance(0.025);  // uninstalled, but the registry still remembers it
    for (std::uint32_t k = r.range(1, 10); k > 0; --k)
      p.dlls.push_back(p.dir + "\\" + stem(r, 2) + (r.chance(0.08) ? ".ocx" : ".dll"));
    if (!p.removed) {
      m.file(p.exe);
      for (std::uint32_t k = r.range(2, 14); k > 0; --k)
        m.file(p.dir + "\\" +
               r.pick(std::array<const char*, 5>{"", "resources\\", "lib\\", "locales\\",
                                                 "plugins\\"}) +
               stem(r, 2) +
               r.pick(std::array<const char*, 6>{".dat", ".pak", ".json", ".png", ".xml", ".bin"}));
    }
    m.products.push_back(std::move(p));
  }

  Key* cv = m.path(m.software, "Microsoft\\Windows\\CurrentVersion");
  Key* uninstall = m.child(cv, "Uninstall");
  Key* appPaths = m.child(cv, "App Paths");
  Key* sharedDlls = m.child(cv, "SharedDLLs");
  Key* help = m.path(m.software, "Microsoft\\Windows\\Help");
  Key* html = m.path(m.software, "Microsoft\\Windows\\HTML Help");
  Key* runLm = m.child(cv, "Run");
  Key* cuCv = m.path(m.hkcu, "Software\\Microsoft\\Windows\\CurrentVersion");
  Key* runCu = m.child(cuCv, "Run");
  Key* fileExts = m.path(cuCv, "Explorer\\FileExts");
  Key* menuOrder = m.path(cuCv, "Explorer\\MenuOrder\\Start Menu\\Programs");
  Key* muiCache = m.path(m.hkcu, "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache");
  Key* applications = m.child(m.classes, "Applications");
  Key* typelib = m.child(m.classes, "TypeLib");
  m.binary(muiCache, "LangID", 2);
  std::size_t nextExt = 0;

  for (Product& p : m.products) {
    const bool gone = p.removed;
    auto dll = [&](Section s) { return m.refFile(s, r.pick(p.dlls), gone); };

    // Uninstall entry: MSI products by product code, the others by name.
    Key* u = m.child(uninstall, p.msi ? p.code : p.name);
    m.sz(u, "DisplayName", p.name);
    m.sz(u, "DisplayVersion", p.version);
    m.sz(u, "Publisher", p.vendor);
    m.sz(u, "InstallLocation", p.dir + "\\");
    m.sz(u, "InstallDate",
         fmt::format("20{:02}{:02}{:02}", r.range(18, 24), r.range(1, 12), r.range(1, 28)));
    m.dword(u, "EstimatedSize", r.range(100, 4000000));
    m.sz(u, "DisplayIcon", m.refFile(kUninstall, p.exe, gone) + ",0");
    if (p.msi) {
      m.expand(u, "ModifyPath", "MsiExec.exe /I" + p.code);
      m.dword(u, "NoModify", 1);
      m.dword(u, "WindowsInstaller", 1);
      m.dword(u, "VersionMajor", r.range(1, 20));
      std::string cache = "C:\\ProgramData\\Package Cache\\" + p.code + "v" + p.version;
      std::string msi = cache + "\\" + p.stem + ".msi";
      if (!m.decideBroken(kUninstall, gone, 0.05)) m.file(msi);
      m.sz(u, "InstallSource", cache + "\\");
      if (r.chance(0.5))
        m.sz(u, "UninstallString", "MsiExec.exe /X" + p.code);
      else
        m.expand(u, "UninstallString", "MsiExec.exe /X" + p.code);
    } else {
      std::string un = m.refFile(kUninstall, p.dir + "\\unins000.exe", gone);
      m.sz(u, "UninstallString", "\"" + un + "\"");
      m.sz(u, "QuietUninstallString", "\"" + un + "\" /SILENT");
      m.dword(u, "NoRepair", 1);
    }
    if (r.chance(0.5))
      m.sz(u, "URLInfoAbout", "https://www." + upper(p.stem).substr(0, 1) + p.stem + ".example/");
    if (r.chance(0.3)) m.sz(u, "HelpLink", "https://support." + p.stem + ".example/");
    if (r.chance(0.2))
      m.sz(u, "Comments", "Installed by " + p.vendor + " setup.\r\nDo not remove.");

    if (r.chance(0.5)) {
      Key* a = m.child(appPaths, p.stem + ".exe");
      m.sz(a, "", m.refFile(kAppPaths, p.exe, gone));
      m.sz(a, "Path", p.dir);
      if (r.chance(0.2)) m.dword(a, "UseUrl", 1);
    }
    if (r.chance(0.7)) m.sz(muiCache, m.refFile(kAppPaths, p.exe, gone), p.name);

    // COM classes of the product.
    if (r.chance(0.6)) {
      std::string lib;
      if (r.chance(0.4)) {
        lib = guid(r);
        Key* v = m.child(m.child(typelib, lib), "1.0");
        m.sz(v, "", p.name + " Type Library");
        m.sz(m.path(v, "0\\win32"), "", r.pick(p.dlls));
        m.sz(m.child(v, "FLAGS"), "", "0");
        Key* hd = m.child(v, "HELPDIR");
        if (!m.decideBroken(kIntegrity, false, 0.03)) m.sz(hd, "", p.dir);
      }
      for (std::uint32_t k = r.range(1, 8); k > 0; --k) {
        Key* c = m.child(m.clsid, guid(r));
        std::string cls = capitalised(stem(r, 2));
        m.sz(c, "", p.name + " " + cls + " Class");
        Key* in = m.child(c, "InprocServer32");
        std::string d = dll(kCom);
        m.sz(in, "", r.chance(0.1) ? "\"" + d + "\"" : d);
        m.sz(in, "ThreadingModel", "Apartment");
        if (r.chance(0.15)) m.sz(m.child(c, "LocalServer32"), "", m.refFile(kCom, p.exe, gone));
        std::string progid = upper(p.stem.substr(0, 1)) + p.stem.substr(1) + "." + cls;
        m.sz(m.child(c, "ProgID"), "", progid + ".1");
        m.sz(m.child(c, "VersionIndependentProgID"), "", progid);
        if (!lib.empty()) m.sz(m.child(c, "TypeLib"), "", lib);
        if (r.chance(0.3)) m.sz(m.child(c, "DefaultIcon"), "", d + ",0");
        Key* pk = m.child(m.classes, progid + ".1");
        m.sz(pk, "", p.name + " " + cls);
        m.sz(m.child(pk, "CLSID"), "", c->name);
      }
    }

    // File types the product opens, with Explorer's per-user lists.
    if (r.chance(0.45)) {
      Key* a = m.child(applications, p.stem + ".exe");
      m.sz(m.path(a, "shell\\open\\command"), "", "\"" + p.exe + "\" \"%1\"");
      if (r.chance(0.5)) m.sz(a, "FriendlyAppName", p.name);
      Key* types = m.child(a, "SupportedTypes");
      for (std::uint32_t k = r.range(1, 4); k > 0; --k) {
        const std::string& e = m.extensions[nextExt++ % m.extensions.size()];
        m.sz(types, e, "");
        Key* fe = m.child(fileExts, e);
        Key* owl = m.child(fe, "OpenWithList");
        if (!m.decideBroken(kFileExt, false, 0.03)) {
          m.sz(owl, "a", p.stem + ".exe");
          if (r.chance(0.5)) m.sz(owl, "b", "notepad.exe");
          m.sz(owl, "MRUList", r.chance(0.5) ? "ab" : "a");
        }
        m.set(m.child(fe, "OpenWithProgids"), capitalised(e.substr(1)) + "File", regtype::None, {});
        if (r.chance(0.3)) {
          Key* uc = m.child(fe, "UserChoice");
          m.sz(uc, "ProgId", "Applications\\" + p.stem + ".exe");
          m.sz(uc, "Hash", hex(r, 11) + "=");
        }
      }
    }

    if (r.chance(0.2)) {
      std::string f = p.stem + (r.chance(0.5) ? ".chm" : ".hlp");
      m.refFile(kHelp, p.dir + "\\" + f, gone);
      m.sz(f.ends_with(".hlp") ? help : html, f, r.chance(0.5) ? p.dir : p.dir + "\\");
    }

    // Files shared between programs, counted by SharedDLLs.
    for (const auto& d : p.dlls)
      if (r.chance(0.35)) m.dword(sharedDlls, m.refFile(kShared, d, gone), r.range(1, 4));
    if (r.chance(0.3)) {
      std::string common = kCommon + "\\" + p.vendor + "\\" + stem(r, 2) + ".dll";
      m.dword(sharedDlls, m.refFile(kShared, common), r.range(1, 9));
    }

    if (r.chance(0.1)) m.binary(m.child(menuOrder, p.vendor), "Order", r.range(40, 200));

    // Per-user settings of the program: plenty of values nobody scans.
    Key* settings = m.path(m.hkcu, "Software\\" + p.vendor + "\\" + p.name);
    m.sz(settings, "InstallPath", p.dir);
    m.sz(settings, "Version", p.version);
    for (std::uint32_t k = r.range(0, 6); k > 0; --k)
      m.dword(settings, capitalised(stem(r, 2)), r.below(2));
    if (r.chance(0.5)) {
      Key* w = m.child(settings, "Window");
      m.binary(w, "Placement", 44);
      m.dword(w, "Maximized", r.below(2));
    }
    if (r.chance(0.3)) {
      Key* mru = m.child(settings, "Recent File List");
      for (std::uint32_t k = 1, last = r.range(1, 8); k <= last; ++k)
        m.sz(mru, fmt::format("File{}", k), kUser + "\\Documents\\" + stem(r, 2) + ".txt");
    }
  }

  // Programs started at log-on.
  m.sz(runLm, "SecurityHealth",
       m.refFile(kStartup, kSys + "\\SecurityHealthSystray.exe", false, 0));
  m.sz(runLm, "ctfmon", m.refFile(kStartup, kSys + "\\ctfmon.exe", false, 0));
  for (std::size_t i = 0; i < m.n(22, 4); ++i) {
    const Product& p = r.pick(m.products);
    if (r.chance(0.5))
      m.sz(runLm, p.name, "\"" + m.refFile(kStartup, p.exe, p.removed) + "\" /background");
    else
      m.sz(runCu, p.stem, m.refFile(kStartup, p.exe, p.removed) + " -autorun");
  }

  // Common-file entries of Windows in SharedDLLs.
  for (std::size_t i = 0; i < m.n(600, 4); ++i) {
    std::string f =
        kCommon + "\\microsoft shared\\" + capitalised(stem(r, 1)) + "\\" + stem(r, 2) + ".dll";
    m.dword(sharedDlls, m.refFile(kShared, f), r.range(1, 30));
  }
  for (std::size_t i = 0; i < m.n(40, 2); ++i)
    m.dword(sharedDlls, r.pick(m.sysDlls), r.range(1, 5));

  // MUICache entries that name resources rather than programs.
  for (std::size_t i = 0; i < m.n(500, 4); ++i)
    m.sz(muiCache,
         "@" + kSys + "\\" + r.pick(m.sysDlls) + ",-" + std::to_string(r.range(100, 30000)),
         capitalised(stem(r, 2)));
  for (std::size_t i = 0; i < m.n(300, 3); ++i)
    m.sz(muiCache, m.refFile(kAppPaths, kSys + "\\" + r.pick(m.sysExes), false, 0.01),
         capitalised(stem(r, 2)));
}

// ---- shortcuts, documents and the rest of C: ----

void makeShortcuts(Machine& m) {
  Rng& r = m.r;
  const std::string userMenu =
      kUser + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  const std::string allMenu = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
  const std::string desktop = kUser + "\\Desktop";
  const std::string quick =
      kUser + "\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
  std::size_t target = m.n(2000, 20), made = 0;
  auto link = [&](const std::string& where, const std::string& to, bool gone, bool folder = false) {
    if (m.files.count(where)) return;  // the same product met again
    std::string t = folder ? to : m.refFile(kShortcuts, to, gone);
    LnkSpec s;
    s.localBasePath = t;
    s.directory = folder;
    m.file(where, makeShortcut(s));
    ++made;
  };
  for (std::size_t i = 0; made < target; i = (i + 1) % m.products.size()) {
    const Product& p = m.products[i];
    if (r.chance(0.5)) continue;
    bool all = r.chance(0.7);
    std::string menu = (all ? allMenu : userMenu) + "\\" + p.vendor;
    link(menu + "\\" + p.name + ".lnk", p.exe, p.removed);
    if (made < target && r.chance(0.25))
      link(menu + "\\Uninstall " + p.name + ".lnk", p.dir + "\\unins000.exe", p.removed);
    if (made < target && r.chance(0.12)) link(desktop + "\\" + p.name + ".lnk", p.exe, p.removed);
    if (made < target && r.chance(0.02)) link(quick + "\\" + p.name + ".lnk", p.exe, p.removed);
    if (made < target && r.chance(0.02)) {
      std::string docs = kUser + "\\Documents\\" + capitalised(stem(r, 2));
      m.file(docs + "\\readme.txt");
      link(desktop + "\\" + capitalised(stem(r, 2)) + " folder.lnk", docs, false, true);
    }
  }
  for (const char* tool : {"Command Prompt", "Notepad", "Paint", "Task Manager"})
    m.file(allMenu + "\\System Tools\\" + tool + ".lnk", makeShortcut(kSys + "\\" + m.sysExes[0]));
}

void fillFiles(Machine& m, std::size_t target) {
  Rng& r = m.r;
  std::vector<std::string> sxs;
  while (m.files.size() < target) {
    switch (r.below(4)) {
      case 0: {  // the component store
        if (sxs.empty() || r.chance(0.25))
          sxs.push_back(kWin + "\\WinSxS\\amd64_microsoft-windows-" + stem(r, 2) +
                        "_31bf3856ad364e35_10.0.22621." + std::to_string(r.range(1, 3000)) +
                        "_none_" + hex(r, 16));
        m.file(sxs.back() + "\\" + stem(r, 2) +
               r.pick(std::array<const char*, 3>{".dll", ".exe", ".mui"}));
        break;
      }
      case 1: {  // data files of installed programs
        const Product& p = r.pick(m.products);
        if (p.removed) break;
        m.file(
            p.dir + "\\" +
            r.pick(std::array<const char*, 4>{"resources\\", "data\\", "locales\\", "assets\\"}) +
            stem(r, 2) +
            r.pick(std::array<const char*, 5>{".pak", ".png", ".json", ".qm", ".dat"}));
        break;
      }
      case 2:  // the user's own files
        m.file(kUser +
               r.pick(std::array<const char*, 5>{"\\Documents\\", "\\Pictures\\", "\\Downloads\\",
                                                 "\\Music\\", "\\AppData\\Local\\Temp\\"}) +
               stem(r, 3) +
               r.pick(std::array<const char*, 6>{".docx", ".jpg", ".pdf", ".mp3", ".tmp", ".txt"}));
        break;
      default:  // Windows
        m.file(kSys +
               r.pick(std::array<const char*, 4>{"\\en-US\\", "\\DriverStore\\FileRepository\\",
                                                 "\\catroot\\", "\\"}) +
               stem(r, 2) + r.pick(std::array<const char*, 4>{".dll.mui", ".cat", ".inf", ".dll"}));
    }
  }
}

// ---- bulk keys outside the scanned sections ----

void bulkService(Machine& m, Key* services) {
  Rng& r = m.r;
  std::string name = capitalised(stem(r, 2)) + (r.chance(0.3) ? "Svc" : "");
  Key* s = m.child(services, name);
  bool driver = r.chance(0.5);
  m.dword(s, "Type", driver ? 1 : 16);
  m.dword(s, "Start", r.range(0, 4));
  m.dword(s, "ErrorControl", 1);
  if (driver)
    m.expand(s, "ImagePath", "\\SystemRoot\\System32\\drivers\\" + stem(r, 2) + ".sys");
  else
    m.expand(s, "ImagePath", "%SystemRoot%\\system32\\svchost.exe -k " + stem(r, 1) + " -p");
  m.sz(s, "DisplayName",
       "@%SystemRoot%\\system32\\" + r.pick(m.sysDlls) + ",-" + std::to_string(r.range(100, 999)));
  m.sz(s, "Description",
       "@%SystemRoot%\\system32\\" + r.pick(m.sysDlls) + ",-" + std::to_string(r.range(100, 999)));
  m.sz(s, "Group", r.chance(0.5) ? "NDIS" : "Base");
  if (!driver) m.sz(s, "ObjectName", "LocalSystem");
  if (r.chance(0.5)) m.multi(s, "DependOnService", {"RpcSs", capitalised(stem(r, 2))});
  if (r.chance(0.4)) m.binary(s, "FailureActions", 20 + 8 * r.below(4));
  if (!driver) {
    Key* pr = m.child(s, "Parameters");
    m.expand(pr, "ServiceDll", "%SystemRoot%\\system32\\" + r.pick(m.sysDlls));
    m.dword(pr, "ServiceDllUnloadOnStop", 1);
  }
  m.binary(m.child(s, "Security"), "Security", r.range(100, 180));
  if (r.chance(0.5)) {
    Key* e = m.child(s, "Enum");
    m.sz(e, "0", "ROOT\\LEGACY_" + upper(name) + "\\0000");
    m.dword(e, "Count", 1);
    m.dword(e, "NextInstance", 1);
  }
}

void bulkDevice(Machine& m, Key* enumKey) {
  Rng& r = m.r;
  static const std::array<const char*, 6> buses = {"PCI", "USB", "HID", "SWD", "ROOT", "ACPI"};
  std::string hw =
      fmt::format("VEN_{}&DEV_{}&SUBSYS_{}", upper(hex(r, 4)), upper(hex(r, 4)), upper(hex(r, 8)));
  Key* d = m.child(m.child(m.child(enumKey, r.pick(buses)), hw),
                   fmt::format("{}&{}&0&{}", r.below(9), hex(r, 8), hex(r, 4)));
  m.sz(d, "DeviceDesc",
       "@oem" + std::to_string(r.range(1, 90)) + ".inf,%" + stem(r, 2) + "%;" +
           capitalised(stem(r, 3)));
  m.multi(d, "HardwareID", {hw, hw.substr(0, 17)});
  m.multi(d, "CompatibleIDs", {"CC_0C0330", "CC_0C03"});
  m.sz(d, "ContainerID", guid(r));
  m.sz(d, "ClassGUID", guid(r));
  m.sz(d, "Driver", guid(r) + fmt::format("\\{:04}", r.below(40)));
  m.sz(d, "Mfg", "@oem" + std::to_string(r.range(1, 90)) + ".inf,%mfg%;" + capitalised(stem(r, 2)));
  m.dword(d, "ConfigFlags", 0);
  m.dword(d, "Capabilities", r.below(256));
  m.dword(d, "Address", r.below(32));
  Key* dp = m.child(d, "Device Parameters");
  m.dword(dp, "EnhancedPowerManagementEnabled", 1);
  m.binary(dp, "InterruptManagement", 8);
  m.child(d, "LogConf");
  // Device properties: many small keys, each with one value of a property type code.
  Key* props = m.child(d, "Properties");
  for (std::uint32_t g = r.range(3, 6); g > 0; --g) {
    Key* pg = m.child(props, guid(r));
    for (std::uint32_t k = r.range(1, 4); k > 0; --k) {
      Key* pk = m.child(pg, fmt::format("{:04}", r.range(2, 30)));
      std::uint32_t type = r.chance(0.5) ? 0xFFFF0012u : 0xFFFF0007u;
      m.set(pk, "", type, type == 0xFFFF0012u ? szData(stem(r, 3)) : dwordData(r.next() & 0xFFFF));
    }
  }
}

void bulkComponent(Machine& m, Key* components) {
  Rng& r = m.r;
  Key* c = m.child(components, upper(hex(r, 32)));
  for (std::uint32_t k = r.range(1, 3); k > 0; --k) {
    const Product& p = r.pick(m.products);
    m.sz(c, upper(hex(r, 32)), p.dir + "\\" + stem(r, 2) + ".dll");
  }
}

void bulkPackage(Machine& m, Key* packages) {
  Rng& r = m.r;
  std::string name = "Package_" + std::to_string(r.range(1, 9999)) + "_for_KB" +
                     std::to_string(r.range(4000000, 5999999)) + "~31bf3856ad364e35~amd64~~22621." +
                     std::to_string(r.range(1, 3000)) + ".1.10";
  Key* k = m.child(packages, name);
  m.dword(k, "CurrentState", 112);
  m.sz(k, "InstallClient", "UpdateAgentLCU");
  m.expand(k, "InstallLocation",
           "\\\\?\\C:\\Windows\\SoftwareDistribution\\Download\\" + hex(r, 32));
  m.sz(k, "InstallName", name.substr(0, name.find('~')) + ".mum");
  m.dword(k, "InstallTimeHigh", r.next() & 0xFFFFFFF);
  m.dword(k, "InstallTimeLow", r.next() & 0xFFFFFFFF);
  m.sz(k, "InstallUser", "S-1-5-18");
  m.dword(k, "Visibility", 2);
  m.dword(k, "SelfUpdate", 0);
  Key* o = m.child(k, "Owners");
  m.dword(o, name, 0x20070);
  Key* u = m.child(k, "Updates");
  for (std::uint32_t i = r.range(2, 6); i > 0; --i) m.dword(u, stem(r, 3), 0x70);
}

void bulkWinner(Machine& m, Key* winners) {
  Rng& r = m.r;
  Key* w = m.child(
      winners, "amd64_microsoft-windows-" + stem(r, 3) + "_31bf3856ad364e35_none_" + hex(r, 16));
  Key* v = m.child(w, "10.0");
  std::string ver = "10.0.22621." + std::to_string(r.range(1, 3000));
  m.sz(v, "", ver);
  m.set(v, ver, regtype::Binary, {1});
}

void bulkDriverPackage(Machine& m, Key* packagesKey) {
  Rng& r = m.r;
  std::string inf = stem(r, 2) + ".inf";
  Key* k = m.child(packagesKey, inf + "_amd64_" + hex(r, 16));
  m.binary(k, "Version", r.range(90, 130));
  m.sz(k, "Provider", vendorName(r));
  m.sz(k, "SignerName", "Microsoft Windows Hardware Compatibility Publisher");
  m.dword(k, "SignerScore", 0x0D000005);
  m.sz(k, "", "oem" + std::to_string(r.range(0, 99)) + ".inf");
  Key* ds = m.child(k, "Descriptors");
  for (std::uint32_t i = r.range(1, 3); i > 0; --i) {
    Key* d = m.path(ds, fmt::format("PCI\\VEN_{}&DEV_{}", upper(hex(r, 4)), upper(hex(r, 4))));
    m.sz(d, "Configuration", stem(r, 2) + "_Device");
    m.sz(d, "Description", fmt::format("%{}%", stem(r, 2)));
  }
  Key* cfg = m.path(k, "Configurations\\" + stem(r, 2) + "_Device");
  m.dword(cfg, "ConfigFlags", 0);
  m.sz(cfg, "Service", capitalised(stem(r, 2)));
  m.multi(cfg, "IncludedInfs", {"machine.inf", "pci.inf"});
}

void bulkUserHive(Machine& m, Key* software) {
  Rng& r = m.r;
  Key* k =
      m.path(software, "Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\BagMRU\\" +
                           std::to_string(r.below(50)) + "\\" + std::to_string(r.below(50)));
  m.binary(k, std::to_string(r.below(30)), r.range(40, 160));
  m.dword(k, "NodeSlot", r.below(500));
  m.binary(k, "MRUListEx", 4 * r.range(1, 12));
}

void fillRegistry(Machine& m, std::size_t targetKeys, std::size_t targetValues) {
  Rng& r = m.r;
  Key* ccs = m.path(m.hklm, "SYSTEM\\CurrentControlSet");
  Key* services = m.child(ccs, "Services");
  Key* enumKey = m.child(ccs, "Enum");
  Key* components = m.path(
      m.software, "Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components");
  Key* packages =
      m.path(m.software, "Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\Packages");
  Key* winners = m.path(m.software, "Microsoft\\Windows\\CurrentVersion\\SideBySide\\Winners");
  Key* drivers = m.path(m.hklm, "SYSTEM\\DriverDatabase\\DriverPackages");
  Key* defaultUser = m.path(m.hku, ".DEFAULT\\Software");
  Key* store = m.path(m.hkcu,
                      "Software\\Microsoft\\Windows "
                      "NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store");
  Key* folders = m.path(m.software, "Microsoft\\Windows\\CurrentVersion\\Installer\\Folders");
  Key* hardware = m.path(m.hkcc, "System\\CurrentControlSet\\Control\\Print\\Printers");
  m.dword(hardware, "DefaultPrinterCount", 1);
  while (m.keys < targetKeys) {
    double ratio = static_cast<double>(targetValues > m.values ? targetValues - m.values : 0) /
                   static_cast<double>(targetKeys - m.keys);
    if (ratio > 1.7) {
      switch (r.below(4)) {
        case 0: bulkService(m, services); break;
        case 1: bulkPackage(m, packages); break;
        case 2: bulkDriverPackage(m, drivers); break;
        default: bulkComponent(m, components);
      }
    } else {
      switch (r.below(5)) {
        case 0: bulkDevice(m, enumKey); break;
        case 1: bulkWinner(m, winners); break;
        case 2: bulkUserHive(m, defaultUser); break;
        default: bulkComponent(m, components);
      }
    }
  }
  // Programs Windows has seen run, and folders Windows Installer created: values only.
  while (m.values < targetValues) {
    const Product& p = r.pick(m.products);
    if (r.chance(0.5))
      m.binary(store, p.dir + "\\" + stem(r, 2) + ".exe", r.range(20, 60));
    else
      m.sz(folders, p.dir + "\\" + capitalised(stem(r, 1)) + "\\", "");
  }
}

// ---- writing ----

bool writeFiles(const Machine& m, const std::string& driveRoot, std::string& error) {
  std::set<std::string> made;
  auto hostOf = [&](const std::string& win) {
    std::string h = driveRoot + "/" + win.substr(3);
    for (char& c : h)
      if (c == '\\') c = '/';
    return h;
  };
  auto makeDir = [&](const std::string& dir) {
    if (made.insert(dir).second) {
      std::error_code ec;
      std::filesystem::create_directories(dir, ec);
      if (ec) {
        error = fmt::format("{}: {}", dir, ec.message());
        return false;
      }
    }
    return true;
  };
  for (const auto& d : m.emptyDirs)
    if (!makeDir(hostOf(d))) return false;
  for (const auto& [win, content] : m.files) {
    std::string host = hostOf(win);
    if (!makeDir(host.substr(0, host.rfind('/')))) return false;
    int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      error = fmt::format("{}: {}", host, std::strerror(errno));
      return false;
    }
    bool ok = content.empty() ||
              ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    if (!ok) {
      error = fmt::format("{}: write failed", host);
      return false;
    }
  }
  return true;
}

int usage() {
  std::fprintf(
      stderr,
      "usage: brisquell-generate --size small|medium|large [--seed N] [--format "
      "machine|hives] OUT_DIR\n"
      "  machine: a machine folder; hives: an offline Windows installation (OUT_DIR is C:)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string size, out, format = "machine";
  std::uint64_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--size" && i + 1 < argc) {
      size = argv[++i];
    } else if (a == "--seed" && i + 1 < argc) {
      char* end = nullptr;
      seed = std::strtoull(argv[++i], &end, 10);
      if (!end || *end) return usage();
    } else if (a == "--format" && i + 1 < argc) {
      format = argv[++i];
      if (format != "machine" && format != "hives") return usage();
    } else if (a == "-h" || a == "--help") {
      usage();
      return 0;
    } else if (!a.empty() && a[0] != '-' && out.empty()) {
      out = a;
    } else {
      return usage();
    }
  }
  double scale = size == "large" ? 1.0 : size == "medium" ? 0.1 : size == "small" ? 0.01 : 0;
  if (scale == 0 || out.empty()) return usage();

  auto started = std::chrono::steady_clock::now();
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  const bool hives = format == "hives";
  if (ec || std::filesystem::exists(out + "/machine.ini") ||
      std::filesystem::exists(out + "/drive_c") || (hives && !std::filesystem::is_empty(out))) {
    std::fprintf(stderr, "%s: %s\n", out.c_str(),
                 ec ? ec.message().c_str() : "already holds a machine; choose an empty folder");
    return 1;
  }

  Machine m(seed, scale);
  makeWindows(m);
  makeProducts(m);
  makeShortcuts(m);
  fillFiles(m, m.n(100000, 100));
  fillRegistry(m, m.n(700000), m.n(1200000));

  std::string error;
  if (!writeFiles(m, hives ? out : out + "/drive_c", error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::uintmax_t bytes = 0;
  if (hives) {
    if (Outcome o = writeOfflineWindows(out, m.reg, "user"); !o) {
      std::fprintf(stderr, "%s\n", o.message().c_str());
      return 1;
    }
    for (const auto& e : std::filesystem::recursive_directory_iterator(out))
      if (e.is_regular_file() &&
          (e.path().filename() == "SOFTWARE" || e.path().filename() == "SYSTEM" ||
           e.path().filename() == "NTUSER.DAT" || e.path().filename() == "UsrClass.dat"))
        bytes += e.file_size();
  } else {
    std::FILE* ini = std::fopen((out + "/machine.ini").c_str(), "wb");
    if (!ini) {
      std::fprintf(stderr, "%s/machine.ini: %s\n", out.c_str(), std::strerror(errno));
      return 1;
    }
    std::fputs(
        "[Machine]\nPlatform=2\nWindowsDirectory=C:\\Windows\nSystemDirectory=C:"
        "\\Windows\\System32\n"
        "InstallFolder=C:\\Program Files\\Brisquell\nTempFolder=C:\\Windows\\Temp\nUserName=user\n"
        "[Drives]\nC=fixed,drive_c\nD=cdrom,drive_d,notready\n",
        ini);
    if (std::fclose(ini) != 0) {
      std::fprintf(stderr, "%s/machine.ini: write failed\n", out.c_str());
      return 1;
    }
    if (Outcome r = saveRegistryFile(m.reg, out + "/registry.reg"); !r) {
      std::fprintf(stderr, "%s\n", r.message().c_str());
      return 1;
    }
    bytes = std::filesystem::file_size(out + "/registry.reg", ec);
  }

  // The report counts the tree itself: the running counters only steer the bulk.
  std::size_t keys = 0, values = 0;
  std::vector<const Key*> todo;
  for (KeyHandle root : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig})
    todo.push_back(m.reg.root(root));
  while (!todo.empty()) {
    const Key* k = todo.back();
    todo.pop_back();
    values += k->values.size();
    for (const auto& c : k->children) {
      ++keys;
      todo.push_back(c.get());
    }
  }
  std::size_t shortcuts = 0;
  for (const auto& [win, content] : m.files)
    if (win.ends_with(".lnk")) ++shortcuts;
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("machine       %s (size %s, seed %llu)\n", out.c_str(), size.c_str(),
              static_cast<unsigned long long>(seed));
  std::printf("keys          %zu\nvalues        %zu\nfiles on C:   %zu (%zu shortcuts)\n", keys,
              values, m.files.size(), shortcuts);
  std::printf("%-13s %llu bytes\ntime          %.1f s\n\n", hives ? "hives" : "registry.reg",
              static_cast<unsigned long long>(bytes), secs);
  std::printf("%-48s %10s %8s\n", "references planted, by scanned section", "tested", "broken");
  for (int s = 0; s < kSectionCount; ++s)
    std::printf("%-48s %10zu %8zu\n", kSectionNames[s], m.tally.refs[s], m.tally.broken[s]);
  return 0;
}
