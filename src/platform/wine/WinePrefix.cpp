// Wine prefix target: loads system.reg (HKLM) and user.reg (HKCU), maps dosdevices/ to drives,
// and refuses to write while a wineserver holds the registry.
#include "platform/wine/WinePrefix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include <fmt/format.h>

#include "platform/TargetLock.h"
#include "platform/wine/WineServer.h"

#include "platform/host/HostFileSystem.h"

namespace brisquell {

namespace {

std::string realPath(const std::string& p) {
  char buf[PATH_MAX];
  return ::realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

// Wine's drive types (HKLM\Software\Wine\Drives) as drive collection codes.
int driveTypeOf(std::string_view wine) {
  if (iequals(wine, "hd")) return DriveFixed;
  if (iequals(wine, "network")) return DriveNetwork;
  if (iequals(wine, "floppy")) return DriveRemovable;
  if (iequals(wine, "cdrom")) return DriveCdRom;
  if (iequals(wine, "ramdisk")) return DriveRamDisk;
  return -1;
}

}  // namespace

bool WinePrefix::looksLikeOne(const std::string& folder) {
  return hostIsFile(folder + "/system.reg") && hostIsFile(folder + "/user.reg") &&
         hostIsDir(folder + "/drive_c");
}

WinePrefix::FileStamp WinePrefix::stampOf(const std::string& path) {
  struct stat st;
  FileStamp s;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return s;
}

Outcome WinePrefix::load() {
  // Emptied in place: handles and references to the store stay valid. The roots lose what
  // the previous files' readers recorded in them.
  for (KeyHandle root : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig}) {
    MemoryRegistry::Key* key = registry_.root(root);
    registry_.removeTree(key);
    key->tag = 0;
    key->changed = false;
  }
  system_ = std::make_unique<WineRegistryFile>(registry_, hkey::LocalMachine);
  user_ = std::make_unique<WineRegistryFile>(registry_, hkey::CurrentUser);
  const std::string sys = folder_ + "/system.reg", usr = folder_ + "/user.reg";
  systemStamp_ = stampOf(sys);
  userStamp_ = stampOf(usr);
  mustReload_ = false;
  Outcome loaded = system_->load(sys);
  if (loaded) loaded = user_->load(usr);
  registry_.markSaved();
  if (!loaded) return loaded;
  if (!system_->arch().empty() && !user_->arch().empty() && system_->arch() != user_->arch())
    return Error{Status::FileCorrupt, fmt::format("{}: #arch={} does not match #arch={} of {}", usr,
                                                  user_->arch(), system_->arch(), sys)};
  return {};
}

Outcome WinePrefix::reload() { return load(); }

bool WinePrefix::canStore(KeyHandle root) const {
  return root == hkey::LocalMachine || root == hkey::CurrentUser || root == hkey::ClassesRoot;
}

namespace {

// A save writes every new file ("<name>.brisquell-new") and keeps each old one under a second
// name ("<name>.brisquell-old", a hard link), then renames the new files over the old, then
// drops the second names. Killed before the first rename, the old files stand and the save is
// undone; killed after it, every new file is complete, so the save is finished: either way the
// two files are of one save again.
void finishInterruptedSave(const std::string& folder) {
  struct Part {
    std::string path, fresh, old;
    bool hasFresh = false, hasOld = false, replaced = false;
  };
  std::vector<Part> parts;
  bool anyReplaced = false;
  for (const char* name : {"system.reg", "user.reg"}) {
    Part p{folder + "/" + name, folder + "/" + name + ".brisquell-new",
           folder + "/" + name + ".brisquell-old"};
    struct stat cur {
    }, fresh{}, old{};
    const bool hasCur = ::lstat(p.path.c_str(), &cur) == 0 && S_ISREG(cur.st_mode);
    p.hasFresh = ::lstat(p.fresh.c_str(), &fresh) == 0 && S_ISREG(fresh.st_mode);
    p.hasOld = ::lstat(p.old.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // The file is no longer the one kept aside: its new one is in place.
    p.replaced = p.hasOld && hasCur && (cur.st_ino != old.st_ino || cur.st_dev != old.st_dev);
    if (p.hasOld && !hasCur) {
      // Never left so by a save; the kept file is the only copy, so it is put back.
      if (::rename(p.old.c_str(), p.path.c_str()) == 0) p.hasOld = false;
      p.hasFresh = false;  // its partner cannot be trusted to be of the same save
    }
    anyReplaced = anyReplaced || p.replaced;
    parts.push_back(std::move(p));
  }
  for (const Part& p : parts) {
    if (anyReplaced && p.hasFresh && ::rename(p.fresh.c_str(), p.path.c_str()) != 0)
      return;  // leave everything for the message at the next save
    if (!anyReplaced && p.hasFresh) ::unlink(p.fresh.c_str());
  }
  for (const Part& p : parts)
    if (p.hasOld) ::unlink(p.old.c_str());
}

}  // namespace

Result<std::unique_ptr<WinePrefix>> WinePrefix::open(const std::string& folderIn) {
  std::string folder = folderIn;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  auto p = std::unique_ptr<WinePrefix>(new WinePrefix());
  p->folder_ = folder;
  // What a killed save of ours left beside the registry files: the save is finished or undone
  // first, then its temporaries go.
  if (noOtherWriter(folder)) {
    finishInterruptedSave(folder);
    for (const char* name :
         {"system.reg", "user.reg", "system.reg.brisquell-new", "user.reg.brisquell-new"})
      removeStaleTemporaries(folder, name);
  }
  if (Outcome o = p->load(); !o) return o.error();
  p->describeMachine();
  p->findDrives();
  p->findLinkedShellFolders();
  p->files_ = std::make_unique<HostFileSystem>(p->drives_, p->info_.installFolder);
  // The prefix is the target: a drive linked out of it (Z: is "/", and C: may be made so) is
  // read, never written.
  p->files_->setWriteArea(folder);
  for (const HostDrive& d : p->drives_)
    if (d.info.letter == 'C')
      for (const std::string& shell : p->linkedShellFolders_) {
        std::string host = d.hostRoot + "/" + shell.substr(3);  // past "C:\"
        std::replace(host.begin(), host.end(), '\\', '/');
        p->files_->addLinkedArea(host);
      }
  // Wine derives short names from the long ones.
  p->files_->setShortNames(ShortNameScheme::Wine);
  Environment env = machineEnvironment(p->info_);
  const std::string profile = "C:\\users\\" + p->info_.userName;
  auto set = [&env](const std::string& name, const std::string& value) {
    for (auto& [k, v] : env)
      if (iequals(k, name)) {
        v = value;
        return;
      }
    env.emplace_back(name, value);
  };
  // Wine lays profiles out as Vista and later do.
  set("USERPROFILE", profile);
  set("APPDATA", profile + "\\AppData\\Roaming");
  set("LOCALAPPDATA", profile + "\\AppData\\Local");
  set("ALLUSERSPROFILE", "C:\\ProgramData");
  set("ProgramData", "C:\\ProgramData");
  set("PUBLIC", "C:\\users\\Public");
  set("ProgramFiles(x86)", "C:\\Program Files (x86)");
  p->shortcuts_ = std::make_unique<LnkShortcutReader>(*p->files_, std::move(env));
  // The cache lives in the prefix user's own profile, where Wine keeps it.
  p->urlCache_ = std::make_unique<FolderUrlCache>(
      *p->files_,
      "C:\\users\\" + p->info_.userName + "\\AppData\\Local\\Microsoft\\Windows\\INetCache");
  return p;
}

void WinePrefix::describeMachine() {
  info_.platformId = 2;
  info_.windowsDirectory = "C:\\windows";
  info_.systemDirectory = "C:\\windows\\system32";
  info_.installFolder = "C:\\Program Files\\Brisquell";
  info_.tempFolder = "C:\\windows\\temp";
  // The user's profile folder, as Wine recorded it for the shell.
  std::string appData =
      textValue(registry_, hkey::CurrentUser,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "AppData");
  std::string name;
  constexpr std::string_view kUsers = "C:\\users\\";
  if (appData.size() > kUsers.size() &&
      iequals(std::string_view(appData).substr(0, kUsers.size()), kUsers)) {
    name = appData.substr(kUsers.size());
    name = name.substr(0, name.find('\\'));
  }
  if (name.empty()) {  // else the one profile folder that is not Public
    if (DIR* d = ::opendir((folder_ + "/drive_c/users").c_str())) {
      std::vector<std::string> names;
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && !iequals(n, "Public") &&
            hostIsDir(folder_ + "/drive_c/users/" + n))
          names.push_back(n);
      }
      ::closedir(d);
      std::sort(names.begin(), names.end());
      if (!names.empty()) name = names.front();
    }
  }
  if (!name.empty()) info_.userName = name;
}

