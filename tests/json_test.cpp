// The JSON Lines writer read back with a real JSON parser: every output line is parsed
// and compared with what the reader and the tree parser made of the input line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/output_sink.h"
#include "json_shape.h"
#include "memory_io.h"
#include "modes/tree_mode.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"
#include "writers/json_lines.h"

namespace emvtlv {
namespace {

using json = nlohmann::json;
using namespace std::string_literals;

// What the reader and parser made of one input line, kept past the next line.
struct decoded_line {
  hex_line::kind what;
  std::uint64_t number;
  std::uint64_t column;
  std::string message;
  std::vector<std::uint8_t> bytes;
  std::vector<tree_node> nodes;
  bool has_status;
  std::uint16_t status;
  std::string output;  // the JSON line, newline included
};

struct memory_input {
  std::string_view text;
  std::size_t taken = 0;
};

std::ptrdiff_t read_memory(void* context, char* buffer, std::size_t capacity) {
  auto& in = *static_cast<memory_input*>(context);
  // Small reads, so lines cross block ends.
  const std::size_t n = std::min({capacity, std::size_t{4093}, in.text.size() - in.taken});
  std::memcpy(buffer, in.text.data() + in.taken, n);
  in.taken += n;
  return static_cast<std::ptrdiff_t>(n);
}

// The reader, parser and writer as the JSON mode runs them, over `text`.
std::vector<decoded_line> run_json(std::string_view text) {
  const auto reader = std::make_unique<hex_line_reader>();
  const auto parser = std::make_unique<tree_parser>();
  memory_input in{text};
  std::vector<decoded_line> lines;
  output_sink sink;
  hex_line line;
  for (;;) {
    const hex_line_reader::status got = reader->next(line);
    if (got == hex_line_reader::status::need_input) {
      reader->fill(input_source{&in, read_memory});
      continue;
    }
    if (got != hex_line_reader::status::line) break;
    const tree_result tree =
        line.what == hex_line::kind::record ? parser->parse(line.bytes) : tree_result{};
    sink.clear();
    write_json_line(line, tree, json_options{}, sink);
    lines.push_back({line.what, line.number, line.column, std::string(line.message),
                     std::vector<std::uint8_t>(line.bytes.begin(), line.bytes.end()),
                     std::vector<tree_node>(tree.nodes.begin(), tree.nodes.end()), tree.has_status,
                     tree.status, std::string(sink.view())});
  }
  return lines;
}

std::string hex_of(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (const std::uint8_t b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0xF];
  }
  return hex;
}

// Flattens the JSON elements in the order they stand, with their depth, so they line
// up with the parser's node list.
void flatten(const json& elements, std::uint32_t depth,
             std::vector<std::pair<const json*, std::uint32_t>>& out) {
  for (const json& element : elements) {
    out.emplace_back(&element, depth);
    if (element.contains("elements")) flatten(element["elements"], depth + 1, out);
  }
}

// Checks one output line against the decoded line; returns the failures, empty if none.
std::string compare(const decoded_line& line) {
  std::string failures;
  const auto expect = [&](bool good, const std::string& what) {
    if (!good) failures += what + "\n";
  };
  expect(!line.output.empty() && line.output.back() == '\n' &&
             std::count(line.output.begin(), line.output.end(), '\n') == 1,
         "not exactly one line");
  const std::string_view text(line.output.data(), line.output.empty() ? 0 : line.output.size() - 1);
  std::string why;
  expect(json_line_matches_shape(text, why), "shape: " + why);
  const json object = json::parse(text, nullptr, false);
  if (object.is_discarded() || !object.is_object()) return failures + "does not parse\n";
  expect(object.value("line", std::uint64_t{0}) == line.number, "line number");

  if (line.what == hex_line::kind::bad) {
    expect(!object.contains("elements"), "elements on a bad line");
    expect(object.contains("error") && object["error"].value("message", ""s) == line.message,
           "error message");
    if (line.column > 0)
      expect(object["error"].value("column", std::uint64_t{0}) == line.column, "error column");
    return failures;
  }
  if (!object.contains("elements")) return failures + "no elements\n";
  std::vector<std::pair<const json*, std::uint32_t>> flat;
  flatten(object["elements"], 0, flat);
  expect(flat.size() == line.nodes.size(), "element count " + std::to_string(flat.size()) +
                                               " for " + std::to_string(line.nodes.size()));
  for (std::size_t i = 0; i < std::min(flat.size(), line.nodes.size()); ++i) {
    const json& element = *flat[i].first;
    const tree_node& node = line.nodes[i];
    const std::string at = "node " + std::to_string(i) + ": ";
    const std::span<const std::uint8_t> bytes(line.bytes);
    expect(flat[i].second == node.depth, at + "depth");
    expect(element.value("tag", ""s) == hex_of(bytes.subspan(node.offset, node.tag_size)),
           at + "tag");
    expect(element.value("length", std::uint64_t{99999999}) == node.declared, at + "length");
    expect(element.value("offset", std::uint64_t{99999999}) == node.offset, at + "offset");
    std::array<char, 96> buffer{};
    const std::string problem(describe_problem(node, buffer));
    expect(element.value("problem", ""s) == problem, at + "problem");
    const bool is_template = node.constructed && (node.problem == node_problem::none ||
                                                  node.problem == node_problem::runs_past_end);
    expect(element.contains("elements") == is_template, at + "template or value");
    if (is_template) continue;
    // Every printed digit is the record's, or X; masked says whether there is an X.
    const std::string value = element.value("value", ""s);
    const std::string clear = hex_of(bytes.subspan(node.value_offset, node.value_size));
    bool any_x = false;
    bool faithful = value.size() == clear.size();
    for (std::size_t k = 0; faithful && k < value.size(); ++k) {
      any_x = any_x || value[k] == 'X';
      faithful = value[k] == clear[k] || value[k] == 'X';
    }
    expect(faithful, at + "value " + value + " for " + clear);
    expect(element.contains("masked") == any_x, at + "masked flag");
  }
  expect(object.contains("status") == line.has_status, "status presence");
  if (line.has_status) {
    const std::array<std::uint8_t, 2> sw = {static_cast<std::uint8_t>(line.status >> 8),
                                            static_cast<std::uint8_t>(line.status)};
    expect(object.value("status", ""s) == hex_of(sw), "status");
    expect(object.value("status_meaning", ""s) == std::string(status_meaning(line.status)),
           "status meaning");
  }
  return failures;
}

// One line of output in short: "N: [TAG@OFFSET/LENGTH ...]" with "?" after an unknown
// tag, "!PROBLEM!" after a problem, "=VALUE" (with "*" when masked) or "[children]";
// "sw STATUS (MEANING)" after; "N: error COLUMN MESSAGE" for a line that is not hex.
std::string render_elements(const json& elements) {
  std::string text = "[";
  for (const json& element : elements) {
    if (text.size() > 1) text += ' ';
    text += element.value("tag", ""s);
    if (!element.contains("name")) text += '?';
    text += '@' + std::to_string(element.value("offset", 0)) + '/' +
            std::to_string(element.value("length", 0));
    if (element.contains("problem")) text += '!' + element.value("problem", ""s) + '!';
    if (element.contains("elements")) {
      text += render_elements(element["elements"]);
    } else {
      text += '=' + element.value("value", ""s);
      if (element.value("masked", false)) text += '*';
    }
  }
  return text + "]";
}

std::string render(const std::vector<decoded_line>& lines) {
  std::string text;
  for (const decoded_line& line : lines) {
    const json object = json::parse(line.output, nullptr, false);
    if (!text.empty()) text += '\n';
    text += std::to_string(object.value("line", 0)) + ": ";
    if (object.contains("error")) {
      text += "error " + std::to_string(object["error"].value("column", 0)) + ' ' +
              object["error"].value("message", ""s);
      continue;
    }
    text += object.contains("elements") ? render_elements(object["elements"]) : "no elements";
    if (object.contains("status")) {
      text += " sw " + object.value("status", ""s);
      if (object.contains("status_meaning"))
        text += " (" + object.value("status_meaning", ""s) + ')';
    }
  }
  return text;
}

struct json_case {
  std::string input;
  std::string rendered;  // render() of the output
};

void PrintTo(const json_case& c, std::ostream* os) {
  *os << testing::PrintToString(c.input.substr(0, 80));
}

class json_lines_test : public testing::TestWithParam<json_case> {};

TEST_P(json_lines_test, parses_back_to_the_decoded_nodes) {
  const std::vector<decoded_line> lines = run_json(GetParam().input);
  for (const decoded_line& line : lines)
    EXPECT_EQ(compare(line), "") << line.output;
  EXPECT_EQ(render(lines), GetParam().rendered);
}

const json_case json_cases[] = {
    // Line kinds and input forms.
    {"6F1A840E315041592E5359532E4444463031A5088801025F2D02656E\n",
     "1: [6F@0/26[84@2/14=315041592E5359532E4444463031 A5@18/8[88@20/1=02 5F2D@23/2=656E]]]"},
    {"6f:1a:84:0e:31:50:41:59:2e:53:59:53:2e:44:44:46:30:31:a5:08:88:01:02:5f:2d:02:65:6e\r\n",
     "1: [6F@0/26[84@2/14=315041592E5359532E4444463031 A5@18/8[88@20/1=02 5F2D@23/2=656E]]]"},
    {"\n  \t\n9F36020041", "1: []\n2: []\n3: [9F36@0/2=0041]"},
    {"6F1A84Z0\n", "1: error 7 'Z' is not a hex digit"},
    {"6F1\n", "1: error 3 odd number of hex digits"},
    {"6 F\n", "1: error 2 ' ' inside a hex pair"},
    {"6F\"1A\n9F\\\n", "1: error 3 '\"' is not a hex digit\n2: error 3 '\\' is not a hex digit"},
    {"6F\xFF\n6F\x01\n",
     "1: error 3 '\\xFF' is not a hex digit\n2: error 3 '\\x01' is not a hex digit"},
    {"880\n\nzz\n9000\n",
     "1: error 3 odd number of hex digits\n2: []\n3: error 1 'z' is not a hex digit\n"
     "4: [] sw 9000 (success)"},
    // Padding.
    {"00006F03840100000000", "1: [6F@2/3[84@4/1=00]]"},
    {"0000", "1: []"},
    {"6F0A0000840100A5038801010090 00",
     "1: [6F@0/10[84@4/1=00 A5@7/3[88@9/1=01]]] sw 9000 (success)"},
    // Every problem, where it happens, with the bytes left.
    {"9F0206000000", "1: [9F02@0/6!value runs past the end: 6 bytes declared, 3 left!=000000]"},
    {"6F08 8402 8AB0",
     "1: [6F@0/8!value runs past the end: 8 bytes declared, 4 left![84@2/2=8AB0]]"},
    {"6F80840101", "1: [6F@0/0!indefinite length (80) not allowed!=840101]"},
    {"9F0285 0000000001 00", "1: [9F02@0/0!length field of 6 octets is too long!=000000000100]"},
    {"5F2D8201", "1: [5F2D@0/0!length runs past the end!=]"},
    {"5F2D", "1: [5F2D@0/0!length runs past the end!=]"},
    {"9F8181", "1: [9F8181?@0/0!tag runs past the end!=]"},
    {"70 05 88 01 01 9F 81", "1: [70@0/5[88@2/1=01 9F81?@5/0!tag runs past the end!=]]"},
    {"A5 03 88 01 01 5F 2D 08 65 6E",
     "1: [A5@0/3[88@2/1=01] 5F2D@5/8!value runs past the end: 8 bytes declared, 2 left!=656E]"},
    // Unknown tags do not end the record.
    {"DF7F0101C101AA9F36020041", "1: [DF7F?@0/1=01 C1?@4/1=AA 9F36@7/2=0041]"},
    {"9F8181817F01FF", "1: [9F8181817F?@0/1=FF]"},
    {"BF0C05DF7F020102", "1: [BF0C@0/5[DF7F?@3/2=0102]]"},
    // Status words, with and without a listed meaning, and when they are data.
    {"6A82", "1: [] sw 6A82 (file or application not found)"},
    {"6F00", "1: [] sw 6F00"},
    {"9F360200416110", "1: [9F36@0/2=0041] sw 6110 (more data available)"},
    // A card number cut short shows no digit, even two that look like a status word.
    {"5A089000", "1: [5A@0/8!value runs past the end: 8 bytes declared, 2 left!=XXXX*]"},
    {"6F00 6C1A", "1: [6F@0/0[]] sw 6C1A (wrong length Le)"},
    // Card numbers, on their own and inside templates.
    {"5A084111111111111111", "1: [5A@0/8=XXXXXXXXXXXX1111*]"},
    {"70 1C 5A 08 4111111111111111 57 0A 4111111111111111D251 9F6B 03 411111",
     "1: [70@0/28[5A@2/8=XXXXXXXXXXXX1111* 57@12/10=XXXXXXXXXXXX1111D251* 9F6B@24/3=XX1111*]]"},
    {"77 0B 9F6B 08 4761739001010010 9000",
     "1: [77@0/11[9F6B@2/8=XXXXXXXXXXXX0010*]] sw 9000 (success)"},
    {"77 09 9F6B 06 000000010000", "1: [77@0/9[9F6B@2/6=000000010000]]"},
    {"70 14 56 12 42353431333333303038393031303433345E",
     "1: [70@0/20[56@2/18=42XXXXXXXXXXXXXXXXXXXXXXXX303433345E*]]"},
    {"7010 E10E A50C 5A0A 5413330089010434567F",
     "1: [70@0/16[E1?@2/14[A5@4/12[5A@6/10=XXXXXXXXXXXXXXX4567F*]]]]"},
    // Bytes 00-1F and 7F-FF in text values stay hex.
    {"50 06 00 1F 7F 80 C3 FF", "1: [50@0/6=001F7F80C3FF]"},
    {"5F20 04 22 5C 0A 00", "1: [5F20@0/4=225C0A00]"},
    // Three deep, then back up two levels.
    {"6F 0C A5 08 BF0C 05 9F4D 02 0B0A 84 00",
     "1: [6F@0/12[A5@2/8[BF0C@4/5[9F4D@7/2=0B0A]] 84@12/0=]]"},
};

INSTANTIATE_TEST_SUITE_P(rows, json_lines_test, testing::ValuesIn(json_cases));

// Whatever the record, the output carries the parser's nodes; here records too big or
// too deep to write out by hand.
struct built_case {
  std::string name;
  std::string input;
  std::size_t objects;
};

std::string nested(std::size_t depth, std::string inner_hex) {
  for (std::size_t i = 0; i < depth; ++i) {
    const std::size_t n = inner_hex.size() / 2;
    std::string header = "E1";
    if (n >= 0x100)
      header += "82" + hex_of(std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(n >> 8),
                                                          static_cast<std::uint8_t>(n)});
    else if (n >= 0x80)
      header += "81" + hex_of(std::array<std::uint8_t, 1>{static_cast<std::uint8_t>(n)});
    else
      header += hex_of(std::array<std::uint8_t, 1>{static_cast<std::uint8_t>(n)});
    inner_hex = header + inner_hex;
  }
  return inner_hex;
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i)
    text += piece;
  return text;
}

