// The output sink: decoding code appends its text here and never writes to a stream.
// The console drains it to standard output in large blocks; tests read it as a string.
// A sink given somewhere to spill to passes its text on whenever a writer, between two
// lines, finds it holding more than spill_bound: a record's output never waits whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "common/hex.h"
#include "common/record_view.h"

namespace emvtlv {

class output_sink {
 public:
  output_sink() = default;
  explicit output_sink(std::size_t reserve) { grow(reserve); }

  // Makes room for n more characters at the end and returns where they go; the caller
  // writes all n before the next call.
  char* extend(std::size_t n) {
    if (n > static_cast<std::size_t>(limit_ - end_)) grow(n);
    char* at = end_;
    end_ += n;
    return at;
  }
  void append(std::string_view text) {
    // memcpy may not be handed a null pointer, which an empty sink has, even for 0 bytes.
    if (!text.empty()) std::memcpy(extend(text.size()), text.data(), text.size());
  }
  void put(char c) { *extend(1) = c; }
  // Gives back the last n characters of room extend handed out (n at most what it did).
  void drop_back(std::size_t n) noexcept { end_ -= n; }

  std::string_view view() const noexcept {
    return {storage_.get(), static_cast<std::size_t>(end_ - storage_.get())};
  }
  std::size_t size() const noexcept { return view().size(); }
  // Keeps the storage, so a sink reused for every record allocates only while it grows.
  void clear() noexcept { end_ = storage_.get(); }

  // Where spilled text goes (shaped as io/descriptors.h's output_target); `write`
  // returns false when the output is gone. Setting it clears a failure from before.
  struct spill_target {
    void* context = nullptr;
    bool (*write)(void* context, const char* data, std::size_t size) = nullptr;
  };
  void spill_to(spill_target target) noexcept {
    spill_ = target;
    spill_failed_ = false;
  }
  // Between lines only: passes everything held on when it is more than `bound`.
  void spill_if_over(std::size_t bound) {
    if (spill_.write != nullptr && size() > bound) spill();
  }
  // Whether a spill found the output gone (what it held is dropped).
  bool spill_failed() const noexcept { return spill_failed_; }

 private:
  void grow(std::size_t n);

  void spill();

  std::unique_ptr<char[]> storage_;
  char* end_ = nullptr;
  char* limit_ = nullptr;
  spill_target spill_;
  bool spill_failed_ = false;
};

// What a writer lets a sink hold before it spills, when it can.
inline constexpr std::size_t spill_bound = 64 * 1024;

// One byte as two upper-case hexadecimal digits ("%02X").
inline void put_hex_byte(output_sink& out, std::uint8_t byte) {
  std::memcpy(out.extend(2), &hex_pairs[2 * std::size_t{byte}], 2);
}

// The first n positions of a view as hex, two digits a byte, no separator; only the
// positions the record holds (min(n, bytes.remaining())), as every caller asks for no
// more. Returns the text it wrote, for a printer to mask before the sink's next call.
std::span<char> put_hex_bytes(output_sink& out, record_view bytes, std::uint64_t n);

}  // namespace emvtlv
