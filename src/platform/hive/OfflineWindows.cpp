// Offline Windows target: finds the hives and profiles on the volume, mounts the hives into
// one store, takes the machine's folders from the hives and saves changed hives together.
#include "platform/hive/OfflineWindows.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "platform/Bytes.h"

namespace brisquell {

namespace {

constexpr std::string_view kClasses = "Software\\Classes";

std::vector<std::string> folderNames(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && hostIsDir(dir + "/" + n)) out.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(out.begin(), out.end(),
            [](const std::string& a, const std::string& b) { return foldCase(a) < foldCase(b); });
  return out;
}

// "%SystemDrive%\Users\bob" with the volume's own variables.
std::string expandVolume(std::string s, const std::string& windows) {
  auto replace = [&s](std::string_view var, const std::string& by) {
    for (std::size_t p; (p = foldCase(s).find(foldCase(var))) != std::string::npos;)
      s.replace(p, var.size(), by);
  };
  replace("%SystemDrive%", "C:");
  replace("%SystemRoot%", windows);
  replace("%windir%", windows);
  return s;
}

bool readOnlyVolume(const std::string& dir) {
  struct statvfs v;
  return ::statvfs(dir.c_str(), &v) == 0 && (v.f_flag & ST_RDONLY);
}

}  // namespace

std::string findNoCase(const std::string& base, std::string_view rel) {
  std::string at = base;
  std::size_t i = 0;
  while (i <= rel.size()) {
    std::size_t j = rel.find('/', i);
    if (j == std::string_view::npos) j = rel.size();
    std::string_view c = rel.substr(i, j - i);
    i = j + 1;
    if (c.empty()) continue;
    std::string exact = at + "/" + std::string(c);
    struct stat st;
    if (::stat(exact.c_str(), &st) == 0) {
      at = exact;
      continue;
    }
    std::string found;
    if (DIR* d = ::opendir(at.c_str())) {
      while (dirent* e = ::readdir(d))
        if (iequals(e->d_name, c)) {
          found = at + "/" + e->d_name;
          break;
        }
      ::closedir(d);
    }
    if (found.empty()) return {};
    at = found;
  }
  return at;
}

bool OfflineWindows::looksLikeOne(const std::string& folder) {
  std::string p = findNoCase(folder, "Windows/System32/config/SOFTWARE");
  return !p.empty() && hostIsFile(p);
}

std::vector<OfflineWindows::Profile> OfflineWindows::profiles(const std::string& folder) {
  std::vector<Profile> out;
  for (auto [parent, xp] : {std::pair{"Users", false}, std::pair{"Documents and Settings", true}}) {
    std::string dir = findNoCase(folder, parent);
    if (dir.empty()) continue;
    for (const auto& name : folderNames(dir)) {
      Profile p;
      p.name = name;
      p.folder = dir + "/" + name;
      p.xpLayout = xp;
      p.windowsPath = fmt::format("C:\\{}\\{}", dir.substr(dir.rfind('/') + 1), name);
      p.ntuser = findNoCase(p.folder, "NTUSER.DAT");
      if (!p.ntuser.empty() && !hostIsFile(p.ntuser)) p.ntuser.clear();
      p.usrClass =
          findNoCase(p.folder, xp ? "Local Settings/Application Data/Microsoft/Windows/UsrClass.dat"
                                  : "AppData/Local/Microsoft/Windows/UsrClass.dat");
      if (!p.usrClass.empty() && !hostIsFile(p.usrClass)) p.usrClass.clear();
      struct stat st;
      if (!p.ntuser.empty() && ::stat(p.ntuser.c_str(), &st) == 0) p.lastWritten = st.st_mtime;
      p.shared = iequals(name, "Default") || iequals(name, "Default User") ||
                 iequals(name, "Public") || iequals(name, "All Users") ||
                 iequals(std::string_view(name).substr(0, 11), "defaultuser");
      out.push_back(std::move(p));
    }
  }
  return out;
}

Result<std::unique_ptr<OfflineWindows>> OfflineWindows::open(const std::string& folderIn,
                                                             const TargetOptions& options) {
  std::string folder = folderIn;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  auto w = std::unique_ptr<OfflineWindows>(new OfflineWindows());
  w->folder_ = folder;
  w->options_ = options;
  if (Outcome o = w->load(options); !o) return o.error();
  return w;
}

Outcome OfflineWindows::reload() {
  // Emptied in place: references to the store stay valid.
  MemoryRegistry& tree = registry_.tree();
  for (KeyHandle root : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig}) {
    MemoryRegistry::Key* key = tree.root(root);
    tree.removeTree(key);
    key->tag = 0;
    key->changed = false;
  }
  hives_.clear();
  notes_.clear();
  dirty_.reset();
  registry_.unmountAll();
  Outcome loaded = load(options_);
  registry_.markSaved();
  return loaded;
}

