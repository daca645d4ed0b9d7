#include "card/card_printers.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace emvtlv {
namespace {

using test::record_case;
using test::walk;

const std::string pan = "Application Primary Account Number (PAN): ";
const std::string iin = "Issuer Identification Number (IIN): ";
const std::string numeric = "only numeric values allowed\n";
const std::string too_short = "PAN length must be at least 4 bytes\n";
const std::string too_long = "PAN length can only be up to 10 bytes\n";
const std::string refused = "length bytes not allowed to be greater than 3\n";

class CardPrinters : public ::testing::TestWithParam<record_case> {};

TEST_P(CardPrinters, PrintExactly) {
  EXPECT_EQ(walk(GetParam().record), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Pan, CardPrinters,
    ::testing::Values(
        record_case{"5A081234567890123456", pan + "XXXXXXXXXXXX3456\n"},
        record_case{"5A0412345678", pan + "XXXX5678\n"},
        // 9 is a digit in either half; A is not.
        record_case{"5A0419991999", pan + "XXXX1999\n"}, record_case{"5A04999A1234", pan + numeric},
        record_case{"5A0A12345678901234567890", pan + std::string(16, 'X') + "7890\n"},
        record_case{"5A03123456", pan + too_short},
        record_case{"5A0B1234567890123456789012", pan + too_long},
        record_case{"5A00", pan + too_short}, record_case{"5A", pan + too_short},
        // Any half from A to F fails, the F pad of an odd-length number included.
        record_case{"5A04123F5678", pan + numeric}, record_case{"5A05123456789F", pan + numeric},
        record_case{"5A04A2345678", pan + numeric},
        // The digit test runs first, over every declared octet.
        record_case{"5A0212AB", pan + numeric},
        record_case{"5A0B1234567890123456789F2701", pan + numeric + "unknown tag\n"},
        // Cut short by the record's end: what the record does not hold prints 00.
        record_case{"5A0812", pan + std::string(12, 'X') + "0000\n"},
        record_case{"5A04123456", pan + "XXXX5600\n"},
        // A cut-short number hides every digit it shows, the copied last octet included.
        record_case{"5A0A123456789012345678", pan + std::string(18, 'X') + "00\n"},
        // A refused length field: the printer runs with length 0, on its own line.
        record_case{"5A830102030405", pan + refused + too_short + "unknown tag\n"},
        record_case{"5A0412345678"
                    "9F270180",
                    pan + "XXXX5678\nCryptogram Information Data: 80\n"}));

INSTANTIATE_TEST_SUITE_P(
    Iin, CardPrinters,
    ::testing::Values(
        record_case{"42021234", iin + "1234\n"}, record_case{"42021999", iin + "1999\n"},
        record_case{"42029A12", iin + numeric},
        // Octets after the second are neither checked nor printed, but skipped.
        record_case{"42031234569F2608", iin + "1234\nApplication Cryptogram: \n"},
        record_case{"420312349A", iin + "1234\n"}, record_case{"420212A4", iin + numeric},
        record_case{"4202A412", iin + numeric},
        // Two octets are checked whatever the length: here the next element's header.
        record_case{"4201129F270180", iin + numeric + "Cryptogram Information Data: 80\n"},
        record_case{"420112", iin + "1200\n"}, record_case{"4200", iin + "0000\n"},
        // Positions the value does not reach print 00.
        record_case{"4202", iin + "0000\n"}, record_case{"420212", iin + "1200\n"},
        record_case{"42811234", iin + "3400\n"},
        record_case{"42FF", iin + refused + numeric + "unknown tag\n"}));

// A record prints the same whatever came before it in the same process.
TEST(CardPrinters, OutputDoesNotDependOnEarlierRecords) {
  const std::string records[] = {"5A0812", "5A04123456", "4202", "420212", "5A0A1234"};
  for (const std::string& record : records) {
    const std::string fresh = walk(record);
    walk("5A0A98765432109876543210");
    walk("5A081234567890123456");
    walk("42029999");
    EXPECT_EQ(walk(record), fresh) << record;
  }
}

}  // namespace
}  // namespace emvtlv
