// Payment systems and contactless kernels by AID: the first five bytes of an AID (the
// RID) name the payment system that registered it, and that system's kernel decides how
// the tags whose meaning differs between kernels read (9F66, 9F6B, 9F6C, 9F6D, 9F6E,
// 9F7C, 9F5D).
//
// Contract and limits:
// - One constexpr table of ten RIDs; an AID shorter than five bytes, or one whose RID is
//   not listed, gives nullptr.
// - Products are listed only for the common AIDs; an AID of a listed RID that is not
//   among them still gives its system, with no product.
// - The names are ASCII. The girocard row has a single source.
// - The DF names of the payment system environments tell contact from contactless:
//   1PAY.SYS.DDF01 (PSE) and 2PAY.SYS.DDF01 (PPSE), in ASCII.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv {

// The contactless kernel whose readings apply, by the EMVCo kernel number; domestic
// systems have none of their own. `contact` is no AID's: it is named on the command
// line, for a contact (EMV 4.4) terminal's values.
enum class emv_kernel : std::uint8_t { unknown, c2, c3, c4, c5, c6, c7, domestic, contact };

struct payment_system {
  std::uint64_t rid;      // the five RID bytes as one number, A000000003
  std::string_view name;  // "Visa"
  emv_kernel kernel;      // C-3 for Visa
};

struct aid_product {
  std::span<const std::uint8_t> aid;  // the whole AID
  std::string_view name;              // "Visa credit/debit"
};

// The payment system of an AID (or of its first five bytes), or nullptr.
const payment_system* find_payment_system(std::span<const std::uint8_t> aid);

// The product of a common AID, exactly as listed, or an empty view.
std::string_view find_aid_product(std::span<const std::uint8_t> aid);

// "C-2" ... "C-7", "domestic", "contact", or "" for unknown.
std::string_view kernel_name(emv_kernel kernel);

// The whole table, ascending by RID.
std::span<const payment_system> payment_systems();

enum class payment_environment : std::uint8_t { none, contact, contactless };

// Whether a DF name is 1PAY.SYS.DDF01 (contact) or 2PAY.SYS.DDF01 (contactless).
payment_environment environment_of(std::span<const std::uint8_t> df_name);

}  // namespace emvtlv
