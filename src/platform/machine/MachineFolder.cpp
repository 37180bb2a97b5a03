// Machine folder target: reads machine.ini strictly, loads registry.reg, saves it atomically.
#include "platform/machine/MachineFolder.h"

#include <cstdint>
#include <fstream>

#include <fmt/format.h>

#include "platform/AtomicFile.h"
#include "platform/HostIo.h"
#include "platform/RegFile.h"
#include "platform/TargetLock.h"
#include "platform/memory/MemoryLoader.h"

#include "platform/host/HostFileSystem.h"

namespace brisquell {

namespace {

// What machine.ini's lines and entries are trimmed of (a file written on Windows ends in CR).
constexpr std::string_view kIniBlanks = " \t\r";

// Drops a trailing "; comment" outside of any value text.
std::string stripComment(const std::string& s) {
  std::size_t c = s.find(" ;");
  if (c == std::string::npos) c = s.find("\t;");
  return c == std::string::npos ? s : trimmed(s.substr(0, c), kIniBlanks);
}

struct MachineIni {
  MachineInfo info;
  std::vector<HostDrive> drives;
};

// machine.ini, strictly: unknown sections, entries and drive types are errors, not guesses.
Result<MachineIni> readMachineIni(const std::string& folder) {
  const std::string ini = folder + "/machine.ini";
  std::ifstream in(hostio::fsPath(ini));
  if (!in)
    return Result<MachineIni>::fail(fmt::format("{}: cannot be read", ini), Status::FileNotFound);
  MachineIni m;
  std::vector<HostDrive>& drives = m.drives;
  std::string line, section;
  std::size_t lineNo = 0;
  auto bad = [&](std::string_view what) {
    return Result<MachineIni>::fail(fmt::format("{}:{}: {}", ini, lineNo, what),
                                    Status::FileCorrupt);
  };
  while (std::getline(in, line)) {
    ++lineNo;
    std::string t = trimmed(line, kIniBlanks);
    if (lineNo == 1 && t.rfind("\xEF\xBB\xBF", 0) == 0) t = t.substr(3);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t[0] == '[') {
      if (t.back() != ']') return bad("section line without closing \"]\"");
      section = t.substr(1, t.size() - 2);
      if (!iequals(section, "Machine") && !iequals(section, "Drives"))
        return bad(fmt::format("unknown section [{}]", section));
      continue;
    }
    std::size_t eq = t.find('=');
    if (eq == std::string::npos) return bad("expected NAME=VALUE");
    std::string name = trimmed(t.substr(0, eq), kIniBlanks);
    std::string value = stripComment(trimmed(t.substr(eq + 1), kIniBlanks));
    if (iequals(section, "Machine")) {
      MachineInfo& i = m.info;
      if (iequals(name, "Platform")) {
        if (value != "1" && value != "2") return bad("Platform must be 1 or 2");
        i.platformId = value[0] - '0';
      } else if (iequals(name, "WindowsDirectory"))
        i.windowsDirectory = value;
      else if (iequals(name, "SystemDirectory"))
        i.systemDirectory = value;
      else if (iequals(name, "InstallFolder"))
        i.installFolder = value;
      else if (iequals(name, "TempFolder"))
        i.tempFolder = value;
      else if (iequals(name, "UserName"))
        i.userName = value;
      else
        return bad(fmt::format("unknown entry \"{}\" in [Machine]", name));
    } else if (iequals(section, "Drives")) {
      if (name.size() != 1 || !std::isalpha(static_cast<unsigned char>(name[0])))
        return bad(fmt::format("bad drive letter \"{}\"", name));
      HostDrive d;
      d.info.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
      for (const auto& other : drives)
        if (other.info.letter == d.info.letter)
          return bad(fmt::format("drive {}: is named twice", d.info.letter));
      std::vector<std::string> parts;
      std::size_t s = 0;
      for (;;) {
        std::size_t c = value.find(',', s);
        parts.push_back(trimmed(value.substr(s, c == std::string::npos ? std::string::npos : c - s),
                                kIniBlanks));
        if (c == std::string::npos) break;
        s = c + 1;
      }
      if (parts.size() < 2 || parts.size() > 3 || parts[1].empty())
        return bad("expected TYPE,FOLDER[,notready]");
      d.info.type = driveTypeFromName(parts[0]);
      if (d.info.type < 0)
        return bad(fmt::format(
            "unknown drive type \"{}\" (removable, fixed, network, cdrom, ramdisk)", parts[0]));
      if (parts.size() == 3) {
        if (!iequals(parts[2], "notready"))
          return bad(fmt::format("unknown drive flag \"{}\"", parts[2]));
        d.info.ready = false;
      }
      d.hostRoot = hostio::isAbsolute(parts[1]) ? parts[1] : folder + "/" + parts[1];
      if (d.info.ready && !hostIsDir(d.hostRoot))
        return bad(
            fmt::format("the folder of drive {}: is missing: {}", d.info.letter, d.hostRoot));
      drives.push_back(std::move(d));
    } else {
      return bad("entry outside a section");
    }
  }
  if (in.bad())
    return Result<MachineIni>::fail(fmt::format("{}: read error", ini), Status::ReadFault);
  return m;
}

}  // namespace

