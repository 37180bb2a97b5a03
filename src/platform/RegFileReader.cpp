// .reg parser: decodes the file (UTF-16LE, UTF-8 or Windows-1252) chunk by chunk and hands
// statements to a sink.
#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

#ifndef _WIN32
#include <unistd.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <fmt/format.h>

#include "platform/HostIo.h"
#include "platform/RegFile.h"
#include "platform/Text.h"

namespace brisquell {

const char* encodingName(RegEncoding e) {
  switch (e) {
    case RegEncoding::Utf16le: return "UTF-16LE";
    case RegEncoding::Utf8: return "UTF-8";
    case RegEncoding::Windows1252: return "Windows-1252";
  }
  return "";
}

bool splitRegPath(std::string_view full, KeyHandle& root, std::string& path) {
  std::size_t slash = full.find('\\');
  root = rootFromName(full.substr(0, slash));
  path = slash == std::string_view::npos ? std::string() : std::string(full.substr(slash + 1));
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return root != 0;
}

namespace {

constexpr std::size_t kChunk = 1 << 22;

// Yields physical lines (without CR LF) as UTF-8, whatever the file's encoding.
class LineReader {
 public:
  explicit LineReader(std::function<std::size_t(char*, std::size_t)> read,
                      std::size_t chunk = kChunk)
      : read_(std::move(read)), chunk_(chunk) {}
  /// A piece of a UTF-16LE file that starts after the byte order mark.
  void startsInUtf16() {
    first_ = false;
    utf16_ = true;
  }

  bool next(std::string_view& line) {
    for (;;) {
      const char* at =
          pos_ < len_ ? static_cast<const char*>(std::memchr(text_.get() + pos_, '\n', len_ - pos_))
                      : nullptr;
      if (at) {
        auto nl = static_cast<std::size_t>(at - text_.get());
        line = std::string_view(text_.get() + pos_, nl - pos_);
        pos_ = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNo_;
        decode(line);
        return true;
      }
      if (eof_) {
        if (pos_ >= len_) return false;
        line = std::string_view(text_.get() + pos_, len_ - pos_);
        pos_ = len_;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNo_;
        decode(line);
        return true;
      }
      fill();
    }
  }
  std::size_t lineNo() const { return lineNo_; }
  /// Known once the first line was read.
  bool utf16() const { return utf16_; }
  /// A UTF-16 file whose length is odd: its last unit is cut off.
  bool oddTail() const { return oddTail_; }
  /// From now on, lines of an 8-bit file are Windows-1252 and come out as UTF-8.
  void setWindows1252() { windows1252_ = !utf16_; }

 private:
  void decode(std::string_view& line) {
    if (!windows1252_) return;
    std::size_t i = 0;
    while (i < line.size() && static_cast<unsigned char>(line[i]) < 0x80) ++i;
    if (i == line.size()) return;
    decoded_ = windows1252ToUtf8(line);
    line = decoded_;
  }

