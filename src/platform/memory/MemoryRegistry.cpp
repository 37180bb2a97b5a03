// In-memory registry: insertion-ordered keys and values, names matched without regard to case.
#include "platform/memory/MemoryRegistry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace brisquell {

namespace {
constexpr std::string_view kClassesPath = "SOFTWARE\\Classes";

// Splits "a\b\c" lazily; empty components (doubled or edge backslashes) are skipped.
template <class F>
bool forEachComponent(std::string_view path, F f) {
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t j = path.find('\\', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i && !f(path.substr(i, j - i))) return false;
    i = j + 1;
  }
  return true;
}
}  // namespace

// ---- NameIndex ----

void NameIndex::insert(std::vector<std::uint64_t>& slots, std::uint64_t slot) {
  std::size_t mask = slots.size() - 1;
  std::size_t i = static_cast<std::size_t>(slot >> 32) & mask;
  while (slots[i]) i = (i + 1) & mask;
  slots[i] = slot;
}

// Only writers grow a table, and nothing reads while a store is written.
void NameIndex::grow() {
  std::vector<std::uint64_t>* old = slots_.load(std::memory_order_relaxed);
  auto* bigger = new std::vector<std::uint64_t>(old->size() * 2, 0);
  for (std::uint64_t s : *old)
    if (s) insert(*bigger, s);
  slots_.store(bigger, std::memory_order_relaxed);
  delete old;
}

template <class Getter>
void NameIndex::rebuild(std::size_t count, Getter nameAt) const {
  std::size_t cap = 16;
  while (cap < count * 2) cap *= 2;
  auto fresh = std::make_unique<std::vector<std::uint64_t>>(cap, 0);
  for (std::size_t p = 0; p < count; ++p) {
    Hash h;
    insert(*fresh, std::uint64_t{h.get(nameAt(p))} << 32 | (p + 1));
  }
  std::vector<std::uint64_t>* none = nullptr;
  if (slots_.compare_exchange_strong(none, fresh.get(), std::memory_order_acq_rel))
    fresh.release();  // else another reader built the same table first
}

template <class Getter>
std::int64_t NameIndex::find(std::string_view name, Hash& hash, std::size_t count,
                             Getter nameAt) const {
  if (count <= kLinearLimit) {
    for (std::size_t p = 0; p < count; ++p)
      if (iequals(nameAt(p), name)) return static_cast<std::int64_t>(p);
    return -1;
  }
  const std::vector<std::uint64_t>* table = slots_.load(std::memory_order_acquire);
  if (!table) {
    rebuild(count, nameAt);
    table = slots_.load(std::memory_order_acquire);
  }
  const auto& slots = *table;
  std::size_t mask = slots.size() - 1;
  std::uint32_t h = hash.get(name);
  for (std::size_t i = h & mask; slots[i]; i = (i + 1) & mask) {
    std::uint64_t s = slots[i];
    if (static_cast<std::uint32_t>(s >> 32) != h) continue;
    std::size_t p = static_cast<std::uint32_t>(s) - 1;
    if (iequals(nameAt(p), name)) return static_cast<std::int64_t>(p);
  }
  return -1;
}

void NameIndex::added(std::uint32_t position, std::string_view name, Hash& hash,
                      std::size_t count) {
  std::vector<std::uint64_t>* table = slots_.load(std::memory_order_relaxed);
  if (!table) return;  // built on the next lookup
  if (count * 2 > table->size()) {
    grow();
    table = slots_.load(std::memory_order_relaxed);
  }
  insert(*table, std::uint64_t{hash.get(name)} << 32 | (std::uint64_t{position} + 1));
}

// ---- KeyArena ----

KeyArena::~KeyArena() {
  for (const Chunk& c : chunks_) {
#if defined(__linux__)
    if (c.mapped) {
      ::munmap(c.base, c.size);
      continue;
    }
#endif
    ::operator delete(c.base);
  }
}