void WinePrefix::findDrives() {
  drives_.clear();
  const std::string prefixReal = realPath(folder_);
  const std::string dosdevices = folder_ + "/dosdevices";
  if (DIR* d = ::opendir(dosdevices.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      // "c:" is a drive; "c::" its raw device, "com1" a port.
      if (n.size() != 2 || n[1] != ':' || !std::isalpha(static_cast<unsigned char>(n[0]))) continue;
      HostDrive drive;
      drive.info.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(n[0])));
      const std::string link = dosdevices + "/" + n;
      const std::string real = realPath(link);
      drive.info.ready = !real.empty() && hostIsDir(real);
      drive.hostRoot = drive.info.ready ? real : link;
      std::string type = textValue(registry_, hkey::LocalMachine, "Software\\Wine\\Drives",
                                   std::string(1, static_cast<char>(std::tolower(n[0]))) + ":");
      int t = driveTypeOf(type);
      drive.info.type = t < 0 ? DriveFixed : t;
      // A drive that leads out of the prefix (Z: is "/") is the host's, not the machine's: as a
      // network drive its files can still be tested, but a deep scan does not walk it.
      bool inside = drive.info.ready && !prefixReal.empty() &&
                    (real == prefixReal || real.rfind(prefixReal + "/", 0) == 0);
      if (drive.info.ready && !inside &&
          (drive.info.type == DriveFixed || drive.info.type == DriveRamDisk))
        drive.info.type = DriveNetwork;
      drives_.push_back(std::move(drive));
    }
    ::closedir(d);
  }
  bool hasC = std::any_of(drives_.begin(), drives_.end(),
                          [](const HostDrive& h) { return h.info.letter == 'C'; });
  if (!hasC) {  // Wine always has C: at drive_c, even before dosdevices/ exists
    HostDrive c;
    c.info.letter = 'C';
    c.info.type = DriveFixed;
    c.hostRoot = realPath(folder_ + "/drive_c");
    drives_.push_back(std::move(c));
  }
  std::sort(drives_.begin(), drives_.end(),
            [](const HostDrive& a, const HostDrive& b) { return a.info.letter < b.info.letter; });
}

