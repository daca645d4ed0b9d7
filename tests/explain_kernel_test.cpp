// The kernels' own fields read by the kernel the AID names, and never by another's
// table; 9F2A and 91, which every kernel shares.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "explain_collector.h"

namespace emvtlv::test {
namespace {

using enum emv_kernel;

explain_context under(emv_kernel kernel) {
  explain_context c;
  c.kernel = kernel;
  return c;
}

struct kernel_case {
  std::uint64_t tag;
  std::string value;
  emv_kernel kernel;
  std::vector<std::string> items;
};

void PrintTo(const kernel_case& c, std::ostream* os) {
  *os << std::hex << std::uppercase << c.tag << " " << c.value;
}

class KernelFields : public testing::TestWithParam<kernel_case> {};

TEST_P(KernelFields, ReadByTheirKernel) {
  EXPECT_EQ(explain_hex(GetParam().tag, GetParam().value, under(GetParam().kernel)),
            GetParam().items);
}

const kernel_case cases[] = {
    // 9F6E: three kernels, three meanings; with none known, none is taken.
    {0x9F6E,
     "23880000",
     c3,
     {"field 0 version: 1", "field 0 form factor: consumer mobile phone",
      "bit 0 byte 2 b8: passcode capable", "bit 0 byte 2 b4: two-way messaging",
      "field 0 technology: ISO 14443 contactless (including NFC)"}},
    {0x9F6E, "43880000", c3, {"field 0 version: 2: layout not known"}},
    {0x9F6E,
     "0840000000",
     c2,
     {"field 0 country: 840 United States of America",
      "field 0 unique identifier: 0000: no proprietary data", "field 0 proprietary data: 1 byte"}},
    {0x9F6E,
     "08268003AA",
     c2,
     {"field 0 country: 826 United Kingdom of Great Britain and Northern Ireland",
      "field 0 unique identifier: 8003: Mastercard product extension",
      "field 0 proprietary data: 1 byte"}},
    {0x9F6E,
     "D8F0C083",
     c4,
     {"bit 0 byte 1 b8: contact mode supported", "bit 0 byte 1 b7: mag-stripe mode supported",
      "bit 0 byte 1 b5: partial online mode supported", "bit 0 byte 1 b4: mobile supported",
      "bit 0 byte 2 b8: mobile CVM supported", "bit 0 byte 2 b7: online PIN supported",
      "bit 0 byte 2 b6: signature supported", "bit 0 byte 2 b5: plaintext offline PIN supported",
      "bit 0 byte 3 b8: reader is offline only", "bit 0 byte 3 b7: CVM required",
      "bit 0 byte 4 b8: terminal exempt from No CVM checks",
      "field 0 C-4 kernel version: 3: 2.7 and later"}},
    {0x9F6E,
     "23880000",
     unknown,
     {"meaning 0 kernel-specific (C-2, C-3 and C-4 read it differently): no AID says which "
      "kernel"}},
    {0x9F6E,
     "23880000",
     c6,
     {"meaning 0 not defined under C-6 (C-2, C-3 and C-4 read it differently)"}},
    // 9F6D.
    {0x9F6D, "C8", c4, {"field 0 EMV and mag-stripe, CVM required"}},
    {0x9F6D, "80", c4, {"field 0 deprecated"}},
    {0x9F6D, "0001", c2, {"meaning 0 version 0001"}},
    {0x9F6D, "C8", c3, {"meaning 0 not defined under C-3 (C-2 and C-4 read it differently)"}},
    // 9F5D: ACI under C-2, an amount under C-3, by length with no kernel.
    {0x9F5D,
     "210503",
     c2,
     {"field 0 ACI version: 2", "field 0 data storage version: 1",
      "bit 0 byte 2 b3: field off detection supported",
      "bit 0 byte 2 b1: CDA supported over TC, ARQC and AAC",
      "field 0 SDS scheme indicator: 03: all 10 tags of 64 bytes"}},
    {0x9F5D, "000000010000", c3, {"meaning 0 10000, exponent unknown"}},
    {0x9F5D,
     "000000010000",
     unknown,
     {"field 0 reading: Available Offline Spending Amount (by length)",
      "meaning 0 10000, exponent unknown"}},
    {0x9F5D,
     "000000010000",
     c2,
     {"problem 0 Application Capabilities Information: 3 bytes expected, 6 given"}},
    // 9F1D: C-2's; another kernel's AID leaves it unread.
    {0x9F1D,
     "8001",
     c2,
     {"bit 0 byte 1 b8: restart supported (C-2)", "rfu 0 byte 2 b1: RFU bit set: byte 2 b1"}},
    {0x9F1D, "80", unknown, {"bit 0 byte 1 b8: restart supported (kernel-specific)"}},
    {0x9F1D, "80", c3, {"meaning 0 not defined under C-3 (C-2)"}},
    // 9F6C, the CTQ, is C-3's and C-7's.
    {0x9F6C, "8000", c7, {"bit 0 byte 1 b8: Online PIN required"}},
    {0x9F6C, "8000", c2, {"meaning 0 not defined under C-2 (C-3 and C-7)"}},
    // 9F2A.
    {0x9F2A,
     "03",
     c3,
     {"field 0 kernel type: international", "field 0 short kernel ID: 3 (C-3, Visa)"}},
    {0x9F2A,
     "8512",
     unknown,
     {"field 0 kernel type: domestic, EMVCo format", "field 0 short kernel ID: 5",
      "field 0 extended kernel ID: 12"}},
    // 91: method 1 when 10 bytes, method 2 otherwise, with the CSU read.
    {0x91,
     "11223344556677883030",
     unknown,
     {"field 0 reading: ARPC + ARC (method 1, by length)", "field 0 ARPC: 1122334455667788",
      "field 0 ARC: 3030 \"00\""}},
    {0x91,
     "1122334403800000",
     unknown,
     {"field 0 reading: ARPC + CSU (method 2, by length)", "field 0 ARPC: 11223344",
      "field 0 CSU: 03800000", "bit 1 byte 2 b8: issuer approves online transaction",
      "field 1 PIN try counter: 3", "field 1 update counters: do not update",
      "field 1 issuer discretionary: 00", "field 0 proprietary authentication data: none"}},
    {0x91,
     "11223344",
     unknown,
     {"problem 0 Issuer Authentication Data: 8 to 16 bytes expected, 4 given"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, KernelFields, testing::ValuesIn(cases));

// A kernel's field under every other kernel either is not read or is read by its own
// table: the texts never mix two kernels' meanings.
TEST(KernelFields, NoKernelReadsAnothersTable) {
  for (const emv_kernel kernel : {c4, c5, c6, c7, domestic, contact}) {
    const auto items = explain_hex(0x9F6E, "23880000", under(kernel));
    for (const std::string& item : items)
      EXPECT_EQ(item.find("passcode"), std::string::npos) << item;
  }
}

// Any length and any bytes, under every kernel: every item has a text, and the same
// value reads the same way twice.
TEST(KernelFields, AnyValueReadsWholeAndTheSameTwice) {
  std::uint32_t state = 12345;
  for (const std::uint64_t tag : {0x91ULL, 0x9F10ULL, 0x9F1DULL, 0x9F2AULL, 0x9F5DULL, 0x9F6DULL,
                                  0x9F6EULL, 0x95ULL, 0x9F66ULL})
    for (const emv_kernel kernel : {unknown, c2, c3, c4, c5, c6, c7, domestic, contact})
      for (std::size_t size = 0; size <= 34; ++size) {
        std::string hex;
        for (std::size_t i = 0; i < size; ++i) {
          state = state * 1103515245U + 12345U;
          const unsigned byte = (state >> 16) & 0xFF;
          hex += "0123456789ABCDEF"[byte >> 4];
          hex += "0123456789ABCDEF"[byte & 0xF];
        }
        const auto first = explain_hex(tag, hex, under(kernel));
        EXPECT_EQ(first, explain_hex(tag, hex, under(kernel)));
        for (const std::string& item : first)
          EXPECT_NE(item.back(), ' ') << std::hex << tag << " " << hex << ": " << item;
      }
}

}  // namespace
}  // namespace emvtlv::test
