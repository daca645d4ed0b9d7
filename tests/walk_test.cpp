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

const std::string track2 = "Track 2 Equivalent Data: ";
const std::string read_record = "READ RECORD Response Message Template: ";
const std::string gpo = "Response Message Template Format 2: ";

// Card numbers print masked but for their last four digits, in 57 and inside templates;
// everything else in the line prints as it is.
INSTANTIATE_TEST_SUITE_P(
    MaskedCardNumbers, Walk,
    ::testing::Values(
        record_case{"57114761739001010010D27122011143804489",
                    track2 + "XXXXXXXXXXXX0010D27122011143804489\n"},
        record_case{"57021203", track2 + "1203\n"},
        // Cut short by the record's end: no digit shows.
        record_case{"571012345678", track2 + "XXXXXXXX\n"},
        record_case{"57061234567890AB", track2 + "XXXXXXXX90AB\n"},
        // 00 octets are digits like any other.
        record_case{"57080000000012345678", track2 + "XXXXXXXXXXXX5678\n"},
        record_case{"570A4761739001010010D000", track2 + "XXXXXXXXXXXX0010D000\n"},
        record_case{"701A5A0847617390010100105F24032712315F2A02097800",
                    read_record + "5A08XXXXXXXXXXXX00105F24032712315F2A02097800\n"},
        record_case{"61085A06374245455400126F",
                    "Application Template: 5A06XXXXXXXX5400\nunknown tag\n"},
        record_case{"770E9F6B0A4761739001010010D2719F2701",
                    gpo + "9F6B0AXXXXXXXXXXXX0010D2719F\nunknown tag\n"},
        record_case{"701356114234373631373339303031303130303130",
                    read_record + "561142XXXXXXXXXXXXXXXXXXXXXXXX30303130\n"},
        // 19 and 15 digits, F padded: the pad is kept and not counted.
        record_case{"700C5A0A4761739001010010123F", read_record + "5A0AXXXXXXXXXXXXXXX0123F\n"},
        record_case{"700A5A08374245455400126F", read_record + "5A08XXXXXXXXXXX0126F\n"},
        // Four digits: nothing to hide.
        record_case{"70045A021234", read_record + "5A021234\n"},
        record_case{"700C570A4761000000000010D271", read_record + "570AXXXXXXXXXXXX0010D271\n"},
        // Three templates deep, each tag of a different form.
        record_case{"6F1A8407A0000000031010A50FBF0C0C610A5A084761739001010010",
                    "File Control Information (FCI) Template: "
                    "8407A0000000031010A50FBF0C0C610A5A08XXXXXXXXXXXX0010\n"},
        // 00 padding before, between and after elements, at any depth.
        record_case{"700E00005A08476173900101001000", read_record + "00005A08XXXXXXXXXXXX001000\n"},
        record_case{"770E610C005A08476173900101001000", gpo + "610C005A08XXXXXXXXXXXX001000\n"},
        // An inner element cut short by the record's end.
        record_case{"700A5A08476173", read_record + "5A08XXXXXX\n"},
        // An inner length that runs past its template: cut at the template's end, and the
        // walk goes on after the template.
        record_case{"700D61065A08476173905F2A020978", read_record + "61065A08XXXXXXXX5F2A020978\n"},
        record_case{"701061045A0847615A084761739001010010",
                    read_record + "61045A08XXXX5A08XXXXXXXXXXXX0010\n"},
        // A header that does not fit its template ends that template, not the walk.
        record_case{"700DA501885A084761739001010010", read_record + "A501885A08XXXXXXXXXXXX0010\n"},
        // Long length forms.
        record_case{"700B5A81084761739001010010", read_record + "5A8108XXXXXXXXXXXX0010\n"},
        record_case{"700C5A8200084761739001010010", read_record + "5A820008XXXXXXXXXXXX0010\n"},
        record_case{"700D5A830000084761739001010010", read_record + "5A83000008XXXXXXXXXXXX0010\n"},
        // 9F6B of 6 octets without a D is Visa's Card CVM Limit, an amount.
        record_case{"77099F6B06000000010000", gpo + "9F6B06000000010000\n"},
        record_case{"77099F6B06476173D27122", gpo + "9F6B06XX6173D27122\n"},
        record_case{"770A9F6B0700000001000012", gpo + "9F6B07XXXXXXXXXX0012\n"},
        // Track 1: the number runs from after the 'B' to the first '^'; without the 'B'
        // it is taken to start at once.
        record_case{"701A561842343736313733393030313031303031305E415E32373132",
                    read_record + "561842XXXXXXXXXXXXXXXXXXXXXXXX303031305E415E32373132\n"},
        record_case{"700A56083132333435363738", read_record + "5608XXXXXXXX35363738\n"},
        // Tags of more octets that end in 5A are not 5A.
        record_case{"7008DF815A0412345678", read_record + "DF815A0412345678\n"},
        record_case{"70079F5A0412345678", read_record + "9F5A0412345678\n"}));

