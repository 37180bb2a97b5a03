// Hive files through hivex from an in-memory registry, and offline installations made of them.
#include "HiveWriter.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <hivex.h>

#include <fmt/format.h>

#include "platform/hive/OfflineWindows.h"

namespace brisquell {

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

Outcome writeEmptyHive(const std::string& path) {
  // Base block (4 KB), then one 4 KB bin: the root key cell, its security cell, free space.
  std::vector<std::uint8_t> b(0x2000, 0);
  std::memcpy(b.data(), "regf", 4);
  put32(b, 4, 1);  // sequence numbers, equal: clean
  put32(b, 8, 1);
  put32(b, 20, 1);  // format version 1.3
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
  put16(b, nk + 6, 0x2c);           // hive root, not deletable, ASCII name
  put32(b, nk + 0x18, 0);           // subkeys
  put32(b, nk + 0x20, 0xffffffff);  // subkey list
  put32(b, nk + 0x24, 0xffffffff);  // volatile subkey list
  put32(b, nk + 0x28, 0);           // values
  put32(b, nk + 0x2c, 0xffffffff);  // value list
  put32(b, nk + 0x30, static_cast<std::uint32_t>(skCell));
  put32(b, nk + 0x34, 0xffffffff);  // class name
  put16(b, nk + 0x4c, 4);           // name length
  std::memcpy(&b[nk + 0x50], "ROOT", 4);
  std::size_t sk = bin + skCell;
  put32(b, sk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
  std::memcpy(&b[sk + 4], "sk", 2);
  put32(b, sk + 8, static_cast<std::uint32_t>(skCell));  // a ring of one
  put32(b, sk + 12, static_cast<std::uint32_t>(skCell));
  put32(b, sk + 16, 1);   // references
  put32(b, sk + 20, 20);  // descriptor size: an empty self-relative descriptor
  b[sk + 24] = 1;
  put16(b, sk + 26, 0x8000);
  std::size_t freeCell = bin + skCell + skSize;
  put32(b, freeCell, static_cast<std::uint32_t>(0x2000 - freeCell));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  out.close();
  if (!out) return Outcome::fail(fmt::format("{}: could not be written", path));
  return {};
}

Outcome writeHive(const std::string& file, MemoryRegistry& store, KeyHandle root,
                  std::string_view path, std::string_view skip) {
  using Key = MemoryRegistry::Key;
  std::error_code ec;
  fs::create_directories(fs::path(file).parent_path(), ec);
  if (Outcome o = writeEmptyHive(file); !o) return o;
  hive_h* h = hivex_open(file.c_str(), HIVEX_OPEN_WRITE);
  if (!h) return Outcome::fail(fmt::format("{}: {}", file, std::strerror(errno)));
  auto failed = [&](const std::string& what) {
    std::string message = fmt::format("{}: {}: {}", file, what, std::strerror(errno));
    hivex_close(h);
    return Outcome::fail(message);
  };
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
    for (const auto& v : it.key->values) {
      hive_set_value s{const_cast<char*>(v.name.c_str()), hive_t_REG_NONE, v.data.size(),
                       reinterpret_cast<char*>(const_cast<std::uint8_t*>(v.data.data()))};
      std::memcpy(&s.t, &v.type, sizeof s.t);  // any type number, not only the enum's names
      vals.push_back(s);
    }
    if (!vals.empty() && hivex_node_set_values(h, it.node, vals.size(), vals.data(), 0) != 0)
      return failed("values of " + it.key->name);
    for (const auto& c : it.key->children) {
      if (c.get() == skipped) continue;
      hive_node_h n = hivex_node_add_child(h, it.node, c->name.c_str());
      if (!n) return failed("key " + c->name);
      todo.push_back({c.get(), n});
    }
  }
  if (hivex_commit(h, nullptr, 0) != 0) return failed("commit");
  hivex_close(h);
  return {};
}

// The folder below base, each component reusing an existing one of another letter case.
namespace {

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
  std::error_code ec;
  fs::create_directories(at, ec);
  return at;
}

}  // namespace

Outcome writeOfflineWindows(const std::string& folder, MemoryRegistry& store,
                            const std::string& user, bool xpLayout) {
  const std::string config = folderNoCase(folder, "Windows/System32/config");
  if (Outcome o = writeHive(config + "/SOFTWARE", store, hkey::LocalMachine, "SOFTWARE"); !o)
    return o;
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
  if (Outcome o = writeHive(config + "/SYSTEM", system, hkey::LocalMachine, "SYSTEM"); !o) return o;
  const std::string profile =
      folderNoCase(folder, (xpLayout ? "Documents and Settings/" : "Users/") + user);
  std::string ntuser = findNoCase(profile, "NTUSER.DAT");
  if (Outcome o = writeHive(ntuser.empty() ? profile + "/NTUSER.DAT" : ntuser, store,
                            hkey::CurrentUser, "", "Software\\Classes");
      !o)
    return o;
  if (store.find(store.root(hkey::CurrentUser), "Software\\Classes"))
    return writeHive(
        folderNoCase(profile, xpLayout ? "Local Settings/Application Data/Microsoft/Windows"
                                       : "AppData/Local/Microsoft/Windows") +
            "/UsrClass.dat",
        store, hkey::CurrentUser, "Software\\Classes");
  return {};
}

}  // namespace brisquell
