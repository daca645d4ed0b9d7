#include "emv/elements.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string_view>

namespace emvtlv {
namespace {

using enum emv_format;

// One lookup: the entry expected for `tag`, or `listed` false when there is none.
struct element_case {
  std::uint64_t tag;
  bool listed;
  std::string_view name;
  emv_format format;
  bool constructed;
};

void PrintTo(const element_case& c, std::ostream* os) {
  *os << std::hex << std::uppercase << c.tag;
}

class EmvElement : public ::testing::TestWithParam<element_case> {};

TEST_P(EmvElement, LooksUpTheEntryTranscribed) {
  const element_case& c = GetParam();
  const emv_element* e = find_emv_element(c.tag);
  if (!c.listed) {
    EXPECT_EQ(e, nullptr);
    return;
  }
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->tag, c.tag);
  EXPECT_EQ(e->name, c.name);
  EXPECT_EQ(e->format, c.format);
  EXPECT_EQ(e->constructed, c.constructed);
}

INSTANTIATE_TEST_SUITE_P(
    CardAndIssuer, EmvElement,
    ::testing::Values(
        element_case{0x42, true, "Issuer Identification Number (IIN)", n, false},
        element_case{0x4F, true, "Application Dedicated File (ADF) Name", b, false},
        element_case{0x50, true, "Application Label", ans, false},
        element_case{0x57, true, "Track 2 Equivalent Data", b, false},
        element_case{0x5A, true, "Application Primary Account Number (PAN)", cn, false},
        element_case{0x5F24, true, "Application Expiration Date", n, false},
        element_case{0x5F2D, true, "Language Preference", an, false},
        element_case{0x5F53, true, "International Bank Account Number (IBAN)", var, false},
        element_case{0x5F55, true, "Issuer Country Code (alpha2 format)", a, false},
        element_case{0x61, true, "Application Template", b, true},
        element_case{0x6F, true, "File Control Information (FCI) Template", var, true},
        element_case{0x70, true, "READ RECORD Response Message Template", var, true},
        element_case{0x71, true, "Issuer Script Template 1", b, true},
        element_case{0x72, true, "Issuer Script Template 2", b, true},
        element_case{0x73, true, "Directory Discretionary Template", var, true},
        element_case{0x77, true, "Response Message Template Format 2", var, true},
        element_case{0x80, true, "Response Message Template Format 1", var, false},
        element_case{0x84, true, "Dedicated File (DF) Name", b, false},
        element_case{0x88, true, "Short File Identifier (SFI)", b, false},
        element_case{0x89, true, "Authorisation Code", ans, false},
        element_case{0x8A, true, "Authorisation Response Code", an, false},
        element_case{0x94, true, "Application File Locator (AFL)", var, false},
        element_case{0x9F0D, true, "Issuer Action Code - Default", b, false},
        element_case{0x9F11, true, "Issuer Code Table Index", n, false},
        element_case{0x9F20, true, "Track 2 Discretionary Data", cn, false},
        element_case{0x9F4A, true, "Static Data Authentication Tag List", var, false},
        element_case{0x9F4D, true, "Log Entry", b, false},
        element_case{0xA5, true, "File Control Information (FCI) Proprietary Template", var, true},
        element_case{0xBF0C, true, "File Control Information (FCI) Issuer Discretionary Data", var,
                     true}));

INSTANTIATE_TEST_SUITE_P(
    AddedAfter43, EmvElement,
    ::testing::Values(
        element_case{0x5F57, true, "Account Type", n, false},
        element_case{0x9F0A, true, "Application Selection Registered Proprietary Data (ASRPD)", b,
                     false},
        element_case{0x9F0C, true, "Issuer Identification Number Extended (IINE)", n, false},
        element_case{0x9F19, true, "Token Requestor ID", n, false},
        element_case{0x9F24, true, "Payment Account Reference (PAR)", an, false},
        element_case{0x9F25, true, "Last 4 Digits of PAN", n, false},
        element_case{0xBF4C, true, "Biometric Try Counters Template", var, true},
        element_case{0xBF4D, true, "Preferred Attempts Template", var, true}));

INSTANTIATE_TEST_SUITE_P(
    Terminal, EmvElement,
    ::testing::Values(
        element_case{0x81, true, "Amount, Authorised (Binary)", b, false},
        element_case{0x83, true, "Command Template", b, false},
        element_case{0x95, true, "Terminal Verification Results (TVR)", b, false},
        element_case{0x9A, true, "Transaction Date", n, false},
        element_case{0x9C, true, "Transaction Type", n, false},
        element_case{0x5F2A, true, "Transaction Currency Code", n, false},
        element_case{0x5F36, true, "Transaction Currency Exponent", n, false},
        element_case{0x9F02, true, "Amount, Authorised (Numeric)", n, false},
        element_case{0x9F06, true, "Application Identifier (AID) - terminal", b, false},
        element_case{0x9F16, true, "Merchant Identifier", ans, false},
        element_case{0x9F1C, true, "Terminal Identification", an, false},
        element_case{0x9F22, true, "Certification Authority Public Key Index (terminal)", b, false},
        element_case{0x9F35, true, "Terminal Type", n, false},
        element_case{0x9F41, true, "Transaction Sequence Counter", n, false},
        element_case{0x9F4E, true, "Merchant Name and Location", ans, false}));

INSTANTIATE_TEST_SUITE_P(
    Contactless, EmvElement,
    ::testing::Values(
        element_case{0x56, true, "Track 1 Data", ans, false},
        element_case{0x9F5D, true,
                     "Application Capabilities Information (C-2) / Available Offline "
                     "Spending Amount (C-3)",
                     b, false},
        element_case{0x9F66, true, "Terminal Transaction Qualifiers (TTQ)", b, false},
        element_case{0x9F6B, true, "Track 2 Data (C-2) / Card CVM Limit (C-3)", b, false},
        element_case{0x9F6C, true, "Card Transaction Qualifiers (CTQ)", b, false},
        element_case{0x9F6D, true,
                     "Mag-stripe Application Version Number (Reader) (C-2) / Contactless "
                     "Reader Capabilities (C-4)",
                     b, false},
        element_case{0x9F6E, true,
                     "Third Party Data (C-2) / Form Factor Indicator (C-3) / Enhanced "
                     "Contactless Reader Capabilities (C-4)",
                     b, false},
        element_case{0x9F7C, true, "Merchant Custom Data (C-2) / Customer Exclusive Data (C-3)", b,
                     false}));

// Neighbours of listed tags, proprietary tags, and keys wider than any listed tag whose
// low octets match one (a lookup that truncated the key would find them).
INSTANTIATE_TEST_SUITE_P(
    Unlisted, EmvElement,
    ::testing::Values(
        element_case{0x00, false, {}, b, false}, element_case{0x41, false, {}, b, false},
        element_case{0x85, false, {}, b, false}, element_case{0x9F00, false, {}, b, false},
        element_case{0x9F4E00, false, {}, b, false}, element_case{0xBF4E, false, {}, b, false},
        element_case{0xDF8101, false, {}, b, false}, element_case{0xFFFFFFFF, false, {}, b, false},
        element_case{0x1'0000'005A, false, {}, b, false},
        element_case{0xFFFF'FFFF'FFFF'FFFF, false, {}, b, false}));

// Counted from the source tables: 136 rows, one of them for two tags, and 9F4E listed
// with the terminal elements and again with the contactless ones; and 9F2A, the Kernel
// Identifier, from the kernels' own fields.
TEST(EmvElements, HoldsEveryTranscribedElement) {
  EXPECT_EQ(emv_elements().size(), 137u);
}

// A tree printer opens exactly the elements whose tag says constructed; the flag must
// never disagree with the tag's own 0x20 bit.
TEST(EmvElements, ConstructedFlagMatchesTheFirstTagOctet) {
  for (const emv_element& e : emv_elements()) {
    std::uint32_t first = e.tag;
    while (first > 0xFF)
      first >>= 8;
    EXPECT_EQ(e.constructed, (first & 0x20) != 0) << std::hex << e.tag;
  }
}

TEST(EmvElements, NamesArePrintableAscii) {
  for (const emv_element& e : emv_elements()) {
    EXPECT_FALSE(e.name.empty()) << std::hex << e.tag;
    for (const char ch : e.name) {
      EXPECT_TRUE(ch >= 0x20 && ch <= 0x7E) << std::hex << e.tag << ": " << e.name;
    }
  }
}

// Every entry is reachable through the binary search, at its own address.
TEST(EmvElements, EveryEntryIsFoundByItsTag) {
  for (const emv_element& e : emv_elements()) {
    EXPECT_EQ(find_emv_element(e.tag), &e) << std::hex << e.tag;
  }
}

}  // namespace
}  // namespace emvtlv

namespace emvtlv {
namespace {

// The direct index must answer exactly as a scan of the table does.
TEST(EmvElements, LookupAgreesWithAScanOfTheTable) {
  const auto table = emv_elements();
  for (std::uint64_t key = 0; key < 0x1000000; key += (key < 0x20000 ? 1 : 0xFB)) {
    const emv_element* expected = nullptr;
    for (const emv_element& e : table)
      if (e.tag == key) expected = &e;
    ASSERT_EQ(find_emv_element(key), expected) << std::hex << key;
  }
}

}  // namespace
}  // namespace emvtlv
