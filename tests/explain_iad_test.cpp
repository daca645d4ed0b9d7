// Issuer Application Data (9F10): the published test values read as their sources say,
// and the layout chosen by the AID's payment system, the kernel named, or the pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "explain_collector.h"

namespace emvtlv::test {
namespace {

const std::vector<std::uint8_t> visa_aid = from_hex("A0000000031010");
const std::vector<std::uint8_t> mastercard_aid = from_hex("A0000000041010");
const std::vector<std::uint8_t> girocard_aid = from_hex("A0000003591010028001");
const std::vector<std::uint8_t> amex_aid = from_hex("A00000002501");

explain_context with_aid(const std::vector<std::uint8_t>& aid, emv_kernel kernel) {
  explain_context c;
  c.aid = aid;
  c.kernel = kernel;
  return c;
}

explain_context with_option(emv_kernel kernel) {
  explain_context c;
  c.kernel = kernel;
  c.kernel_option = kernel;
  return c;
}

struct vector_case {
  std::string value;
  explain_context context;
  std::vector<std::string> items;
};

void PrintTo(const vector_case& c, std::ostream* os) {
  *os << c.value;
}

class IadVectors : public testing::TestWithParam<vector_case> {};

TEST_P(IadVectors, ReadAsTheirSourcesSay) {
  EXPECT_EQ(explain_hex(0x9F10, GetParam().value, GetParam().context), GetParam().items);
}

using enum emv_kernel;

// The published test values, each with the reading its source gives.
const vector_case vectors[] = {
    {"06010A03A40000",
     with_aid(visa_aid, c3),
     {"field 0 reading: Visa format 0/1/3 (by AID)", "field 1 DKI: 01",
      "field 1 CVN: CVN 10: original contact VIS; AC input ends with the 4-byte CVR",
      "field 1 CVR: 03A40000", "field 2 byte 2 b8-b7: AC in 2nd GENERATE AC: not requested",
      "field 2 byte 2 b6-b5: AC in 1st GENERATE AC (contactless: GPO): ARQC",
      "bit 2 byte 2 b3: offline PIN verification performed",
      "field 2 byte 4 b8-b5: issuer script commands processed: 0", "field 1 IDD: none"}},
    {"06010A03A020000F04000000000000000000006232E4F9",
     with_aid(visa_aid, c3),
     {"field 0 reading: Visa format 0/1/3 (by AID)", "field 1 DKI: 01",
      "field 1 CVN: CVN 10: original contact VIS; AC input ends with the 4-byte CVR",
      "field 1 CVR: 03A02000", "field 2 byte 2 b8-b7: AC in 2nd GENERATE AC: not requested",
      "field 2 byte 2 b6-b5: AC in 1st GENERATE AC (contactless: GPO): ARQC",
      "bit 2 byte 3 b6: exceeded velocity checking counters",
      "field 2 byte 4 b8-b5: issuer script commands processed: 0", "field 1 IDD: 15 bytes"}},
    {"1F43010020000000000000000007717300000000000000000000000000000000",
     with_aid(visa_aid, c3),
     {"field 0 reading: Visa format 2/4 (by AID)",
      "field 1 CVN: CVN '43': cloud-based (token) payments", "field 1 DKI: 01",
      "field 1 CVR: 0020000000", "field 2 byte 1 b8-b5: CDCVM entity: none",
      "field 2 byte 1 b4-b1: CDCVM type: none", "field 2 byte 2 b8-b7: AC in 2nd GENERATE AC: AAC",
      "field 2 byte 2 b6-b5: AC in 1st GENERATE AC (contactless: GPO): ARQC",
      "field 2 byte 4 b8-b5: issuer script commands processed: 0",
      "field 1 IDD: 23 bytes, option 0"}},
    {"1F4A6331A0000000001003027300000000400000000000000000000000000000",
     with_aid(visa_aid, c3),
     {"field 0 reading: Visa format 2/4 (by AID)",
      "field 1 CVN: CVN '4A': not in the public CVN table", "field 1 DKI: 63",
      "field 1 CVR: 31A0000000",
      "field 2 byte 1 b8-b5: CDCVM entity: co-residing secure-element application",
      "field 2 byte 1 b4-b1: CDCVM type: passcode",
      "field 2 byte 2 b8-b7: AC in 2nd GENERATE AC: not requested",
      "field 2 byte 2 b6-b5: AC in 1st GENERATE AC (contactless: GPO): ARQC",
      "field 2 byte 4 b8-b5: issuer script commands processed: 0",
      "field 1 IDD: 23 bytes, option 0"}},
    {"0110A0400324C000000000000000000000FF",
     with_aid(mastercard_aid, c2),
     {"field 0 reading: Mastercard M/Chip 4 or M/Chip Advance (by AID)", "field 1 KDI: 01",
      "field 1 CVN: CVN 10: Mastercard session key derivation, counters not in the AC data",
      "field 1 CVR: A0400324C000", "field 2 byte 1 b8-b7: AC in 2nd GENERATE AC: not requested",
      "field 2 byte 1 b6-b5: AC in 1st GENERATE AC: ARQC",
      "bit 2 byte 2 b7: CDA returned in 1st GENERATE AC",
      "field 2 byte 3 b8-b5: script counter (low nibble): 0",
      "field 2 byte 3 b4-b1: PIN try counter (low nibble): 3",
      "bit 2 byte 4 b6: offline PIN verification not performed",
      "bit 2 byte 4 b3: international transaction",
      "bit 2 byte 5 b8: lower consecutive offline limit exceeded (M/Chip 4) / counter 1 lower "
      "limit exceeded (M/Chip Advance)",
      "bit 2 byte 5 b7: upper consecutive offline limit exceeded (M/Chip 4) / counter 1 upper "
      "limit exceeded (M/Chip Advance)",
      "field 1 DAC / ICC dynamic number: 0000", "field 1 counters: 00000000000000FF"}},
    {"0FA506A231C0020000000000000000000F110601010000000000000000000000",
     {},
     {"field 0 reading: EMV common core format A (by pattern)",
      "field 1 CCI: A5: format A, cryptogram version 5 (TDES)", "field 1 DKI: 06",
      "field 1 CVR: A231C00200", "field 2 byte 1 b8-b7: AC in 2nd GENERATE AC: not requested",
      "field 2 byte 1 b6-b5: AC in 1st GENERATE AC: ARQC",
      "bit 2 byte 1 b2: issuer authentication not performed",
      "field 2 byte 2 b8-b5: PIN try counter (low nibble): 3",
      "bit 2 byte 2 b1: last online transaction not completed",
      "bit 2 byte 3 b8: lower offline transaction count limit exceeded",
      "bit 2 byte 3 b7: upper offline transaction count limit exceeded",
      "field 2 byte 4 b8-b5: issuer script commands with secure messaging processed: 0",
      "bit 2 byte 4 b2: go online on next transaction was set",
      "field 1 counters: 0000000000000000", "field 1 IDD: 15 bytes"}},
    {"01828100310040180000000000000000",
     with_aid(girocard_aid, domestic),
     {"meaning 0 layout not public for girocard"}},
};

INSTANTIATE_TEST_SUITE_P(Published, IadVectors, testing::ValuesIn(vectors));

// Which layouts a value is read by: the level-0 items only.
struct choice_case {
  std::string value;
  explain_context context;
  std::vector<std::string> readings;
};

void PrintTo(const choice_case& c, std::ostream* os) {
  *os << c.value;
}

class IadLayoutChoice : public testing::TestWithParam<choice_case> {};

TEST_P(IadLayoutChoice, ReadsByTheseLayouts) {
  std::vector<std::string> got = explain_hex(0x9F10, GetParam().value, GetParam().context);
  std::erase_if(got, [](const std::string& item) { return item.find(" 0 ") == std::string::npos; });
  EXPECT_EQ(got, GetParam().readings);
}

// A value both a Visa format 0/1/3 and an M/Chip CVN fit, 18 bytes.
const std::string visa_or_mchip = "06100A03A4" + std::string(26, '0');

const choice_case choices[] = {
    // No AID: every layout that fits, each labelled; none: not recognised.
    {visa_or_mchip,
     {},
     {"field 0 reading: Visa format 0/1/3 (by pattern)",
      "field 0 reading: Mastercard M/Chip 4 or M/Chip Advance (by pattern)"}},
    {"06010A03A40000", {}, {"field 0 reading: Visa format 0/1/3 (by pattern)"}},
    {"0110A0400324C000000000000000000000FF0000",
     {},
     {"field 0 reading: Mastercard M/Chip Advance (by pattern)"}},
    {"01828100310040180000000000000000", {}, {"meaning 0 layout not recognised"}},
    {"00", {}, {"meaning 0 layout not recognised"}},
    // The AID decides between layouts that fit alike.
    {visa_or_mchip, with_aid(visa_aid, c3), {"field 0 reading: Visa format 0/1/3 (by AID)"}},
    {visa_or_mchip,
     with_aid(mastercard_aid, c2),
     {"field 0 reading: Mastercard M/Chip 4 or M/Chip Advance (by AID)"}},
    // Another payment system's layout is never applied: a Visa shape under Mastercard.
    {"06010A03A40000", with_aid(mastercard_aid, c2), {"meaning 0 layout not recognised"}},
    {"06010A03A40000",
     with_aid(amex_aid, c4),
     {"meaning 0 layout not public for American Express"}},
    // Each M/Chip length; 19 and 32 are none of them.
    {"0110A0400324C000" + std::string(36, '0'),
     with_aid(mastercard_aid, c2),
     {"field 0 reading: Mastercard M/Chip 4 or M/Chip Advance (by AID)"}},
    {"0110A0400324C000" + std::string(40, '0'),
     with_aid(mastercard_aid, c2),
     {"field 0 reading: Mastercard M/Chip Advance (by AID)"}},
    {"0110A0400324C000000000000000000000FF00",
     with_aid(mastercard_aid, c2),
     {"meaning 0 layout not recognised"}},
    // CVN b4 set is no M/Chip CVN.
    {"0118A0400324C000000000000000000000FF",
     with_aid(mastercard_aid, c2),
     {"meaning 0 layout not recognised"}},
    // The common core fits under any payment system.
    {"0FA506A231C0020000000000000000000F110601010000000000000000000000",
     with_aid(amex_aid, c4),
     {"field 0 reading: EMV common core format A (by pattern)"}},
    // --kernel stands in for the AID, and says so; an AID overrules it.
    {visa_or_mchip,
     with_option(c2),
     {"field 0 kernel: C-2 (from --kernel; no AID)",
      "field 0 reading: Mastercard M/Chip 4 or M/Chip Advance (by --kernel)"}},
    {"06010A03A40000",
     [] {
       explain_context c = with_aid(visa_aid, c3);
       c.kernel_option = c2;
       return c;
     }(),
     {"field 0 kernel: C-3 (from the AID; --kernel=C-2 overruled)",
      "field 0 reading: Visa format 0/1/3 (by AID)"}},
    {"06010A03A40000", with_option(contact), {"field 0 reading: Visa format 0/1/3 (by pattern)"}},
};

INSTANTIATE_TEST_SUITE_P(Layouts, IadLayoutChoice, testing::ValuesIn(choices));

// The IDD length byte must match what follows; a wrong one is a problem, not a guess.
TEST(Iad, IddLengthThatDoesNotMatchIsAProblem) {
  const auto items = explain_hex(0x9F10, "06010A03A020000F0400", with_aid(visa_aid, c3));
  EXPECT_EQ(items.back(), "problem 1 IDD length byte 0F, 2 bytes follow");
}

// Every CVR bit is read exactly once, named, RFU or in a group: with all 40 bits set,
// the single-bit items and the groups' widths ("b8-b5" is 4) add up to 40.
TEST(Iad, EveryCvrBitIsReadOnce) {
  const std::string ones(64, 'F');
  for (const std::string& value : {"0FAF" + ones.substr(0, 28) + "0F" + ones.substr(0, 30),
                                   "1F2FFF" + ones.substr(0, 10) + "0F" + ones.substr(0, 46)}) {
    int covered = 0;
    for (const std::string& item : explain_hex(0x9F10, value)) {
      if (item.rfind("bit 2", 0) == 0 || item.rfind("rfu 2", 0) == 0) ++covered;
      const std::size_t dash = item.find("-b");
      if (item.rfind("field 2", 0) == 0 && dash != std::string::npos)
        covered += item[dash - 1] - item[dash + 2] + 1;
    }
    EXPECT_EQ(covered, 40) << value;
  }
}

}  // namespace
}  // namespace emvtlv::test
