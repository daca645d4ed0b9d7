#include "tlv/walk.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace emvtlv {
namespace {

using test::record_case;
using test::walk;

class Walk : public ::testing::TestWithParam<record_case> {};

TEST_P(Walk, PrintsExactly) {
  EXPECT_EQ(walk(GetParam().record), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, Walk,
    ::testing::Values(
        record_case{"", ""},
        record_case{"5F24032512319F270180",
                    "Application Expiration Date: 251231\nCryptogram Information Data: 80\n"},
        record_case{"BF0C0201FF",
                    "File Control Information (FCI) Issuer Discretionary Data: 01FF\n"},
        // Values print in full, 00 octets included.
        record_case{"9F36020001", "Application Transaction Counter (ATC): 0001\n"},
        record_case{"9F36021200", "Application Transaction Counter (ATC): 1200\n"},
        record_case{"9F420209785F28020840",
                    "Application Currency Code: 0978\n"
                    "Issuer Country Code: 0840\n"},
        record_case{"6F058403A00001", "File Control Information (FCI) Template: 8403A00001\n"},
        // Templates are not opened.
        record_case{"70035A01", "READ RECORD Response Message Template: 5A01\n"}));

INSTANTIATE_TEST_SUITE_P(
    LengthForms, Walk,
    ::testing::Values(record_case{"9F268103AABBCC", "Application Cryptogram: AABBCC\n"},
                      record_case{"9F26820003AABBCC", "Application Cryptogram: AABBCC\n"},
                      record_case{"9F2680", "Application Cryptogram: \n"},
                      // Length octets past the record's end read as 00.
                      record_case{"9F2681", "Application Cryptogram: \n"},
                      record_case{"9F26", "Application Cryptogram: \n"},
                      record_case{"9F268001", "Application Cryptogram: \nunknown tag\n"},
                      // A refused length field: label line with the message, the printer with
                      // length 0, then the walk resumes at the refused octet.
                      record_case{"9F2683010203",
                                  "Application Cryptogram: "
                                  "length bytes not allowed to be greater than 3\n\nunknown tag\n"},
                      record_case{"9F268C0101",
                                  "Application Cryptogram: "
                                  "length bytes not allowed to be greater than 3\n\n"
                                  "Card Risk Management Data Object List 1 (CDOL1): 01\n"},
                      record_case{
                          "8CFF",
                          "Card Risk Management Data Object List 1 (CDOL1): "
                          "length bytes not allowed to be greater than 3\n\nunknown tag\n"}));

INSTANTIATE_TEST_SUITE_P(
    CutShort, Walk,
    ::testing::Values(
        // Only the available octets print, and the walk ends.
        record_case{"9F2608112233", "Application Cryptogram: 112233\n"},
        record_case{"9F2682FFFF01", "Application Cryptogram: 01\n"},
        record_case{"9F2701809F2608",
                    "Cryptogram Information Data: 80\nApplication Cryptogram: \n"},
        // A tag running past the end ends in 00, which no entry has.
        record_case{"9F", "unknown tag\n"}, record_case{"1F818181", "unknown tag\n"}));

INSTANTIATE_TEST_SUITE_P(
    UnknownTags, Walk,
    ::testing::Values(record_case{"DF8101020304", "unknown tag\n"},
                      record_case{"0101009F270180", "unknown tag\n"},
                      record_case{"9F270180DF01", "Cryptogram Information Data: 80\nunknown tag\n"},
                      record_case{"00", "unknown tag\n"}));

struct tag_case {
  const char* element;
  std::uint64_t tag;
  std::uint64_t octets;
};

void PrintTo(const tag_case& c, std::ostream* os) {
  *os << c.element;
}

class GetTag : public ::testing::TestWithParam<tag_case> {};

TEST_P(GetTag, ReadsTagOctetsBigEndian) {
  const auto bytes = test::from_hex(GetParam().element);
  const record_view element(bytes, static_cast<std::int32_t>(bytes.size()));
  std::uint64_t position = 0;
  EXPECT_EQ(get_tag(element, position), GetParam().tag);
  EXPECT_EQ(position, GetParam().octets);
}

INSTANTIATE_TEST_SUITE_P(Forms, GetTag,
                         ::testing::Values(tag_case{"5A08", 0x5A, 1}, tag_case{"9F2608", 0x9F26, 2},
                                           tag_case{"BF0C05", 0xBF0C, 2},
                                           tag_case{"DF810102", 0xDF8101, 3},
                                           tag_case{"9F", 0x9F00, 2}, tag_case{"", 0, 1},
                                           // Past 64 bits the high octets are lost.
                                           tag_case{"1F8182838485868708", 0x8182838485868708, 9},
                                           tag_case{"1F818283848586878809", 0x8283848586878809, 10},
                                           // The octet past the end reads 00 and ends the tag.
                                           tag_case{"1F8182", 0x1F818200, 4}));

TEST(RecordView, ReadsZeroPastTheCountWithoutTouchingStorage) {
  const std::array<std::uint8_t, 4> storage = {1, 2, 3, 4};
  const record_view view(std::span<const std::uint8_t>(storage).first(2), 9);  // count clamps to 2
  EXPECT_EQ(view.at(0), 1);
  EXPECT_EQ(view.at(1), 2);
  EXPECT_EQ(view.at(2), 0);
  EXPECT_EQ(view.at(UINT64_MAX), 0);
  EXPECT_EQ(view.shifted(1).at(0), 2);
  EXPECT_EQ(view.shifted(UINT64_MAX).at(0), 0);
  EXPECT_EQ(view.shifted(UINT64_MAX).remaining(), 0u);
  EXPECT_EQ(record_view(storage, -5).at(0), 0);
}

TEST(CopyData, CopiesTheSmallerOfLengthAndAvailableAndNeverPastTheDestination) {
  const std::array<std::uint8_t, 4> storage = {1, 2, 3, 4};
  const record_view view(storage, 4);
  std::array<std::uint8_t, 3> destination{};
  copy_data(destination, view, 2, 9);
  EXPECT_EQ(destination, (std::array<std::uint8_t, 3>{1, 2, 0}));
  destination = {};
  copy_data(destination, view, 9, 1);
  EXPECT_EQ(destination, (std::array<std::uint8_t, 3>{1, 0, 0}));
  copy_data(destination, view, 9, 9);
  EXPECT_EQ(destination, (std::array<std::uint8_t, 3>{1, 2, 3}));
}

}  // namespace
}  // namespace emvtlv
