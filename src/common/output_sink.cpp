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

void output_sink::spill() {
  if (!spill_failed_) spill_failed_ = !spill_.write(spill_.context, view().data(), size());
  clear();
}

std::span<char> put_hex_bytes(output_sink& out, record_view bytes, std::uint64_t n) {
  const std::span<const std::uint8_t> held = bytes.held(n);
  char* const text = out.extend(2 * held.size());
  encode_hex_unchecked(held.data(), held.size(), text);
  return {text, 2 * held.size()};
}

}  // namespace emvtlv
