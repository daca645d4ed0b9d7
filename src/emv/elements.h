// The EMV data element dictionary of the decoding modes: every element of EMV 4.x
// Book 3 Annex A and Book 4, and the contactless elements met in practice.
//
// Contract and limits:
// - One constexpr table, sorted by tag, each tag once; a tag is its octets read as one
//   big-endian number (5A, 9F26, BF0C, DF8101).
// - Each entry: tag, name (ASCII), format and whether EMV calls it a template.
//   Kernel-specific tags carry a name that says so.
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

// The whole table, ascending by tag.
std::span<const emv_element> emv_elements();

// The entry for `tag`, or nullptr.
const emv_element* find_emv_element(std::uint64_t tag);

}  // namespace emvtlv
