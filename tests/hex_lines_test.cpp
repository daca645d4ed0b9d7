#include "tree/hex_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"

namespace emvtlv {
namespace {

using namespace std::string_literals;

// Input from memory, handed out `chunk` bytes a read; after the input, `fail` makes
// the next read an error instead of the end.
struct memory_input {
  std::string_view text;
  std::size_t chunk = 0;
  bool fail = false;
  std::size_t taken = 0;
};

std::ptrdiff_t read_memory(void* context, char* buffer, std::size_t capacity) {
  auto& in = *static_cast<memory_input*>(context);
  if (in.taken == in.text.size() && in.fail) return -1;
  const std::size_t n = std::min({capacity, in.chunk, in.text.size() - in.taken});
  std::memcpy(buffer, in.text.data() + in.taken, n);
  in.taken += n;
  return static_cast<std::ptrdiff_t>(n);
}

// Every line the reader gives, one per text line: "N record HEX", "N blank" or
// "N bad COLUMN MESSAGE"; then "end" or "read error".
std::string read_all(std::string_view text, std::size_t chunk, bool fail = false) {
  const auto reader = std::make_unique<hex_line_reader>();
  memory_input in{text, chunk, fail};
  const input_source source{&in, read_memory};
  std::string dump;
  hex_line line;
  for (;;) {
    const hex_line_reader::status got = reader->next(line);
    if (got == hex_line_reader::status::need_input) {
      reader->fill(source);
      continue;
    }
    if (got == hex_line_reader::status::end_of_input) return dump + "end";
    if (got == hex_line_reader::status::read_error) return dump + "read error";
    dump += std::to_string(line.number);
    if (line.what == hex_line::kind::blank) {
      dump += " blank\n";
    } else if (line.what == hex_line::kind::bad) {
      dump += " bad " + std::to_string(line.column) + " " + std::string(line.message) + "\n";
    } else {
      std::string hex(2 * line.bytes.size(), '?');
      encode_hex_unchecked(line.bytes.data(), line.bytes.size(), hex.data());
      dump += " record " + hex + "\n";
    }
  }
}

struct hex_line_case {
  std::string input;
  std::string lines;  // read_all's dump
};

void PrintTo(const hex_line_case& c, std::ostream* os) {
  *os << testing::PrintToString(c.input.substr(0, 80));
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i)
    text += piece;
  return text;
}

std::vector<hex_line_case> long_lines() {
  const std::string full = repeat("AB", max_tree_record_bytes);
  return {
      {full + "\n6F\n", "1 record " + full + "\n2 record 6F\nend"},
      {repeat("ab:", max_tree_record_bytes) + "\n", "1 record " + full + "\nend"},
      {full + "CD\n6F\n", "1 bad 131073 record longer than 65536 bytes\n2 record 6F\nend"},
      {full + "C\n", "1 bad 131073 record longer than 65536 bytes\nend"},
      {repeat("AB ", max_tree_record_bytes) + "CD",
       "1 bad 196609 record longer than 65536 bytes\nend"},
      // Only the first problem counts, however much follows it.
      {full + "CD" + repeat("Z", 300000) + "\n1A",
       "1 bad 131073 record longer than 65536 bytes\n2 record 1A\nend"},
      {"Z" + repeat("0", 1000000) + "\n1A", "1 bad 1 'Z' is not a hex digit\n2 record 1A\nend"},
  };
}

class HexLines : public testing::TestWithParam<hex_line_case> {};

// Whatever sizes the reads come in, the lines are the same.
TEST_P(HexLines, ReadAlikeInAnyChunks) {
  const hex_line_case& c = GetParam();
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                                  std::size_t{4096}, std::size_t{1} << 30}) {
    if (chunk < 7 && c.input.size() > 200000) continue;  // slow, and nothing new
    EXPECT_EQ(read_all(c.input, chunk), c.lines) << "reads of " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, HexLines,
    testing::ValuesIn(std::vector<hex_line_case>{
        hex_line_case{"6F1A84\n", "1 record 6F1A84\nend"},
        hex_line_case{"6f 1a 84\n", "1 record 6F1A84\nend"},
        hex_line_case{"6F:1A:84\n", "1 record 6F1A84\nend"},
        hex_line_case{"6F-1A-84\n", "1 record 6F1A84\nend"},
        hex_line_case{"\t6F\t1a  84 \r\n", "1 record 6F1A84\nend"},
        hex_line_case{"6F1A84\r\n9000\r\n", "1 record 6F1A84\n2 record 9000\nend"},
        hex_line_case{": -6F::1A--\r\r84-:\n", "1 record 6F1A84\nend"},
        hex_line_case{"0123456789abcdefABCDEF\n", "1 record 0123456789ABCDEFABCDEF\nend"},
        hex_line_case{"6F1A84", "1 record 6F1A84\nend"},
        hex_line_case{"6F\n1A", "1 record 6F\n2 record 1A\nend"},
        hex_line_case{"", "end"},
        hex_line_case{"\n", "1 blank\nend"},
        hex_line_case{"\n \n\t\r\n:-\n\r", "1 blank\n2 blank\n3 blank\n4 blank\n5 blank\nend"},
        // Bad lines: the first problem, its column; the next line reads as usual.
        hex_line_case{"6F1A840E3150415Z\n9000\n",
                      "1 bad 16 'Z' is not a hex digit\n2 record 9000\nend"},
        hex_line_case{"6 F\n", "1 bad 2 ' ' inside a hex pair\nend"},
        hex_line_case{"6F 1:A\n", "1 bad 5 ':' inside a hex pair\nend"},
        hex_line_case{"6F 1\t-A\n", "1 bad 5 '\\x09' inside a hex pair\nend"},
        hex_line_case{"6\rF\r\n", "1 bad 2 '\\x0D' inside a hex pair\nend"},
        hex_line_case{"6F1\n", "1 bad 3 odd number of hex digits\nend"},
        hex_line_case{"6F 1 \r\n", "1 bad 4 odd number of hex digits\nend"},
        hex_line_case{"6F1", "1 bad 3 odd number of hex digits\nend"},
        hex_line_case{"6F1Z\n", "1 bad 4 'Z' is not a hex digit\nend"},
        hex_line_case{"6 Z\n", "1 bad 3 'Z' is not a hex digit\nend"},
        hex_line_case{"6 F Z 1\n", "1 bad 2 ' ' inside a hex pair\nend"},
        // Pasted from C or a spreadsheet: a 0x before a pair, commas between pairs.
        hex_line_case{"0x6F\n", "1 record 6F\nend"},
        hex_line_case{"6F,1A\n", "1 record 6F1A\nend"},
        hex_line_case{"0x9F,0x36,0x02\n", "1 record 9F3602\nend"},
        hex_line_case{"0X9f, 0x36 ,0x00, 0x01\r\n", "1 record 9F360001\nend"},
        hex_line_case{"{0x9F, 0x27, 0x01}\n", "1 bad 1 '{' is not a hex digit\nend"},
        hex_line_case{"0x9F0x270x01\n", "1 record 9F2701\nend"},
        hex_line_case{"0x00\n", "1 record 00\nend"},
        hex_line_case{"000x00\n", "1 record 0000\nend"},
        hex_line_case{"10x9F\n", "1 bad 3 'x' is not a hex digit\nend"},
        hex_line_case{"0x0x9F\n", "1 bad 4 'x' is not a hex digit\nend"},
        hex_line_case{"0 x9F\n", "1 bad 3 'x' is not a hex digit\nend"},
        hex_line_case{"9F,0x\n", "1 bad 4 0x without a hex pair\nend"},
        hex_line_case{"9F 0x 27\n", "1 bad 4 0x without a hex pair\nend"},
        hex_line_case{"0x", "1 bad 1 0x without a hex pair\nend"},
        hex_line_case{"0x9\n", "1 bad 3 odd number of hex digits\nend"},
        hex_line_case{"0x9,F\n", "1 bad 4 ',' inside a hex pair\nend"},
        hex_line_case{",,\n", "1 blank\nend"},
        hex_line_case{"6F;1A\n", "1 bad 3 ';' is not a hex digit\nend"},
        hex_line_case{"6F\x00"s + "1A\n", "1 bad 3 '\\x00' is not a hex digit\nend"},
        hex_line_case{"\x80\n", "1 bad 1 '\\x80' is not a hex digit\nend"},
        hex_line_case{"6F\xFF\n", "1 bad 3 '\\xFF' is not a hex digit\nend"},
        hex_line_case{"6F\x7F\n", "1 bad 3 '\\x7F' is not a hex digit\nend"},
        hex_line_case{"6F\x1B[0m\n", "1 bad 3 '\\x1B' is not a hex digit\nend"},
        hex_line_case{"\v6F\n", "1 bad 1 '\\x0B' is not a hex digit\nend"},
        hex_line_case{"\n6F1A\nZZ\n\n5A",
                      "1 blank\n2 record 6F1A\n3 bad 1 'Z' is not a hex digit\n"
                      "4 blank\n5 record 5A\nend"},
    }));

