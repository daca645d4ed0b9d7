#include "common/hex.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace emvtlv {
namespace {

// Value of each character as a hex digit, or 0xFF.
constexpr std::array<std::uint8_t, 256> hex_digits = [] {
  std::array<std::uint8_t, 256> digits{};
  digits.fill(0xFF);
  for (std::uint8_t i = 0; i < 10; ++i)
    digits['0' + i] = i;
  for (std::uint8_t i = 0; i < 6; ++i) {
    digits['a' + i] = static_cast<std::uint8_t>(10 + i);
    digits['A' + i] = static_cast<std::uint8_t>(10 + i);
  }
  return digits;
}();

#if defined(__SSE2__)
// Sixteen nibbles (00 to 0F) to their upper-case hex digits.
inline __m128i nibbles_to_ascii(__m128i nibbles) {
  const __m128i letters =
      _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8('A' - '0' - 10));
  return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
}

inline void split_nibbles(__m128i bytes, __m128i& high, __m128i& low) {
  const __m128i mask = _mm_set1_epi8(0x0F);
  high = nibbles_to_ascii(_mm_and_si128(_mm_srli_epi16(bytes, 4), mask));
  low = nibbles_to_ascii(_mm_and_si128(bytes, mask));
}
#endif

}  // namespace

void encode_hex_unchecked(const std::uint8_t* in, std::size_t n, char* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  __m128i high;
  __m128i low;
  for (; i + 16 <= n; i += 16) {
    split_nibbles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), high, low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(high, low));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(high, low));
  }
  if (i + 8 <= n) {
    split_nibbles(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i)), high, low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(high, low));
    i += 8;
  }
#endif
  for (; i < n; ++i)
    std::memcpy(out + 2 * i, &hex_pairs[2 * std::size_t{in[i]}], 2);
}

std::size_t decode_hex_pairs_unchecked(const char* in, std::size_t pairs, std::uint8_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Eight pairs at a time; a block with any non-digit is left to the loop below,
  // which finds exactly where the digits stop.
  for (; i + 8 <= pairs; i += 8) {
    const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    const __m128i digit = _mm_sub_epi8(text, _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
    const __m128i letter =
        _mm_sub_epi8(_mm_or_si128(text, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
    if (_mm_movemask_epi8(_mm_or_si128(is_digit, is_letter)) != 0xFFFF) break;
    const __m128i nibbles =
        _mm_or_si128(_mm_and_si128(is_digit, digit),
                     _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
    // Each 16-bit lane holds a pair: its first digit in the low byte.
    const __m128i bytes =
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4),
                     _mm_srli_epi16(nibbles, 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(bytes, bytes));
  }
#endif
  for (; i < pairs; ++i) {
    const unsigned high = hex_digits[static_cast<unsigned char>(in[2 * i])];
    const unsigned low = hex_digits[static_cast<unsigned char>(in[2 * i + 1])];
    if ((high | low) >= 16) return i;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return pairs;
}

}  // namespace emvtlv
