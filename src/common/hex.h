// Bulk hex conversion on raw buffers, for the hot path. Neither function checks its
// buffers: the caller guarantees their sizes, as the names say.
#pragma once

#include <cstddef>
#include <cstdint>

namespace emvtlv {

// Writes 2 * n upper-case hex digits for the n bytes at `in` ("%02X" each).
void encode_hex_unchecked(const std::uint8_t* in, std::size_t n, char* out);

// Decodes up to `pairs` pairs of hex digits (either case) at `in` into bytes at `out`;
// stops at the first pair that is not two digits and returns how many it decoded.
std::size_t decode_hex_pairs_unchecked(const char* in, std::size_t pairs, std::uint8_t* out);

}  // namespace emvtlv