std::vector<std::string> WinePrefix::notes() const {
  std::vector<std::string> out;
  const std::string prefixReal = realFolder(folder_);
  for (const HostDrive& d : drives_)
    if (d.info.letter == 'C' && d.info.ready && !isBeneath(prefixReal, d.hostRoot))
      out.push_back(fmt::format(
          "drive C: of the Wine prefix {} leads out of it, to {}: nothing is written there, so "
          "no backup can be taken on it and repairs that need one are refused",
          folder_, d.hostRoot));
  return out;
}

void WinePrefix::findLinkedShellFolders() {
  linkedShellFolders_.clear();
  auto c = std::find_if(drives_.begin(), drives_.end(),
                        [](const HostDrive& h) { return h.info.letter == 'C'; });
  if (c == drives_.end() || !c->info.ready) return;
  const std::string prefixReal = realPath(folder_);
  const std::string profile = c->hostRoot + "/users/" + info_.userName;
  DIR* d = ::opendir(profile.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    struct stat st;
    if (n == "." || n == ".." || ::lstat((profile + "/" + n).c_str(), &st) != 0 ||
        !S_ISLNK(st.st_mode))
      continue;
    const std::string real = realPath(profile + "/" + n);
    // A link that stays inside the prefix is walked where it leads; one that dangles, or
    // leads to no folder, holds nothing to walk.
    if (real.empty() || !hostIsDir(real) || real == prefixReal ||
        real.rfind(prefixReal + "/", 0) == 0)
      continue;
    names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names)
    linkedShellFolders_.push_back("C:\\users\\" + info_.userName + "\\" + n);
}

