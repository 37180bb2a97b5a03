// The extra sections' walks and the tests behind them. A reference is reported only when what
// Windows would do with it fails; whatever depends on things a scan cannot see (a caller's
// PATH, an unknown variable, an NT device path) is logged and left alone.
#include "scan/ExtraSections.h"

#include <algorithm>
#include <cctype>

#include "platform/Bytes.h"
#include "scan/Checks.h"
#include "scan/Walkers.h"

namespace brisquell {

const ExtraSection kExtraSections[7] = {
    {"File Associations", "Medium", "Menu13"},  {"Uninstall Locations", "Low", "Menu14"},
    {"Windows Services", "High", "Menu15"},     {"Sound Events", "Low", "Menu16"},
    {"Installer Folders", "Medium", "Menu17"},  {"User Classes", "High", "Menu18"},
    {"Expanded COM Servers", "High", "Menu19"},
};

const ExtraSection* findExtraSection(std::string_view name) {
  for (const ExtraSection& s : kExtraSections)
    if (s.name == name) return &s;
  return nullptr;
}

namespace {

constexpr std::string_view kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::string_view kUninstall32 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string join(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  return std::string(a) + "\\" + std::string(b);
}

std::string trimQuotes(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return std::string(s);
}

bool absolute(std::string_view p) {
  return p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
         p[2] == '\\';
}

bool hasExtension(std::string_view p) {
  std::size_t slash = p.rfind('\\');
  std::size_t dot = p.rfind('.');
  return dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
}

bool executable(std::string_view p) {
  std::string ext = GetFileExtension(p);
  return ext == "exe" || ext == "com" || ext == "bat" || ext == "cmd" || ext == "scr" ||
         ext == "pif";
}

std::vector<std::string> systemFolders(ScanContext& ctx) {
  std::string win = ctx.GetWindowsDirectory();
  return {ctx.GetSystemDirectory(), GetPathWithSlash(win) + "system", win};
}

// The text of one value with its type; nothing when it is missing or not text.
struct ValueText {
  std::string text;
  std::uint32_t type = 0;
};
std::optional<ValueText> readText(ScanContext& ctx, KeyHandle root, const std::string& path,
                                  std::string_view name) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, path, keyaccess::AllAccess, h) != Status::Success) return std::nullopt;
  ScopedKey key(store, h);
  std::uint32_t type = 0;
  Bytes data;
  if (store.queryValue(h, name, type, data) != Status::Success) return std::nullopt;
  if (type != regtype::Sz && type != regtype::ExpandSz) return std::nullopt;
  return ValueText{std::string(data.begin(), std::find(data.begin(), data.end(), 0)), type};
}

std::optional<std::uint32_t> readDword(ScanContext& ctx, KeyHandle root, const std::string& path,
                                       std::string_view name) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, path, keyaccess::AllAccess, h) != Status::Success) return std::nullopt;
  ScopedKey key(store, h);
  std::uint32_t type = 0;
  Bytes data;
  if (store.queryValue(h, name, type, data) != Status::Success) return std::nullopt;
  if (type != regtype::Dword || data.size() < 4) return std::nullopt;
  return dwordOf(data);
}

std::vector<std::string> subKeys(ScanContext& ctx, KeyHandle root, const std::string& path) {
  std::vector<std::string> out;
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, path, keyaccess::EnumerateSubKeys, h) != Status::Success) return out;
  ScopedKey key(store, h);
  std::string name;
  for (std::uint32_t i = 0; store.enumKey(h, i, name) == Status::Success; ++i) out.push_back(name);
  return out;
}

// Reports a missing reference and logs one that cannot be tested; an error raised by the
// existence test (a bad name, a drive not ready) is logged under the check's name.
void settle(ScanContext& ctx, std::string_view procedure, const CheckArgs& a, const Tried& t) {
  if (t.verdict == Verdict::Missing)
    ctx.AddProblem(a.rootKey, a.valueName, t.path, a.section, a.keyPath, a.rootName);
  else if (t.verdict == Verdict::Unknown && !t.path.empty())
    ctx.log().write(procedure, 75, "Cannot be tested: " + t.path);
}

