// Host-folder drives: case-insensitive resolution with an optional per-scan listing cache.
#include "platform/host/HostFileSystem.h"

#include <filesystem>
#ifndef _WIN32
#include <sys/statvfs.h>
#include <unistd.h>
#endif
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/HostFolder.h"
#include "platform/HostIo.h"

namespace brisquell {

namespace {

bool hasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

// A name that parse() would keep as it is, as one component: no separator, no character it
// refuses or strips.
bool plainName(std::string_view n) {
  if (n.empty() || n == "." || n == ".." || n.back() == '.' || n.back() == ' ') return false;
  return std::none_of(n.begin(), n.end(), [](char c) {
    const auto ch = static_cast<unsigned char>(c);
    return ch < 32 || std::string_view("\\/<>\"|:*?").find(c) != std::string_view::npos;
  });
}

// Why a folder could not be opened: gone, or there but unreadable.
Status listingFailure(int error) {
  if (error == ENOENT || error == ENOTDIR) return Status::PathNotFound;
  if (error == EACCES || error == EPERM) return Status::AccessDenied;
  return Status::ReadFault;
}

std::uint32_t attributesOf(const std::string& host, bool followLinks) {
  hostio::Info st = hostio::stat(host, false);
  if (!st.exists) return 0;
  std::uint32_t a = 0;
  if (st.link) {
    a |= fileattr::ReparsePoint;
    if (!followLinks || !(st = hostio::stat(host)).exists) return a | fileattr::Archive;
  }
  if (st.directory) return a | fileattr::Directory;
  a |= fileattr::Archive;
  if (st.readOnly) a |= fileattr::Readonly;
  return a;
}

}  // namespace

HostFileStamp hostFileStamp(const std::string& path) {
  HostFileStamp s;
  hostio::Info info = hostio::stat(path);
  if (!info.exists) return s;
  std::error_code ec;
  auto when = std::filesystem::last_write_time(hostio::fsPath(path), ec);
  s.inode = info.fileId;
  s.size = static_cast<long long>(info.size);
  if (!ec)
    s.mtimeNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  return s;
}

std::optional<std::string> hostFolderReadOnly(const std::string& folder) {
#ifndef _WIN32
  struct statvfs vs;
  if (::statvfs(folder.c_str(), &vs) == 0 && (vs.f_flag & ST_RDONLY))
    return folder + " is on a read-only volume: nothing can be changed there";
  if (::access(folder.c_str(), W_OK | X_OK) != 0 && errno == EACCES)
    return folder + " may not be written by this user: nothing can be changed there";
#else
  (void)folder;  // Windows says so at the first write, which the write gate undoes
#endif
  return std::nullopt;
}

std::vector<std::string> removeStaleTemporaries(const std::string& folder,
                                                const std::string& name) {
  std::vector<std::string> removed;
  std::vector<hostio::Entry> entries;
  if (!hostio::list(folder, entries)) return removed;
  const std::string temp = name + ".tmp-";  // AtomicFile's temporaries
  const std::string fresh = name + ".brisquell-new";
  for (const hostio::Entry& e : entries) {
    const std::string& n = e.name;
    bool ours = (n.size() == temp.size() + 6 && n.compare(0, temp.size(), temp) == 0) || n == fresh;
    if (!ours) continue;
    const std::string path = folder + "/" + n;
    if (hostio::stat(path, false).regular && hostio::removeFile(path)) removed.push_back(n);
  }
  return removed;
}

bool hostIsDir(const std::string& p) { return hostio::stat(p).directory; }

bool hostIsFile(const std::string& p) { return hostio::stat(p).regular; }

HostFileSystem::HostFileSystem(std::vector<HostDrive> drives, std::string currentDirectory)
    : drives_(std::move(drives)), currentDirectory_(std::move(currentDirectory)) {
  std::sort(drives_.begin(), drives_.end(),
            [](const HostDrive& a, const HostDrive& b) { return a.info.letter < b.info.letter; });
  for (const HostDrive& d : drives_) realRoots_.push_back(realFolder(d.hostRoot));
}

void HostFileSystem::setWriteArea(const std::string& hostFolder) {
  writeArea_ = realFolder(hostFolder);
  if (writeArea_.empty()) writeArea_ = "/nonexistent/";  // no such folder: nothing is written
}

void HostFileSystem::addLinkedArea(const std::string& hostFolder) {
  std::string real = realFolder(hostFolder);
  if (!real.empty()) linkedAreas_.push_back(std::move(real));
  std::lock_guard<SpinLock> hold(cacheLock_);
  found_.clear();
  resolved_.clear();
}

Status HostFileSystem::confine(const Parsed& p, const std::string& host, LastLink last,
                               bool writing, std::string* realOut) {
  const std::string& root = realRoots_[static_cast<std::size_t>(p.drive - drives_.data())];
  auto real = resolveBeneath(root, host, last);
  if (!real) {
    // A folder the target links out to on purpose (a Wine user's Desktop in the host's home)
    // is the target's too, but no link below it leads anywhere else.
    for (const std::string& area : linkedAreas_)
      if (auto inArea = resolveBeneath(area, host, last)) {
        if (realOut) *realOut = std::move(*inArea);
        return Status::Success;
      }
    return Status::AccessDenied;
  }
  if (writing && !writeArea_.empty() && !isBeneath(writeArea_, *real)) return Status::AccessDenied;
  if (realOut) *realOut = std::move(*real);
  return Status::Success;
}

Status HostFileSystem::locate(std::string_view path, LastLink last, bool writing, bool mayBeNew,
                              std::string& host, Parsed* parsed, std::string* real) {
  Parsed local;
  Parsed& p = parsed ? *parsed : local;
  if (Status st = parse(path, p); st != Status::Success) return st;
  if (p.components.empty()) {
    host = p.drive->hostRoot;
    return writing ? confine(p, host, LastLink::Follow, true, real) : Status::Success;
  }
  std::string dir;
  if (Status st = resolveDir(p, p.components.size() - 1, dir); st != Status::Success) return st;
  const std::string& name = p.components.back();
  if (hasWildcard(name)) return Status::InvalidName;
  host.clear();
  if (!caching_ && hostio::stat(dir + "/" + name, false).exists) {
    host = dir + "/" + name;
  } else {
    Status why = Status::FileNotFound;
    auto l = listing(dir, &why);
    const Entry* e = l ? entryFor(dir, *l, name, why) : nullptr;
    if (e) host = dir + "/" + e->name;
    // An unreadable folder, or a short name that cannot be resolved for certain, names nothing
    // that can be tested.
    if (!e && (why == Status::NotSupported || (!l && why != Status::PathNotFound))) return why;
  }
  bool link = !host.empty() && hostio::stat(host, false).link;
  if (host.empty()) {
    if (!mayBeNew) return Status::FileNotFound;
    host = dir + "/" + name;
  }
  // The folder is inside already; only a link at the end, or the write area, is left to check.
  if (writing || (link && last == LastLink::Follow)) return confine(p, host, last, writing, real);
  return Status::Success;
}

std::vector<DriveInfo> HostFileSystem::drives() {
  std::vector<DriveInfo> out;
  for (const auto& d : drives_) out.push_back(d.info);
  return out;
}

Status HostFileSystem::parse(std::string_view path, Parsed& out) const {
  std::string p(path);
  std::replace(p.begin(), p.end(), '/', '\\');
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\')
    return Status::NotReady;  // UNC: no network here
  std::string full;
  if (p.size() >= 2 && p[1] == ':') {
    full = p;
  } else if (!p.empty() && p[0] == '\\') {
    full = currentDirectory_.substr(0, 2) + p;
  } else {
    full = currentDirectory_;
    if (!full.empty() && full.back() != '\\') full += '\\';
    full += p;
  }
  // A relative path needs a current directory on a drive (an empty or odd InstallFolder gives
  // none): without one the path names nothing that can be tested.
  if (full.size() < 2 || full[1] != ':') return Status::InvalidName;
  if (full.size() == 2)
    full += '\\';
  else if (full[2] != '\\')
    full.insert(2, 1, '\\');  // "C:x" is relative to the drive's root here
  char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(full[0])));
  if (letter < 'A' || letter > 'Z') return Status::InvalidName;
  out.drive = nullptr;
  for (const auto& d : drives_)
    if (d.info.letter == letter) out.drive = &d;
  if (!out.drive) return Status::InvalidDrive;
  if (!out.drive->info.ready) return Status::NotReady;
  std::string_view rest = std::string_view(full).substr(3);
  out.components.clear();
  out.trailingSlash = !rest.empty() && rest.back() == '\\';
  // One pass: each character is checked once, each component cut where its backslash is.
  std::size_t start = 0;
  bool wild = false;
  for (std::size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && rest[i] != '\\') {
      const auto ch = static_cast<unsigned char>(rest[i]);
      if (ch < 32 || ch == '<' || ch == '>' || ch == '"' || ch == '|' || ch == ':')
        return Status::InvalidName;
      wild = wild || ch == '*' || ch == '?';
      continue;
    }
    std::string_view c = rest.substr(start, i - start);
    const bool last = i == rest.size();
    start = i + 1;
    if (!last && wild) return Status::InvalidName;
    if (c == "." || c.empty()) continue;
    if (c == "..") {
      if (!out.components.empty()) out.components.pop_back();
      continue;
    }
    while (!c.empty() && (c.back() == '.' || c.back() == ' ')) c.remove_suffix(1);
    if (c.empty()) continue;
    out.components.emplace_back(c);
  }
  return Status::Success;
}

