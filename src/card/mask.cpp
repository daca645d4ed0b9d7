#include "card/mask.h"

namespace emvtlv {

card_mask card_mask_for(std::uint64_t, std::uint64_t, std::string_view) {
  return card_mask::none;
}

void apply_card_mask(card_mask, std::span<char>) {}

void mask_template_value(std::span<const std::uint8_t>, std::span<char>) {}

}  // namespace emvtlv