template <typename F>
void check(ScanContext& ctx, std::string_view procedure, const CheckArgs& a, F&& tryIt) {
  if (ctx.bCancelScan) return;  // as every check: a cancelled scan tests nothing more
  ctx.forgetTested();           // the evidence is this value's alone
  try {
    settle(ctx, procedure, a, tryIt());
  } catch (const TrappedError& e) {
    ctx.log().write(procedure, e);
  }
}

CheckArgs argsOf(KeyHandle root, std::string_view section, std::string_view name,
                 const std::string& keyPath) {
  return CheckArgs{signedHandle(root),
                   std::string(rootName(root)),
                   std::string(name),
                   {},
                   std::string(section),
                   keyPath,
                   {}};
}

// A value's text as the program reading it sees it: REG_EXPAND_SZ (and text naming a variable
// where the reader expands it) with its variables replaced.
std::optional<std::string> expanded(ScanContext& ctx, const ValueText& v) {
  if (v.type == regtype::ExpandSz || v.text.find('%') != std::string::npos)
    return ctx.expandEnvironment(v.text);
  return v.text;
}

bool placeholder(std::string_view s) {
  return s.find("%1") != std::string_view::npos || s.find("%L") != std::string_view::npos ||
         s.find("%l") != std::string_view::npos;
}

// ---- File Associations and the user's ProgIDs ----

// A DefaultIcon names a file and, after a comma, the icon's index.
std::string iconFile(std::string_view value) {
  std::string s = trimQuotes(value);
  std::size_t comma = s.rfind(',');
  if (comma != std::string::npos) {
    std::string_view index = std::string_view(s).substr(comma + 1);
    while (!index.empty() && index.front() == ' ') index.remove_prefix(1);
    if (!index.empty() && index.front() == '-') index.remove_prefix(1);
    if (!index.empty() && index.find_first_not_of("0123456789 ") == std::string_view::npos)
      s = trimQuotes(s.substr(0, comma));
  }
  return s;
}

void checkProgId(ScanContext& ctx, KeyHandle root, const std::string& path,
                 std::string_view section) {
  const std::string iconKey = path + "\\DefaultIcon";
  if (auto v = readText(ctx, root, iconKey, "")) {
    CheckArgs a = argsOf(root, section, "", iconKey);
    check(ctx, "CheckFileAssociation", a, [&] {
      std::string icon = iconFile(v->text);
      if (icon.empty() || placeholder(icon)) return Tried{Verdict::Works, {}};
      auto e = expanded(ctx, ValueText{icon, v->type});
      if (!e) return Tried{Verdict::Unknown, icon};
      return tryFile(ctx, *e, systemFolders(ctx));
    });
  }
  const std::string shell = path + "\\shell";
  for (const std::string& verb : subKeys(ctx, root, shell)) {
    const std::string command = shell + "\\" + verb + "\\command";
    auto v = readText(ctx, root, command, "");
    if (!v) continue;
    CheckArgs a = argsOf(root, section, "", command);
    check(ctx, "CheckFileAssociation", a, [&] {
      auto e = expanded(ctx, *v);
      if (!e) return Tried{Verdict::Unknown, v->text};
      return tryCommandLine(ctx, *e);
    });
  }
}

// Keys of a classes root that hold no ProgIDs of their own.
bool notAProgId(std::string_view name) {
  return iequals(name, "CLSID") || iequals(name, "Wow6432Node") || iequals(name, "Interface") ||
         iequals(name, "TypeLib") || iequals(name, "AppID") || iequals(name, "Local Settings") ||
         iequals(name, "Installer");
}

void walkProgIds(ScanContext& ctx, KeyHandle root, const std::string& base,
                 std::string_view section) {
  for (const std::string& name : subKeys(ctx, root, base)) {
    if (ctx.bCancelScan) return;
    if (notAProgId(name)) continue;
    ctx.observer().keyLabel(name);
    const std::string path = join(base, name);
    checkProgId(ctx, root, path, section);
    if (iequals(name, "Applications"))
      for (const std::string& app : subKeys(ctx, root, path)) {
        if (ctx.bCancelScan) return;
        checkProgId(ctx, root, path + "\\" + app, section);
        ctx.doEvents();
      }
    ctx.doEvents();
  }
}

// ---- COM servers stored as REG_EXPAND_SZ ----