Outcome OfflineWindows::chooseUser(const std::string& wanted) {
  auto all = profiles(folder_);
  if (!wanted.empty()) {
    auto it = std::find_if(all.begin(), all.end(),
                           [&](const Profile& p) { return iequals(p.name, wanted); });
    if (it == all.end()) {
      std::string names;
      for (const auto& p : all)
        if (!p.ntuser.empty()) names += (names.empty() ? "" : ", ") + p.name;
      return Outcome::fail(
          fmt::format("{}: no user profile named \"{}\" (profiles with a "
                      "registry hive: {})",
                      folder_, wanted, names.empty() ? "none" : names));
    }
    if (it->ntuser.empty())
      return Outcome::fail(
          fmt::format("{}: the profile folder has no NTUSER.DAT, so it holds no "
                      "user registry",
                      it->folder));
    user_ = *it;
    notes_.push_back(fmt::format("user {} ({})", user_.name, user_.ntuser));
    return {};
  }
  std::vector<Profile> candidates;
  for (const auto& p : all)
    if (!p.ntuser.empty() && !p.shared) candidates.push_back(p);
  if (candidates.empty()) {
    notes_.push_back(
        "no user profile holds an NTUSER.DAT: HKEY_CURRENT_USER is empty and "
        "cannot be written");
    return {};
  }
  auto latest = std::max_element(
      candidates.begin(), candidates.end(),
      [](const Profile& a, const Profile& b) { return a.lastWritten < b.lastWritten; });
  user_ = *latest;
  if (candidates.size() == 1)
    notes_.push_back(fmt::format("user {} ({})", user_.name, user_.ntuser));
  else
    notes_.push_back(
        fmt::format("user {}, whose NTUSER.DAT was written last, of {} profiles "
                    "(choose another with --user NAME; `users` lists them)",
                    user_.name, candidates.size()));
  return {};
}

Outcome OfflineWindows::addDrives(const std::vector<std::string>& given,
                                  std::vector<HostDrive>& drives) {
  for (const auto& entry : given) {
    auto bad = [&](const std::string& what) {
      return Outcome::fail(fmt::format("--drive {}: {}", entry, what));
    };
    auto eq = entry.find('=');
    if (eq != 1 || !std::isalpha(static_cast<unsigned char>(entry[0])))
      return bad("expected LETTER=PATH[,type]");
    HostDrive d;
    d.info.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(entry[0])));
    std::string rest = entry.substr(2), type = "fixed";
    // PATH[,type][,notready]: a drive without its medium (an empty CD-ROM drive) is not ready.
    auto comma = rest.rfind(',');
    if (comma != std::string::npos && iequals(rest.substr(comma + 1), "notready")) {
      d.info.ready = false;
      rest = rest.substr(0, comma);
      comma = rest.rfind(',');
    }
    if (comma != std::string::npos) {
      type = rest.substr(comma + 1);
      rest = rest.substr(0, comma);
    }
    d.info.type = driveTypeFromName(type);
    if (d.info.type < 0)
      return bad(
          fmt::format("unknown drive type \"{}\" (removable, fixed, network, cdrom, "
                      "ramdisk)",
                      type));
    for (const auto& other : drives)
      if (other.info.letter == d.info.letter)
        return bad(d.info.letter == 'C' ? "C: is the installation's own volume"
                                        : fmt::format("drive {}: is named twice", d.info.letter));
    if (d.info.ready && (rest.empty() || !hostIsDir(rest)))
      return bad(fmt::format("no such folder: {}", rest));
    d.hostRoot = rest;
    drives.push_back(std::move(d));
  }
  std::sort(drives.begin(), drives.end(),
            [](const HostDrive& a, const HostDrive& b) { return a.info.letter < b.info.letter; });
  return {};
}

