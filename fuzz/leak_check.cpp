#include "leak_check.h"

#include <memory>
#include <vector>

#include "common/output_sink.h"
#include "common/record_view.h"
#include "memory_io.h"
#include "tlv/walk.h"
#include "tree/parse.h"

namespace emvtlv::fuzz {
namespace {

// A digit's share of the Luhn sum, `from_right` places from the last digit.
unsigned luhn_share(unsigned digit, std::size_t from_right) {
  if (from_right % 2 == 0) return digit;
  return digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
}

unsigned luhn_sum(std::string_view digits, std::size_t first, std::size_t end) {
  unsigned sum = 0;
  for (std::size_t i = first; i < end; ++i)
    sum += luhn_share(static_cast<unsigned>(digits[i] - '0'), digits.size() - 1 - i);
  return sum;
}

char digit_other_than(char a, random_bits& bits) {
  for (;;) {
    const auto d = static_cast<char>('0' + bits.below(10));
    if (d != a && d != '3') return d;
  }
}

std::vector<std::uint32_t> console_steps(std::span<const std::uint8_t> record) {
  static output_sink scratch;
  std::vector<std::uint32_t> steps;
  const record_view whole(record, static_cast<std::int32_t>(record.size()));
  auto remaining = static_cast<std::int64_t>(record.size());
  std::uint64_t offset = 0;
  while (remaining > 0) {
    scratch.clear();
    const std::uint64_t consumed =
        process_tlv(whole.shifted(offset), static_cast<std::int32_t>(remaining), scratch);
    steps.push_back(static_cast<std::uint32_t>(consumed));
    remaining -= static_cast<std::int64_t>(consumed);
    offset += consumed;
  }
  return steps;
}

card_pair draw_card_pair(std::size_t length, random_bits& bits) {
  const std::size_t n = std::clamp<std::size_t>(length, 12, 40);
  std::string a(n, '0');
  for (char& c : a)
    c = static_cast<char>('0' + bits.below(10));
  std::string b = a;
  const std::size_t first = 6;
  const std::size_t last = n - 5;  // the last hidden digit
  for (std::size_t i = first; i <= last; ++i) {
    a[i] = digit_other_than('3', bits);
    b[i] = digit_other_than(a[i], bits);
  }
  // Make both hidden parts add up alike: the last hidden digit of b is then fixed;
  // when that is its digit in a, or a 3, the one before changes (each of its values
  // gives another fixed digit, so three tries are enough).
  for (;;) {
    const unsigned want = (luhn_sum(a, first, last + 1) + 100 - luhn_sum(b, first, last)) % 10;
    char fixed = '0';
    while (luhn_share(static_cast<unsigned>(fixed - '0'), n - 1 - last) % 10 != want)
      ++fixed;
    if (fixed != a[last] && fixed != '3') {
      b[last] = fixed;
      break;
    }
    b[last - 1] = digit_other_than(a[last - 1], bits);
  }
  a[n - 1] = '0';
  a[n - 1] = static_cast<char>('0' + (10 - luhn_sum(a, 0, n) % 10) % 10);
  b.replace(n - 4, 4, a, n - 4, 4);
  return {a, b};
}

// Whether a byte of the number in BCD that holds a hidden digit, or is followed by one
// that does, is 56 or 57: a track header whose reading then depends on the hidden
// digits, on one side only. One in the first four digits reads the same on both sides
// (what follows adds up alike for the Luhn check), unless a long length form (81 to
// 84) takes its length from the hidden digits.
bool hidden_track_header(std::string_view digits) {
  const auto at = [&](std::size_t k, char high, char low_from, char low_to) {
    return 2 * k + 1 < digits.size() && digits[2 * k] == high && digits[2 * k + 1] >= low_from &&
           digits[2 * k + 1] <= low_to;
  };
  for (std::size_t k = 0; 2 * k + 5 <= digits.size(); ++k) {
    if (!at(k, '5', '6', '7')) continue;
    if (k >= 2 || at(k + 1, '8', '1', '4')) return true;
  }
  return false;
}

}  // namespace

bool luhn_valid(std::string_view digits) {
  return !digits.empty() && luhn_sum(digits, 0, digits.size()) % 10 == 0;
}

card_pair make_card_pair(std::size_t length, random_bits& bits) {
  for (;;) {
    card_pair pair = draw_card_pair(length, bits);
    if (!hidden_track_header(pair.a) && !hidden_track_header(pair.b)) return pair;
  }
}

std::string ascii_hex(std::string_view digits) {
  std::string hex;
  for (const char c : digits) {
    hex += '3';
    hex += c;
  }
  return hex;
}

std::string run_leak_mode(const leak_mode& mode, std::string_view input) {
  test::string_input in{input};
  test::string_output out;
  if (mode.console) {
    require(run_console(in.source(), out.target(), mode.console_run) == 0,
            "the console ends memory input with status 0");
  } else {
    // Made once: a reader and parser are most of a run's cost.
    static tree_mode_state& state = *new tree_mode_state();
    require(run_tree_mode(in.source(), out.target(), mode.tree_run, state) == 0,
            "a decoding mode ends memory input with status 0");
  }
  return std::move(out.text);
}

bool console_frames_alike(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return console_steps(a) == console_steps(b);
}

bool tree_frames_alike(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  static tree_parser& first = *new tree_parser();
  static tree_parser& second = *new tree_parser();
  const tree_result x = first.parse(a);
  const tree_result y = second.parse(b);
  if (x.has_status != y.has_status || x.nodes.size() != y.nodes.size()) return false;
  for (std::size_t i = 0; i < x.nodes.size(); ++i) {
    const tree_node& p = x.nodes[i];
    const tree_node& q = y.nodes[i];
    if (p.offset != q.offset || p.parent != q.parent || p.depth != q.depth ||
        p.value_offset != q.value_offset || p.value_size != q.value_size ||
        p.declared != q.declared || p.tag != q.tag || p.tag_size != q.tag_size ||
        p.length_size != q.length_size || p.length_first != q.length_first ||
        p.constructed != q.constructed || p.problem != q.problem)
      return false;
  }
  return true;
}

}  // namespace emvtlv::fuzz