std::shared_ptr<const HostFileSystem::Listing> HostFileSystem::listing(const std::string& hostDir,
                                                                       Status* why) {
  Status ignored;
  Status& reason = why ? *why : ignored;
  reason = Status::Success;
  if (caching_) {
    std::lock_guard<SpinLock> hold(cacheLock_);
    auto it = cache_.find(hostDir);
    if (it != cache_.end()) {
      if (!it->second) reason = unlisted_[hostDir];
      return it->second;
    }
  }
  auto unlisted = [&](Status st) -> std::shared_ptr<const Listing> {
    reason = st;
    if (caching_) {
      std::lock_guard<SpinLock> hold(cacheLock_);
      if (cache_.emplace(hostDir, nullptr).second) unlisted_[hostDir] = st;
    }
    return nullptr;
  };
  auto l = std::make_shared<Listing>();
  std::vector<hostio::Entry> entries;
  // A folder that is there but cannot be read says nothing about what it holds.
  if (!hostio::list(hostDir, entries)) return unlisted(listingFailure(errno));
  for (hostio::Entry& e : entries) {
    std::uint32_t a;
    if (e.known && e.directory)
      a = fileattr::Directory;
    else if (e.known && e.regular)
      a = fileattr::Archive;
    else
      a = attributesOf(hostDir + "/" + e.name, true);
    std::string folded = foldCase(e.name);
    l->push_back(Entry{std::move(e.name), std::move(folded), a});
  }
  std::sort(l->begin(), l->end(), [](const Entry& a, const Entry& b) {
    return a.folded != b.folded ? a.folded < b.folded : a.name < b.name;
  });
  if (caching_) {
    // Another walker may have listed the folder meanwhile: every caller sees the first listing.
    std::lock_guard<SpinLock> hold(cacheLock_);
    auto [it, added] = cache_.emplace(hostDir, l);
    if (!added && !it->second) reason = unlisted_[hostDir];
    return it->second;
  }
  return l;
}

