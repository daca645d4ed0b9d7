// Stand-in until the tables are generated from iso-codes.
#include "emv/iso_codes.h"

namespace emvtlv {

const iso_currency* find_currency(std::uint16_t) {
  return nullptr;
}
const iso_country* find_country(std::uint16_t) {
  return nullptr;
}
const iso_language* find_language(std::string_view) {
  return nullptr;
}

}  // namespace emvtlv
