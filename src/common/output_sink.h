// The output sink: decoding code appends its text here and never writes to a stream.
// The console drains it to standard output in large blocks; tests read it as a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace emvtlv {

class output_sink {
 public:
  output_sink() = default;
  explicit output_sink(std::size_t reserve) { text_.reserve(reserve); }

  void append(std::string_view text) { text_.append(text); }
  void put(char c) { text_.push_back(c); }

  std::string_view view() const noexcept { return text_; }
  std::size_t size() const noexcept { return text_.size(); }
  // Keeps the capacity, so a sink reused for every record allocates only while it grows.
  void clear() noexcept { text_.clear(); }

 private:
  std::string text_;
};

// One byte as two upper-case hexadecimal digits, no separator ("%02X").
void put_hex_byte(output_sink& out, std::uint8_t byte);

}  // namespace emvtlv