void* KeyArena::take(std::size_t size) {
  constexpr std::size_t kAlign = alignof(std::max_align_t);
  size = (size + kAlign - 1) & ~(kAlign - 1);
  if (static_cast<std::size_t>(end_ - next_) < size) {
    constexpr std::size_t kLargest = std::size_t{4} << 20;
    std::size_t want = std::max(nextSize_, size);
    nextSize_ = std::min(nextSize_ * 2, kLargest);
    chunks_.reserve(chunks_.size() + 1);  // so that keeping the chunk cannot throw
    Chunk c{nullptr, want, false};
#if defined(__linux__)
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (want >= kHuge) {  // mapped on a 2 MiB boundary, so that huge pages can back it
      std::size_t span = want + kHuge;
      void* m = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (m != MAP_FAILED) {
        auto at = reinterpret_cast<std::uintptr_t>(m);
        std::uintptr_t aligned = (at + kHuge - 1) & ~(kHuge - 1);
        if (aligned > at) ::munmap(m, aligned - at);
        if (std::uintptr_t tail = at + span - (aligned + want))
          ::munmap(reinterpret_cast<void*>(aligned + want), tail);
        c.base = reinterpret_cast<void*>(aligned);
        c.mapped = true;
        ::madvise(c.base, want, MADV_HUGEPAGE);
      }
    }
#endif
    if (!c.base) c.base = ::operator new(want);
    chunks_.push_back(c);
    next_ = static_cast<char*>(c.base);
    end_ = next_ + want;
  }
  void* p = next_;
  next_ += size;
  return p;
}

void KeyArena::adopt(KeyArena& other) {
  chunks_.insert(chunks_.end(), other.chunks_.begin(), other.chunks_.end());
  other.chunks_.clear();
  other.next_ = other.end_ = nullptr;
}

// ---- Key ----

void MemoryRegistry::KeyDelete::operator()(Key* k) const {
  if (k->inArena)
    k->~Key();
  else
    delete k;
}

MemoryRegistry::Key* MemoryRegistry::Key::child(std::string_view n) const {
  NameIndex::Hash h;
  return child(n, h);
}

MemoryRegistry::Key* MemoryRegistry::Key::child(std::string_view n, NameIndex::Hash& h) const {
  auto p = childIndex.find(n, h, children.size(),
                           [this](std::size_t i) -> std::string_view { return children[i]->name; });
  return p < 0 ? nullptr : children[p].get();
}

MemoryRegistry::Value* MemoryRegistry::Key::value(std::string_view n) {
  NameIndex::Hash h;
  return value(n, h);
}

MemoryRegistry::Value* MemoryRegistry::Key::value(std::string_view n, NameIndex::Hash& h) {
  auto p = valueIndex.find(n, h, values.size(),
                           [this](std::size_t i) -> std::string_view { return values[i].name; });
  return p < 0 ? nullptr : &values[p];
}

// ---- MemoryRegistry ----

MemoryRegistry::MemoryRegistry() : hklm_(new Key), hkcu_(new Key), hku_(new Key), hkcc_(new Key) {
  hklm_->name = "HKEY_LOCAL_MACHINE";
  hkcu_->name = "HKEY_CURRENT_USER";
  hku_->name = "HKEY_USERS";
  hkcc_->name = "HKEY_CURRENT_CONFIG";
}

MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Key* MemoryRegistry::root(KeyHandle predefined) {
  switch (predefined) {
    case hkey::LocalMachine: return hklm_.get();
    case hkey::CurrentUser: return hkcu_.get();
    case hkey::Users: return hku_.get();
    case hkey::CurrentConfig: return hkcc_.get();
    case hkey::ClassesRoot: return classesRoot(false);
    default: return nullptr;
  }
}

MemoryRegistry::Key* MemoryRegistry::classesRoot(bool create) {
  return create ? ensure(hklm_.get(), kClassesPath) : find(hklm_.get(), kClassesPath);
}

MemoryRegistry::Key* MemoryRegistry::resolve(KeyHandle key) { return resolveIn(handles_, key); }

MemoryRegistry::Key* MemoryRegistry::resolveIn(const Handles& handles, KeyHandle key) {
  if (key & 0x80000000u) return root(key);
  if (key == 0 || key > handles.keys.size()) return nullptr;
  return handles.keys[key - 1];
}

MemoryRegistry::Key* MemoryRegistry::find(Key* from, std::string_view path) const {
  Key* k = from;
  forEachComponent(path, [&](std::string_view c) {
    k = k->child(c);
    return k != nullptr;
  });
  return k;
}

MemoryRegistry::Key* MemoryRegistry::ensure(Key* from, std::string_view path) {
  Key* k = from;
  forEachComponent(path, [&](std::string_view c) {
    k = ensureChild(k, c);
    return true;
  });
  return k;
}

