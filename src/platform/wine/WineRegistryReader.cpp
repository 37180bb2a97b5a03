// Reading Wine's registry files: a strict line reader that loads keys into the store and
// remembers where each key's text lies, so that unchanged keys can be written back as read.
#include "platform/wine/WineRegistryFile.h"

#include <fmt/format.h>

#include "platform/Bytes.h"

namespace brisquell {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool isHex(char c) { return hexDigit(c) >= 0; }

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
      case 'a':
        out.push_back(u'\a');
        ++i;
        continue;
      case 'b':
        out.push_back(u'\b');
        ++i;
        continue;
      case 'e':
        out.push_back(0x1b);
        ++i;
        continue;
      case 'f':
        out.push_back(u'\f');
        ++i;
        continue;
      case 'n':
        out.push_back(u'\n');
        ++i;
        continue;
      case 'r':
        out.push_back(u'\r');
        ++i;
        continue;
      case 't':
        out.push_back(u'\t');
        ++i;
        continue;
      case 'v':
        out.push_back(u'\v');
        ++i;
        continue;
      case 'x': {
        ++i;
        if (i >= s.size() || !isHex(s[i])) {
          out.push_back(u'x');
          continue;
        }
        unsigned v = 0;
        for (int n = 0; n < 4 && i < s.size() && isHex(s[i]); ++n, ++i)
          v = v * 16 + static_cast<unsigned>(hexDigit(s[i]));
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

std::string toUtf8(const std::u16string& u) {
  bool ascii = true;
  for (char16_t c : u)
    if (c >= 0x80) ascii = false;
  if (ascii) return std::string(u.begin(), u.end());
  return fromUtf16le(unitsToBytes(u, false));
}

}  // namespace

/// One pass over the file's text. Lines are read in place; a key's block runs from the end of
/// the previous key's last line that was not blank to the end of its own.
class WineRegistryFile::Reader {
 public:
  Reader(WineRegistryFile& file, const std::string& name)
      : file_(file), name_(name), src_(file.source_), rootKey_(file.store_.root(file.root_)) {}

  Outcome run() {
    if (!nextLine() || line_ != "WINE REGISTRY Version 2") {
      lineNo_ = 1;
      return fail("not a Wine registry file (the first line must be \"WINE REGISTRY Version 2\")");
    }
    contentEnd_ = pos_;
    while (nextLine()) {
      std::string_view p = trimLeft(line_);
      if (p.empty()) continue;
      Outcome r;
      switch (p[0]) {
        case '[': r = keyLine(p); break;
        case '@':
        case '"': r = valueLine(p); break;
        case '#': r = optionLine(p); break;
        case ';': break;
        default: return fail("unrecognised line (expected a key, a value, an option or a comment)");
      }
      if (!r) return r;
      contentEnd_ = pos_;
    }
    endBlock();
    file_.trailerBegin_ = contentEnd_;
    markSaved();
    return {};
  }

 private:
  bool nextLine() {
    if (pos_ >= src_.size()) return false;
    std::size_t start = pos_;
    std::size_t nl = src_.find('\n', pos_);
    std::size_t end = nl == std::string_view::npos ? src_.size() : nl;
    pos_ = nl == std::string_view::npos ? src_.size() : nl + 1;
    line_ = src_.substr(start, end - start);
    if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
    ++lineNo_;
    return true;
  }

  Outcome fail(std::string_view what) const {
    return Outcome::fail(fmt::format("{}:{}: {}", name_, lineNo_, what), Status::FileCorrupt);
  }

  // Closes the block of the previous key (or the header) at the last line that held text.
  void endBlock() {
    if (key_)
      file_.blocks_[key_->tag - 1].end = contentEnd_;
    else
      file_.headerEnd_ = contentEnd_;
  }

  Outcome keyLine(std::string_view p) {
    std::size_t close = unescape(p.substr(1), ']', units_);
    if (close == std::string_view::npos) return fail("key line without a closing \"]\"");
    std::string_view rest = trimLeft(p.substr(1 + close));
    std::size_t d = 0;
    while (d < rest.size() && rest[d] >= '0' && rest[d] <= '9') ++d;
    if (!onlySpace(rest.substr(d))) return fail("unexpected text after the key's time");
    // Components are separated by backslashes once the escapes are decoded.
    MemoryRegistry::Key* k = rootKey_;
    std::size_t a = 0;
    while (a <= units_.size()) {
      std::size_t b = units_.find(u'\\', a);
      if (b == std::u16string::npos) b = units_.size();
      if (b > a) k = file_.store_.ensure(k, toUtf8(units_.substr(a, b - a)));
      a = b + 1;
    }
    endBlock();
    if (k->tag) merged_.push_back(k);
    file_.blocks_.push_back(Block{});
    file_.blocks_.back().begin = contentEnd_;
    k->tag = static_cast<std::uint32_t>(file_.blocks_.size());
    key_ = k;
    return {};
  }

  Outcome valueLine(std::string_view p) {
    if (!key_) return fail("value before the first key");
    std::size_t n;
    if (p[0] == '@') {
      valueName_.clear();
      n = 1;
    } else {
      std::size_t close = unescape(p.substr(1), '"', units_);
      if (close == std::string_view::npos) return fail("value name without a closing quote");
      valueName_ = toUtf8(units_);
      n = 1 + close;
    }
    while (n < p.size() && isSpace(p[n])) ++n;
    if (n >= p.size() || p[n] != '=') return fail("expected \"=\" after the value name");
    ++n;
    while (n < p.size() && isSpace(p[n])) ++n;
    std::uint32_t type = 0;
    Bytes data;
    if (Outcome r = valueData(p.substr(n), type, data); !r) return r;
    file_.store_.setRaw(key_, valueName_, type, std::move(data));
    return {};
  }

