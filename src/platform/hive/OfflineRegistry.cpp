// Offline registry: a store over the mounted hives' tree that presents HKCR and
// CurrentControlSet as Windows does.
#include "platform/hive/OfflineRegistry.h"

namespace brisquell {

namespace {

constexpr std::string_view kUserClasses = "Software\\Classes";
constexpr std::string_view kMachineClasses = "SOFTWARE\\Classes";

std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t j = path.find('\\', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i) out.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

std::string join(std::string_view a, std::string_view b) {
  std::string out;
  for (auto part : {a, b})
    for (auto c : components(part)) {
      if (!out.empty()) out += '\\';
      out += c;
    }
  return out;
}

std::string_view parentOf(std::string_view path) {
  auto p = path.rfind('\\');
  return p == std::string_view::npos ? std::string_view() : path.substr(0, p);
}

}  // namespace

// ---- classes handles ----

OfflineRegistry::ClassesHandle* OfflineRegistry::classes(KeyHandle h) {
  std::uint32_t slot = h & ~kClassesBit;
  if (slot >= classes_.size() || !classes_[slot].open) return nullptr;
  return &classes_[slot];
}

KeyHandle OfflineRegistry::addClasses(std::string path) {
  std::uint32_t slot;
  if (!freeClasses_.empty()) {
    slot = freeClasses_.back();
    freeClasses_.pop_back();
  } else {
    slot = static_cast<std::uint32_t>(classes_.size());
    classes_.emplace_back();
  }
  ClassesHandle& c = classes_[slot];
  c.path = std::move(path);
  c.open = true;
  c.generation = ~0ull;
  c.children.clear();
  return kClassesBit | slot;
}

OfflineRegistry::Key* OfflineRegistry::userClasses(std::string_view path) {
  Key* root = mem_.find(mem_.root(hkey::CurrentUser), kUserClasses);
  return root ? mem_.find(root, path) : nullptr;
}

OfflineRegistry::Key* OfflineRegistry::machineClasses(std::string_view path) {
  Key* root = mem_.find(mem_.root(hkey::LocalMachine), kMachineClasses);
  return root ? mem_.find(root, path) : nullptr;
}

OfflineRegistry::Key* OfflineRegistry::classesHolder(std::string_view path) {
  Key* u = userClasses(path);
  return u ? u : machineClasses(path);
}

const std::vector<std::string>& OfflineRegistry::mergedChildren(ClassesHandle& c) {
  if (c.generation == generation_) return c.children;
  c.children.clear();
  Key* u = userClasses(c.path);
  Key* m = machineClasses(c.path);
  if (u)
    for (const auto& k : u->children) c.children.push_back(k->name);
  if (m)
    for (const auto& k : m->children)
      if (!u || !u->child(k->name)) c.children.push_back(k->name);
  c.generation = generation_;
  return c.children;
}

std::string OfflineRegistry::classesLocation(std::string_view path) {
  std::string p = join(path, "");
  if (userClasses(p)) return join("HKEY_CURRENT_USER\\Software\\Classes", p);
  return join("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", p);
}

// ---- plain keys ----

std::string OfflineRegistry::spell(KeyHandle key, std::string_view subKey, Status& status) {
  status = Status::Success;
  Key* k = mem_.resolve(key);
  Key* system = mem_.find(mem_.root(hkey::LocalMachine), "SYSTEM");
  std::string out;
  for (auto c : components(subKey)) {
    std::string_view name = c;
    if (k && system && k == system && iequals(c, "CurrentControlSet")) {
      if (controlSet_.empty()) {
        status = Status::FileNotFound;  // no control set is current: nothing to show or make
        return {};
      }
      name = controlSet_;
    }
    if (!out.empty()) out += '\\';
    out += name;
    k = k ? k->child(name) : nullptr;
  }
  return out;
}

bool OfflineRegistry::insideMount(KeyHandle key, std::string_view subKey) {
  Key* base = mem_.resolve(key);
  if (!base) return false;
  std::vector<std::string> path;
  const Key* top = base;
  for (; top->parent; top = top->parent) path.insert(path.begin(), top->name);
  for (auto c : components(subKey)) path.emplace_back(c);
  for (const Mount& m : mounts_) {
    if (mem_.root(m.root) != top) continue;
    auto mc = components(m.path);
    if (mc.size() > path.size()) continue;
    bool prefix = true;
    for (std::size_t i = 0; i < mc.size() && prefix; ++i) prefix = iequals(mc[i], path[i]);
    if (prefix) return true;
  }
  return false;
}

bool OfflineRegistry::holdsMount(const Key* k) {
  for (const Mount& m : mounts_) {
    const Key* mk = mem_.find(mem_.root(m.root), m.path);
    for (; mk; mk = mk->parent)
      if (mk == k) return true;
  }
  return false;
}

// ---- the store's calls ----

Status OfflineRegistry::openKey(KeyHandle key, std::string_view subKey, std::uint32_t access,
                                KeyHandle& result) {
  result = 0;
  if (key == hkey::ClassesRoot || isClasses(key)) {
    ClassesHandle* c = key == hkey::ClassesRoot ? nullptr : classes(key);
    if (key != hkey::ClassesRoot && !c) return Status::InvalidHandle;
    std::string p = join(c ? c->path : "", subKey);
    if (!userClasses(p) && !machineClasses(p)) return Status::FileNotFound;
    result = addClasses(std::move(p));
    return Status::Success;
  }
  Status st;
  std::string s = spell(key, subKey, st);
  if (st != Status::Success) return st;
  return mem_.openKey(key, s, access, result);
}

Status OfflineRegistry::createKey(KeyHandle key, std::string_view subKey, KeyHandle& result) {
  result = 0;
  if (key == hkey::ClassesRoot || isClasses(key)) {
    ClassesHandle* c = key == hkey::ClassesRoot ? nullptr : classes(key);
    if (key != hkey::ClassesRoot && !c) return Status::InvalidHandle;
    std::string p = join(c ? c->path : "", subKey);
    if (!userClasses(p) && !machineClasses(p)) {
      // A new key joins its parent: in the user's classes when only they hold the parent,
      // else in the machine's.
      std::string_view parent = p;
      do parent = parentOf(parent);
      while (!parent.empty() && !userClasses(parent) && !machineClasses(parent));
      bool user = !parent.empty() && userClasses(parent) && !machineClasses(parent);
      KeyHandle root = user ? hkey::CurrentUser : hkey::LocalMachine;
      std::string full = join(user ? kUserClasses : kMachineClasses, p);
      if (!insideMount(root, full)) return Status::AccessDenied;
      mem_.ensure(mem_.root(root), full);
      ++generation_;
    }
    result = addClasses(std::move(p));
    return Status::Success;
  }
  Status st;
  std::string s = spell(key, subKey, st);
  if (st != Status::Success) return st == Status::FileNotFound ? Status::AccessDenied : st;
  if (mem_.openKey(key, s, keyaccess::AllAccess, result) == Status::Success) return Status::Success;
  if (!mem_.resolve(key)) return (key & 0x80000000u) ? Status::InvalidHandle : Status::KeyDeleted;
  if (!insideMount(key, s)) return Status::AccessDenied;  // no hive would hold it
  ++generation_;
  return mem_.createKey(key, s, result);
}

Status OfflineRegistry::closeKey(KeyHandle key) {
  if (!isClasses(key)) return mem_.closeKey(key);
  ClassesHandle* c = classes(key);
  if (!c) return Status::InvalidHandle;
  c->open = false;
  c->children.clear();
  c->children.shrink_to_fit();
  freeClasses_.push_back(key & ~kClassesBit);
  return Status::Success;
}

Status OfflineRegistry::enumKey(KeyHandle key, std::uint32_t index, std::string& name) {
  if (key != hkey::ClassesRoot && !isClasses(key)) return mem_.enumKey(key, index, name);
  ClassesHandle* c = key == hkey::ClassesRoot ? &rootClasses_ : classes(key);
  if (!c) return Status::InvalidHandle;
  if (key != hkey::ClassesRoot && !classesHolder(c->path)) return Status::KeyDeleted;
  const auto& children = mergedChildren(*c);
  if (index >= children.size()) return Status::NoMoreItems;
  name = children[index];
  return Status::Success;
}

Status OfflineRegistry::enumValueRaw(KeyHandle key, std::uint32_t index, std::string& name,
                                     std::uint32_t& type, Bytes& data) {
  if (key != hkey::ClassesRoot && !isClasses(key))
    return mem_.enumValueRaw(key, index, name, type, data);
  ClassesHandle* c = key == hkey::ClassesRoot ? nullptr : classes(key);
  if (key != hkey::ClassesRoot && !c) return Status::InvalidHandle;
  Key* k = classesHolder(c ? c->path : "");
  if (!k) return c ? Status::KeyDeleted : Status::NoMoreItems;
  if (index >= k->values.size()) return Status::NoMoreItems;
  const auto& v = k->values[index];
  name = v.name;
  type = v.type;
  data = v.data;
  return Status::Success;
}

Status OfflineRegistry::queryValueRaw(KeyHandle key, std::string_view name, std::uint32_t& type,
                                      Bytes& data) {
  if (key != hkey::ClassesRoot && !isClasses(key)) return mem_.queryValueRaw(key, name, type, data);
  ClassesHandle* c = key == hkey::ClassesRoot ? nullptr : classes(key);
  if (key != hkey::ClassesRoot && !c) return Status::InvalidHandle;
  Key* k = classesHolder(c ? c->path : "");
  if (!k) return c ? Status::KeyDeleted : Status::FileNotFound;
  auto* v = k->value(name);
  if (!v) return Status::FileNotFound;
  type = v->type;
  data = v->data;
  return Status::Success;
}

Status OfflineRegistry::setValueRaw(KeyHandle key, std::string_view name, std::uint32_t type,
                                    const Bytes& data) {
  Key* k = nullptr;
  if (key == hkey::ClassesRoot || isClasses(key)) {
    ClassesHandle* c = key == hkey::ClassesRoot ? nullptr : classes(key);
    if (key != hkey::ClassesRoot && !c) return Status::InvalidHandle;
    k = classesHolder(c ? c->path : "");
    if (!k && !c) {
      if (!insideMount(hkey::LocalMachine, kMachineClasses)) return Status::AccessDenied;
      k = mem_.ensure(mem_.root(hkey::LocalMachine), kMachineClasses);
    }
    if (!k) return Status::KeyDeleted;
  } else {
    k = mem_.resolve(key);
    if (!k) return Status::InvalidHandle;
    if (!insideMount(key, "")) return Status::AccessDenied;
  }
  ++generation_;
  mem_.setRaw(k, name, type, data);
  return Status::Success;
}

Status OfflineRegistry::openClassesHolder(KeyHandle key, KeyHandle& result) {
  result = 0;
  ClassesHandle* c = key == hkey::ClassesRoot ? nullptr : classes(key);
  if (key != hkey::ClassesRoot && !c) return Status::InvalidHandle;
  Key* k = classesHolder(c ? c->path : "");
  if (!k) return c ? Status::KeyDeleted : Status::FileNotFound;
  // The store's own deletion keeps its indexes and marks right.
  std::string p = c ? c->path : "";
  bool user = k == userClasses(p);
  return mem_.openKey(user ? hkey::CurrentUser : hkey::LocalMachine,
                      join(user ? kUserClasses : kMachineClasses, p), 0, result);
}

template <class Delete>
Status OfflineRegistry::deleteValuesOf(KeyHandle key, Delete del) {
  if (key != hkey::ClassesRoot && !isClasses(key)) {
    ++generation_;
    return del(key);
  }
  KeyHandle h = 0;
  Status st = openClassesHolder(key, h);
  if (st != Status::Success) return st;
  ++generation_;
  st = del(h);
  mem_.closeKey(h);
  return st;
}

Status OfflineRegistry::deleteValue(KeyHandle key, std::string_view name) {
  return deleteValuesOf(key, [&](KeyHandle h) { return mem_.deleteValue(h, name); });
}

Status OfflineRegistry::deleteValuesFrom(KeyHandle key, std::uint32_t first) {
  return deleteValuesOf(key, [&](KeyHandle h) { return mem_.deleteValuesFrom(h, first); });
}

Status OfflineRegistry::deleteKey(KeyHandle key, std::string_view subKey) {
  return remove(key, subKey, false);
}

Status OfflineRegistry::deleteTree(KeyHandle key, std::string_view subKey) {
  return remove(key, subKey, true);
}

Status OfflineRegistry::remove(KeyHandle key, std::string_view subKey, bool withSubkeys) {
  if (key == hkey::ClassesRoot || isClasses(key)) {
    ClassesHandle* c = key == hkey::ClassesRoot ? nullptr : classes(key);
    if (key != hkey::ClassesRoot && !c) return Status::InvalidHandle;
    std::string p = join(c ? c->path : "", subKey);
    Key* u = userClasses(p);
    Key* m = machineClasses(p);
    if (!u && !m) return Status::FileNotFound;
    if (!withSubkeys && (p.empty() || (u && !u->children.empty()) || (m && !m->children.empty())))
      return Status::AccessDenied;
    if ((u && holdsMount(u)) || (m && holdsMount(m))) return Status::AccessDenied;
    ++generation_;
    // What HKCR shows goes: the user's key and the machine's one it hid.
    if (u) mem_.removeTree(u);
    if (m) mem_.removeTree(m);
    return Status::Success;
  }
  Status st;
  std::string s = spell(key, subKey, st);
  if (st != Status::Success) return st;
  Key* base = mem_.resolve(key);
  Key* k = base ? mem_.find(base, s) : nullptr;
  if (k && holdsMount(k)) return Status::AccessDenied;
  ++generation_;
  return withSubkeys ? mem_.deleteTree(key, s) : mem_.deleteKey(key, s);
}

Status OfflineRegistry::queryInfo(KeyHandle key, std::uint32_t& subKeys, std::uint32_t& values) {
  if (key != hkey::ClassesRoot && !isClasses(key)) return mem_.queryInfo(key, subKeys, values);
  ClassesHandle* c = key == hkey::ClassesRoot ? &rootClasses_ : classes(key);
  if (!c) return Status::InvalidHandle;
  Key* k = classesHolder(c->path);
  if (!k && key != hkey::ClassesRoot) return Status::KeyDeleted;
  subKeys = static_cast<std::uint32_t>(mergedChildren(*c).size());
  values = k ? static_cast<std::uint32_t>(k->values.size()) : 0;
  return Status::Success;
}

// Text calls: the raw calls with string data seen as UTF-8.

KeyLocation OfflineRegistry::canonicalKey(KeyHandle root, std::string_view path) {
  if (root != hkey::ClassesRoot) return {root, std::string(path)};
  std::string p = join(path, "");
  if (userClasses(p)) return {hkey::CurrentUser, join("Software\\Classes", p)};
  return {hkey::LocalMachine, join("SOFTWARE\\Classes", p)};
}

}  // namespace brisquell
