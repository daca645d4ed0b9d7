// Values read in their record's context: what the one pass collects, and how amounts,
// the kernel's tags, 9F12 and the names read with it and without it.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "emv/code_tables.h"
#include "explain_collector.h"
#include "memory_io.h"
#include "modes/tree_mode.h"
#include "tree/parse.h"
#include "writers/node_value.h"

namespace emvtlv::test {
namespace {

// What context_of collects from one record.
struct collect_case {
  std::string record;
  emv_kernel kernel;
  std::size_t aid_size;
  int transaction_currency;
  int currency_exponent;
  int application_currency;
  int application_currency_exponent;
  int code_table;
};

void PrintTo(const collect_case& c, std::ostream* os) {
  *os << c.record;
}

class ContextOf : public testing::TestWithParam<collect_case> {};

TEST_P(ContextOf, CollectsExactlyThese) {
  const collect_case& c = GetParam();
  std::string hex = c.record;
  std::erase(hex, ' ');
  const auto record = from_hex(hex);
  tree_parser parser;
  const tree_result tree = parser.parse(record);
  const explain_context got = context_of(tree, record);
  EXPECT_EQ(got.kernel, c.kernel);
  EXPECT_EQ(got.aid.size(), c.aid_size);
  EXPECT_EQ(got.transaction_currency, c.transaction_currency);
  EXPECT_EQ(got.currency_exponent, c.currency_exponent);
  EXPECT_EQ(got.application_currency, c.application_currency);
  EXPECT_EQ(got.application_currency_exponent, c.application_currency_exponent);
  EXPECT_EQ(got.code_table, c.code_table);
  EXPECT_EQ(got.format1, response_format1_reading::by_content);
}

using enum emv_kernel;

const collect_case collect_cases[] = {
    {"", unknown, 0, -1, -1, -1, -1, 0},
    {"5F360102", unknown, 0, -1, 2, -1, -1, 0},
    {"5F360100", unknown, 0, -1, 0, -1, -1, 0},
    {"5F360109", unknown, 0, -1, 9, -1, -1, 0},
    // n 1 holds 0 to 9; two bytes, or ten, or a nibble that is no digit, is no exponent.
    {"5F36020002", unknown, 0, -1, -1, -1, -1, 0},
    {"5F360110", unknown, 0, -1, -1, -1, -1, 0},
    {"5F36010A", unknown, 0, -1, -1, -1, -1, 0},
    {"5F3600", unknown, 0, -1, -1, -1, -1, 0},
    // Cut short by the record's end: not whole, not collected.
    {"5F3602 02", unknown, 0, -1, -1, -1, -1, 0},
    // The first counts.
    {"5F360102 5F360103", unknown, 0, -1, 2, -1, -1, 0},
    {"5F2A020978", unknown, 0, 978, -1, -1, -1, 0},
    {"5F2A020008", unknown, 0, 8, -1, -1, -1, 0},
    {"5F2A0209A8", unknown, 0, -1, -1, -1, -1, 0},
    {"5F2A03000978", unknown, 0, -1, -1, -1, -1, 0},
    {"9F42020840 9F440100", unknown, 0, -1, -1, 840, 0, 0},
    {"9F440103 9F42020978", unknown, 0, -1, -1, 978, 3, 0},
    {"9F440112", unknown, 0, -1, -1, -1, -1, 0},
    {"9F110101", unknown, 0, -1, -1, -1, -1, 1},
    {"9F110110", unknown, 0, -1, -1, -1, -1, 10},
    {"9F110100", unknown, 0, -1, -1, -1, -1, 0},
    {"9F110111", unknown, 0, -1, -1, -1, -1, 0},
    {"9F11020101", unknown, 0, -1, -1, -1, -1, 0},
    // Inside templates, at any depth.
    {"70075F2A020978 9F44", unknown, 0, 978, -1, -1, -1, 0},
    {"770A 70 08 5F360102 9F110102", unknown, 0, -1, 2, -1, -1, 2},
    // The AID names the kernel.
    {"4F07A0000000041010", c2, 7, -1, -1, -1, -1, 0},
    {"8407A0000000031010", c3, 7, -1, -1, -1, -1, 0},
    {"4F06A00000002501", c4, 6, -1, -1, -1, -1, 0},
    {"4F08A000000333010101", c7, 8, -1, -1, -1, -1, 0},
    {"4F07A0000002771010", domestic, 7, -1, -1, -1, -1, 0},
    {"4F05A000000003", c3, 5, -1, -1, -1, -1, 0},
    // Too short for a RID, an unknown RID, too long for an AID: no kernel.
    {"4F04A0000000", unknown, 0, -1, -1, -1, -1, 0},
    {"4F07A0000009991010", unknown, 0, -1, -1, -1, -1, 0},
    {"4F11A000000003101000000000000000000000", unknown, 0, -1, -1, -1, -1, 0},
    // The PPSE's DF name is no AID; its directory names the kernel.
    {"6F23840E325041592E5359532E4444463031A511BF0C0E610C4F07A00000000410108701"
     "01",
     c2, 7, -1, -1, -1, -1, 0},
    // A directory of two kernels' AIDs: which one is meant is not known.
    {"4F07A0000000031010 4F07A0000000041010", unknown, 7, -1, -1, -1, -1, 0},
    {"4F07A0000000041010 4F07A0000000043060", c2, 7, -1, -1, -1, -1, 0},
    {"4F07A0000000031010 4F07A0000000041010 4F07A0000000031010", unknown, 7, -1, -1, -1, -1, 0},
};

INSTANTIATE_TEST_SUITE_P(Records, ContextOf, testing::ValuesIn(collect_cases));

// explain_value with a context set field by field, as a session would set it.
struct context_case {
  std::uint64_t tag;
  std::string value;
  explain_context context;
  std::vector<std::string> items;
};

void PrintTo(const context_case& c, std::ostream* os) {
  *os << std::hex << std::uppercase << c.tag << " " << c.value;
}

class ExplainInContext : public testing::TestWithParam<context_case> {};

TEST_P(ExplainInContext, GivesExactlyTheseItems) {
  EXPECT_EQ(explain_hex(GetParam().tag, GetParam().value, GetParam().context), GetParam().items);
}

explain_context with_kernel(emv_kernel kernel) {
  explain_context c;
  c.kernel = kernel;
  return c;
}

explain_context with_currency(int exponent, int currency, int application_exponent = -1,
                              int application_currency = -1) {
  explain_context c;
  c.currency_exponent = exponent;
  c.transaction_currency = currency;
  c.application_currency_exponent = application_exponent;
  c.application_currency = application_currency;
  return c;
}

explain_context with_code_table(int part) {
  explain_context c;
  c.code_table = part;
  return c;
}

const context_case context_cases[] = {
    // Amounts: scaled by 5F36, named by 5F2A.
    {0x9F02, "000000001000", with_currency(2, 978), {"meaning 0 10.00 EUR (Euro)"}},
    {0x9F03, "000000000005", with_currency(2, 840), {"meaning 0 0.05 USD (US Dollar)"}},
    {0x9F02, "000000001000", with_currency(0, 392), {"meaning 0 1000 JPY (Yen)"}},
    {0x9F02, "000000001000", with_currency(3, 1), {"meaning 0 1.000 (currency 001)"}},
    // Without 5F36, the currency's ISO 4217 minor unit, said to be the currency's.
    {0x9F02,
     "000000001000",
     with_currency(-1, 978),
     {"meaning 0 10.00 EUR (Euro), exponent from the currency"}},
    {0x9F02,
     "000000001000",
     with_currency(-1, 392),
     {"meaning 0 1000 JPY (Yen), exponent from the currency"}},
    {0x9F02,
     "000000001000",
     with_currency(-1, 414),
     {"meaning 0 1.000 KWD (Kuwaiti Dinar), exponent from the currency"}},
    {0x9F02,
     "000000012345",
     with_currency(-1, 990),
     {"meaning 0 1.2345 CLF (Unidad de Fomento), exponent from the currency"}},
    // 5F36 wins over the currency's own places.
    {0x9F02, "000000001000", with_currency(2, 392), {"meaning 0 10.00 JPY (Yen)"}},
    // Gold has no minor unit, and an unlisted code none known.
    {0x9F02,
     "000000001000",
     with_currency(-1, 959),
     {"meaning 0 1000 XAU (Gold), exponent unknown"}},
    {0x9F02,
     "000000001000",
     with_currency(-1, 1),
     {"meaning 0 1000 (currency 001), exponent unknown"}},
    {0x9F02, "000000001000", with_currency(2, -1), {"meaning 0 10.00"}},
    {0x9F02, "000000001000", {}, {"meaning 0 1000, exponent unknown"}},
    // The application currency is not the transaction's.
    {0x9F02, "000000001000", with_currency(-1, -1, 2, 978), {"meaning 0 1000, exponent unknown"}},
    // CVM List X and Y: scaled by 9F44, named by 9F42; 5F36 and 5F2A do not count.
    {0x8E,
     "000003E8000000001F03",
     with_currency(-1, -1, 2, 978),
     {"field 0 amount X: 10.00 EUR (Euro)", "field 0 amount Y: 0.00 EUR (Euro)",
      "entry 0 rule 1: 1F03", "field 1 method: No CVM required",
      "field 1 condition: If terminal supports the CVM",
      "field 1 if unsuccessful: fail cardholder verification"}},
    {0x8E,
     "000003E8000000001F03",
     with_currency(2, 978),
     {"field 0 amount X: 1000, exponent unknown", "field 0 amount Y: 0, exponent unknown",
      "entry 0 rule 1: 1F03", "field 1 method: No CVM required",
      "field 1 condition: If terminal supports the CVM",
      "field 1 if unsuccessful: fail cardholder verification"}},
    {0x8E,
     "FFFFFFFF000000011F03",
     with_currency(-1, -1, 9, 840),
     {"field 0 amount X: 4.294967295 USD (US Dollar)",
      "field 0 amount Y: 0.000000001 USD (US Dollar)", "entry 0 rule 1: 1F03",
      "field 1 method: No CVM required", "field 1 condition: If terminal supports the CVM",
      "field 1 if unsuccessful: fail cardholder verification"}},

    // 9F66 by kernel.
    {0x9F66,
     "00FF",
     with_kernel(c2),
     {"field 0 reading: PUNATC(Track2) (C-2)",
      "meaning 0 8 digit positions for the unpredictable number and ATC"}},
    {0x9F66,
     "0000",
     with_kernel(c2),
     {"field 0 reading: PUNATC(Track2) (C-2)", "none 0 no bit set"}},
    {0x9F66,
     "000E00",
     with_kernel(c2),
     {"field 0 reading: PUNATC(Track2) (C-2)",
      "problem 0 PUNATC(Track2): 2 bytes expected, 3 given"}},
    {0x9F66,
     "36004000",
     with_kernel(c2),
     {"field 0 reading: TTQ (C-2)", "bit 0 byte 1 b6: EMV mode supported",
      "bit 0 byte 1 b5: EMV contact chip supported", "bit 0 byte 1 b3: Online PIN supported",
      "bit 0 byte 1 b2: Signature supported", "bit 0 byte 3 b7: Consumer Device CVM supported"}},
    {0x9F66,
     "00FF",
     with_kernel(c3),
     {"field 0 reading: TTQ (C-3)", "problem 0 TTQ: 4 bytes expected, 2 given"}},
    {0x9F66, "00000000", with_kernel(c7), {"field 0 reading: TTQ (C-7)", "none 0 no bit set"}},
    // A TTQ of 3 or 5 bytes says so, kernel or not.
    {0x9F66,
     "360040",
     {},
     {"field 0 reading: TTQ (kernel unknown)", "problem 0 TTQ: 4 bytes expected, 3 given"}},
    {0x9F66,
     "3600400000",
     {},
     {"field 0 reading: TTQ (kernel unknown)", "problem 0 TTQ: 4 bytes expected, 5 given"}},
    {0x9F66,
     "3600400000",
     with_kernel(c6),
     {"field 0 reading: TTQ (C-6)", "problem 0 TTQ: 4 bytes expected, 5 given"}},

    // A bit one kernel defines is RFU under another's AID, and names its kernel under
    // its own; with no kernel known it stays "kernel-specific".
    {0x9F66,
     "00180000",
     with_kernel(c3),
     {"field 0 reading: TTQ (C-3)", "rfu 0 byte 2 b5: RFU bit set: byte 2 b5",
      "rfu 0 byte 2 b4: RFU bit set: byte 2 b4"}},
    {0x9F66,
     "000C2880",
     with_kernel(c6),
     {"field 0 reading: TTQ (C-6)", "bit 0 byte 2 b4: Fast mode supported (C-6)",
      "bit 0 byte 2 b3: Transit terminal (C-6)",
      "bit 0 byte 3 b6: CDCVM for transit MCC supported (C-6)",
      "bit 0 byte 3 b4: CDCVM required (C-6)", "rfu 0 byte 4 b8: RFU bit set: byte 4 b8"}},
    {0x9F66,
     "000C2880",
     with_kernel(c7),
     {"field 0 reading: TTQ (C-7)", "rfu 0 byte 2 b4: RFU bit set: byte 2 b4",
      "rfu 0 byte 2 b3: RFU bit set: byte 2 b3", "rfu 0 byte 3 b6: RFU bit set: byte 3 b6",
      "rfu 0 byte 3 b4: RFU bit set: byte 3 b4", "bit 0 byte 4 b8: fDDA v1.0 supported (C-7)"}},
    {0x9F66,
     "00080080",
     {},
     {"field 0 reading: TTQ (by length)", "bit 0 byte 2 b4: Fast mode supported (kernel-specific)",
      "bit 0 byte 4 b8: fDDA v1.0 supported (kernel-specific)"}},
    {0x82,
     "0200",
     with_kernel(c3),
     {"rfu 0 byte 1 b2: RFU bit set: byte 1 b2", "field 0 byte 2: kernel-specific: 00"}},
    {0x82,
     "0200",
     with_kernel(c2),
     {"bit 0 byte 1 b2: On-device cardholder verification supported (C-2)",
      "field 0 byte 2: kernel-specific: 00"}},
    // TVR byte 5 b4-b1 (and the action codes that share its layout) by kernel.
    {0x95,
     "000000008F",
     with_kernel(c2),
     {"bit 0 byte 5 b8: Default TDOL used",
      "bit 0 byte 5 b4: Relay resistance threshold exceeded (C-2)",
      "bit 0 byte 5 b3: Relay resistance time limits exceeded (C-2)",
      "bit 0 byte 5 b2: Relay resistance performed (b2-b1 10) (C-2)",
      "bit 0 byte 5 b1: Relay resistance not performed (b2-b1 01) (C-2)"}},
    // A contact session's TVR is not read by its AID's contactless kernel.
    {0x95,
     "0000000008",
     [] {
       explain_context c = with_kernel(c2);
       c.environment = payment_environment::contact;
       return c;
     }(),
     {"bit 0 byte 5 b4: reserved for contactless / kernel-specific"}},
    {0x9F0E,
     "0000000006",
     with_kernel(contact),
     {"bit 0 byte 5 b3: CA ECC key missing (EMV 4.4)",
      "bit 0 byte 5 b2: ECC key recovery failed (EMV 4.4)"}},
    {0x9F0F,
     "0000000008",
     with_kernel(c3),
     {"bit 0 byte 5 b4: reserved for contactless / kernel-specific"}},
    // A kernel named on the command line says so; an AID overrules it.
    {0x95,
     "0000000008",
     [] {
       explain_context c = with_kernel(c2);
       c.kernel_option = c2;
       return c;
     }(),
     {"field 0 kernel: C-2 (from --kernel; no AID)",
      "bit 0 byte 5 b4: Relay resistance threshold exceeded (C-2)"}},

    // 9F6B by kernel: the kernel decides, whatever the length says.
    {0x9F6B,
     "000000010000",
     with_kernel(c2),
     {"field 0 reading: Track 2 Data (C-2)", "problem 0 Track 2: no separator D"}},
    {0x9F6B,
     "5413330089010434D2212201",
     with_kernel(c2),
     {"field 0 reading: Track 2 Data (C-2)", "field 0 PAN: XXXXXXXXXXXX0434",
      "field 0 expiry: 2022-12", "field 0 service code: 201"}},
    {0x9F6B,
     "000000010000",
     with_kernel(c3),
     {"field 0 reading: Card CVM Limit (C-3)", "meaning 0 10000, exponent unknown"}},
    {0x9F6B,
     "5413330089010434D2212201",
     with_kernel(c3),
     {"field 0 reading: Card CVM Limit (C-3)",
      "problem 0 Card CVM Limit: 6 bytes expected, 12 given"}},
    // Not a number: the value is not repeated, it may be card data.
    {0x9F6B,
     "476173D27122",
     with_kernel(c3),
     {"field 0 reading: Card CVM Limit (C-3)", "problem 0 Card CVM Limit: not a number"}},
    // Other kernels define no 9F6B: by length.
    {0x9F6B,
     "000000010000",
     with_kernel(c4),
     {"field 0 reading: Card CVM Limit (by length)", "meaning 0 10000, exponent unknown"}},

    // 9F12 in the code table 9F11 names, as UTF-8.
    {0x9F12, "4361666520E9", with_code_table(1), {"meaning 0 \"Cafe \xC3\xA9\""}},
    {0x9F12, "A1B3", with_code_table(2), {"meaning 0 \"\xC4\x84\xC5\x82\""}},
    {0x9F12, "A5", with_code_table(3), {"meaning 0 \"\\xA5\""}},
    {0x9F12, "B0E0", with_code_table(5), {"meaning 0 \"\xD0\x90\xD1\x80\""}},
    {0x9F12, "C7", with_code_table(6), {"meaning 0 \"\xD8\xA7\""}},
    {0x9F12, "E1", with_code_table(7), {"meaning 0 \"\xCE\xB1\""}},
    {0x9F12, "E0", with_code_table(8), {"meaning 0 \"\xD7\x90\""}},
    {0x9F12, "DD", with_code_table(9), {"meaning 0 \"\xC4\xB0\""}},
    {0x9F12, "A1", with_code_table(10), {"meaning 0 \"\xC4\x84\""}},
    // C1 controls and ASCII are the same in every part; quotes still escaped.
    {0x9F12, "80229F41", with_code_table(1), {"meaning 0 \"\\x80\\\"\\x9FA\""}},
    // Without 9F11 the upper half is not read.
    {0x9F12, "4361666520E9", {}, {"meaning 0 \"Cafe \\xE9\""}},
    // 50 is in the common character set whatever 9F11 says.
    {0x50, "E9", with_code_table(1), {"meaning 0 \"\\xE9\""}},
};

INSTANTIATE_TEST_SUITE_P(Values, ExplainInContext, testing::ValuesIn(context_cases));

// The context's defaults say that nothing is known.
TEST(ExplainContext, KnowsNothingByDefault) {
  const explain_context c;
  EXPECT_TRUE(c.aid.empty());
  EXPECT_EQ(c.kernel, emv_kernel::unknown);
  EXPECT_EQ(c.transaction_currency, -1);
  EXPECT_EQ(c.currency_exponent, -1);
  EXPECT_EQ(c.application_currency, -1);
  EXPECT_EQ(c.application_currency_exponent, -1);
  EXPECT_EQ(c.code_table, 0);
  EXPECT_EQ(c.format1, response_format1_reading::by_content);
}

// The generated tables say what the C library's iconv says, byte for byte.
TEST(CodeTables, MatchTheCLibrary) {
  for (int part = 1; part <= 10; ++part) {
    const std::string name = "ISO-8859-" + std::to_string(part);
    iconv_t cd = iconv_open("UTF-32BE", name.c_str());
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << name;
    for (unsigned byte = 0xA0; byte <= 0xFF; ++byte) {
      char in[1] = {static_cast<char>(byte)};
      unsigned char out[4] = {};
      char* in_at = in;
      char* out_at = reinterpret_cast<char*>(out);
      std::size_t in_left = 1;
      std::size_t out_left = 4;
      std::uint32_t expected = 0;
      if (iconv(cd, &in_at, &in_left, &out_at, &out_left) != static_cast<std::size_t>(-1))
        expected = std::uint32_t{out[0]} << 24 | std::uint32_t{out[1]} << 16 |
                   std::uint32_t{out[2]} << 8 | out[3];
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      EXPECT_EQ(iso8859_code_point(part, static_cast<std::uint8_t>(byte)), expected)
          << name << " byte " << byte;
    }
    iconv_close(cd);
  }
  EXPECT_EQ(iso8859_code_point(0, 0xE9), 0U);
  EXPECT_EQ(iso8859_code_point(11, 0xE9), 0U);
  EXPECT_EQ(iso8859_code_point(1, 0x41), 0U);
}

// Whole records through the explain mode: the context comes from the record itself.
struct record_case {
  std::string input;
  std::string output;
  bool explain = true;
};

void PrintTo(const record_case& c, std::ostream* os) {
  *os << c.input;
}

class ExplainRecord : public testing::TestWithParam<record_case> {};

TEST_P(ExplainRecord, PrintsExactly) {
  const std::string input = GetParam().input + "\n";
  string_input in{input};
  string_output out;
  tree_mode_options options;
  options.explain = GetParam().explain;
  EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
  EXPECT_EQ(out.text, GetParam().output);
}

const record_case record_cases[] = {
    // A CVM List after its currency and exponent, and before them.
    {"9F440102 9F42020978 8E0A000003E8000000001F03",
     "9F44 Application Currency Exponent: 02\n"
     "  - 2 decimal places\n"
     "9F42 Application Currency Code: 0978\n"
     "  - 978 EUR Euro\n"
     "8E Cardholder Verification Method (CVM) List: 000003E8000000001F03\n"
     "  - amount X: 10.00 EUR (Euro)\n"
     "  - amount Y: 0.00 EUR (Euro)\n"
     "  - rule 1: 1F03\n"
     "    - method: No CVM required\n"
     "    - condition: If terminal supports the CVM\n"
     "    - if unsuccessful: fail cardholder verification\n"},
    {"8E0A000003E8000000001F03 9F42020978",
     "8E Cardholder Verification Method (CVM) List: 000003E8000000001F03\n"
     "  - amount X: 10.00 EUR (Euro), exponent from the currency\n"
     "  - amount Y: 0.00 EUR (Euro), exponent from the currency\n"
     "  - rule 1: 1F03\n"
     "    - method: No CVM required\n"
     "    - condition: If terminal supports the CVM\n"
     "    - if unsuccessful: fail cardholder verification\n"
     "9F42 Application Currency Code: 0978\n"
     "  - 978 EUR Euro\n"},
    {"9F0206000000001000 5F360102 5F2A020978",
     "9F02 Amount, Authorised (Numeric): 000000001000\n"
     "  - 10.00 EUR (Euro)\n"
     "5F36 Transaction Currency Exponent: 02\n"
     "  - 2 decimal places\n"
     "5F2A Transaction Currency Code: 0978\n"
     "  - 978 EUR Euro\n"},
    // A 5F36 of two bytes, or of 10, is no exponent.
    {"9F0206000000001000 5F36020002",
     "9F02 Amount, Authorised (Numeric): 000000001000\n"
     "  - 1000, exponent unknown\n"
     "5F36 Transaction Currency Exponent: 0002\n"
     "  - currency exponent: 1 byte expected, 2 given\n"},
    {"9F0206000000001000 5F360110",
     "9F02 Amount, Authorised (Numeric): 000000001000\n"
     "  - 1000, exponent unknown\n"
     "5F36 Transaction Currency Exponent: 10\n"
     "  - exponent 10 above 9\n"},
    // Kernel readings by the record's AID, and by length without one.
    {"4F07A0000000041010 9F66020018",
     "4F Application Dedicated File (ADF) Name: A0000000041010\n"
     "  - payment system: Mastercard\n"
     "  - kernel: C-2\n"
     "  - product: Mastercard credit/debit\n"
     "9F66 PUNATC(Track2): 0018\n"
     "  - reading: PUNATC(Track2) (C-2)\n"
     "  - 2 digit positions for the unpredictable number and ATC\n"},
    {"4F07A0000000041010 9F66020018",
     "4F Application Dedicated File (ADF) Name: A0000000041010\n"
     "9F66 PUNATC(Track2): 0018\n",
     false},
    {"9F66020018 9F6604B6004000",
     "9F66 PUNATC(Track2) (by length): 0018\n"
     "9F66 Terminal Transaction Qualifiers (TTQ) (by length): B6004000\n",
     false},
    {"4F07A0000000031010 9F6604B6004000 9F6B06000000005000 5F360102",
     "4F Application Dedicated File (ADF) Name: A0000000031010\n"
     "9F66 Terminal Transaction Qualifiers (TTQ): B6004000\n"
     "9F6B Card CVM Limit: 000000005000\n"
     "5F36 Transaction Currency Exponent: 02\n",
     false},
    {"4F07A0000000041010 9F6E04 20700000 9F6D020001 9F7C0100 9F5D03010203",
     "4F Application Dedicated File (ADF) Name: A0000000041010\n"
     "9F6E Third Party Data: 20700000\n"
     "9F6D Mag-stripe Application Version Number (Reader): 0001\n"
     "9F7C Merchant Custom Data: 00\n"
     "9F5D Application Capabilities Information: 010203\n",
     false},
    {"9F6E04 20700000",
     "9F6E Third Party Data (C-2) / Form Factor Indicator (C-3) / Enhanced Contactless Reader "
     "Capabilities (C-4): 20700000\n",
     false},
    // 9F12 in the code table of its record's 9F11.
    {"A50D 9F110101 9F1206 4361666520E9",
     "A5 File Control Information (FCI) Proprietary Template\n"
     "  9F11 Issuer Code Table Index: 01\n"
     "    - ISO 8859-1\n"
     "  9F12 Application Preferred Name: 4361666520E9\n"
     "    - \"Cafe \xC3\xA9\"\n"},
    // All-zero Issuer Action Codes, as three real records carry them.
    {"9F0D050000000000 9F0E050000000000 9F0F050000000000",
     "9F0D Issuer Action Code - Default: 0000000000\n"
     "  - no bit set\n"
     "9F0E Issuer Action Code - Denial: 0000000000\n"
     "  - no bit set\n"
     "9F0F Issuer Action Code - Online: 0000000000\n"
     "  - no bit set\n"},
    // A GENERATE AC answer in format 1, as Visa and UnionPay cards give it.
    {"80124000019D1B2A6F04C5E81706010A03A000009000",
     "80 Response Message Template Format 1: 4000019D1B2A6F04C5E81706010A03A00000\n"
     "  - reading: CID + ATC + cryptogram + IAD (by content)\n"
     "  - CID: 40\n"
     "    - cryptogram: TC (approve offline)\n"
     "    - advice: no advice required\n"
     "    - reason: no information given\n"
     "  - ATC: 1\n"
     "  - cryptogram: 9D1B2A6F04C5E817\n"
     "  - IAD: 06010A03A00000\n"
     "    - reading: Visa format 0/1/3 (by pattern)\n"
     "      - DKI: 01\n"
     "      - CVN: CVN 10: original contact VIS; AC input ends with the 4-byte CVR\n"
     "      - CVR: 03A00000\n"
     "        - byte 2 b8-b7: AC in 2nd GENERATE AC: not requested\n"
     "        - byte 2 b6-b5: AC in 1st GENERATE AC (contactless: GPO): ARQC\n"
     "        - byte 4 b8-b5: issuer script commands processed: 0\n"
     "      - IDD: none\n"
     "status: 9000 (success)\n"},
};

INSTANTIATE_TEST_SUITE_P(Records, ExplainRecord, testing::ValuesIn(record_cases));

}  // namespace
}  // namespace emvtlv::test

