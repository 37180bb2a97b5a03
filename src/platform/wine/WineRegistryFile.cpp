// Wine's registry files: a strict reader and a writer that reproduces what Wine writes.
#include "platform/wine/WineRegistryFile.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "platform/AtomicFile.h"

namespace brisquell {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ull;
constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
unsigned hexValue(char c) {
  return c <= '9' ? unsigned(c - '0') : c <= 'F' ? unsigned(c - 'A' + 10) : unsigned(c - 'a' + 10);
}

std::string_view trimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  return s.substr(i);
}

bool onlySpace(std::string_view s) { return trimLeft(s).empty(); }

// Decodes Wine's escaped text up to `end` (not included). Plain bytes stand for themselves, as
// Wine reads them. Returns the position after `end`, or npos when the text is not closed.
std::size_t unescape(std::string_view s, char end, std::u16string& out) {
  out.clear();
  std::size_t i = 0;
  while (i < s.size() && s[i] != end) {
    char c = s[i];
    if (c != '\\') {
      out.push_back(static_cast<unsigned char>(c));
      ++i;
      continue;
    }
    if (++i >= s.size()) break;
    c = s[i];
    switch (c) {
      case 'a': out.push_back(u'\a'); ++i; continue;
      case 'b': out.push_back(u'\b'); ++i; continue;
      case 'e': out.push_back(0x1b); ++i; continue;
      case 'f': out.push_back(u'\f'); ++i; continue;
      case 'n': out.push_back(u'\n'); ++i; continue;
      case 'r': out.push_back(u'\r'); ++i; continue;
      case 't': out.push_back(u'\t'); ++i; continue;
      case 'v': out.push_back(u'\v'); ++i; continue;
      case 'x': {
        ++i;
        if (i >= s.size() || !isHex(s[i])) {
          out.push_back(u'x');
          continue;
        }
        unsigned v = 0;
        for (int n = 0; n < 4 && i < s.size() && isHex(s[i]); ++n, ++i) v = v * 16 + hexValue(s[i]);
        out.push_back(static_cast<char16_t>(v));
        continue;
      }
      default:
        if (c >= '0' && c <= '7') {
          unsigned v = 0;
          for (int n = 0; n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++n, ++i)
            v = v * 8 + unsigned(s[i] - '0');
          out.push_back(static_cast<char16_t>(v));
          continue;
        }
        out.push_back(static_cast<unsigned char>(c));  // other escapes stand for the character
        ++i;
    }
  }
  if (i >= s.size()) return std::string_view::npos;
  return i + 1;
}

