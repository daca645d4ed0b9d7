// Reads the decoding modes' input: one record per line, as hex text the way people
// paste it, from an input source, without ever holding more than one block of input
// and one record.
//
// Contract and limits:
// - Hex digits in either case; space, tab, CR and the separators ':' and '-' between
//   byte pairs are ignored. A separator inside a pair, any other character, or an odd
//   number of digits makes the line bad: one message, its 1-based column, no bytes.
// - A record holds at most max_tree_record_bytes; a longer line is reported once and
//   skipped to its end without being kept.
// - Lines are numbered from 1; a last line without a newline is still a line.
// - Messages are ASCII whatever the input: other bytes are shown escaped ('\xFF').
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "console/console.h"

namespace emvtlv {

inline constexpr std::size_t max_tree_record_bytes = 65536;

struct hex_line {
  enum class kind : std::uint8_t { blank, record, bad };
  kind what = kind::blank;
  std::uint64_t number = 0;             // input line, from 1
  std::span<const std::uint8_t> bytes;  // kind::record: the decoded bytes
  std::uint64_t column = 0;             // kind::bad: 1-based column, 0 when none applies
  std::string_view message;             // kind::bad: e.g. "'Z' is not a hex digit"
};

class hex_line_reader {
 public:
  enum class status : std::uint8_t { line, need_input, end_of_input, read_error };

  hex_line_reader();
  // The next whole line, or need_input when the block read so far ends inside one
  // (call fill, then next again). The line's views stay valid until the next call.
  status next(hex_line& line);
  // One read from `in`.
  void fill(input_source in);

 private:
  struct state;
  std::array<std::uint64_t, 1> placeholder_{};  // replaced by the real state
};

}  // namespace emvtlv
