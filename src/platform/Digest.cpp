#include "platform/Digest.h"

namespace brisquell::digest {

std::string sha256Hex(const std::uint8_t* data, std::size_t size) {
  std::uint8_t out[32];
  sha256(data, size, out);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(2 * sizeof out);
  for (std::uint8_t b : out) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

}  // namespace brisquell::digest
