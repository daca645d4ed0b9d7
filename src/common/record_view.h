// The record view: the only way decoding code reads record bytes.
//
// A view is a record's storage and byte count, seen from some offset on. Reading
// position p gives the record byte at offset + p when that lies below the count, and
// 00 otherwise, however far past the end p lies. The count is clamped to the storage
// when the view is made and the offset never passes the count, so no read can leave
// the storage.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace emvtlv {

// How a record's last byte was read: whole, or (the console, from a line's lone last hex
// digit) as its low half only, the high half a 0 the input never held.
enum class last_byte : std::uint8_t { whole, low_half };

class record_view {
 public:
  constexpr record_view() = default;

  // A count outside [0, storage.size()] is clamped, so a bad count cannot widen the view.
  constexpr record_view(std::span<const std::uint8_t> storage, std::int32_t count) noexcept
      : first_(storage.data()),
        size_(count <= 0
                  ? 0
                  : std::min<std::uint64_t>(static_cast<std::uint64_t>(count), storage.size())) {}

  constexpr std::uint8_t at(std::uint64_t p) const noexcept {
    return p < size_ ? first_[p] : std::uint8_t{0};
  }

  // The same record seen from k bytes further on; past the end every read is 00.
  constexpr record_view shifted(std::uint64_t k) const noexcept {
    const std::uint64_t step = std::min(k, size_);
    return record_view(first_ + step, size_ - step);
  }

  // The first min(n, remaining()) positions, all inside the record, as one span.
  constexpr std::span<const std::uint8_t> held(std::uint64_t n) const noexcept {
    return {first_, static_cast<std::size_t>(std::min(n, size_))};
  }

  // Record bytes from this view's first position to the record's end.
  constexpr std::uint64_t remaining() const noexcept { return size_; }

 private:
  constexpr record_view(const std::uint8_t* first, std::uint64_t size) noexcept
      : first_(first), size_(size) {}

  // Two words, so a view travels in registers. first_ + size_ never passes the
  // storage's end: the public constructor clamps size_ to the storage, and shifting
  // only moves first_ forward by what it takes off size_.
  const std::uint8_t* first_ = nullptr;
  std::uint64_t size_ = 0;
};

// Bounded copy: copies min(length, available) bytes, first to last, from the source
// view into the destination. The destination's own size is a further bound, so a
// caller that passes too small a buffer loses bytes instead of memory.
void copy_data(std::span<std::uint8_t> destination, record_view source, std::uint64_t length,
               std::uint64_t available) noexcept;

}  // namespace emvtlv
