// Trace mode's line reader: the input cut into text lines, from an input source,
// holding one block at most.
//
// Contract and limits:
// - A line is everything up to a newline (not included); a last line without one is
//   still a line. Lines are numbered from 1.
// - A line longer than the block (128 KiB) is reported as too long and skipped to its
//   end without being kept: memory does not grow with a line's length.
// - A read error ends the input: the line it cuts is dropped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io/descriptors.h"

namespace emvtlv::trace {

struct text_line {
  std::uint64_t number = 0;
  std::string_view text;
  bool too_long = false;  // text is empty then
};

class text_line_reader {
 public:
  static constexpr std::size_t block_size = 128 * 1024;
  enum class status : std::uint8_t { line, need_input, end_of_input, read_error };

  // The next line (its text valid until the next call), or need_input: call fill.
  status next(text_line& line);
  void fill(input_source in);
  void reset() noexcept;

 private:
  std::array<char, block_size> block_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t scanned_ = 0;  // bytes after begin_ known to hold no newline
  bool at_end_ = false;
  bool failed_ = false;
  bool skipping_ = false;  // inside a line too long to keep
  std::uint64_t number_ = 0;
};

}  // namespace emvtlv::trace
