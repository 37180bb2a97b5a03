// Host-folder drives: case-insensitive resolution with an optional per-scan listing cache.
#include "platform/host/HostFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "platform/AtomicFile.h"
#include "platform/HostIo.h"

namespace brisquell {

namespace {

bool hasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

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

bool hostIsDir(const std::string& p) { return hostio::stat(p).directory; }

bool hostIsFile(const std::string& p) { return hostio::stat(p).regular; }

HostFileSystem::HostFileSystem(std::vector<HostDrive> drives, std::string currentDirectory)
    : drives_(std::move(drives)), currentDirectory_(std::move(currentDirectory)) {
  std::sort(drives_.begin(), drives_.end(),
            [](const HostDrive& a, const HostDrive& b) { return a.info.letter < b.info.letter; });
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
  std::size_t i = 0;
  while (i <= rest.size()) {
    std::size_t j = rest.find('\\', i);
    if (j == std::string_view::npos) j = rest.size();
    std::string c(rest.substr(i, j - i));
    bool last = j == rest.size();
    i = j + 1;
    for (unsigned char ch : c)
      if (ch < 32 || ch == '<' || ch == '>' || ch == '"' || ch == '|' || ch == ':')
        return Status::InvalidName;
    if (!last && hasWildcard(c)) return Status::InvalidName;
    if (c == "." || c.empty()) continue;
    if (c == "..") {
      if (!out.components.empty()) out.components.pop_back();
      continue;
    }
    while (!c.empty() && (c.back() == '.' || c.back() == ' ')) c.pop_back();
    if (c.empty()) continue;
    out.components.push_back(std::move(c));
  }
  return Status::Success;
}

std::shared_ptr<const HostFileSystem::Listing> HostFileSystem::listing(const std::string& hostDir) {
  if (caching_) {
    auto it = cache_.find(hostDir);
    if (it != cache_.end()) return it->second;
  }
  auto l = std::make_shared<Listing>();
  std::vector<hostio::Entry> entries;
  if (!hostio::list(hostDir, entries)) {
    if (caching_) cache_[hostDir] = nullptr;
    return nullptr;
  }
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
  if (caching_) cache_[hostDir] = l;
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

Status HostFileSystem::resolveDir(const Parsed& p, std::size_t n, std::string& hostDir) {
  hostDir = p.drive->hostRoot;
  for (std::size_t k = 0; k < n; ++k) {
    const std::string& c = p.components[k];
    if (!caching_) {  // exact name first: no listing needed in the common case
      std::string direct = hostDir + "/" + c;
      if (hostio::stat(direct).directory) {
        hostDir = std::move(direct);
        continue;
      }
    }
    auto l = listing(hostDir);
    const Entry* e = l ? lookup(*l, c) : nullptr;
    if (!e || !(e->attributes & fileattr::Directory)) return Status::PathNotFound;
    hostDir += "/" + e->name;
  }
  return Status::Success;
}

bool HostFileSystem::volumeInformation(std::string_view root) {
  Parsed p;
  if (parse(root, p) != Status::Success || !p.components.empty()) return false;
  return hostio::stat(p.drive->hostRoot).directory && hostio::canEnter(p.drive->hostRoot);
}

Status HostFileSystem::find(std::string_view pattern, std::vector<DirEntry>& out) {
  out.clear();
  Parsed p;
  if (Status st = parse(pattern, p); st != Status::Success) return st;
  if (p.components.empty()) {  // the root itself
    return hostio::stat(p.drive->hostRoot).exists ? Status::Success : Status::PathNotFound;
  }
  std::string dir;
  if (Status st = resolveDir(p, p.components.size() - 1, dir); st != Status::Success) return st;
  const std::string& last = p.components.back();
  auto l = listing(dir);
  if (!l) return Status::PathNotFound;
  if (!hasWildcard(last)) {
    const Entry* e = lookup(*l, last);
    if (!e || (p.trailingSlash && !(e->attributes & fileattr::Directory)))
      return Status::FileNotFound;
    out.push_back(DirEntry{e->name, e->attributes});
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
  auto host = hostPath(path);
  if (!host) return Status::FileNotFound;
  attrs = attributesOf(*host, true);
  return attrs ? Status::Success : Status::FileNotFound;
}

std::optional<std::string> HostFileSystem::hostPath(std::string_view path) {
  Parsed p;
  if (parse(path, p) != Status::Success) return std::nullopt;
  std::string dir;
  if (p.components.empty()) return p.drive->hostRoot;
  if (resolveDir(p, p.components.size() - 1, dir) != Status::Success) return std::nullopt;
  const std::string& last = p.components.back();
  std::string direct = dir + "/" + last;
  if (!caching_ && hostio::stat(direct, false).exists) return direct;
  auto l = listing(dir);
  const Entry* e = l ? lookup(*l, last) : nullptr;
  if (!e) return std::nullopt;
  return dir + "/" + e->name;
}

std::optional<std::string> HostFileSystem::hostPathForNew(std::string_view path) {
  if (auto existing = hostPath(path)) return existing;
  Parsed p;
  if (parse(path, p) != Status::Success || p.components.empty() || hasWildcard(p.components.back()))
    return std::nullopt;
  std::string dir;
  if (resolveDir(p, p.components.size() - 1, dir) != Status::Success) return std::nullopt;
  return dir + "/" + p.components.back();
}

Status HostFileSystem::readFile(std::string_view path, Bytes& data) {
  Parsed p;
  if (Status st = parse(path, p); st != Status::Success) return st;
  auto host = hostPath(path);
  if (!host) return Status::FileNotFound;
  if (hostio::stat(*host).directory) return Status::AccessDenied;
  std::ifstream in(hostio::fsPath(*host), std::ios::binary);
  if (!in) return Status::AccessDenied;
  try {  // the stream library reports read errors by throwing
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return Status::ReadFault;
  }
  return in.bad() ? Status::ReadFault : Status::Success;
}

void HostFileSystem::forget(const std::string& hostDir) { cache_.erase(hostDir); }

Status HostFileSystem::writeFile(std::string_view path, const Bytes& data) {
  Parsed p;
  if (Status st = parse(path, p); st != Status::Success) return st;
  auto host = hostPathForNew(path);
  if (!host) return Status::PathNotFound;
  AtomicFile f(*host);
  if (!f.open() || !f.write(reinterpret_cast<const char*>(data.data()), data.size()) || !f.commit())
    return Status::WriteFault;
  forget(host->substr(0, host->rfind('/')));
  return Status::Success;
}

Status HostFileSystem::appendFile(std::string_view path, const Bytes& data) {
  Parsed p;
  if (Status st = parse(path, p); st != Status::Success) return st;
  auto host = hostPathForNew(path);
  if (!host) return Status::PathNotFound;
  std::FILE* f = hostio::open(*host, "ab");
  if (!f) return Status::AccessDenied;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  forget(host->substr(0, host->rfind('/')));
  return ok ? Status::Success : Status::WriteFault;
}

Status HostFileSystem::deleteFile(std::string_view path) {
  Parsed p;
  if (Status st = parse(path, p); st != Status::Success) return st;
  auto host = hostPath(path);
  if (!host) return Status::FileNotFound;
  if (hostio::stat(*host, false).directory) return Status::AccessDenied;
  if (!hostio::removeFile(*host))
    return errno == ENOENT ? Status::FileNotFound : Status::AccessDenied;
  forget(host->substr(0, host->rfind('/')));
  return Status::Success;
}

Status HostFileSystem::createDirectory(std::string_view path) {
  Parsed p;
  if (Status st = parse(path, p); st != Status::Success) return st;
  std::string dir = p.drive->hostRoot;
  for (const std::string& c : p.components) {
    auto l = listing(dir);
    const Entry* e = l ? lookup(*l, c) : nullptr;
    if (e) {
      if (!(e->attributes & fileattr::Directory)) return Status::FileExists;
      dir += "/" + e->name;
      continue;
    }
    std::string next = dir + "/" + c;
    if (!hostio::makeFolder(next)) return Status::AccessDenied;
    forget(dir);
    dir = std::move(next);
  }
  return Status::Success;
}

void HostFileSystem::setListingCache(bool enabled) {
  caching_ = enabled;
  if (!enabled) cache_.clear();
}

}  // namespace brisquell
