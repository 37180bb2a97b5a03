#include "platform/Digest.h"

#include <nettle/sha2.h>

namespace brisquell::digest {

void sha256(const std::uint8_t* data, std::size_t size, std::uint8_t (&out)[32]) {
  static_assert(sizeof out == SHA256_DIGEST_SIZE);
  sha256_ctx c;
  sha256_init(&c);
  sha256_update(&c, size, data);
  sha256_digest(&c, sizeof out, out);
}

}  // namespace brisquell::digest