TEST(json_lines_built, large_and_deep_records_parse_back) {
  const built_case cases[] = {
      {"500 templates deep", nested(500, "5A084111111111111111") + "\n", 1},
      {"longest record",
       "7082FFFC" + repeat("DF7F81C8" + repeat("AB", 200), 321) + repeat("00", 48) + "\n", 1},
      {"one byte too long", repeat("AA", 65537) + "\n9000\n", 2},
      {"1000 short records", repeat("9F3602004190 00\n", 1000), 1000},
      {"every tag octet from 01 to FE",
       [] {
         std::string text;
         for (int tag = 1; tag < 0xFF; ++tag)
           if ((tag & 0x1F) != 0x1F)
             text += hex_of(std::array<std::uint8_t, 1>{static_cast<std::uint8_t>(tag)}) + "00";
         return text + "\n";
       }(),
       1},
  };
  for (const built_case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<decoded_line> lines = run_json(c.input);
    ASSERT_EQ(lines.size(), c.objects);
    for (const decoded_line& line : lines)
      EXPECT_EQ(compare(line), "");
  }
  // The innermost card number is still masked, 500 levels down.
  const std::vector<decoded_line> deep = run_json(nested(500, "5A084111111111111111"));
  ASSERT_EQ(deep.size(), 1u);
  EXPECT_EQ(deep[0].output.find("4111111111111111"), std::string::npos);
  EXPECT_NE(deep[0].output.find("\"XXXXXXXXXXXX1111\",\"masked\":true"), std::string::npos);
}

