// Card-number masking: the one place that decides which printed digits of a card
// number are hidden. Every printer that can show a PAN runs its hex through here.
//
// Contract and limits:
// - Works on printed hex (two characters a byte, upper case as the printers write it;
//   the separators are recognised in either case) in place; the text keeps its length
//   and form, masked characters become 'X'.
// - A cut-short value is masked as far as it is printed: the rules apply to what the
//   hex holds.
// - Rules: 5A, all but the last four characters (trailing F pad kept and not counted);
//   57, and 9F6B unless its declared length is 6 and it holds no D (Visa's Card CVM
//   Limit), every character before the first D (all of it without one) but the last
//   four; 56 (Track 1, ASCII), each PAN character, from after a leading 'B' (from the
//   first character without one) up to the first '^', as "XX", but the last four.
// - Nothing allocates; no read leaves the spans given.
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

// Whether a tag (octets as one big-endian number) is a template: its first octet has
// bit 20 set, so its value is itself a run of elements.
bool is_template_tag(std::uint64_t tag);

// How a template's value is cut into elements. console: as the classic console's
// walk reads them, lengths short or 81 to 83; an element whose header cannot be read
// ends its template. tree: as the tree parser reads them, lengths up to 84; an element
// whose length cannot be read (80, 85 and up) holds every byte left in its template,
// masked under its own tag's rule and still read on as elements; one cut short by the
// end ends its template.
enum class template_framing : std::uint8_t { console, tree };

// A template's value printed as one hex string (`hex` shows `value`, two characters
// a byte; hex past 2 * value.size() is left alone, a shorter hex is masked as far as it
// goes): walks the value as BER-TLV and masks every card-number value inside it.
// - 00 octets where a tag would start are padding and skipped; tags may have any
//   number of octets; lengths as `framing` says.
// - Templates nest to any depth (no recursion); each element is read inside the
//   template that holds it. One whose value runs past that template's end is cut at
//   the end and masked as far as it goes. One that ends its template (see framing):
//   the walk goes on after it in the template around it, and stops at the outermost
//   level. Past 128 open templates deeper ones are walked as part of the one around
//   them (their own ends are not kept).
void mask_template_value(std::span<const std::uint8_t> value, std::span<char> hex,
                         template_framing framing);

}  // namespace emvtlv