MemoryRegistry::Key* MemoryRegistry::ensureChild(Key* parent, std::string_view name) {
  NameIndex::Hash h;
  if (Key* found = parent->child(name, h)) return found;
  KeyPtr created(new (arena_.take(sizeof(Key))) Key);
  created->inArena = true;
  created->name = std::string(name);
  created->parent = parent;
  created->changed = true;
  parent->changed = true;
  Key* k = created.get();
  parent->children.push_back(std::move(created));
  parent->childIndex.added(static_cast<std::uint32_t>(parent->children.size() - 1), name, h,
                           parent->children.size());
  modified_ = true;
  return k;
}

void MemoryRegistry::setRaw(Key* key, std::string_view name, std::uint32_t type, Bytes data) {
  modified_ = true;
  key->changed = true;
  NameIndex::Hash h;
  if (Value* v = key->value(name, h)) {
    v->type = type;
    v->data = std::move(data);
    return;
  }
  key->values.push_back(Value{std::string(name), type, std::move(data)});
  key->valueIndex.added(static_cast<std::uint32_t>(key->values.size() - 1), name, h,
                        key->values.size());
}

namespace {
void mergeKey(MemoryRegistry::Key& into, MemoryRegistry::Key& from) {
  into.changed = into.changed || from.changed;
  for (auto& v : from.values) {
    NameIndex::Hash h;
    if (MemoryRegistry::Value* mine = into.value(v.name, h)) {
      mine->type = v.type;
      mine->data = std::move(v.data);
      continue;
    }
    into.values.push_back(std::move(v));
    into.valueIndex.added(static_cast<std::uint32_t>(into.values.size() - 1),
                          into.values.back().name, h, into.values.size());
  }
  from.values.clear();
  from.valueIndex.invalidate();
  for (auto& c : from.children) {
    NameIndex::Hash h;
    if (MemoryRegistry::Key* mine = into.child(c->name, h)) {
      mergeKey(*mine, *c);
      continue;
    }
    c->parent = &into;
    into.children.push_back(std::move(c));
    into.childIndex.added(static_cast<std::uint32_t>(into.children.size() - 1),
                          into.children.back()->name, h, into.children.size());
  }
  from.children.clear();
  from.childIndex.invalidate();
}
}  // namespace

void MemoryRegistry::mergeLoaded(MemoryRegistry& later) {
  arena_.adopt(later.arena_);  // first: merging ends keys of `later` that this store already has
  for (KeyHandle r : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig})
    mergeKey(*root(r), *later.root(r));
  modified_ = modified_ || later.modified_;
}

void MemoryRegistry::forgetHandlesBelow(const Key* key) {
  for (auto& h : handles_.keys) {
    for (const Key* k = h; k; k = k->parent)
      if (k == key) {
        h = nullptr;
        break;
      }
  }
}

void MemoryRegistry::removeTree(Key* key) {
  Key* parent = key->parent;
  if (!parent) {  // a root cannot go; it is emptied instead
    forgetHandlesBelow(key);
    key->children.clear();
    key->values.clear();
    key->childIndex.invalidate();
    key->valueIndex.invalidate();
    key->changed = true;
    modified_ = true;
    return;
  }
  forgetHandlesBelow(key);
  parent->changed = true;
  auto it = std::find_if(parent->children.begin(), parent->children.end(),
                         [key](const auto& c) { return c.get() == key; });
  parent->children.erase(it);
  parent->childIndex.invalidate();
  modified_ = true;
}

KeyHandle MemoryRegistry::Handles::add(Key* key) {
  if (!free.empty()) {
    std::uint32_t h = free.back();
    free.pop_back();
    keys[h - 1] = key;
    open[h - 1] = true;
    return h;
  }
  keys.push_back(key);
  open.push_back(true);
  return static_cast<KeyHandle>(keys.size());
}

Status MemoryRegistry::Handles::close(KeyHandle key) {
  if (key & 0x80000000u) return Status::Success;
  if (key == 0 || key > keys.size() || !open[key - 1])
    return Status::InvalidHandle;  // closing twice must not hand one handle out twice
  keys[key - 1] = nullptr;
  open[key - 1] = false;
  free.push_back(key);
  return Status::Success;
}

