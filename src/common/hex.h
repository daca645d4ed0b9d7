// Hex conversion: the "%02X" table, and bulk conversion on raw buffers for the hot
// path. The bulk functions do not check their buffers: the caller guarantees their
// sizes, as the names say.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace emvtlv {

// "%02X" for every byte value, two characters each.
inline constexpr std::array<char, 512> hex_pairs = [] {
  constexpr char digits[] = "0123456789ABCDEF";
  std::array<char, 512> pairs{};
  for (std::size_t b = 0; b < 256; ++b) {
    pairs[2 * b] = digits[b >> 4];
    pairs[2 * b + 1] = digits[b & 0xF];
  }
  return pairs;
}();

// Writes 2 * n upper-case hex digits for the n bytes at `in` ("%02X" each).
void encode_hex_unchecked(const std::uint8_t* in, std::size_t n, char* out);

// Decodes up to `pairs` pairs of hex digits (either case) at `in` into bytes at `out`;
// stops at the first pair that is not two digits and returns how many it decoded.
std::size_t decode_hex_pairs_unchecked(const char* in, std::size_t pairs, std::uint8_t* out);

}  // namespace emvtlv