namespace emvtlv::test {
namespace {

std::string run_mode_on(const std::string& input, tree_mode_options options) {
  string_input in{input};
  string_output out;
  EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
  return out.text;
}

// The readings a kernel or the length picks never show a card number's hidden digits:
// the output stays the same when they change.
TEST(ExplainContextPrivacy, HiddenDigitsDoNotChangeTheOutput) {
  const std::string records[][2] = {
      // Track 2 data in 9F6B under C-3, read as the Card CVM Limit.
      {"4F07A0000000031010 9F6B06 476173D27122", "4F07A0000000031010 9F6B06 976173D27122"},
      {"4F07A0000000031010 9F6B0C 4761739001010010D2712201",
       "4F07A0000000031010 9F6B0C 4761739871010010D2712201"},
      // A PAN of 20 digits, and 9F6B by length.
      {"5714 47617390010100101234D27122011234567F", "5714 47617390910100101234D27122011234567F"},
      {"9F6B06 47617390010D", "9F6B06 47617350010D"},
  };
  for (const auto& pair : records) {
    for (const auto format : {tree_mode_options::format::text, tree_mode_options::format::json}) {
      tree_mode_options options;
      options.explain = true;
      options.output = format;
      EXPECT_EQ(run_mode_on(pair[0] + "\n", options), run_mode_on(pair[1] + "\n", options))
          << pair[0];
    }
  }
}

}  // namespace
}  // namespace emvtlv::test