Status MemoryRegistry::openIn(Handles& handles, KeyHandle key, std::string_view subKey,
                              KeyHandle& result) {
  result = 0;
  if (!(key & 0x80000000u) && (key == 0 || key > handles.keys.size())) return Status::InvalidHandle;
  Key* base = resolveIn(handles, key);
  if (!base) return key & 0x80000000u ? Status::FileNotFound : Status::KeyDeleted;
  // Spelt exactly as the subkey just enumerated: that one (names are unique in any case).
  if (base == handles.enumerated && handles.enumeratedAt < base->children.size()) {
    Key* c = base->children[handles.enumeratedAt].get();
    if (c->name == subKey) {
      result = handles.add(c);
      return Status::Success;
    }
  }
  Key* k = find(base, subKey);
  if (!k) return Status::FileNotFound;
  result = handles.add(k);
  return Status::Success;
}

Status MemoryRegistry::openKey(KeyHandle key, std::string_view subKey, std::uint32_t,
                               KeyHandle& result) {
  return openIn(handles_, key, subKey, result);
}

Status MemoryRegistry::createKey(KeyHandle key, std::string_view subKey, KeyHandle& result) {
  result = 0;
  Key* base = key == hkey::ClassesRoot ? classesRoot(true) : resolve(key);
  if (!base) return (key & 0x80000000u) ? Status::InvalidHandle : Status::KeyDeleted;
  result = handles_.add(ensure(base, subKey));
  return Status::Success;
}

Status MemoryRegistry::closeKey(KeyHandle key) { return handles_.close(key); }

#define BRISQUELL_KEY_OR_FAIL(k, h) \
  Key* k = resolve(h);              \
  if (!k) return ((h)&0x80000000u) ? Status::FileNotFound : Status::InvalidHandle

// The reads, on a key already resolved: the store and its concurrent readers share them.
namespace {
using Key = MemoryRegistry::Key;

Status enumKeyOf(const Key& k, std::uint32_t index, std::string& name) {
  if (index >= k.children.size()) return Status::NoMoreItems;
  name = k.children[index]->name;
  return Status::Success;
}

Status enumValueOf(const Key& k, std::uint32_t index, std::string& name, std::uint32_t& type,
                   Bytes& data) {
  if (index >= k.values.size()) return Status::NoMoreItems;
  const MemoryRegistry::Value& v = k.values[index];
  name = v.name;
  type = v.type;
  data = v.data;
  return Status::Success;
}

Status queryValueOf(Key& k, std::string_view name, std::uint32_t& type, Bytes& data) {
  const MemoryRegistry::Value* v = k.value(name);
  if (!v) return Status::FileNotFound;
  type = v->type;
  data = v->data;
  return Status::Success;
}

Status queryInfoOf(const Key& k, std::uint32_t& subKeys, std::uint32_t& values) {
  subKeys = static_cast<std::uint32_t>(k.children.size());
  values = static_cast<std::uint32_t>(k.values.size());
  return Status::Success;
}
}  // namespace

Status MemoryRegistry::enumKey(KeyHandle key, std::uint32_t index, std::string& name) {
  BRISQUELL_KEY_OR_FAIL(k, key);
  handles_.enumerated = k;
  handles_.enumeratedAt = index;
  return enumKeyOf(*k, index, name);
}

Status MemoryRegistry::enumValueRaw(KeyHandle key, std::uint32_t index, std::string& name,
                                    std::uint32_t& type, Bytes& data) {
  BRISQUELL_KEY_OR_FAIL(k, key);
  return enumValueOf(*k, index, name, type, data);
}

Status MemoryRegistry::queryValueRaw(KeyHandle key, std::string_view name, std::uint32_t& type,
                                     Bytes& data) {
  BRISQUELL_KEY_OR_FAIL(k, key);
  return queryValueOf(*k, name, type, data);
}

Status MemoryRegistry::setValueRaw(KeyHandle key, std::string_view name, std::uint32_t type,
                                   const Bytes& data) {
  Key* k = key == hkey::ClassesRoot ? classesRoot(true) : resolve(key);
  if (!k) return Status::InvalidHandle;
  setRaw(k, name, type, data);
  return Status::Success;
}

Status MemoryRegistry::deleteValue(KeyHandle key, std::string_view name) {
  BRISQUELL_KEY_OR_FAIL(k, key);
  auto it = std::find_if(k->values.begin(), k->values.end(),
                         [&](const Value& v) { return iequals(v.name, name); });
  if (it == k->values.end()) return Status::FileNotFound;
  k->values.erase(it);
  k->valueIndex.invalidate();
  k->changed = true;
  modified_ = true;
  return Status::Success;
}

