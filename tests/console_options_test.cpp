// The console's quiet and numbered output, run in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"

namespace emvtlv {
namespace {

// Runs the console over `input`, handed out `chunk` bytes a read.
std::string run_in_memory(const std::string& input, const console_options& options,
                          std::size_t chunk) {
  struct memory {
    const std::string* input;
    std::size_t taken;
    std::size_t chunk;
    std::string output;
  } m{&input, 0, chunk, {}};
  const input_source in{
      &m, [](void* self, char* buffer, std::size_t capacity) {
        auto& c = *static_cast<memory*>(self);
        const std::size_t n = std::min({capacity, c.chunk, c.input->size() - c.taken});
        std::memcpy(buffer, c.input->data() + c.taken, n);
        c.taken += n;
        return static_cast<std::ptrdiff_t>(n);
      }};
  const output_target out{&m, [](void* self, const char* text, std::size_t n) {
                            static_cast<memory*>(self)->output.append(text, n);
                            return true;
                          }};
  EXPECT_EQ(run_console(in, out, options), 0);
  return m.output;
}

const std::string ask = std::string(prompt) + "\n";

// 1,000 characters: read as a 511-character record, then the other 489 and the newline.
const std::string long_line =
    "9F270180" + std::string(502, '0') + "0" + "9F36020001" + std::string(478, '0') + "9\n";

struct options_case {
  const char* name;
  bool quiet;
  bool line_numbers;
  std::string input;
  std::string output;
};

void PrintTo(const options_case& c, std::ostream* os) {
  *os << c.name;
}

class ConsoleOptions : public ::testing::TestWithParam<options_case> {};

TEST_P(ConsoleOptions, PrintsExactlyThis) {
  const options_case& c = GetParam();
  const console_options options{.quiet = c.quiet, .line_numbers = c.line_numbers};
  // However the input arrives, a byte at a time included.
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20})
    EXPECT_EQ(run_in_memory(c.input, options, chunk), c.output) << "chunk " << chunk;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConsoleOptions,
    ::testing::Values(
        options_case{"QuietNoInput", true, false, "", ""},
        options_case{"QuietOnlyElementLines", true, false, "9F2608112233\n\nDF01\n9F270180",
                     "Application Cryptogram: 112233\nunknown tag\n"
                     "Cryptogram Information Data: 80\n"},
        options_case{"NumbersNoInput", false, true, "", std::string(banner) + ask},
        options_case{"NumbersKeepPrompts", false, true, "9F2608112233\n\n9F270180\n",
                     std::string(banner) + ask + "1:Application Cryptogram: 112233\n" + ask + ask +
                         "3:Cryptogram Information Data: 80\n" + ask},
        options_case{"NumbersOnMessages", true, true, "5A03123456\n9F36\n",
                     "1:Application Primary Account Number (PAN): "
                     "PAN length must be at least 4 bytes\n2:Application Transaction Counter "
                     "(ATC): \n"},
        options_case{"NumbersLastLineWithoutNewline", true, true, "\n\n9F270180",
                     "3:Cryptogram Information Data: 80\n"},
        options_case{"PiecesOfALongLineShareItsNumber", true, true,
                     "9F2608112233\n" + long_line + "9F270180\n",
                     "1:Application Cryptogram: 112233\n"
                     "2:Cryptogram Information Data: 80\n2:unknown tag\n"
                     "2:Application Transaction Counter (ATC): 0001\n2:unknown tag\n"
                     "3:Cryptogram Information Data: 80\n"},
        options_case{"NumbersPastNine", true, true, std::string(11, '\n') + "9F270180\n",
                     "12:Cryptogram Information Data: 80\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Numbered output is the quiet output of each line alone with its number before every
// line it printed, whatever the shape of those lines: long values past the labeller's
// pieces and blocks, runs of short and empty lines, and numbers growing a digit.
TEST(ConsoleOptions, NumbersLeadEveryLineOfEveryShape) {
  const std::vector<std::string> shapes = {
      "9F270180\n",
      "9081F8" + std::string(2 * 248, 'A') + "\n",       // a 496-digit line
      "9F2683\n",                                        // a message, an empty line, unknown tag
      "50009F3600500050009F36009F2683500050009F3600\n",  // many short lines
      "5A0812254410199528839F36020001570F1225441019952883D2712201036623\n",
      "\n",
      "DF01\n",
  };
  console_options quiet{.quiet = true};
  console_options numbered{.quiet = true, .line_numbers = true};
  std::string input;
  std::string expected;
  for (std::size_t line = 1; line <= 1200; ++line) {
    const std::string& text = shapes[(line * 7 + line / 13) % shapes.size()];
    input += text;
    const std::string alone = run_in_memory(text, quiet, 1 << 20);
    const std::string label = std::to_string(line) + ":";
    for (std::size_t from = 0; from < alone.size();) {
      const std::size_t newline = alone.find('\n', from);
      expected += label + alone.substr(from, newline + 1 - from);
      from = newline + 1;
    }
  }
  EXPECT_EQ(run_in_memory(input, numbered, 1 << 20), expected);
  EXPECT_EQ(run_in_memory(input, numbered, 4096), expected);
}

}  // namespace
}  // namespace emvtlv
