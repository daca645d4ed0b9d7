#include "common/output_sink.h"

#include <array>

namespace emvtlv {
namespace {

constexpr std::array<char, 512> make_hex_pairs() {
  constexpr char digits[] = "0123456789ABCDEF";
  std::array<char, 512> pairs{};
  for (std::size_t b = 0; b < 256; ++b) {
    pairs[2 * b] = digits[b >> 4];
    pairs[2 * b + 1] = digits[b & 0xF];
  }
  return pairs;
}

constexpr std::array<char, 512> hex_pairs = make_hex_pairs();

}  // namespace

void put_hex_byte(output_sink& out, std::uint8_t byte) {
  out.append(std::string_view(&hex_pairs[2 * std::size_t{byte}], 2));
}

}  // namespace emvtlv
