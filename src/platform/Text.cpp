// Text helpers: conversions and case folding written for speed on large registries.
#include "platform/Text.h"

#include <cstring>

#include <fmt/format.h>

#include "platform/HostIo.h"

namespace brisquell {

namespace {

// Decodes one code point from UTF-8 at s[i]; returns U+FFFD and advances one byte on bad input.
inline char32_t decodeOrReplace(std::string_view s, std::size_t& i) {
  char32_t cp;
  if (decodeUtf8(s, i, cp)) return cp;
  ++i;
  return 0xFFFD;
}

// Windows-1252 at 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

inline void push16(Bytes& out, char32_t u) {
  out.push_back(static_cast<std::uint8_t>(u & 0xFF));
  out.push_back(static_cast<std::uint8_t>(u >> 8));
}

}  // namespace

bool decodeUtf8(std::string_view s, std::size_t& i, char32_t& cp) {
  auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    cp = c;
    ++i;
    return true;
  }
  std::size_t len;
  char32_t v;
  if ((c & 0xE0) == 0xC0) {
    len = 2;
    v = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    v = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    v = c & 0x07;
  } else {
    return false;
  }
  if (i + len > s.size()) return false;
  for (std::size_t k = 1; k < len; ++k) {
    auto cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return false;
    v = (v << 6) | (cc & 0x3F);
  }
  static const char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < minimum[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
  i += len;
  cp = v;
  return true;
}

void appendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool isValidUtf8(std::string_view s) {
  char32_t cp;
  std::size_t i = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    if (!decodeUtf8(s, i, cp)) return false;
  }
  return true;
}

char32_t windows1252CodePoint(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

int windows1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == cp) return 0x80 + i;
  return -1;
}

std::string windows1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 4);
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x80)
      out.push_back(c);
    else
      appendUtf8(windows1252CodePoint(b), out);
  }
  return out;
}

void appendUtf16le(std::string_view s, Bytes& out) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  if (i > 0) {  // ASCII prefix: written in place, no growth checks per byte
    std::size_t base = out.size();
    out.resize(base + 2 * i);
    std::uint8_t* o = out.data() + base;
    for (std::size_t k = 0; k < i; ++k) {
      o[2 * k] = static_cast<std::uint8_t>(s[k]);
      o[2 * k + 1] = 0;
    }
    if (i == s.size()) return;
  }
  out.reserve(out.size() + (s.size() - i) * 2);
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(c);
      out.push_back(0);
      ++i;
      continue;
    }
    char32_t cp = decodeOrReplace(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      push16(out, 0xD800 + (cp >> 10));
      push16(out, 0xDC00 + (cp & 0x3FF));
    } else {
      push16(out, cp);
    }
  }
}

Bytes toUtf16le(std::string_view utf8) {
  Bytes out;
  appendUtf16le(utf8, out);
  return out;
}

std::string fromUtf16le(const std::uint8_t* d, std::size_t size) {
  std::size_t n = size / 2;
  std::size_t k = 0;
  while (k < n && d[2 * k + 1] == 0 && d[2 * k] < 0x80) ++k;
  std::string out(k, '\0');  // ASCII prefix: written in place
  for (std::size_t i = 0; i < k; ++i) out[i] = static_cast<char>(d[2 * i]);
  if (k == n) return out;
  out.reserve(n + 2 * (n - k));
  for (; k < n; ++k) {
    char32_t u = d[2 * k] | (d[2 * k + 1] << 8);
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n) {
      char32_t lo = d[2 * k + 2] | (d[2 * k + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        appendUtf8(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00), out);
        ++k;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    appendUtf8(u, out);
  }
  return out;
}

bool isLosslessUtf16le(const std::uint8_t* d, std::size_t size) {
  if (size % 2) return false;
  std::size_t n = size / 2;
  for (std::size_t k = 0; k < n; ++k) {
    char32_t u = d[2 * k] | (d[2 * k + 1] << 8);
    if (u < 0xD800 || u > 0xDFFF) continue;
    if (u > 0xDBFF || k + 1 >= n) return false;
    char32_t lo = d[2 * k + 2] | (d[2 * k + 3] << 8);
    if (lo < 0xDC00 || lo > 0xDFFF) return false;
    ++k;
  }
  return true;
}

char32_t foldCodePoint(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;  // Latin-1
  if (c == 0x178) return 0xFF;                               // Y with diaeresis
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {  // Latin Extended-A pairs
    bool oddLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return oddLower ? ((c & 1) ? c + 1 : c) : (c | 1);
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

std::string foldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c));
      ++i;
    } else {
      appendUtf8(foldCodePoint(decodeOrReplace(s, i)), out);
    }
  }
  return out;
}

