#include "console/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace emvtlv {
namespace {

std::string to_hex(const std::array<std::uint8_t, record_buffer_size>& record, std::int32_t count) {
  std::string hex;
  char pair[3];
  for (std::int32_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", record[static_cast<std::size_t>(i)]);
    hex += pair;
  }
  return hex;
}

// Decodes `text` the way the console decodes one line it has read.
std::string decode_to_hex(std::string_view text) {
  std::array<char, line_buffer_size> line{};
  std::array<std::uint8_t, record_buffer_size> record{};
  return to_hex(record, decode_line(text.substr(0, max_line_chars), line, record).count);
}

// The plain road: a zero-filled buffer as fgets leaves it, cut by strcspn, every step
// through the scan.
std::string decode_plainly(std::string_view text) {
  std::array<char, line_buffer_size> line{};
  std::memcpy(line.data(), text.data(), text.size());
  line[std::strcspn(line.data(), "\n")] = '\0';
  std::array<std::uint8_t, record_buffer_size> record{};
  return to_hex(record, decode_record(line, record));
}

struct decode_case {
  std::string text;
  std::string bytes;
};

void PrintTo(const decode_case& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.text);
}

class DecodeRecord : public ::testing::TestWithParam<decode_case> {};

TEST_P(DecodeRecord, TakesPairsAtEvenOffsetsAsTheLibraryScanDoes) {
  EXPECT_EQ(decode_to_hex(GetParam().text), GetParam().bytes);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Lines, DecodeRecord,
    ::testing::Values(
        decode_case{"", ""}, decode_case{"\n", ""},
        decode_case{"5A0812345678901234565F2403251231\n", "5A0812345678901234565F2403251231"},
        decode_case{"9f26aBcD", "9F26ABCD"},
        // Odd length ends with a one-character step.
        decode_case{"5", "05"}, decode_case{"123", "1203"},
        // Malformed steps give 00 or a lone digit, and still count.
        decode_case{"ZZ", "00"}, decode_case{"5Z", "05"}, decode_case{"zz5a", "005A"},
        // White space shifts the pairing.
        decode_case{"5A 08", "5A0808"}, decode_case{"5A01 ", "5A0100"},
        decode_case{"5A01\r\n", "5A0100"}, decode_case{" 5", "05"}, decode_case{"5 5", "0505"},
        // Signs count toward the width of two; "0x" is a prefix.
        decode_case{"-1", "FF"}, decode_case{"-12", "FF02"}, decode_case{"+12", "0102"},
        decode_case{"-f", "F1"}, decode_case{"0x", "00"}, decode_case{"0x5", "0005"},
        // A NUL ends each scan, not the decoding.
        decode_case{"A\0B\n"s, "0A0B"}, decode_case{"A\0BC\n"s, "0ABC00"}, decode_case{"\0"s, ""},
        // 511 characters make 256 bytes; nothing more is ever taken.
        decode_case{std::string(511, '1'), std::string(510, '1') + "01"}));

// The fast path must agree with sscanf("%2hhx") everywhere it answers.
TEST(ScanHexStep, EqualsTheLibraryScanOnShortWindows) {
  auto library = [](const char* text) {
    unsigned char value = 0;
    std::sscanf(text, "%2hhx", &value);
    return value;
  };
  std::string alphabet = "0123456789abcdefABCDEFgGxXzZ+- \t\n\r\v\f";
  alphabet += '\0';
  for (int b = 0x80; b <= 0xFF; b += 0x1F)
    alphabet += static_cast<char>(b);
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const char text[3] = {static_cast<char>(a), static_cast<char>(b), '\0'};
      ASSERT_EQ(scan_hex_step(text), library(text)) << a << "," << b;
    }
  }
  for (char a : alphabet)
    for (char b : alphabet)
      for (char c : alphabet) {
        const char text[4] = {a, b, c, '\0'};
        ASSERT_EQ(scan_hex_step(text), library(text)) << int{a} << "," << int{b} << "," << int{c};
      }
}

// The shortcut for lines of plain pairs must give what the plain road gives, for
// every line, and for lines that take the plain road after a dirty line buffer.
TEST(DecodeLine, AgreesWithThePlainRoad) {
  const std::string pieces[] = {"5A",
                                "9f",
                                "00",
                                "A",
                                " ",
                                "-1",
                                "+",
                                "0x",
                                "\r",
                                "zz",
                                std::string(1, '\0'),
                                "\xC3\xA9",
                                std::string(40, 'F')};
  std::array<char, line_buffer_size> line{};
  line.fill('7');  // what a longer earlier line could have left
  std::array<std::uint8_t, record_buffer_size> record{};
  std::uint32_t seed = 12345;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    while (text.size() < 600) {
      seed = seed * 1103515245u + 12345u;
      const std::size_t pick = (seed >> 16) % (std::size(pieces) + 6);
      if (pick >= std::size(pieces) || text.size() > (seed >> 8) % 520) break;
      text += pieces[pick];
    }
    text = text.substr(0, max_line_chars - 1);
    if ((seed >> 4) % 2 == 0) text += '\n';
    const std::string got = to_hex(record, decode_line(text, line, record).count);
    ASSERT_EQ(got, decode_plainly(text)) << ::testing::PrintToString(text);
  }
}

