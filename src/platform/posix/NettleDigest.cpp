#include "platform/Digest.h"

#include <nettle/sha2.h>

namespace brisquell::digest {

std::string sha256Hex(const std::uint8_t* data, std::size_t size) {
  sha256_ctx c;
  sha256_init(&c);
  sha256_update(&c, size, data);
  std::uint8_t out[SHA256_DIGEST_SIZE];
  sha256_digest(&c, sizeof out, out);
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