#ifdef EMVTLV_JSON_RECORDS
TEST(json_lines_records, every_test_record_parses_back) {
  std::ifstream file(EMVTLV_JSON_RECORDS, std::ios::binary);
  ASSERT_TRUE(file);
  std::string text(std::size_t{1} << 20, '\0');  // room for the whole file
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  ASSERT_LT(text.size(), std::size_t{1} << 20);
  const std::vector<decoded_line> lines = run_json(text);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  for (const decoded_line& line : lines)
    EXPECT_EQ(compare(line), "") << "input line " << line.number;
}
#endif

// put_json_string: what it writes, and what a JSON parser reads back from that.
struct escape_case {
  std::string text;
  std::string written;
  std::string read_back;
};

void PrintTo(const escape_case& c, std::ostream* os) {
  *os << testing::PrintToString(c.text);
}

class json_string_test : public testing::TestWithParam<escape_case> {};

TEST_P(json_string_test, escapes_to_valid_json) {
  output_sink out;
  put_json_string(out, GetParam().text);
  EXPECT_EQ(out.view(), GetParam().written);
  const json parsed = json::parse(out.view(), nullptr, false);
  ASSERT_FALSE(parsed.is_discarded());
  ASSERT_TRUE(parsed.is_string());
  EXPECT_EQ(parsed.get<std::string>(), GetParam().read_back);
}

