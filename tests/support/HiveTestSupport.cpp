// Hive test support: the bench's hive writer as test assertions, .reg text loading, tree dumps.
#include "support/HiveTestSupport.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "HiveWriter.h"
#include "platform/RegFile.h"
#include "platform/memory/MemoryLoader.h"

namespace brisquell::test {

namespace fs = std::filesystem;

void writeEmptyHive(const std::string& path) {
  Outcome o = brisquell::writeEmptyHive(path);
  ASSERT_TRUE(o.ok()) << o.message();
}

void writeHive(const std::string& file, MemoryRegistry& store, KeyHandle root,
               std::string_view path, std::string_view skip) {
  Outcome o = brisquell::writeHive(file, store, root, path, skip);
  ASSERT_TRUE(o.ok()) << o.message();
}

void writeOfflineWindows(const std::string& folder, MemoryRegistry& store, const std::string& user,
                         bool xpLayout) {
  Outcome o = brisquell::writeOfflineWindows(folder, store, user, xpLayout);
  ASSERT_TRUE(o.ok()) << o.message();
}

void loadRegText(MemoryRegistry& store, const std::string& body) {
  static int n = 0;
  fs::path p = fs::temp_directory_path() / fmt::format("brisquell-hive-{}-{}.reg", ::getpid(), n++);
  {
    std::ofstream out(p, std::ios::binary);
    out << "Windows Registry Editor Version 5.00\r\n\r\n" << body;
  }
  Outcome loaded = loadRegFile(p.string(), store);
  fs::remove(p);
  ASSERT_TRUE(loaded) << loaded.message();
}

std::string dumpTree(MemoryRegistry& store, KeyHandle root, std::string_view path) {
  using Key = MemoryRegistry::Key;
  Key* top = path.empty() ? store.root(root) : store.find(store.root(root), path);
  std::string out;
  if (!top) return out;
  std::vector<std::pair<const Key*, std::string>> todo{{top, std::string()}};
  while (!todo.empty()) {
    auto [k, p] = todo.back();
    todo.pop_back();
    out += "[" + p + "]\n";
    for (const auto& v : k->values) {
      out += fmt::format("  \"{}\" type {} :", v.name, v.type);
      for (auto byte : v.data) out += fmt::format(" {:02x}", byte);
      out += "\n";
    }
    for (auto c = k->children.rbegin(); c != k->children.rend(); ++c)
      todo.push_back({c->get(), p.empty() ? (*c)->name : p + "\\" + (*c)->name});
  }
  return out;
}

}  // namespace brisquell::test