const HostFileSystem::Entry* HostFileSystem::lookup(const Listing& l, std::string_view name) const {
  std::string f = foldCase(name);
  auto it = std::lower_bound(l.begin(), l.end(), f,
                             [](const Entry& e, const std::string& k) { return e.folded < k; });
  const Entry* found = nullptr;
  for (; it != l.end() && it->folded == f; ++it) {
    if (it->name == name) return &*it;  // an exact match wins where the host has both cases
    if (!found) found = &*it;
  }
  return found;
}

const HostFileSystem::Entry* HostFileSystem::entryFor(const std::string& hostDir, const Listing& l,
                                                      std::string_view name, Status& why) const {
  why = Status::Success;
  if (const Entry* e = lookup(l, name)) return e;
  why = Status::FileNotFound;
  if (shortNames_ == ShortNameScheme::None || !isShortNameForm(name)) return nullptr;
  std::vector<std::string> names;
  names.reserve(l.size());
  for (const Entry& e : l) names.push_back(e.name);
  ShortNameOwner owner = findShortNameOwner(shortNames_, name, names, hostDir, dosNames_);
  why = owner.status;
  return owner.status == Status::Success ? &l[owner.index] : nullptr;
}

Status HostFileSystem::resolveDir(const Parsed& p, std::size_t n, std::string& hostDir) {
  if (!caching_ || n == 0) return resolveDirUncached(p, n, hostDir);
  std::string key(1, p.drive->info.letter);
  for (std::size_t k = 0; k < n; ++k) key.append("\\").append(p.components[k]);
  {
    std::lock_guard<SpinLock> hold(cacheLock_);
    auto it = resolved_.find(key);
    if (it != resolved_.end()) {
      hostDir = it->second.hostDir;
      return it->second.status;
    }
  }
  Status st = resolveDirUncached(p, n, hostDir);
  std::lock_guard<SpinLock> hold(cacheLock_);
  resolved_.emplace(std::move(key), Resolved{st, hostDir});
  return st;
}