const std::string replacement = "\xEF\xBF\xBD";

const escape_case escape_cases[] = {
    {"", R"("")", ""},
    {"Dedicated File (DF) Name", R"("Dedicated File (DF) Name")", "Dedicated File (DF) Name"},
    {R"(say "hi")", R"("say \"hi\"")", R"(say "hi")"},
    {R"(a\b)", R"("a\\b")", R"(a\b)"},
    {"'\\xFF' is not a hex digit", R"("'\\xFF' is not a hex digit")", "'\\xFF' is not a hex digit"},
    {"\x00\x01\x1F"s, R"("\u0000\u0001\u001F")", "\x00\x01\x1F"s},
    {"\t\n\r", R"("\u0009\u000A\u000D")", "\t\n\r"},
    {"a\x7F"
     "b",
     R"("a\u007Fb")",
     "a\x7F"
     "b"},
    {"\xC3\xA9t\xC3\xA9", "\"\xC3\xA9t\xC3\xA9\"", "\xC3\xA9t\xC3\xA9"},
    {"\xE2\x82\xAC 5", "\"\xE2\x82\xAC 5\"", "\xE2\x82\xAC 5"},
    {"\xF0\x9F\x92\xB3", "\"\xF0\x9F\x92\xB3\"", "\xF0\x9F\x92\xB3"},
    {"\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\"", "\xF4\x8F\xBF\xBF"},  // U+10FFFF, the last
    {"\x80", R"("\uFFFD")", replacement},
    {"\xFF\xFE", R"("\uFFFD\uFFFD")", replacement + replacement},
    {"\xC0\xAF", R"("\uFFFD\uFFFD")", replacement + replacement},  // overlong '/'
    {"\xE0\x80\xAF", R"("\uFFFD\uFFFD\uFFFD")", replacement + replacement + replacement},
    {"\xED\xA0\x80", R"("\uFFFD\uFFFD\uFFFD")", replacement + replacement + replacement},
    {"\xED\x9F\xBF", "\"\xED\x9F\xBF\"", "\xED\x9F\xBF"},  // U+D7FF, just below them
    {"\xF4\x90\x80\x80", R"("\uFFFD\uFFFD\uFFFD\uFFFD")",
     replacement + replacement + replacement + replacement},  // past U+10FFFF
    {"\xF5\x80", R"("\uFFFD\uFFFD")", replacement + replacement},
    {"a\xE2\x82", R"("a\uFFFD\uFFFD")", "a" + replacement + replacement},  // cut at the end
    {"\xE2\x82"
     "A",
     R"("\uFFFD\uFFFDA")", replacement + replacement + "A"},
    {"\xF0\x9F\x92", R"("\uFFFD\uFFFD\uFFFD")", replacement + replacement + replacement},
    {"\xC3\"", R"("\uFFFD\"")", replacement + "\""},
};

INSTANTIATE_TEST_SUITE_P(rows, json_string_test, testing::ValuesIn(escape_cases));

// put_json_string reads its text a word at a time: a byte that needs escaping, at every
// place in texts of every length a word covers, must come out as the byte-at-a-time
// reading writes it.
std::string escaped_one_by_one(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto at = [&](std::size_t k) {
      return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    std::size_t n = 0;  // a well-formed UTF-8 sequence of n bytes
    if (c >= 0xC2 && c <= 0xDF) {
      n = at(1) >= 0x80 && at(1) <= 0xBF ? 2 : 0;
    } else if (c >= 0xE0 && c <= 0xEF) {
      const unsigned char low = c == 0xE0 ? 0xA0 : 0x80;
      const unsigned char high = c == 0xED ? 0x9F : 0xBF;
      n = at(1) >= low && at(1) <= high && at(2) >= 0x80 && at(2) <= 0xBF ? 3 : 0;
    } else if (c >= 0xF0 && c <= 0xF4) {
      const unsigned char low = c == 0xF0 ? 0x90 : 0x80;
      const unsigned char high = c == 0xF4 ? 0x8F : 0xBF;
      n = at(1) >= low && at(1) <= high && at(2) >= 0x80 && at(2) <= 0xBF && at(3) >= 0x80 &&
                  at(3) <= 0xBF
              ? 4
              : 0;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      constexpr char digits[] = "0123456789ABCDEF";
      out += "\\u00";
      out += digits[c >> 4];
      out += digits[c & 0xF];
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (n > 0) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    } else {
      out += "\\uFFFD";
    }
    ++i;
  }
  return out + "\"";
}

