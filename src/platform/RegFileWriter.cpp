// .reg writer: regedit's layout (CR LF, hex lines wrapped at 80 columns), chosen so that every
// value survives a round trip byte for byte.
#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "platform/Bytes.h"
#include "platform/RegFile.h"
#include "platform/RegTreeWriter.h"
#include "platform/memory/MemoryRegistry.h"

namespace brisquell {

namespace {

constexpr std::size_t kFlushAt = 1 << 20;

class Emitter {
 public:
  Emitter(RegFormat format, const std::function<bool(const char*, std::size_t)>& out)
      : format_(format), out_(out) {
    if (format_ == RegFormat::Version5) bytes_.assign("\xFF\xFE", 2);
  }

  std::string& text() { return text_; }

  bool flush(bool force) {
    if (!force && text_.size() < kFlushAt) return true;
    if (format_ == RegFormat::Version5) {
      // Written in place: UTF-16 never takes more than two bytes per UTF-8 byte.
      std::size_t base = bytes_.size();
      bytes_.resize(base + 2 * text_.size());
      char* o = bytes_.data() + base;
      const std::size_t n = text_.size();
      std::size_t i = 0;
      while (i < n) {
        for (; i < n && static_cast<unsigned char>(text_[i]) < 0x80; ++i, o += 2) {
          o[0] = text_[i];
          o[1] = '\0';
        }
        if (i == n) break;
        std::size_t e = i;
        while (e < n && static_cast<unsigned char>(text_[e]) >= 0x80) ++e;
        Bytes u = toUtf16le(std::string_view(text_).substr(i, e - i));
        std::memcpy(o, u.data(), u.size());
        o += u.size();
        i = e;
      }
      bytes_.resize(static_cast<std::size_t>(o - bytes_.data()));
    } else {
      bytes_ += text_;
    }
    text_.clear();
    bool ok = bytes_.empty() || out_(bytes_.data(), bytes_.size());
    bytes_.clear();
    return ok;
  }