void walkExpandedServers(ScanContext& ctx, KeyHandle root, const std::string& clsidKey,
                         std::string_view section) {
  static constexpr std::string_view kServers[] = {"InprocServer32", "LocalServer32",
                                                  "InprocHandler32"};
  for (const std::string& clsid : subKeys(ctx, root, clsidKey)) {
    if (ctx.bCancelScan) return;
    ctx.observer().keyLabel(clsid);
    for (std::string_view server : kServers) {
      const std::string path = clsidKey + "\\" + clsid + "\\" + std::string(server);
      auto v = readText(ctx, root, path, "");
      if (!v || v->type != regtype::ExpandSz) continue;
      CheckArgs a = argsOf(root, section, "", path);
      check(ctx, "CheckExpandedComServer", a, [&] {
        auto e = ctx.expandEnvironment(v->text);
        if (!e) return Tried{Verdict::Unknown, v->text};
        if (server == "LocalServer32") return tryCommandLine(ctx, *e);
        return tryFile(ctx, trimQuotes(*e), systemFolders(ctx));
      });
    }
    ctx.doEvents();
  }
}

// ---- Uninstall Locations ----

void walkInstallLocations(ScanContext& ctx, KeyHandle root, const std::string& base,
                          std::string_view section) {
  for (const std::string& product : subKeys(ctx, root, base)) {
    if (ctx.bCancelScan) return;
    ctx.observer().keyLabel(product);
    const std::string path = base + "\\" + product;
    if (auto v = readText(ctx, root, path, "InstallLocation")) {
      CheckArgs a = argsOf(root, section, "InstallLocation", path);
      check(ctx, "CheckInstallLocation", a, [&] {
        std::string folder = trimQuotes(v->text);
        if (folder.empty()) return Tried{Verdict::Works, {}};
        auto e = expanded(ctx, ValueText{folder, v->type});
        if (!e) return Tried{Verdict::Unknown, folder};
        return tryFile(ctx, *e, {});
      });
    }
    if (auto v = readText(ctx, root, path, "QuietUninstallString")) {
      CheckArgs a = argsOf(root, section, "QuietUninstallString", path);
      check(ctx, "CheckInstallLocation", a, [&] {
        auto e = expanded(ctx, *v);
        if (!e) return Tried{Verdict::Unknown, v->text};
        return tryCommandLine(ctx, *e);
      });
    }
    ctx.doEvents();
  }
}

// ---- Windows Services ----

void walkServices(ScanContext& ctx, std::string_view section) {
  const std::string base = "SYSTEM\\CurrentControlSet\\Services";
  for (const std::string& service : subKeys(ctx, hkey::LocalMachine, base)) {
    if (ctx.bCancelScan) return;
    ctx.observer().keyLabel(service);
    const std::string path = base + "\\" + service;
    auto start = readDword(ctx, hkey::LocalMachine, path, "Start");
    if (start && *start == 4) continue;  // disabled: Windows never loads it
    auto v = readText(ctx, hkey::LocalMachine, path, "ImagePath");
    if (!v) continue;
    CheckArgs a = argsOf(hkey::LocalMachine, section, "ImagePath", path);
    check(ctx, "CheckServiceImagePath", a, [&] {
      return tryImagePath(ctx, v->text, readDword(ctx, hkey::LocalMachine, path, "Type"));
    });
    ctx.doEvents();
  }
}

// ---- Sound Events ----

void walkSoundEvents(ScanContext& ctx, std::string_view section) {
  const std::string base = "AppEvents\\Schemes\\Apps";
  const std::string media = GetPathWithSlash(ctx.GetWindowsDirectory()) + "Media";
  for (const std::string& app : subKeys(ctx, hkey::CurrentUser, base)) {
    if (ctx.bCancelScan) return;
    ctx.observer().keyLabel(app);
    for (const std::string& event : subKeys(ctx, hkey::CurrentUser, base + "\\" + app)) {
      const std::string path = base + "\\" + app + "\\" + event + "\\.Current";
      auto v = readText(ctx, hkey::CurrentUser, path, "");
      if (!v) continue;
      CheckArgs a = argsOf(hkey::CurrentUser, section, "", path);
      check(ctx, "CheckSoundEvent", a, [&] {
        std::string file = trimQuotes(v->text);
        if (file.empty()) return Tried{Verdict::Works, {}};
        auto e = expanded(ctx, ValueText{file, v->type});
        if (!e) return Tried{Verdict::Unknown, file};
        std::vector<std::string> folders = systemFolders(ctx);
        folders.insert(folders.begin(), media);
        return tryFile(ctx, *e, folders);
      });
      ctx.doEvents();
    }
  }
}

