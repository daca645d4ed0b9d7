#include "card/card_printers.h"

#include <algorithm>
#include <array>
#include <span>

#include "common/hex.h"

#include "card/mask.h"

namespace emvtlv {
namespace {

constexpr std::uint64_t min_pan_octets = 4;
constexpr std::uint64_t max_pan_octets = 10;
constexpr std::uint64_t iin_octets = 2;

// Packed BCD: both halves 0 to 9. An F pad half fails too.
constexpr bool is_digit_octet(std::uint8_t octet) {
  return (octet >> 4) <= 9 && (octet & 0xF) <= 9;
}

// Checks `count` octets from the first; prints the message on the first that fails.
bool digits_only(record_view value, std::uint64_t count, output_sink& out) {
  // Past the record's end every octet reads 00 and passes, so only the octets the
  // record holds need looking at, however long the declared length.
  const std::uint64_t held = std::min(count, value.remaining());
  for (std::uint64_t i = 0; i < held; ++i) {
    if (!is_digit_octet(value.at(i))) {
      out.append("only numeric values allowed\n");
      return false;
    }
  }
  return true;
}

}  // namespace

void read_pan(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
              const hidden_nibbles& hidden) {
  if (!digits_only(value, length, out)) return;
  if (length < min_pan_octets) {
    out.append("PAN length must be at least 4 bytes\n");
    return;
  }
  if (length > max_pan_octets) {
    out.append("PAN length can only be up to 10 bytes\n");
    return;
  }
  // Fresh for every element: positions this copy does not reach print 00, never the
  // digits of a card from an earlier record.
  std::array<std::uint8_t, max_pan_octets> pan{};
  copy_data(pan, value, length, available);
  // The digit test let no F pad through, so this leaves the last two octets in clear.
  const std::span<char> text =
      put_hex_bytes(out, record_view(pan, static_cast<std::int32_t>(length)), length);
  apply_card_mask(card_mask_for(0x5A, length, {text.data(), text.size()}), text);
  // The copied octets are the record's: what the record scan hides there stays hidden.
  const std::span<const std::uint8_t> copied = value.held(std::min(length, available));
  hidden.apply(copied.data(), text.first(2 * copied.size()));
  out.put('\n');
}

void read_iin(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
              const hidden_nibbles& hidden) {
  if (!digits_only(value, iin_octets, out)) return;
  std::array<std::uint8_t, iin_octets> iin{};
  copy_data(iin, value, std::min(length, iin_octets), available);
  char* const text = out.extend(2 * iin_octets);
  encode_hex_unchecked(iin.data(), iin.size(), text);
  const std::span<const std::uint8_t> copied =
      value.held(std::min({length, iin_octets, available}));
  hidden.apply(copied.data(), {text, 2 * copied.size()});
  out.put('\n');
}

void read_track2(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
                 const hidden_nibbles& hidden) {
  const std::uint64_t shown = std::min(length, available);
  const std::span<char> text = put_hex_bytes(out, value, shown);
  const bool cut_short =
      shown < length || hidden.ends_in_half_byte(value.held(shown).data(), shown);
  apply_card_mask(card_mask_for(0x57, length, {text.data(), text.size()}), text, cut_short);
  hidden.apply(value.held(shown).data(), text);
  out.put('\n');
}

void read_template(record_view value, std::uint64_t length, std::uint64_t available,
                   output_sink& out, const hidden_nibbles& hidden) {
  const std::uint64_t shown = std::min(length, available);
  const std::span<char> text = put_hex_bytes(out, value, shown);
  mask_template_value(value.held(shown), text, template_framing::console, hidden);
  hidden.apply(value.held(shown).data(), text);
  out.put('\n');
}

}  // namespace emvtlv
