#include "trace/text_lines.h"

#include <algorithm>
#include <cstring>

namespace emvtlv::trace {

void text_line_reader::reset() noexcept {
  begin_ = 0;
  end_ = 0;
  scanned_ = 0;
  at_end_ = false;
  failed_ = false;
  skipping_ = false;
  number_ = 0;
}

text_line_reader::status text_line_reader::next(text_line& line) {
  for (;;) {
    const std::size_t from = begin_ + scanned_;
    const void* found =
        from < end_ ? std::memchr(block_.data() + from, '\n', end_ - from) : nullptr;
    if (found != nullptr) {
      const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - block_.data());
      line.number = ++number_;
      line.too_long = skipping_;
      line.text =
          skipping_ ? std::string_view() : std::string_view(block_.data() + begin_, at - begin_);
      skipping_ = false;
      begin_ = at + 1;
      scanned_ = 0;
      return status::line;
    }
    scanned_ = end_ - begin_;
    if (!at_end_) {
      if (begin_ == 0 && end_ == block_.size()) {
        // The line fills the whole block: drop what is held and skip to its end.
        skipping_ = true;
        begin_ = end_ = scanned_ = 0;
      }
      return status::need_input;
    }
    if (failed_) return status::read_error;
    if (begin_ == end_ && !skipping_) return status::end_of_input;
    line.number = ++number_;
    line.too_long = skipping_;
    line.text =
        skipping_ ? std::string_view() : std::string_view(block_.data() + begin_, end_ - begin_);
    skipping_ = false;
    begin_ = end_;
    scanned_ = 0;
    return status::line;
  }
}

void text_line_reader::fill(input_source in) {
  if (begin_ > 0) {
    std::memmove(block_.data(), block_.data() + begin_, end_ - begin_);
    end_ -= begin_;
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

}  // namespace emvtlv::trace