// ---- Installer Folders ----

void walkInstallerFolders(ScanContext& ctx, std::string_view section) {
  const std::string path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(hkey::LocalMachine, path, keyaccess::AllAccess, h) != Status::Success) return;
  ScopedKey key(store, h);
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
  for (std::uint32_t i = 0; store.enumValue(h, i, name, type, data) == Status::Success; ++i) {
    if (ctx.bCancelScan) return;
    ctx.observer().valueLabel(name);
    if (!name.empty()) {
      CheckArgs a = argsOf(hkey::LocalMachine, section, name, path);
      check(ctx, "CheckInstallerFolder", a, [&] {
        Tried t = tryFile(ctx, name, {});
        if (t.verdict == Verdict::Missing) t.path = name;  // the value's name is its reference
        return t;
      });
    }
    ctx.doEvents();
  }
}

struct ViewScope {
  ScanContext& ctx;
  bool before;
  explicit ViewScope(ScanContext& c) : ctx(c), before(c.wow64View) { c.wow64View = true; }
  ~ViewScope() { ctx.wow64View = before; }
};

}  // namespace

std::vector<std::string> commandCandidates(std::string_view line) {
  std::vector<std::string> out;
  std::string_view s = line;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  if (s.empty()) return out;
  auto add = [&](std::string p) {
    if (p.empty()) return;
    const bool bare = !hasExtension(p);
    out.push_back(p);
    if (bare) out.push_back(p + ".exe");
  };
  if (s.front() == '"') {
    std::size_t close = s.find('"', 1);
    add(std::string(
        s.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
    return out;
  }
  for (std::size_t i = 0; i <= s.size(); ++i)
    if (i == s.size() || s[i] == ' ' || s[i] == '\t') {
      std::string prefix(s.substr(0, i));
      while (!prefix.empty() && (prefix.back() == ' ' || prefix.back() == '\t')) prefix.pop_back();
      if (prefix.empty() || (!out.empty() && out.back() == prefix)) continue;
      add(prefix);
    }
  return out;
}

Tried tryFile(ScanContext& ctx, std::string_view path, const std::vector<std::string>& folders) {
  std::string p = trimQuotes(path);
  if (p.empty() || placeholder(p)) return {Verdict::Works, {}};
  // A folder may be named with its closing backslash; the test takes it without.
  while (p.size() > 3 && p.back() == '\\') p.pop_back();
  if (p.find_first_of("*?<>|\"") != std::string::npos) return {Verdict::Unknown, p};
  if (absolute(p)) return {ctx.PathWorks(p) ? Verdict::Works : Verdict::Missing, p};
  if (p.find('\\') != std::string::npos || p.find(':') != std::string::npos || folders.empty())
    return {Verdict::Unknown, p};
  for (const std::string& f : folders)
    if (ctx.PathWorks(GetPathWithSlash(f) + p)) return {Verdict::Works, {}};
  return {Verdict::Unknown, p};  // the caller's own folder and PATH may still hold it
}

Tried tryCommandLine(ScanContext& ctx, std::string_view line) {
  std::vector<std::string> candidates = commandCandidates(line);
  if (candidates.empty()) return {Verdict::Works, {}};
  if (placeholder(candidates.front()) || candidates.front().front() == '%')
    return {Verdict::Works, {}};  // the document itself, or the shell's own variable
  bool anyAbsolute = false;
  bool anyUnknown = false;
  for (const std::string& c : candidates) {
    // No file name holds a quote; a later candidate that reaches into the arguments is no
    // program either way.
    if (c.find('"') != std::string::npos || placeholder(c)) continue;
    if (!absolute(c)) {
      Tried t = tryFile(ctx, c, systemFolders(ctx));
      if (t.verdict == Verdict::Works) return t;
      anyUnknown = true;
      continue;
    }
    if (c.find_first_of("*?<>|") != std::string::npos) {
      anyUnknown = true;
      continue;
    }
    anyAbsolute = true;
    if (ctx.PathWorks(c)) return {Verdict::Works, {}};
  }
  // What Windows would have started: the first candidate naming a program, else the first.
  // (".exe" added by the search is not what the line names.)
  std::string shown = candidates.front();
  for (const std::string& c : candidates)
    if (executable(c) && line.find(c) != std::string_view::npos) {
      shown = c;
      break;
    }
  if (!anyAbsolute || (anyUnknown && !absolute(shown))) return {Verdict::Unknown, shown};
  return {Verdict::Missing, shown};
}

Tried tryImagePath(ScanContext& ctx, std::string_view imagePath,
                   std::optional<std::uint32_t> type) {
  std::string p = trimQuotes(imagePath);
  if (p.empty()) return {Verdict::Works, {}};
  const std::string windows = ctx.GetWindowsDirectory();
  auto strip = [&](std::string_view prefix) {
    if (p.size() > prefix.size() && iequals(std::string_view(p).substr(0, prefix.size()), prefix)) {
      p = p.substr(prefix.size());
      return true;
    }
    return false;
  };
  const bool driver = type ? (*type & 0x0F) != 0 : iequals(GetFileExtension(p), "sys");
  if (strip("\\SystemRoot\\")) {
    p = GetPathWithSlash(windows) + p;
  } else if (strip("\\??\\") || strip("\\DosDevices\\")) {
    if (!absolute(p)) return {Verdict::Unknown, std::string(imagePath)};
  } else if (p.front() == '\\') {
    return {Verdict::Unknown, p};  // another NT object path
  }
  if (p.find('%') != std::string::npos) {
    auto e = ctx.expandEnvironment(p);
    if (!e) return {Verdict::Unknown, p};
    p = *e;
  }
  if (driver) {
    // The kernel takes a driver's relative path from the Windows folder, and no arguments.
    if (!absolute(p)) p = GetPathWithSlash(windows) + p;
    return tryFile(ctx, p, {});
  }
  if (!absolute(p) && p.find('\\') != std::string::npos && p.front() != '"')
    return tryCommandLine(ctx, GetPathWithSlash(windows) + p);  // "system32\svchost.exe -k"
  return tryCommandLine(ctx, p);
}

void runExtraSection(ScanContext& ctx, std::string_view name) {
  const std::string section(name);
  if (name == "File Associations") {
    walkProgIds(ctx, hkey::ClassesRoot, "", section);
  } else if (name == "Uninstall Locations") {
    walkInstallLocations(ctx, hkey::LocalMachine, std::string(kUninstall), section);
    if (ctx.bCancelScan) return;
    {
      ViewScope view(ctx);
      walkInstallLocations(ctx, hkey::LocalMachine, std::string(kUninstall32), section);
    }
    if (ctx.bCancelScan) return;
    walkInstallLocations(ctx, hkey::CurrentUser, std::string(kUninstall), section);
  } else if (name == "Windows Services") {
    walkServices(ctx, section);
  } else if (name == "Sound Events") {
    walkSoundEvents(ctx, section);
  } else if (name == "Installer Folders") {
    walkInstallerFolders(ctx, section);
  } else if (name == "User Classes") {
    const std::string classes = "Software\\Classes";
    EnumerateRegKeys(ctx, hkey::CurrentUser, classes + "\\CLSID", section, "HKEY_CURRENT_USER");
    if (ctx.bCancelScan) return;
    walkExpandedServers(ctx, hkey::CurrentUser, classes + "\\CLSID", section);
    if (ctx.bCancelScan) return;
    {
      ViewScope view(ctx);
      EnumerateRegKeys(ctx, hkey::CurrentUser, classes + "\\Wow6432Node\\CLSID", section,
                       "HKEY_CURRENT_USER");
      if (ctx.bCancelScan) return;
      walkExpandedServers(ctx, hkey::CurrentUser, classes + "\\Wow6432Node\\CLSID", section);
    }
    if (ctx.bCancelScan) return;
    walkProgIds(ctx, hkey::CurrentUser, classes, section);
  } else if (name == "Expanded COM Servers") {
    walkExpandedServers(ctx, hkey::ClassesRoot, "CLSID", section);
    if (ctx.bCancelScan) return;
    ViewScope view(ctx);
    walkExpandedServers(ctx, hkey::ClassesRoot, "Wow6432Node\\CLSID", section);
  }
}

}  // namespace brisquell
