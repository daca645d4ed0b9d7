// Fuzz target: arbitrary bytes as one input line, cut and decoded as the console does,
// then walked.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"

using namespace emvtlv::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> lines = cut_lines(stream);
  const std::string_view line = lines.empty() ? std::string_view() : lines.front();

  const decoded_line first = decode_and_walk(line);
  check_record_output(first);

  // Other records in between, among them full card numbers, must leave no trace.
  decode_and_walk("5A0A99999999999999999999");
  decode_and_walk("42029999");
  decode_and_walk(stream.substr(line.size()));
  const decoded_line again = decode_and_walk(line);
  require(again.output == first.output, "the same line always prints the same");
  return 0;
}