  void fill() {
    if (pos_ > 0) {  // the unread rest (a line begun) moves to the front
      std::memmove(text_.get(), text_.get() + pos_, len_ - pos_);
      len_ -= pos_;
      pos_ = 0;
    }
    raw_.resize(carry_.size() + chunk_);
    if (!carry_.empty()) std::memcpy(raw_.data(), carry_.data(), carry_.size());
    std::size_t got = read_(raw_.data() + carry_.size(), chunk_);
    std::size_t n = carry_.size() + got;
    carry_.clear();
    if (got == 0) eof_ = true;
    std::size_t start = 0;
    if (first_) {
      first_ = false;
      if (n >= 2 && static_cast<unsigned char>(raw_[0]) == 0xFF &&
          static_cast<unsigned char>(raw_[1]) == 0xFE) {
        utf16_ = true;
        start = 2;
      } else if (n >= 3 && std::memcmp(raw_.data(), "\xEF\xBB\xBF", 3) == 0) {
        start = 3;
      }
    }
    if (!utf16_) {
      if (n > start) {  // an empty read has no buffer to copy from or into
        reserve(len_ + n - start);
        std::memcpy(text_.get() + len_, raw_.data() + start, n - start);
        len_ += n - start;
      }
      return;
    }
    std::size_t end = n;
    if (eof_ && (end - start) % 2) {  // a UTF-16 file of odd length lost its last byte
      oddTail_ = true;
      --end;
    }
    if (!eof_) {
      if ((end - start) % 2) --end;  // keep the odd byte for the next chunk
      if (end - start >= 2) {        // and a high surrogate whose pair is not read yet
        unsigned hi = static_cast<unsigned char>(raw_[end - 1]);
        if (hi >= 0xD8 && hi <= 0xDB) end -= 2;
      }
      carry_.assign(raw_.data() + end, n - end);
    }
    const auto* d = reinterpret_cast<const std::uint8_t*>(raw_.data() + start);
    std::size_t units = (end - start) / 2;
    // Writes straight into the buffer, sized for the worst case: a unit gives at most three
    // UTF-8 bytes (a surrogate pair four for two units).
    reserve(len_ + 3 * units);
    char* o = text_.get() + len_;
    std::size_t k = 0;
    while (k < units) {  // ASCII fast path, the rest through the general converter
#if defined(__SSE2__)
      // Sixteen units at a time: all below 0x80, they pack to their low bytes.
      for (const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80)); k + 16 <= units;
           k += 16, o += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2 * k));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2 * k + 16));
        __m128i wideUnits = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(wideUnits, _mm_setzero_si128())) != 0xFFFF) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(a, b));
      }
#endif
      if constexpr (std::endian::native == std::endian::little) {
        for (std::uint64_t w; k + 4 <= units; k += 4, o += 4) {  // four units at a time
          std::memcpy(&w, d + 2 * k, 8);
          if (w & 0xFF80FF80FF80FF80ull) break;
          o[0] = static_cast<char>(w);
          o[1] = static_cast<char>(w >> 16);
          o[2] = static_cast<char>(w >> 32);
          o[3] = static_cast<char>(w >> 48);
        }
      }
      while (k < units && d[2 * k + 1] == 0 && d[2 * k] < 0x80)
        *o++ = static_cast<char>(d[2 * k++]);
      if (k == units) break;
      std::size_t stop = k;
      while (stop < units && !(d[2 * stop + 1] == 0 && d[2 * stop] < 0x80)) ++stop;
      std::string converted = fromUtf16le(d + 2 * k, 2 * (stop - k));
      std::memcpy(o, converted.data(), converted.size());
      o += converted.size();
      k = stop;
    }
    len_ = static_cast<std::size_t>(o - text_.get());
  }

  void reserve(std::size_t n) {
    if (n <= cap_) return;
    std::size_t cap = std::max(n, 2 * cap_);
    auto bigger = std::make_unique_for_overwrite<char[]>(cap);
    if (len_) std::memcpy(bigger.get(), text_.get(), len_);
    text_ = std::move(bigger);
    cap_ = cap;
  }

  std::function<std::size_t(char*, std::size_t)> read_;
  std::size_t chunk_;
  std::unique_ptr<char[]> text_;  // decoded lines, UTF-8
  std::size_t len_ = 0, cap_ = 0;
  std::string raw_, carry_, decoded_;
  std::size_t pos_ = 0, lineNo_ = 0;
  bool eof_ = false, first_ = true, utf16_ = false, windows1252_ = false, oddTail_ = false;
};

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Hex digit values by byte, -1 for anything else.
constexpr std::array<std::int8_t, 256> kHexDigits = [] {
  std::array<std::int8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = -1;
  for (int c = '0'; c <= '9'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) {
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
    t[static_cast<std::size_t>(c - 32)] = static_cast<std::int8_t>(c - 'a' + 10);
  }
  return t;
}();

inline int hexValue(char c) { return kHexDigits[static_cast<unsigned char>(c)]; }

