// Hive files for tests and the bench, written through hivex from an in-memory registry.
#include "support/HiveWriter.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <hivex.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "platform/RegFile.h"
#include "platform/hive/OfflineWindows.h"
#include "platform/memory/MemoryLoader.h"

namespace brisquell::test {

namespace fs = std::filesystem;

namespace {

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

void writeEmptyHive(const std::string& path) {
  // Base block (4 KB), then one 4 KB bin: the root key cell, its security cell, free space.
  std::vector<std::uint8_t> b(0x2000, 0);
  std::memcpy(b.data(), "regf", 4);
  put32(b, 4, 1);        // sequence numbers, equal: clean
  put32(b, 8, 1);
  put32(b, 20, 1);       // format version 1.3
  put32(b, 24, 3);
  put32(b, 28, 0);       // primary file
  put32(b, 32, 1);       // direct memory load
  put32(b, 36, 0x20);    // root cell, relative to the first bin
  put32(b, 40, 0x1000);  // size of the bins
  put32(b, 44, 1);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 508; i += 4)
    sum ^= b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (static_cast<std::uint32_t>(b[i + 3]) << 24);
  put32(b, 508, sum);

  const std::size_t bin = 0x1000;
  std::memcpy(&b[bin], "hbin", 4);
  put32(b, bin + 8, 0x1000);
  const std::size_t nkCell = 0x20, nkSize = 0x58, skCell = nkCell + nkSize, skSize = 0x28;
  std::size_t nk = bin + nkCell;
  put32(b, nk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));
  std::memcpy(&b[nk + 4], "nk", 2);
  put16(b, nk + 6, 0x2c);  // hive root, not deletable, ASCII name
  put32(b, nk + 0x18, 0);            // subkeys
  put32(b, nk + 0x20, 0xffffffff);   // subkey list
  put32(b, nk + 0x24, 0xffffffff);   // volatile subkey list
  put32(b, nk + 0x28, 0);            // values
  put32(b, nk + 0x2c, 0xffffffff);   // value list
  put32(b, nk + 0x30, static_cast<std::uint32_t>(skCell));
  put32(b, nk + 0x34, 0xffffffff);   // class name
  put16(b, nk + 0x4c, 4);            // name length
  std::memcpy(&b[nk + 0x50], "ROOT", 4);
  std::size_t sk = bin + skCell;
  put32(b, sk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
  std::memcpy(&b[sk + 4], "sk", 2);
  put32(b, sk + 8, static_cast<std::uint32_t>(skCell));   // a ring of one
  put32(b, sk + 12, static_cast<std::uint32_t>(skCell));
  put32(b, sk + 16, 1);   // references
  put32(b, sk + 20, 20);  // descriptor size: an empty self-relative descriptor
  b[sk + 24] = 1;
  put16(b, sk + 26, 0x8000);
  std::size_t freeCell = bin + skCell + skSize;
  put32(b, freeCell, static_cast<std::uint32_t>(0x2000 - freeCell));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  ASSERT_TRUE(out.good()) << path;
}

void writeHive(const std::string& file, MemoryRegistry& store, KeyHandle root,
               std::string_view path, std::string_view skip) {
  using Key = MemoryRegistry::Key;
  fs::create_directories(fs::path(file).parent_path());
  writeEmptyHive(file);
  hive_h* h = hivex_open(file.c_str(), HIVEX_OPEN_WRITE);
  ASSERT_TRUE(h) << file << ": " << std::strerror(errno);
  Key* top = path.empty() ? store.root(root) : store.find(store.root(root), path);
  Key* skipped = top && !skip.empty() ? store.find(top, skip) : nullptr;
  struct Item {
    const Key* key;
    hive_node_h node;
  };
  std::vector<Item> todo;
  if (top) todo.push_back({top, hivex_root(h)});
  while (!todo.empty()) {
    Item it = todo.back();
    todo.pop_back();
    std::vector<hive_set_value> vals;
    for (const auto& v : it.key->values)
      vals.push_back(hive_set_value{const_cast<char*>(v.name.c_str()),
                                    static_cast<hive_type>(v.type), v.data.size(),
                                    reinterpret_cast<char*>(const_cast<std::uint8_t*>(v.data.data()))});
    if (!vals.empty()) {
      ASSERT_EQ(hivex_node_set_values(h, it.node, vals.size(), vals.data(), 0), 0)
          << file << ": values of " << it.key->name << ": " << std::strerror(errno);
    }
    for (const auto& c : it.key->children) {
      if (c.get() == skipped) continue;
      hive_node_h n = hivex_node_add_child(h, it.node, c->name.c_str());
      ASSERT_NE(n, 0u) << file << ": key " << c->name << ": " << std::strerror(errno);
      todo.push_back({c.get(), n});
    }
  }
  ASSERT_EQ(hivex_commit(h, nullptr, 0), 0) << file << ": " << std::strerror(errno);
  hivex_close(h);
}

// The folder below base, each component reusing an existing one of another letter case.
std::string folderNoCase(const std::string& base, std::string_view rel) {
  std::string at = base;
  std::size_t i = 0;
  while (i < rel.size()) {
    std::size_t j = rel.find('/', i);
    if (j == std::string_view::npos) j = rel.size();
    std::string c(rel.substr(i, j - i));
    i = j + 1;
    std::string found = findNoCase(at, c);
    at = found.empty() ? at + "/" + c : found;
  }
  fs::create_directories(at);
  return at;
}

void writeOfflineWindows(const std::string& folder, MemoryRegistry& store, const std::string& user,
                         bool xpLayout) {
  const std::string config = folderNoCase(folder, "Windows/System32/config");
  writeHive(config + "/SOFTWARE", store, hkey::LocalMachine, "SOFTWARE");
  // The SYSTEM hive keeps control sets; the live registry's CurrentControlSet is one of them.
  MemoryRegistry system;
  MemoryRegistry::Key* sys = store.find(store.root(hkey::LocalMachine), "SYSTEM");
  MemoryRegistry::Key* dest = system.ensure(system.root(hkey::LocalMachine), "SYSTEM");
  std::vector<std::pair<const MemoryRegistry::Key*, MemoryRegistry::Key*>> todo;
  if (sys) todo.push_back({sys, dest});
  while (!todo.empty()) {
    auto [from, to] = todo.back();
    todo.pop_back();
    for (const auto& v : from->values) system.setRaw(to, v.name, v.type, v.data);
    for (const auto& c : from->children) {
      bool current = from == sys && iequals(c->name, "CurrentControlSet");
      todo.push_back({c.get(), system.ensure(to, current ? "ControlSet001" : c->name)});
    }
  }
  MemoryRegistry::Key* select = system.ensure(dest, "Select");
  if (!select->value("Current")) system.setRaw(select, "Current", regtype::Dword, {1, 0, 0, 0});
  writeHive(config + "/SYSTEM", system, hkey::LocalMachine, "SYSTEM");
  const std::string profile =
      folderNoCase(folder, (xpLayout ? "Documents and Settings/" : "Users/") + user);
  std::string ntuser = findNoCase(profile, "NTUSER.DAT");
  writeHive(ntuser.empty() ? profile + "/NTUSER.DAT" : ntuser, store, hkey::CurrentUser, "",
            "Software\\Classes");
  if (store.find(store.root(hkey::CurrentUser), "Software\\Classes"))
    writeHive(folderNoCase(profile, xpLayout ? "Local Settings/Application Data/Microsoft/Windows"
                                             : "AppData/Local/Microsoft/Windows") +
                  "/UsrClass.dat",
              store, hkey::CurrentUser, "Software\\Classes");
}

void loadRegText(MemoryRegistry& store, const std::string& body) {
  static int n = 0;
  fs::path p = fs::temp_directory_path() / fmt::format("brisquell-hive-{}-{}.reg", ::getpid(), n++);
  {
    std::ofstream out(p, std::ios::binary);
    out << "Windows Registry Editor Version 5.00\r\n\r\n" << body;
  }
  RegError err;
  bool ok = loadRegFile(p.string(), store, err);
  fs::remove(p);
  ASSERT_TRUE(ok) << err.message();
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