Status HostFileSystem::resolveDirUncached(const Parsed& p, std::size_t n, std::string& hostDir) {
  hostDir = p.drive->hostRoot;
  for (std::size_t k = 0; k < n; ++k) {
    const std::string& c = p.components[k];
    bool link = false;
    bool found = false;
    if (!caching_) {  // exact name first: no listing needed in the common case
      std::string direct = hostDir + "/" + c;
      hostio::Info st = hostio::stat(direct, false);
      if (st.exists) {
        link = st.link;
        if (st.directory || (link && hostio::stat(direct).directory)) {
          hostDir = std::move(direct);
          found = true;
        }
      }
    }
    if (!found) {
      Status why;
      auto l = listing(hostDir, &why);
      if (!l) return why;
      const Entry* e = entryFor(hostDir, *l, c, why);
      if (!e && why == Status::NotSupported) return why;
      if (!e || !(e->attributes & fileattr::Directory)) return Status::PathNotFound;
      link = (e->attributes & fileattr::ReparsePoint) != 0;
      hostDir += "/" + e->name;
    }
    // A folder reached through a link is entered only when it is inside the drive's folder.
    if (link && confine(p, hostDir, LastLink::Follow, false) != Status::Success)
      return Status::AccessDenied;
  }
  return Status::Success;
}
bool HostFileSystem::volumeInformation(std::string_view root) {
  Parsed p;
  if (parse(root, p) != Status::Success || !p.components.empty()) return false;
  return hostio::stat(p.drive->hostRoot).directory && hostio::canEnter(p.drive->hostRoot);
}

Status HostFileSystem::find(std::string_view pattern, std::vector<DirEntry>& out) {
  if (!caching_) return findUncached(pattern, out);
  std::string key(pattern);
  {
    std::lock_guard<SpinLock> hold(cacheLock_);
    auto it = found_.find(key);
    if (it != found_.end()) {
      out = it->second.entries;
      return it->second.status;
    }
  }
  Found f;
  f.status = findUncached(pattern, f.entries);
  std::lock_guard<SpinLock> hold(cacheLock_);
  auto it = found_.emplace(std::move(key), std::move(f)).first;
  out = it->second.entries;
  return it->second.status;
}

Status HostFileSystem::findUncached(std::string_view pattern, std::vector<DirEntry>& out) {
  out.clear();
  Parsed p;
  if (Status st = parse(pattern, p); st != Status::Success) return st;
  if (p.components.empty()) {  // the root itself
    return hostio::stat(p.drive->hostRoot).exists ? Status::Success : Status::PathNotFound;
  }
  std::string dir;
  if (Status st = resolveDir(p, p.components.size() - 1, dir); st != Status::Success) return st;
  const std::string& last = p.components.back();
  Status why;
  auto l = listing(dir, &why);
  if (!l) return why;
  if (!hasWildcard(last)) {
    const Entry* e = entryFor(dir, *l, last, why);
    if (!e && why == Status::NotSupported) return why;
    if (!e || (p.trailingSlash && !(e->attributes & fileattr::Directory)))
      return Status::FileNotFound;
    // A link out of the drive's folder is there, but what it leads to is not looked at.
    std::uint32_t a = e->attributes;
    if ((a & fileattr::ReparsePoint) &&
        confine(p, dir + "/" + e->name, LastLink::Follow, false) != Status::Success)
      a = fileattr::ReparsePoint | fileattr::Archive;
    out.push_back(DirEntry{e->name, a});
    return Status::Success;
  }
  for (const Entry& e : *l)
    if (wildcardMatch(last, e.name)) out.push_back(DirEntry{e.name, e.attributes});
  return out.empty() ? Status::FileNotFound : Status::Success;
}
Status HostFileSystem::attributes(std::string_view path, std::uint32_t& attrs) {
  attrs = 0;
  Parsed p;
  if (Status st = parse(path, p); st != Status::Success) return st;
  if (p.components.empty()) {
    attrs = fileattr::Directory;
    return Status::Success;
  }
  if (hasWildcard(p.components.back())) return Status::InvalidName;
  std::string host;
  // A link out of the drive's folder is reported as a link, never looked through.
  Status st = locate(path, LastLink::Follow, false, false, host);
  if (st == Status::AccessDenied &&
      locate(path, LastLink::Keep, false, false, host) == Status::Success) {
    attrs = attributesOf(host, false);
    return attrs ? Status::Success : Status::FileNotFound;
  }
  if (st != Status::Success) return st == Status::PathNotFound ? Status::FileNotFound : st;
  attrs = attributesOf(host, true);
  return attrs ? Status::Success : Status::FileNotFound;
}
std::optional<std::string> HostFileSystem::hostPath(std::string_view path) {
  std::string host;
  if (locate(path, LastLink::Follow, false, false, host) != Status::Success) return std::nullopt;
  return host;
}
std::optional<std::string> HostFileSystem::hostPathForNew(std::string_view path) {
  std::string host;
  Parsed p;
  if (locate(path, LastLink::Follow, true, true, host, &p) != Status::Success ||
      p.components.empty())
    return std::nullopt;
  return host;
}
Status HostFileSystem::readFile(std::string_view path, Bytes& data) {
  std::string host;
  if (Status st = locate(path, LastLink::Follow, false, false, host); st != Status::Success)
    return st == Status::PathNotFound ? Status::FileNotFound : st;
  if (hostio::stat(host).directory) return Status::AccessDenied;
  std::ifstream in(hostio::fsPath(host), std::ios::binary);
  if (!in) return Status::AccessDenied;
  try {  // the stream library reports read errors by throwing
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return Status::ReadFault;
  }
  return in.bad() ? Status::ReadFault : Status::Success;
}

