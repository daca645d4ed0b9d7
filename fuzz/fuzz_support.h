// Shared pieces of the fuzz targets: a property check that aborts, the line cut the
// console makes, and the checks every record's output must pass.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"

namespace emvtlv::fuzz {

// Aborts with `what` when a property fails, in every build type.
void require(bool holds, const char* what);

// The lines a stream is cut into: at most 511 characters each, through the first
// newline. Written out plainly here, apart from the console's reader, to check it.
std::vector<std::string_view> cut_lines(std::string_view stream);

// One line decoded and walked as the console does it, with buffers reused across
// calls (as the console reuses them), so a stale buffer would show.
struct decoded_line {
  std::array<std::uint8_t, record_buffer_size> record{};
  std::int32_t count = 0;
  std::string output;
};
decoded_line decode_and_walk(std::string_view line);

// Every line of one record's output is well formed: the label of the element the walk
// is at, followed by hex pairs, a message or a masked PAN; "unknown tag" only last;
// bare messages or empty lines only after a refused length field. A masked PAN shows
// X for exactly its masked octets and, in clear, only the last two octets of a 5A
// element of this record (00 past its end), and they are decimal digits.
// No card number shows in clear but for its last four digits: a plain walk of its own
// (not the program's masking code) finds every 5A, 57, 56 and 9F6B value, at the top
// level and inside templates, and every character the masking rules hide must print
// as X; every other character of a value prints as its hex.
void check_record_output(const decoded_line& decoded);

}  // namespace emvtlv::fuzz
