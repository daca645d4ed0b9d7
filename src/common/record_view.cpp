#include "common/record_view.h"

namespace emvtlv {

void copy_data(std::span<std::uint8_t> destination, record_view source, std::uint64_t length,
               std::uint64_t available) noexcept {
  const std::uint64_t n = std::min({length, available, std::uint64_t{destination.size()}});
  for (std::uint64_t i = 0; i < n; ++i)
    destination[i] = source.at(i);
}

}  // namespace emvtlv
