// Reading, changing and matching the ignore list.
#include "shell/IgnoreList.h"

#include <algorithm>

#include <fmt/format.h>

#include "scan/KnownKeys.h"

namespace brisquell {

namespace {

// One spelling of a key for comparison: where the store keeps it, folded.
std::string identity(RegistryStore& store, KeyHandle root, std::string_view path) {
  KeyLocation at = store.canonicalKey(root, path);
  std::string p = at.path;
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return foldCase(std::string(rootName(at.root)) + (p.empty() ? "" : "\\" + p));
}

// The root and path of "HKEY_...\path".
std::optional<std::pair<KeyHandle, std::string>> split(std::string_view key) {
  std::size_t slash = key.find('\\');
  KeyHandle root = rootFromName(key.substr(0, slash));
  if (!root) return std::nullopt;
  return std::pair{
      root, slash == std::string_view::npos ? std::string() : std::string(key.substr(slash + 1))};
}

}  // namespace

bool IgnoreEntry::operator==(const IgnoreEntry& o) const {
  if (!iequals(key, o.key) || value.has_value() != o.value.has_value()) return false;
  return !value || iequals(*value, *o.value);
}

std::string IgnoreEntry::text() const {
  return value ? fmt::format("{}  {}", key, *value) : key + "  (the key and below)";
}

Result<IgnoreEntry> IgnoreList::entry(std::string_view key, std::optional<std::string> value) {
  std::string_view k = key;
  while (!k.empty() && k.back() == '\\') k.remove_suffix(1);
  auto parts = split(k);
  if (!parts || k.empty())
    return Result<IgnoreEntry>::fail(fmt::format(
        "\"{}\" is no registry key: write it as HKEY_LOCAL_MACHINE\\path (or HKLM\\path, "
        "HKCU\\path, HKCR\\path)",
        key));
  IgnoreEntry e;
  e.key = std::string(rootName(parts->first)) + (parts->second.empty() ? "" : "\\" + parts->second);
  if (value) e.value = value->empty() ? std::string("(Default)") : *value;
  return e;
}

std::optional<IgnoreEntry> IgnoreList::entryFor(const ProblemRecord& r) {
  if (r.isFileProblem() || r.MainKeyName.empty()) return std::nullopt;
  return IgnoreEntry{r.MainKeyName + "\\" + r.FullKeyPath, r.KeyName};
}

std::vector<IgnoreEntry> IgnoreList::load(RegistryAccess& registry) {
  std::vector<IgnoreEntry> list;
  RegistryStore& store = registry.store();
  KeyHandle h = 0;
  if (store.openKey(hkey::LocalMachine, kKey, keyaccess::AllAccess, h) != Status::Success)
    return list;
  ScopedKey key(store, h);
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; store.enumKey(h, i, name) == Status::Success; ++i)
    names.push_back(name);
  // Numbered entries in number order; anything else after them, by name.
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    auto num = [](const std::string& s) {
      return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos
                 ? std::stoul(s)
                 : ~0ul;
    };
    return num(a) < num(b);
  });
  for (const std::string& n : names) {
    const std::string sub = std::string(kKey) + "\\" + n;
    std::string k, v;
    if (!registry.QueryValue(hkey::LocalMachine, sub, "Key", k)) continue;
    std::optional<std::string> value;
    if (registry.QueryValue(hkey::LocalMachine, sub, "Value", v)) value = v;
    if (auto e = entry(k, value)) list.push_back(*e);
  }
  return list;
}

Outcome IgnoreList::save(RegistryAccess& registry, const std::vector<IgnoreEntry>& list) {
  RegistryStore& store = registry.store();
  KeyHandle h = 0;
  if (store.openKey(hkey::LocalMachine, kProductKey, keyaccess::AllAccess, h) == Status::Success) {
    ScopedKey product(store, h);
    Status st = store.deleteTree(h, "Ignore");
    if (st != Status::Success && st != Status::FileNotFound && st != Status::PathNotFound)
      return Outcome::fail(fmt::format("the ignore list could not be rewritten (error {})", st),
                           st);
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string sub = fmt::format("{}\\{}", kKey, i + 1);
    Status st = registry.SetKeyValue(hkey::LocalMachine, sub, "Key", list[i].key, regtype::Sz);
    if (st == Status::Success && list[i].value)
      st = registry.SetKeyValue(hkey::LocalMachine, sub, "Value", *list[i].value, regtype::Sz);
    if (st != Status::Success)
      return Outcome::fail(fmt::format("the registry refused the ignore list (error {})", st), st);
  }
  return {};
}

Outcome IgnoreList::add(RegistryAccess& registry, const IgnoreEntry& e, bool& added) {
  std::vector<IgnoreEntry> list = load(registry);
  added = std::find(list.begin(), list.end(), e) == list.end();
  if (!added) return {};
  list.push_back(e);
  return save(registry, list);
}

Outcome IgnoreList::remove(RegistryAccess& registry, const IgnoreEntry& e, bool& found) {
  std::vector<IgnoreEntry> list = load(registry);
  auto it = std::find(list.begin(), list.end(), e);
  found = it != list.end();
  if (!found) return {};
  list.erase(it);
  return save(registry, list);
}

bool IgnoreList::covers(RegistryStore& store, const std::vector<IgnoreEntry>& list,
                        const ProblemRecord& r) {
  if (list.empty() || r.isFileProblem()) return false;
  KeyHandle root = rootFromName(r.MainKeyName);
  if (!root) return false;
  const std::string here = identity(store, root, r.FullKeyPath);
  for (const IgnoreEntry& e : list) {
    auto parts = split(e.key);
    if (!parts) continue;
    const std::string key = identity(store, parts->first, parts->second);
    if (e.value) {
      if (here == key && iequals(*e.value, r.KeyName)) return true;
    } else if (here == key || (here.size() > key.size() && here.compare(0, key.size(), key) == 0 &&
                               here[key.size()] == '\\')) {
      return true;
    }
  }
  return false;
}

void IgnoreList::applyTo(ScanContext& ctx) {
  std::vector<IgnoreEntry> list = load(ctx.registry());
  if (list.empty()) {
    ctx.leaveOut = nullptr;
    return;
  }
  RegistryStore& store = ctx.registry().store();
  ctx.leaveOut = [list = std::move(list), &store](const ProblemRecord& r) {
    return covers(store, list, r);
  };
}

}  // namespace brisquell