 private:
  RegFormat format_;
  const std::function<bool(const char*, std::size_t)>& out_;
  std::string text_, bytes_;
};

// Quoted text: "\\" and "\"" escaped; in value names also CR and LF, as "\r" and "\n" (string
// data holding them is written as hex instead, which every reader takes).
void appendEscaped(std::string& out, std::string_view s, bool name = false) {
  std::size_t i = 0;
  while (i < s.size()) {  // runs without anything to escape go in one piece
    std::size_t j = i;
    while (j < s.size() && s[j] != '\\' && s[j] != '"' && !(name && (s[j] == '\r' || s[j] == '\n')))
      ++j;
    out.append(s.data() + i, j - i);
    if (j == s.size()) break;
    out.push_back('\\');
    out.push_back(s[j] == '\r' ? 'r' : s[j] == '\n' ? 'n' : s[j]);
    i = j + 1;
  }
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// A regtype::Sz prints as "text" only when reading it back gives the very same bytes.
bool printableString(const Bytes& d, std::string& text) {
  if (d.size() < 2 || d.size() % 2 || d[d.size() - 1] || d[d.size() - 2]) return false;
  for (std::size_t i = 0; i + 2 < d.size(); i += 2) {
    std::uint16_t u = d[i] | d[i + 1] << 8;
    if (u == 0 || u == '\r' || u == '\n') return false;
  }
  if (!isLosslessUtf16le(d.data(), d.size())) return false;
  text = fromUtf16le(d.data(), d.size() - 2);
  return true;
}

void appendHex(std::string& out, std::size_t column, const std::uint8_t* d, std::size_t n) {
  appendHexList(out, column, d, n, "\\\r\n");
}

void appendValue(std::string& out, RegFormat format, std::string_view name, std::uint32_t type,
                 const Bytes& data) {
  std::size_t lineStart = out.size();
  if (name.empty()) {
    out += "@=";
  } else {
    out.push_back('"');
    appendEscaped(out, name, true);
    out += "\"=";
  }
  std::string text;
  if (type == regtype::Sz && printableString(data, text)) {
    out.push_back('"');
    appendEscaped(out, text);
    out += "\"\r\n";
    return;
  }
  if (type == regtype::Dword && data.size() == 4) {
    fmt::format_to(std::back_inserter(out), "dword:{:08x}\r\n", dwordOf(data));
    return;
  }
  if (type == regtype::Binary)
    out += "hex:";
  else
    fmt::format_to(std::back_inserter(out), "hex({:x}):", type);
  // The column counts characters, as regedit does; the name may hold multi-byte UTF-8.
  std::size_t column = 0;
  for (std::size_t i = lineStart; i < out.size(); ++i)
    if ((static_cast<unsigned char>(out[i]) & 0xC0) != 0x80) ++column;
  if (format == RegFormat::Regedit4 && isTextType(type)) {
    std::string ansi = fromUtf16le(data);
    appendHex(out, column, reinterpret_cast<const std::uint8_t*>(ansi.data()), ansi.size());
  } else {
    appendHex(out, column, data.data(), data.size());
  }
  out += "\r\n";
}

Outcome writeFailed() {
  return Outcome::fail("the export could not be written", Status::WriteFault);
}

Outcome writeKey(RegistryStore& store, KeyHandle key, std::string& path, Emitter& em,
                 RegFormat format) {
  if (hasLineBreak(path)) return unwritableKeyName(path);
  std::string& out = em.text();
  out.push_back('[');
  out += path;
  out += "]\r\n";
  std::string name;
  std::uint32_t type;
  Bytes data;
  for (std::uint32_t i = 0; store.enumValueRaw(key, i, name, type, data) == Status::Success; ++i)
    appendValue(out, format, name, type, data);
  out += "\r\n";
  if (!em.flush(false)) return writeFailed();
  std::size_t len = path.size();
  for (std::uint32_t i = 0; store.enumKey(key, i, name) == Status::Success; ++i) {
    KeyHandle child = 0;
    if (store.openKey(key, name, keyaccess::AllAccess, child) != Status::Success) continue;
    ScopedKey guard(store, child);
    path.push_back('\\');
    path += name;
    Outcome r = writeKey(store, child, path, em, format);
    path.resize(len);
    if (!r) return r;
  }
  return {};
}

// The path of an existing key as the store spells it, whatever case the caller used.
std::string storedPath(RegistryStore& store, KeyHandle root, std::string_view path) {
  std::string out;
  ScopedKey current;
  KeyHandle parent = root;
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t j = std::min(path.find('\\', i), path.size());
    std::string_view component = path.substr(i, j - i);
    i = j + 1;
    if (component.empty()) continue;
    std::string name, stored(component);
    for (std::uint32_t k = 0; store.enumKey(parent, k, name) == Status::Success; ++k)
      if (iequals(name, component)) {
        stored = name;
        break;
      }
    KeyHandle child = 0;
    if (store.openKey(parent, stored, 0, child) != Status::Success) return std::string(path);
    current.reset(&store, child);
    parent = child;
    out += out.empty() ? "" : "\\";
    out += stored;
  }
  return out;
}

}  // namespace

Outcome writeReg(RegistryStore& store, KeyHandle root, std::string_view path, RegFormat format,
                 const std::function<bool(const char*, std::size_t)>& out) {
  // An in-memory tree is written from its keys directly, on several threads.
  auto* memory = format == RegFormat::Version5 ? dynamic_cast<MemoryRegistry*>(&store) : nullptr;
  std::vector<RegTreeTop> tops;
  Emitter em(format, out);
  auto one = [&](KeyHandle r, std::string_view p, bool skipEmpty) -> Outcome {
    KeyHandle h = 0;
    Status st = store.openKey(r, p, keyaccess::AllAccess, h);
    if (st != Status::Success) {
      if (skipEmpty) return {};
      return Outcome::fail(
          fmt::format("the key {}\\{} cannot be opened (error {})", rootName(r), p, st), st);
    }
    ScopedKey guard(store, h);
    if (skipEmpty) {
      std::uint32_t keys = 0, values = 0;
      store.queryInfo(h, keys, values);
      if (keys == 0 && values == 0) return {};
    }
    std::string full(rootName(r));
    if (std::string stored = storedPath(store, r, p); !stored.empty()) {
      full.push_back('\\');
      full += stored;
    }
    if (memory) {
      tops.push_back(RegTreeTop{memory->resolve(h), std::move(full)});
      return {};
    }
    return writeKey(store, h, full, em, format);
  };
  if (!memory)
    em.text() = format == RegFormat::Version5 ? "Windows Registry Editor Version 5.00\r\n\r\n"
                                              : "REGEDIT4\r\n\r\n";
  if (root == 0) {
    for (KeyHandle r : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig})
      if (Outcome res = one(r, "", true); !res) return res;
  } else if (Outcome res = one(root, path, false); !res) {
    return res;
  }
  if (memory) return writeRegTree(tops, out);
  return em.flush(true) ? Outcome() : writeFailed();
}

std::string exportReg(RegistryStore& store, KeyHandle root, std::string_view path,
                      RegFormat format) {
  std::string all;
  Outcome r = writeReg(store, root, path, format, [&](const char* d, std::size_t n) {
    all.append(d, n);
    return true;
  });
  if (!r) all.clear();
  return all;
}

}  // namespace brisquell
