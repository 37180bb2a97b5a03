// Fast .reg loading: exports list a key right after its parent, so most lookups start from
// the previous key's chain instead of the root.
#include "platform/memory/MemoryLoader.h"

namespace brisquell {

void MemoryLoader::key(KeyHandle root, std::string_view path) {
  KeyLocation view;
  if (root == hkey::ClassesRoot) {  // only views are mapped: the common case costs no copy
    view = store_.canonicalKey(root, path);
    path = view.path;
    root = view.root;
  }
  if (root != lastRoot_) {
    chain_.clear();
    lastPath_.clear();
    lastRoot_ = root;
  }
  // Deepest level of the previous chain whose path is a prefix of this one at a "\" boundary.
  while (!chain_.empty()) {
    std::size_t len = chain_.back().first;
    if (len <= path.size() && (len == path.size() || path[len] == '\\') &&
        std::string_view(lastPath_).substr(0, len) == path.substr(0, len))
      break;
    chain_.pop_back();
  }
  MemoryRegistry::Key* base = chain_.empty() ? store_.root(root) : chain_.back().second;
  std::size_t pos = chain_.empty() ? 0 : chain_.back().first;
  if (chain_.empty()) chain_.emplace_back(0, base);
  while (pos < path.size()) {
    if (path[pos] == '\\') ++pos;
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) base = store_.ensure(base, path.substr(pos, end - pos));
    chain_.emplace_back(end, base);
    pos = end;
  }
  lastPath_.assign(path);
  current_ = base;
}

void MemoryLoader::deleteKey(KeyHandle root, std::string_view path) {
  chain_.clear();
  lastPath_.clear();
  current_ = nullptr;
  KeyHandle h = 0;
  if (store_.openKey(root, "", keyaccess::AllAccess, h) == Status::Success) {
    store_.deleteTree(h, path);
    store_.closeKey(h);
  }
}

void MemoryLoader::value(std::string_view name, std::uint32_t type, Bytes data) {
  if (current_) store_.setRaw(current_, name, type, std::move(data));
}

void MemoryLoader::deleteValue(std::string_view name) {
  if (!current_) return;
  auto& vals = current_->values;
  for (auto it = vals.begin(); it != vals.end(); ++it)
    if (iequals(it->name, name)) {
      vals.erase(it);
      current_->valueIndex.invalidate();
      return;
    }
}

Outcome loadRegFile(const std::string& path, MemoryRegistry& store) {
  MemoryLoader loader(store);
  if (auto parsed = parseRegFile(path, loader); !parsed) return parsed.error();
  store.markSaved();
  return {};
}

}  // namespace brisquell