void HostFileSystem::forget(const std::string& hostDir) {
  std::lock_guard<SpinLock> hold(cacheLock_);
  cache_.erase(hostDir);
  unlisted_.erase(hostDir);
  found_.clear();  // any name may have led through the folder
  resolved_.clear();
}

Status HostFileSystem::writeFile(std::string_view path, const Bytes& data) {
  std::size_t at = 0;
  return writeFileFrom(path, [&](char* buf, std::size_t n) {
    n = std::min(n, data.size() - at);
    if (n) std::memcpy(buf, data.data() + at, n);
    at += n;
    return static_cast<long long>(n);
  });
}

Status HostFileSystem::writeFileFrom(std::string_view path,
                                     const std::function<long long(char*, std::size_t)>& read) {
  std::string host;
  Parsed p;
  // The new file takes the name's place: a link there is replaced, never followed.
  if (Status st = locate(path, LastLink::Keep, true, true, host, &p); st != Status::Success)
    return st;
  if (p.components.empty()) return Status::AccessDenied;
  AtomicFile f(host);
  if (!f.open()) return Status::WriteFault;
  char buf[65536];
  for (long long n; (n = read(buf, sizeof buf)) != 0;) {
    if (n < 0) return Status::ReadFault;  // the temporary goes with f
    if (!f.write(buf, static_cast<std::size_t>(n))) return Status::WriteFault;
  }
  if (!f.commit()) return Status::WriteFault;
  forget(host.substr(0, host.rfind('/')));
  return Status::Success;
}

std::optional<std::uint64_t> HostFileSystem::freeSpace(std::string_view folder) {
  std::string host;
  if (locate(folder, LastLink::Follow, false, false, host) != Status::Success) return std::nullopt;
  std::error_code ec;
  std::filesystem::space_info space = std::filesystem::space(hostio::fsPath(host), ec);
  if (ec) return std::nullopt;
  return static_cast<std::uint64_t>(space.available);
}

