#include "emv/code_tables.h"

#include <array>
#include <cstddef>

namespace emvtlv {
namespace {

#include "iso8859_tables.inc"

}  // namespace

std::uint32_t iso8859_code_point(int part, std::uint8_t byte) {
  if (part < 1 || part > 10 || byte < 0xA0) return 0;
  return iso8859_upper[static_cast<std::size_t>(part - 1)][byte - 0xA0u];
}

}  // namespace emvtlv
