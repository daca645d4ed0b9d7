// The built emvtlv in pipelines it does not control: pipes a parent left non-blocking,
// driven late and slowly, and output that cannot be written.
#include <gtest/gtest.h>

#include "child_process.h"

namespace emvtlv {
namespace {

using std::chrono::milliseconds;

// About 3 MB of output: well past the 1 MB a pipe can be grown to, so a late reader
// leaves the program facing a full pipe many times over.
std::string many_records() {
  std::string input;
  for (int i = 0; i < 8000; ++i) {
    input += "5A0847617390010100105F24032712319F2608";
    input += std::to_string(10000000 + i) + "AABBCCDD\n";
    input += i % 7 == 0 ? "\n" : "9F360200019F2701809F10\n";
  }
  return input;
}

struct nonblocking_case {
  const char* name;
  test::run_options options;
};

void PrintTo(const nonblocking_case& c, std::ostream* os) {
  *os << c.name;
}

class NonBlockingPipe : public ::testing::TestWithParam<nonblocking_case> {};

TEST_P(NonBlockingPipe, GivesTheBytesAndStatusOfABlockingRun) {
  const std::string input = many_records();
  const test::run_result blocking = test::run_program(EMVTLV_PROGRAM, input);
  ASSERT_EQ(blocking.exit_status, 0);
  ASSERT_GT(blocking.out.size(), 2'000'000u);

  const test::run_result run = test::run_program(EMVTLV_PROGRAM, input, GetParam().options);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.out.size(), blocking.out.size());
  EXPECT_TRUE(run.out == blocking.out);
}

test::run_options late_slow_reader() {
  test::run_options options;
  options.nonblocking_output = true;
  options.reader = {milliseconds(300), 16384, milliseconds(1)};
  return options;
}

test::run_options late_slow_writer() {
  test::run_options options;
  options.nonblocking_input = true;
  // Steps of an odd size cut lines anywhere.
  options.writer = {milliseconds(300), 4099, milliseconds(1)};
  return options;
}

INSTANTIATE_TEST_SUITE_P(Pipes, NonBlockingPipe,
                         ::testing::Values(nonblocking_case{"Output", late_slow_reader()},
                                           nonblocking_case{"Input", late_slow_writer()}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct unwritable_case {
  const char* name;
  bool closed;  // standard output closed rather than on /dev/full
  std::string input;
};

void PrintTo(const unwritable_case& c, std::ostream* os) {
  *os << c.name;
}

class UnwritableOutput : public ::testing::TestWithParam<unwritable_case> {};

// A full disk or a closed descriptor is an error, not a reason to wait or to carry on:
// status 2 (trouble) at once, nothing on standard error.
TEST_P(UnwritableOutput, EndsAtOnceWithStatusTwo) {
  test::run_options options;
  if (GetParam().closed) {
    options.stdout_closed = true;
  } else {
    options.stdout_file = "/dev/full";
  }
  options.timeout = milliseconds(20000);  // generous: the suite also runs under valgrind
  const test::run_result run = test::run_program(EMVTLV_PROGRAM, GetParam().input, options);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, UnwritableOutput,
    ::testing::Values(unwritable_case{"DevFullNoInput", false, ""},
                      unwritable_case{"DevFullOneRecord", false, "9F2608112233\n"},
                      unwritable_case{"DevFullManyRecords", false, many_records()},
                      unwritable_case{"ClosedNoInput", true, ""},
                      unwritable_case{"ClosedManyRecords", true, many_records()}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace emvtlv