Status HostFileSystem::appendFile(std::string_view path, const Bytes& data) {
  std::string host;
  Parsed p;
  if (Status st = locate(path, LastLink::Follow, true, true, host, &p); st != Status::Success)
    return st;
  if (p.components.empty()) return Status::AccessDenied;
  std::FILE* f = hostio::open(host, "ab");
  if (!f) return Status::AccessDenied;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  forget(host.substr(0, host.rfind('/')));
  return ok ? Status::Success : Status::WriteFault;
}
Status HostFileSystem::deleteFile(std::string_view path) {
  std::string host;
  Parsed p;
  // A link is deleted itself; what it leads to is left alone.
  if (Status st = locate(path, LastLink::Keep, true, false, host, &p); st != Status::Success)
    return st == Status::PathNotFound ? Status::FileNotFound : st;
  if (p.components.empty()) return Status::AccessDenied;
  if (hostio::stat(host, false).directory) return Status::AccessDenied;
  if (!hostio::removeFile(host))
    return errno == ENOENT ? Status::FileNotFound : Status::AccessDenied;
  forget(host.substr(0, host.rfind('/')));
  return Status::Success;
}
std::vector<Status> HostFileSystem::deleteFilesIn(std::string_view folder,
                                                  const std::vector<std::string>& names) {
  // The folder is resolved and checked once, then held open: each file goes by name relative
  // to it, at a cost that does not grow with the path's depth. Where it cannot be held open,
  // each file goes the way deleteFile() takes it.
  std::string host, real;
  std::optional<HostFolder> dir;
  if (locate(folder, LastLink::Follow, true, false, host, nullptr, &real) == Status::Success)
    dir.emplace(real);
  std::vector<std::string> listed;
  if (!dir || !dir->isOpen() || !dir->names(listed))
    return FileSystem::deleteFilesIn(folder, names);
  std::unordered_map<std::string_view, std::size_t> position;
  position.reserve(listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) position.emplace(listed[i], i);
  // Names spelled exactly as listed go the quick way, in listing order; any other (another
  // case, a short name, one already gone) the way deleteFile() resolves it.
  std::vector<std::pair<std::size_t, std::size_t> > quick;  // listing position, name's index
  std::vector<std::size_t> slow;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    auto it = plainName(n) ? position.find(n) : position.end();
    if (it == position.end())
      slow.push_back(i);
    else
      quick.emplace_back(it->second, i);
  }
  std::sort(quick.begin(), quick.end());
  std::vector<Status> out(names.size(), Status::Success);
  auto removeEvery = [&](std::size_t first, std::size_t step) {
    for (std::size_t k = first; k < quick.size(); k += step) {
      const std::size_t i = quick[k].second;
      const int error = dir->remove(names[i]);
      // A folder is refused by the call itself (EISDIR, or EPERM where POSIX allows it).
      out[i] = error == 0        ? Status::Success
               : error == ENOENT ? Status::FileNotFound
                                 : Status::AccessDenied;
    }
  };
  // An unlink mostly waits on the disk: two at a time keep it busier (about half the time).
  constexpr std::size_t kSecondThreadFrom = 256;
  std::optional<std::thread> second;
  if (quick.size() >= kSecondThreadFrom) {
    try {
      second.emplace(removeEvery, 1, 2);
    } catch (const std::system_error&) {  // no thread to be had: one does it all
    }
  }
  removeEvery(0, second ? 2 : 1);
  if (second) second->join();
  if (!quick.empty()) forget(host);
  for (std::size_t i : slow) {
    std::string path(folder);
    if (!path.empty() && path.back() != '\\') path += '\\';
    out[i] = deleteFile(path + names[i]);
  }
  return out;
}

Status HostFileSystem::createDirectory(std::string_view path) {
  Parsed p;
  if (Status st = parse(path, p); st != Status::Success) return st;
  std::string dir = p.drive->hostRoot;
  if (confine(p, dir, LastLink::Follow, true) != Status::Success) return Status::AccessDenied;
  for (const std::string& c : p.components) {
    auto l = listing(dir);
    const Entry* e = l ? lookup(*l, c) : nullptr;
    if (e) {
      if (!(e->attributes & fileattr::Directory)) return Status::FileExists;
      dir += "/" + e->name;
      if ((e->attributes & fileattr::ReparsePoint) &&
          confine(p, dir, LastLink::Follow, true) != Status::Success)
        return Status::AccessDenied;
      continue;
    }
    std::string next = dir + "/" + c;
    if (confine(p, next, LastLink::Keep, true) != Status::Success) return Status::AccessDenied;
    if (!hostio::makeFolder(next)) return errno == ENOSPC ? Status::DiskFull : Status::AccessDenied;
    forget(dir);
    dir = std::move(next);
  }
  return Status::Success;
}
void HostFileSystem::setListingCache(bool enabled) {
  caching_ = enabled;
  std::lock_guard<SpinLock> hold(cacheLock_);
  if (!enabled) {
    cache_.clear();
    unlisted_.clear();
    found_.clear();
    resolved_.clear();
  }
}

}  // namespace brisquell