std::uint64_t foldedHash(std::string_view s) {
  std::uint64_t h = 1469598103934665603ull;
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    if (c < 0x80) {
      cp = (c >= 'A' && c <= 'Z') ? c + 32 : c;
      ++i;
    } else {
      cp = foldCodePoint(decodeOrReplace(s, i));
    }
    h = (h ^ cp) * 1099511628211ull;
  }
  return h;
}

bool iequals(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (ca != cb) {
        if ((ca | 32) != (cb | 32) || (ca | 32) < 'a' || (ca | 32) > 'z') return false;
      }
      ++i;
      ++j;
      continue;
    }
    if (foldCodePoint(decodeOrReplace(a, i)) != foldCodePoint(decodeOrReplace(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

std::size_t ifind(std::string_view hay, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
  if (needle.size() > hay.size()) return std::string_view::npos;
  auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
  const unsigned char first = lower(static_cast<unsigned char>(needle[0]));
  const unsigned char other = first >= 'a' && first <= 'z' ? first - 32 : first;
  // Candidates are found with memchr, one for each case of the first letter.
  const char* begin = hay.data();
  const char* last = begin + (hay.size() - needle.size());  // the last place it can start
  auto next = [&](const char* from, unsigned char c) -> const char* {
    if (from > last) return nullptr;
    return static_cast<const char*>(
        std::memchr(from, c, static_cast<std::size_t>(last - from) + 1));
  };
  if (from > hay.size()) return std::string_view::npos;
  const char* a = next(begin + from, first);
  const char* b = other == first ? nullptr : next(begin + from, other);
  while (a || b) {
    const char* at = !b || (a && a < b) ? a : b;
    std::size_t k = 1;
    while (k < needle.size() &&
           lower(static_cast<unsigned char>(at[k])) == lower(static_cast<unsigned char>(needle[k])))
      ++k;
    if (k == needle.size()) return static_cast<std::size_t>(at - begin);
    if (at == a)
      a = next(a + 1, first);
    else
      b = next(b + 1, other);
  }
  return std::string_view::npos;
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
  std::string p = foldCase(pattern), n = foldCase(name);
  std::size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  auto step = [](const std::string& s, std::size_t i) {  // length of the UTF-8 sequence at i
    auto c = static_cast<unsigned char>(s[i]);
    return c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
  };
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (pi < p.size() && p[pi] == '?') {
      ++pi;
      ni += step(n, ni);
    } else if (pi < p.size() && p.compare(pi, step(p, pi), n, ni, step(n, ni)) == 0) {
      ni += step(n, ni);
      pi += step(p, pi);
    } else if (star != std::string::npos) {
      pi = star + 1;
      mark += step(n, mark);
      ni = mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::string_view trimmedRightView(std::string_view s, std::string_view chars) {
  std::size_t b = s.find_last_not_of(chars);
  return b == std::string_view::npos ? std::string_view() : s.substr(0, b + 1);
}

std::string_view trimmedView(std::string_view s, std::string_view chars) {
  std::size_t a = s.find_first_not_of(chars);
  return a == std::string_view::npos ? std::string_view() : trimmedRightView(s.substr(a), chars);
}

std::string generalDateText(std::time_t t) {
  std::tm tm = hostio::localTime(t);
  int hour = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  return fmt::format("{}/{}/{} {}:{:02}:{:02} {}", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900,
                     hour, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
}

}  // namespace brisquell
