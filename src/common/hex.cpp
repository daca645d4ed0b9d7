#include "common/hex.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "common/cpu.h"

#if defined(EMVTLV_AVX2_PATHS)
#include <immintrin.h>
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

// Eight pairs of hex digits at `in` (16 characters) to eight bytes, one in each 16-bit
// lane; false when any character is no hex digit.
inline bool pair_block(const char* in, __m128i& bytes) {
  const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i digit = _mm_sub_epi8(text, _mm_set1_epi8('0'));
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(text, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
  const __m128i nibbles =
      _mm_or_si128(_mm_and_si128(is_digit, digit),
                   _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
  // Each 16-bit lane holds a pair: its first digit in the low byte.
  bytes = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4),
                       _mm_srli_epi16(nibbles, 8));
  return _mm_movemask_epi8(_mm_or_si128(is_digit, is_letter)) == 0xFFFF;
}

inline void split_nibbles(__m128i bytes, __m128i& high, __m128i& low) {
  const __m128i mask = _mm_set1_epi8(0x0F);
  high = nibbles_to_ascii(_mm_and_si128(_mm_srli_epi16(bytes, 4), mask));
  low = nibbles_to_ascii(_mm_and_si128(bytes, mask));
}
#endif

#if defined(EMVTLV_AVX2_PATHS)
// Sixteen pairs a step, as pair_block does eight; returns the pairs decoded, stopping
// before the first step that holds a character that is no hex digit.
[[gnu::target("avx2")]] std::size_t decode_pairs_avx2(const char* in, std::size_t pairs,
                                                      std::uint8_t* out) {
  std::size_t i = 0;
  for (; i + 16 <= pairs; i += 16) {
    const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * i));
    const __m256i digit = _mm256_sub_epi8(text, _mm256_set1_epi8('0'));
    const __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, _mm256_set1_epi8(9)), digit);
    const __m256i letter =
        _mm256_sub_epi8(_mm256_or_si256(text, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
    const __m256i is_letter =
        _mm256_cmpeq_epi8(_mm256_min_epu8(letter, _mm256_set1_epi8(5)), letter);
    if (_mm256_movemask_epi8(_mm256_or_si256(is_digit, is_letter)) != -1) break;
    const __m256i nibbles =
        _mm256_or_si256(_mm256_and_si256(is_digit, digit),
                        _mm256_and_si256(is_letter, _mm256_add_epi8(letter, _mm256_set1_epi8(10))));
    const __m256i bytes =
        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(nibbles, _mm256_set1_epi16(0x00FF)), 4),
                        _mm256_srli_epi16(nibbles, 8));
    // The pack works within each 128-bit half: the two low quarters hold the 16 bytes.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(bytes, bytes), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(packed));
  }
  return i;
}
#endif

}  // namespace

void encode_hex_unchecked(const std::uint8_t* in, std::size_t n, char* out) {
#if defined(__SSE2__)
  __m128i high;
  __m128i low;
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      split_nibbles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), high, low);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(high, low));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(high, low));
    }
    const auto eight_from = [&](std::size_t from) {
      split_nibbles(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + from)), high, low);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * from), _mm_unpacklo_epi8(high, low));
    };
    if (i + 8 <= n) {
      eight_from(i);
      i += 8;
    }
    // The last eight bytes once more, overlapping what is written: the same text again.
    if (i < n) eight_from(n - 8);
    return;
  }
  if (n >= 4) {
    // Most values are a few bytes: two four-byte steps, overlapping when n < 8.
    for (const std::size_t from : {std::size_t{0}, n - 4}) {
      std::uint32_t word = 0;
      std::memcpy(&word, in + from, 4);
      split_nibbles(_mm_cvtsi32_si128(static_cast<int>(word)), high, low);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * from), _mm_unpacklo_epi8(high, low));
    }
    return;
  }
#endif
  for (std::size_t i = 0; i < n; ++i)
    std::memcpy(out + 2 * i, &hex_pairs[2 * std::size_t{in[i]}], 2);
}

std::size_t decode_hex_pairs_unchecked(const char* in, std::size_t pairs, std::uint8_t* out) {
  std::size_t i = 0;
#if defined(EMVTLV_AVX2_PATHS)
  // The SSE2 steps below finish what the wide ones leave, or find where the digits stop.
  if (pairs >= 16 && cpu_has_avx2()) i = decode_pairs_avx2(in, pairs, out);
#endif
#if defined(__SSE2__)
  // Sixteen pairs at a time, then eight; a block with any non-digit is left to the
  // loop below, which finds exactly where the digits stop.
  __m128i low_half;
  __m128i high_half;
  bool clean = true;  // every pair so far was digits
  for (; i + 16 <= pairs; i += 16) {
    const bool first = pair_block(in + 2 * i, low_half);
    const bool second = pair_block(in + 2 * i + 16, high_half);
    if (!(first && second)) {
      if (first) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low_half, low_half));
        i += 8;
      }
      clean = false;
      break;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low_half, high_half));
  }
  if (clean && i + 8 <= pairs) {
    clean = pair_block(in + 2 * i, low_half);
    if (clean) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low_half, low_half));
      i += 8;
    }
  }
  // The last eight pairs once more, overlapping what is written, when all before were
  // digits: one block rather than up to seven single steps.
  if (clean && i < pairs && pairs >= 8 && pair_block(in + 2 * (pairs - 8), low_half)) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + pairs - 8),
                     _mm_packus_epi16(low_half, low_half));
    return pairs;
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
