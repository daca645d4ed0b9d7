// The tables come from the build tree (cmake/iso_codes.cmake writes them from the
// iso-codes package); here they are only searched.
#include "emv/iso_codes.h"

#include <algorithm>
#include <array>

namespace emvtlv {
namespace {

#include "iso_codes_tables.inc"

template <typename Table, typename Key>
constexpr bool strictly_ascending(const Table& table, Key key) {
  for (std::size_t i = 1; i < table.size(); ++i)
    if (!(key(table[i - 1]) < key(table[i]))) return false;
  return true;
}

constexpr auto numeric_of = [](const auto& e) { return e.numeric; };
constexpr auto alpha2_of = [](const iso_language& e) { return e.alpha2; };

static_assert(strictly_ascending(currency_table, numeric_of), "currencies: sorted, unique");
static_assert(strictly_ascending(country_table, numeric_of), "countries: sorted, unique");
static_assert(strictly_ascending(language_table, alpha2_of), "languages: sorted, unique");

// Explainers format a name into a fixed buffer; a longer one would be cut.
template <typename Table>
constexpr bool names_fit(const Table& table) {
  return std::all_of(table.begin(), table.end(),
                     [](const auto& e) { return e.name.size() <= iso_name_max; });
}
static_assert(names_fit(currency_table) && names_fit(country_table) && names_fit(language_table),
              "an ISO name is longer than iso_name_max");

template <typename Table, typename Key, typename Projection>
const typename Table::value_type* find_in(const Table& table, const Key& key, Projection project) {
  const auto it = std::lower_bound(table.begin(), table.end(), key,
                                   [&](const auto& e, const Key& k) { return project(e) < k; });
  return it != table.end() && project(*it) == key ? &*it : nullptr;
}

}  // namespace

const iso_currency* find_currency(std::uint16_t numeric) {
  return find_in(currency_table, numeric, numeric_of);
}
const iso_country* find_country(std::uint16_t numeric) {
  return find_in(country_table, numeric, numeric_of);
}
const iso_language* find_language(std::string_view alpha2) {
  return find_in(language_table, alpha2, alpha2_of);
}

std::span<const iso_currency> iso_currencies() {
  return currency_table;
}
std::span<const iso_country> iso_countries() {
  return country_table;
}
std::span<const iso_language> iso_languages() {
  return language_table;
}

}  // namespace emvtlv
