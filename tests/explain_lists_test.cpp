// List explanations through explain_value: one row per value, every item it gives.
// Rows naming tags other than 5A need the full EMV dictionary.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "explain_collector.h"

namespace emvtlv::test {
namespace {

struct list_case {
  std::uint64_t tag;
  std::string value;
  std::vector<std::string> items;
};

void PrintTo(const list_case& c, std::ostream* os) {
  *os << std::hex << std::uppercase << c.tag << " " << c.value;
}

class ExplainLists : public testing::TestWithParam<list_case> {};

TEST_P(ExplainLists, GivesExactlyTheseItems) {
  EXPECT_EQ(explain_hex(GetParam().tag, GetParam().value), GetParam().items);
}

const list_case cvm_cases[] = {
    {0x8E,
     "000003E800002710"
     "4203"
     "4103"
     "5E03"
     "1F09"
     "0000",
     {"field 0 amount X: 1000, exponent unknown",
      "field 0 amount Y: 10000, exponent unknown",
      "entry 0 rule 1: 4203",
      "field 1 method: Enciphered PIN verified online",
      "field 1 condition: If terminal supports the CVM",
      "field 1 if unsuccessful: apply succeeding CV Rule",
      "entry 0 rule 2: 4103",
      "field 1 method: Plaintext PIN verification performed by ICC",
      "field 1 condition: If terminal supports the CVM",
      "field 1 if unsuccessful: apply succeeding CV Rule",
      "entry 0 rule 3: 5E03",
      "field 1 method: Signature (paper)",
      "field 1 condition: If terminal supports the CVM",
      "field 1 if unsuccessful: apply succeeding CV Rule",
      "entry 0 rule 4: 1F09",
      "field 1 method: No CVM required",
      "field 1 condition: If transaction is in the application currency and is over Y value",
      "field 1 if unsuccessful: fail cardholder verification",
      "entry 0 rule 5: 0000",
      "field 1 method: Fail CVM processing",
      "field 1 condition: Always",
      "field 1 if unsuccessful: fail cardholder verification"}},
    // Codes at the edges of their ranges, and a set RFU bit.
    {0x8E,
     "FFFFFFFF00000000"
     "C60A"
     "0F01"
     "1D02"
     "2080"
     "2F05"
     "307F"
     "3EFF"
     "3F00",
     {"field 0 amount X: 4294967295, exponent unknown",
      "field 0 amount Y: 0, exponent unknown",
      "entry 0 rule 1: C60A",
      "field 1 method: Facial biometric, offline (EMV 4.4)",
      "field 1 condition: RFU",
      "field 1 if unsuccessful: apply succeeding CV Rule",
      "rfu 1 byte 1 b8: RFU bit set: byte 1 b8",
      "entry 0 rule 2: 0F01",
      "field 1 method: Voice biometric, online (EMV 4.4)",
      "field 1 condition: If unattended cash",
      "field 1 if unsuccessful: fail cardholder verification",
      "entry 0 rule 3: 1D02",
      "field 1 method: Reserved for future use by EMV",
      "field 1 condition: If not unattended cash and not manual cash and not purchase with "
      "cashback",
      "field 1 if unsuccessful: fail cardholder verification",
      "entry 0 rule 4: 2080",
      "field 1 method: Reserved for use by the individual payment systems",
      "field 1 condition: Reserved for use by individual payment systems",
      "field 1 if unsuccessful: fail cardholder verification",
      "entry 0 rule 5: 2F05",
      "field 1 method: Reserved for use by the individual payment systems",
      "field 1 condition: If purchase with cashback",
      "field 1 if unsuccessful: fail cardholder verification",
      "entry 0 rule 6: 307F",
      "field 1 method: Reserved for use by the issuer",
      "field 1 condition: RFU",
      "field 1 if unsuccessful: fail cardholder verification",
      "entry 0 rule 7: 3EFF",
      "field 1 method: Reserved for use by the issuer",
      "field 1 condition: Reserved for use by individual payment systems",
      "field 1 if unsuccessful: fail cardholder verification",
      "entry 0 rule 8: 3F00",
      "field 1 method: Not available for use in a CV Rule",
      "field 1 condition: Always",
      "field 1 if unsuccessful: fail cardholder verification"}},
    {0x8E,
     "0000000000000000",
     {"problem 0 CVM List: at least 10 bytes and an even number "
      "expected, 8 given"}},
    {0x8E,
     "000000000000000042",
     {"problem 0 CVM List: at least 10 bytes and an even number "
      "expected, 9 given"}},
    {0x8E,
     "0000000000000000420300",
     {"problem 0 CVM List: at least 10 bytes and an even number "
      "expected, 11 given"}},

    // CVM Results.
    {0x9F34,
     "1F0302",
     {"field 0 method: No CVM required", "field 0 condition: If terminal supports the CVM",
      "field 0 result: successful"}},
    {0x9F34,
     "3F0001",
     {"field 0 method: No CVM performed", "field 0 condition: Always", "field 0 result: failed"}},
    {0x9F34,
     "420000",
     {"field 0 method: Enciphered PIN verified online", "field 0 condition: Always",
      "field 0 result: unknown"}},
    {0x9F34,
     "C10603",
     {"field 0 method: Plaintext PIN verification performed by ICC",
      "field 0 condition: If transaction is in the application currency and is under X value",
      "field 0 result: RFU", "rfu 0 byte 1 b8: RFU bit set: byte 1 b8"}},
    {0x9F34, "1F03", {"problem 0 CVM Results: 3 bytes expected, 2 given"}},
};

INSTANTIATE_TEST_SUITE_P(Cvm, ExplainLists, testing::ValuesIn(cvm_cases));

const list_case afl_cases[] = {
    {0x94,
     "08010301"
     "10020500",
     {"entry 0 entry 1: 08010301", "field 1 SFI: 1", "field 1 records: 1-3",
      "field 1 offline authentication: 1", "entry 0 entry 2: 10020500", "field 1 SFI: 2",
      "field 1 records: 2-5", "field 1 offline authentication: 0"}},
    // One good entry, then one for each rule an entry can break.
    {0x94,
     "08010101"
     "00010100"
     "F9030205"
     "18000204"
     "F0FFFFFF",
     {"entry 0 entry 1: 08010101",
      "field 1 SFI: 1",
      "field 1 records: 1-1",
      "field 1 offline authentication: 1",
      "entry 0 entry 2: 00010100",
      "field 1 SFI: 0",
      "field 1 records: 1-1",
      "field 1 offline authentication: 0",
      "problem 1 SFI 0 is invalid",
      "entry 0 entry 3: F9030205",
      "field 1 SFI: 31",
      "field 1 records: 3-2",
      "field 1 offline authentication: 5",
      "problem 1 SFI 31 is invalid",
      "problem 1 byte 1 b3-b1 not 0",
      "problem 1 last record 2 below first record 3",
      "entry 0 entry 4: 18000204",
      "field 1 SFI: 3",
      "field 1 records: 0-2",
      "field 1 offline authentication: 4",
      "problem 1 first record is 0",
      "problem 1 4 records for offline authentication, only 3 read",
      "entry 0 entry 5: F0FFFFFF",
      "field 1 SFI: 30",
      "field 1 records: 255-255",
      "field 1 offline authentication: 255",
      "problem 1 255 records for offline authentication, only 1 read"}},
    {0x94, "080103011002", {"problem 0 AFL: a non-zero multiple of 4 bytes expected, 6 given"}},
    {0x94, "", {"problem 0 AFL: a non-zero multiple of 4 bytes expected, 0 given"}},
};

INSTANTIATE_TEST_SUITE_P(Afl, ExplainLists, testing::ValuesIn(afl_cases));

const list_case dol_cases[] = {
    {0x9F38,
     "9F6604"
     "9F0206"
     "9F3704"
     "5F2A02",
     {"entry 0 9F66: Terminal Transaction Qualifiers (TTQ), 4 bytes",
      "entry 0 9F02: Amount, Authorised (Numeric), 6 bytes",
      "entry 0 9F37: Unpredictable Number, 4 bytes",
      "entry 0 5F2A: Transaction Currency Code, 2 bytes"}},
    {0x8C,
     "9F0206"
     "9505"
     "9A03"
     "9C01",
     {"entry 0 9F02: Amount, Authorised (Numeric), 6 bytes",
      "entry 0 95: Terminal Verification Results (TVR), 5 bytes",
      "entry 0 9A: Transaction Date, 3 bytes", "entry 0 9C: Transaction Type, 1 byte"}},
    {0x8D,
     "9505"
     "9F3704",
     {"entry 0 95: Terminal Verification Results (TVR), 5 bytes",
      "entry 0 9F37: Unpredictable Number, 4 bytes"}},
    {0x9F49, "9F3704", {"entry 0 9F37: Unpredictable Number, 4 bytes"}},
    {0x97,
     "9F0206"
     "5F2A02",
     {"entry 0 9F02: Amount, Authorised (Numeric), 6 bytes",
      "entry 0 5F2A: Transaction Currency Code, 2 bytes"}},
    {0x9F4F,
     "9A03"
     "9C01"
     "9F0206",
     {"entry 0 9A: Transaction Date, 3 bytes", "entry 0 9C: Transaction Type, 1 byte",
      "entry 0 9F02: Amount, Authorised (Numeric), 6 bytes"}},
    // A three-byte tag nobody defines, then a tag cut short.
    {0x9F38,
     "5A0A"
     "9F810102"
     "9F",
     {"entry 0 5A: Application Primary Account Number (PAN), 10 bytes",
      "entry 0 9F8101: unknown tag, 2 bytes", "entry 0 entry 3: 9F", "problem 1 tag cut short"}},
    {0x8C, "5A", {"entry 0 entry 1: 5A", "problem 1 length missing"}},
    {0x9F38,
     "5A0ADF818181",
     {"entry 0 5A: Application Primary Account Number (PAN), 10 bytes", "entry 0 entry 2: DF818181",
      "problem 1 tag longer than 4 bytes"}},
    {0x9F38, "DF81818101", {"entry 0 entry 1: DF818181", "problem 1 tag longer than 4 bytes"}},
    {0x9F38, "DF8181", {"entry 0 entry 1: DF8181", "problem 1 tag cut short"}},
    {0x9F38, "", {}},

    // Static Data Authentication Tag List: tags without lengths.
    {0x9F4A, "82", {"entry 0 82: Application Interchange Profile (AIP)"}},
    {0x9F4A,
     "5A9F8101",
     {"entry 0 5A: Application Primary Account Number (PAN)", "entry 0 9F8101: unknown tag"}},
    {0x9F4A,
     "5A9F",
     {"entry 0 5A: Application Primary Account Number (PAN)", "entry 0 entry 2: 9F",
      "problem 1 tag cut short"}},

    // Log Entry.
    {0x9F4D, "0B0A", {"field 0 SFI: 11", "field 0 maximum records: 10"}},
    {0x9F4D,
     "000A",
     {"field 0 SFI: 0", "field 0 maximum records: 10", "problem 0 SFI 0 is invalid"}},
    {0x9F4D,
     "1F01",
     {"field 0 SFI: 31", "field 0 maximum records: 1", "problem 0 SFI 31 is invalid"}},
    {0x9F4D, "0B", {"problem 0 Log Entry: 2 bytes expected, 1 given"}},
};

INSTANTIATE_TEST_SUITE_P(TagLists, ExplainLists, testing::ValuesIn(dol_cases));

// Response Message Template Format 1, read by what it holds or as the answer to the
// command the caller names; each part explained one level down.
struct format1_case {
  response_format1_reading reading;
  std::string value;
  std::vector<std::string> items;
};

void PrintTo(const format1_case& c, std::ostream* os) {
  *os << static_cast<int>(c.reading) << " " << c.value;
}

class ExplainFormat1 : public testing::TestWithParam<format1_case> {};

TEST_P(ExplainFormat1, GivesExactlyTheseItems) {
  explain_context context;
  context.format1 = GetParam().reading;
  EXPECT_EQ(explain_hex(0x80, GetParam().value, context), GetParam().items);
}

using enum response_format1_reading;

const std::vector<std::string> gpo_1980_items = {
    "entry 0 AIP: 1980",
    "bit 1 byte 1 b5: Cardholder verification is supported",
    "bit 1 byte 1 b4: Terminal risk management is to be performed",
    "bit 1 byte 1 b1: CDA supported",
    "field 1 byte 2: kernel-specific: 80",
    "entry 0 AFL: 0801030110020500",
    "entry 1 entry 1: 08010301",
    "field 2 SFI: 1",
    "field 2 records: 1-3",
    "field 2 offline authentication: 1",
    "entry 1 entry 2: 10020500",
    "field 2 SFI: 2",
    "field 2 records: 2-5",
    "field 2 offline authentication: 0"};

std::vector<std::string> with_reading(std::string reading, std::vector<std::string> items) {
  items.insert(items.begin(), "field 0 reading: " + reading);
  return items;
}

const std::vector<std::string> visa_tc_items = {
    "entry 0 CID: 40", "field 1 cryptogram: TC (approve offline)",
    "field 1 advice: no advice required", "field 1 reason: no information given", "field 0 ATC: 1",
    "field 0 cryptogram: 9D1B2A6F04C5E817", "field 0 IAD: 06010A03A00000",
    // The IAD read by its layout, one deeper.
    "field 1 reading: Visa format 0/1/3 (by pattern)", "field 2 DKI: 01",
    "field 2 CVN: CVN 10: original contact VIS; AC "
    "input ends with the 4-byte CVR",
    "field 2 CVR: 03A00000",
    "field 3 byte 2 b8-b7: AC in 2nd GENERATE AC: not "
    "requested",
    "field 3 byte 2 b6-b5: AC in 1st GENERATE AC "
    "(contactless: GPO): ARQC",
    "field 3 byte 4 b8-b5: issuer script commands "
    "processed: 0",
    "field 2 IDD: none"};

const format1_case format1_cases[] = {
    {by_content, "19800801030110020500", with_reading("AIP + AFL (by content)", gpo_1980_items)},
    {gpo, "19800801030110020500",
     with_reading("AIP + AFL (answer to GET PROCESSING OPTIONS)", gpo_1980_items)},
    // A GENERATE AC answer as Visa cards give it (18 bytes = 2 + 4 x 4, but the "AFL"
    // breaks the AFL rules): CID 40, ATC, cryptogram, a 7-byte IAD.
    {by_content, "4000019D1B2A6F04C5E81706010A03A00000",
     with_reading("CID + ATC + cryptogram + IAD (by content)", visa_tc_items)},
    {generate_ac, "4000019D1B2A6F04C5E81706010A03A00000",
     with_reading("CID + ATC + cryptogram + IAD (answer to GENERATE AC)", visa_tc_items)},
    // UnionPay's: ARQC, and the IAD of its own layout.
    {by_content,
     "80002A31C2E4A5B6978812070103A00000",
     {"field 0 reading: CID + ATC + cryptogram + IAD (by content)", "entry 0 CID: 80",
      "field 1 cryptogram: ARQC (go online)", "field 1 advice: no advice required",
      "field 1 reason: no information given", "field 0 ATC: 42",
      "field 0 cryptogram: 31C2E4A5B6978812", "field 0 IAD: 070103A00000",
      "meaning 1 layout not recognised"}},
    // Eleven bytes: no IAD.
    {by_content,
     "0000019D1B2A6F04C5E817",
     {"field 0 reading: CID + ATC + cryptogram + IAD (by content)", "entry 0 CID: 00",
      "field 1 cryptogram: AAC (decline)", "field 1 advice: no advice required",
      "field 1 reason: no information given", "field 0 ATC: 1",
      "field 0 cryptogram: 9D1B2A6F04C5E817"}},
    // An AIP alone: 2 + 4 x 0, and no AFL entry breaks a rule.
    {by_content,
     "1980",
     {"field 0 reading: AIP + AFL (by content)", "entry 0 AIP: 1980",
      "bit 1 byte 1 b5: Cardholder verification is supported",
      "bit 1 byte 1 b4: Terminal risk management is to be performed",
      "bit 1 byte 1 b1: CDA supported", "field 1 byte 2: kernel-specific: 80",
      "entry 0 AFL: ", "problem 1 AFL: a non-zero multiple of 4 bytes expected, 0 given"}},
    // Too short for the other two, too long for GENERATE AC: signed dynamic data.
    {by_content,
     "19",
     {"field 0 reading: Signed Dynamic Application Data (by content)",
      "field 0 Signed Dynamic Application Data: 1 byte"}},
    {by_content,
     "5C00080103",
     {"field 0 reading: Signed Dynamic Application Data (by content)",
      "field 0 Signed Dynamic Application Data: 5 bytes"}},
    {internal_authenticate,
     "19800801030110020500",
     {"field 0 reading: Signed Dynamic Application Data (answer to INTERNAL AUTHENTICATE)",
      "field 0 Signed Dynamic Application Data: 10 bytes"}},
    // Named by the command, then the layout is checked against it.
    {gpo,
     "5C00080103",
     {"field 0 reading: AIP + AFL (answer to GET PROCESSING OPTIONS)", "entry 0 AIP: 5C00",
      "bit 1 byte 1 b7: SDA supported", "bit 1 byte 1 b5: Cardholder verification is supported",
      "bit 1 byte 1 b4: Terminal risk management is to be performed",
      "bit 1 byte 1 b3: Issuer authentication is supported", "field 1 byte 2: kernel-specific: 00",
      "entry 0 AFL: 080103", "problem 1 AFL: a non-zero multiple of 4 bytes expected, 3 given"}},
    {gpo,
     "19",
     {"field 0 reading: AIP + AFL (answer to GET PROCESSING OPTIONS)",
      "problem 0 Format 1 after GET PROCESSING OPTIONS: at least 2 bytes expected, 1 given"}},
    {generate_ac,
     "1980080103",
     {"field 0 reading: CID + ATC + cryptogram + IAD (answer to GENERATE AC)",
      "problem 0 Format 1 after GENERATE AC: 11 to 43 bytes expected, 5 given"}},
};

INSTANTIATE_TEST_SUITE_P(Format1, ExplainFormat1, testing::ValuesIn(format1_cases));

}  // namespace
}  // namespace emvtlv::test