  Outcome stringData(std::string_view d, std::size_t tag, std::uint32_t t, std::uint32_t& type,
                     Bytes& data) {
    std::size_t close = unescape(d.substr(tag), '"', units_);
    if (close == std::string_view::npos) return fail("string without a closing quote");
    if (!onlySpace(d.substr(tag + close))) return fail("unexpected text after the string");
    type = t;
    data = unitsToBytes(units_, true);
    return {};
  }

  Outcome valueData(std::string_view d, std::uint32_t& type, Bytes& data) {
    if (d.starts_with("\"")) return stringData(d, 1, regtype::Sz, type, data);
    if (d.starts_with("str:\"")) return stringData(d, 5, regtype::Sz, type, data);
    if (d.starts_with("str(2):\"")) return stringData(d, 8, regtype::ExpandSz, type, data);
    if (d.starts_with("str(7):\"")) return stringData(d, 8, regtype::MultiSz, type, data);
    if (d.starts_with("dword:")) {
      std::string_view h = d.substr(6);
      std::size_t k = 0;
      std::uint32_t v = 0;
      while (k < h.size() && isHex(h[k]) && k < 9)
        v = v * 16 + static_cast<unsigned>(hexDigit(h[k++]));
      if (k == 0 || k > 8 || !onlySpace(h.substr(k)))
        return fail("bad dword (expected up to 8 hex digits)");
      type = regtype::Dword;
      data = dwordBytes(v);
      return {};
    }
    if (d.starts_with("hex:")) {
      type = regtype::Binary;
      return hexData(d.substr(4), data);
    }
    if (d.starts_with("hex(")) {
      std::size_t k = 4;
      std::uint64_t t = 0;
      while (k < d.size() && isHex(d[k]) && k < 13)
        t = t * 16 + static_cast<unsigned>(hexDigit(d[k++]));
      if (k == 4 || t > 0xffffffffull || d.substr(k, 2) != "):")
        return fail("bad value type (expected hex(N): with N in hex)");
      type = static_cast<std::uint32_t>(t);
      return hexData(d.substr(k + 2), data);
    }
    return fail("unknown value type");
  }

  // Bytes of one or two digits, commas between them optional as Wine reads them; a trailing
  // backslash continues the list on the next line.
  Outcome hexData(std::string_view h, Bytes& data) {
    for (;;) {
      std::size_t k = 0;
      while (k < h.size() && isHex(h[k])) {
        unsigned v = 0;
        std::size_t digits = 0;
        while (k < h.size() && isHex(h[k])) {
          v = v * 16 + static_cast<unsigned>(hexDigit(h[k++]));
          if (++digits > 2) return fail("bad hex data (a byte has more than two digits)");
        }
        data.push_back(static_cast<std::uint8_t>(v));
        while (k < h.size() && isSpace(h[k])) ++k;
        if (k < h.size() && h[k] == ',') ++k;
        while (k < h.size() && isSpace(h[k])) ++k;
      }
      if (k == h.size()) return {};
      if (h[k] != '\\' || !onlySpace(h.substr(k + 1))) return fail("bad hex data");
      if (!nextLine()) return fail("hex data continued past the end of the file");
      h = trimLeft(line_);
    }
  }

  Outcome optionLine(std::string_view p) {
    if (!key_) {
      if (p.starts_with("#arch=")) {
        std::string_view a = p.substr(6);
        while (!a.empty() && isSpace(a.back())) a.remove_suffix(1);
        if (a != "win32" && a != "win64")
          return fail(fmt::format("unknown architecture \"{}\" (expected win32 or win64)", a));
        file_.arch_ = std::string(a);
      }
      return {};  // other global options mean nothing to us; Wine ignores them too
    }
    Block& block = file_.blocks_[key_->tag - 1];
    if (p.starts_with("#class=")) {
      if (p.size() < 8 || p[7] != '"' ||
          unescape(p.substr(8), '"', units_) == std::string_view::npos)
        return fail("#class without a quoted class name");
      block.classLine = std::string(line_) + "\n";
    } else if (p.starts_with("#link")) {
      block.link = true;
    }
    return {};  // #time and unknown key options: kept in the key's text
  }

  // What was just read is the saved state; keys listed twice are rewritten on the next save.
  void markSaved() {
    std::vector<MemoryRegistry::Key*> stack{rootKey_};
    while (!stack.empty()) {
      MemoryRegistry::Key* k = stack.back();
      stack.pop_back();
      k->changed = false;
      for (auto& c : k->children) stack.push_back(c.get());
    }
    for (auto* k : merged_) k->changed = true;
  }

  WineRegistryFile& file_;
  const std::string& name_;
  const std::string_view src_;
  MemoryRegistry::Key* const rootKey_;
  std::size_t pos_ = 0, lineNo_ = 0, contentEnd_ = 0;
  std::string_view line_;
  MemoryRegistry::Key* key_ = nullptr;  // the key whose block is open; null in the header
  std::vector<MemoryRegistry::Key*> merged_;
  std::u16string units_;
  std::string valueName_;
};

Outcome WineRegistryFile::parse(std::string text, const std::string& name) {
  source_ = std::move(text);
  blocks_.clear();
  arch_.clear();
  return Reader(*this, name).run();
}

}  // namespace brisquell
