// Hive file back end: hivex reads the hive into the store and writes the store's changes back.
#include "platform/hive/HiveFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <hivex.h>

#include <fmt/format.h>

#include "platform/Bytes.h"

namespace brisquell {

namespace {

using Key = MemoryRegistry::Key;

// A hive keeps any type number, but hivex's enum names only the known ones: a number is never
// held in the enum type itself, only passed through its storage.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));

char* valueData(hive_h* h, hive_value_h v, std::uint32_t& type, std::size_t& len) {
  return hivex_value_value(h, v, reinterpret_cast<hive_type*>(&type), &len);
}

hive_set_value setValueOf(const MemoryRegistry::Value& v) {
  hive_set_value s{const_cast<char*>(v.name.c_str()), hive_t_REG_NONE, v.data.size(),
                   reinterpret_cast<char*>(const_cast<std::uint8_t*>(v.data.data()))};
  std::memcpy(&s.t, &v.type, sizeof s.t);
  return s;
}

struct HiveCloser {
  void operator()(hive_h* h) const {
    if (h) hivex_close(h);
  }
};
using HivePtr = std::unique_ptr<hive_h, HiveCloser>;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Malloced = std::unique_ptr<T, FreeDeleter>;

std::string errnoText(int e) { return e ? std::strerror(e) : "not a valid hive"; }

std::uint32_t le32(const unsigned char* p) { return dwordOf(p, 4); }

// Reads up to n bytes from the start of a file; fewer when it is shorter.
std::string readHead(const std::string& path, std::size_t n, std::size_t offset = 0) {
  std::string out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  out.resize(n);
  ssize_t got = ::pread(fd, out.data(), n, static_cast<off_t>(offset));
  ::close(fd);
  out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return out;
}

// The file's entry in its folder, matched without regard to case ("SYSTEM.LOG1", "system.log1").
std::optional<std::string> siblingNoCase(const std::string& path, const std::string& suffix) {
  std::string dir = path.substr(0, path.rfind('/'));
  std::string want = path.substr(path.rfind('/') + 1) + suffix;
  struct stat st;
  if (::stat((dir + "/" + want).c_str(), &st) == 0) return dir + "/" + want;
  std::optional<std::string> found;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (iequals(e->d_name, want)) found = dir + "/" + e->d_name;
    ::closedir(d);
  }
  return found;
}

bool syncFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

void syncFolderOf(const std::string& path) {
  int fd = ::open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool copyFile(const std::string& from, const std::string& to, int& err) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    err = errno;
    return false;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    err = errno;
    ::close(in);
    return false;
  }
  char buf[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0 || ::write(out, buf, static_cast<std::size_t>(n)) != n) {
      ok = false;
      break;
    }
  }
  if (!ok || ::fsync(out) != 0) ok = false;
  if (!ok) err = errno ? errno : EIO;
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(to.c_str());
  return ok;
}

// Joins path components for messages: "HKLM\SOFTWARE\Classes\.txt".
std::string keyPath(const Key* k) {
  std::vector<const Key*> chain;
  for (; k; k = k->parent) chain.push_back(k);
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!out.empty()) out += '\\';
    out += (*it)->name;
  }
  return out;
}

}  // namespace

HiveFile::HiveFile(std::string path, KeyHandle root, std::string mountPath)
    : path_(std::move(path)), mountPath_(std::move(mountPath)), root_(root) {}

HiveFile::~HiveFile() { abandon(); }

HiveFile::Stamp HiveFile::stampOf(const std::string& path) {
  struct stat st;
  Stamp s;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return s;
}

Key* HiveFile::mount(MemoryRegistry& store) const {
  return store.find(store.root(root_), mountPath_);
}

Key* HiveFile::hiddenKey(MemoryRegistry& store) const {
  if (hidden_.empty()) return nullptr;
  Key* m = mount(store);
  return m ? store.find(m, hidden_) : nullptr;
}