std::string toUtf8(const std::u16string& u) {
  bool ascii = true;
  for (char16_t c : u)
    if (c >= 0x80) ascii = false;
  if (ascii) return std::string(u.begin(), u.end());
  Bytes b;
  b.reserve(u.size() * 2);
  for (char16_t c : u) {
    b.push_back(static_cast<std::uint8_t>(c & 0xff));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return fromUtf16le(b);
}

std::u16string toUnits(std::string_view utf8) {
  Bytes b = toUtf16le(utf8);
  std::u16string u(b.size() / 2, u'\0');
  for (std::size_t i = 0; i < u.size(); ++i)
    u[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return u;
}

Bytes unitsToBytes(const std::u16string& u, bool terminate) {
  Bytes b;
  b.reserve(u.size() * 2 + 2);
  for (char16_t c : u) {
    b.push_back(static_cast<std::uint8_t>(c & 0xff));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (terminate) b.insert(b.end(), {0, 0});
  return b;
}

}  // namespace

std::size_t wineEscape(const char16_t* str, std::size_t len, char e1, char e2, std::string& out) {
  static const char escapes[33] = ".......abtnvfr.............e....";
  std::size_t start = out.size();
  char buf[16];
  for (; len; ++str, --len) {
    char16_t c = *str;
    if (c > 127) {
      bool hexNext = len > 1 && str[1] < 128 && isHex(static_cast<char>(str[1]));
      int n = std::snprintf(buf, sizeof buf, hexNext ? "\\x%04x" : "\\x%x", unsigned(c));
      out.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (c < 32) {
      if (!c && len == 1) continue;  // the terminating NUL is implied
      int n;
      if (escapes[c] != '.') n = std::snprintf(buf, sizeof buf, "\\%c", escapes[c]);
      else if (len > 1 && str[1] >= '0' && str[1] <= '7')
        n = std::snprintf(buf, sizeof buf, "\\%03o", unsigned(c));
      else n = std::snprintf(buf, sizeof buf, "\\%o", unsigned(c));
      out.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (c == '\\' || c == e1 || c == e2) out += '\\';
    out += static_cast<char>(c);
  }
  return out.size() - start;
}

WineRegistryFile::WineRegistryFile(MemoryRegistry& store, KeyHandle root) : store_(store), root_(root) {}

std::uint64_t WineRegistryFile::currentTime() {
  auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  return kTicks1601To1970 + static_cast<std::uint64_t>(since1970 / 100);
}

bool WineRegistryFile::load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = fmt::format("{}: cannot be read", path);
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) {
    error = fmt::format("{}: read error", path);
    return false;
  }
  return parse(std::move(ss).str(), path, error);
}

bool WineRegistryFile::parse(std::string text, const std::string& name, std::string& error) {
  source_ = std::move(text);
  blocks_.clear();
  arch_.clear();
  MemoryRegistry::Key* rootKey = store_.root(root_);
  const std::string_view src = source_;

  std::size_t pos = 0, lineNo = 0, lineStart = 0;
  std::string_view line;
  auto nextLine = [&]() {
    if (pos >= src.size()) return false;
    lineStart = pos;
    std::size_t nl = src.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? src.size() : nl;
    pos = nl == std::string_view::npos ? src.size() : nl + 1;
    line = src.substr(lineStart, end - lineStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++lineNo;
    return true;
  };
  auto fail = [&](const std::string& what) {
    error = fmt::format("{}:{}: {}", name, lineNo, what);
    return false;
  };

  if (!nextLine() || line != "WINE REGISTRY Version 2") {
    lineNo = 1;
    return fail("not a Wine registry file (the first line must be \"WINE REGISTRY Version 2\")");
  }

  std::size_t contentEnd = pos;  // just past the last line that was not blank
  MemoryRegistry::Key* key = nullptr;
  Block* block = nullptr;
  std::vector<MemoryRegistry::Key*> merged;  // keys listed twice: rewritten on the next save
  std::u16string units;
  std::string valueName;

  while (nextLine()) {
    std::string_view p = trimLeft(line);
    if (p.empty()) continue;
    switch (p[0]) {
      case '[': {
        std::size_t close = unescape(p.substr(1), ']', units);
        if (close == std::string_view::npos) return fail("key line without a closing \"]\"");
        std::string_view rest = trimLeft(p.substr(1 + close));
        std::size_t d = 0;
        while (d < rest.size() && rest[d] >= '0' && rest[d] <= '9') ++d;
        if (!onlySpace(rest.substr(d))) return fail("unexpected text after the key's time");
        // Components are separated by backslashes once the escapes are decoded.
        MemoryRegistry::Key* k = rootKey;
        std::size_t a = 0;
        while (a <= units.size()) {
          std::size_t b = units.find(u'\\', a);
          if (b == std::u16string::npos) b = units.size();
          if (b > a) k = store_.ensure(k, toUtf8(units.substr(a, b - a)));
          a = b + 1;
        }
        if (block) block->end = contentEnd;
        else headerEnd_ = contentEnd;
        if (k->tag) merged.push_back(k);
        blocks_.push_back(Block{});
        block = &blocks_.back();
        block->begin = contentEnd;
        k->tag = static_cast<std::uint32_t>(blocks_.size());
        key = k;
        break;
      }
      case '@':
      case '"': {
        if (!key) return fail("value before the first key");
        std::size_t n;
        if (p[0] == '@') {
          valueName.clear();
          n = 1;
        } else {
          std::size_t close = unescape(p.substr(1), '"', units);
          if (close == std::string_view::npos) return fail("value name without a closing quote");
          valueName = toUtf8(units);
          n = 1 + close;
        }
        while (n < p.size() && isSpace(p[n])) ++n;
        if (n >= p.size() || p[n] != '=') return fail("expected \"=\" after the value name");
        ++n;
        while (n < p.size() && isSpace(p[n])) ++n;
        std::string_view d = p.substr(n);
        std::uint32_t type;
        Bytes data;
        auto stringValue = [&](std::size_t tag, std::uint32_t t) {
          std::size_t close = unescape(d.substr(tag), '"', units);
          if (close == std::string_view::npos) return fail("string without a closing quote");
          if (!onlySpace(d.substr(tag + close))) return fail("unexpected text after the string");
          type = t;
          data = unitsToBytes(units, true);
          return true;
        };
        if (d.starts_with("\"")) {
          if (!stringValue(1, regtype::Sz)) return false;
        } else if (d.starts_with("str:\"")) {
          if (!stringValue(5, regtype::Sz)) return false;
        } else if (d.starts_with("str(2):\"")) {
          if (!stringValue(8, regtype::ExpandSz)) return false;
        } else if (d.starts_with("str(7):\"")) {
          if (!stringValue(8, regtype::MultiSz)) return false;
        } else if (d.starts_with("dword:")) {
          std::string_view h = d.substr(6);
          std::size_t k = 0;
          std::uint32_t v = 0;
          while (k < h.size() && isHex(h[k]) && k < 9) v = v * 16 + hexValue(h[k++]);
          if (k == 0 || k > 8 || !onlySpace(h.substr(k))) return fail("bad dword (expected up to 8 hex digits)");
          type = regtype::Dword;
          data = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
        } else if (d.starts_with("hex:") || d.starts_with("hex(")) {
          std::string_view h;
          if (d[3] == ':') {
            type = regtype::Binary;
            h = d.substr(4);
          } else {
            std::size_t k = 4;
            std::uint64_t t = 0;
            while (k < d.size() && isHex(d[k]) && k < 13) t = t * 16 + hexValue(d[k++]);
            if (k == 4 || t > 0xffffffffull || d.substr(k, 2) != "):")
              return fail("bad value type (expected hex(N): with N in hex)");
            type = static_cast<std::uint32_t>(t);
            h = d.substr(k + 2);
          }
          for (;;) {
            std::size_t k = 0;
            while (k < h.size() && isHex(h[k])) {
              unsigned v = 0;
              std::size_t digits = 0;
              while (k < h.size() && isHex(h[k])) {
                v = v * 16 + hexValue(h[k++]);
                if (++digits > 2) return fail("bad hex data (a byte has more than two digits)");
              }
              data.push_back(static_cast<std::uint8_t>(v));
              while (k < h.size() && isSpace(h[k])) ++k;
              if (k < h.size() && h[k] == ',') ++k;
              while (k < h.size() && isSpace(h[k])) ++k;
            }
            if (k == h.size()) break;
            if (h[k] != '\\' || !onlySpace(h.substr(k + 1))) return fail("bad hex data");
            if (!nextLine()) return fail("hex data continued past the end of the file");
            h = trimLeft(line);
          }
        } else {
          return fail("unknown value type");
        }
        store_.setRaw(key, valueName, type, std::move(data));
        break;
      }
      case '#':
        if (!key) {
          if (p.starts_with("#arch=")) {
            std::string_view a = p.substr(6);
            while (!a.empty() && isSpace(a.back())) a.remove_suffix(1);
            if (a != "win32" && a != "win64")
              return fail(fmt::format("unknown architecture \"{}\" (expected win32 or win64)", a));
            arch_ = std::string(a);
          }
          break;  // other global options mean nothing to us; Wine ignores them too
        }
        if (p.starts_with("#class=")) {
          if (p.size() < 8 || p[7] != '"' || unescape(p.substr(8), '"', units) == std::string_view::npos)
            return fail("#class without a quoted class name");
          block->classLine = std::string(line) + "\n";
        } else if (p.starts_with("#link")) {
          block->link = true;
        }
        break;  // #time and unknown key options: kept in the key's text
      case ';':
        break;
      default:
        return fail("unrecognised line (expected a key, a value, an option or a comment)");
    }
    contentEnd = pos;
  }
  if (block) block->end = contentEnd;
  else headerEnd_ = contentEnd;
  trailerBegin_ = contentEnd;

  // What we just read is the saved state.
  std::vector<MemoryRegistry::Key*> stack{rootKey};
  while (!stack.empty()) {
    MemoryRegistry::Key* k = stack.back();
    stack.pop_back();
    k->changed = false;
    for (auto& c : k->children) stack.push_back(c.get());
  }
  for (auto* k : merged) k->changed = true;
  return true;
}

bool WineRegistryFile::changed() const {
  std::vector<const MemoryRegistry::Key*> stack{store_.root(root_)};
  while (!stack.empty()) {
    const MemoryRegistry::Key* k = stack.back();
    stack.pop_back();
    if (k->changed) return true;
    for (const auto& c : k->children) stack.push_back(c.get());
  }
  return false;
}

std::string_view WineRegistryFile::blockText(const Block& b) const {
  if (b.own) return b.text;
  return std::string_view(source_).substr(b.begin, b.end - b.begin);
}

void WineRegistryFile::renderKey(MemoryRegistry::Key* key, std::uint64_t now, std::string& out,
                                 std::vector<Pending>* pending) const {
  const Block* block = key->tag ? &blocks_[key->tag - 1] : nullptr;
  if (!key->changed) {
    if (block) out += blockText(*block);
  } else {
    // Wine leaves a key with subkeys and nothing of its own implicit.
    bool explicitKey = !key->values.empty() || key->children.empty() ||
                       (block && (!block->classLine.empty() || block->link));
    std::size_t start = out.size();
    if (explicitKey) {
      out += "\n[";
      std::vector<const MemoryRegistry::Key*> chain;
      for (const MemoryRegistry::Key* k = key; k && k->parent; k = k->parent) chain.push_back(k);
      for (std::size_t i = chain.size(); i-- > 0;) {
        std::u16string u = toUnits(chain[i]->name);
        wineEscape(u.data(), u.size(), '[', ']', out);
        if (i) out += "\\\\";
      }
      out += fmt::format("] {}\n#time={:x}{:08x}\n",
                         static_cast<std::uint32_t>((now - kTicks1601To1970) / kTicksPerSecond),
                         static_cast<std::uint32_t>(now >> 32), static_cast<std::uint32_t>(now));
      if (block) {
        out += block->classLine;
        if (block->link) out += "#link\n";
      }
      for (const auto& v : key->values) {
        std::size_t count;
        if (v.name.empty()) {
          out += "@=";
          count = 2;
        } else {
          out += '"';
          std::u16string u = toUnits(v.name);
          count = 1 + wineEscape(u.data(), u.size(), '"', '"', out);
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
          continue;
        }
        if (v.type == regtype::Dword && d.size() == 4) {
          out += fmt::format("dword:{:08x}\n",
                             std::uint32_t(d[0] | d[1] << 8 | d[2] << 16 | std::uint32_t(d[3]) << 24));
          continue;
        }
        std::string tag = v.type == regtype::Binary ? std::string("hex:") : fmt::format("hex({:x}):", v.type);
        out += tag;
        count += tag.size();
        static const char digits[] = "0123456789abcdef";
        for (std::size_t i = 0; i < d.size(); ++i) {
          out += digits[d[i] >> 4];
          out += digits[d[i] & 15];
          count += 2;
          if (i + 1 < d.size()) {
            out += ',';
            if (++count > 76) {
              out += "\\\n  ";
              count = 2;
            }
          }
        }
        out += '\n';
      }
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

bool WineRegistryFile::save(const std::string& path, std::string& error, bool* written) {
  if (written) *written = false;
  if (!changed()) return true;
  std::vector<Pending> pending;
  std::string out;
  out.reserve(source_.size() + 4096);
  out.append(source_, 0, headerEnd_);
  renderKey(store_.root(root_), currentTime(), out, &pending);
  out.append(source_, trailerBegin_, std::string::npos);

  AtomicFile file(path);
  if (!file.open(error)) return false;
  if (!file.write(out.data(), out.size())) {
    error = fmt::format("{}: could not be saved (write failed); the previous file is unchanged", path);
    return false;
  }
  if (!file.commit(error)) return false;
  if (written) *written = true;

  for (auto& p : pending) {
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
  return true;
}

}  // namespace brisquell
