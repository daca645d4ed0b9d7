// The element walk: turns one record into printed lines, one per BER-TLV element.
//
// Elements are taken as a flat run; templates are not opened. Each listed element
// prints its label and then its value in hex (or a printer's message); card numbers,
// in 5A, 57 and inside templates, print masked (card/mask.h). Problems are
// lines of text, never errors: "unknown tag" drops the rest of the record; a length
// field longer than 3 octets is reported, taken as length 0, and the walk resumes at
// the refused octet; a value cut short by the record's end prints what is there.
// Every read goes through a record_view, so nothing past the record is ever seen.
#pragma once

#include <cstdint>
#include <span>

#include "card/mask.h"
#include "common/output_sink.h"
#include "common/record_view.h"

namespace emvtlv {

// Walks a whole record of `count` bytes held in `record`. `hidden` is storage for the
// record scan's marks (at least max_record_bytes), made once by the caller; without
// it the walk makes its own. `end` says how the record's last byte was read, for the
// scan and the card rules: a number cut at a half byte is cut short.
void process_emv(std::span<const std::uint8_t> record, std::int32_t count, output_sink& out,
                 hidden_nibbles& hidden, last_byte end = last_byte::whole);
void process_emv(std::span<const std::uint8_t> record, std::int32_t count, output_sink& out);

// Decodes and prints the element starting at `element`; `remaining` is the record
// bytes from there to the end. Returns how many bytes the walk skips: the header plus
// the declared length, or all that remains after an unknown tag.
// Every record byte printed is shown as `hidden` says.
std::uint64_t process_tlv(record_view element, std::int32_t remaining, output_sink& out,
                          const hidden_nibbles& hidden = nothing_hidden());

// Returns the tag number (octets big-endian, high octets lost past 64 bits) and adds
// the number of tag octets to `position`.
std::uint64_t get_tag(record_view element, std::uint64_t& position);

// Returns the declared length read at `position` and moves `position` past the length
// field. A field of more than 3 octets is reported and gives 0 with `position` unmoved.
std::uint64_t get_length(record_view element, std::uint64_t& position, output_sink& out);

// The generic value printer: every copied octet, min(length, available) of them, in
// hex, then a newline.
void read_value(record_view value, std::uint64_t length, std::uint64_t available, output_sink& out,
                const hidden_nibbles& hidden = nothing_hidden());

}  // namespace emvtlv
