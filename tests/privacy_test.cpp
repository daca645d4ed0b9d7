// Privacy as a property: each record runs in every mode twice, with two card numbers
// that share the first six and last four digits and differ in every other one (and,
// for the decoding modes, with other discretionary data and 9F1F / 9F20 text); any
// difference in the output is a leak. A row may also name text that must still show,
// so that hiding too much fails as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "leak_check.h"

namespace emvtlv {
namespace {

// The console is not run: it shows discretionary data, or the record is spaced hex,
// which it reads in shifted pairs.
constexpr unsigned decoding_only = 1;
// A known fault of the masking, a leak or text hidden that must show: skipped.
constexpr unsigned known_leak = 2;

// `record` is hex with placeholders, each {K n[/m][:a-b]}: a digit string of n
// characters, or its characters a to b (b alone: 0 to b):
//   P  a card number, BCD, as digits      A  the same card number in ASCII hex
//   S  discretionary digits, BCD           T  the same in ASCII hex
//   R  a run of ASCII digits (in hex) whose first m (n - 4 if not given) differ.
//   L  the first side's card number on both sides, BCD: for numbers that must show.
// P and A differ but for the first six and last four digits; S, T and R everywhere
// (R as said). `visible` is expanded for the first side and must show in every
// decoding mode.
struct placement {
  std::string record;
  std::string visible = {};
  unsigned flags = 0;
};

void PrintTo(const placement& p, std::ostream* os) {
  *os << p.record;
}

const fuzz::card_pair& card_of(std::size_t length) {
  static std::vector<fuzz::card_pair> pairs = [] {
    std::vector<fuzz::card_pair> made(41);
    fuzz::random_bits bits{16};
    for (std::size_t n = 12; n <= 40; ++n)
      made[n] = fuzz::make_card_pair(n, bits);
    made[16] = {"4761739001010010", "4761730110160010"};
    made[12] = {"972039576939", "972039656939"};  // a hidden byte 57 on one side
    // Starts 57 20: read from its first byte, a chance track 2 of 32 octets. Read to
    // the same end, its Luhn check fails on both sides; three digits further, it differs.
    made[18] = {"572014922404490010", "572014894140800010"};
    return made;
  }();
  return pairs.at(length);
}

std::string digits_of(char kind, std::size_t n, std::size_t differing, bool second) {
  if (kind == 'L') return card_of(n).a;
  if (kind == 'P' || kind == 'A') return second ? card_of(n).b : card_of(n).a;
  static constexpr std::string_view first = "12456789";
  static constexpr std::string_view other = "98765421";
  std::string digits;
  for (std::size_t i = 0; i < n; ++i) {
    const bool differs = kind != 'R' || i < differing;
    digits += (second && differs ? other : first)[i % first.size()];
  }
  return digits;
}

std::string expand(std::string_view text, bool second) {
  std::string out;
  while (!text.empty()) {
    const std::size_t open = text.find('{');
    out += text.substr(0, open);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('}', open);
    const std::string spec(text.substr(open + 1, close - open - 1));
    text.remove_prefix(close + 1);
    const char kind = spec[0];
    std::size_t at = 1;
    const auto number = [&] {
      std::size_t used = 0;
      const std::size_t value = std::stoul(spec.substr(at), &used);
      at += used;
      return value;
    };
    const std::size_t n = number();
    std::size_t differing = n - 4;
    std::size_t from = 0;
    std::size_t to = n;
    if (at < spec.size() && spec[at] == '/') {
      ++at;
      differing = number();
    }
    if (at < spec.size() && spec[at] == ':') {
      ++at;
      to = number();
      if (at < spec.size() && spec[at] == '-') {
        ++at;
        from = std::exchange(to, number());
      }
    }
    const std::string digits = digits_of(kind, n, differing, second).substr(from, to - from);
    out += kind == 'P' || kind == 'S' || kind == 'L' ? digits : fuzz::ascii_hex(digits);
  }
  return out;
}

std::string repeated(std::string_view text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i)
    out += text;
  return out;
}

std::vector<placement> placements() {
  std::vector<placement> rows = {
      // Well formed, flat and nested.
      {"5A08{P16}5F2403271231", "0010"},
      {"701A5A08{P16}5F24032712315F2A02097800", "0010"},
      {"5711{P16}D27122011143804489", "0010D2712201"},
      {"770D9F6B0A{P16}D271", "0010D271"},
      {"6F13A511BF0C0E610C700A5A08{P16}", "0010"},
      {"E1135711{P16}D27122011143804489", "0010D2712201"},
      {"7015561342{A16}5E"},
      {"5A0A{P19}F", "{P19:15-19}"},
      {"5A06{P12}", "{P12:8-12}"},
      {"70 1A 5A 08 {P16} 5F 24 03 27 12 31 5F 2A 02 09 78 00", "0010", decoding_only},
      // Misframed: a card element inside another element's value, or after a
      // template that ends inside it.
      {"9F11205A08{P16}", "0010"},
      {"9F11179F6B8111{P16}D27122011143804489", "0010"},
      {"73141F5711{P16}D27122011143804489", "0010"},
      {"700A5711{P16}D27122011143804489"},
      {"5F24025A08{P16}"},
      // After a length the console cannot read inside a template, and at the top.
      {"70149F26805A08{P16}5F2403271231", "0010"},
      {"70149F26845A08{P16}5F2403271231"},  // the parse stops in the length: all hidden
      {"70149F26855A08{P16}5F2403271231", "0010"},
      {"70149F26FF5A08{P16}5F2403271231", "0010"},
      {"700D9F10805A08{P16}", "0010"},
      {"9F26805A08{P16}", "0010"},
      {"9F26FF5A08{P16}", "0010"},
      // Cut short by the record's end, in a template.
      {"701A5A08{P16:12}"},
      {"77129F6B0A{P16:13}"},
      // Text tags holding a card number in ASCII, as a track 1 image.
      {"9F1F11{A16}5E"},
      {"9F2011{A16}5E"},
      {"5F2011{A16}5E", "{A16:12-16}5E"},
      {"5011{A16}5E", "{A16:12-16}5E"},
      {"9F1211{A16}5E", "{A16:12-16}5E"},
      {"9F0B11{A16}5E", "{A16:12-16}5E"},
      {"9F4E11{A16}5E", "{A16:12-16}5E"},
      {"9F1F18{A16}5E32323132323031", "", decoding_only},
      {"70139F1F11{A16}5E"},
      // Runs of ASCII digits, Luhn-valid or not: 12 and more hide all but their last
      // four, 11 hide nothing; a run may go on into the next element's header.
      {"DF010B{R11/0}", "{R11/0}"},
      {"9F120B{R11/0}", "{R11/0}"},
      {"9F120C{R12}", "{R12:8-12}"},
      {"9F1213{R19}", "{R19:15-19}"},
      {"9F1014{R20}", "{R20:16-20}"},
      {"DF010C{A12}", "{A12:8-12}"},
      {"9F0B13{A19}", "{A19:15-19}"},
      {"9F1014{A20}", "{A20:16-20}"},
      {"500C{R12/9}34023535", "{R12/9:9-12}"},
      // 9F6B of 6 bytes without D is the Card CVM Limit and shows; longer it is track 2.
      {"9F6B06000000010000", "000000010000"},
      {"9F6B08{P12}D271", "{P12:8-12}D271"},
      // Discretionary data, 9F1F and 9F20: the decoding modes hide them whole.
      {"5711{P16}D2712201{S10}", "0010D2712201", decoding_only},
      {"9F6B11{P16}D2712201{S10}", "0010D2712201", decoding_only},
      {"77135711{P16}D2712201{S10}", "0010D2712201", decoding_only},
      // Track 1's expiry, service code and digit discretionary data make one run of 12
      // or more ASCII digits, which the scan hides but for its last four: the name shows.
      {"562742{A16}5E444F452F4A5E32373132323031{T8}", "5E444F452F4A5E", decoding_only},
      // A track 2 the parse does not place: its discretionary data is hidden too.
      {"9F11179F6B8111{P16}D2712201{S10}", "D2712201", decoding_only},
      {"730A5711{P16}D2712201{S10}", "", decoding_only},
      // A track 1 the parse does not place, its digits a run the scan hid first.
      {"9F112C9F1F01415626{A16}5E444F452F4A5E32373132323031{T8}", "5E444F452F4A5E", decoding_only},
      {"9F1122562042{A16}5E5E32373132323031{T6}", "5E5E", decoding_only},
      // A hidden byte 57 must not start a track 2 for the scan on one side only.
      {"01015A06{P12}0101010A"},
      // A misframed 56 whose last digit the record's end cuts in half (the console
      // reads that nibble as a byte 03).
      {"5020561E42{A16:10}3", ""},
      // Cut at a lone last digit, which the console reads as a byte below 10: a number
      // reaching it is cut short there, whatever its length says, and no digit shows.
      {"9F11205709{P16}D"},
      {"9F11205708{P16:15}"},
      {"9F11209F6B08{P16:15}"},
      {"9F11205A08{P16:15}"},
      {"9F1120560A42{A16:8}3"},
      {"5706{P16:11}"},
      {"700A9F6B07{P16:13}"},
      {"70085706{P16:11}"},
      {"9F1F10{T16}", "", decoding_only},
      {"9F2008{T8}", "", decoding_only},
      {"70139F1F10{T16}", "", decoding_only},
      // Card codes the parse does not place: a 9F1F or 9F20 inside another value.
      {"9F11139F1F10{T16}", "", decoding_only},
      {"9F110B9F2008{T8}", "", decoding_only},
      // A card answer whose number starts 57 and a plausible length: a chance track 2
      // whose discretionary data runs over the headers after it. The rest shows no digit.
      {"57135720545560159612D2512201{S13}F5F201043415244484F4C4445522F54455354209F1F04{S8}",
       "9612D2512201", decoding_only},
      // The same with hidden digits: the chance track in the track's own number ends at
      // its D and decides alike, so it stays apart; one read from a 5A's number on into
      // the digits of the next header takes the number's hidden digits as unknown.
      {"570F{P18}D2512201{S3}F9F6C023E00", "3E00", decoding_only},
      {"5A09{P18}500D4D415354455243415244202020"},
      // A chance 5A in a track 1's discretionary data, 40 bytes past its header, running
      // on past its end: the track may hide those digits, so they decide nothing.
      {"563242{A16}5E4E414D454E414D454E414D454E414D454E414D455E32373132325A08{T4}12345678", "",
       decoding_only},
      // The same at the end of the reach: a 56 of 79 octets (84 and four), whose last
      // byte the chance 5A's value starts with.
      {"56840000004F42{A16}5E" + repeated("4E414D45", 13) + "5E32373132325A08{T1}12345678901230",
       "", decoding_only},
      // A chance track 2 in a 9F1F's text ("W " then digits then '='): the 9F1F is
      // hidden whole, so its digits decide nothing, however far its header stands.
      {"9F1F10572035{T5}3D323731323230319F6C023E00", "", decoding_only},
      // Length forms 83 and 84 (85 is none), in every mode.
      {"9F105A83000008{P16}", "0010"},
      {"9F26805A8400000008{P16}", "0010"},
      {"9F117F5A850000000008{L16}", "{L16}"},
      {"9F1057840000000C{P16}D2610221664201", "0010D2610221"},
      {"9F1057840000000C{P15}FD2610221664201", "{P15:11-15}FD2610221"},
      // A value the scan hides (a card code, a chance number) covering a card element's
      // header: the element is still read, its digits and discretionary data hidden.
      {"DF01089F1F015A06{P12}", "9F1F01"},
      {"9F10145A0A5710{P16}D2512201{S8}", "D2512201", decoding_only},
      {"9F101E5A0A5710{P16}D2512201{S8}5A08{P16}", "D2512201", decoding_only},
      // Each end of every range the scan reads, inside a value: 5A of 4
      // octets (fewer hold no 8 digits) and 10 (11 is none), 57 and 9F6B of 32 (33 is
      // none), 56 of 79 (80 is none).
      {"9F11205A04{P16:7}"},
      {"9F117F5A0A{P20}", "{P20:16-20}"},
      {"9F117F5A0B{L22}", "{L22}"},
      {"9F117F5720{P19}D2712201{S37}", "{P19:15-19}D2712201", decoding_only},
      {"9F117F5721{L19}D2712201123456789012345678901234567890123456789",
       "{L19}D2712201123456789012345678901234567890123456789"},
      {"9F117F9F6B20{P19}D2712201{S37}", "{P19:15-19}D2712201", decoding_only},
      {"9F117F9F6B21{L19}D2712201123456789012345678901234567890123456789",
       "{L19}D2712201123456789012345678901234567890123456789"},
      {"9F117F564F42{A16}"
       "5E41414141414141414141414141414141414141414141414141414141414141414141414141414141414141414"
       "1414141415E32373132323031{T4}",
       "5E41414141414141414141414141414141414141414141414141414141414141414141414141414141414141414"
       "1414141415E",
       decoding_only},
      {"9F117F565042{A16}"
       "5E41414141414141414141414141414141414141414141414141414141414141414141414141414141414141414"
       "1414141415E3237313232303131323334",
       "31323334", decoding_only},
  };
  // Cut short by the record's end at every nibble, at least eight digits in.
  for (std::size_t k = 8; k <= 16; ++k) {
    const std::string cut = std::to_string(k);
    rows.push_back({"5A08{P16:" + cut + "}"});
    rows.push_back({"5711{P16:" + cut + "}"});
    rows.push_back({"9F6B11{P16:" + cut + "}"});
    rows.push_back({"561342{A16:" + cut + "}"});
    if (k < 16) rows.push_back({"561342{A16:" + cut + "}3"});
  }
  rows.push_back({"5711{P16}D27"});
  return rows;
}

class Privacy : public ::testing::TestWithParam<placement> {};

TEST_P(Privacy, OutputDoesNotDependOnHiddenDigits) {
  const placement& row = GetParam();
  if ((row.flags & known_leak) != 0) GTEST_SKIP() << "known leak: " << row.record;
  const std::string a = expand(row.record, false) + "\n";
  const std::string b = expand(row.record, true) + "\n";
  const std::string visible = expand(row.visible, false);
  for (const fuzz::leak_mode& mode : fuzz::leak_modes) {
    if (mode.console && (row.flags & decoding_only) != 0) continue;
    const std::string out = fuzz::run_leak_mode(mode, a);
    EXPECT_EQ(out, fuzz::run_leak_mode(mode, b)) << mode.name << "\n" << a << b;
    if (mode.console) continue;  // its labels and its 5A form are its own
    EXPECT_NE(out.find(visible), std::string::npos) << mode.name << " hides " << visible;
  }
}

INSTANTIATE_TEST_SUITE_P(Placements, Privacy, ::testing::ValuesIn(placements()));

// Pairs the leak fuzzer found, as it built them: the two sides differ only where a
// card number's hidden digits, discretionary data or card codes stand.
struct found_pair {
  const char* a;
  const char* b;
  bool known_leak = false;
};

TEST(Privacy, PairsTheFuzzerFoundPrintAlike) {
  const std::vector<found_pair> pairs = {
      // A card tag's value reaching into digits a run hid: the rule reads no further.
      {"9F11065A09003030303433323438313030309F0B8114373931343133373539363536353932323336345E",
       "9F11065A09003536353938373933313030309F0B8114373931343133383037313637313231323336345E"},
      {"9F129250845A000000303031303030303034363030701873161700000050845A090000303038303030333030"
       "303030",
       "9F129250845A000000393930393939393934363030701873161700000050845A090000313139313131343130"
       "303030"},
      {"5A093956544889679902849F1106265A0604333030303333333333333033",
       "5A093956549000781602849F1106265A0604303131313134343433333033"},
      {"9F11065A81074109878279741400320000000000500E000004170000872A5A0900003031303030303030303030"
       "30343230303030303030303030303030303030",
       "9F11065A81074109879186741400320000000000500E000004170000872A5A0900003132313131313131313131"
       "31353331313131313131313131313130303030"},
      // A card number whose last byte begins a run of ASCII digits: hidden all the same.
      {"191202240A005A0941098727985664893438303630303030303030303030303030303030303030303030",
       "191202240A005A0941098718079196893439313731313131313131313131313131313131313130303030"},
      // A track 2 whose expiry and service code lie in another number's hidden digits.
      {"5A82000998206946252288149800BC0100000000570057062DDF01802D57570AA5A5570D62342340801905750D"
       "0831024F",
       "5A82000998206979785410149800BC0100000000570057062DDF01802D57570AA5A5570D62342389799185750D"
       "0831024F"},
      // A track's header among bytes another value hid: the track is still read, its
      // discretionary data and its number hidden.
      {"9F11060A17045A06015620423531393333373536303239355E5E3333333030353035303635303830303030",
       "9F11060A17045A06015620423531393333373634303239355E5E3333333030353036313736393936313131"},
      {"5F24060900000006050E9F20811336343830353534353139343431343332395E33FDFDFDFDFDFDFDFDFDFDFD"
       "FDFDFDFDFDFDFDFDFDFD9F200206570A016482829500D9011000",
       "5F24060900000006050E9F20811336343830353538373431363934343332395E33FDFDFDFDFDFDFDFDFDFDFD"
       "FDFDFDFDFDFDFDFDFDFD9F200206570A016482179500D9011000"},
      // A 5A whose number starts 57 20: a chance track 2 read from its first byte takes
      // its D from the next header and its Luhn check over the number's hidden digits.
      {"5A085720261622004311500D3034353237353538313531355E6FFF9F2680010101010001FF172A5A00041784"
       "800026035D0524179F11007384172A5A0561FF9F10FF",
       "5A085720264988284311500D3034353237353734313531355E6FFF9F2680010101010001FF172A5A00041784"
       "800026035D0524179F11007384172A5A0561FF9F10FF"},
  };
  for (const found_pair& pair : pairs) {
    if (pair.known_leak) continue;
    const std::string a = std::string(pair.a) + "\n";
    const std::string b = std::string(pair.b) + "\n";
    for (const fuzz::leak_mode& mode : fuzz::leak_modes)
      EXPECT_EQ(fuzz::run_leak_mode(mode, a), fuzz::run_leak_mode(mode, b)) << mode.name << "\n"
                                                                            << a << b;
  }
}

TEST(Privacy, CardPairsAreLuhnValidAndDifferInEveryHiddenDigit) {
  for (std::size_t n = 12; n <= 40; ++n) {
    const fuzz::card_pair& pair = card_of(n);
    ASSERT_EQ(pair.a.size(), n);
    EXPECT_TRUE(fuzz::luhn_valid(pair.a) && fuzz::luhn_valid(pair.b)) << pair.a << " " << pair.b;
    EXPECT_EQ(pair.a.substr(0, 6), pair.b.substr(0, 6));
    EXPECT_EQ(pair.a.substr(n - 4), pair.b.substr(n - 4));
    for (std::size_t i = 6; i + 4 < n; ++i)
      EXPECT_NE(pair.a[i], pair.b[i]) << pair.a << " " << pair.b;
  }
}

// Nested deeper than 32 levels, the text modes indent no further and show the depth.
TEST(Privacy, DepthBeyondThirtyTwoIsANumberNotAnIndent) {
  std::string a = "5A08" + card_of(16).a;
  std::string b = "5A08" + card_of(16).b;
  for (int level = 0; level < 40; ++level) {
    const std::size_t length = a.size() / 2;
    char header[8];
    std::snprintf(header, sizeof header, length < 0x80 ? "70%02zX" : "7081%02zX", length);
    a = header + a;
    b = header + b;
  }
  for (const fuzz::leak_mode& mode : fuzz::leak_modes) {
    const std::string out = fuzz::run_leak_mode(mode, a + "\n");
    EXPECT_EQ(out, fuzz::run_leak_mode(mode, b + "\n")) << mode.name;
    if (mode.console || mode.tree_run.output != tree_mode_options::format::text) continue;
    EXPECT_NE(out.find("[depth 40] 5A "), std::string::npos) << mode.name;
    std::size_t widest = 0;
    for (std::size_t at = 0; at < out.size(); at = out.find('\n', at) + 1)
      widest = std::max(widest, out.find_first_not_of(' ', at) - at);
    EXPECT_LE(widest, 2 * 33 + 2) << mode.name;
  }
}

// Inputs whose output once grew with the square of their size: four times the input
// gives about four times the output (not sixteen), in every mode.
struct big_input {
  std::string piece;
  std::size_t pieces_a_line;  // of the full input
  std::size_t lines;
  unsigned flags = 0;
};

void PrintTo(const big_input& big, std::ostream* os) {
  *os << big.lines << " lines of " << big.pieces_a_line << " " << big.piece;
}

std::string repeated(const std::string& piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i)
    text += piece;
  return text;
}

