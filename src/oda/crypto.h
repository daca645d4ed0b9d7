// The two operations offline data authentication needs, done by libcrypto (OpenSSL 3):
// the RSA public operation without padding, and SHA-1.
//
// Contract and limits:
// - rsa_public: X = S^e mod n, written big-endian over exactly n's length (leading zeros
//   kept). Moduli of 1 to 256 bytes, exponents of 1 to 3 bytes. Refuses (false) a
//   signature not exactly as long as the modulus, or not below it, and a key libcrypto
//   will not build. Nothing is kept between calls.
// - sha1: over the parts in order, so the callers never join buffers.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>

namespace emvtlv::oda {

using sha1_digest = std::array<std::uint8_t, 20>;

bool rsa_public(std::span<const std::uint8_t> modulus, std::span<const std::uint8_t> exponent,
                std::span<const std::uint8_t> signature, std::span<std::uint8_t> out);

sha1_digest sha1(std::initializer_list<std::span<const std::uint8_t>> parts);
sha1_digest sha1(std::span<const std::span<const std::uint8_t>> parts);

}  // namespace emvtlv::oda