// Inside a template, an element whose length the console cannot read keeps the bytes
// left under its own tag's rule, and they are read on as elements: the card number
// after it is masked, as the tree masks it.
INSTANTIATE_TEST_SUITE_P(
    AfterUnreadableLengths, Walk,
    ::testing::Values(
        record_case{"70149F26805A0847617390010100105F2403271231",
                    read_record + "9F26805A08XXXXXXXXXXXX00105F2403271231\n"},
        record_case{"70149F26845A0847617390010100105F2403271231",
                    read_record + "9F26845A08XXXXXXXXXXXX00105F2403271231\n"},
        record_case{"70149F26855A0847617390010100105F2403271231",
                    read_record + "9F26855A08XXXXXXXXXXXX00105F2403271231\n"},
        record_case{"70149F26FF5A0847617390010100105F2403271231",
                    read_record + "9F26FF5A08XXXXXXXXXXXX00105F2403271231\n"},
        // Under a card tag's own rule, all but the last four of what is left.
        record_case{"700C5A80476173900101001090", read_record + "5A80XXXXXXXXXXXXXX1090\n"},
        // 83 is read inside a template, though the walk refuses it at the top.
        record_case{"700E5A830000084761739001010010", read_record + "5A83000008XXXXXXXXXXXX0010\n"},
        // The card code after a Track 2 number still shows: the console's output is fixed.
        record_case{"70145780"
                    "4761739001010010D27122011143804489",
                    read_record + "5780XXXXXXXXXXXX0010D27122011143804489\n"}));

// Misframed and cut-short card numbers: the record scan hides them whatever reads them.
INSTANTIATE_TEST_SUITE_P(
    RecordScan, Walk,
    ::testing::Values(
        record_case{"9F11205A084761739001010010",
                    "Issuer Code Table Index: 5A08XXXXXXXXXXXX0010\n"},
        record_case{"5713476173900101", track2 + "XXXXXXXXXXXX\n"},
        record_case{"9F1F1034373631373339303031303130303130",
                    "Track 1 Discretionary Data: " + std::string(24, 'X') + "30303130\n"},
        // A hidden header octet: the element counts as unknown.
        record_case{"70045A084761739001010010", read_record + "5A08XXXX\nunknown tag\n"},
        record_case{"9F12103632313039343830303030303030313100",
                    "Application Preferred Name: " + std::string(24, 'X') +
                        "30303131\n"
                        "unknown tag\n"},
        // The PAN's copied octets show as the scan says.
        record_case{
            "5A0A"
            "4761739001010010",
            "Application Primary Account Number (PAN): " + std::string(16, 'X') + "0000\n"}));

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
        // A two-octet length above 255: the record's 251 value bytes all print.
        record_case{"9F26820100" + std::string(502, 'B'),
                    "Application Cryptogram: " + std::string(502, 'B') + "\n"},
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

// A view made with no record reads as an empty one, without touching memory.
TEST(RecordView, DefaultIsAnEmptyRecord) {
  constexpr record_view none;
  static_assert(none.at(0) == 0 && none.remaining() == 0);
  const record_view view;
  EXPECT_EQ(view.at(0), 0);
  EXPECT_EQ(view.at(UINT64_MAX), 0);
  EXPECT_EQ(view.shifted(3).at(0), 0);
  EXPECT_EQ(view.held(8).size(), 0u);
  output_sink out;
  EXPECT_TRUE(put_hex_bytes(out, view, 8).empty());
  EXPECT_EQ(out.view(), "");
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
