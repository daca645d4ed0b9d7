#include "card/mask.h"

#include <gtest/gtest.h>

#include <string>

#include "common/hex.h"
#include "test_support.h"

namespace emvtlv {
namespace {

struct rule_case {
  std::uint64_t tag;
  std::uint64_t declared;
  const char* hex;
  card_mask rule;
};

void PrintTo(const rule_case& c, std::ostream* os) {
  *os << std::hex << c.tag << " " << c.hex;
}

class CardMaskFor : public ::testing::TestWithParam<rule_case> {};

TEST_P(CardMaskFor, PicksTheRule) {
  EXPECT_EQ(card_mask_for(GetParam().tag, GetParam().declared, GetParam().hex), GetParam().rule);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, CardMaskFor,
    ::testing::Values(rule_case{0x5A, 8, "4761739001010010", card_mask::pan},
                      rule_case{0x57, 6, "123456789012", card_mask::track2},
                      rule_case{0x56, 4, "42313233", card_mask::track1},
                      rule_case{0x9F6B, 6, "000000010000", card_mask::none},
                      rule_case{0x9F6B, 6, "476173D27122", card_mask::track2},
                      rule_case{0x9F6B, 6, "476173d27122", card_mask::track2},
                      rule_case{0x9F6B, 7, "00000001000012", card_mask::track2},
                      // Cut short: the declared length still tells the two apart.
                      rule_case{0x9F6B, 6, "0000", card_mask::none},
                      rule_case{0x9F6B, 19, "0000", card_mask::track2},
                      rule_case{0x42, 3, "476173", card_mask::none},
                      rule_case{0x9F5A, 8, "4761739001010010", card_mask::none},
                      rule_case{0x5A00, 8, "4761739001010010", card_mask::none},
                      rule_case{0x10000005A, 8, "4761739001010010", card_mask::none}));

struct masking_case {
  card_mask rule;
  const char* hex;
  const char* masked;
};

void PrintTo(const masking_case& c, std::ostream* os) {
  *os << static_cast<int>(c.rule) << " " << c.hex;
}

class ApplyCardMask : public ::testing::TestWithParam<masking_case> {};

TEST_P(ApplyCardMask, HidesAllButTheLastFourDigits) {
  std::string hex = GetParam().hex;
  apply_card_mask(GetParam().rule, hex);
  EXPECT_EQ(hex, GetParam().masked);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ApplyCardMask,
    ::testing::Values(masking_case{card_mask::none, "4761739001010010", "4761739001010010"},
                      masking_case{card_mask::pan, "4761739001010010", "XXXXXXXXXXXX0010"},
                      masking_case{card_mask::pan, "4761739001010010123F", "XXXXXXXXXXXXXXX0123F"},
                      masking_case{card_mask::pan, "12345F", "X2345F"},
                      masking_case{card_mask::pan, "1234", "1234"},
                      masking_case{card_mask::pan, "12", "12"},
                      masking_case{card_mask::pan, "", ""},
                      // Only the pad at the end is kept; an F among the digits is hidden.
                      masking_case{card_mask::pan, "1F2345FF", "XX2345FF"},
                      masking_case{card_mask::pan, "FFFF", "FFFF"},
                      masking_case{card_mask::track2, "4761739001010010D2712201",
                                   "XXXXXXXXXXXX0010D2712201"},
                      masking_case{card_mask::track2, "1234567890AB", "XXXXXXXX90AB"},
                      masking_case{card_mask::track2, "12345678", "XXXX5678"},
                      masking_case{card_mask::track2, "1203", "1203"},
                      masking_case{card_mask::track2, "D12345678", "D12345678"},
                      // The first D ends the number; a later one is data.
                      masking_case{card_mask::track2, "123456D789D0", "XX3456D789D0"},
                      masking_case{card_mask::track2, "123456d789", "XX3456d789"},
                      masking_case{card_mask::track1, "4234373631373339303031303130303130",
                                   "42XXXXXXXXXXXXXXXXXXXXXXXX30303130"},
                      masking_case{card_mask::track1,
                                   "42313233343536"
                                   "5E"
                                   "41",
                                   "42XXXX33343536"
                                   "5E"
                                   "41"},
                      masking_case{card_mask::track1, "3132333435", "XX32333435"},
                      masking_case{card_mask::track1, "4231323334", "4231323334"},
                      masking_case{card_mask::track1, "5E3132333435", "5E3132333435"},
                      // A '^' must sit on a character: the 5 and E of two characters are not one.
                      masking_case{card_mask::track1, "4231353E3132", "42XX353E3132"},
                      // A lone last character counts as one of the number's.
                      masking_case{card_mask::track1, "42313233343", "42XX3233343"},
                      masking_case{card_mask::track1, "4231323334353", "42XXXX3334353"}));

struct template_case {
  std::string value;
  std::string masked;
};

void PrintTo(const template_case& c, std::ostream* os) {
  *os << c.value;
}

class MaskTemplateValue : public ::testing::TestWithParam<template_case> {};

TEST_P(MaskTemplateValue, HidesTheCardNumbersItHolds) {
  const auto bytes = test::from_hex(GetParam().value);
  std::string hex(2 * bytes.size(), '?');
  encode_hex_unchecked(bytes.data(), bytes.size(), hex.data());
  mask_template_value(bytes, hex, template_framing::console);
  EXPECT_EQ(hex, GetParam().masked);
}

const std::string pan = "5A084761739001010010";
const std::string masked_pan = "5A08XXXXXXXXXXXX0010";

INSTANTIATE_TEST_SUITE_P(
    Walks, MaskTemplateValue,
    ::testing::Values(
        template_case{"", ""}, template_case{pan, masked_pan},
        template_case{"00" + pan + "00", "00" + masked_pan + "00"},
        template_case{"5F2A020978" + pan, "5F2A020978" + masked_pan},
        // Primitive values are skipped whole: a 5A inside one is data.
        template_case{"9F10"
                      "0A" +
                          pan,
                      "9F10"
                      "0A" +
                          pan},
        template_case{"7012"
                      "7710"
                      "610E"
                      "A50C"
                      "BF0C09"
                      "5A07"
                      "12345678901234",
                      "7012"
                      "7710"
                      "610E"
                      "A50C"
                      "BF0C09"
                      "5A07"
                      "XXXXXXXXXX1234"},
        // A template that ends early: what follows belongs to the one around it.
        template_case{"6100" + pan, "6100" + masked_pan},
        template_case{"61025F20" + pan, "61025F20" + masked_pan},
        // An element cut at its template's end, then one after the template.
        template_case{"6104"
                      "5A084761" +
                          pan,
                      "6104"
                      "5A08XXXX" +
                          masked_pan},
        // Two templates deep: the inner one's end cuts its 5A, the outer one's the next.
        template_case{"6108"
                      "6104"
                      "5A084761"
                      "5A02"
                      "1234",
                      "6108"
                      "6104"
                      "5A08XXXX"
                      "5A02"
                      "1234"},
        // Tags of three octets and long lengths.
        template_case{"DF81010412345678" + pan, "DF81010412345678" + masked_pan},
        template_case{"5A8200084761739001010010", "5A820008XXXXXXXXXXXX0010"},
        // An unreadable length keeps the bytes left under its tag's rule, which are
        // still read on as elements; a header cut short ends the walk at the outermost
        // level...
        template_case{"9F2680" + pan, "9F2680" + masked_pan},
        template_case{"5A84000000084761739001010010", "5A84XXXXXXXXXXXXXXXXXXXX0010"},
        template_case{"9F", "9F"}, template_case{"5A", "5A"}, template_case{"5A81", "5A81"},
        // ... and ends just the template inside one.
        template_case{"61039F2680" + pan, "61039F2680" + masked_pan},
        template_case{"6101DF" + pan, "6101DF" + masked_pan}));

// Framed as the tree reads it: 84 lengths, and an unreadable length keeps the rest.
class MaskTreeTemplateValue : public ::testing::TestWithParam<template_case> {};

TEST_P(MaskTreeTemplateValue, HidesTheCardNumbersItHolds) {
  const auto bytes = test::from_hex(GetParam().value);
  std::string hex(2 * bytes.size(), '?');
  encode_hex_unchecked(bytes.data(), bytes.size(), hex.data());
  mask_template_value(bytes, hex, template_framing::tree);
  EXPECT_EQ(hex, GetParam().masked);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, MaskTreeTemplateValue,
    ::testing::Values(
        template_case{pan, masked_pan},
        template_case{"5A84000000084761739001010010", "5A8400000008XXXXXXXXXXXX0010"},
        template_case{"9F2680" + pan, "9F2680" + masked_pan},
        template_case{"E185" + pan, "E185" + masked_pan},
        // The card tag's own rule covers what it keeps, then its elements are read on.
        template_case{"5A8047617390010100109F0201", "5A80XXXXXXXXXXXXXXXXXX0201"},
        // It keeps only what is left in its own template.
        template_case{"7003E180" + pan, "7003E180" + pan},
        template_case{"5A84000000", "5A84000000"}, template_case{"5A", "5A"}));

// A hex string shorter than the value is masked as far as it goes.
TEST(MaskTemplateValue, MasksAsFarAsTheHexGoes) {
  const auto bytes = test::from_hex(pan);
  std::string hex = "5A0847617390";
  mask_template_value(bytes, hex, template_framing::console);
  EXPECT_EQ(hex, "5A08XXXX7390");
}

// Templates nest as deep as the bytes allow, past the open templates kept track of.
TEST(MaskTemplateValue, NestsDeeperThanAnyRecordWithoutRecursing) {
  for (const std::size_t depth : {std::size_t{127}, std::size_t{128}, std::size_t{5000}}) {
    std::string value;
    for (std::size_t i = 0; i < depth; ++i)
      value += "7082FFFF";
    const auto bytes = test::from_hex(value + pan + pan);
    std::string hex(2 * bytes.size(), '?');
    encode_hex_unchecked(bytes.data(), bytes.size(), hex.data());
    mask_template_value(bytes, hex, template_framing::console);
    EXPECT_EQ(hex, value + masked_pan + masked_pan) << depth;
  }
}

// A value cut short by the record's end hides every digit it shows.
class CutShortCardMask : public ::testing::TestWithParam<masking_case> {};

TEST_P(CutShortCardMask, HidesEveryDigit) {
  std::string hex = GetParam().hex;
  apply_card_mask(GetParam().rule, hex, true);
  EXPECT_EQ(hex, GetParam().masked);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CutShortCardMask,
    ::testing::Values(masking_case{card_mask::none, "476173900101", "476173900101"},
                      masking_case{card_mask::pan, "476173900101", "XXXXXXXXXXXX"},
                      masking_case{card_mask::pan, "4761", "XXXX"},
                      masking_case{card_mask::track2, "476173900101D2", "XXXXXXXXXXXXDX"},
                      masking_case{card_mask::track1, "42343736315E41", "42XXXXXXXX5E41"}));

struct sad_case {
  std::uint64_t tag;
  card_mask rule;
  const char* hex;
  const char* hidden;
};

void PrintTo(const sad_case& c, std::ostream* os) {
  *os << std::hex << c.tag << " " << c.hex;
}

class HideAuthenticationData : public ::testing::TestWithParam<sad_case> {};

TEST_P(HideAuthenticationData, KeepsTheLengthAndTheFieldsBefore) {
  std::string hex = GetParam().hex;
  hide_authentication_data(GetParam().tag, GetParam().rule, hex);
  EXPECT_EQ(hex, GetParam().hidden);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, HideAuthenticationData,
    ::testing::Values(
        // Track 2: after the expiry and service code, the pad kept.
        sad_case{0x57, card_mask::track2, "XXXX0010D27122011143804489",
                 "XXXX0010D2712201XXXXXXXXXX"},
        sad_case{0x57, card_mask::track2, "XXXX0010D2712201123F", "XXXX0010D2712201XXXF"},
        sad_case{0x9F6B, card_mask::track2, "XXXX0010D2712201", "XXXX0010D2712201"},
        sad_case{0x57, card_mask::track2, "47617390010100", "47617390010100"},
        // Track 1: after the name, the expiry and the service code.
        sad_case{0x56, card_mask::track1, "42XXXX30305E444F455E323731323230313132333435",
                 "42XXXX30305E444F455E32373132323031XXXXXXXXXX"},
        sad_case{0x56, card_mask::track1, "42XXXX30305E444F45", "42XXXX30305E444F45"},
        sad_case{0x9F1F, card_mask::none, "3132333435", "XXXXXXXXXX"},
        sad_case{0x9F20, card_mask::none, "12345F", "XXXXXX"},
        sad_case{0x99, card_mask::none, "241234FFFFFFFFFF", "XXXXXXXXXXXXXXXX"},
        sad_case{0x9F1E, card_mask::none, "3132333435", "3132333435"}));

// In the decoding modes' framing, the discretionary data in a template's elements is
// hidden too, after an unreadable length as well.
INSTANTIATE_TEST_SUITE_P(CardCodes, MaskTreeTemplateValue,
                         ::testing::Values(template_case{"57114761739001010010D27122011143804489",
                                                         "5711XXXXXXXXXXXX0010D2712201XXXXXXXXXX"},
                                           template_case{"9F1F023132", "9F1F02XXXX"},
                                           template_case{"5780"
                                                         "4761739001010010D27122011143804489",
                                                         "5780XXXXXXXXXXXX0010D2712201XXXXXXXXXX"},
                                           template_case{"9F1F80313233", "9F1F80XXXXXX"}));

// Masking after unreadable lengths is one pass: each 57 80 keeps every byte after it,
// which the walk reads on, yet what is looked at grows with the value, not its square.
TEST(MaskTemplateValue, LooksAtEachByteAFewTimesAfterUnreadableLengths) {
  for (const template_framing framing : {template_framing::console, template_framing::tree}) {
    for (const std::string unit : {"5780", "5680", "9F1F80", "5A80", "57805A80"}) {
      std::size_t per_byte = 0;
      for (const std::size_t repeats : {std::size_t{1000}, std::size_t{16000}}) {
        std::string value;
        for (std::size_t i = 0; i < repeats; ++i)
          value += unit;
        const auto bytes = test::from_hex(value + "D2712201123456");
        std::string hex(2 * bytes.size(), '?');
        encode_hex_unchecked(bytes.data(), bytes.size(), hex.data());
        const std::size_t looked_at = mask_template_value(bytes, hex, framing);
        EXPECT_LE(looked_at, 16 * bytes.size()) << unit << " " << repeats;
        if (per_byte == 0) per_byte = looked_at / bytes.size() + 1;
        EXPECT_LE(looked_at / bytes.size(), per_byte) << unit << " " << repeats;
      }
    }
  }
}

TEST(IsTemplateTag, LooksAtTheFirstOctetsBit20) {
  for (const std::uint64_t tag : {0x61u, 0x6Fu, 0x70u, 0x73u, 0x77u, 0xA5u, 0xBF0Cu, 0x20u})
    EXPECT_TRUE(is_template_tag(tag)) << std::hex << tag;
  for (const std::uint64_t tag : {0x5Au, 0x57u, 0x9F6Bu, 0x5F20u, 0x9F38u, 0x1F2Fu, 0u})
    EXPECT_FALSE(is_template_tag(tag)) << std::hex << tag;
  EXPECT_TRUE(is_template_tag(0xFF818101));
  EXPECT_FALSE(is_template_tag(0xDFFF));
}

}  // namespace
}  // namespace emvtlv
