// The record view: the only way decoding code reads record bytes.
//
// A view is (storage, count, offset). Reading position p gives the record byte at
// offset + p when that lies below the count, and 00 otherwise, however far past the
// end p lies. The count is clamped to the storage when the view is made and the offset
// never passes the count, so no read can leave the storage.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace emvtlv {

class record_view {
 public:
  constexpr record_view() = default;

  // A count outside [0, storage.size()] is clamped, so a bad count cannot widen the view.
  constexpr record_view(std::span<const std::uint8_t> storage, std::int32_t count) noexcept
      : data_(storage.data()),
        count_(count <= 0
                   ? 0
                   : std::min<std::uint64_t>(static_cast<std::uint64_t>(count), storage.size())) {}

  constexpr std::uint8_t at(std::uint64_t p) const noexcept {
    return p < remaining() ? data_[offset_ + p] : std::uint8_t{0};
  }

  // The same record seen from k bytes further on; past the end every read is 00.
  constexpr record_view shifted(std::uint64_t k) const noexcept {
    record_view v = *this;
    v.offset_ = k < remaining() ? offset_ + k : count_;
    return v;
  }

  // Record bytes from this view's first position to the record's end.
  constexpr std::uint64_t remaining() const noexcept { return count_ - offset_; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::uint64_t count_ = 0;
  std::uint64_t offset_ = 0;
};

// Bounded copy: copies min(length, available) bytes, first to last, from the source
// view into the destination. The destination's own size is a further bound, so a
// caller that passes too small a buffer loses bytes instead of memory.
constexpr void copy_data(std::span<std::uint8_t> destination, record_view source,
                         std::uint64_t length, std::uint64_t available) noexcept {
  const std::uint64_t n = std::min({length, available, std::uint64_t{destination.size()}});
  for (std::uint64_t i = 0; i < n; ++i)
    destination[i] = source.at(i);
}

}  // namespace emvtlv
