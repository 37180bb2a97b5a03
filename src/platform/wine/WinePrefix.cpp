// Wine prefix target: loads system.reg (HKLM) and user.reg (HKCU), maps dosdevices/ to drives,
// and refuses to write while a wineserver holds the registry.
#include "platform/wine/WinePrefix.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include <fmt/format.h>

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

std::string textValue(RegistryStore& reg, KeyHandle root, std::string_view path, std::string_view name) {
  KeyHandle h = 0;
  if (reg.openKey(root, path, keyaccess::AllAccess, h) != Status::Success) return {};
  ScopedKey key(reg, h);
  std::uint32_t type = 0;
  Bytes data;
  if (reg.queryValue(h, name, type, data) != Status::Success || !isTextType(type)) return {};
  std::string s(data.begin(), data.end());
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
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

std::unique_ptr<WinePrefix> WinePrefix::open(const std::string& folderIn, TargetError& error) {
  std::string folder = folderIn;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  auto p = std::unique_ptr<WinePrefix>(new WinePrefix());
  p->folder_ = folder;
  p->system_ = std::make_unique<WineRegistryFile>(p->registry_, hkey::LocalMachine);
  p->user_ = std::make_unique<WineRegistryFile>(p->registry_, hkey::CurrentUser);
  const std::string sys = folder + "/system.reg", usr = folder + "/user.reg";
  p->systemStamp_ = stampOf(sys);
  p->userStamp_ = stampOf(usr);
  for (auto [file, path] : {std::pair{p->system_.get(), &sys}, std::pair{p->user_.get(), &usr}}) {
    if (Outcome r = file->load(*path); !r) {
      error.message = r.message();
      return nullptr;
    }
  }
  if (!p->system_->arch().empty() && !p->user_->arch().empty() &&
      p->system_->arch() != p->user_->arch()) {
    error.message = fmt::format("{}: #arch={} does not match #arch={} of {}", usr,
                                p->user_->arch(), p->system_->arch(), sys);
    return nullptr;
  }
  p->registry_.markSaved();
  p->describeMachine();
  p->findDrives();
  p->files_ = std::make_unique<HostFileSystem>(p->drives_, p->info_.installFolder);
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
      *p->files_, "C:\\users\\" + p->info_.userName + "\\AppData\\Local\\Microsoft\\Windows\\INetCache");
  return p;
}

void WinePrefix::describeMachine() {
  info_.platformId = 2;
  info_.windowsDirectory = "C:\\windows";
  info_.systemDirectory = "C:\\windows\\system32";
  info_.installFolder = "C:\\Program Files\\Brisquell";
  info_.tempFolder = "C:\\windows\\temp";
  // The user's profile folder, as Wine recorded it for the shell.
  std::string appData = textValue(registry_, hkey::CurrentUser,
                                  "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                  "AppData");
  std::string name;
  constexpr std::string_view kUsers = "C:\\users\\";
  if (appData.size() > kUsers.size() && iequals(std::string_view(appData).substr(0, kUsers.size()), kUsers)) {
    name = appData.substr(kUsers.size());
    name = name.substr(0, name.find('\\'));
  }
  if (name.empty()) {  // else the one profile folder that is not Public
    if (DIR* d = ::opendir((folder_ + "/drive_c/users").c_str())) {
      std::vector<std::string> names;
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && !iequals(n, "Public") && hostIsDir(folder_ + "/drive_c/users/" + n))
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
  bool hasC = std::any_of(drives_.begin(), drives_.end(), [](const HostDrive& h) { return h.info.letter == 'C'; });
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

std::optional<std::string> WinePrefix::writeBlocker() const {
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

bool WinePrefix::saveFile(WineRegistryFile& file, const std::string& name, FileStamp& stamp,
                          std::string& error) {
  const std::string path = folder_ + "/" + name;
  if (!file.changed()) return true;
  if (!(stampOf(path) == stamp)) {
    error = fmt::format("{}: changed on disk since it was read (did Wine run meanwhile?); nothing "
                        "was written to it, run the command again",
                        path);
    return false;
  }
  Result<bool> written = file.save(path);
  if (!written) {
    error = written.message();
    return false;
  }
  if (*written) stamp = stampOf(path);
  return true;
}

bool WinePrefix::save(std::string& error) {
  if (!registry_.modified()) return true;
  if (auto blocker = writeBlocker()) {
    error = *blocker + "; nothing was written";
    return false;
  }
  // Check both before writing either, so a stale file stops the save before anything changes.
  for (auto [file, name, stamp] : {std::tuple{system_.get(), "system.reg", &systemStamp_},
                                   std::tuple{user_.get(), "user.reg", &userStamp_}}) {
    if (file->changed() && !(stampOf(folder_ + "/" + name) == *stamp)) {
      error = fmt::format("{}/{}: changed on disk since it was read (did Wine run meanwhile?); "
                          "nothing was written, run the command again",
                          folder_, name);
      return false;
    }
  }
  if (!saveFile(*system_, "system.reg", systemStamp_, error)) return false;
  if (!saveFile(*user_, "user.reg", userStamp_, error)) return false;
  registry_.markSaved();
  return true;
}

}  // namespace brisquell
