// Fuzz target: the leak property. The input's bytes say how to build a record around
// a Luhn-valid card number: under a card tag (5A; 57 and 9F6B as track 2; 56 as track
// 1), as ASCII digits in a text tag, inside templates, after an element whose length
// is wrong or cannot be read, cut short at any nibble by the record's end, among
// bytes the input chooses. The record is built twice, with two numbers that differ in
// every hidden digit (for the decoding modes also with other discretionary data and
// other 9F1F and 9F20 text, which they hide); every mode must print both alike.
// With the first byte odd, runs of 12 to 40 ASCII digits also stand anywhere, every
// digit but the run's last four differing.
//
// Where the console's walk or the tree parser frames the two records differently (a
// hidden digit read as a tag or a length), that walk's modes are not compared: a
// different structure is not something masking characters can hide.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "leak_check.h"

using namespace emvtlv;
using namespace emvtlv::fuzz;

namespace {

// The four records built side by side: the console's two (the same discretionary
// data and text) and the decoding modes' two (those differ too).
enum side : std::size_t { console_a, console_b, tree_a, tree_b, sides };
constexpr std::size_t max_record = 1024;
constexpr std::size_t max_lines = 4;

struct input_bytes {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool empty() const { return at >= size; }
  unsigned take() { return at < size ? data[at++] : 0u; }
  std::size_t below(std::size_t n) { return take() % n; }
};

struct open_template {
  std::size_t length_at;  // where the length octets go
  unsigned form;          // 1, 2 or 3 octets: short, 81 L, 82 LL LL
};

struct builder {
  input_bytes& in;
  random_bits bits;
  bool runs_anywhere;
  std::array<std::vector<std::uint8_t>, sides> record;
  std::vector<open_template> open;
  std::size_t safe_cut_from = 0;  // nibbles: a cut before this would show hidden digits

  std::size_t size() const { return record[0].size(); }
  void put(std::uint8_t b) {
    for (auto& r : record)
      r.push_back(b);
  }
  void put_tag(std::uint32_t tag) {
    if (tag > 0xFF) put(static_cast<std::uint8_t>(tag >> 8));
    put(static_cast<std::uint8_t>(tag));
  }
  void put_length(std::size_t length) {
    switch (in.below(3)) {
      case 0:
        if (length < 0x80) break;
        [[fallthrough]];
      case 1:
        if (length < 0x100) {
          put(0x81);
          break;
        }
        [[fallthrough]];
      default:
        put(0x82);
        put(static_cast<std::uint8_t>(length >> 8));
        break;
    }
    put(static_cast<std::uint8_t>(length));
  }
  // Nibbles as text per side, packed into bytes (an odd count padded with F).
  void put_nibbles(const std::array<std::string, sides>& text) {
    for (std::size_t s = 0; s < sides; ++s) {
      std::string t = text[s];
      if (t.size() % 2 != 0) t += 'F';
      for (std::size_t i = 0; i < t.size(); i += 2)
        record[s].push_back(static_cast<std::uint8_t>(std::stoul(t.substr(i, 2), nullptr, 16)));
    }
  }
  void put_ascii(const std::array<std::string, sides>& text) {
    for (std::size_t s = 0; s < sides; ++s)
      for (const char c : text[s])
        record[s].push_back(static_cast<std::uint8_t>(c));
  }
  std::string digits(std::size_t n) {
    std::string d;
    for (std::size_t i = 0; i < n; ++i)
      d += static_cast<char>('0' + in.below(10));
    return d;
  }
  // Digits in which no 5 stands: with the one after it, a 5 could make a track header
  // (56, 57) in BCD.
  std::string digits_but_five(std::size_t n) {
    std::string d = digits(n);
    std::replace(d.begin(), d.end(), '5', '4');
    return d;
  }
  // Discretionary data or hidden text: the same digits but on the last side, where
  // every digit but a 3 differs and none becomes a 3 (as BCD, no byte turns 30 to 39).
  // No digit that differs is 5, 6, 7 or 9 on either side: in BCD it could make a
  // header (56, 57, or with an F pad 9F) on one side only, which is not promised to
  // print alike.
  static bool makes_header(int d) { return (d >= 5 && d <= 7) || d == 9; }
  std::array<std::string, sides> sad_digits(std::size_t n) {
    std::string a = digits(n);
    for (char& c : a)
      if (makes_header(c - '0')) c = static_cast<char>(c - 5);
    std::string b = a;
    for (char& c : b) {
      if (c == '3') continue;
      const int was = c - '0';
      int d = (was + 1 + static_cast<int>(in.below(9))) % 10;
      while (d == was || d == 3 || makes_header(d))
        d = (d + 1) % 10;
      c = static_cast<char>('0' + d);
    }
    return {a, a, a, b};
  }
  std::array<std::string, sides> pan_sides(std::size_t n) {
    const std::uint64_t high = in.take();
    bits.state ^= high << 8 | in.take();
    const card_pair pair = make_card_pair(n, bits);
    return {pair.a, pair.b, pair.a, pair.b};
  }
  static std::array<std::string, sides> joined(const std::array<std::string, sides>& x,
                                               std::string_view between,
                                               const std::array<std::string, sides>& y) {
    std::array<std::string, sides> out;
    for (std::size_t s = 0; s < sides; ++s)
      out[s] = x[s] + std::string(between) + y[s];
    return out;
  }