Outcome OfflineWindows::load(const TargetOptions& options) {
  std::string software = findNoCase(folder_, "Windows/System32/config/SOFTWARE");
  software_ = software;
  configDir_ = software.substr(0, software.rfind('/'));
  std::vector<HostDrive> drives;
  HostDrive c;
  c.info.letter = 'C';
  c.info.type = DriveFixed;
  c.hostRoot = folder_;
  drives.push_back(c);
  if (Outcome o = addDrives(options.drives, drives); !o) return o;
  if (Outcome o = chooseUser(options.user); !o) return o;

  MemoryRegistry& tree = registry_.tree();
  auto mountHive = [&](const std::string& path, KeyHandle root, std::string mount,
                       std::string_view hidden = {}) -> Outcome {
    auto hive = std::make_unique<HiveFile>(path, root, mount);
    if (Outcome o = hive->load(tree, hidden); !o) return o;
    registry_.addMount(root, std::move(mount));
    for (const auto& n : hive->notes()) notes_.push_back(n);
    if (hive->dirty() && !dirty_) dirty_ = hive->dirty();
    hives_.push_back(std::move(hive));
    return {};
  };
  if (Outcome o = mountHive(software, hkey::LocalMachine, "SOFTWARE"); !o) return o;
  std::string system = findNoCase(configDir_, "SYSTEM");
  if (!system.empty() && hostIsFile(system)) {
    if (Outcome o = mountHive(system, hkey::LocalMachine, "SYSTEM"); !o) return o;
  } else {
    notes_.push_back(
        fmt::format("{}/SYSTEM is missing: HKEY_LOCAL_MACHINE\\SYSTEM is empty and "
                    "cannot be written",
                    configDir_));
  }
  if (!user_.ntuser.empty()) {
    bool classes = !user_.usrClass.empty();
    if (Outcome o = mountHive(user_.ntuser, hkey::CurrentUser, "", classes ? kClasses : ""); !o)
      return o;
    if (classes) {
      if (Outcome o = mountHive(user_.usrClass, hkey::CurrentUser, std::string(kClasses)); !o)
        return o;
    }
  }
  // CurrentControlSet is the set the Select key names as current.
  if (!system.empty()) {
    KeyHandle h = 0;
    std::uint32_t type = 0;
    Bytes data;
    std::string set;
    if (tree.openKey(hkey::LocalMachine, "SYSTEM\\Select", 0, h) == Status::Success) {
      if (tree.queryValueRaw(h, "Current", type, data) == Status::Success &&
          type == regtype::Dword && data.size() == 4) {
        std::uint32_t n = dwordOf(data);
        set = fmt::format("ControlSet{:03}", n);
      }
      tree.closeKey(h);
    }
    if (!set.empty() && tree.find(tree.root(hkey::LocalMachine), "SYSTEM\\" + set)) {
      registry_.setCurrentControlSet(set);
    } else {
      notes_.push_back(
          fmt::format("{}: the Select key names no control set that exists; "
                      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet is not shown",
                      system));
    }
  }
  for (auto& hive : hives_) hive->saved(tree);  // loading marked every key; nothing changed
  registry_.markSaved();
  if (dirty_) notes_.push_back(*dirty_ + "; what is read may be stale");

  describeMachine();
  files_ = std::make_unique<HostFileSystem>(std::move(drives), info_.installFolder);
  // An NTFS volume keeps each file's short name; ntfs-3g shows it as an extended attribute.
  files_->setShortNames(ShortNameScheme::Ntfs);
  shortcuts_ = std::make_unique<LnkShortcutReader>(*files_, environment_);
  std::string profile = user_.name.empty() ? std::string() : user_.windowsPath;
  std::string cache = user_.name.empty() || user_.xpLayout
                          ? FolderUrlCache::folderFor(info_)
                          : profile + "\\AppData\\Local\\Microsoft\\Windows\\INetCache";
  if (!profile.empty() && user_.xpLayout)
    cache = profile + "\\Local Settings\\Temporary Internet Files";
  urlCache_ = std::make_unique<FolderUrlCache>(*files_, cache);
  return {};
}

