// The leak property, shared by the leak fuzzer and the privacy tests: a record runs
// in every mode twice, with two card numbers that share the first six and last four
// digits and differ in every other one; any difference in the output is a leak.
//
// Contract and limits:
// - Card pairs are Luhn-valid, of 12 to 40 digits; no digit that differs is a 3, so
//   no hidden BCD byte is 30 to 39 on either side and a run of ASCII digits around
//   the number has the same extent in both records.
// - Every mode runs in memory: the console (plain, and -q -n) and the decoding modes
//   (-t, -t -n, -j, -x, -jx, -p). The console's runs take at most 511 characters a line;
//   longer lines are read by it in shifted pairs, which it documents.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "console/console.h"
#include "fuzz_support.h"
#include "modes/tree_mode.h"

namespace emvtlv::fuzz {

struct card_pair {
  std::string a;  // digits, as text
  std::string b;
};

// Two card numbers of `length` digits as above, drawn from `bits`.
card_pair make_card_pair(std::size_t length, random_bits& bits);

// Whether `digits` passes the Luhn check.
bool luhn_valid(std::string_view digits);

// Each digit as its ASCII code in hex ("12" gives "3132").
std::string ascii_hex(std::string_view digits);

struct leak_mode {
  const char* name;
  bool console;  // the classic console; otherwise a decoding mode
  console_options console_run;
  tree_mode_options tree_run;
};

inline constexpr std::array<leak_mode, 8> leak_modes = {{
    {"console", true, {}, {}},
    {"console -q -n", true, {true, true}, {}},
    {"-t", false, {}, {tree_mode_options::format::text, false, false, false}},
    {"-t -n", false, {}, {tree_mode_options::format::text, false, true, false}},
    {"-j", false, {}, {tree_mode_options::format::json, false, false, false}},
    {"-x", false, {}, {tree_mode_options::format::text, true, false, false}},
    {"-jx", false, {}, {tree_mode_options::format::json, true, false, false}},
    {"-p", false, {}, {tree_mode_options::format::paths, false, false, false}},
}};

// The whole output of `mode` for `input`, run in memory.
std::string run_leak_mode(const leak_mode& mode, std::string_view input);

// Whether the classic console's walk frames the two records alike: the same steps
// at the top level, so any difference in its output comes from a value's text.
bool console_frames_alike(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

// Whether the tree parser gives the two records the same nodes but for value bytes.
bool tree_frames_alike(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace emvtlv::fuzz
