#include "platform/Digest.h"

#include <windows.h>

#include <bcrypt.h>

#include <stdexcept>

namespace brisquell::digest {

namespace {

bool hash(const std::uint8_t* data, std::size_t size, std::uint8_t (&out)[32]) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return false;
  BCRYPT_HASH_HANDLE h = nullptr;
  bool ok = BCryptCreateHash(alg, &h, nullptr, 0, nullptr, 0, 0) == 0;
  // BCryptHashData takes ULONG lengths: feed large inputs in pieces.
  while (ok && size > 0) {
    const ULONG n = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    ok = BCryptHashData(h, const_cast<PUCHAR>(data), n, 0) == 0;
    data += n;
    size -= n;
  }
  ok = ok && BCryptFinishHash(h, out, sizeof out, 0) == 0;
  if (h) BCryptDestroyHash(h);
  BCryptCloseAlgorithmProvider(alg, 0);
  return ok;
}

}  // namespace

void sha256(const std::uint8_t* data, std::size_t size, std::uint8_t (&out)[32]) {
  // The provider ships with every Windows since Vista; without it nothing here can run.
  if (!hash(data, size, out)) throw std::runtime_error("SHA-256 (bcrypt.dll) is not available");
}

}  // namespace brisquell::digest