TEST(json_string, every_byte_at_every_place_as_one_by_one) {
  const std::string odd = "\"\\\x00\x01\x1F\x7F\x80\xBF\xC3\xE2\xED\xF0\xF4\xFF"s;
  for (std::size_t size = 1; size <= 70; ++size) {
    for (std::size_t place = 0; place < size; ++place) {
      for (const char c : odd) {
        std::string text(size, 'a');
        text[place] = c;
        // Inside a string_view of its own storage only, so a read past it shows.
        const auto storage = std::make_unique<char[]>(size);
        std::memcpy(storage.get(), text.data(), size);
        output_sink out;
        put_json_string(out, {storage.get(), size});
        ASSERT_EQ(out.view(), escaped_one_by_one(text)) << size << " " << place;
      }
      // And a well-formed sequence there, cut by the end or not.
      std::string text(size, 'b');
      text.replace(place, std::min<std::size_t>(3, size - place), "\xE2\x82\xAC", 0,
                   std::min<std::size_t>(3, size - place));
      output_sink out;
      put_json_string(out, text);
      ASSERT_EQ(out.view(), escaped_one_by_one(text)) << size << " " << place;
    }
    output_sink out;
    const std::string plain(size, '~');
    put_json_string(out, plain);
    ASSERT_EQ(out.view(), "\"" + plain + "\"");
  }
}

// json_line_matches_shape, the fuzzers' check: accepts what the writer writes and
// refuses each way of breaking the schema.
struct shape_case {
  std::string line;
  bool matches;
};

void PrintTo(const shape_case& c, std::ostream* os) {
  *os << testing::PrintToString(c.line.substr(0, 120));
}

class json_shape_test : public testing::TestWithParam<shape_case> {};

TEST_P(json_shape_test, matches_the_schema) {
  std::string why;
  EXPECT_EQ(json_line_matches_shape(GetParam().line, why), GetParam().matches) << why;
  EXPECT_EQ(why.empty(), GetParam().matches);
}

std::string node_line(std::string_view node) {
  return R"({"line":1,"elements":[)" + std::string(node) + "]}";
}

const shape_case shape_cases[] = {
    {R"({"line":1,"elements":[]})", true},
    {R"({"line":7,"error":{"message":"'Z' is not a hex digit","column":3}})", true},
    {R"({"line":7,"error":{"message":"read error"}})", true},
    {R"({"line":2,"elements":[],"status":"6F00"})", true},
    {R"({"line":2,"elements":[],"status":"9000","status_meaning":"success"})", true},
    {node_line(
         R"({"tag":"6F","name":"FCI","length":3,"offset":0,"elements":[)"
         R"({"tag":"5A","length":1,"offset":2,"problem":"p","problem_id":"value_runs_past_end",)"
         R"("value":"X1","masked":true}]})"),
     true},
    {node_line(
         R"({"tag":"82","length":2,"offset":0,"value":"1980","explain":[{"kind":"bit",)"
         R"("label":"byte 1 b7","text":"SDA supported","items":[{"kind":"field","text":""}]}]})"),
     true},
    {node_line(R"({"tag":"95","length":5,"offset":0,"value":"0000000000","explain":[)"
               R"({"kind":"none","text":"no bit set"}]})"),
     true},
    {node_line(R"({"tag":"4F","length":5,"offset":0,"value":"A000000004","explain":[)"
               R"({"kind":"field","label":"payment system","text":"Mastercard",)"
               R"("payment_system":"Mastercard"},{"kind":"field","label":"kernel",)"
               R"("text":"C-2","kernel":"C-2"}]})"),
     true},
    {"{\"line\":1,\"elements\":[]} ", true},
    // The line.
    {"", false},
    {"[]", false},
    {R"({"line":1,"elements":[]}{})", false},
    {"{\"line\":1,\n\"elements\":[]}", false},
    {R"({"elements":[]})", false},
    {R"({"line":0,"elements":[]})", false},
    {R"({"line":1.0,"elements":[]})", false},
    {R"({"line":"1","elements":[]})", false},
    {R"({"line":1})", false},
    {R"({"line":1,"elements":[],"error":{"message":"x"}})", false},
    {R"({"line":1,"elements":[],"line":1})", false},
    {R"({"line":1,"elements":[],"extra":0})", false},
    {R"({"line":1,"elements":{}})", false},
    {R"({"line":1,"elements":[],"status":"900"})", false},
    {R"({"line":1,"elements":[],"status":"6a82"})", false},
    {R"({"line":1,"elements":[],"status_meaning":"success"})", false},
    {R"({"line":1,"error":{"message":"x"},"status":"9000"})", false},
    {R"({"line":1,"error":{"message":"x","column":0}})", false},
    {R"({"line":1,"error":{"column":3}})", false},
    {R"({"line":1,"error":{"message":""}})", false},
    {R"({"line":1,"error":{"message":"x","why":1}})", false},
    {"{\"line\":1,\"error\":{\"message\":\"\xFF\"}}", false},
    {"{\"line\":1,\"error\":{\"message\":\"\xED\xA0\x80\"}}", false},
    // A node.
    {node_line(R"({"tag":"5a","length":0,"offset":0,"value":""})"), false},
    {node_line(R"({"tag":"","length":0,"offset":0,"value":""})"), false},
    {node_line(R"({"tag":"5A","offset":0,"value":""})"), false},
    {node_line(R"({"tag":"5A","length":-1,"offset":0,"value":""})"), false},
    {node_line(R"({"tag":"5A","length":0,"offset":0})"), false},
    {node_line(R"({"tag":"5A","length":0,"offset":0,"value":"","elements":[]})"), false},
    {node_line(R"({"tag":"5A","length":1,"offset":0,"value":"4"})"), false},
    {node_line(R"({"tag":"5A","length":1,"offset":0,"value":"x1"})"), false},
    {node_line(R"({"tag":"5A","length":1,"offset":0,"value":"41","masked":false})"), false},
    {node_line(R"({"tag":"6F","length":0,"offset":0,"elements":[],"masked":true})"), false},
    {node_line(R"({"tag":"5A","length":0,"offset":0,"value":"","name":""})"), false},
    {node_line(R"({"tag":"5A","length":0,"offset":0,"value":"","tags":1})"), false},
    {node_line(R"({"tag":"6F","length":2,"offset":0,"elements":[{"tag":"5A"}]})"), false},
    // An explanation item.
    {node_line(R"({"tag":"82","length":0,"offset":0,"value":"","explain":[]})"), false},
    {node_line(
         R"({"tag":"82","length":0,"offset":0,"value":"","explain":[{"kind":"note","text":""}]})"),
     false},
    {node_line(R"({"tag":"82","length":0,"offset":0,"value":"","explain":[{"kind":"bit"}]})"),
     false},
    {node_line(R"({"tag":"82","length":0,"offset":0,"value":"","explain":[{"kind":"bit","text":"",)"
               R"("items":[{"kind":"bit","text":"","level":1}]}]})"),
     false},
};