class OutputSize : public ::testing::TestWithParam<big_input> {};

TEST_P(OutputSize, GrowsInProportionToTheInput) {
  const big_input& big = GetParam();
  if ((big.flags & known_leak) != 0) GTEST_SKIP() << "known: " << big.piece;
  // A quarter of the input: a quarter of each line, or a quarter of the lines.
  const bool one_line = big.lines == 1;
  const std::string full = repeated(repeated(big.piece, big.pieces_a_line) + "\n", big.lines);
  const std::string quarter =
      repeated(repeated(big.piece, big.pieces_a_line / (one_line ? 4 : 1)) + "\n",
               big.lines / (one_line ? 1 : 4));
  for (const char* option : {"-t", "-x", "-j", "-q"}) {
    test::run_options options;
    options.args = {option};
    const test::run_result small = test::run_program(EMVTLV_PROGRAM, quarter, options);
    const test::run_result large = test::run_program(EMVTLV_PROGRAM, full, options);
    EXPECT_EQ(small.exit_status, 0) << option;
    EXPECT_EQ(large.exit_status, 0) << option;
    EXPECT_LT(large.out.size(), 5 * small.out.size()) << option;
  }
}

INSTANTIATE_TEST_SUITE_P(Quadratic, OutputSize,
                         ::testing::Values(big_input{"E182FFFF", 16384, 1},
                                           big_input{"5780", 32768, 8}));

}  // namespace
}  // namespace emvtlv
