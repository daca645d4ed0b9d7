// Trace mode's line forms: one APDU per line of a session log, as readers, terminal
// kernels and phone apps write them.
//
// Contract and limits:
// - The APDU is the last run of hex on the line: whole words of hex digits (either
//   case, spaced or not) up to its end; a word that ends in hex after a punctuation
//   mark (">00A4", "C:00A4") gives its hex part. One pass over the line. Whatever stands before the
//   run is the label (timestamps, counters, direction words, "data:").
// - A run with no decimal digit ("card added") is not hex: such a line, and a line with
//   no hex at all, is prose.
// - The label says the direction when one of its words is a direction word, in any
//   case, with an optional ':' (">", "->", "C-APDU", "TX", "Command", "<<", "RX",
//   "Response", ...) or a status word label ("SW", "SW1SW2", "Status"); the first such
//   word decides.
// - An odd number of digits makes the line bad, with a message; so does a status word
//   label over a run of other than two bytes.
// - Decoding writes into the caller's buffer, which must hold text.size() / 2 bytes;
//   nothing is kept between lines.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv::trace {

enum class line_label : std::uint8_t { none, command, response, status };

struct apdu_line {
  enum class kind : std::uint8_t { prose, apdu, bad };
  kind what = kind::prose;
  line_label label = line_label::none;
  std::span<const std::uint8_t> bytes;  // kind::apdu: the decoded run
  std::string_view message;             // kind::bad
};

apdu_line read_apdu_line(std::string_view text, std::span<std::uint8_t> buffer);

// What a label's words say about the line's direction.
line_label label_of(std::string_view label);

}  // namespace emvtlv::trace