  void plant_card() {
    const std::size_t n = 12 + in.below(8);
    const std::array<std::string, sides> pan = pan_sides(n);
    const unsigned kind = in.take() % 8;
    if (kind == 0) {  // 5A
      put(0x5A);
      put_length((n + 1) / 2);
      mark(2 * size(), 8);
      put_nibbles(pan);
    } else if (kind <= 2) {  // 57 or 9F6B: PAN D YYMM SSS discretionary
      // Without a D a whole track 2 holds no number: the D always follows it.
      std::array<std::string, sides> value = joined(pan, "D", {"", "", "", ""});
      if (in.below(4) != 0) {
        const std::string fixed = digits_but_five(7);
        value = joined(pan, "D" + fixed, sad_digits(in.below(14)));
      }
      put_tag(kind == 1 ? 0x57 : 0x9F6B);
      put_length((value[0].size() + 1) / 2);
      mark(2 * size(), 8);
      put_nibbles(value);
    } else if (kind == 3) {  // 56: B PAN ^ NAME ^ YYMM SSS discretionary
      std::string name;
      for (std::size_t i = in.below(9); i > 0; --i)
        name += static_cast<char>('A' + in.below(26));
      const bool b = in.below(4) != 0;
      const std::string fixed = "^" + name + "^" + digits(7);
      const auto value = joined(pan, fixed, sad_digits(in.below(12)));
      put(0x56);
      put_length(value[0].size() + (b ? 1 : 0));
      if (b) put('B');
      mark(2 * size(), 16);
      put_ascii(value);
    } else {  // a text tag holding the number in ASCII, a track 1 image perhaps
      static constexpr std::uint32_t text_tags[] = {0x9F1F, 0x9F20, 0x5F20, 0x50,
                                                    0x9F12, 0x9F0B, 0x9F4E};
      const std::uint32_t tag = text_tags[in.below(std::size(text_tags))];
      auto value = pan;
      if (in.below(2) != 0) value = joined(pan, "^", {"", "", "", ""});
      if (tag == 0x9F1F || tag == 0x9F20) value = joined(value, "", sad_digits(in.below(12)));
      put_tag(tag);
      put_length(value[0].size());
      // A run cut short keeps its own last four digits: the whole number must be there.
      mark(2 * size(), 2 * n);
      put_ascii(value);
    }
  }
  void mark(std::size_t digits_from, std::size_t keep) { safe_cut_from = digits_from + keep; }

  void plant_run() {
    const std::size_t n = 12 + in.below(29);
    std::array<std::string, sides> run;
    std::string a = digits(n);
    std::string b = a;
    for (std::size_t i = 0; i + 4 < n; ++i)
      b[i] = static_cast<char>('0' + (a[i] - '0' + 1 + static_cast<int>(in.below(9))) % 10);
    mark(2 * size(), 2 * n);
    put_ascii({a, b, a, b});
  }

