// A fixed-size text buffer for composing an item's label or text on the stack, so
// explaining a value allocates nothing.
//
// Contract and limits: holds at most N characters; anything appended past that is
// dropped (callers size N for their longest text). The view lives as long as the buffer.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "common/copy.h"
#include "common/hex.h"

namespace emvtlv::explain {

template <std::size_t N>
class item_text {
 public:
  item_text& append(std::string_view s) {
    const std::size_t n = std::min(s.size(), N - size_);
    copy_short(chars_.data() + size_, s.data(), n);
    size_ += n;
    return *this;
  }
  // Upper-case hex, two digits a byte.
  item_text& append_hex(std::span<const std::uint8_t> octets) {
    for (const std::uint8_t b : octets) {
      put(hex_pairs[2 * std::size_t{b}]);
      put(hex_pairs[2 * std::size_t{b} + 1]);
    }
    return *this;
  }
  item_text& append_hex(std::uint8_t b) { return append_hex(std::span<const std::uint8_t>(&b, 1)); }
  item_text& append_uint(std::uint64_t n) {
    // Most numbers here are a record, SFI, index or length: one or two digits.
    if (n < 10) {
      put(static_cast<char>('0' + n));
      return *this;
    }
    if (n < 100) {
      put(static_cast<char>('0' + n / 10));
      put(static_cast<char>('0' + n % 10));
      return *this;
    }
    std::array<char, 20> digits;
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), n);
    return append(
        std::string_view(digits.data(), static_cast<std::size_t>(result.ptr - digits.data())));
  }
  std::string_view view() const { return {chars_.data(), size_}; }

 private:
  void put(char c) {
    if (size_ < N) chars_[size_++] = c;
  }
  std::array<char, N> chars_;  // only the first size_ are ever read
  std::size_t size_ = 0;
};

}  // namespace emvtlv::explain
