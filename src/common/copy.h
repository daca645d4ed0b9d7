// Copies for the few characters a line label or an item holds, inline: a library call
// for every line costs more than the copy itself. Fixed-size moves, the last one
// overlapping, so nothing is written past dst + n; the ranges must not overlap.
#pragma once

#include <cstddef>
#include <cstring>

namespace emvtlv {

inline void copy_short(char* dst, const char* src, std::size_t n) {
  if (n >= 16) {
    for (std::size_t i = 0; i + 16 < n; i += 16)
      std::memcpy(dst + i, src + i, 16);
    std::memcpy(dst + n - 16, src + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(dst, src, 8);
    std::memcpy(dst + n - 8, src + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(dst, src, 4);
    std::memcpy(dst + n - 4, src + n - 4, 4);
  } else if (n >= 2) {
    std::memcpy(dst, src, 2);
    std::memcpy(dst + n - 2, src + n - 2, 2);
  } else if (n == 1) {
    *dst = *src;
  }
}

}  // namespace emvtlv
