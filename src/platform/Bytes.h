// Registry data at the byte level: little-endian DWORDs and hex digits, as stores hold them and
// registry files spell them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brisquell {

using Bytes = std::vector<std::uint8_t>;

/// The DWORD in the first four bytes (little-endian); missing bytes count as zero.
inline std::uint32_t dwordOf(const std::uint8_t* data, std::size_t size) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && i < size; ++i)
    v |= static_cast<std::uint32_t>(data[i]) << (8 * i);
  return v;
}
inline std::uint32_t dwordOf(const Bytes& b) { return dwordOf(b.data(), b.size()); }

/// The four stored bytes of a DWORD.
inline Bytes dwordBytes(std::uint32_t v) {
  return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

/// 0..15 for a hex digit of either case, -1 for anything else.
inline int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Appends "xx,xx,..." (lower-case digits) the way regedit and Wine lay it out: after a comma
/// that takes the line to column 77 or beyond, `lineBreak` ("\\" and the line end) and two
/// blanks. `column` is where the list starts on its line.
inline void appendHexList(std::string& out, std::size_t column, const std::uint8_t* d,
                          std::size_t n, std::string_view lineBreak) {
  static const char digits[] = "0123456789abcdef";
  constexpr std::size_t kWrapAt = 77;
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(digits[d[i] >> 4]);
    out.push_back(digits[d[i] & 15]);
    if (i + 1 == n) break;
    out.push_back(',');
    column += 3;
    if (column >= kWrapAt) {
      out += lineBreak;
      out += "  ";
      column = 2;
    }
  }
}

}  // namespace brisquell
