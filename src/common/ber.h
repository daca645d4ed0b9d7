// BER-TLV tags read off a byte view, for the readers that take a tag of at most four
// octets (data object lists, the answers offline data authentication reads).
//
// Contract: reads only within `bytes`; a first octet whose low five bits are all set
// is followed by octets that go on while their top bit is set. Allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace emvtlv {

// The tag at the front of `bytes`, its octets as one big-endian number. Returns how many
// octets it has, or 0 when the bytes end inside it or it has more than four.
inline std::size_t read_ber_tag(std::span<const std::uint8_t> bytes, std::uint32_t& tag) {
  if (bytes.empty()) return 0;
  tag = bytes[0];
  std::size_t at = 1;
  if ((bytes[0] & 0x1F) == 0x1F) {
    do {
      if (at >= bytes.size() || at >= 4) return 0;
      tag = (tag << 8) | bytes[at];
    } while ((bytes[at++] & 0x80) != 0);
  }
  return at;
}

}  // namespace emvtlv
