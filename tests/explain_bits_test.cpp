// Bit-field explanations through explain_value: one row per value, every item it gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "explain_collector.h"

namespace emvtlv::test {
namespace {

struct bits_case {
  std::uint64_t tag;
  std::string value;
  std::vector<std::string> items;
};

void PrintTo(const bits_case& c, std::ostream* os) {
  *os << std::hex << std::uppercase << c.tag << " " << c.value;
}

class ExplainBits : public testing::TestWithParam<bits_case> {};

TEST_P(ExplainBits, GivesExactlyTheseItems) {
  EXPECT_EQ(explain_hex(GetParam().tag, GetParam().value), GetParam().items);
}

const bits_case bits_cases[] = {
    // Application Interchange Profile: byte 2 only as kernel-specific hex.
    {0x82,
     "1980",
     {"bit 0 byte 1 b5: Cardholder verification is supported",
      "bit 0 byte 1 b4: Terminal risk management is to be performed",
      "bit 0 byte 1 b1: CDA supported", "field 0 byte 2: kernel-specific: 80"}},
    {0x82,
     "5C00",
     {"bit 0 byte 1 b7: SDA supported", "bit 0 byte 1 b5: Cardholder verification is supported",
      "bit 0 byte 1 b4: Terminal risk management is to be performed",
      "bit 0 byte 1 b3: Issuer authentication is supported",
      "field 0 byte 2: kernel-specific: 00"}},
    {0x82,
     "3900",
     {"bit 0 byte 1 b6: DDA supported", "bit 0 byte 1 b5: Cardholder verification is supported",
      "bit 0 byte 1 b4: Terminal risk management is to be performed",
      "bit 0 byte 1 b1: CDA supported", "field 0 byte 2: kernel-specific: 00"}},
    {0x82,
     "82FF",
     {"bit 0 byte 1 b8: XDA supported (EMV 4.4)",
      "bit 0 byte 1 b2: On-device cardholder verification supported (kernel-specific)",
      "field 0 byte 2: kernel-specific: FF"}},

    // Nothing set: said once, and for the AIP also what it means.
    {0x82,
     "0000",
     {"none 0 no bit set",
      "meaning 0 no offline data authentication, no cardholder verification, no issuer "
      "authentication"}},
    {0x82,
     "0080",
     {"meaning 0 no offline data authentication, no cardholder verification, no issuer "
      "authentication",
      "field 0 byte 2: kernel-specific: 80"}},
    {0x9F07, "0000", {"none 0 no bit set"}},
    {0x95, "0000000000", {"none 0 no bit set"}},
    {0x9F0E, "0000000000", {"none 0 no bit set"}},
    {0x9F0F, "0000000000", {"none 0 no bit set"}},
    {0x9B, "0000", {"none 0 no bit set"}},
    {0x9F33, "000000", {"none 0 no bit set"}},
    {0x9F40, "0000000000", {"none 0 no bit set"}},
    {0x9F6C, "0000", {"none 0 no bit set"}},
    {0x9F66, "00000000", {"field 0 reading: TTQ (by length)", "none 0 no bit set"}},

    // Application Usage Control.
    {0x9F07,
     "FF00",
     {"bit 0 byte 1 b8: Valid for domestic cash transactions",
      "bit 0 byte 1 b7: Valid for international cash transactions",
      "bit 0 byte 1 b6: Valid for domestic goods", "bit 0 byte 1 b5: Valid for international goods",
      "bit 0 byte 1 b4: Valid for domestic services",
      "bit 0 byte 1 b3: Valid for international services", "bit 0 byte 1 b2: Valid at ATMs",
      "bit 0 byte 1 b1: Valid at terminals other than ATMs"}},

    // Terminal Verification Results and the Issuer Action Codes.
    {0x95,
     "0000048000",
     {"bit 0 byte 3 b3: Online PIN entered", "bit 0 byte 4 b8: Transaction exceeds floor limit"}},
    {0x95, "8000000000", {"bit 0 byte 1 b8: Offline data authentication was not performed"}},
    {0x95,
     "0107030709",
     {"bit 0 byte 1 b1: XDA selected (EMV 4.4)", "rfu 0 byte 2 b3: RFU bit set: byte 2 b3",
      "bit 0 byte 2 b2: Biometric performed and successful (EMV 4.4)",
      "bit 0 byte 2 b1: Biometric template format not supported (EMV 4.4)",
      "bit 0 byte 3 b2: Biometric required but capture device not working (EMV 4.4)",
      "bit 0 byte 3 b1: Biometric required, device present, but biometric subtype entry bypassed "
      "(EMV 4.4)",
      "bit 0 byte 4 b3: Biometric try limit exceeded (EMV 4.4)",
      "bit 0 byte 4 b2: A selected biometric type not supported (EMV 4.4)",
      "bit 0 byte 4 b1: XDA signature verification failed (EMV 4.4)",
      "bit 0 byte 5 b4: reserved for contactless / kernel-specific",
      "bit 0 byte 5 b1: reserved for contactless / kernel-specific"}},
    {0x9F0D, "0000000000", {"none 0 no bit set"}},
    {0x9F0E, "0010000000", {"bit 0 byte 2 b5: Requested service not allowed for card product"}},
    {0x9F0F, "0800000000", {"bit 0 byte 1 b4: DDA failed"}},

    // Transaction Status Information.
    {0x9B,
     "E800",
     {"bit 0 byte 1 b8: Offline data authentication was performed",
      "bit 0 byte 1 b7: Cardholder verification was performed",
      "bit 0 byte 1 b6: Card risk management was performed",
      "bit 0 byte 1 b4: Terminal risk management was performed"}},
    {0x9B,
     "1580",
     {"bit 0 byte 1 b5: Issuer authentication was performed",
      "bit 0 byte 1 b3: Script processing was performed", "rfu 0 byte 1 b1: RFU bit set: byte 1 b1",
      "rfu 0 byte 2 b8: RFU bit set: byte 2 b8"}},

    // Cryptogram Information Data: fields, not bits.
    {0x9F27,
     "80",
     {"field 0 cryptogram: ARQC (go online)", "field 0 advice: no advice required",
      "field 0 reason: no information given"}},
    {0x9F27,
     "40",
     {"field 0 cryptogram: TC (approve offline)", "field 0 advice: no advice required",
      "field 0 reason: no information given"}},
    {0x9F27,
     "00",
     {"field 0 cryptogram: AAC (decline)", "field 0 advice: no advice required",
      "field 0 reason: no information given"}},
    {0x9F27,
     "88",
     {"field 0 cryptogram: ARQC (go online)", "field 0 advice: advice required",
      "field 0 reason: no information given"}},
    {0x9F27,
     "93",
     {"field 0 cryptogram: ARQC (go online)", "field 0 b6-b5: payment-system-specific: 01",
      "field 0 advice: no advice required", "field 0 reason: issuer authentication failed"}},
    {0x9F27,
     "E1",
     {"field 0 cryptogram: RFU (11)", "field 0 b6-b5: payment-system-specific: 10",
      "field 0 advice: no advice required", "field 0 reason: service not allowed"}},

    // Terminal Capabilities.
    {0x9F33,
     "E0F8C8",
     {"bit 0 byte 1 b8: Manual key entry", "bit 0 byte 1 b7: Magnetic stripe",
      "bit 0 byte 1 b6: IC with contacts", "bit 0 byte 2 b8: Plaintext PIN for ICC verification",
      "bit 0 byte 2 b7: Enciphered PIN for online verification",
      "bit 0 byte 2 b6: Signature (paper)",
      "bit 0 byte 2 b5: Enciphered PIN for offline verification",
      "bit 0 byte 2 b4: No CVM required", "bit 0 byte 3 b8: SDA", "bit 0 byte 3 b7: DDA",
      "bit 0 byte 3 b4: CDA"}},
    {0x9F33,
     "210735",
     {"bit 0 byte 1 b6: IC with contacts", "rfu 0 byte 1 b1: RFU bit set: byte 1 b1",
      "bit 0 byte 2 b3: Online biometric (EMV 4.4)", "bit 0 byte 2 b2: Offline biometric (EMV 4.4)",
      "bit 0 byte 2 b1: Enciphered PIN for offline verification, ECC (EMV 4.4)",
      "bit 0 byte 3 b6: Card capture", "rfu 0 byte 3 b5: RFU bit set: byte 3 b5",
      "bit 0 byte 3 b3: XDA (EMV 4.4)", "rfu 0 byte 3 b1: RFU bit set: byte 3 b1"}},

    // Additional Terminal Capabilities.
    {0x9F40,
     "6000F0A001",
     {"bit 0 byte 1 b7: Goods", "bit 0 byte 1 b6: Services", "bit 0 byte 3 b8: Numeric keys",
      "bit 0 byte 3 b7: Alphabetic and special character keys", "bit 0 byte 3 b6: Command keys",
      "bit 0 byte 3 b5: Function keys", "bit 0 byte 4 b8: Print, attendant",
      "bit 0 byte 4 b6: Display, attendant", "bit 0 byte 5 b1: Code table 1"}},

    // Terminal Transaction Qualifiers, in their 4-byte form only.
    {0x9F66,
     "36004000",
     {"field 0 reading: TTQ (by length)", "bit 0 byte 1 b6: EMV mode supported",
      "bit 0 byte 1 b5: EMV contact chip supported", "bit 0 byte 1 b3: Online PIN supported",
      "bit 0 byte 1 b2: Signature supported", "bit 0 byte 3 b7: Consumer Device CVM supported"}},
    {0x9F66,
     "C9FCA881",
     {"field 0 reading: TTQ (by length)", "bit 0 byte 1 b8: Mag-stripe mode supported",
      "rfu 0 byte 1 b7: RFU bit set: byte 1 b7", "bit 0 byte 1 b4: Offline-only reader",
      "bit 0 byte 1 b1: Offline data authentication for online authorisations supported",
      "bit 0 byte 2 b8: Online cryptogram required", "bit 0 byte 2 b7: CVM required",
      "bit 0 byte 2 b6: (Contact chip) offline PIN supported",
      "rfu 0 byte 2 b5: RFU bit set: byte 2 b5",
      "bit 0 byte 2 b4: Fast mode supported (kernel-specific)",
      "bit 0 byte 2 b3: Transit terminal (kernel-specific)",
      "bit 0 byte 3 b8: Issuer Update Processing supported",
      "bit 0 byte 3 b6: CDCVM for transit MCC supported (kernel-specific)",
      "bit 0 byte 3 b4: CDCVM required (kernel-specific)",
      "bit 0 byte 4 b8: fDDA v1.0 supported (kernel-specific)",
      "rfu 0 byte 4 b1: RFU bit set: byte 4 b1"}},
    // Two bytes and no AID: read as C-2's PUNATC(Track2), and said to be a guess.
    {0x9F66,
     "1234",
     {"field 0 reading: PUNATC(Track2) (by length)",
      "meaning 0 5 digit positions for the unpredictable number and ATC"}},

    // Card Transaction Qualifiers.
    {0x9F6C, "8000", {"bit 0 byte 1 b8: Online PIN required"}},
    {0x9F6C,
     "0141",
     {"bit 0 byte 1 b1: Not valid for contactless ATM transactions",
      "bit 0 byte 2 b7: Card supports Issuer Update Processing at the POS",
      "rfu 0 byte 2 b1: RFU bit set: byte 2 b1"}},
};

INSTANTIATE_TEST_SUITE_P(Values, ExplainBits, testing::ValuesIn(bits_cases));

// A value of the wrong length: one problem item, nothing else.
const bits_case wrong_length_cases[] = {
    {0x82, "198000", {"problem 0 AIP: 2 bytes expected, 3 given"}},
    {0x82, "", {"problem 0 AIP: 2 bytes expected, 0 given"}},
    {0x9F07, "FF", {"problem 0 AUC: 2 bytes expected, 1 given"}},
    {0x95, "00000480", {"problem 0 TVR: 5 bytes expected, 4 given"}},
    {0x9F0D, "00100000", {"problem 0 IAC - Default: 5 bytes expected, 4 given"}},
    {0x9F0E, "001000000000", {"problem 0 IAC - Denial: 5 bytes expected, 6 given"}},
    {0x9F0F, "00", {"problem 0 IAC - Online: 5 bytes expected, 1 given"}},
    {0x9F66,
     "360040",
     {"field 0 reading: TTQ (kernel unknown)", "problem 0 TTQ: 4 bytes expected, 3 given"}},
    {0x9B, "E8", {"problem 0 TSI: 2 bytes expected, 1 given"}},
    {0x9F27, "8000", {"problem 0 CID: 1 byte expected, 2 given"}},
    {0x9F33, "E0F8", {"problem 0 Terminal Capabilities: 3 bytes expected, 2 given"}},
    {0x9F40, "6000F0A0", {"problem 0 Additional Terminal Capabilities: 5 bytes expected, 4 given"}},
    {0x9F6C, "800000", {"problem 0 CTQ: 2 bytes expected, 3 given"}},
};

INSTANTIATE_TEST_SUITE_P(WrongLength, ExplainBits, testing::ValuesIn(wrong_length_cases));

}  // namespace
}  // namespace emvtlv::test
