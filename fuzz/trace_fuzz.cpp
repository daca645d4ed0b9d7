// Fuzz target: arbitrary bytes as a trace-mode session log, run as text (plain,
// explained, numbered) and as JSON Lines. The properties below abort when they fail:
// - the output is whole lines, the same on a second run in reads of random size;
// - every JSON line is one object that starts with its "line";
// - no PIN digit shows: with the data of every VERIFY and PIN CHANGE/UNBLOCK command
//   changed but for its first byte (the control nibble and PIN length, which show),
//   the output is the same. Those commands are found with the mode's own line reader
//   and written back as "> HEX", in both runs alike.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "fuzz_support.h"
#include "memory_io.h"
#include "modes/trace_mode.h"
#include "trace/line_form.h"

using namespace emvtlv;
using emvtlv::fuzz::memory_input;
using emvtlv::fuzz::random_bits;
using emvtlv::fuzz::require;
using emvtlv::fuzz::seed_of;

namespace {

using format = tree_mode_options::format;

constexpr std::array<tree_mode_options, 4> modes = {{
    {format::text, false, false, false},
    {format::text, true, true, false},
    {format::json, false, false, false},
    {format::json, true, false, false},
}};

std::string run_mode(std::string_view input, const tree_mode_options& options, random_bits* sizes) {
  memory_input in{input, sizes};
  test::string_output out;
  static trace_mode_buffers buffers;
  require(run_trace_mode({&in, memory_input::read}, out.target(), options, buffers) == 0,
          "memory input ends with status 0");
  require(in.taken == input.size(), "the whole input is read");
  return std::move(out.text);
}

// The input twice, its PIN commands written back as "> HEX": once as they are, once
// with their PIN data changed (the bytes Lc counts, past the first).
struct pin_variants {
  std::string same;
  std::string changed;
};

pin_variants with_pins_changed(std::string_view input) {
  pin_variants out;
  std::vector<std::uint8_t> buffer(input.size() / 2 + 1);
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::size_t size = end == std::string_view::npos ? input.size() : end + 1;
    const std::string_view line = input.substr(0, size);
    input.remove_prefix(size);
    const trace::apdu_line apdu = trace::read_apdu_line(line, buffer);
    const auto b = apdu.bytes;
    if (apdu.what != trace::apdu_line::kind::apdu || b.size() < 7 || b[0] != 0x00 ||
        (b[1] != 0x20 && b[1] != 0x24) || b[2] != 0x00) {
      out.same += line;
      out.changed += line;
      continue;
    }
    std::string hex(2 * b.size(), ' ');
    encode_hex_unchecked(b.data(), b.size(), hex.data());
    out.same += "> " + hex + "\n";
    // Only the data field after its first byte (the control nibble and the PIN length,
    // which may show): never Le.
    const std::size_t data_end = std::min<std::size_t>(b.size(), 5 + std::size_t{b[4]});
    for (std::size_t i = 6; i < data_end; ++i) {
      const auto other = static_cast<std::uint8_t>(b[i] ^ 0x5A);
      hex[2 * i] = hex_pairs[2 * std::size_t{other}];
      hex[2 * i + 1] = hex_pairs[2 * std::size_t{other} + 1];
    }
    out.changed += "> " + hex + "\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  random_bits sizes{seed_of(input)};
  const pin_variants pins = with_pins_changed(input);
  for (const tree_mode_options& options : modes) {
    const std::string whole = run_mode(input, options, nullptr);
    require(whole.empty() || whole.back() == '\n', "the output is whole lines");
    require(run_mode(input, options, &sizes) == whole, "the same output whatever the read sizes");
    if (options.output == format::json) {
      std::string_view rest = whole;
      while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        require(line.starts_with("{\"line\":") && line.ends_with("}"), "one object a line");
        rest.remove_prefix(end + 1);
      }
    }
    require(run_mode(pins.same, options, nullptr) == run_mode(pins.changed, options, nullptr),
            "no PIN digit changes the output");
  }
  return 0;
}
