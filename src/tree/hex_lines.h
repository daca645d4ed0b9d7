// Reads the decoding modes' input: one record per line, as hex text the way people
// paste it, from an input source, without ever holding more than one block of input
// and one record.
//
// Contract and limits:
// - Hex digits in either case; space, tab, CR and the separators ':', '-' and ','
//   between byte pairs are ignored (so CR LF ends a line as LF does), and so is a "0x"
//   or "0X" right before a pair ("0x9F,0x36"). A separator inside a pair, a "0x" not
//   followed by a pair, any other character (NUL and bytes 80 to FF included), or an
//   odd number of digits makes the line bad: the first problem only, with its 1-based
//   column (byte position in the line); the rest of the line is skipped.
// - A record holds at most max_tree_record_bytes; a longer line is reported at the
//   first digit past the limit and skipped to its end without being kept.
// - A line with no digit and no problem (empty, or only white space and separators)
//   is blank.
// - Lines are numbered from 1; a last line without a newline is still a line. A read
//   error ends the input: the line it cuts is dropped and next() says read_error.
// - Messages are ASCII whatever the input: bytes outside 20 to 7E are shown escaped
//   ('\xFF').
// - The reader holds a 128 KiB block and a 64 KiB record (about 192 KiB): make it once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "io/descriptors.h"

namespace emvtlv {

inline constexpr std::size_t max_tree_record_bytes = 65536;

struct hex_line {
  enum class kind : std::uint8_t { blank, record, bad };
  kind what = kind::blank;
  std::uint64_t number = 0;             // input line, from 1
  std::span<const std::uint8_t> bytes;  // kind::record: the decoded bytes
  std::uint64_t column = 0;             // kind::bad: 1-based column, 0 when none applies
  std::string_view message;             // kind::bad: e.g. "'Z' is not a hex digit"
  std::string_view problem_id;          // kind::bad: the message's stable id, "not_a_hex_digit"
};

class hex_line_reader {
 public:
  enum class status : std::uint8_t { line, need_input, end_of_input, read_error };

  hex_line_reader();
  // The next whole line, or need_input when the block read so far ends inside one
  // (call fill, then next again). The line's views stay valid until the next call
  // to next. Once end_of_input or read_error is returned, it is returned again.
  status next(hex_line& line);
  // One read from `in`, which may block: drain any output first. A read of 0 bytes
  // is the end of input, a negative one an error; after either, fill reads no more.
  void fill(input_source in);
  // Starts over on another input: nothing held, lines numbered from 1 again.
  void reset() noexcept;

 private:
  static constexpr std::size_t block_size = 128 * 1024;

  void start_line(std::size_t at) noexcept;
  void mark_bad(std::uint64_t column, std::string_view message,
                std::string_view problem_id) noexcept;
  void mark_bad_char(std::uint64_t column, char c, std::string_view rest,
                     std::string_view problem_id) noexcept;
  status finish_line(hex_line& line) noexcept;

  // Only what a read filled, and what a line wrote, is ever looked at.
  std::array<char, block_size> block_;
  std::array<std::uint8_t, max_tree_record_bytes> record_;
  std::array<char, 40> message_;
  std::size_t begin_ = 0;  // next block byte to decode
  std::size_t end_ = 0;    // end of what reads filled
  bool at_end_ = false;
  bool failed_ = false;

  // The line being decoded. Its column of block byte i is column_base_ + i + 1, in
  // unsigned (wrapping) arithmetic, so moving the block only moves the base.
  std::uint64_t number_ = 0;
  std::uint64_t column_base_ = 0;
  bool in_line_ = false;    // a byte of this line has been taken
  std::size_t count_ = 0;   // record bytes decoded
  bool have_high_ = false;  // a first digit waits for its pair
  std::uint8_t high_ = 0;
  std::uint64_t high_column_ = 0;
  bool have_gap_ = false;           // a separator came after that first digit
  bool after_prefix_ = false;       // a "0x" was just read: a pair must follow
  bool high_after_prefix_ = false;  // the first digit waiting came right after a "0x"
  std::uint64_t prefix_column_ = 0;
  char gap_ = 0;
  std::uint64_t gap_column_ = 0;
  bool bad_ = false;  // skipping to the end of the line
  std::uint64_t bad_column_ = 0;
  std::size_t message_size_ = 0;
  std::string_view problem_id_;  // always a constant
};

}  // namespace emvtlv
