// Trace mode's first stage: one text line of a session log cut into hex segments, each
// with the label the words before it give.
//
// Takes: a line's text (no newline) and a byte buffer of text.size() / 2 bytes.
// Gives: up to max_segments segments in line order, their bytes decoded into the buffer;
// nothing is kept between lines.
//
// Contract and limits:
// - A segment is a run of hex bytes: unspaced or spaced pairs, either case, `0x` bytes,
//   comma lists, inside quotes or brackets. Anything else ends it: a word with a letter
//   that is no hex digit, punctuation other than spaces and commas, a bracket, a quote,
//   a `(...)` comment (skipped whole). An odd final digit is dropped and said
//   (odd_digit).
// - A run of fewer than two bytes, or with no decimal digit ("add", "BEEF"), is no
//   segment but a word (counters, times, "record 1"), unless SW1/SW2 labels it.
// - Inside a bracketed or comma list a placeholder word (`<pin>`, `XX`) ends the list:
//   the bytes before it are the segment, said to be cut (placeholder).
// - The label is the last label token in the text since the previous segment: tokens
//   are arrows (`>`, `>>`, `->`, `<<`, ...) and words, split at punctuation, in any
//   case, a trailing number ignored (`Request1`, `DEBUG:emv.transmission:Tx:`).
// - A line whose first word is `#`, `//` or `;` is a comment: no segments.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv::trace {

enum class segment_label : std::uint8_t {
  none,
  command,   // send, tx, req, request, c-apdu, command, >, >>, ...
  response,  // recv, rx, res, response, r-apdu, returned, <, <<, ...
  status,    // sw, sw1sw2, status
  sw1,       // one byte: SW1
  sw2,       // one byte: SW2
  expected,  // a tool's expected status (`Expt:`): never an answer
  atr,       // the card's answer to reset
};

struct segment {
  std::uint32_t offset = 0;  // into the buffer
  std::uint32_t size = 0;    // bytes
  std::uint32_t column = 0;  // of its first digit, from 1
  segment_label label = segment_label::none;
  std::uint32_t first_word = 0;  // bytes of its first space-separated word
  bool odd_digit = false;        // a lone last digit was dropped
  bool placeholder = false;      // a non-hex word inside its list cut it
};

inline constexpr std::size_t max_segments = 16;

struct line_segments {
  std::array<segment, max_segments> items{};
  std::size_t count = 0;
  bool more = false;  // segments past max_segments were dropped
  std::span<const segment> view() const { return {items.data(), count}; }
};

void split_segments(std::string_view text, std::span<std::uint8_t> buffer, line_segments& out);

// The label the words of `text` give (the last label token among them).
segment_label label_of(std::string_view text);

}  // namespace emvtlv::trace