std::optional<std::string> WinePrefix::writeBlocker() const {
  if (auto readOnly = hostFolderReadOnly(folder_)) return readOnly;
  auto server = findWineServer(folder_);
  if (!server) return std::nullopt;
  std::string who = server->pid ? fmt::format("a wineserver (process {})", server->pid)
                                : std::string("a wineserver");
  return fmt::format(
      "{} is running for the Wine prefix {}: Wine keeps the registry in memory and writes it "
      "over system.reg and user.reg when it stops; stop it first with "
      "`WINEPREFIX={} wineserver -k`",
      who, folder_, folder_);
}

Outcome WinePrefix::save() {
  if (!registry_.modified()) return {};
  if (auto blocker = writeBlocker())
    return Error{Status::AccessDenied, *blocker + "; nothing was written"};
  // The files' readers already count their keys as written: only a reload makes them true again.
  if (mustReload_)
    return Error{Status::InvalidParameter,
                 folder_ +
                     ": an earlier save failed part way; the registry must be read again "
                     "before it can be saved; nothing was written"};
  struct Replacement {
    WineRegistryFile* file;
    const char* name;
    FileStamp* stamp;
    std::string path, fresh, old;
    bool kept = false;  // old is our second name of the file
  };
  std::vector<Replacement> parts;
  for (auto [file, name, stamp] : {std::tuple{system_.get(), "system.reg", &systemStamp_},
                                   std::tuple{user_.get(), "user.reg", &userStamp_}}) {
    if (!file->changed()) continue;
    const std::string path = folder_ + "/" + name;
    // Both are checked before either is written, so a stale file stops the save before anything
    // changes.
    if (!(stampOf(path) == *stamp))
      return Error{Status::WriteFault,
                   fmt::format("{}: changed on disk since it was read (did Wine run meanwhile?); "
                               "nothing was written, run the command again",
                               path)};
    parts.push_back(
        Replacement{file, name, stamp, path, path + ".brisquell-new", path + ".brisquell-old"});
  }
  auto discard = [this, &parts] {
    mustReload_ = true;
    for (const Replacement& p : parts) {
      ::unlink(p.fresh.c_str());
      if (p.kept) ::unlink(p.old.c_str());
    }
  };
  // First every new file beside its old one; nothing is replaced until all are written.
  for (Replacement& p : parts) {
    Result<bool> written = p.file->save(p.fresh);
    if (!written || !*written) {
      discard();
      return Error{Status::WriteFault,
                   (written ? p.fresh + ": could not be written" : written.message()) +
                       "; nothing was replaced"};
    }
    // The old file stays reachable under a second name until the last new one is in place.
    if (::link(p.path.c_str(), p.old.c_str()) != 0) {
      const int e = errno;
      discard();
      if (e == EEXIST)
        return Error{
            Status::FileExists,
            fmt::format("{}: left by an earlier save that could not be undone, it holds the "
                        "file as it was before that save; move it away, then run the "
                        "command again; nothing was replaced",
                        p.old)};
      return Error{Status::WriteFault,
                   fmt::format("{}: cannot be kept aside ({}); nothing was replaced", p.path,
                               std::strerror(e))};
    }
    p.kept = true;
  }
  auto rename = [this](const std::string& from, const std::string& to) {
    return rename_ ? rename_(from.c_str(), to.c_str()) : ::rename(from.c_str(), to.c_str());
  };
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (rename(parts[i].fresh, parts[i].path) == 0) continue;
    const int e = errno;
    std::string undone;
    for (std::size_t k = 0; k < i; ++k)
      if (::rename(parts[k].old.c_str(), parts[k].path.c_str()) != 0)
        undone += fmt::format("; {} could not be put back: it is kept as {}", parts[k].path,
                              parts[k].old);
    for (std::size_t k = i; k < parts.size(); ++k) ::unlink(parts[k].old.c_str());
    for (const Replacement& p : parts) ::unlink(p.fresh.c_str());
    mustReload_ = true;
    return Error{
        Status::WriteFault,
        fmt::format("{}: could not be replaced ({}); {}{}", parts[i].path, std::strerror(e),
                    undone.empty() ? "the files are as they were" : "nothing else was changed",
                    undone)};
  }
  for (Replacement& p : parts) {
    ::unlink(p.old.c_str());
    *p.stamp = stampOf(p.path);
  }
  registry_.markSaved();
  return {};
}

}  // namespace brisquell