INSTANTIATE_TEST_SUITE_P(rows, json_shape_test, testing::ValuesIn(shape_cases));

TEST(json_shape_deep, nesting_costs_no_stack) {
  constexpr std::size_t depth = 20000;
  std::string line = R"({"line":1,"elements":[)";
  for (std::size_t i = 0; i < depth; ++i)
    line += R"({"tag":"E1","length":0,"offset":0,"elements":[)";
  line += R"({"tag":"5A","length":0,"offset":0,"value":"X"})";
  for (std::size_t i = 0; i < depth; ++i)
    line += "]}";
  line += "]}";
  std::string why;
  EXPECT_FALSE(json_line_matches_shape(line, why));  // "X" is half a byte
  EXPECT_NE(why.find("depth 20000"), std::string::npos) << why;
}

}  // namespace
}  // namespace emvtlv

namespace emvtlv {
namespace {

// Output of the whole mode, in memory.
std::string run_mode(std::string_view input, tree_mode_options options) {
  test::string_input in{input};
  test::string_output out;
  EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
  return out.text;
}

// The explanation lines the text writer would print for the items of `items`.
void explain_lines_of(const nlohmann::json& items, std::size_t indent,
                      std::vector<std::string>& lines) {
  for (const nlohmann::json& item : items) {
    std::string line(indent, ' ');
    line += "- ";
    if (item.contains("label")) line += item["label"].get<std::string>() + ": ";
    line += item["text"].get<std::string>();
    lines.push_back(line);
    if (item.contains("items")) explain_lines_of(item["items"], indent + 2, lines);
  }
}

void explain_lines_of_nodes(const nlohmann::json& nodes, std::size_t depth,
                            std::vector<std::string>& lines) {
  for (const nlohmann::json& node : nodes) {
    if (node.contains("explain")) explain_lines_of(node["explain"], 2 * (depth + 1), lines);
    if (node.contains("elements")) explain_lines_of_nodes(node["elements"], depth + 1, lines);
  }
}

// -jx carries exactly what -x prints under the elements, item for item and nested alike.
TEST(json_explain, parses_back_to_the_text_explanation) {
  const std::string input =
      "80061980080103019000\n"
      "8E0E000000000000000042031E031F00\n"
      "9F38069F66049F3704 8C039F0206\n"
      "9F02060000000123455F3601025F2A0209789F1A020840\n"
      "701357114761739001010010D27122011143804489\n"
      "9F27018095050000048000 5F2D04656E6672 500A5649534120435245444954\n"
      "82021980000000 9F070201\n"
      "9F100706010A03A40000\n"
      "4F07A0000000041010 9F10120110A0400324C000000000000000000000FF\n";
  tree_mode_options text;
  text.explain = true;
  tree_mode_options jsonl = text;
  jsonl.output = tree_mode_options::format::json;

  std::vector<std::string> expected;
  const std::string printed = run_mode(input, text);
  for (std::size_t at = 0; at < printed.size();) {
    const std::size_t end = printed.find('\n', at);
    const std::string line = printed.substr(at, end - at);
    if (line.find_first_not_of(' ') != std::string::npos &&
        line[line.find_first_not_of(' ')] == '-')
      expected.push_back(line);
    at = end + 1;
  }
  ASSERT_GT(expected.size(), 40u);

  std::vector<std::string> from_json;
  const std::string written = run_mode(input, jsonl);
  std::size_t objects = 0;
  for (std::size_t at = 0; at < written.size(); ++objects) {
    const std::size_t end = written.find('\n', at);
    const nlohmann::json object = nlohmann::json::parse(written.substr(at, end - at));
    explain_lines_of_nodes(object["elements"], 0, from_json);
    at = end + 1;
  }
  EXPECT_EQ(objects, 9u);
  EXPECT_EQ(from_json, expected);
}

}  // namespace
}  // namespace emvtlv

