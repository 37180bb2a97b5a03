// Writing Wine's registry files: unchanged keys as they were read, changed keys as Wine's
// server writes them (its escaping, its hex layout, the save's time).
#include "platform/wine/WineRegistryFile.h"

#include <cstdio>

#include <fmt/format.h>

#include "platform/AtomicFile.h"
#include "platform/Bytes.h"

namespace brisquell {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ull;
constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;

std::u16string toUnits(std::string_view utf8) {
  Bytes b = toUtf16le(utf8);
  std::u16string u(b.size() / 2, u'\0');
  for (std::size_t i = 0; i < u.size(); ++i)
    u[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return u;
}

// "[path] seconds" and "#time=": the path from the file's root, each name escaped.
void appendKeyLine(const MemoryRegistry::Key* key, std::uint64_t now, std::string& out) {
  out += "\n[";
  std::vector<const MemoryRegistry::Key*> chain;
  for (const MemoryRegistry::Key* k = key; k && k->parent; k = k->parent) chain.push_back(k);
  for (std::size_t i = chain.size(); i-- > 0;) {
    std::u16string u = toUnits(chain[i]->name);
    wineEscape(u.data(), u.size(), '[', ']', out, false);
    if (i) out += "\\\\";
  }
  out += fmt::format("] {}\n#time={:x}{:08x}\n",
                     static_cast<std::uint32_t>((now - kTicks1601To1970) / kTicksPerSecond),
                     static_cast<std::uint32_t>(now >> 32), static_cast<std::uint32_t>(now));
}

void appendValue(const MemoryRegistry::Value& v, std::string& out) {
  std::size_t count;  // the line's length so far, for the hex wrap
  if (v.name.empty()) {
    out += "@=";
    count = 2;
  } else {
    out += '"';
    std::u16string u = toUnits(v.name);
    count = 1 + wineEscape(u.data(), u.size(), '"', '"', out, false);
    out += "\"=";
    count += 2;
  }
  const Bytes& d = v.data;
  if (isTextType(v.type) && d.size() >= 2 && d.size() % 2 == 0 && !d[d.size() - 1] &&
      !d[d.size() - 2]) {
    if (v.type != regtype::Sz) out += fmt::format("str({:x}):", v.type);
    out += '"';
    std::u16string u(d.size() / 2, u'\0');
    for (std::size_t i = 0; i < u.size(); ++i)
      u[i] = static_cast<char16_t>(d[2 * i] | (d[2 * i + 1] << 8));
    wineEscape(u.data(), u.size(), '"', '"', out);
    out += "\"\n";
    return;
  }
  if (v.type == regtype::Dword && d.size() == 4) {
    out += fmt::format("dword:{:08x}\n", dwordOf(d));
    return;
  }
  std::string tag =
      v.type == regtype::Binary ? std::string("hex:") : fmt::format("hex({:x}):", v.type);
  out += tag;
  appendHexList(out, count + tag.size(), d.data(), d.size(), "\\\n");
  out += '\n';
}

}  // namespace

std::size_t wineEscape(const char16_t* str, std::size_t len, char e1, char e2, std::string& out,
                       bool finalNulImplied) {
  static const char escapes[33] = ".......abtnvfr.............e....";
  std::size_t start = out.size();
  char buf[16];
  for (; len; ++str, --len) {
    char16_t c = *str;
    if (c > 127) {
      bool hexNext = len > 1 && str[1] < 128 && hexDigit(static_cast<char>(str[1])) >= 0;
      int n = std::snprintf(buf, sizeof buf, hexNext ? "\\x%04x" : "\\x%x", unsigned(c));
      out.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (c < 32) {
      if (!c && len == 1 && finalNulImplied) continue;  // the terminating NUL is implied
      int n;
      if (escapes[c] != '.')
        n = std::snprintf(buf, sizeof buf, "\\%c", escapes[c]);
      else if (len > 1 && str[1] >= '0' && str[1] <= '7')
        n = std::snprintf(buf, sizeof buf, "\\%03o", unsigned(c));
      else
        n = std::snprintf(buf, sizeof buf, "\\%o", unsigned(c));
      out.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (c == '\\' || c == e1 || c == e2) out += '\\';
    out += static_cast<char>(c);
  }
  return out.size() - start;
}

void WineRegistryFile::renderKey(MemoryRegistry::Key* key, std::uint64_t now, std::string& out,
                                 std::vector<Pending>* pending) const {
  const Block* block = key->tag ? &blocks_[key->tag - 1] : nullptr;
  if (!key->changed) {
    if (block) {
      // A file's last block may lack its final newline; written before another, it needs one.
      if (!out.empty() && out.back() != '\n') out += '\n';
      out += blockText(*block);
    }
  } else {
    // Wine leaves a key with subkeys and nothing of its own implicit. The file's root is
    // written only when it holds something of its own: an empty branch is an empty file.
    const bool special = block && (!block->classLine.empty() || block->link);
    const bool explicitKey =
        !key->values.empty() || special || (key->children.empty() && key->parent != nullptr);
    std::size_t start = out.size();
    if (explicitKey) {
      appendKeyLine(key, now, out);
      if (block) {
        out += block->classLine;
        if (block->link) out += "#link\n";
      }
      for (const auto& v : key->values) appendValue(v, out);
    }
    if (pending) pending->push_back(Pending{key, out.substr(start)});
  }
  for (const auto& c : key->children) renderKey(c.get(), now, out, pending);
}

std::string WineRegistryFile::render(std::uint64_t now) const {
  std::string out;
  out.reserve(source_.size() + 4096);
  out.append(source_, 0, headerEnd_);
  renderKey(store_.root(root_), now, out, nullptr);
  out.append(source_, trailerBegin_, std::string::npos);
  return out;
}

WineRegistryFile::Prepared WineRegistryFile::prepare(std::uint64_t now) const {
  Prepared p;
  std::string& out = p.text_;
  out.reserve(source_.size() + 4096);
  out.append(source_, 0, headerEnd_);
  renderKey(store_.root(root_), now, out, &p.pending_);
  out.append(source_, trailerBegin_, std::string::npos);
  return p;
}

Result<bool> WineRegistryFile::save(const std::string& path) {
  if (!changed()) return false;
  Prepared prepared = prepare(currentTime());
  const std::string& out = prepared.text();
  AtomicFile file(path);
  if (Outcome r = file.open(); !r) return r.error();
  if (!file.write(out.data(), out.size()))
    return Result<bool>::fail(
        fmt::format("{}: could not be saved (write failed); the previous file is unchanged", path),
        Status::WriteFault);
  if (Outcome r = file.commit(); !r) return r.error();
  saved(std::move(prepared));
  return true;
}

void WineRegistryFile::saved(Prepared&& prepared) {
  for (auto& p : prepared.pending_) {
    if (p.text.empty()) {
      p.key->tag = 0;
      continue;
    }
    if (!p.key->tag) {
      blocks_.push_back(Block{});
      p.key->tag = static_cast<std::uint32_t>(blocks_.size());
    }
    Block& b = blocks_[p.key->tag - 1];
    b.text = std::move(p.text);
    b.own = true;
  }
  std::vector<MemoryRegistry::Key*> stack{store_.root(root_)};
  while (!stack.empty()) {
    MemoryRegistry::Key* k = stack.back();
    stack.pop_back();
    k->changed = false;
    for (auto& c : k->children) stack.push_back(c.get());
  }
}

}  // namespace brisquell
