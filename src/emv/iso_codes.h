// ISO 4217 currencies, ISO 3166-1 countries and ISO 639 languages, generated at build
// time from the iso-codes package's JSON, so they follow the package.
//
// Contract and limits:
// - Lookups by the code as EMV carries it: a numeric code (the three BCD digits read as
//   a number, 978 for EUR) or a two-letter language code in lower case.
// - A code the package does not list gives nullptr. Without the package at build time
//   the tables are empty and every lookup gives nullptr.
// - Names are the package's "name" field, in UTF-8 as the package has them
//   ("Côte d'Ivoire"), at most iso_name_max bytes (checked at build time); codes are
//   ASCII.
// - Minor units are the exception: the package has none, so they come from ISO 4217's
//   own table, kept in this project and present without the package.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv {

inline constexpr std::size_t iso_name_max = 128;

struct iso_currency {
  std::uint16_t numeric;
  std::string_view alpha3;  // "EUR"
  std::string_view name;    // "Euro"
};

struct iso_country {
  std::uint16_t numeric;
  std::string_view alpha2;  // "US"
  std::string_view alpha3;  // "USA"
  // "United States of America": the long name where it extends the short one.
  std::string_view name;
};

struct iso_language {
  std::string_view alpha2;  // "en"
  std::string_view name;    // "English"
};

// A currency's minor unit, from ISO 4217 itself: the iso-codes package has none, so
// these are a table of this project (iso_4217_minor_units.cpp).
struct iso_minor_unit {
  std::uint16_t numeric;
  std::string_view alpha3;  // "EUR"
  std::int8_t places;       // decimal places, 0 to 4; -1 where ISO 4217 gives none (XAU, XXX)
};

const iso_currency* find_currency(std::uint16_t numeric);
const iso_country* find_country(std::uint16_t numeric);
const iso_language* find_language(std::string_view alpha2);

// The decimal places of a currency's amounts (2 for EUR, 0 for JPY, 3 for KWD), or -1
// for a currency that has none or a code the table does not list.
int currency_minor_unit(std::uint16_t numeric);

// The whole tables, each in ascending order of its lookup key, without duplicates.
std::span<const iso_currency> iso_currencies();
std::span<const iso_country> iso_countries();
std::span<const iso_language> iso_languages();
std::span<const iso_minor_unit> iso_minor_units();

}  // namespace emvtlv
