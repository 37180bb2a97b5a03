// Registry walks. Names and data are read whole, so a long value is examined like any other
// and a key that holds values is never taken for an empty one.
#include "scan/Walkers.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "scan/Checks.h"

namespace brisquell {

std::string valueTextOf(std::uint32_t type, const Bytes& data) {
  switch (type) {
    case regtype::Sz:
    case regtype::MultiSz: return std::string(data.begin(), std::find(data.begin(), data.end(), 0));
    case regtype::Dword: {
      if (data.size() < 4) return {};
      return std::to_string(static_cast<std::int32_t>(dwordOf(data)));
    }
    default: return {};
  }
}

// Only the part before the first NUL is converted, and the types the checks never read are not
// converted at all.
void valueTextOfRaw(std::uint32_t type, const Bytes& raw, std::string& text) {
  switch (type) {
    case regtype::Sz:
    case regtype::MultiSz: {
      // ASCII up to the first NUL, as nearly every value is: narrowed four units at a time.
      const std::size_t units = raw.size() / 2;
      const unsigned char* p = raw.data();
      text.resize(units);  // in the buffer of the last value: no allocation per value
      char* out = text.data();
      std::size_t k = 0;
      if constexpr (std::endian::native == std::endian::little) {
        for (std::uint64_t w; k + 4 <= units; k += 4) {
          std::memcpy(&w, p + 2 * k, 8);
          // Each unit below 0x80 and none zero: adding 0x7F sets bit 7 of every unit.
          if ((w & 0xFF80FF80FF80FF80ull) != 0 ||
              ((w + 0x007F007F007F007Full) & 0x0080008000800080ull) != 0x0080008000800080ull)
            break;
          out[k] = static_cast<char>(w);
          out[k + 1] = static_cast<char>(w >> 16);
          out[k + 2] = static_cast<char>(w >> 32);
          out[k + 3] = static_cast<char>(w >> 48);
        }
      }
      for (; k < units && (p[2 * k] | p[2 * k + 1]); ++k) {
        if (p[2 * k + 1] != 0 || p[2 * k] >= 0x80) {
          std::size_t end = k;
          while (end < units && (p[2 * end] | p[2 * end + 1])) ++end;
          text = fromUtf16le(p, 2 * end);
          return;
        }
        out[k] = static_cast<char>(p[2 * k]);
      }
      text.resize(k);
      return;
    }
    case regtype::Dword:
      if (raw.size() < 4) break;
      text = std::to_string(static_cast<std::int32_t>(dwordOf(raw)));
      return;
    default: break;
  }
  text.clear();
}

namespace {

// One walk's buffers, reused for every key and value it reads.
struct WalkState {
  ScanContext& ctx;
  RegistryStore& store;
  KeyHandle root;
  std::string_view section, rootName;
  bool examined;
  std::string valueName, text;
  Bytes data;
  std::string path;
};

bool examinedIn(std::string_view section) {
  return section != "Registry Integrity" && section != "File Extensions";
}

void walkValues(WalkState& w, KeyHandle h, const std::string& keyPath) {
  ScanContext& ctx = w.ctx;
  const std::int32_t rootKey = signedHandle(w.root);
  std::uint32_t type = 0;
  for (std::uint32_t i = 0;; ++i) {
    if (ctx.bCancelScan) return;
    bool ok = w.store.enumValueRaw(h, i, w.valueName, type, w.data) == Status::Success;
    if (!ok && i == 0) {
      // An empty help folder key or open-with list is itself the problem.
      if ((icontains(keyPath, "TypeLib\\") && icontains(keyPath, "\\HELPDIR")) ||
          (icontains(keyPath,
                     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\") &&
           icontains(keyPath, "\\OpenWithList")))
        CheckPathExistinDirectory(ctx, "", w.section, "", rootKey, w.rootName, keyPath);
    }
    if (ok) {
      valueTextOfRaw(type, w.data, w.text);
      ctx.observer().valueLabel(w.text);
      if (ctx.bCancelScan) return;
      if (w.examined)
        CheckPathExistinDirectory(ctx, w.text, w.section, w.valueName, rootKey, w.rootName,
                                  keyPath);
    }
    if (ctx.bCancelScan) return;
    ctx.doEvents();
    if (!ok) return;
  }
}

// Every subkey below the open key `h`, whose path is `w.path`: each opened once, relative to
// its parent, for both its values and its own subkeys. The path is built in place and left as
// it was found.
void walkKeys(WalkState& w, KeyHandle h) {
  ScanContext& ctx = w.ctx;
  const std::size_t base = w.path.size();
  std::string name;
  for (std::uint32_t i = 0; w.store.enumKey(h, i, name) == Status::Success; ++i) {
    w.path.resize(base);
    if (base) w.path += '\\';
    w.path += name;
    ctx.observer().keyLabel(name);
    KeyHandle sub = 0;
    if (w.store.openKey(h, name, keyaccess::AllAccess, sub) == Status::Success) {
      ScopedKey subKey(w.store, sub);
      walkValues(w, sub, w.path);
      walkKeys(w, sub);
    } else if (w.store.openKey(h, name, keyaccess::EnumerateSubKeys, sub) == Status::Success) {
      // Its values cannot be read, but its subkeys can still be listed.
      ScopedKey subKey(w.store, sub);
      walkKeys(w, sub);
    }
    if (ctx.bCancelScan) break;
    ctx.doEvents();
  }
  w.path.resize(base);
}

}  // namespace

void EnumerateRegKeys(ScanContext& ctx, KeyHandle root, const std::string& keyPath,
                      std::string_view section, std::string_view rootName) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, keyPath, keyaccess::EnumerateSubKeys, h) != Status::Success) return;
  ScopedKey key(store, h);
  WalkState w{ctx, store, root, section, rootName, examinedIn(section), {}, {}, {}, keyPath};
  walkKeys(w, h);
}

void EnumerateRegKeyValues(ScanContext& ctx, KeyHandle root, const std::string& keyPath,
                           std::string_view section, std::string_view rootName) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return;
  ScopedKey key(store, h);
  WalkState w{ctx, store, root, section, rootName, examinedIn(section), {}, {}, {}, {}};
  walkValues(w, h, keyPath);
}
void EnumerateRegKeyNames(ScanContext& ctx, KeyHandle root, const std::string& keyPath) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return;
  ScopedKey key(store, h);
  std::string name;
  for (std::uint32_t i = 0; store.enumKey(h, i, name) == Status::Success; ++i) {
    ctx.observer().keyLabel(name);
    ctx.doEvents();
    if (ctx.bCancelScan) return;
  }
}

}  // namespace brisquell
