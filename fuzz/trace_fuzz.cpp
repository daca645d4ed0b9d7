// Fuzz target: arbitrary bytes as a trace-mode session log, run as text (plain,
// explained, numbered) and as JSON Lines. The properties below abort when they fail:
// - the output is whole lines, the same on a second run in reads of random size;
// - every JSON line is one object that starts with its "line";
// - no PIN digit shows: with the data of every VERIFY and PIN CHANGE/UNBLOCK command
//   changed but for its first byte (the control nibble and PIN length, which show),
//   the output is the same. Those commands are found with the mode's own segment
//   reader and written back as "> HEX", in both runs alike.
// - no card digit shows (the leak property): after the input, a card number in one of
//   the roles a log gives it (an answer, a status line before its data, an answer with
//   no command, a command's data, spaced or not), run with two numbers that share their
//   first six and last four digits, gives the same output.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "fuzz_support.h"
#include "leak_check.h"
#include "memory_io.h"
#include "modes/trace_mode.h"
#include "trace/segments.h"

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
  trace::line_segments segments;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::size_t size = end == std::string_view::npos ? input.size() : end + 1;
    const std::string_view line = input.substr(0, size);
    input.remove_prefix(size);
    trace::split_segments(line, buffer, segments);
    bool pin = false;
    std::string same;
    std::string changed;
    for (const trace::segment& seg : segments.view()) {
      const std::span<const std::uint8_t> b =
          std::span<const std::uint8_t>(buffer).subspan(seg.offset, seg.size);
      if (b.size() < 7 || b[0] != 0x00 || (b[1] != 0x20 && b[1] != 0x24) || b[2] != 0x00) continue;
      pin = true;
      std::string hex(2 * b.size(), ' ');
      encode_hex_unchecked(b.data(), b.size(), hex.data());
      same += "> " + hex + "\n";
      // Only the data field after its first byte (the control nibble and the PIN length,
      // which may show): never Le.
      const std::size_t data_end = std::min<std::size_t>(b.size(), 5 + std::size_t{b[4]});
      for (std::size_t i = 6; i < data_end; ++i) {
        const auto other = static_cast<std::uint8_t>(b[i] ^ 0x5A);
        hex[2 * i] = hex_pairs[2 * std::size_t{other}];
        hex[2 * i + 1] = hex_pairs[2 * std::size_t{other} + 1];
      }
      changed += "> " + hex + "\n";
    }
    out.same += pin ? same : std::string(line);
    out.changed += pin ? changed : std::string(line);
  }
  return out;
}

// A card number's place in a log, {} where the number goes: each a role the pairing
// gives it.
constexpr std::array<std::string_view, 6> card_roles = {
    "\n> 00B2010C00\n< 700A5A08{}9000\n",
    "\n00B2010C00\n700A5A08{}\nSW1SW2: 9000\n",
    "\n5A08{}9000\n",
    "\n>c-apdu: 00 B2 01 0C 00\nsw 90 00\n<r-apdu: 70 81 99 5A 08 {}\n",
    "\nSend: 80E200000A5A08{}00 Recv: 9000\n",
    "\n> 00B2010C00\n< 70 0A 57 08 {}\n< 9000\n",
};

std::string with_card(std::string_view input, std::string_view role, std::string_view digits,
                      bool spaced) {
  std::string number;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    if (spaced && i > 0) number += ' ';
    number += digits.substr(i, 2);
  }
  std::string text(input);
  const std::size_t at = role.find("{}");
  text += role.substr(0, at);
  text += number;
  text += role.substr(at + 2);
  return text;
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
  const emvtlv::fuzz::card_pair card = emvtlv::fuzz::make_card_pair(16, sizes);
  const std::string_view role = card_roles[sizes.below(card_roles.size())];
  const bool spaced = sizes.below(2) == 0;
  const std::string a = with_card(input, role, card.a, spaced);
  const std::string b = with_card(input, role, card.b, spaced);
  for (const tree_mode_options& options : modes)
    require(run_mode(a, options, nullptr) == run_mode(b, options, nullptr),
            "no card digit changes the output");
  return 0;
}
