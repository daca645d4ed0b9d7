// Fuzz target: arbitrary bytes as the whole standard input of the console, read in
// chunks of varying size from memory, run to end of input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"

using namespace emvtlv::fuzz;

namespace {

struct memory_console {
  std::string_view input;
  std::size_t taken = 0;
  std::size_t reads = 0;
  std::string output;
};

const std::string prompt(emvtlv::prompt);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  memory_console console;
  console.input = std::string_view(reinterpret_cast<const char*>(data), size);

  emvtlv::input_source in{
      &console, [](void* self, char* buffer, std::size_t capacity) -> std::ptrdiff_t {
        auto& c = *static_cast<memory_console*>(self);
        require(std::string_view(c.output).ends_with(prompt),
                "everything up to the prompt is written before each read");
        // Chunk sizes vary with the input and the read count, down to one byte.
        const std::size_t chunk =
            1 + (c.reads++ * 131 + (c.input.empty() ? 0 : std::uint8_t(c.input[0]))) % 700;
        const std::size_t n = std::min({capacity, chunk, c.input.size() - c.taken});
        std::memcpy(buffer, c.input.data() + c.taken, n);
        c.taken += n;
        return static_cast<std::ptrdiff_t>(n);
      }};
  emvtlv::output_target out{&console, [](void* self, const char* text, std::size_t n) {
                              static_cast<memory_console*>(self)->output.append(text, n);
                              return true;
                            }};
  require(emvtlv::run_console(in, out) == 0, "end of input exits with status 0");
  require(console.taken == size, "the whole input is read");

  // The output is the banner, then for each line the prompt, a newline and exactly
  // what that line prints on its own, then a last prompt and newline.
  std::string expected(emvtlv::banner);
  for (const std::string_view line : cut_lines(console.input)) {
    const decoded_line decoded = decode_and_walk(line);
    check_record_output(decoded);
    expected += prompt + "\n" + decoded.output;
  }
  expected += prompt + "\n";
  require(console.output == expected, "each record prints what it prints alone, in order");
  return 0;
}
