// Printers for the two card numbers, in place of the generic hex dump.
//
// Both take the element arguments of the generic printer (the value view, the
// declared length, the available count) and print exactly one line.
// - read_pan (tag 5A): every declared octet must be packed BCD (octets past the record
//   read 00 and pass); then 4 to 10 octets; printed as "XX" per masked octet and the
//   last two octets in hex. Positions the record does not reach print 00, so a record's
//   output never depends on records before it.
// - read_iin (tag 42): the first two value positions must be packed BCD, whatever the
//   declared length (a short value reads the next element's header); printed as two
//   octets, 00 where the value does not reach.
#pragma once

#include <cstdint>

#include "common/output_sink.h"
#include "common/record_view.h"

namespace emvtlv {

void read_pan(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out);
void read_iin(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out);

}  // namespace emvtlv