INSTANTIATE_TEST_SUITE_P(Long, HexLines, testing::ValuesIn(long_lines()));

// A read error ends the input: complete lines before it count, the cut one does not.
TEST(HexLines, ReadErrorDropsTheCutLine) {
  EXPECT_EQ(read_all("6F\n1A", 1, true), "1 record 6F\nread error");
  EXPECT_EQ(read_all("6F\n1A\n", 4096, true), "1 record 6F\n2 record 1A\nread error");
  EXPECT_EQ(read_all("", 4096, true), "read error");
}

// A reader started over forgets the input it was in, cut line and line count alike.
TEST(HexLines, ResetStartsANewInput) {
  const auto owner = std::make_unique<hex_line_reader>();
  hex_line_reader& reader = *owner;
  memory_input first{"6F\n1A 2", 4096};
  reader.fill({&first, read_memory});
  hex_line line;
  ASSERT_EQ(reader.next(line), hex_line_reader::status::line);
  ASSERT_EQ(reader.next(line), hex_line_reader::status::need_input);
  reader.reset();
  memory_input second{"B\n", 4096};
  reader.fill({&second, read_memory});
  ASSERT_EQ(reader.next(line), hex_line_reader::status::line);
  EXPECT_EQ(line.number, 1u);
  EXPECT_EQ(line.what, hex_line::kind::bad);  // not 1A2B: the cut line is gone
  EXPECT_EQ(line.column, 1u);
  EXPECT_EQ(line.message, "odd number of hex digits");
}

}  // namespace
}  // namespace emvtlv