void HiveFile::checkDirty() {
  dirty_.reset();
  std::string head = readHead(path_, 12);
  if (head.size() < 12) return;
  auto* b = reinterpret_cast<const unsigned char*>(head.data());
  std::uint32_t primary = le32(b + 4), secondary = le32(b + 8);
  if (primary != secondary) {
    dirty_ = fmt::format(
        "{}: its header says a write was not finished (sequence numbers {} and "
        "{} differ)",
        path_, primary, secondary);
    return;
  }
  for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
    auto log = siblingNoCase(path_, suffix);
    if (!log) continue;
    std::string lh = readHead(*log, 12);
    if (lh.size() < 12 || lh.compare(0, 4, "regf") != 0) continue;  // empty or unused log
    auto* l = reinterpret_cast<const unsigned char*>(lh.data());
    // Logs since Windows 8.1 hold entries ("HvLE") with their own sequence numbers; older ones
    // hold dirty pages whose base block carries the sequence number they bring the hive to.
    std::string entry = readHead(*log, 12, 512);
    std::uint32_t seq = le32(l + 4);
    if (entry.size() >= 12 && entry.compare(0, 4, "HvLE") == 0)
      seq = le32(reinterpret_cast<const unsigned char*>(entry.data()) + 8);
    else if (!(entry.size() >= 4 && entry.compare(0, 4, "DIRT") == 0))
      continue;
    if (seq >= secondary) {
      dirty_ = fmt::format("{} holds changes newer than {} (sequence number {}, the hive's is {})",
                           *log, path_, seq, secondary);
      return;
    }
  }
}

Outcome HiveFile::load(MemoryRegistry& store, std::string_view hidden) {
  hidden_ = std::string(hidden);
  stamp_ = stampOf(path_);
  errno = 0;
  HivePtr h(hivex_open(path_.c_str(), 0));
  if (!h)
    return Outcome::fail(fmt::format("{}: cannot be read as a hive: {}", path_, errnoText(errno)),
                         Status::FileCorrupt);
  checkDirty();
  Key* top = store.ensure(store.root(root_), mountPath_);
  hive_node_h rootNode = hivex_root(h.get());
  if (!rootNode)
    return Outcome::fail(fmt::format("{}: has no root key: {}", path_, errnoText(errno)),
                         Status::FileCorrupt);
  top->tag = static_cast<std::uint32_t>(rootNode);
  Key* hiddenAt = nullptr;
  std::unordered_set<std::size_t> seen;
  std::size_t unreadableKeys = 0, unreadableValues = 0;
  struct Item {
    hive_node_h node;
    Key* key;
  };
  std::vector<Item> todo{{rootNode, top}};
  auto damaged = [&](Key* k, const char* what) {
    return Outcome::fail(
        fmt::format("{}: damaged at key {} ({}): {}", path_, keyPath(k), what, errnoText(errno)),
        Status::FileCorrupt);
  };
  while (!todo.empty()) {
    Item it = todo.back();
    todo.pop_back();
    if (!seen.insert(it.node).second) return damaged(it.key, "a key is reached twice, a cycle");
    errno = 0;
    Malloced<hive_value_h> values(hivex_node_values(h.get(), it.node));
    if (!values) return damaged(it.key, "its values cannot be read");
    for (hive_value_h* v = values.get(); *v; ++v) {
      errno = 0;
      Malloced<char> name(hivex_value_key(h.get(), *v));
      if (!name) {
        if (errno == ENOMEM) return damaged(it.key, "out of memory");
        // Names the store cannot spell stay in the hive untouched.
        unreadableValues_.insert(it.node);
        ++unreadableValues;
        continue;
      }
      std::uint32_t t = 0;
      std::size_t len = 0;
      errno = 0;
      Malloced<char> data(valueData(h.get(), *v, t, len));
      if (!data && len != 0) return damaged(it.key, "a value's data cannot be read");
      Bytes bytes(data ? reinterpret_cast<std::uint8_t*>(data.get()) : nullptr,
                  data ? reinterpret_cast<std::uint8_t*>(data.get()) + len : nullptr);
      std::string n = name.get();
      // One value per name, as Windows allows; a repeated name is a damaged key.
      if (it.key->value(n)) return damaged(it.key, "two values share a name");
      store.setRaw(it.key, n, t, std::move(bytes));
    }
    errno = 0;
    Malloced<hive_node_h> children(hivex_node_children(h.get(), it.node));
    if (!children) return damaged(it.key, "its subkeys cannot be read");
    std::vector<Item> next;
    for (hive_node_h* c = children.get(); *c; ++c) {
      errno = 0;
      Malloced<char> name(hivex_node_name(h.get(), *c));
      // A name the store cannot hold as one key ("a\b", empty) is left unseen with the rest.
      if (!name || !*name.get() || std::strchr(name.get(), '\\')) {
        if (!name && errno == ENOMEM) return damaged(it.key, "out of memory");
        unseen_.insert(*c);
        ++unreadableKeys;
        continue;
      }
      if (it.key->child(name.get())) return damaged(it.key, "two subkeys share a name");
      Key* child = store.ensure(it.key, name.get());
      child->tag = static_cast<std::uint32_t>(*c);
      if (!hidden_.empty() && !hiddenAt && store.find(top, hidden_) == child) {
        // Covered by another hive: leave the node alone and the key empty for that hive.
        hiddenAt = child;
        unseen_.insert(*c);
        child->tag = 0;
        continue;
      }
      next.push_back({*c, child});
    }
    // Depth first, subkeys in the hive's order.
    for (auto r = next.rbegin(); r != next.rend(); ++r) todo.push_back(*r);
  }
  if (unreadableKeys || unreadableValues)
    notes_.push_back(
        fmt::format("{}: {} key name(s) and {} value name(s) are not valid UTF-16; "
                    "they are left in the hive as they are, unseen",
                    path_, unreadableKeys, unreadableValues));
  // The hidden key was only made so that the covering hive finds its mount.
  if (hiddenAt) hiddenAt->changed = false;
  return {};
}

