#include "tlv/dictionary.h"

#include <gtest/gtest.h>

#include <set>

namespace emvtlv {
namespace {

TEST(Dictionary, HoldsSeventySevenDistinctOneOrTwoOctetTagsOrderedByName) {
  ASSERT_EQ(tags.size(), 77u);
  ASSERT_EQ(names.size(), 77u);
  std::set<std::int32_t> seen;
  for (std::size_t i = 0; i < tag_count; ++i) {
    EXPECT_TRUE(seen.insert(tags[i]).second) << "tag listed twice: " << std::hex << tags[i];
    EXPECT_GT(tags[i], 0);
    EXPECT_LE(tags[i], 0xFFFF);
    EXPECT_FALSE(names[i].empty());
    EXPECT_EQ(names[i].data()[names[i].size()], '\0') << "names must stay C strings";
    if (i > 0) {
      EXPECT_LT(names[i - 1], names[i]) << "out of order at " << i;
    }
  }
}

// The lookup must answer exactly as a scan of the table does, for every key a tag of
// up to three octets can give.
TEST(Dictionary, LookupAgreesWithAScanOfTheTable) {
  for (std::uint64_t key = 0; key < 0x1000000; key += (key < 0x20000 ? 1 : 0xFF)) {
    std::string expected;
    for (std::size_t i = 0; i < tag_count; ++i) {
      if (static_cast<std::uint64_t>(tags[i]) == key) expected = std::string(names[i]) + ": ";
    }
    output_sink out;
    ASSERT_EQ(find_tag(key, out), expected.empty() ? 0 : 1) << std::hex << key;
    ASSERT_EQ(out.view(), expected) << std::hex << key;
  }
}

struct lookup_case {
  std::uint64_t key;
  int found;
  const char* label;
};

void PrintTo(const lookup_case& c, std::ostream* os) {
  *os << std::hex << c.key;
}

class FindTag : public ::testing::TestWithParam<lookup_case> {};

TEST_P(FindTag, PrintsTheLabelOnlyWhenListed) {
  output_sink out;
  EXPECT_EQ(find_tag(GetParam().key, out), GetParam().found);
  EXPECT_EQ(out.view(), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FindTag,
    ::testing::Values(
        lookup_case{0x9F26, 1, "Application Cryptogram: "},
        lookup_case{0x42, 1, "Issuer Identification Number (IIN): "},
        lookup_case{0x5A, 1, "Application Primary Account Number (PAN): "},
        lookup_case{0x9F23, 1, "Upper Consecutive Offline Limit: "},
        lookup_case{0x9F2D, 1,
                    "Integrated Circuit Card (ICC) PIN Encipherment Public Key Certificate: "},
        // Templates are listed like any other tag.
        lookup_case{0x61, 1, "Application Template: "},
        lookup_case{0x6F, 1, "File Control Information (FCI) Template: "},
        lookup_case{0x70, 1, "READ RECORD Response Message Template: "},
        lookup_case{0x73, 1, "Directory Discretionary Template: "},
        lookup_case{0x77, 1, "Response Message Template Format 2: "},
        lookup_case{0xA5, 1, "File Control Information (FCI) Proprietary Template: "},
        lookup_case{0xBF0C, 1, "File Control Information (FCI) Issuer Discretionary Data: "},
        lookup_case{0, 0, ""}, lookup_case{0x9F00, 0, ""}, lookup_case{0xDF8101, 0, ""},
        // A key whose low 32 bits match a tag is still not that tag.
        lookup_case{0x100009F26, 0, ""}, lookup_case{0xFFFFFFFFFFFF9F26, 0, ""}));

struct listed_element {
  std::uint64_t tag;
  const char* name;
};

void PrintTo(const listed_element& e, std::ostream* os) {
  *os << std::hex << e.tag;
}

// Every element the console names, with its exact name, written out apart from the
// table in the code: a tag or a name changed there shows here.
constexpr listed_element listed_elements[] = {
    {0x9F26, "Application Cryptogram"},
    {0x9F42, "Application Currency Code"},
    {0x9F44, "Application Currency Exponent"},
    {0x9F05, "Application Discretionary Data"},
    {0x5F25, "Application Effective Date"},
    {0x5F24, "Application Expiration Date"},
    {0x94, "Application File Locator (AFL)"},
    {0x4F, "Application Identifier (AID) - card"},
    {0x82, "Application Interchange Profile"},
    {0x50, "Application Label"},
    {0x9F12, "Application Preferred Name"},
    {0x5A, "Application Primary Account Number (PAN)"},
    {0x5F34, "Application Primary Account Number (PAN) Sequence Number"},
    {0x87, "Application Priority Indicator"},
    {0x9F3B, "Application Reference Currency"},
    {0x9F43, "Application Reference Currency Exponent"},
    {0x61, "Application Template"},
    {0x9F36, "Application Transaction Counter (ATC)"},
    {0x9F07, "Application Usage Control"},
    {0x9F08, "Application Version Number"},
    {0x5F54, "Bank Identifier Code (BIC)"},
    {0x8C, "Card Risk Management Data Object List 1 (CDOL1)"},
    {0x8D, "Card Risk Management Data Object List 2 (CDOL2)"},
    {0x5F20, "Cardholder Name"},
    {0x9F0B, "Cardholder Name Extended"},
    {0x8E, "Cardholder Verification Method (CVM) List"},
    {0x8F, "Certification Authority Public Key Index"},
    {0x9F27, "Cryptogram Information Data"},
    {0x9F45, "Data Authentication Code"},
    {0x84, "Dedicated File (DF) Name"},
    {0x9D, "Directory Definition File (DDF) Name"},
    {0x73, "Directory Discretionary Template"},
    {0x9F49, "Dynamic Data Authentication Data Object List (DDOL)"},
    {0xBF0C, "File Control Information (FCI) Issuer Discretionary Data"},
    {0xA5, "File Control Information (FCI) Proprietary Template"},
    {0x6F, "File Control Information (FCI) Template"},
    {0x9F4C, "ICC Dynamic Number"},
    {0x9F2D, "Integrated Circuit Card (ICC) PIN Encipherment Public Key Certificate"},
    {0x9F2E, "Integrated Circuit Card (ICC) PIN Encipherment Public Key Exponent"},
    {0x9F2F, "Integrated Circuit Card (ICC) PIN Encipherment Public Key Remainder"},
    {0x9F46, "Integrated Circuit Card (ICC) Public Key Certificate"},
    {0x9F47, "Integrated Circuit Card (ICC) Public Key Exponent"},
    {0x9F48, "Integrated Circuit Card (ICC) Public Key Remainder"},
    {0x5F53, "International Bank Account Number (IBAN)"},
    {0x9F0D, "Issuer Action Code - Default"},
    {0x9F0E, "Issuer Action Code - Denial"},
    {0x9F0F, "Issuer Action Code - Online"},
    {0x9F10, "Issuer Application Data"},
    {0x9F11, "Issuer Code Table Index"},
    {0x5F28, "Issuer Country Code"},
    {0x5F55, "Issuer Country Code (alpha2 format)"},
    {0x5F56, "Issuer Country Code (alpha3 format)"},
    {0x42, "Issuer Identification Number (IIN)"},
    {0x90, "Issuer Public Key Certificate"},
    {0x9F32, "Issuer Public Key Exponent"},
    {0x92, "Issuer Public Key Remainder"},
    {0x5F50, "Issuer URL"},
    {0x5F2D, "Language Preference"},
    {0x9F13, "Last Online Application Transaction Counter (ATC) Register"},
    {0x9F4D, "Log Entry"},
    {0x9F4F, "Log Format"},
    {0x9F14, "Lower Consecutive Offline Limit"},
    {0x9F17, "Personal Identification Number (PIN) Try Counter"},
    {0x9F38, "Processing Options Data Object List (PDOL)"},
    {0x70, "READ RECORD Response Message Template"},
    {0x80, "Response Message Template Format 1"},
    {0x77, "Response Message Template Format 2"},
    {0x5F30, "Service Code"},
    {0x88, "Short File Identifier (SFI)"},
    {0x9F4B, "Signed Dynamic Application Data"},
    {0x93, "Signed Static Application Data"},
    {0x9F4A, "Static Data Authentication Tag List"},
    {0x9F1F, "Track 1 Discretionary Data"},
    {0x9F20, "Track 2 Discretionary Data"},
    {0x57, "Track 2 Equivalent Data"},
    {0x97, "Transaction Certificate Data Object List (TDOL)"},
    {0x9F23, "Upper Consecutive Offline Limit"},
};

static_assert(std::size(listed_elements) == tag_count);

class ListedElement : public ::testing::TestWithParam<listed_element> {};

TEST_P(ListedElement, PrintsItsExactLabel) {
  output_sink out;
  EXPECT_EQ(find_tag(GetParam().tag, out), 1);
  EXPECT_EQ(out.view(), std::string(GetParam().name) + ": ");
}

INSTANTIATE_TEST_SUITE_P(All, ListedElement, ::testing::ValuesIn(listed_elements));

}  // namespace
}  // namespace emvtlv