namespace emvtlv {
namespace {

// Every explanation item of a -jx line, depth first, without its nested items.
void flat_items(const nlohmann::json& items, std::vector<std::string>& out) {
  for (nlohmann::json item : items) {
    nlohmann::json nested;
    if (item.contains("items")) {
      nested = item["items"];
      item.erase("items");
    }
    out.push_back(item.dump());
    if (!nested.is_null()) flat_items(nested, out);
  }
}

void flat_node_items(const nlohmann::json& nodes, std::vector<std::string>& out) {
  for (const nlohmann::json& node : nodes) {
    if (node.contains("explain")) flat_items(node["explain"], out);
    if (node.contains("elements")) flat_node_items(node["elements"], out);
  }
}

std::vector<std::string> typed_items(const std::string& record,
                                     emv_kernel kernel = emv_kernel::unknown) {
  tree_mode_options options;
  options.kernel = kernel;
  options.explain = true;
  options.output = tree_mode_options::format::json;
  const std::string written = run_mode(record + "\n", options);
  std::vector<std::string> items;
  flat_node_items(nlohmann::json::parse(written)["elements"], items);
  return items;
}

struct typed_case {
  std::string record;
  std::vector<std::string> items;  // each item as nlohmann dumps it: keys sorted
};

void PrintTo(const typed_case& c, std::ostream* os) {
  *os << c.record;
}

class json_typed : public testing::TestWithParam<typed_case> {};

TEST_P(json_typed, carries_these_fields_beside_the_text) {
  EXPECT_EQ(typed_items(GetParam().record), GetParam().items);
}

const typed_case typed_cases[] = {
    {"82021981",
     {R"j({"bit":5,"byte":1,"id":"cardholder_verification_supported","kind":"bit","label":"byte 1 b5","text":"Cardholder verification is supported"})j",
      R"j({"bit":4,"byte":1,"id":"terminal_risk_management_to_be_performed","kind":"bit","label":"byte 1 b4","text":"Terminal risk management is to be performed"})j",
      R"j({"bit":1,"byte":1,"id":"cda_supported","kind":"bit","label":"byte 1 b1","text":"CDA supported"})j",
      R"j({"kind":"field","label":"byte 2","text":"kernel-specific: 81"})j"}},
    {"9B020001",
     {R"j({"bit":1,"byte":2,"kind":"rfu","label":"byte 2 b1","text":"RFU bit set: byte 2 b1"})j"}},
    {"95050000000000", {R"j({"kind":"none","text":"no bit set"})j"}},
    {"9F270180",
     {R"j({"cryptogram":"ARQC","kind":"field","label":"cryptogram","number":2,"text":"ARQC (go online)"})j",
      R"j({"kind":"field","label":"advice","text":"no advice required"})j",
      R"j({"kind":"field","label":"reason","text":"no information given"})j"}},
    {"9F440102 9F42020978 8E0A000003E8000000001F03",
     {R"j({"exponent":2,"kind":"meaning","text":"2 decimal places"})j",
      R"j({"code":"EUR","kind":"meaning","number":978,"text":"978 EUR Euro"})j",
      R"j({"amount":"10.00","currency":"EUR","exponent":2,"kind":"field","label":"amount X","number":1000,"text":"10.00 EUR (Euro)"})j",
      R"j({"amount":"0.00","currency":"EUR","exponent":2,"kind":"field","label":"amount Y","number":0,"text":"0.00 EUR (Euro)"})j",
      R"j({"kind":"entry","label":"rule 1","text":"1F03"})j",
      R"j({"kind":"field","label":"method","number":31,"text":"No CVM required"})j",
      R"j({"kind":"field","label":"condition","number":3,"text":"If terminal supports the CVM"})j",
      R"j({"kind":"field","label":"if unsuccessful","text":"fail cardholder verification"})j"}},
    // An AID's payment system and kernel.
    {"4F07A0000000041010",
     {R"j({"kind":"field","label":"payment system","payment_system":"Mastercard","text":"Mastercard"})j",
      R"j({"kernel":"C-2","kind":"field","label":"kernel","text":"C-2"})j",
      R"j({"kind":"field","label":"product","text":"Mastercard credit/debit"})j"}},
    {"9F0607A0000003591010",
     {R"j({"kind":"field","label":"payment system","payment_system":"girocard","text":"girocard"})j",
      R"j({"kernel":"domestic","kind":"field","label":"kernel","text":"domestic, no EMVCo kernel"})j"}},
    // No 5F36: the currency's minor unit.
    {"9F0206000000001000 5F2A020840",
     {R"j({"amount":"10.00","currency":"USD","exponent":2,"kind":"meaning","number":1000,"text":"10.00 USD (US Dollar), exponent from the currency"})j",
      R"j({"code":"USD","kind":"meaning","number":840,"text":"840 USD US Dollar"})j"}},
    // No exponent and no currency: the minor units, but no amount text.
    {"9F0206000000001000",
     {R"j({"kind":"meaning","number":1000,"text":"1000, exponent unknown"})j"}},
    // 9F10: the key index and the CVN as numbers, each CVR bit with its id, the AC types
    // with their cryptogram.
    {"9F100706010A03A40000",
     {R"j({"kind":"field","label":"reading","text":"Visa format 0/1/3 (by pattern)"})j",
      R"j({"id":"dki","kind":"field","label":"DKI","number":1,"text":"01"})j",
      R"j({"id":"cvn","kind":"field","label":"CVN","number":10,"text":"CVN 10: original contact VIS; AC input ends with the 4-byte CVR"})j",
      R"j({"kind":"field","label":"CVR","text":"03A40000"})j",
      R"j({"id":"second_ac","kind":"field","label":"byte 2 b8-b7","number":2,"text":"AC in 2nd GENERATE AC: not requested"})j",
      R"j({"cryptogram":"ARQC","id":"first_ac","kind":"field","label":"byte 2 b6-b5","number":2,"text":"AC in 1st GENERATE AC (contactless: GPO): ARQC"})j",
      R"j({"bit":3,"byte":2,"id":"offline_pin_verification_performed","kind":"bit","label":"byte 2 b3","text":"offline PIN verification performed"})j",
      R"j({"id":"script_command_count","kind":"field","label":"byte 4 b8-b5","number":0,"text":"issuer script commands processed: 0"})j",
      R"j({"kind":"field","label":"IDD","text":"none"})j"}},
    {"5F2403271231", {R"j({"date":"2027-12-31","kind":"meaning","text":"2027-12-31"})j"}},
    {"5F28020840",
     {R"j({"code":"US","kind":"meaning","number":840,"text":"840 United States of America"})j"}},
    {"5F2D04656E7A7A",
     {R"j({"kind":"meaning","text":"en zz"})j",
      R"j({"code":"en","kind":"field","label":"en","text":"English"})j",
      R"j({"kind":"field","label":"zz","text":"unknown language"})j"}},
    {"940408010301",
     {R"j({"kind":"entry","label":"entry 1","text":"08010301"})j",
      R"j({"kind":"field","label":"SFI","number":1,"text":"1"})j",
      R"j({"first_record":1,"kind":"field","label":"records","last_record":3,"text":"1-3"})j",
      R"j({"kind":"field","label":"offline authentication","number":1,"text":"1"})j"}},
    {"9F38039F3704",
     {R"j({"kind":"entry","label":"9F37","number":4,"text":"Unpredictable Number, 4 bytes"})j"}},
    {"82031980FF",
     {R"j({"kind":"problem","problem_id":"wrong_length","text":"AIP: 2 bytes expected, 3 given"})j"}},
    {"9A03271301",
     {R"j({"kind":"problem","problem_id":"not_a_date","text":"not a date: 271301"})j"}},
    {"5F360110",
     {R"j({"kind":"problem","problem_id":"exponent_above_9","text":"exponent 10 above 9"})j"}},
    {"5706D2712201123F",
     {R"j({"kind":"problem","problem_id":"track2_no_pan","text":"Track 2: no PAN before the separator"})j",
      R"j({"date":"2027-12","kind":"field","label":"expiry","text":"2027-12"})j",
      R"j({"kind":"field","label":"service code","text":"201"})j",
      R"j({"kind":"field","label":"discretionary data","text":"3 digits, hidden"})j"}},
};

INSTANTIATE_TEST_SUITE_P(rows, json_typed, testing::ValuesIn(typed_cases));

// A node's problem, and a line's that is not hex, has its id beside its text.
TEST(json_typed, node_problems_have_ids) {
  tree_mode_options options;
  options.output = tree_mode_options::format::json;
  const std::string input = "9F2608112233\n6F80840101\n5F2D8201\n6F1Z\n6F1\n6F1:A\n";
  const std::string written = run_mode(input, options);
  std::vector<std::string> ids;
  for (std::size_t at = 0; at < written.size();) {
    const std::size_t end = written.find('\n', at);
    const nlohmann::json line = nlohmann::json::parse(written.substr(at, end - at));
    if (line.contains("error")) ids.push_back(line["error"]["problem_id"].get<std::string>());
    if (line.contains("elements"))
      for (const auto& node : line["elements"])
        if (node.contains("problem_id")) ids.push_back(node["problem_id"].get<std::string>());
    at = end + 1;
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"value_runs_past_end", "indefinite_length",
                                           "length_runs_past_end", "not_a_hex_digit",
                                           "odd_number_of_hex_digits", "separator_inside_a_pair"}));
}

