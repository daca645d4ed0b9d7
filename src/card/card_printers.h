// Printers for the elements that can hold a card number, in place of the generic hex
// dump. What they hide is decided by the masking module (card/mask.h).
//
// All take the element arguments of the generic printer (the value view, the
// declared length, the available count) and the record's hidden nibbles, and print
// exactly one line; every record byte they show is shown as the marks say.
// - read_pan (tag 5A): every declared octet must be packed BCD (octets past the record
//   read 00 and pass); then 4 to 10 octets; printed as "XX" per masked octet and the
//   last two octets in hex. Positions the record does not reach print 00, so a record's
//   output never depends on records before it.
// - read_iin (tag 42): the first two value positions must be packed BCD, whatever the
//   declared length (a short value reads the next element's header); printed as two
//   octets, 00 where the value does not reach.
// - read_track2 (tag 57): the available octets in hex, as the generic printer shows
//   them, the card number masked (every digit, when the value is cut short).
// - read_template (any template tag): the available octets in hex as one string, not
//   opened, with every card number the value's elements hold masked.
#pragma once

#include <cstdint>

#include "card/mask.h"
#include "common/output_sink.h"
#include "common/record_view.h"

namespace emvtlv {

void read_pan(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
              const hidden_nibbles& hidden);
void read_iin(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
              const hidden_nibbles& hidden);
void read_track2(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
                 const hidden_nibbles& hidden);
void read_template(record_view value, std::uint64_t length, std::uint64_t available,
                   output_sink& out, const hidden_nibbles& hidden);

}  // namespace emvtlv
