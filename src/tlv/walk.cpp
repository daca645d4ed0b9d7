#include "tlv/walk.h"

#include <algorithm>

#include "card/card_printers.h"
#include "card/mask.h"
#include "tlv/dictionary.h"

namespace emvtlv {
namespace {

// Whether the record scan hides an octet of the header: tag octets [0, tag_octets),
// then the length field. Hidden digits read as a header would make what follows
// depend on them, so such an element counts as unknown.
bool header_hidden(record_view element, std::uint64_t tag_octets, const hidden_nibbles& hidden) {
  if (!hidden.any()) return false;
  const std::uint8_t first = element.at(tag_octets);
  const std::uint64_t following = (first & 0x80) != 0 && (first & 0x7Fu) <= 2 ? first & 0x7Fu : 0;
  const std::span<const std::uint8_t> header = element.held(tag_octets + 1 + following);
  return hidden.hides_any(header.data(), header.size());
}

}  // namespace

void process_emv(std::span<const std::uint8_t> record, std::int32_t count, output_sink& out) {
  hidden_nibbles hidden(record.size());
  process_emv(record, count, out, hidden);
}

void process_emv(std::span<const std::uint8_t> record, std::int32_t count, output_sink& out,
                 hidden_nibbles& hidden, last_byte end) {
  const record_view whole(record, count);
  hidden.scan(whole.held(whole.remaining()), end);
  std::int32_t remaining = static_cast<std::int32_t>(whole.remaining());
  std::uint64_t offset = 0;
  while (remaining > 0) {
    const std::uint64_t consumed = process_tlv(whole.shifted(offset), remaining, out, hidden);
    // Every step consumes at least one byte; one that consumes more than remains
    // leaves a negative count, which ends the walk. Consumed counts stay far below
    // 2^31 (a header of at most a record plus 3 octets, a length of at most FFFF).
    remaining =
        static_cast<std::int32_t>(std::int64_t{remaining} - static_cast<std::int64_t>(consumed));
    offset += consumed;
  }
}

std::uint64_t process_tlv(record_view element, std::int32_t remaining, output_sink& out,
                          const hidden_nibbles& hidden) {
  std::uint64_t position = 0;
  const std::uint64_t tag = get_tag(element, position);
  if (header_hidden(element, position, hidden) || find_tag(tag, out) == 0) {
    out.append("unknown tag\n");
    return static_cast<std::uint64_t>(std::max(remaining, std::int32_t{0}));
  }
  // After a refused length field, position still counts only the tag octets: the
  // value view then starts at the refused octet and the walk resumes there.
  const std::uint64_t length = get_length(element, position, out);
  const std::int64_t left = std::int64_t{remaining} - static_cast<std::int64_t>(position);
  const std::uint64_t available = left > 0 ? static_cast<std::uint64_t>(left) : 0;
  const record_view value = element.shifted(position);
  switch (tag) {
    case 0x42:
      read_iin(value, length, available, out, hidden);
      break;
    case 0x5A:
      read_pan(value, length, available, out, hidden);
      break;
    case 0x57:
      read_track2(value, length, available, out, hidden);
      break;
    default:
      // A template prints as one string too, but the card numbers inside are hidden.
      if (is_template_tag(tag)) {
        read_template(value, length, available, out, hidden);
      } else {
        read_value(value, length, available, out, hidden);
      }
  }
  return position + length;
}

std::uint64_t get_tag(record_view element, std::uint64_t& position) {
  std::uint64_t octets = 1;
  std::uint64_t tag = element.at(0);
  if ((tag & 0x1F) == 0x1F) {
    // Subsequent octets belong to the tag while their top bit is set; the first one
    // with it clear is the last. A 00 read past the record's end always ends it.
    std::uint8_t octet = 0;
    do {
      octet = element.at(octets);
      tag = (tag << 8) | octet;
      ++octets;
    } while ((octet & 0x80) != 0);
  }
  position += octets;
  return tag;
}

std::uint64_t get_length(record_view element, std::uint64_t& position, output_sink& out) {
  const std::uint8_t first = element.at(position);
  if ((first & 0x80) == 0) {
    position += 1;
    return first;
  }
  const unsigned following = first & 0x7Fu;
  if (following > 2) {
    out.append("length bytes not allowed to be greater than 3\n");
    return 0;
  }
  std::uint64_t length = 0;
  for (unsigned i = 1; i <= following; ++i)
    length = (length << 8) | element.at(position + i);
  position += 1 + following;
  return length;
}

void read_value(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
                const hidden_nibbles& hidden) {
  // Every octet is printed, 00 included: a counter of 0001 or a currency code of
  // 0978 is data, not the end of the value.
  const std::uint64_t shown = std::min(length, available);
  hidden.apply(value.held(shown).data(), put_hex_bytes(out, value, shown));
  out.put('\n');
}

}  // namespace emvtlv