bool HiveFile::changed(MemoryRegistry& store) const {
  Key* top = mount(store);
  if (!top) return true;
  Key* skip = hiddenKey(store);
  std::vector<const Key*> todo{top};
  while (!todo.empty()) {
    const Key* k = todo.back();
    todo.pop_back();
    if (k->changed) return true;
    for (const auto& c : k->children)
      if (c.get() != skip) todo.push_back(c.get());
  }
  return false;
}

bool HiveFile::changedOnDisk() const { return !(stampOf(path_) == stamp_); }

Outcome HiveFile::prepare(MemoryRegistry& store) {
  abandon();
  newNodes_.clear();
  Key* top = mount(store);
  if (!top) return Outcome::fail(fmt::format("{}: its root key is gone", path_));
  if (changedOnDisk())
    return Outcome::fail(
        fmt::format("{}: changed on disk since it was read; nothing was written, "
                    "run the command again",
                    path_));
  errno = 0;
  HivePtr h(hivex_open(path_.c_str(), HIVEX_OPEN_WRITE));
  if (!h)
    return Outcome::fail(
        fmt::format("{}: cannot be opened for writing: {}", path_, errnoText(errno)));
  Key* skip = hiddenKey(store);
  auto fail = [&](const Key* k, const char* what) {
    return Outcome::fail(fmt::format("{}: could not write {} ({}): {}; nothing was written", path_,
                                     keyPath(k), what, errnoText(errno)),
                         Status::WriteFault);
  };
  auto setAll = [&](const Key* k, hive_node_h node) {
    std::vector<hive_set_value> vals;
    vals.reserve(k->values.size());
    for (const auto& v : k->values) vals.push_back(setValueOf(v));
    return hivex_node_set_values(h.get(), node, vals.size(), vals.data(), 0) == 0;
  };
  // Writes the values of a key that has a node already: untouched values stay as they are.
  auto writeValues = [&](const Key* k, hive_node_h node) -> Outcome {
    Malloced<hive_value_h> old(hivex_node_values(h.get(), node));
    if (!old) return fail(k, "reading its values");
    std::vector<std::string> oldNames;
    bool same = true;
    std::size_t readable = 0;
    for (hive_value_h* v = old.get(); *v; ++v) {
      Malloced<char> name(hivex_value_key(h.get(), *v));
      if (!name) continue;
      ++readable;
      const MemoryRegistry::Value* mine = const_cast<Key*>(k)->value(name.get());
      if (!mine) {
        oldNames.push_back(name.get());
        same = false;
        continue;
      }
      std::uint32_t t = 0;
      std::size_t len = 0;
      Malloced<char> data(valueData(h.get(), *v, t, len));
      if (t != mine->type || len != mine->data.size() ||
          (len && std::memcmp(data.get(), mine->data.data(), len) != 0))
        same = false;
    }
    if (same && readable == k->values.size()) return {};
    // hivex cannot change one value of a key whose other names it cannot read, and writing
    // the whole list would drop those.
    if (unreadableValues_.count(node))
      return Outcome::fail(fmt::format("{}: {} holds values whose names are not valid UTF-16; "
                                       "changing its values would lose them, so nothing was "
                                       "written",
                                       path_, keyPath(k)),
                           Status::AccessDenied);
    if (!oldNames.empty()) {
      if (!setAll(k, node)) return fail(k, "writing its values");
      return {};
    }
    for (const auto& v : k->values) {
      hive_value_h existing = hivex_node_get_value(h.get(), node, v.name.c_str());
      if (existing) {
        std::uint32_t t = 0;
        std::size_t len = 0;
        Malloced<char> data(valueData(h.get(), existing, t, len));
        if (t == v.type && len == v.data.size() &&
            (!len || std::memcmp(data.get(), v.data.data(), len) == 0))
          continue;
      }
      hive_set_value one = setValueOf(v);
      if (hivex_node_set_value(h.get(), node, &one, 0) != 0) return fail(k, "writing a value");
    }
    return {};
  };

  struct Item {
    const Key* key;
    hive_node_h node;
    bool fresh;
  };
  std::vector<Item> todo{{top, static_cast<hive_node_h>(top->tag), false}};
  while (!todo.empty()) {
    Item it = todo.back();
    todo.pop_back();
    if (it.fresh) {
      if (!it.key->values.empty() && !setAll(it.key, it.node)) return fail(it.key, "its values");
    } else if (it.key->changed) {
      // Subkeys gone from the store go from the hive, before new ones of the same name come.
      std::unordered_set<std::size_t> kept;
      for (const auto& c : it.key->children)
        if (c->tag) kept.insert(c->tag);
      Malloced<hive_node_h> children(hivex_node_children(h.get(), it.node));
      if (!children) return fail(it.key, "reading its subkeys");
      for (hive_node_h* c = children.get(); *c; ++c)
        if (!kept.count(*c) && !unseen_.count(*c) && hivex_node_delete_child(h.get(), *c) != 0)
          return fail(it.key, "deleting a subkey");
      if (Outcome o = writeValues(it.key, it.node); !o) return o;
    }
    for (const auto& c : it.key->children) {
      if (c.get() == skip) continue;
      if (c->tag && !it.fresh) {
        todo.push_back({c.get(), static_cast<hive_node_h>(c->tag), false});
        continue;
      }
      errno = 0;
      hive_node_h n = hivex_node_add_child(h.get(), it.node, c->name.c_str());
      if (!n) return fail(c.get(), "creating the key");
      newNodes_.emplace_back(c.get(), n);
      todo.push_back({c.get(), n, true});
    }
  }
  temp_ = path_ + ".brisquell-new";
  ::unlink(temp_.c_str());
  errno = 0;
  if (hivex_commit(h.get(), temp_.c_str(), 0) != 0 || !syncFile(temp_)) {
    int e = errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    return Outcome::fail(fmt::format("{}: could not be written beside the hive: {}; the hive is "
                                     "unchanged",
                                     path_ + ".brisquell-new", errnoText(e)),
                         Status::WriteFault);
  }
  return {};
}

