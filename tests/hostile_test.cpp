// The built emvtlv fed whatever a terminal or a log can hold: every byte value, lines
// of any length, no newline at all, a reader that goes away. It must never crash,
// hang or write to standard error, and each record prints what it prints alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "child_process.h"
#include "fuzz_support.h"

namespace emvtlv {
namespace {

using std::chrono::milliseconds;

const std::string ask = std::string(prompt) + "\n";

// Runs the program on `input` and checks the whole output against each line decoded
// on its own in this process: nothing may come from another record or from outside
// the input.
void expect_isolated_records(const std::string& input) {
  const test::run_result run = test::run_program(EMVTLV_PROGRAM, input);
  ASSERT_EQ(run.exit_status, 0) << "signal " << run.signal;
  EXPECT_EQ(run.err, "");
  std::string expected(banner);
  for (const std::string_view line : fuzz::cut_lines(input)) {
    const fuzz::decoded_line decoded = fuzz::decode_and_walk(line);
    fuzz::check_record_output(decoded);
    expected += ask + decoded.output;
  }
  expected += ask;
  ASSERT_EQ(run.out.size(), expected.size());
  EXPECT_TRUE(run.out == expected);
}

std::size_t count_prompts(const std::string& output) {
  std::size_t count = 0;
  for (std::size_t at = output.find(prompt); at != std::string::npos;
       at = output.find(prompt, at + 1))
    ++count;
  return count;
}

TEST(Hostile, EveryByteValueInsideALine) {
  std::string input;
  for (int b = 0; b < 256; ++b) {
    if (b == '\n') continue;
    const char c = static_cast<char>(b);
    input += std::string("5A0812") + c + "4567890123" + c + "56\n";
    input += std::string("9F10") + c + c + "AB" + c + "\n";
  }
  for (int b = 0; b < 256; ++b) {
    if (b != '\n') input += static_cast<char>(b);
  }
  input += '\n';
  expect_isolated_records(input);
}

TEST(Hostile, LinesOfEveryAwkwardLength) {
  const std::string pattern = "5A0812345678901234569F2701805A83";
  for (const std::size_t length : {0u, 1u, 510u, 511u, 512u, 513u, 4096u, 1000000u}) {
    std::string line;
    while (line.size() < length)
      line += pattern;
    line.resize(length);
    SCOPED_TRACE(length);
    expect_isolated_records(line + "\n");
    // A line of n characters is n / 511 full reads and one more through the newline.
    const test::run_result run = test::run_program(EMVTLV_PROGRAM, line + "\n");
    EXPECT_EQ(count_prompts(run.out), length / max_line_chars + 2);
  }
}

TEST(Hostile, StreamWithNoNewlineAtAll) {
  std::string input;
  while (input.size() < 100000)
    input += "9F2608AABBCCDD 1122335A0412345678";
  expect_isolated_records(input);
}

TEST(Hostile, AMillionEmptyLines) {
  const test::run_result run = test::run_program(EMVTLV_PROGRAM, std::string(1000000, '\n'));
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  std::string expected(banner);
  for (int i = 0; i <= 1000000; ++i)
    expected += ask;
  EXPECT_TRUE(run.out == expected);
}

// emvtlv < big | head -c 100: it must end at once, quietly.
TEST(Hostile, ReaderThatGoesAwayEarly) {
  char path[] = "/tmp/emvtlv-hostile-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  {
    std::ofstream big(path, std::ios::binary);
    for (int i = 0; i < 200000; ++i)
      big << "5A0812345678901234569F36020001\n";
  }
  const test::run_result run =
      test::run_closing_output_early(EMVTLV_PROGRAM, path, 100, milliseconds(30000));
  std::remove(path);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.out.size(), 100u);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.signal == SIGPIPE || run.exit_status == 2)
      << "status " << run.exit_status << ", signal " << run.signal;
}

}  // namespace
}  // namespace emvtlv
