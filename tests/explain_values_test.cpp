#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emv/iso_codes.h"
#include "explain/explain.h"
#include "explain/explainers.h"
#include "test_support.h"

namespace emvtlv {
namespace {

constexpr std::string_view kind_names[] = {"meaning", "bit",     "rfu", "field",
                                           "entry",   "problem", "none"};

// Every item as "kind level label: text" ("kind level: text" without a label).
struct collected {
  std::vector<std::string> lines;

  explain_output output() {
    return {this, [](void* self, explain_kind kind, std::uint32_t level, std::string_view label,
                     std::string_view text, const explain_facts&) {
              std::string line(kind_names[static_cast<std::size_t>(kind)]);
              line += ' ' + std::to_string(level);
              if (!label.empty()) line += ' ' + std::string(label);
              line += ": " + std::string(text);
              static_cast<collected*>(self)->lines.push_back(line);
            }};
  }
};

struct value_case {
  std::uint64_t tag;
  std::string value;  // hex
  int exponent;       // 5F36 in the same record, -1 without
  std::vector<std::string> items;
};

void PrintTo(const value_case& c, std::ostream* os) {
  *os << std::hex << std::uppercase << c.tag << ' ' << c.value << " exp " << std::dec << c.exponent;
}

class ExplainValue : public testing::TestWithParam<value_case> {};

TEST_P(ExplainValue, EmitsExactlyTheseItems) {
  const value_case& c = GetParam();
  const auto bytes = test::from_hex(c.value);
  collected got;
  explain_context context;
  context.currency_exponent = c.exponent;
  EXPECT_TRUE(explain_value(c.tag, bytes, bytes.size(), context, got.output()));
  EXPECT_EQ(got.lines, c.items);
}

// Real values first, then one row per way a value can be wrong.
INSTANTIATE_TEST_SUITE_P(
    Values, ExplainValue,
    testing::Values(
        // Dates: month ends, leap years, the century window.
        value_case{0x5F24, "271231", -1, {"meaning 0: 2027-12-31"}},
        value_case{0x5F25, "240430", -1, {"meaning 0: 2024-04-30"}},
        value_case{0x9A, "240229", -1, {"meaning 0: 2024-02-29"}},
        value_case{0x9A, "000229", -1, {"meaning 0: 2000-02-29"}},
        value_case{0x9A, "491231", -1, {"meaning 0: 2049-12-31"}},
        value_case{0x9A, "500101", -1, {"meaning 0: 1950-01-01"}},
        value_case{0x5F24, "991130", -1, {"meaning 0: 1999-11-30"}},
        value_case{0x9A, "270229", -1, {"problem 0: not a date: 270229"}},
        value_case{0x5F24, "270230", -1, {"problem 0: not a date: 270230"}},
        value_case{0x5F24, "270431", -1, {"problem 0: not a date: 270431"}},
        value_case{0x9A, "271301", -1, {"problem 0: not a date: 271301"}},
        value_case{0x9A, "270100", -1, {"problem 0: not a date: 270100"}},
        value_case{0x9A, "2712A1", -1, {"problem 0: not a date: 2712A1"}},
        value_case{0x9A, "2712", -1, {"problem 0: date: 3 bytes expected, 2 given"}},
        // Time.
        value_case{0x9F21, "235959", -1, {"meaning 0: 23:59:59"}},
        value_case{0x9F21, "000000", -1, {"meaning 0: 00:00:00"}},
        value_case{0x9F21, "240000", -1, {"problem 0: not a time: 240000"}},
        value_case{0x9F21, "126000", -1, {"problem 0: not a time: 126000"}},
        value_case{0x9F21, "12000000", -1, {"problem 0: time: 3 bytes expected, 4 given"}},
        // Amounts, with and without the currency exponent.
        value_case{0x9F02, "000000012345", -1, {"meaning 0: 12345, exponent unknown"}},
        value_case{0x9F02, "000000012345", 2, {"meaning 0: 123.45"}},
        value_case{0x9F02, "000000012345", 0, {"meaning 0: 12345"}},
        value_case{0x9F02, "000000000005", 2, {"meaning 0: 0.05"}},
        value_case{0x9F03, "000000000000", -1, {"meaning 0: 0, exponent unknown"}},
        value_case{0x9F03, "000000000000", 3, {"meaning 0: 0.000"}},
        value_case{0x9F02, "999999999999", 2, {"meaning 0: 9999999999.99"}},
        value_case{0x9F02, "000000000001", 9, {"meaning 0: 0.000000001"}},
        value_case{0x9F02, "00000001234F", 2, {"problem 0: not a number: 00000001234F"}},
        value_case{0x9F02, "0000012345", 2, {"problem 0: amount: 6 bytes expected, 5 given"}},
        // Visa's Card CVM Limit: six bytes and no separator make 9F6B an amount.
        value_case{0x9F6B,
                   "000000010000",
                   2,
                   {"field 0 reading: Card CVM Limit (by length)", "meaning 0: 100.00"}},
        // AIDs: the system and kernel by the RID, the product of a common AID; a PSE
        // or PPSE name says which directory it is.
        value_case{0x4F,
                   "A0000000041010",
                   -1,
                   {"field 0 payment system: Mastercard", "field 0 kernel: C-2",
                    "field 0 product: Mastercard credit/debit"}},
        value_case{0x84,
                   "A0000000031010",
                   -1,
                   {"field 0 payment system: Visa", "field 0 kernel: C-3",
                    "field 0 product: Visa credit/debit"}},
        value_case{0x9F06,
                   "A0000000250104",
                   -1,
                   {"field 0 payment system: American Express", "field 0 kernel: C-4"}},
        value_case{0x4F,
                   "A000000025010402",
                   -1,
                   {"field 0 payment system: American Express", "field 0 kernel: C-4"}},
        value_case{
            0x4F,
            "A0000003591010028001",
            -1,
            {"field 0 payment system: girocard", "field 0 kernel: domestic, no EMVCo kernel"}},
        value_case{0x4F,
                   "A0000003330101FFFFFFFFFFFFFFFFFF",
                   -1,
                   {"field 0 payment system: UnionPay", "field 0 kernel: C-7"}},
        value_case{0x4F, "A000000999", -1, {"meaning 0: RID A000000999: no payment system known"}},
        value_case{0x84,
                   "325041592E5359532E4444463031",
                   -1,
                   {"meaning 0: PPSE: the contactless directory"}},
        value_case{
            0x84, "315041592E5359532E4444463031", -1, {"meaning 0: PSE: the contact directory"}},
        value_case{
            0x4F, "A000000004", -1, {"field 0 payment system: Mastercard", "field 0 kernel: C-2"}},
        value_case{0x4F, "A0000000", -1, {"problem 0: AID: 5 to 16 bytes expected, 4 given"}},
        value_case{0x9F06,
                   "A0000000041010000000000000000000FF",
                   -1,
                   {"problem 0: AID: 5 to 16 bytes expected, 17 given"}},
        // Currencies and countries from the ISO tables.
        value_case{0x9F42, "0978", -1, {"meaning 0: 978 EUR Euro"}},
        value_case{0x5F2A, "0840", -1, {"meaning 0: 840 USD US Dollar"}},
        value_case{0x9F3C, "0008", -1, {"meaning 0: 008 ALL Lek"}},
        value_case{0x5F2A, "0001", -1, {"meaning 0: 001 unknown currency code"}},
        value_case{0x5F2A, "1978", -1, {"problem 0: not a currency code: 1978"}},
        value_case{0x5F2A, "09A8", -1, {"problem 0: not a currency code: 09A8"}},
        value_case{0x5F2A, "000978", -1, {"problem 0: currency code: 2 bytes expected, 3 given"}},
        value_case{0x5F28, "0840", -1, {"meaning 0: 840 United States of America"}},
        value_case{0x9F1A, "0250", -1, {"meaning 0: 250 France"}},
        value_case{0x5F28, "0384", -1, {"meaning 0: 384 C\xC3\xB4te d'Ivoire"}},
        value_case{0x9F1A, "0000", -1, {"meaning 0: 000 unknown country code"}},
        value_case{0x9F1A, "08", -1, {"problem 0: country code: 2 bytes expected, 1 given"}},
        // Languages.
        value_case{0x5F2D,
                   "656E6672",
                   -1,
                   {"meaning 0: en fr", "field 0 en: English", "field 0 fr: French"}},
        value_case{0x5F2D,
                   "6465454E7A7A",
                   -1,
                   {"meaning 0: de EN zz", "field 0 de: German", "field 0 EN: English",
                    "field 0 zz: unknown language"}},
        value_case{0x5F2D, "6501", -1, {"meaning 0: e\\x01", "field 0 e\\x01: unknown language"}},
        value_case{
            0x5F2D, "656E66", -1, {"problem 0: languages: 2, 4, 6 or 8 bytes expected, 3 given"}},
        value_case{0x5F2D,
                   "656E6672646569746E6C",
                   -1,
                   {"problem 0: languages: 2, 4, 6 or 8 bytes expected, 10 given"}},
        // Terminal type.
        value_case{0x9F35,
                   "22",
                   -1,
                   {"meaning 0: 22: merchant, attended, offline with online "
                    "capability"}},
        value_case{0x9F35,
                   "11",
                   -1,
                   {"meaning 0: 11: financial institution, attended, online "
                    "only"}},
        value_case{0x9F35, "36", -1, {"meaning 0: 36: cardholder, unattended, offline only"}},
        value_case{0x9F35, "34", -1, {"meaning 0: 34: cardholder, unattended, online only"}},
        value_case{0x9F35, "33", -1, {"problem 0: unknown terminal type: 33"}},
        value_case{0x9F35, "17", -1, {"problem 0: unknown terminal type: 17"}},
        value_case{0x9F35, "40", -1, {"problem 0: unknown terminal type: 40"}},
        value_case{0x9F35, "2222", -1, {"problem 0: terminal type: 1 byte expected, 2 given"}},
        // Transaction type.
        value_case{0x9C, "00", -1, {"meaning 0: 00: goods and services"}},
        value_case{0x9C, "01", -1, {"meaning 0: 01: cash"}},
        value_case{0x9C, "09", -1, {"meaning 0: 09: cashback"}},
        value_case{0x9C, "20", -1, {"meaning 0: 20: refund"}},
        value_case{0x9C, "30", -1, {"meaning 0: 30: inquiry"}},
        value_case{0x9C, "42", -1, {"meaning 0: 42: unknown transaction type"}},
        value_case{0x9C, "0A", -1, {"problem 0: not a transaction type: 0A"}},
        value_case{0x9C, "", -1, {"problem 0: transaction type: 1 byte expected, 0 given"}},
        // Application Priority Indicator.
        value_case{0x87, "01", -1, {"field 0 confirmation: not needed", "field 0 priority: 1"}},
        value_case{0x87, "8F", -1, {"field 0 confirmation: needed", "field 0 priority: 15"}},
        value_case{
            0x87,
            "70",
            -1,
            {"field 0 confirmation: not needed", "field 0 priority: none",
             "rfu 0 byte 1 b7: RFU bit set: byte 1 b7", "rfu 0 byte 1 b6: RFU bit set: byte 1 b6",
             "rfu 0 byte 1 b5: RFU bit set: byte 1 b5"}},
        value_case{0x87, "0101", -1, {"problem 0: priority indicator: 1 byte expected, 2 given"}},
        // Service code, digit by digit.
        value_case{0x5F30,
                   "0201",
                   -1,
                   {"meaning 0: 201", "field 0 digit 1: interchange: international, IC",
                    "field 0 digit 2: authorisation: normal",
                    "field 0 digit 3: services: no restrictions"}},
        value_case{0x5F30,
                   "0626",
                   -1,
                   {"meaning 0: 626", "field 0 digit 1: interchange: national, IC",
                    "field 0 digit 2: authorisation: by issuer, online",
                    "field 0 digit 3: services: no restrictions, prompt for PIN if PIN pad "
                    "present"}},
        value_case{0x5F30,
                   "0848",
                   -1,
                   {"meaning 0: 848", "field 0 digit 1: interchange: reserved",
                    "field 0 digit 2: authorisation: by issuer, except under bilateral "
                    "agreement",
                    "field 0 digit 3: services: reserved"}},
        value_case{0x5F30, "1201", -1, {"problem 0: not a service code: 1201"}},
        value_case{0x5F30, "020", -1, {"problem 0: service code: 2 bytes expected, 1 given"}},
        // Track 2: the card number masked, the rest in fields.
        value_case{0x57,
                   "4761739001010010D2712201123456789F",
                   -1,
                   {"field 0 PAN: XXXXXXXXXXXX0010", "field 0 expiry: 2027-12",
                    "field 0 service code: 201", "field 0 discretionary data: 9 digits, hidden"}},
        value_case{0x9F6B,
                   "5413330089010434D22122010000000000",
                   -1,
                   {"field 0 reading: Track 2 Data (by length)", "field 0 PAN: XXXXXXXXXXXX0434",
                    "field 0 expiry: 2022-12", "field 0 service code: 201",
                    "field 0 discretionary data: 10 digits, hidden"}},
        value_case{0x57,
                   "4761739001010010D2712201",
                   -1,
                   {"field 0 PAN: XXXXXXXXXXXX0010", "field 0 expiry: 2027-12",
                    "field 0 service code: 201"}},
        value_case{0x57,
                   "476173900101D2713201",
                   -1,
                   {"field 0 PAN: XXXXXXXX0101", "problem 0: not an expiry date: 2713",
                    "field 0 service code: 201"}},
        value_case{0x57,
                   "476173900101D27122",
                   -1,
                   {"field 0 PAN: XXXXXXXX0101", "field 0 expiry: 2027-12",
                    "problem 0: Track 2: ends before the service code"}},
        value_case{
            0x57,
            "4761739001010010D27F",
            -1,
            {"field 0 PAN: XXXXXXXXXXXX0010", "problem 0: Track 2: ends before the expiry date"}},
        value_case{0x57, "47617390010100102712201F", -1, {"problem 0: Track 2: no separator D"}},
        // Card codes are counted, never shown.
        value_case{
            0x9F1F, "3132333435363738", -1, {"field 0 discretionary data: 8 characters, hidden"}},
        value_case{0x9F20, "12345F", -1, {"field 0 discretionary data: 5 digits, hidden"}},
        value_case{0x9F20, "1F", -1, {"field 0 discretionary data: 1 digit, hidden"}},
        // No card number before the separator, and one longer than 19 digits.
        value_case{0x57,
                   "D2712201123F",
                   -1,
                   {"problem 0: Track 2: no PAN before the separator", "field 0 expiry: 2027-12",
                    "field 0 service code: 201", "field 0 discretionary data: 3 digits, hidden"}},
        value_case{0x57,
                   "47617390010100101234D2712201",
                   -1,
                   {"field 0 PAN: XXXXXXXXXXXXXXXX1234",
                    "problem 0: Track 2: PAN of 20 digits, at most 19", "field 0 expiry: 2027-12",
                    "field 0 service code: 201"}},
        value_case{0x57,
                   "4761739001010010123D2712201F",
                   -1,
                   {"field 0 PAN: XXXXXXXXXXXXXXX0123", "field 0 expiry: 2027-12",
                    "field 0 service code: 201"}},
        // 9F6B of six bytes with a D in either half of a byte: Track 2, not an amount.
        value_case{0x9F6B,
                   "47617390010D",
                   -1,
                   {"field 0 reading: Track 2 Data (by length)", "field 0 PAN: XXXXXXX0010",
                    "problem 0: Track 2: ends before the expiry date"}},
        value_case{0x9F6B,
                   "4761739001D2",
                   -1,
                   {"field 0 reading: Track 2 Data (by length)", "field 0 PAN: XXXXXX9001",
                    "problem 0: Track 2: ends before the expiry date"}},
        value_case{0x57,
                   "4761739001010010D27122011234567890123456",
                   -1,
                   {"problem 0: Track 2: at most 19 bytes expected, 20 given"}}));

// Text formats, run through the explainer directly: which tags are text comes from the
// EMV dictionary.
struct text_case {
  std::string value;  // hex
  std::string meaning;
};

class ExplainText : public testing::TestWithParam<text_case> {};

TEST_P(ExplainText, QuotesAndEscapes) {
  const auto bytes = test::from_hex(GetParam().value);
  collected got;
  explain::explain_text(bytes, {}, got.output());
  EXPECT_EQ(got.lines, std::vector<std::string>{"meaning 0: " + GetParam().meaning});
}

INSTANTIATE_TEST_SUITE_P(Texts, ExplainText,
                         testing::Values(text_case{"5649534120435245444954", R"("VISA CREDIT")"},
                                         text_case{"", R"("")"},
                                         text_case{"41225C42", R"("A\"\\B")"},
                                         text_case{"00091F207E", R"("\x00\x09\x1F ~")"},
                                         text_case{"7F80C3A9FF", R"("\x7F\x80\xC3\xA9\xFF")"}));

TEST(ExplainText, LongValueShowsItsFirst256Bytes) {
  const std::vector<std::uint8_t> bytes(300, 'A');
  collected got;
  explain::explain_text(bytes, {}, got.output());
  EXPECT_EQ(got.lines, std::vector<std::string>{"meaning 0: \"" + std::string(256, 'A') + "\"..."});
}

template <typename Table, typename Key>
void expect_strictly_ascending(const Table& table, Key key) {
  for (std::size_t i = 1; i < table.size(); ++i)
    EXPECT_LT(key(table[i - 1]), key(table[i])) << "entry " << i;
}

TEST(IsoTables, AreSortedUniqueAndHoldTheCommonCodes) {
  expect_strictly_ascending(iso_currencies(), [](const iso_currency& e) { return e.numeric; });
  expect_strictly_ascending(iso_countries(), [](const iso_country& e) { return e.numeric; });
  expect_strictly_ascending(iso_languages(), [](const iso_language& e) { return e.alpha2; });
  // The package as Debian 12 ships it; a newer one may add codes, not drop these.
  EXPECT_GE(iso_currencies().size(), 150U);
  EXPECT_GE(iso_countries().size(), 249U);
  EXPECT_GE(iso_languages().size(), 180U);

  const iso_currency* eur = find_currency(978);
  ASSERT_NE(eur, nullptr);
  EXPECT_EQ(eur->alpha3, "EUR");
  EXPECT_EQ(eur->name, "Euro");
  const iso_country* usa = find_country(840);
  ASSERT_NE(usa, nullptr);
  EXPECT_EQ(usa->alpha2, "US");
  EXPECT_EQ(usa->alpha3, "USA");
  const iso_language* en = find_language("en");
  ASSERT_NE(en, nullptr);
  EXPECT_EQ(en->name, "English");
  // The search reaches both ends of each table.
  EXPECT_EQ(find_currency(iso_currencies().front().numeric), &iso_currencies().front());
  EXPECT_EQ(find_currency(iso_currencies().back().numeric), &iso_currencies().back());
  EXPECT_EQ(find_country(iso_countries().front().numeric), &iso_countries().front());
  EXPECT_EQ(find_country(iso_countries().back().numeric), &iso_countries().back());
  EXPECT_EQ(find_language(iso_languages().front().alpha2), &iso_languages().front());
  EXPECT_EQ(find_language(iso_languages().back().alpha2), &iso_languages().back());
  EXPECT_EQ(find_currency(0), nullptr);
  EXPECT_EQ(find_country(999), nullptr);
  EXPECT_EQ(find_language("e"), nullptr);
  EXPECT_EQ(find_language("EN"), nullptr);
}

// The package lists no minor units; the project's ISO 4217 table must cover every
// currency the package names, under the same letters.
TEST(IsoTables, EveryCurrencyHasItsMinorUnit) {
  expect_strictly_ascending(iso_minor_units(), [](const iso_minor_unit& e) { return e.numeric; });
  for (const iso_currency& currency : iso_currencies()) {
    const auto& units = iso_minor_units();
    const auto row = std::find_if(units.begin(), units.end(), [&](const iso_minor_unit& e) {
      return e.numeric == currency.numeric;
    });
    ASSERT_NE(row, units.end()) << currency.alpha3 << " has no minor unit";
    EXPECT_EQ(row->alpha3, currency.alpha3) << currency.numeric;
  }
  for (const iso_minor_unit& row : iso_minor_units()) {
    EXPECT_GE(row.places, -1) << row.alpha3;
    EXPECT_LE(row.places, 4) << row.alpha3;
    EXPECT_EQ(currency_minor_unit(row.numeric), row.places) << row.alpha3;
  }
}

}  // namespace
}  // namespace emvtlv
