// The EMV data element dictionary of the decoding modes: every element of EMV 4.x
// Book 3 Annex A and Book 4, and the contactless elements met in practice.
//
// Contract and limits:
// - One constexpr table of 136 entries, sorted by tag, each tag once (checked at compile
//   time); a tag is its octets read as one big-endian number (5A, 9F26, BF0C), at most
//   four octets.
// - Each entry: tag, name (printable ASCII), format and whether it is constructed (bit 0x20
//   of the first tag octet). 80 and 83 are called templates but are primitive.
// - Kernel-specific tags carry a name that says so, e.g. "Track 2 Data (C-2) / Card CVM
//   Limit (C-3)"; their format is that of the first reading named.
// - Proprietary and kernel-private tags (DF.., DF81..) are not listed: nullptr for them.
// - The classic console's 77-entry table is separate and unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv {

enum class emv_format : std::uint8_t { a, an, ans, b, cn, n, var };

struct emv_element {
  std::uint32_t tag;
  std::string_view name;
  emv_format format;
  bool constructed;  // a template: its value is a list of elements
};

// Printable ASCII with no quote or backslash: a name a JSON string holds as it is.
// Every name of the table, and every kernel reading's, is one (checked when built).
constexpr bool is_plain_name(std::string_view name) {
  for (const char c : name)
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
  return true;
}

// The whole table, ascending by tag.
std::span<const emv_element> emv_elements();

// The entry for `tag`, or nullptr.
const emv_element* find_emv_element(std::uint64_t tag);

}  // namespace emvtlv