bool MachineFolder::looksLikeOne(const std::string& folder) {
  return hostIsFile(folder + "/machine.ini");
}

Result<std::unique_ptr<MachineFolder>> MachineFolder::open(const std::string& folderIn) {
  std::string folder = folderIn;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  auto m = std::unique_ptr<MachineFolder>(new MachineFolder());
  m->folder_ = folder;
  auto ini = readMachineIni(folder);
  if (!ini) return ini.error();
  m->info_ = std::move(ini->info);
  std::vector<HostDrive> drives = std::move(ini->drives);
  const std::string reg = folder + "/registry.reg";
  if (!hostIsFile(reg))
    return Error{Status::FileNotFound,
                 fmt::format("{}: missing (a machine folder keeps its registry there)", reg)};
  // A save that was killed leaves its temporary file; while nobody writes, it is litter.
  if (noOtherWriter(folder)) removeStaleTemporaries(folder, "registry.reg");
  m->stamp_ = hostFileStamp(reg);
  if (Outcome loaded = loadRegFile(reg, m->registry_); !loaded) return loaded.error();
  std::string cwd = m->info_.installFolder;
  m->files_ = std::make_unique<HostFileSystem>(std::move(drives), cwd);
  // A copy of a drive keeps no short names: only the classic scheme, where it is unambiguous.
  m->files_->setShortNames(ShortNameScheme::Classic);
  m->shortcuts_ = std::make_unique<LnkShortcutReader>(*m->files_, machineEnvironment(m->info_));
  m->urlCache_ = std::make_unique<FolderUrlCache>(*m->files_, FolderUrlCache::folderFor(m->info_));
  return m;
}

Outcome saveRegistryFile(RegistryStore& store, const std::string& path,
                         std::size_t failAfterBytes) {
  AtomicFile file(path);
  if (Outcome r = file.open(); !r) return r;
  std::size_t written = 0;
  Outcome r = writeReg(store, 0, "", RegFormat::Version5, [&](const char* d, std::size_t n) {
    if (written + n > failAfterBytes) return false;
    written += n;
    return file.write(d, n);
  });
  if (!r) {
    std::string why = r.status() == Status::WriteFault ? std::string("write failed") : r.message();
    return Outcome::fail(
        fmt::format("{}: could not be saved ({}); the previous file is unchanged", path, why),
        r.status());
  }
  return file.commit();
}

std::optional<std::string> MachineFolder::writeBlocker() const {
  return hostFolderReadOnly(folder_);
}

Outcome MachineFolder::save() {
  if (!registry_.modified()) return {};
  const std::string reg = folder_ + "/registry.reg";
  // Another program's changes made since this one read the file are not written over.
  if (!(hostFileStamp(reg) == stamp_))
    return Error{Status::WriteFault,
                 fmt::format("{}: changed on disk since it was read (did another program change "
                             "it meanwhile?); nothing was written, run the command again",
                             reg)};
  if (Outcome o = saveRegistryFile(registry_, reg, failAfter_); !o) return o;
  stamp_ = hostFileStamp(reg);
  registry_.markSaved();
  return {};
}

Outcome MachineFolder::reload() {
  for (KeyHandle root : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig})
    registry_.removeTree(registry_.root(root));
  stamp_ = hostFileStamp(folder_ + "/registry.reg");
  Outcome loaded = loadRegFile(folder_ + "/registry.reg", registry_);
  registry_.markSaved();
  return loaded;
}

}  // namespace brisquell