// Every bit id the program gives is listed in the schema, in its enum and in its
// description, and the schema lists no id the program never gives.
TEST(json_typed, schema_lists_every_bit_id) {
  std::ifstream file(EMVTLV_SCHEMA);
  ASSERT_TRUE(file) << EMVTLV_SCHEMA;
  const nlohmann::json schema = nlohmann::json::parse(file);
  const nlohmann::json& id = schema["definitions"]["item"]["properties"]["id"];
  const std::string description = id["description"].get<std::string>();
  std::vector<std::string> listed = id["enum"].get<std::vector<std::string>>();

  // Every bit of every bit field set, and the TVR's byte 5 as the kernels read it.
  std::vector<std::string> given;
  std::vector<std::string> items = typed_items("4F07A0000000041010 9505FFFFFFFFFF");
  for (const std::string& item : typed_items("9505FFFFFFFFFF", emv_kernel::contact))
    items.push_back(item);
  const std::string all_bits =
      "8202FFFF 9F0702FFFF 9505FFFFFFFFFF 9B02FFFF 9F3303FFFFFF 9F4005FFFFFFFFFF "
      "9F6604FFFFFFFF 9F6C02FFFF "
      // 9F10 in each layout, every CVR bit set.
      "9F10200FAF" +
      std::string(28, 'F') + "0F" + std::string(30, 'F') + " 9F100806FF0A03FFFFFF00 9F10201F2FFF" +
      std::string(10, 'F') + "0F" + std::string(46, 'F') + " 9F1012FF17" + std::string(32, 'F') +
      " 9F1014FF17" + std::string(36, 'F');
  for (const std::string& item : typed_items(all_bits))
    items.push_back(item);
  // The kernels' fields under their kernels, and 91 with a CSU.
  for (const char* record : {"4F07A0000000031010 9F6E043FFFFFFF", "4F06A00000002501 9F6E04FFFFFFFF",
                             "4F07A0000000041010 9F5D03FFFFFF 9F1D08FFFFFFFFFFFFFFFF",
                             "910CFFFFFFFFFFFFFFFFFFFFFFFF 9F2A0102"})
    for (const std::string& item : typed_items(record))
      items.push_back(item);
  for (const std::string& item : items) {
    const nlohmann::json parsed = nlohmann::json::parse(item);
    if (!parsed.contains("id")) continue;
    const std::string name = parsed["id"].get<std::string>();
    EXPECT_NE(description.find(name), std::string::npos) << name;
    if (std::find(given.begin(), given.end(), name) == given.end()) given.push_back(name);
  }
  std::sort(given.begin(), given.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(given, listed);
}

}  // namespace
}  // namespace emvtlv
