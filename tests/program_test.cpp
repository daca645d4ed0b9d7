// The built emvtlv, run over pipes and compared byte for byte.
#include <gtest/gtest.h>

#include "child_process.h"

namespace emvtlv {
namespace {

using namespace std::string_literals;
using std::chrono::milliseconds;

const std::string banner = "EMV Parser\n";
const std::string prompt = "Input EMV record encoded in TLV format: ";
const std::string ask = prompt + "\n";

struct pipe_case {
  const char* name;
  std::string input;
  std::string output;  // after the banner
};

void PrintTo(const pipe_case& c, std::ostream* os) {
  *os << c.name;
}

class Piped : public ::testing::TestWithParam<pipe_case> {};

TEST_P(Piped, WritesExactlyTheseBytesAndExitsZero) {
  const test::run_result run = test::run_program(EMVTLV_PROGRAM, GetParam().input);
  EXPECT_EQ(run.out, banner + GetParam().output);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, Piped,
    ::testing::Values(
        pipe_case{"NoInput", "", ask}, pipe_case{"EmptyLine", "\n", ask + ask},
        pipe_case{"OneRecord", "9F2608112233\n", ask + "Application Cryptogram: 112233\n" + ask},
        pipe_case{"LastLineWithoutNewline", "9F36020001",
                  ask + "Application Transaction Counter (ATC): 0001\n" + ask},
        // 9F 27 80 00: the step at offset 4 skips the space and reads 80.
        pipe_case{"SpaceShiftsPairs", "9F27 80\n",
                  ask + "Cryptogram Information Data: \nunknown tag\n" + ask},
        // 5A 08 08: the PAN's other seven octets lie past the record and print 00,
        // even after a full PAN in an earlier record.
        pipe_case{"SpaceInPan", "5A081234567890123456\n5A 08\n",
                  ask + "Application Primary Account Number (PAN): XXXXXXXXXXXX3456\n" + ask +
                      "Application Primary Account Number (PAN): XXXXXXXXXXXX0000\n" + ask},
        pipe_case{"Signs", "9F2702-1+1\n", ask + "Cryptogram Information Data: FF01\n" + ask},
        pipe_case{"OddLength", "9F27015\n", ask + "Cryptogram Information Data: 05\n" + ask},
        pipe_case{"NulInsideLine", "9F2702A\0B\n"s,
                  ask + "Cryptogram Information Data: 0A0B\n" + ask},
        pipe_case{"CarriageReturn", "9F2701\r\n", ask + "Cryptogram Information Data: 00\n" + ask},
        pipe_case{"Line511", "7081FF" + std::string(505, '9') + "\n",
                  ask + "READ RECORD Response Message Template: " + std::string(504, '9') + "09\n" +
                      ask + ask},
        pipe_case{"Line512", "7081FF" + std::string(505, '9') + "8\n",
                  ask + "READ RECORD Response Message Template: " + std::string(504, '9') + "09\n" +
                      ask + "unknown tag\n" + ask}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Piped, UnreadableInputEndsWithANewlineAndStatusTwo) {
  const test::run_result run = test::run_program_with_stdin_file(EMVTLV_PROGRAM, "/");
  EXPECT_EQ(run.out, banner + ask);
  EXPECT_EQ(run.exit_status, 2);
}

// A person at the prompt: each line is typed only once the prompt has arrived, so a
// program that holds its output back until exit cannot pass.
TEST(Interactive, EveryPromptArrivesBeforeTheNextLineIsTyped) {
  test::driven_program program(EMVTLV_PROGRAM);
  const milliseconds patience(30000);  // generous: the suite also runs under valgrind
  ASSERT_TRUE(program.wait_for_suffix(banner + prompt, patience)) << program.received();
  const std::string lines[] = {"9F2608112233\n", "\n", "DF01\n", "9F270180\n"};
  for (const std::string& line : lines) {
    program.write(line);
    ASSERT_TRUE(program.wait_for_suffix("\n" + prompt, patience)) << program.received();
  }
  program.close_input();
  const test::run_result run = program.finish(patience);
  EXPECT_EQ(run.out, banner + ask + "Application Cryptogram: 112233\n" + ask + ask +
                         "unknown tag\n" + ask + "Cryptogram Information Data: 80\n" + ask);
  EXPECT_EQ(run.exit_status, 0);
}

}  // namespace
}  // namespace emvtlv
