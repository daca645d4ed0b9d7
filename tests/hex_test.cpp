#include "common/hex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/cpu.h"
#include "common/output_sink.h"

namespace emvtlv {
namespace {

// The baseline loops and, where the processor has them, the AVX2 ones.
class HexLoops : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { cpu_use_avx2(GetParam()); }
  void TearDown() override { cpu_use_avx2(true); }
};
INSTANTIATE_TEST_SUITE_P(BaselineAndWide, HexLoops, ::testing::Bool());

// Every length around the 4-, 8- and 16-byte blocks, every byte value in every lane.
TEST_P(HexLoops, EncodeMatchesPrintfForEveryLengthAndByte) {
  for (std::size_t n = 0; n <= 40; ++n) {
    for (int shift = 0; shift < 256; shift += 7) {
      std::vector<std::uint8_t> bytes(n);
      std::string expected;
      char pair[3];
      for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + static_cast<std::size_t>(shift));
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        expected += pair;
      }
      std::string got(2 * n + 1, '#');
      encode_hex_unchecked(bytes.data(), n, got.data());
      EXPECT_EQ(got, expected + "#") << "n=" << n;
    }
  }
}

// Decoding stops exactly at the first pair that is not two digits, wherever it lies:
// in the wide steps, the sixteen- and eight-pair ones, the last overlapping block or
// the single steps.
TEST_P(HexLoops, DecodeStopsAtTheFirstNonDigitPairInAnyLane) {
  const std::string digits = "0123456789abcdefABCDEF";
  const std::string breakers = std::string("gG/:@`xX -+\n\r") + '\0' + "\x80\xC6\xFF";
  for (std::size_t pairs = 0; pairs <= 56; ++pairs) {
    std::string text;
    for (std::size_t i = 0; i < 2 * pairs; ++i)
      text += digits[(i * 5 + pairs) % digits.size()];
    std::vector<unsigned> values(pairs);  // the pairs before the spoiled one keep these
    for (std::size_t i = 0; i < pairs; ++i)
      std::sscanf(text.substr(2 * i, 2).c_str(), "%2x", &values[i]);
    for (std::size_t bad = 0; bad <= 2 * pairs; ++bad) {
      for (const char breaker : breakers) {
        std::string spoiled = text;
        if (bad < spoiled.size()) spoiled[bad] = breaker;
        std::vector<std::uint8_t> got(pairs + 1, 0xEE);
        const std::size_t decoded = decode_hex_pairs_unchecked(spoiled.data(), pairs, got.data());
        const std::size_t expected = bad < spoiled.size() ? bad / 2 : pairs;
        ASSERT_EQ(decoded, expected) << spoiled;
        for (std::size_t i = 0; i < decoded; ++i)
          ASSERT_EQ(got[i], values[i]) << spoiled << " at " << i;
        ASSERT_EQ(got[pairs], 0xEE) << "wrote past the pairs";
      }
    }
  }
}

TEST(OutputSink, KeepsEverythingAcrossGrowth) {
  output_sink out;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string piece(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
    out.append(piece);
    expected += piece;
  }
  EXPECT_EQ(out.view(), expected);
  out.clear();
  out.put('x');
  EXPECT_EQ(out.view(), "x");
}

// Growing keeps what the sink held, however little: sizes around the first block.
TEST(OutputSink, KeepsWhatItHeldWhenItGrows) {
  for (const std::size_t held :
       {std::size_t{1}, std::size_t{2}, std::size_t{4095}, std::size_t{4096}}) {
    output_sink out;
    const std::string before(held, 'h');
    out.append(before);
    const std::string more(2 * held + 4096, 'm');
    out.append(more);
    EXPECT_EQ(out.view(), before + more) << held;
  }
}

}  // namespace
}  // namespace emvtlv