// One erase of the tail; the name table is built again once, on the next lookup.
Status MemoryRegistry::deleteValuesFrom(KeyHandle key, std::uint32_t first) {
  BRISQUELL_KEY_OR_FAIL(k, key);
  if (first >= k->values.size()) return Status::Success;
  k->values.erase(k->values.begin() + first, k->values.end());
  k->valueIndex.invalidate();
  k->changed = true;
  modified_ = true;
  return Status::Success;
}

Status MemoryRegistry::deleteKey(KeyHandle key, std::string_view subKey) {
  BRISQUELL_KEY_OR_FAIL(base, key);
  Key* k = find(base, subKey);
  if (!k || k == base) return k ? Status::AccessDenied : Status::FileNotFound;
  if (!k->children.empty()) return Status::AccessDenied;
  removeTree(k);
  return Status::Success;
}

Status MemoryRegistry::deleteTree(KeyHandle key, std::string_view subKey) {
  BRISQUELL_KEY_OR_FAIL(base, key);
  Key* k = find(base, subKey);
  if (!k) return Status::FileNotFound;
  removeTree(k);
  return Status::Success;
}

KeyLocation MemoryRegistry::canonicalKey(KeyHandle root, std::string_view path) {
  if (root != hkey::ClassesRoot) return {root, std::string(path)};
  std::string p(kClassesPath);
  if (!path.empty()) p.append("\\").append(path);
  return {hkey::LocalMachine, std::move(p)};
}

Status MemoryRegistry::queryInfo(KeyHandle key, std::uint32_t& subKeys, std::uint32_t& values) {
  BRISQUELL_KEY_OR_FAIL(k, key);
  return queryInfoOf(*k, subKeys, values);
}

// Reads the same tree through handles of its own; the tree itself is only read, and its lazily
// built name tables are published atomically.
class MemoryRegistry::Reader final : public RegistryStore {
 public:
  explicit Reader(MemoryRegistry& tree) : tree_(tree) {}

  Status openKey(KeyHandle key, std::string_view subKey, std::uint32_t,
                 KeyHandle& result) override {
    return tree_.openIn(handles_, key, subKey, result);
  }
  Status createKey(KeyHandle, std::string_view, KeyHandle& result) override {
    result = 0;
    return Status::AccessDenied;
  }
  Status closeKey(KeyHandle key) override { return handles_.close(key); }
  Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) override {
    BRISQUELL_KEY_OR_FAIL(k, key);
    handles_.enumerated = k;
    handles_.enumeratedAt = index;
    return enumKeyOf(*k, index, name);
  }
  Status deleteValue(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status deleteValuesFrom(KeyHandle, std::uint32_t) override { return Status::AccessDenied; }
  Status deleteKey(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status deleteTree(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status enumValueRaw(KeyHandle key, std::uint32_t index, std::string& name, std::uint32_t& type,
                      Bytes& data) override {
    BRISQUELL_KEY_OR_FAIL(k, key);
    return enumValueOf(*k, index, name, type, data);
  }
  Status queryValueRaw(KeyHandle key, std::string_view name, std::uint32_t& type,
                       Bytes& data) override {
    BRISQUELL_KEY_OR_FAIL(k, key);
    return queryValueOf(*k, name, type, data);
  }
  Status setValueRaw(KeyHandle, std::string_view, std::uint32_t, const Bytes&) override {
    return Status::AccessDenied;
  }
  Status queryInfo(KeyHandle key, std::uint32_t& subKeys, std::uint32_t& values) override {
    BRISQUELL_KEY_OR_FAIL(k, key);
    return queryInfoOf(*k, subKeys, values);
  }
  KeyLocation canonicalKey(KeyHandle root, std::string_view path) override {
    return tree_.canonicalKey(root, path);
  }
  bool modified() const override { return tree_.modified(); }
  void markSaved() override {}

 private:
  Key* resolve(KeyHandle key) { return tree_.resolveIn(handles_, key); }
  MemoryRegistry& tree_;
  Handles handles_;
};

std::unique_ptr<RegistryStore> MemoryRegistry::concurrentReader() {
  return std::make_unique<Reader>(*this);
}

}  // namespace brisquell
