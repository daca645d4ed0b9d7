// Card-number masking: the one place that decides which printed digits of a card
// number are hidden. Every printer that can show a PAN runs its hex through here.
//
// Contract and limits:
// - Works on printed upper-case hex (two characters a byte) in place; the text keeps
//   its length and form, masked characters become 'X'.
// - A cut-short value is masked as far as it is printed: the rules apply to what the
//   hex holds.
// - Rules: 5A, all but the last four digits (trailing F pad kept and not counted);
//   57, and 9F6B unless its declared length is 6 and it holds no D (Visa's Card CVM
//   Limit), every character before the first D (all of it without one) but the last
//   four; 56 (Track 1, ASCII), each PAN character after a leading 'B' up to the first
//   '^' as "XX", but the last four.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv {

enum class card_mask : std::uint8_t { none, pan, track2, track1 };

// Which rule a primitive element's value falls under. `tag` is the tag octets as one
// big-endian number; `hex` is its value as printed.
card_mask card_mask_for(std::uint64_t tag, std::uint64_t declared_length, std::string_view hex);

// Masks the printed hex of one value under `rule`.
void apply_card_mask(card_mask rule, std::span<char> hex);

// A template's value printed as one hex string (`hex` shows `value`, two characters
// a byte): walks the value as BER-TLV and masks every card-number value inside it,
// in templates to any depth.
void mask_template_value(std::span<const std::uint8_t> value, std::span<char> hex);

}  // namespace emvtlv