  void open_one() {
    static constexpr std::uint32_t templates[] = {0x70, 0x77, 0x6F, 0xA5, 0xBF0C, 0xE1, 0x61, 0x73};
    put_tag(templates[in.below(std::size(templates))]);
    const unsigned form = in.take() % 8;
    if (form < 3) {
      open.push_back({size(), form + 1});
      for (unsigned i = 0; i <= form; ++i)
        put(0);
    } else {
      put_bad_length(form);
    }
  }
  // A length that does not fit: any short length, or one no reader takes whole.
  void put_bad_length(unsigned form) {
    switch (form % 5) {
      case 0:
        put(static_cast<std::uint8_t>(in.take()));
        break;
      case 1:
        put(0x80);
        break;
      case 2:
        put(0x84);
        for (int i = 0; i < 4; ++i)
          put(static_cast<std::uint8_t>(in.take()));
        break;
      case 3:
        put(0x85);
        break;
      default:
        put(0xFF);
        break;
    }
  }
  void close_one() {
    if (open.empty()) return;
    const open_template t = open.back();
    open.pop_back();
    const std::size_t length = size() - t.length_at - t.form;
    for (auto& r : record) {
      if (t.form == 1) {
        r[t.length_at] = static_cast<std::uint8_t>(std::min<std::size_t>(length, 0x7F));
      } else if (t.form == 2) {
        r[t.length_at] = 0x81;
        r[t.length_at + 1] = static_cast<std::uint8_t>(std::min<std::size_t>(length, 0xFF));
      } else {
        r[t.length_at] = 0x82;
        r[t.length_at + 1] = static_cast<std::uint8_t>(length >> 8);
        r[t.length_at + 2] = static_cast<std::uint8_t>(length);
      }
    }
  }
  void misframe() {
    static constexpr std::uint32_t tags[] = {0x9F11, 0x9F26, 0x5F24, 0x9F10, 0x84,
                                             0x50,   0x9F12, 0xDF01, 0x5F20, 0x9F36};
    put_tag(tags[in.below(std::size(tags))]);
    put_bad_length(in.take());
  }
};

struct built {
  std::array<std::string, sides> text;  // the input, one line per record
  std::array<std::vector<std::vector<std::uint8_t>>, sides> records;
  bool console_fits = true;  // every line within the console's 511 characters
};

void end_line(builder& b, built& out, bool cut) {
  while (!b.open.empty())
    b.close_one();
  std::size_t nibbles = 2 * b.size();
  if (cut && nibbles > b.safe_cut_from) {
    nibbles = b.safe_cut_from + b.in.below(nibbles - b.safe_cut_from + 1);
  }
  static constexpr char hex[] = "0123456789ABCDEF";
  for (std::size_t s = 0; s < sides; ++s) {
    std::string line;
    for (std::size_t i = 0; i < nibbles; ++i) {
      const std::uint8_t byte = b.record[s][i / 2];
      line += hex[i % 2 == 0 ? byte >> 4 : byte & 0xF];
    }
    out.console_fits = out.console_fits && line.size() <= max_line_chars - 1;
    out.text[s] += line + "\n";
    // An odd last nibble: the decoding modes report the line, the console reads a byte.
    std::vector<std::uint8_t> bytes(b.record[s].data(), b.record[s].data() + nibbles / 2);
    if (nibbles % 2 != 0) bytes.push_back(b.record[s][nibbles / 2] >> 4);
    out.records[s].push_back(std::move(bytes));
    b.record[s].clear();
  }
  b.safe_cut_from = 0;
}

built build(input_bytes& in) {
  builder b{in, {0x5EED}, (in.take() & 1) != 0, {}, {}};
  built out;
  std::size_t lines = 0;
  while (!in.empty() && lines < max_lines) {
    if (b.size() >= max_record) {
      end_line(b, out, false);
      ++lines;
      continue;
    }
    switch (in.take() % (b.runs_anywhere ? 10 : 9)) {
      case 0:
      case 1:
        for (std::size_t n = in.below(8); n > 0; --n)
          b.put(static_cast<std::uint8_t>(in.take()));
        break;
      case 2:
      case 3:
        b.plant_card();
        break;
      case 4:
        b.open_one();
        break;
      case 5:
        b.close_one();
        break;
      case 6:
        b.misframe();
        break;
      case 7:
        end_line(b, out, false);
        ++lines;
        break;
      case 8:
        end_line(b, out, true);
        ++lines;
        break;
      default:
        b.plant_run();
        break;
    }
  }
  if (lines < max_lines && b.size() > 0) end_line(b, out, false);
  return out;
}

bool frames_alike(const built& b, side x, side y, bool console) {
  for (std::size_t i = 0; i < b.records[x].size(); ++i) {
    const auto& p = b.records[x][i];
    const auto& q = b.records[y][i];
    if (console ? !console_frames_alike(p, q) : !tree_frames_alike(p, q)) return false;
  }
  return true;
}

void compare(const leak_mode& mode, const std::string& a, const std::string& b) {
  const std::string out_a = run_leak_mode(mode, a);
  const std::string out_b = run_leak_mode(mode, b);
  if (out_a == out_b) return;
  std::fprintf(stderr, "mode %s\ninput A:\n%sinput B:\n%soutput A:\n%s\noutput B:\n%s\n", mode.name,
               a.c_str(), b.c_str(), out_a.c_str(), out_b.c_str());
  require(false, "the output does not depend on a card number's hidden digits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  input_bytes in{data, size};
  const built b = build(in);
  const bool console = b.console_fits && frames_alike(b, console_a, console_b, true);
  const bool tree = frames_alike(b, tree_a, tree_b, false);
  for (const leak_mode& mode : leak_modes) {
    if (mode.console ? console : tree)
      compare(mode, b.text[mode.console ? console_a : tree_a],
              b.text[mode.console ? console_b : tree_b]);
  }
  return 0;
}
