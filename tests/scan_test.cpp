// The record scan: which nibbles of a record's bytes print as X, whatever their framing,
// and that every mode then shows the same output whatever the hidden digits are.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "card/mask.h"
#include "common/cpu.h"
#include "common/hex.h"
#include "memory_io.h"
#include "modes/tree_mode.h"
#include "test_support.h"

namespace emvtlv {
namespace {

// Two Luhn-valid numbers with the same first six and last four digits, differing in
// every digit between; and one that fails the check.
const std::string number_a = "4761739001010010";
const std::string number_b = "4761730110160010";
const std::string not_luhn = "4761739001010011";

std::string ascii(std::string_view digits) {
  std::string hex;
  for (const char c : digits) {
    hex += '3';
    hex += c;
  }
  return hex;
}

// `record` as hex with X over every nibble the scan hides.
std::string scanned(std::string_view record) {
  const auto bytes = test::from_hex(record);
  hidden_nibbles marks(bytes.size());
  marks.scan(bytes);
  std::string hex(2 * bytes.size(), '?');
  encode_hex_unchecked(bytes.data(), bytes.size(), hex.data());
  marks.apply(bytes.data(), hex);
  return hex;
}

struct scan_case {
  std::string record;
  std::string hidden;
};

void PrintTo(const scan_case& c, std::ostream* os) {
  *os << c.record;
}

class RecordScan : public ::testing::TestWithParam<scan_case> {};

TEST_P(RecordScan, HidesTheseNibbles) {
  EXPECT_EQ(scanned(GetParam().record), GetParam().hidden);
}

const std::string x12 = std::string(12, 'X');

INSTANTIATE_TEST_SUITE_P(
    Pan, RecordScan,
    ::testing::Values(scan_case{"5A08" + number_a, "5A08" + x12 + "0010"},
                      scan_case{"5A08" + not_luhn, "5A08" + not_luhn},
                      // Inside another element's value, at any offset, under any framing.
                      scan_case{"9F11205A08" + number_a, "9F11205A08" + x12 + "0010"},
                      scan_case{"FF5A08" + number_a + "FF", "FF5A08" + x12 + "0010FF"},
                      // Every length form up to 84; 85 and up is no length.
                      scan_case{"5A8108" + number_a, "5A8108" + x12 + "0010"},
                      scan_case{"5A820008" + number_a, "5A820008" + x12 + "0010"},
                      scan_case{"5A83000008" + number_a, "5A83000008" + x12 + "0010"},
                      scan_case{"5A8400000008" + number_a, "5A8400000008" + x12 + "0010"},
                      scan_case{"5A850000000008" + number_a, "5A850000000008" + number_a},
                      // 15 digits and the pad; 4 to 10 octets only.
                      scan_case{"5A08374245455400126F", "5A08XXXXXXXXXXX0126F"},
                      scan_case{"5A0B" + number_a + "000000", "5A0B" + number_a + "000000"},
                      // Fewer than 12 digits, or a non-digit before the end.
                      scan_case{"5A061234567890128F", "5A061234567890128F"},
                      scan_case{"5A08" + number_a.substr(0, 14) + "AF",
                                "5A08" + number_a.substr(0, 14) + "AF"},
                      // Cut short by the record's end: every digit, from 8 of them.
                      scan_case{"5A08" + number_a.substr(0, 12), "5A08" + x12},
                      scan_case{"5A08" + number_a.substr(0, 8), "5A08XXXXXXXX"},
                      scan_case{"5A08" + number_a.substr(0, 6), "5A08" + number_a.substr(0, 6)},
                      scan_case{"5A084761739F", "5A084761739F"}));

INSTANTIATE_TEST_SUITE_P(
    Track2, RecordScan,
    ::testing::Values(scan_case{"5711" + number_a + "D27122011143804489",
                                "5711" + x12 + "0010D27122011143804489"},
                      scan_case{"5711" + not_luhn + "D27122011143804489",
                                "5711" + not_luhn + "D27122011143804489"},
                      // 11 digits before D are too few to be a card number.
                      scan_case{"570847617390010D2712", "570847617390010D2712"},
                      scan_case{"5713" + number_a.substr(0, 12), "5713" + x12},
                      scan_case{"9F6B0A" + number_a + "D271", "9F6B0A" + x12 + "0010D271"},
                      // Six octets and no D: Visa's Card CVM Limit, an amount, even cut short.
                      scan_case{"9F6B06000000010000", "9F6B06000000010000"},
                      scan_case{"9F6B0647617390", "9F6B0647617390"},
                      // Eight octets cut short, only digits: all of them.
                      scan_case{"9F6B084761739001", "9F6B08XXXXXXXXXX"},
                      // A header inside hidden digits still starts a match: here 57 13 takes
                      // the last four and what follows as a number cut short.
                      scan_case{"5A084761735713018010" + number_a.substr(0, 10),
                                "5A08XXXXXXXXXX" + std::string(16, 'X')}));

INSTANTIATE_TEST_SUITE_P(
    Track1AndText, RecordScan,
    ::testing::Values(
        scan_case{"561542" + ascii(number_a) + "5E4A",
                  "561542" + std::string(24, 'X') + ascii("0010") + "5E4A"},
        // Without the format code the number may start at once.
        scan_case{"5611" + ascii(number_a) + "5E",
                  "5611" + std::string(24, 'X') + ascii("0010") + "5E"},
        scan_case{"561842" + ascii(number_a.substr(0, 10)), "561842" + std::string(20, 'X')},
        // Runs of ASCII digits anywhere: 11 are nothing, 12 and more hide all but four.
        scan_case{"9F1F0B" + ascii("12345678901"), "9F1F0B" + ascii("12345678901")},
        scan_case{"9F1F0C" + ascii("123456789012"),
                  "9F1F0C" + std::string(16, 'X') + ascii("9012")},
        scan_case{"5F2013" + ascii("1234567890123456789"),
                  "5F2013" + std::string(30, 'X') + ascii("6789")},
        scan_case{"5014" + ascii("12345678901234567890"),
                  "5014" + std::string(32, 'X') + ascii("7890")},
        // Luhn does not matter to a run; it runs on into header bytes 30 to 39.
        scan_case{"9F1F10" + ascii(not_luhn) + "5E",
                  "9F1F10" + std::string(24, 'X') + ascii("0011") + "5E"},
        scan_case{"500A" + ascii("1234567890") + "3132" + ascii("12"),
                  "500A" + std::string(20, 'X') + ascii("12") + ascii("12")},
        scan_case{"", ""}, scan_case{"5A", "5A"}, scan_case{"9F", "9F"}));

// Cut short at every octet: from four octets (8 digits) on, nothing shows.
TEST(RecordScan, HidesACutShortNumberFromEightDigits) {
  for (std::size_t octets = 1; octets < 8; ++octets) {
    for (const std::string tag : {"5A08", "5710", "9F6B10"}) {
      const std::string present = number_a.substr(0, 2 * octets);
      const std::string expected = tag + (2 * octets >= 8 ? std::string(2 * octets, 'X') : present);
      EXPECT_EQ(scanned(tag + present), expected) << tag << " " << octets;
    }
  }
}

// A run of ASCII digits at every offset of a longer record, across the 16-byte blocks
// the scan reads at once, and two runs apart.
TEST(RecordScan, FindsEveryRunOfTwelveWhereverItStands) {
  for (const std::size_t length :
       {std::size_t{11}, std::size_t{12}, std::size_t{17}, std::size_t{33}}) {
    for (std::size_t at = 0; at + length <= 64; ++at) {
      std::string record;
      std::string expected;
      for (std::size_t i = 0; i < 64; ++i) {
        const bool digit = i >= at && i < at + length;
        record += digit ? "37" : "01";
        expected += !digit ? "01" : length >= 12 && i < at + length - 4 ? "XX" : "37";
      }
      EXPECT_EQ(scanned(record), expected) << length << " at " << at;
      // With a plain byte splitting it in two, neither half of 16 or fewer is enough.
      if (length == 17) {
        record[2 * (at + 8)] = '0';
        EXPECT_EQ(scanned(record), record) << "split at " << at;
      }
    }
  }
}

// The scan's marks as X over the record's hex, with or without card codes.
std::string scanned_bytes(const std::vector<std::uint8_t>& bytes, bool card_codes) {
  hidden_nibbles marks(bytes.size(), card_codes);
  marks.scan(bytes);
  std::string hex(2 * bytes.size(), '?');
  encode_hex_unchecked(bytes.data(), bytes.size(), hex.data());
  marks.apply(bytes.data(), hex);
  return hex;
}

// The baseline sweep and the AVX2 one mark the same nibbles: records of every length
// around the 64-byte steps, dense with the bytes that matter (digits, card tags, the
// octets after a 9F) at random places, and card numbers planted whole.
TEST(RecordScan, BaselineAndWideSweepsMarkAlike) {
  constexpr std::array<std::uint8_t, 12> matter = {0x5A, 0x57, 0x56, 0x9F, 0x6B, 0x1F,
                                                   0x20, 0x08, 0x10, 0x31, 0x37, 0x81};
  const auto pan = test::from_hex("5A08" + number_a);
  const auto track2 = test::from_hex("5710" + number_a + "D25122010000000000");
  const auto track1 = test::from_hex("561F42" + ascii(number_a) + "5E444F452F4A5E32353132323031");
  const std::array<const std::vector<std::uint8_t>*, 3> numbers = {&pan, &track2, &track1};
  std::uint32_t seed = 12345;
  const auto next = [&] {
    seed = seed * 1103515245U + 12345U;
    return seed >> 8;
  };
  for (std::size_t size = 0; size <= 200; ++size) {
    for (int round = 0; round < 6; ++round) {
      std::vector<std::uint8_t> bytes(size);
      for (auto& b : bytes)
        b = next() % 3 == 0 ? matter[next() % matter.size()] : static_cast<std::uint8_t>(next());
      // Planted whole, or cut short by the record's end.
      const auto& planted = *numbers[static_cast<std::size_t>(round) % numbers.size()];
      const std::size_t at = size == 0 ? 0 : next() % size;
      for (std::size_t i = 0; i < planted.size() && at + i < size; ++i)
        bytes[at + i] = planted[i];
      for (const bool card_codes : {false, true}) {
        cpu_use_avx2(false);
        const std::string baseline = scanned_bytes(bytes, card_codes);
        cpu_use_avx2(true);
        ASSERT_EQ(scanned_bytes(bytes, card_codes), baseline) << size << " " << round;
      }
    }
  }
}

// Every mode, for a record written with `digits` (packed) in place of '@', their first
// twelve in place of '%', and the digits as ASCII in place of '#'.
std::string every_mode(std::string record, const std::string& digits) {
  if (const auto at = record.find('@'); at != std::string::npos) record.replace(at, 1, digits);
  if (const auto at = record.find('%'); at != std::string::npos)
    record.replace(at, 1, digits.substr(0, 12));
  if (const auto at = record.find('#'); at != std::string::npos)
    record.replace(at, 1, ascii(digits));
  std::string all = test::walk(record) + "\n";
  for (const auto format : {tree_mode_options::format::text, tree_mode_options::format::json}) {
    for (const bool explain : {false, true}) {
      test::string_input in{record};
      test::string_output out;
      tree_mode_options options;
      options.output = format;
      options.explain = explain;
      EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
      all += out.text;
    }
  }
  return all;
}

class EveryMode : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryMode, ShowsNothingOfTheHiddenDigits) {
  const std::string a = every_mode(GetParam(), number_a);
  EXPECT_EQ(a, every_mode(GetParam(), number_b));
  EXPECT_EQ(a.find(number_a.substr(6, 6)), std::string::npos) << a;
}

INSTANTIATE_TEST_SUITE_P(
    Placements, EveryMode,
    ::testing::Values("5A08@", "5A08@5F2403271231", "701A5A08@5F24032712315F2A02097800",
                      "5711@D27122011143804489", "77129F6B0A@D2719F2701809000", "9F11205A08@",
                      "9F1117"
                      "9F6B8111@D2212201",
                      "70149F26805A08@5F2403271231", "70149F26845A08@5F2403271231",
                      "70149F26855A08@5F2403271231", "70149F26FF5A08@5F2403271231",
                      "700D9F10805A08@", "7015561342#5E", "9F1F10#5E", "5F2010#", "500F#5E",
                      "9F120F#", "9F0B14#5E4A4F", "9F4E10#",
                      // Cut short at the end of the record, and inside a template.
                      "5A08%", "5713@", "5713%", "561942#",
                      "7004"
                      "5A08@",
                      "E1805A08%",
                      "5780"
                      "5780"
                      "5711@D2712",
                      "7312"
                      "1F570F@D2512201123456"));

}  // namespace
}  // namespace emvtlv
