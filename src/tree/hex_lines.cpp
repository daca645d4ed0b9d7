#include "tree/hex_lines.h"

#include <algorithm>
#include <cstring>

#include "common/hex.h"

namespace emvtlv {
namespace {

// What each input byte is to the reader: a digit's value (0 to 15), or one of these.
constexpr std::uint8_t separator = 16;
constexpr std::uint8_t newline = 17;
constexpr std::uint8_t other = 18;

constexpr std::array<std::uint8_t, 256> char_classes = [] {
  std::array<std::uint8_t, 256> classes{};
  classes.fill(other);
  for (std::uint8_t i = 0; i < 10; ++i)
    classes['0' + i] = i;
  for (std::uint8_t i = 0; i < 6; ++i) {
    classes['a' + i] = static_cast<std::uint8_t>(10 + i);
    classes['A' + i] = static_cast<std::uint8_t>(10 + i);
  }
  for (const char c : {' ', '\t', '\r', ':', '-', ','})
    classes[static_cast<unsigned char>(c)] = separator;
  classes['\n'] = newline;
  return classes;
}();

constexpr std::string_view not_a_digit = " is not a hex digit";
constexpr std::string_view inside_a_pair = " inside a hex pair";
constexpr std::string_view odd_digits = "odd number of hex digits";
constexpr std::string_view too_long = "record longer than 65536 bytes";
constexpr std::string_view bare_prefix = "0x without a hex pair";

}  // namespace

hex_line_reader::hex_line_reader() = default;

void hex_line_reader::reset() noexcept {
  begin_ = 0;
  end_ = 0;
  at_end_ = false;
  failed_ = false;
  number_ = 0;
  in_line_ = false;
}

void hex_line_reader::start_line(std::size_t at) noexcept {
  ++number_;
  column_base_ = 0 - static_cast<std::uint64_t>(at);
  in_line_ = true;
  count_ = 0;
  have_high_ = false;
  have_gap_ = false;
  after_prefix_ = false;
  high_after_prefix_ = false;
  bad_ = false;
}

void hex_line_reader::mark_bad(std::uint64_t column, std::string_view message,
                               std::string_view problem_id) noexcept {
  bad_ = true;
  problem_id_ = problem_id;
  bad_column_ = column;
  message_size_ = std::min(message.size(), message_.size());
  std::memcpy(message_.data(), message.data(), message_size_);
}

void hex_line_reader::mark_bad_char(std::uint64_t column, char c, std::string_view rest,
                                    std::string_view problem_id) noexcept {
  const auto byte = static_cast<unsigned char>(c);
  std::array<char, 6> quoted{'\'', c, '\''};
  std::size_t size = 3;
  if (byte < 0x20 || byte > 0x7E) {
    quoted = {
        '\'', '\\', 'x', hex_pairs[2 * std::size_t{byte}], hex_pairs[2 * std::size_t{byte} + 1],
        '\''};
    size = 6;
  }
  std::array<char, 32> text{};
  std::memcpy(text.data(), quoted.data(), size);
  std::memcpy(text.data() + size, rest.data(), rest.size());
  mark_bad(column, std::string_view(text.data(), size + rest.size()), problem_id);
}

hex_line_reader::status hex_line_reader::finish_line(hex_line& line) noexcept {
  if (!bad_ && after_prefix_) mark_bad(prefix_column_, bare_prefix, "bare_hex_prefix");
  if (!bad_ && have_high_) mark_bad(high_column_, odd_digits, "odd_number_of_hex_digits");
  line.number = number_;
  line.bytes = {};
  line.column = 0;
  line.message = {};
  line.problem_id = {};
  if (bad_) {
    line.problem_id = problem_id_;
    line.what = hex_line::kind::bad;
    line.column = bad_column_;
    line.message = std::string_view(message_.data(), message_size_);
  } else if (count_ == 0) {
    line.what = hex_line::kind::blank;
  } else {
    line.what = hex_line::kind::record;
    line.bytes = std::span<const std::uint8_t>(record_.data(), count_);
  }
  in_line_ = false;
  return status::line;
}

hex_line_reader::status hex_line_reader::next(hex_line& line) {
  for (;;) {
    if (begin_ == end_) {
      if (!at_end_) return status::need_input;
      if (failed_) {
        in_line_ = false;
        return status::read_error;
      }
      if (in_line_) return finish_line(line);
      return status::end_of_input;
    }
    if (!in_line_) start_line(begin_);

    if (bad_) {
      const void* found = std::memchr(block_.data() + begin_, '\n', end_ - begin_);
      if (found == nullptr) {
        begin_ = end_;
        continue;
      }
      begin_ = static_cast<std::size_t>(static_cast<const char*>(found) - block_.data()) + 1;
      return finish_line(line);
    }

    // Runs of plain digit pairs, the usual input, go in bulk.
    if (!have_high_) {
      const std::size_t pairs = std::min((end_ - begin_) / 2, record_.size() - count_);
      const std::size_t got =
          decode_hex_pairs_unchecked(block_.data() + begin_, pairs, record_.data() + count_);
      count_ += got;
      begin_ += 2 * got;
      if (got > 0) after_prefix_ = false;
      if (begin_ == end_) continue;
    }

    const std::size_t at = begin_++;
    const char c = block_[at];
    const std::uint8_t what = char_classes[static_cast<unsigned char>(c)];
    const std::uint64_t column = column_base_ + at + 1;
    if (what < 16) {
      if (!have_high_) {
        if (count_ == record_.size()) {
          mark_bad(column, too_long, "record_too_long");
        } else {
          have_high_ = true;
          high_ = what;
          high_column_ = column;
          high_after_prefix_ = after_prefix_;
        }
      } else if (have_gap_) {
        mark_bad_char(gap_column_, gap_, inside_a_pair, "separator_inside_a_pair");
      } else {
        record_[count_++] = static_cast<std::uint8_t>(high_ << 4 | what);
        have_high_ = false;
      }
      after_prefix_ = false;
    } else if ((c == 'x' || c == 'X') && have_high_ && high_ == 0 && !have_gap_ &&
               !high_after_prefix_) {
      // "0x9F": the 0 taken as a first digit was a prefix; a pair must follow.
      have_high_ = false;
      after_prefix_ = true;
      prefix_column_ = high_column_;
    } else if (what == separator) {
      if (after_prefix_) mark_bad(prefix_column_, bare_prefix, "bare_hex_prefix");
      if (have_high_ && !have_gap_) {
        have_gap_ = true;
        gap_ = c;
        gap_column_ = column;
      }
    } else if (what == newline) {
      return finish_line(line);
    } else {
      mark_bad_char(column, c, not_a_digit, "not_a_hex_digit");
    }
    if (!have_high_) have_gap_ = false;
  }
}

void hex_line_reader::fill(input_source in) {
  if (begin_ > 0) {
    std::memmove(block_.data(), block_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    column_base_ += begin_;
    begin_ = 0;
  }
  if (at_end_ || end_ == block_.size()) return;
  const std::ptrdiff_t got = in.read(in.context, block_.data() + end_, block_.size() - end_);
  if (got > 0) {
    end_ += std::min(static_cast<std::size_t>(got), block_.size() - end_);
  } else {
    at_end_ = true;
    failed_ = got < 0;
  }
}

}  // namespace emvtlv