// Position of the first '"' or '\\' in s from `from` on, or s.size().
std::size_t quoteOrBackslash(std::string_view s, std::size_t from) {
  const char* p = s.data();
  std::size_t n = s.size();
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
  for (; from + 16 <= n; from += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + from));
    int hits =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    if (hits) return from + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(hits)));
  }
#endif
  while (from < n && p[from] != '"' && p[from] != '\\') ++from;
  return from;
}

// Reads the regular layout ("xx,xx,xx" without blanks) from s[i] on and stops at the first byte
// that does not follow it, always at the start of a byte or at the end, where the general
// reader goes on.
void hexRun(std::string_view s, std::size_t& i, Bytes& out) {
  std::size_t base = out.size();
  out.resize(base + (s.size() - i + 1) / 3 + 1);
  std::uint8_t* o = out.data() + base;
  const char* p = s.data();
  std::size_t n = s.size();
  while (i + 2 <= n) {
    int a = hexValue(p[i]), b = hexValue(p[i + 1]);
    if ((a | b) < 0) break;
    if (i + 2 == n) {
      *o++ = static_cast<std::uint8_t>(a << 4 | b);
      i = n;
      break;
    }
    if (p[i + 2] != ',' || i + 3 == n || hexValue(p[i + 3]) < 0) break;
    *o++ = static_cast<std::uint8_t>(a << 4 | b);
    i += 3;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
}

// trimmedView(s, " \t\r"), without a search of the set per character.
std::string_view trim(std::string_view s) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::size_t a = 0, b = s.size();
  while (a < b && space(s[a])) ++a;
  while (b > a && space(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// True when the 8-bit file read through `read` is valid UTF-8 from start to end.
bool streamIsUtf8(const std::function<std::size_t(char*, std::size_t)>& read) {
  std::string buf;
  std::vector<char> chunk(kChunk);
  for (;;) {
    std::size_t got = read(chunk.data(), chunk.size());
    buf.append(chunk.data(), got);
    // Check up to the start of a sequence that may go on in the next chunk.
    std::size_t cut = buf.size();
    if (got) {
      for (std::size_t back = 1; back <= 3 && back <= buf.size(); ++back) {
        auto c = static_cast<unsigned char>(buf[buf.size() - back]);
        if ((c & 0xC0) == 0xC0) {
          cut = buf.size() - back;
          break;
        }
        if ((c & 0xC0) != 0x80) break;
      }
    }
    if (!isValidUtf8(std::string_view(buf).substr(0, cut))) return false;
    buf.erase(0, cut);
    if (!got) return true;
  }
}

class Parser {
 public:
  Parser(LineReader& lines, const std::string& label, RegSink& sink, bool textIsUtf8)
      : lines_(lines), label_(label), sink_(sink), textIsUtf8_(textIsUtf8) {}

  /// For a piece of a version 5 file: `headerless` when it starts at a key line, `moreAfter`
  /// when the file goes on after it (with a key line).
  void piece(bool headerless, bool moreAfter) {
    headerless_ = headerless;
    moreAfter_ = moreAfter;
  }
  std::size_t errorLine() const { return errorLine_; }
  const std::string& errorWhat() const { return errorWhat_; }

  RegFileInfo info() const {
    RegFileInfo i;
    i.format = format_;
    i.encoding = lines_.utf16() ? RegEncoding::Utf16le
                 : windows1252_ ? RegEncoding::Windows1252
                                : RegEncoding::Utf8;
    return i;
  }
  const std::string& error() const { return error_; }

  bool run() {
    std::string_view line;
    bool header = headerless_;
    while (lines_.next(line)) {
      std::string_view t = trim(line);
      if (!header) {
        if (t.empty()) continue;
        if (t == "REGEDIT4") {
          format_ = RegFormat::Regedit4;
          if (!lines_.utf16() && !textIsUtf8_) {
            windows1252_ = true;
            lines_.setWindows1252();
          }
        } else if (t == "Windows Registry Editor Version 5.00") {
          format_ = RegFormat::Version5;
          // An 8-bit version 5 file is read as an ANSI one is: names and text that are not
          // UTF-8 would otherwise reach the store as bytes no other part can spell.
          if (!lines_.utf16() && !textIsUtf8_) {
            windows1252_ = true;
            lines_.setWindows1252();
          }
        } else {
          return fail(lines_.lineNo(),
                      "bad header: expected \"Windows Registry Editor Version 5.00\" or "
                      "\"REGEDIT4\"");
        }
        header = true;
        continue;
      }
      if (t.empty() || t.front() == ';') continue;
      if (t.front() == '[') {
        if (!keyLine(t)) return false;
      } else if (t.front() == '"' || t.front() == '@') {
        if (!valueLine(t)) return false;
      } else {
        return fail(lines_.lineNo(), fmt::format("unexpected text \"{}\"", shorten(t)));
      }
    }
    if (!header)
      return fail(lines_.lineNo() ? lines_.lineNo() : 1, "bad header: the file is empty");
    if (lines_.oddTail())
      return fail(lines_.lineNo(),
                  "the file ends in half a UTF-16 character (its length is odd): it is cut off");
    return true;
  }

 private:
  static std::string shorten(std::string_view t) {
    return t.size() > 40 ? std::string(t.substr(0, 40)) + "..." : std::string(t);
  }

  bool fail(std::size_t line, std::string_view what) {
    errorLine_ = line;
    errorWhat_ = what;
    error_ = fmt::format("{}:{}: {}", label_, line, what);
    return false;
  }

  bool keyLine(std::string_view t) {
    std::size_t close = t.rfind(']');
    if (close == std::string_view::npos || close == 1)
      return fail(lines_.lineNo(), "key line without closing \"]\"");
    if (!trim(t.substr(close + 1)).empty() && trim(t.substr(close + 1)).front() != ';')
      return fail(lines_.lineNo(), "text after the key's closing \"]\"");
    std::string_view name = t.substr(1, close - 1);
    bool del = !name.empty() && name.front() == '-';
    if (del) name.remove_prefix(1);
    // splitRegPath(), without a copy of the path
    std::size_t slash = name.find('\\');
    std::string_view rootName = name.substr(0, slash);
    if (rootName != lastRootName_) {  // key lines mostly repeat the root: looked up once
      lastRoot_ = rootFromName(rootName);
      lastRootName_.assign(rootName);
    }
    KeyHandle root = lastRoot_;
    std::string_view path =
        slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (!root)
      return fail(lines_.lineNo(),
                  fmt::format("unknown root key \"{}\"", shorten(name.substr(0, name.find('\\')))));
    if (del) {
      if (path.empty()) return fail(lines_.lineNo(), "a root key cannot be deleted");
      sink_.deleteKey(root, path);
      inKey_ = false;
    } else {
      sink_.key(root, path);
      inKey_ = true;
    }
    return true;
  }

  // Reads a quoted string starting at s[i] == '"'; i ends past the closing quote. Value names
  // also know "\r" and "\n" (as Wine's regedit writes them): a line cannot hold the characters.
  bool quoted(std::string_view s, std::size_t& i, std::string& out, const char* what,
              bool name = false) {
    ++i;
    out.clear();
    while (i < s.size()) {
      std::size_t plain = quoteOrBackslash(s, i);  // runs without either are copied in one go
      out.append(s.data() + i, plain - i);
      i = plain;
      if (i == s.size()) break;
      char c = s[i];
      if (c == '"') {
        ++i;
        return true;
      }
      if (i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
        out.push_back(s[i + 1]);
        i += 2;
        continue;
      }
      if (name && i + 1 < s.size() && (s[i + 1] == 'r' || s[i + 1] == 'n')) {
        out.push_back(s[i + 1] == 'r' ? '\r' : '\n');
        i += 2;
        continue;
      }
      out.push_back(c);
      ++i;
    }
    return fail(lines_.lineNo(), fmt::format("unterminated {}", what));
  }

  bool valueLine(std::string_view t) {
    std::size_t startLine = lines_.lineNo();
    if (!inKey_) return fail(startLine, "value line outside a key");
    std::size_t i = 0;
    std::string& name = name_;  // reused: most names and strings then need no allocation
    name.clear();
    if (t.front() == '@') {
      i = 1;
    } else if (!quoted(t, i, name, "value name", true)) {
      return false;
    }
    while (i < t.size() && isBlank(t[i])) ++i;
    if (i >= t.size() || t[i] != '=') return fail(startLine, "expected \"=\" after the value name");
    ++i;
    while (i < t.size() && isBlank(t[i])) ++i;
    std::string_view data = t.substr(i);
    if (data == "-") {
      sink_.deleteValue(name);
      return true;
    }
    if (!data.empty() && data.front() == '"') {
      std::string& text = text_;
      std::size_t k = 0;
      if (!quoted(data, k, text, "string")) return false;
      std::string_view rest = trim(data.substr(k));
      if (!rest.empty() && rest.front() != ';')
        return fail(startLine, "text after the closing quote of a string");
      Bytes raw;
      raw.reserve(2 * text.size() + 2);  // exact for ASCII: the store keeps this capacity
      appendUtf16le(text, raw);
      raw.push_back(0);
      raw.push_back(0);
      sink_.value(name, regtype::Sz, std::move(raw));
      return true;
    }
    if (data.substr(0, 6) == "dword:") {
      std::string_view digits = trim(data.substr(6));
      if (digits.empty() || digits.size() > 8)
        return fail(startLine, "bad dword: expected 1 to 8 hex digits");
      std::uint32_t v = 0;
      for (char c : digits) {
        int h = hexDigit(c);
        if (h < 0) return fail(startLine, "bad dword: expected 1 to 8 hex digits");
        v = v << 4 | static_cast<std::uint32_t>(h);
      }
      sink_.value(name, regtype::Dword, dwordBytes(v));
      return true;
    }
    std::uint32_t type = regtype::Binary;
    std::string_view rest;
    if (data.substr(0, 4) == "hex:") {
      rest = data.substr(4);
    } else if (data.substr(0, 4) == "hex(") {
      std::size_t close = data.find(')');
      if (close == std::string_view::npos || close == 4 || close > 12 || close + 1 >= data.size() ||
          data[close + 1] != ':')
        return fail(startLine, "bad hex type: expected hex(N):");
      std::uint64_t v = 0;
      for (char c : data.substr(4, close - 4)) {
        int h = hexDigit(c);
        if (h < 0) return fail(startLine, "bad hex type: expected hex(N):");
        v = v << 4 | static_cast<unsigned>(h);
      }
      if (v > 0xFFFFFFFFull) return fail(startLine, "bad hex type: the type code is too large");
      type = static_cast<std::uint32_t>(v);
      rest = data.substr(close + 2);
    } else {
      return fail(startLine, fmt::format("unknown value data \"{}\"", shorten(data)));
    }
    // Collected in a reused buffer, then copied at its exact size: the store keeps the vector.
    hex_.clear();
    if (!hexBytes(rest, hex_)) return false;
    Bytes bytes(hex_.begin(), hex_.end());
    if (format_ == RegFormat::Regedit4 && isTextType(type)) {
      // ANSI bytes: in a Windows-1252 file, or wherever they are not UTF-8, they are Windows-1252.
      std::string_view ansi(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      bytes = toUtf16le(windows1252_ || !isValidUtf8(ansi) ? windows1252ToUtf8(ansi)
                                                           : std::string(ansi));
    }
    sink_.value(name, type, std::move(bytes));
    return true;
  }

  // Comma-separated byte list; a trailing "\" continues it on the next line.
  bool hexBytes(std::string_view s, Bytes& out) {
    std::string_view line;
    for (;;) {
      s = trim(s);
      bool more = !s.empty() && s.back() == '\\';
      if (more) s = trim(s.substr(0, s.size() - 1));
      std::size_t i = 0;
      hexRun(s, i, out);
      while (i < s.size()) {
        int a = hexValue(s[i]);
        int b = i + 1 < s.size() ? hexValue(s[i + 1]) : -1;
        if (a < 0)
          return fail(lines_.lineNo(), fmt::format("bad hex byte \"{}\"", shorten(s.substr(i))));
        // A lone digit is no byte: it is what is left of one cut in half.
        if (b < 0)
          return fail(lines_.lineNo(), fmt::format("bad hex byte \"{}\": expected two hex digits",
                                                   shorten(s.substr(i))));
        out.push_back(static_cast<std::uint8_t>(a << 4 | b));
        i += 2;
        while (i < s.size() && isBlank(s[i])) ++i;
        if (i < s.size()) {
          if (s[i] != ',')
            return fail(lines_.lineNo(), fmt::format("bad hex byte \"{}\"", shorten(s.substr(i))));
          ++i;
          while (i < s.size() && isBlank(s[i])) ++i;
          if (i == s.size() && !more)
            return fail(lines_.lineNo(), "bad hex data: ends with a comma");
        }
      }
      if (!more) return true;
      if (!lines_.next(line)) {
        if (moreAfter_)  // the next piece starts with a key line
          return fail(lines_.lineNo() + 1, "broken continuation: expected more hex bytes");
        return fail(lines_.lineNo(), "broken continuation: the file ends after \"\\\"");
      }
      s = trim(line);
      if (s.empty() || hexDigit(s.front()) < 0)
        return fail(lines_.lineNo(), "broken continuation: expected more hex bytes");
    }
  }

  LineReader& lines_;
  const std::string& label_;
  RegSink& sink_;
  const bool textIsUtf8_;
  std::string error_, errorWhat_;
  std::size_t errorLine_ = 0;
  RegFormat format_ = RegFormat::Version5;
  bool inKey_ = false, windows1252_ = false, headerless_ = false, moreAfter_ = false;
  Bytes hex_;
  std::string name_, text_, lastRootName_;
  KeyHandle lastRoot_ = 0;
};

}  // namespace

Result<RegFileInfo> parseRegFile(const std::string& path, RegSink& sink) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(hostio::open(path, "rb"), &std::fclose);
  if (!f) {
    int err = errno;
    return Result<RegFileInfo>::fail(fmt::format("{}:0: cannot open: {}", path, std::strerror(err)),
                                     err == ENOENT ? Status::FileNotFound : Status::AccessDenied);
  }
  bool readError = false;
  auto read = [&](char* dst, std::size_t n) {
    std::size_t got = std::fread(dst, 1, n, f.get());
    if (got < n && std::ferror(f.get())) readError = true;
    return got;
  };
  // An 8-bit file is read twice: whether it is UTF-8 decides how every line is decoded.
  bool utf8 = true;
  unsigned char bom[2] = {0, 0};
  std::size_t head = std::fread(bom, 1, 2, f.get());
  if (!(head == 2 && bom[0] == 0xFF && bom[1] == 0xFE)) {
    std::rewind(f.get());
    utf8 = streamIsUtf8(read);
  }
  std::rewind(f.get());
  LineReader lines(read);
  Parser parser(lines, path, sink, utf8);
  bool ok = parser.run();
  if (ok && readError)
    return Result<RegFileInfo>::fail(fmt::format("{}:{}: read error", path, lines.lineNo()),
                                     Status::ReadFault);
  if (!ok) return Result<RegFileInfo>::fail(parser.error(), Status::FileCorrupt);
  return parser.info();
}

#ifndef _WIN32
namespace {
// Two pieces parse at once, so their buffers are smaller than one pass's; and they shrink with
// the piece, so that a small file's load costs memory in proportion to its size.
std::size_t pieceChunk(std::uint64_t bytes) {
  constexpr std::uint64_t kLeast = 64 << 10, kMost = 1 << 20;
  return static_cast<std::size_t>(std::clamp(bytes / 32, kLeast, kMost));
}
}  // namespace

RegPieceResult parseRegPiece(int fd, std::uint64_t begin, std::uint64_t end, bool moreAfter,
                             RegSink& sink) {
  RegPieceResult r;
  std::uint64_t at = begin;
  bool readError = false;
  LineReader lines(
      [&](char* dst, std::size_t n) -> std::size_t {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n, end - at));
        std::size_t got = 0;
        while (got < want) {
          ssize_t k = ::pread(fd, dst + got, want - got, static_cast<off_t>(at + got));
          if (k < 0 && errno == EINTR) continue;
          if (k <= 0) {
            readError = k < 0 || got < want;
            break;
          }
          got += static_cast<std::size_t>(k);
        }
        at += got;
        return got;
      },
      pieceChunk(end - begin));
  if (begin > 0) lines.startsInUtf16();
  std::string unused;
  Parser parser(lines, unused, sink, true);
  parser.piece(begin > 0, moreAfter);
  r.ok = parser.run();
  r.lines = lines.lineNo();
  if (!r.ok) {
    r.errorLine = parser.errorLine();
    r.errorWhat = parser.errorWhat();
  } else if (readError) {
    r.ok = false;
    r.status = Status::ReadFault;
    r.errorLine = lines.lineNo();
    r.errorWhat = "read error";
  }
  return r;
}
#endif

