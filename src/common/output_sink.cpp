#include "common/output_sink.h"

#include <algorithm>

namespace emvtlv {

void output_sink::grow(std::size_t n) {
  const std::size_t used = size();
  const std::size_t capacity = std::max(std::size_t{4096}, 2 * used + n);
  auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
  if (used > 0) std::memcpy(bigger.get(), storage_.get(), used);
  storage_ = std::move(bigger);
  end_ = storage_.get() + used;
  limit_ = storage_.get() + capacity;
}

void put_hex_bytes(output_sink& out, record_view bytes, std::uint64_t n) {
  const std::span<const std::uint8_t> held = bytes.held(n);
  encode_hex_unchecked(held.data(), held.size(), out.extend(2 * held.size()));
  // Positions past the record read 00.
  for (std::uint64_t i = held.size(); i < n; ++i)
    out.append("00");
}

}  // namespace emvtlv