// An in-memory console: input handed out in chunks of a chosen size, output collected.
struct memory_console {
  std::string input;
  std::size_t chunk = SIZE_MAX;
  std::size_t taken = 0;
  bool fail_reads_at_end = false;
  bool output_gone = false;
  std::string output;
  std::vector<std::string> output_at_each_read;

  int run() {
    input_source in{this, [](void* self, char* buffer, std::size_t capacity) -> std::ptrdiff_t {
                      auto& c = *static_cast<memory_console*>(self);
                      c.output_at_each_read.push_back(c.output);
                      const std::size_t n = std::min({capacity, c.chunk, c.input.size() - c.taken});
                      if (n == 0 && c.fail_reads_at_end) return -1;
                      std::memcpy(buffer, c.input.data() + c.taken, n);
                      c.taken += n;
                      return static_cast<std::ptrdiff_t>(n);
                    }};
    output_target out{this, [](void* self, const char* data, std::size_t size) {
                        auto& c = *static_cast<memory_console*>(self);
                        if (c.output_gone) return false;
                        c.output.append(data, size);
                        return true;
                      }};
    return run_console(in, out);
  }
};

const std::string start = "EMV Parser\n";
const std::string ask = "Input EMV record encoded in TLV format: \n";

struct session_case {
  std::string input;
  std::string output;  // after the banner
};

void PrintTo(const session_case& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.input.substr(0, 40));
}

class Session : public ::testing::TestWithParam<session_case> {};

TEST_P(Session, GivesTheSameBytesHoweverTheInputArrives) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{511}, SIZE_MAX}) {
    memory_console console;
    console.input = GetParam().input;
    console.chunk = chunk;
    EXPECT_EQ(console.run(), 0);
    EXPECT_EQ(console.output, start + GetParam().output) << "chunk " << chunk;
    // Everything printed so far, prompt included, is out before each read.
    for (const std::string& before : console.output_at_each_read)
      EXPECT_TRUE(before.ends_with("format: ")) << "chunk " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Session,
    ::testing::Values(
        session_case{"", ask}, session_case{"\n", ask + ask},
        session_case{"5F2403251231\n9F270180\n", ask + "Application Expiration Date: 251231\n" +
                                                     ask + "Cryptogram Information Data: 80\n" +
                                                     ask},
        // A lone last digit is a byte of its own: 5F24 02 12 03, four digits.
        session_case{"5F2402123\n", ask + "Application Expiration Date: 1203\n" + ask},
        // A card number ending there is cut short: none of its digits shows.
        session_case{"5702123\n", ask + "Track 2 Equivalent Data: XXXX\n" + ask},
        // A last line without a newline is still a record.
        session_case{"9F270180", ask + "Cryptogram Information Data: 80\n" + ask},
        // 511 characters fill the read; the newline left over is an empty record.
        session_case{"7081FF" + std::string(505, 'A') + "\n",
                     ask + "READ RECORD Response Message Template: " + std::string(504, 'A') +
                         "0A\n" + ask + ask},
        // A 512th character becomes a record of its own.
        session_case{"7081FF" + std::string(505, 'A') + "8\n",
                     ask + "READ RECORD Response Message Template: " + std::string(504, 'A') +
                         "0A\n" + ask + "unknown tag\n" + ask}));

TEST(Console, ReadErrorEndsWithANewlineAndStatusOne) {
  memory_console console;
  console.input = "9F270180\n5A";
  console.fail_reads_at_end = true;
  EXPECT_EQ(console.run(), 1);
  // The partial line is dropped, as fgets drops it on an error.
  EXPECT_EQ(console.output, start + ask + "Cryptogram Information Data: 80\n" + ask);
}

TEST(Console, StopsWithStatusOneWhenOutputIsGone) {
  memory_console console;
  console.input = std::string(100, '\n');
  console.output_gone = true;
  EXPECT_EQ(console.run(), 1);
  EXPECT_EQ(console.taken, 0u) << "it must not read on after the output has gone";
}

}  // namespace
}  // namespace emvtlv
