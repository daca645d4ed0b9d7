#include "emv/elements.h"

#include <algorithm>
#include <array>

namespace emvtlv {
namespace {

constexpr std::array<emv_element, 1> elements = {{
    {0x5A, "Application Primary Account Number (PAN)", emv_format::cn, false},
}};

}  // namespace

std::span<const emv_element> emv_elements() {
  return elements;
}

const emv_element* find_emv_element(std::uint64_t tag) {
  const auto it = std::lower_bound(elements.begin(), elements.end(), tag,
                                   [](const emv_element& e, std::uint64_t t) { return e.tag < t; });
  return it != elements.end() && it->tag == tag ? &*it : nullptr;
}

}  // namespace emvtlv