Outcome HiveFile::keepCopy(const std::string& stamp) {
  if (safetyCopy_.empty()) {
    std::string copy = path_ + ".brisquell-before-" + stamp;
    for (int n = 2; ::access(copy.c_str(), F_OK) == 0; ++n)
      copy = fmt::format("{}.brisquell-before-{}-{}", path_, stamp, n);
    // A hard link keeps the original's bytes at no cost; volumes without links get a copy.
    int err = 0;
    if (::link(path_.c_str(), copy.c_str()) != 0 && !copyFile(path_, copy, err))
      return Outcome::fail(fmt::format("{}: could not keep a copy of the hive as {}: {}; nothing "
                                       "was written",
                                       path_, copy, errnoText(err)),
                           Status::WriteFault);
    safetyCopy_ = copy;
    syncFolderOf(copy);
  }
  return {};
}

Outcome HiveFile::commit(const std::string& stamp) {
  if (temp_.empty()) return {};
  if (Outcome o = keepCopy(stamp); !o) return o;
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    int e = errno;
    return Outcome::fail(fmt::format("{}: could not be replaced: {}", path_, errnoText(e)),
                         Status::WriteFault);
  }
  temp_.clear();
  committed_ = true;
  syncFolderOf(path_);
  return {};
}

Outcome HiveFile::rollBack() {
  if (!committed_ || safetyCopy_.empty()) return {};
  std::string back = path_ + ".brisquell-back";
  ::unlink(back.c_str());
  int err = 0;
  if ((::link(safetyCopy_.c_str(), back.c_str()) != 0 && !copyFile(safetyCopy_, back, err)) ||
      ::rename(back.c_str(), path_.c_str()) != 0) {
    ::unlink(back.c_str());
    return Outcome::fail(fmt::format("{}: could not be put back from {}; copy that file over it "
                                     "by hand",
                                     path_, safetyCopy_),
                         Status::WriteFault);
  }
  committed_ = false;
  stamp_ = stampOf(path_);
  syncFolderOf(path_);
  return {};
}

void HiveFile::abandon() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void HiveFile::saved(MemoryRegistry& store) {
  for (auto [key, node] : newNodes_) key->tag = static_cast<std::uint32_t>(node);
  newNodes_.clear();
  committed_ = false;
  stamp_ = stampOf(path_);
  Key* top = mount(store);
  Key* skip = hiddenKey(store);
  std::vector<Key*> todo;
  if (top) todo.push_back(top);
  while (!todo.empty()) {
    Key* k = todo.back();
    todo.pop_back();
    k->changed = false;
    for (const auto& c : k->children)
      if (c.get() != skip) todo.push_back(c.get());
  }
}

}  // namespace brisquell
