// ISO 4217's minor units: how many decimal places each currency's amounts have. The
// iso-codes package names the currencies but has no minor units (its iso_4217.json
// holds only the numeric code, the letters and the name), so this table is transcribed
// from ISO 4217's list of current currencies, with the few withdrawn ones card data
// still carries. -1 stands for ISO's "N.A.": units such as gold or the SDR have none.
#include <algorithm>
#include <array>

#include "emv/iso_codes.h"

namespace emvtlv {
namespace {

// Ascending by numeric code: {numeric, letters (for the reader and the tests), places}.
constexpr std::array minor_units = {
    iso_minor_unit{8, "ALL", 2},    iso_minor_unit{12, "DZD", 2},   iso_minor_unit{32, "ARS", 2},
    iso_minor_unit{36, "AUD", 2},   iso_minor_unit{44, "BSD", 2},   iso_minor_unit{48, "BHD", 3},
    iso_minor_unit{50, "BDT", 2},   iso_minor_unit{51, "AMD", 2},   iso_minor_unit{52, "BBD", 2},
    iso_minor_unit{60, "BMD", 2},   iso_minor_unit{64, "BTN", 2},   iso_minor_unit{68, "BOB", 2},
    iso_minor_unit{72, "BWP", 2},   iso_minor_unit{84, "BZD", 2},   iso_minor_unit{90, "SBD", 2},
    iso_minor_unit{96, "BND", 2},   iso_minor_unit{104, "MMK", 2},  iso_minor_unit{108, "BIF", 0},
    iso_minor_unit{116, "KHR", 2},  iso_minor_unit{124, "CAD", 2},  iso_minor_unit{132, "CVE", 2},
    iso_minor_unit{136, "KYD", 2},  iso_minor_unit{144, "LKR", 2},  iso_minor_unit{152, "CLP", 0},
    iso_minor_unit{156, "CNY", 2},  iso_minor_unit{170, "COP", 2},  iso_minor_unit{174, "KMF", 0},
    iso_minor_unit{188, "CRC", 2},  iso_minor_unit{191, "HRK", 2},  iso_minor_unit{192, "CUP", 2},
    iso_minor_unit{203, "CZK", 2},  iso_minor_unit{208, "DKK", 2},  iso_minor_unit{214, "DOP", 2},
    iso_minor_unit{222, "SVC", 2},  iso_minor_unit{230, "ETB", 2},  iso_minor_unit{232, "ERN", 2},
    iso_minor_unit{238, "FKP", 2},  iso_minor_unit{242, "FJD", 2},  iso_minor_unit{262, "DJF", 0},
    iso_minor_unit{270, "GMD", 2},  iso_minor_unit{292, "GIP", 2},  iso_minor_unit{320, "GTQ", 2},
    iso_minor_unit{324, "GNF", 0},  iso_minor_unit{328, "GYD", 2},  iso_minor_unit{332, "HTG", 2},
    iso_minor_unit{340, "HNL", 2},  iso_minor_unit{344, "HKD", 2},  iso_minor_unit{348, "HUF", 2},
    iso_minor_unit{352, "ISK", 0},  iso_minor_unit{356, "INR", 2},  iso_minor_unit{360, "IDR", 2},
    iso_minor_unit{364, "IRR", 2},  iso_minor_unit{368, "IQD", 3},  iso_minor_unit{376, "ILS", 2},
    iso_minor_unit{388, "JMD", 2},  iso_minor_unit{392, "JPY", 0},  iso_minor_unit{398, "KZT", 2},
    iso_minor_unit{400, "JOD", 3},  iso_minor_unit{404, "KES", 2},  iso_minor_unit{408, "KPW", 2},
    iso_minor_unit{410, "KRW", 0},  iso_minor_unit{414, "KWD", 3},  iso_minor_unit{417, "KGS", 2},
    iso_minor_unit{418, "LAK", 2},  iso_minor_unit{422, "LBP", 2},  iso_minor_unit{426, "LSL", 2},
    iso_minor_unit{430, "LRD", 2},  iso_minor_unit{434, "LYD", 3},  iso_minor_unit{446, "MOP", 2},
    iso_minor_unit{454, "MWK", 2},  iso_minor_unit{458, "MYR", 2},  iso_minor_unit{462, "MVR", 2},
    iso_minor_unit{480, "MUR", 2},  iso_minor_unit{484, "MXN", 2},  iso_minor_unit{496, "MNT", 2},
    iso_minor_unit{498, "MDL", 2},  iso_minor_unit{504, "MAD", 2},  iso_minor_unit{512, "OMR", 3},
    iso_minor_unit{516, "NAD", 2},  iso_minor_unit{524, "NPR", 2},  iso_minor_unit{532, "ANG", 2},
    iso_minor_unit{533, "AWG", 2},  iso_minor_unit{548, "VUV", 0},  iso_minor_unit{554, "NZD", 2},
    iso_minor_unit{558, "NIO", 2},  iso_minor_unit{566, "NGN", 2},  iso_minor_unit{578, "NOK", 2},
    iso_minor_unit{586, "PKR", 2},  iso_minor_unit{590, "PAB", 2},  iso_minor_unit{598, "PGK", 2},
    iso_minor_unit{600, "PYG", 0},  iso_minor_unit{604, "PEN", 2},  iso_minor_unit{608, "PHP", 2},
    iso_minor_unit{634, "QAR", 2},  iso_minor_unit{643, "RUB", 2},  iso_minor_unit{646, "RWF", 0},
    iso_minor_unit{654, "SHP", 2},  iso_minor_unit{682, "SAR", 2},  iso_minor_unit{690, "SCR", 2},
    iso_minor_unit{694, "SLL", 2},  iso_minor_unit{702, "SGD", 2},  iso_minor_unit{704, "VND", 0},
    iso_minor_unit{706, "SOS", 2},  iso_minor_unit{710, "ZAR", 2},  iso_minor_unit{728, "SSP", 2},
    iso_minor_unit{748, "SZL", 2},  iso_minor_unit{752, "SEK", 2},  iso_minor_unit{756, "CHF", 2},
    iso_minor_unit{760, "SYP", 2},  iso_minor_unit{764, "THB", 2},  iso_minor_unit{776, "TOP", 2},
    iso_minor_unit{780, "TTD", 2},  iso_minor_unit{784, "AED", 2},  iso_minor_unit{788, "TND", 3},
    iso_minor_unit{800, "UGX", 0},  iso_minor_unit{807, "MKD", 2},  iso_minor_unit{818, "EGP", 2},
    iso_minor_unit{826, "GBP", 2},  iso_minor_unit{834, "TZS", 2},  iso_minor_unit{840, "USD", 2},
    iso_minor_unit{858, "UYU", 2},  iso_minor_unit{860, "UZS", 2},  iso_minor_unit{882, "WST", 2},
    iso_minor_unit{886, "YER", 2},  iso_minor_unit{901, "TWD", 2},  iso_minor_unit{924, "ZWG", 2},
    iso_minor_unit{925, "SLE", 2},  iso_minor_unit{926, "VED", 2},  iso_minor_unit{927, "UYW", 4},
    iso_minor_unit{928, "VES", 2},  iso_minor_unit{929, "MRU", 2},  iso_minor_unit{930, "STN", 2},
    iso_minor_unit{931, "CUC", 2},  iso_minor_unit{932, "ZWL", 2},  iso_minor_unit{933, "BYN", 2},
    iso_minor_unit{934, "TMT", 2},  iso_minor_unit{936, "GHS", 2},  iso_minor_unit{938, "SDG", 2},
    iso_minor_unit{940, "UYI", 0},  iso_minor_unit{941, "RSD", 2},  iso_minor_unit{943, "MZN", 2},
    iso_minor_unit{944, "AZN", 2},  iso_minor_unit{946, "RON", 2},  iso_minor_unit{947, "CHE", 2},
    iso_minor_unit{948, "CHW", 2},  iso_minor_unit{949, "TRY", 2},  iso_minor_unit{950, "XAF", 0},
    iso_minor_unit{951, "XCD", 2},  iso_minor_unit{952, "XOF", 0},  iso_minor_unit{953, "XPF", 0},
    iso_minor_unit{955, "XBA", -1}, iso_minor_unit{956, "XBB", -1}, iso_minor_unit{957, "XBC", -1},
    iso_minor_unit{958, "XBD", -1}, iso_minor_unit{959, "XAU", -1}, iso_minor_unit{960, "XDR", -1},
    iso_minor_unit{961, "XAG", -1}, iso_minor_unit{962, "XPT", -1}, iso_minor_unit{963, "XTS", -1},
    iso_minor_unit{964, "XPD", -1}, iso_minor_unit{965, "XUA", -1}, iso_minor_unit{967, "ZMW", 2},
    iso_minor_unit{968, "SRD", 2},  iso_minor_unit{969, "MGA", 2},  iso_minor_unit{970, "COU", 2},
    iso_minor_unit{971, "AFN", 2},  iso_minor_unit{972, "TJS", 2},  iso_minor_unit{973, "AOA", 2},
    iso_minor_unit{975, "BGN", 2},  iso_minor_unit{976, "CDF", 2},  iso_minor_unit{977, "BAM", 2},
    iso_minor_unit{978, "EUR", 2},  iso_minor_unit{979, "MXV", 2},  iso_minor_unit{980, "UAH", 2},
    iso_minor_unit{981, "GEL", 2},  iso_minor_unit{984, "BOV", 2},  iso_minor_unit{985, "PLN", 2},
    iso_minor_unit{986, "BRL", 2},  iso_minor_unit{990, "CLF", 4},  iso_minor_unit{994, "XSU", -1},
    iso_minor_unit{997, "USN", 2},  iso_minor_unit{999, "XXX", -1},
};

constexpr bool strictly_ascending() {
  for (std::size_t i = 1; i < minor_units.size(); ++i)
    if (minor_units[i - 1].numeric >= minor_units[i].numeric) return false;
  return true;
}
static_assert(strictly_ascending(), "minor units: sorted by numeric code, unique");

}  // namespace

int currency_minor_unit(std::uint16_t numeric) {
  const auto it = std::lower_bound(
      minor_units.begin(), minor_units.end(), numeric,
      [](const iso_minor_unit& row, std::uint16_t key) { return row.numeric < key; });
  return it != minor_units.end() && it->numeric == numeric ? it->places : -1;
}

std::span<const iso_minor_unit> iso_minor_units() {
  return minor_units;
}

}  // namespace emvtlv