void OfflineWindows::describeMachine() {
  constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  std::string windows = textValue(registry_, hkey::LocalMachine,
                                  "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot");
  if (windows.empty()) {
    std::string dir = findNoCase(folder_, "Windows");
    windows = "C:\\" + dir.substr(dir.rfind('/') + 1);
  }
  while (windows.size() > 3 && windows.back() == '\\') windows.pop_back();
  info_.platformId = 2;
  info_.windowsDirectory = windows;
  // The system folder as the volume spells it ("system32" on XP, "System32" later).
  std::string sys32 =
      software_.empty() ? std::string() : software_.substr(0, software_.rfind("/config"));
  info_.systemDirectory =
      windows + "\\" + (sys32.empty() ? "system32" : sys32.substr(sys32.rfind('/') + 1));
  std::string programFiles =
      textValue(registry_, hkey::LocalMachine, kCurrentVersion, "ProgramFilesDir");
  if (programFiles.empty()) programFiles = "C:\\Program Files";
  info_.installFolder = programFiles + "\\Brisquell";
  std::string temp =
      textValue(registry_, hkey::LocalMachine,
                "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "TEMP");
  info_.tempFolder = temp.empty() ? windows + "\\Temp" : expandVolume(temp, windows);
  if (!user_.name.empty()) info_.userName = user_.name;

  // The user's profile folder as the machine records it, else where it was found.
  std::string profile = user_.windowsPath;
  if (!user_.name.empty()) {
    constexpr std::string_view kProfiles =
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    KeyHandle h = 0;
    if (registry_.openKey(hkey::LocalMachine, kProfiles, 0, h) == Status::Success) {
      ScopedKey list(registry_, h);
      std::string sid;
      for (std::uint32_t i = 0; registry_.enumKey(h, i, sid) == Status::Success; ++i) {
        std::string path =
            expandVolume(textValue(registry_, hkey::LocalMachine,
                                   std::string(kProfiles) + "\\" + sid, "ProfileImagePath"),
                         windows);
        auto slash = path.rfind('\\');
        if (slash != std::string::npos && iequals(path.substr(slash + 1), user_.name)) {
          profile = path;
          break;
        }
      }
    }
  }
  environment_ = machineEnvironment(info_);
  auto set = [this](const std::string& name, const std::string& value) {
    for (auto& [k, v] : environment_)
      if (iequals(k, name)) {
        v = value;
        return;
      }
    environment_.emplace_back(name, value);
  };
  set("ProgramFiles", programFiles);
  set("CommonProgramFiles", programFiles + "\\Common Files");
  if (!profile.empty()) {
    set("USERPROFILE", profile);
    if (user_.xpLayout) {
      set("APPDATA", profile + "\\Application Data");
    } else {
      set("APPDATA", profile + "\\AppData\\Roaming");
      set("LOCALAPPDATA", profile + "\\AppData\\Local");
      set("ALLUSERSPROFILE", "C:\\ProgramData");
      set("ProgramData", "C:\\ProgramData");
      set("PUBLIC", "C:\\Users\\Public");
    }
  }
  std::string x86 =
      textValue(registry_, hkey::LocalMachine, kCurrentVersion, "ProgramFilesDir (x86)");
  if (!x86.empty()) set("ProgramFiles(x86)", x86);
}

std::optional<std::string> OfflineWindows::writeBlocker() const {
  if (readOnlyVolume(configDir_) || (!user_.folder.empty() && readOnlyVolume(user_.folder)))
    return fmt::format(
        "the Windows volume at {} is mounted read-only, so its hives cannot be written (ntfs-3g "
        "mounts a Windows that is hibernated or was shut down with fast start-up read-only): "
        "start Windows, shut it down fully, then mount the volume read-write",
        folder_);
  if (dirty_)
    return fmt::format(
        "{}: Windows has changes of this hive it has not applied yet (it did not shut down "
        "cleanly, or is hibernated or in fast start-up); start Windows once and shut it down "
        "fully (hold Shift while choosing Shut down), then try again",
        *dirty_);
  return std::nullopt;
}

Outcome OfflineWindows::save() {
  if (!registry_.modified()) return {};
  if (auto blocker = writeBlocker())
    return Error{Status::AccessDenied, *blocker + "; nothing was written"};
  MemoryRegistry& tree = registry_.tree();
  std::vector<HiveFile*> changed;
  for (auto& h : hives_)
    if (h->changed(tree)) changed.push_back(h.get());
  auto abandonAll = [&] {
    for (HiveFile* h : changed) h->abandon();
  };
  // Every hive is checked and written beside itself before any replaces its original.
  for (HiveFile* h : changed)
    if (h->changedOnDisk())
      return Error{Status::WriteFault,
                   fmt::format("{}: changed on disk since it was read; nothing was written, run "
                               "the command again",
                               h->path())};
  for (HiveFile* h : changed)
    if (Outcome o = h->prepare(tree); !o) {
      abandonAll();
      return o;
    }
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  for (HiveFile* h : changed)
    if (Outcome o = h->keepCopy(stamp); !o) {
      abandonAll();
      return o;
    }
  for (std::size_t i = 0; i < changed.size(); ++i) {
    HiveFile* h = changed[i];
    Outcome o =
        !failBefore_.empty() && h->path().size() >= failBefore_.size() &&
                iequals(std::string_view(h->path()).substr(h->path().size() - failBefore_.size()),
                        failBefore_)
            ? Outcome::fail(fmt::format("{}: could not be replaced (test)", h->path()))
            : h->commit(stamp);
    if (!o) {
      std::string error = o.message();
      bool restored = true;
      for (std::size_t j = 0; j < i; ++j)
        if (Outcome r = changed[j]->rollBack(); !r) {
          error += "; " + r.message();
          restored = false;
        }
      abandonAll();
      if (restored) error += "; every hive was left as it was";
      return Error{o.status(), error};
    }
  }
  for (HiveFile* h : changed) h->saved(tree);
  registry_.markSaved();
  return {};
}

}  // namespace brisquell
