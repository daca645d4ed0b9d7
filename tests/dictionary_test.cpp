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

}  // namespace
}  // namespace emvtlv