Result<RegFileInfo> parseRegBytes(std::string_view bytes, const std::string& label, RegSink& sink) {
  std::size_t pos = 0;
  LineReader lines([&](char* dst, std::size_t n) {
    std::size_t k = std::min(n, bytes.size() - pos);
    if (k) std::memcpy(dst, bytes.data() + pos, k);
    pos += k;
    return k;
  });
  Parser parser(lines, label, sink, isValidUtf8(bytes));
  if (!parser.run()) return Result<RegFileInfo>::fail(parser.error(), Status::FileCorrupt);
  return parser.info();
}

// ---- RegRecorder ----

void RegRecorder::key(KeyHandle root, std::string_view path) {
  ops_.push_back({Op::Key, root, std::string(path), 0, {}});
}
void RegRecorder::deleteKey(KeyHandle root, std::string_view path) {
  ops_.push_back({Op::DeleteKey, root, std::string(path), 0, {}});
}
void RegRecorder::value(std::string_view name, std::uint32_t type, Bytes data) {
  ops_.push_back({Op::Value, 0, std::string(name), type, std::move(data)});
}
void RegRecorder::deleteValue(std::string_view name) {
  ops_.push_back({Op::DeleteValue, 0, std::string(name), 0, {}});
}

Status RegRecorder::applyTo(RegistryStore& store) const {
  ScopedKey current;
  for (const Op& op : ops_) {
    switch (op.kind) {
      case Op::Key: {
        KeyHandle h = 0;
        Status st = store.createKey(op.root, op.text, h);
        if (st != Status::Success) return st;
        current.reset(&store, h);
        break;
      }
      case Op::DeleteKey: {
        current.reset();
        Status st = store.deleteTree(op.root, op.text);
        if (st != Status::Success && st != Status::FileNotFound) return st;
        break;
      }
      case Op::Value: {
        Status st = store.setValueRaw(current.get(), op.text, op.type, op.data);
        if (st != Status::Success) return st;
        break;
      }
      case Op::DeleteValue: store.deleteValue(current.get(), op.text); break;
    }
  }
  return Status::Success;
}

// ---- RegApplier ----

void RegApplier::key(KeyHandle root, std::string_view path) {
  if (status_ != Status::Success) return;
  KeyHandle h = 0;
  status_ = store_.createKey(root, path, h);
  if (status_ == Status::Success) current_.reset(&store_, h);
}
void RegApplier::deleteKey(KeyHandle root, std::string_view path) {
  if (status_ != Status::Success) return;
  current_.reset();
  Status st = store_.deleteTree(root, path);
  if (st != Status::FileNotFound) status_ = st;
}
void RegApplier::value(std::string_view name, std::uint32_t type, Bytes data) {
  if (status_ == Status::Success) status_ = store_.setValueRaw(current_.get(), name, type, data);
}
void RegApplier::deleteValue(std::string_view name) {
  if (status_ == Status::Success) store_.deleteValue(current_.get(), name);
}

}  // namespace brisquell
