#include "emv/elements.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace emvtlv {
namespace {

using enum emv_format;

// Ascending by tag. Names are EMV's, in ASCII. A tag whose meaning depends on the
// contactless kernel names each reading with its kernel (C-2 Mastercard, C-3 Visa,
// C-4 Amex); its format is that of the first reading.
constexpr std::array elements = std::to_array<emv_element>({
    {0x42, "Issuer Identification Number (IIN)", n, false},
    {0x4F, "Application Dedicated File (ADF) Name", b, false},
    {0x50, "Application Label", ans, false},
    {0x56, "Track 1 Data", ans, false},
    {0x57, "Track 2 Equivalent Data", b, false},
    {0x5A, "Application Primary Account Number (PAN)", cn, false},
    {0x61, "Application Template", b, true},
    {0x6F, "File Control Information (FCI) Template", var, true},
    {0x70, "READ RECORD Response Message Template", var, true},
    {0x71, "Issuer Script Template 1", b, true},
    {0x72, "Issuer Script Template 2", b, true},
    {0x73, "Directory Discretionary Template", var, true},
    {0x77, "Response Message Template Format 2", var, true},
    // Called a template, but its value is bare values without tags: primitive.
    {0x80, "Response Message Template Format 1", var, false},
    {0x81, "Amount, Authorised (Binary)", b, false},
    {0x82, "Application Interchange Profile (AIP)", b, false},
    // Called a template, yet primitive by its tag.
    {0x83, "Command Template", b, false},
    {0x84, "Dedicated File (DF) Name", b, false},
    {0x86, "Issuer Script Command", b, false},
    {0x87, "Application Priority Indicator", b, false},
    {0x88, "Short File Identifier (SFI)", b, false},
    // EMV leaves the format to the payment systems; seen as ans 6 and as an 6.
    {0x89, "Authorisation Code", ans, false},
    {0x8A, "Authorisation Response Code", an, false},
    {0x8C, "Card Risk Management Data Object List 1 (CDOL1)", b, false},
    {0x8D, "Card Risk Management Data Object List 2 (CDOL2)", b, false},
    {0x8E, "Cardholder Verification Method (CVM) List", b, false},
    {0x8F, "Certification Authority Public Key Index (card)", b, false},
    {0x90, "Issuer Public Key Certificate", b, false},
    {0x91, "Issuer Authentication Data", b, false},
    {0x92, "Issuer Public Key Remainder", b, false},
    {0x93, "Signed Static Application Data", b, false},
    {0x94, "Application File Locator (AFL)", var, false},
    {0x95, "Terminal Verification Results (TVR)", b, false},
    {0x97, "Transaction Certificate Data Object List (TDOL)", b, false},
    {0x98, "Transaction Certificate (TC) Hash Value", b, false},
    {0x99, "Transaction PIN Data", b, false},
    {0x9A, "Transaction Date", n, false},
    {0x9B, "Transaction Status Information (TSI)", b, false},
    {0x9C, "Transaction Type", n, false},
    {0x9D, "Directory Definition File (DDF) Name", b, false},
    {0xA5, "File Control Information (FCI) Proprietary Template", var, true},
    {0x5F20, "Cardholder Name", ans, false},
    {0x5F24, "Application Expiration Date", n, false},
    {0x5F25, "Application Effective Date", n, false},
    {0x5F28, "Issuer Country Code", n, false},
    {0x5F2A, "Transaction Currency Code", n, false},
    {0x5F2D, "Language Preference", an, false},
    {0x5F30, "Service Code", n, false},
    {0x5F34, "Application PAN Sequence Number", n, false},
    {0x5F36, "Transaction Currency Exponent", n, false},
    {0x5F50, "Issuer URL", ans, false},
    {0x5F53, "International Bank Account Number (IBAN)", var, false},
    {0x5F54, "Bank Identifier Code (BIC)", var, false},
    {0x5F55, "Issuer Country Code (alpha2 format)", a, false},
    {0x5F56, "Issuer Country Code (alpha3 format)", a, false},
    {0x5F57, "Account Type", n, false},
    {0x9F01, "Acquirer Identifier", n, false},
    {0x9F02, "Amount, Authorised (Numeric)", n, false},
    {0x9F03, "Amount, Other (Numeric)", n, false},
    {0x9F04, "Amount, Other (Binary)", b, false},
    {0x9F05, "Application Discretionary Data", b, false},
    {0x9F06, "Application Identifier (AID) - terminal", b, false},
    {0x9F07, "Application Usage Control (AUC)", b, false},
    {0x9F08, "Application Version Number (card)", b, false},
    {0x9F09, "Application Version Number (terminal)", b, false},
    {0x9F0A, "Application Selection Registered Proprietary Data (ASRPD)", b, false},
    {0x9F0B, "Cardholder Name Extended", ans, false},
    // n 6 or n 8.
    {0x9F0C, "Issuer Identification Number Extended (IINE)", n, false},
    {0x9F0D, "Issuer Action Code - Default", b, false},
    {0x9F0E, "Issuer Action Code - Denial", b, false},
    {0x9F0F, "Issuer Action Code - Online", b, false},
    {0x9F10, "Issuer Application Data (IAD)", b, false},
    {0x9F11, "Issuer Code Table Index", n, false},
    {0x9F12, "Application Preferred Name", ans, false},
    {0x9F13, "Last Online ATC Register", b, false},
    {0x9F14, "Lower Consecutive Offline Limit", b, false},
    {0x9F15, "Merchant Category Code", n, false},
    {0x9F16, "Merchant Identifier", ans, false},
    {0x9F17, "PIN Try Counter", b, false},
    {0x9F18, "Issuer Script Identifier", b, false},
    {0x9F19, "Token Requestor ID", n, false},
    {0x9F1A, "Terminal Country Code", n, false},
    {0x9F1B, "Terminal Floor Limit", b, false},
    {0x9F1C, "Terminal Identification", an, false},
    {0x9F1D, "Terminal Risk Management Data", b, false},
    {0x9F1E, "Interface Device (IFD) Serial Number", an, false},
    {0x9F1F, "Track 1 Discretionary Data", ans, false},
    {0x9F20, "Track 2 Discretionary Data", cn, false},
    {0x9F21, "Transaction Time", n, false},
    {0x9F22, "Certification Authority Public Key Index (terminal)", b, false},
    {0x9F23, "Upper Consecutive Offline Limit", b, false},
    {0x9F24, "Payment Account Reference (PAR)", an, false},
    {0x9F25, "Last 4 Digits of PAN", n, false},
    {0x9F26, "Application Cryptogram", b, false},
    {0x9F27, "Cryptogram Information Data (CID)", b, false},
    {0x9F2A, "Kernel Identifier", b, false},
    {0x9F2D, "ICC PIN Encipherment Public Key Certificate", b, false},
    {0x9F2E, "ICC PIN Encipherment Public Key Exponent", b, false},
    {0x9F2F, "ICC PIN Encipherment Public Key Remainder", b, false},
    {0x9F32, "Issuer Public Key Exponent", b, false},
    {0x9F33, "Terminal Capabilities", b, false},
    {0x9F34, "CVM Results", b, false},
    {0x9F35, "Terminal Type", n, false},
    {0x9F36, "Application Transaction Counter (ATC)", b, false},
    {0x9F37, "Unpredictable Number", b, false},
    {0x9F38, "Processing Options Data Object List (PDOL)", b, false},
    {0x9F39, "Point-of-Service (POS) Entry Mode", n, false},
    {0x9F3A, "Amount, Reference Currency", b, false},
    {0x9F3B, "Application Reference Currency", n, false},
    {0x9F3C, "Transaction Reference Currency Code", n, false},
    {0x9F3D, "Transaction Reference Currency Exponent", n, false},
    {0x9F40, "Additional Terminal Capabilities", b, false},
    {0x9F41, "Transaction Sequence Counter", n, false},
    {0x9F42, "Application Currency Code", n, false},
    {0x9F43, "Application Reference Currency Exponent", n, false},
    {0x9F44, "Application Currency Exponent", n, false},
    {0x9F45, "Data Authentication Code", b, false},
    {0x9F46, "ICC Public Key Certificate", b, false},
    {0x9F47, "ICC Public Key Exponent", b, false},
    {0x9F48, "ICC Public Key Remainder", b, false},
    {0x9F49, "Dynamic Data Authentication Data Object List (DDOL)", b, false},
    // A bare list of tags; EMV gives it no format letter.
    {0x9F4A, "Static Data Authentication Tag List", var, false},
    {0x9F4B, "Signed Dynamic Application Data", b, false},
    {0x9F4C, "ICC Dynamic Number", b, false},
    {0x9F4D, "Log Entry", b, false},
    {0x9F4E, "Merchant Name and Location", ans, false},
    {0x9F4F, "Log Format", b, false},
    // b under C-2; the C-3 amount is n 12.
    {0x9F5D, "Application Capabilities Information (C-2) / Available Offline Spending Amount (C-3)",
     b, false},
    // Under C-2 this tag is PUNATC(Track2), 2 bytes; elsewhere the 4-byte TTQ.
    {0x9F66, "Terminal Transaction Qualifiers (TTQ)", b, false},
    // b under C-2 (laid out as 57); the C-3 limit is n 12.
    {0x9F6B, "Track 2 Data (C-2) / Card CVM Limit (C-3)", b, false},
    {0x9F6C, "Card Transaction Qualifiers (CTQ)", b, false},
    {0x9F6D,
     "Mag-stripe Application Version Number (Reader) (C-2) / Contactless Reader "
     "Capabilities (C-4)",
     b, false},
    {0x9F6E,
     "Third Party Data (C-2) / Form Factor Indicator (C-3) / Enhanced Contactless Reader "
     "Capabilities (C-4)",
     b, false},
    {0x9F7C, "Merchant Custom Data (C-2) / Customer Exclusive Data (C-3)", b, false},
    {0xBF0C, "File Control Information (FCI) Issuer Discretionary Data", var, true},
    {0xBF4C, "Biometric Try Counters Template", var, true},
    {0xBF4D, "Preferred Attempts Template", var, true},
});

static_assert(std::all_of(elements.begin(), elements.end(),
                          [](const emv_element& e) { return is_plain_name(e.name); }),
              "the JSON writer copies names as they are");

// find_emv_element's binary search relies on this.
constexpr bool ascending_and_unique() {
  for (std::size_t i = 1; i < elements.size(); ++i) {
    if (elements[i - 1].tag >= elements[i].tag) return false;
  }
  return true;
}
static_assert(ascending_and_unique(), "the EMV element table must be sorted by tag, each once");

// Every decoded node is looked up, so the common tags go straight to their entry: one
// slot for each one-octet tag and for each two-octet tag under 5F, 9F and BF, holding
// the entry's index + 1 (0: not listed). Anything else takes the binary search.
constexpr std::array<std::uint8_t, 3> two_octet_prefixes = {0x5F, 0x9F, 0xBF};

// For each octet above a tag's last, which run of slots it has: run 0 for one-octet tags
// (nothing above), one run for each prefix, and one run of empty slots for all others,
// so that finding the slot takes no branch on the tag's size.
constexpr std::uint8_t unindexed_run = two_octet_prefixes.size() + 1;
constexpr auto prefix_runs = [] {
  std::array<std::uint8_t, 256> runs{};
  runs.fill(unindexed_run);
  runs[0] = 0;
  for (std::size_t p = 0; p < two_octet_prefixes.size(); ++p)
    runs[two_octet_prefixes[p]] = static_cast<std::uint8_t>(p + 1);
  return runs;
}();

constexpr std::size_t slot_of(std::uint64_t tag) {  // tag at most FFFF
  return 256 * std::size_t{prefix_runs[tag >> 8]} + (tag & 0xFF);
}

constexpr auto direct_index = [] {
  static_assert(elements.size() < 255, "an entry's index + 1 must fit a slot");
  std::array<std::uint8_t, 256 * (unindexed_run + 1)> index{};
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const std::uint64_t tag = elements[i].tag;
    if (tag <= 0xFFFF && prefix_runs[tag >> 8] != unindexed_run)
      index[slot_of(tag)] = static_cast<std::uint8_t>(i + 1);
  }
  return index;
}();

}  // namespace

std::span<const emv_element> emv_elements() {
  return elements;
}

const emv_element* find_emv_element(std::uint64_t tag) {
  if (tag <= 0xFFFF) {
    const std::uint8_t entry = direct_index[slot_of(tag)];
    if (entry != 0) return &elements[entry - 1u];
    if (prefix_runs[tag >> 8] != unindexed_run) return nullptr;
  }
  const auto it = std::lower_bound(elements.begin(), elements.end(), tag,
                                   [](const emv_element& e, std::uint64_t t) { return e.tag < t; });
  return it != elements.end() && it->tag == tag ? &*it : nullptr;
}

}  // namespace emvtlv
