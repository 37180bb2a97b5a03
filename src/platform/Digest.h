// Message digests through the system's own crypto: nettle on POSIX, CNG on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brisquell::digest {

/// SHA-256 of `size` bytes, as 64 lowercase hex digits.
std::string sha256Hex(const std::uint8_t* data, std::size_t size);
/// The same as 32 bytes: what each system's back end gives.
void sha256(const std::uint8_t* data, std::size_t size, std::uint8_t (&out)[32]);

}  // namespace brisquell::digest
