// Fuzz target: arbitrary bytes as tree-mode input, run through the whole mode as text
// (with and without explanations and line numbers) and as JSON Lines (with and without
// explanations). The properties below abort when they fail:
// - the output is whole lines, the same on a second run in reads of random size,
//   and each line's output is what that line gives run alone (nothing carries over);
// - numbered text is the plain text with each line's "N:" in front;
// - JSON: one object per input line, of the schema's shape, `line` counting from 1;
// - no card number shows more than its last four digits in clear. The rules are
//   written out plainly here, apart from the program's masking code; the parser's
//   nodes say where the values stand.
// Only the first max_checked_lines lines are run one by one: every run of the mode
// makes its reader, parser and sink afresh (over 2 MiB), which under ASan costs
// about a millisecond.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "fuzz_support.h"
#include "json_shape.h"
#include "memory_io.h"
#include "modes/tree_mode.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"

using namespace emvtlv;
using emvtlv::fuzz::memory_input;
using emvtlv::fuzz::random_bits;
using emvtlv::fuzz::require;
using emvtlv::fuzz::seed_of;
using json = nlohmann::json;

namespace {

using format = tree_mode_options::format;

constexpr std::size_t max_checked_lines = 8;
// Bytes parsed again while looking for card numbers inside bytes left after a
// problem; nested problems could make that quadratic.
constexpr std::size_t max_reparsed_bytes = std::size_t{1} << 18;

struct mode_case {
  tree_mode_options options;
  const char* name;
};

constexpr std::array<mode_case, 8> modes = {{
    {{format::text, false, false, false}, "text"},
    {{format::text, true, false, false}, "text, explained"},
    {{format::text, false, true, false}, "text, numbered"},
    {{format::text, true, true, false}, "text, explained, numbered"},
    {{format::json, false, false, false}, "json"},
    {{format::json, true, false, false}, "json, explained"},
    {{format::paths, false, false, false}, "paths"},
    {{format::paths, false, true, false}, "paths, numbered"},
}};

std::string run_mode(std::string_view input, const tree_mode_options& options, random_bits* sizes) {
  memory_input in{input, sizes};
  test::string_output out;
  // One state for every run: making a reader and parser anew is most of a run's cost
  // under the sanitizers. A run must not depend on what the last one left in it.
  static tree_mode_state state;
  require(run_tree_mode({&in, memory_input::read}, out.target(), options, state) == 0,
          "memory input ends with status 0");
  require(in.taken == input.size(), "the whole input is read");
  return std::move(out.text);
}

// The input's lines, each with its newline (the last may have none).
std::vector<std::string_view> input_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t size = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, size));
    text.remove_prefix(size);
  }
  return lines;
}

std::vector<std::string_view> output_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    require(end != std::string_view::npos, "output is whole lines");
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  return lines;
}

// A line run alone is line 1: where its output carries the number, put line `number`.
std::string renumbered(std::string alone, format output, std::size_t number) {
  const std::string_view from = output == format::json ? "{\"line\":1," : "line 1: ";
  if (std::string_view(alone).starts_with(from)) {
    const std::string to = output == format::json ? "{\"line\":" + std::to_string(number) + ","
                                                  : "line " + std::to_string(number) + ": ";
    alone.replace(0, from.size(), to);
  }
  return alone;
}

// The first max_checked_lines lines give together what they give one by one (`whole`
// is the output of all the input). One line alone is the whole input: nothing to run.
void check_lines_alone(std::string_view input, const std::vector<std::string_view>& lines,
                       const mode_case& mode, const std::string& whole) {
  if (lines.size() < 2) return;
  const std::size_t count = std::min(lines.size(), max_checked_lines);
  std::string together_input;
  std::string alone;
  for (std::size_t i = 0; i < count; ++i) {
    together_input += lines[i];
    alone += renumbered(run_mode(lines[i], mode.options, nullptr), mode.options.output, i + 1);
  }
  const bool all = count == lines.size() && input.back() == '\n';
  // A last line without its newline reads the same as with one.
  if (together_input.back() != '\n') together_input += '\n';
  require((all ? whole : run_mode(together_input, mode.options, nullptr)) == alone,
          "each line's output is that line's output alone");
}

// Numbered text is the plain text with "N:" before every line (and a message's own
// "line N: " taken out), N the input line, never going down.
void check_numbers(std::string_view numbered, std::string_view plain, std::size_t input_count) {
  const std::vector<std::string_view> with = output_lines(numbered);
  const std::vector<std::string_view> without = output_lines(plain);
  require(with.size() == without.size(), "numbers add no line");
  std::uint64_t last = 1;
  for (std::size_t i = 0; i < with.size(); ++i) {
    const std::size_t colon = with[i].find(':');
    require(colon != std::string_view::npos && colon > 0 && colon <= 20,
            "a numbered line starts with its number");
    std::uint64_t number = 0;
    for (const char c : with[i].substr(0, colon)) {
      require(c >= '0' && c <= '9', "a line number is decimal digits");
      number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    require(number >= last && number <= input_count, "line numbers count up the input lines");
    last = number;
    // A message line gives its number once: "N:column C: ..." for "line N: column C: ...".
    const std::string_view rest = with[i].substr(colon + 1);
    const std::string message = "line " + std::to_string(number) + ": ";
    require(rest == without[i] ||
                (without[i].starts_with(message) && rest == without[i].substr(message.size())),
            "a numbered line is the plain line");
  }
}

// One input line as this file reads it, with the parser's nodes for a record.
struct parsed_line {
  hex_line::kind what;
  std::string bytes;
  std::vector<tree_node> nodes;
  bool has_status = false;
};

std::vector<parsed_line> parse_input(std::string_view text, hex_line_reader& reader,
                                     tree_parser& parser) {
  reader.reset();
  memory_input in{text, nullptr};
  std::vector<parsed_line> lines;
  hex_line line;
  for (;;) {
    const hex_line_reader::status got = reader.next(line);
    if (got == hex_line_reader::status::need_input) {
      reader.fill({&in, memory_input::read});
      continue;
    }
    if (got != hex_line_reader::status::line) break;
    parsed_line parsed{line.what, std::string(line.bytes.begin(), line.bytes.end()), {}};
    if (line.what == hex_line::kind::record) {
      const tree_result tree = parser.parse(line.bytes);
      parsed.nodes.assign(tree.nodes.begin(), tree.nodes.end());
      parsed.has_status = tree.has_status;
    }
    lines.push_back(std::move(parsed));
  }
  return lines;
}

std::string hex_of(std::string_view bytes) {
  std::string hex;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += hex_pairs[2 * std::size_t{b}];
    hex += hex_pairs[2 * std::size_t{b} + 1];
  }
  return hex;
}

// A node that prints bytes: a primitive's value, or the bytes left after a header that
// could not be read (then a template's too).
bool prints_bytes(const tree_node& node) {
  const bool header_unreadable = node.problem == node_problem::indefinite_length ||
                                 node.problem == node_problem::length_too_long;
  return node.value_size > 0 && (!node.constructed || header_unreadable);
}

bool is_card_tag(std::uint64_t tag) {
  return tag == 0x5A || tag == 0x57 || tag == 0x56 || tag == 0x9F6B;
}

// Whether `text` shows `tag` (its true hex) at `at`: the scan's hidden nibbles print
// as X in a tag too, and nothing else differs.
bool shows_tag(std::string_view text, std::size_t at, std::string_view tag) {
  if (text.size() < at + tag.size()) return false;
  for (std::size_t i = 0; i < tag.size(); ++i)
    if (text[at + i] != tag[i] && text[at + i] != 'X') return false;
  return true;
}

void require_hidden(std::string_view printed, std::size_t from, std::size_t to, const char* what) {
  for (std::size_t c = from; c < to && c < printed.size(); ++c)
    require(printed[c] == 'X', what);
}

// The card-number rules, on a value's true hex and its printed form.
void check_card_value(std::uint64_t tag, std::uint64_t declared, std::string_view actual,
                      std::string_view printed) {
  if (tag == 0x5A) {
    std::size_t digits = actual.size();
    while (digits > 0 && actual[digits - 1] == 'F')
      --digits;
    if (digits > 4) require_hidden(printed, 0, digits - 4, "5A: all but the last four digits X");
  } else if (tag == 0x57 || tag == 0x9F6B) {
    const std::size_t separator = std::min(actual.find('D'), actual.size());
    if (tag == 0x9F6B && declared == 6 && separator == actual.size()) return;  // CVM limit
    if (separator > 4)
      require_hidden(printed, 0, separator - 4, "track 2: all before D but the last four X");
  } else if (tag == 0x56) {
    const std::size_t pairs = actual.size() / 2;
    const auto pair = [&](std::size_t p) { return actual.substr(2 * p, 2); };
    const std::size_t first = pairs > 0 && pair(0) == "42" ? 1 : 0;
    std::size_t end = first;
    while (end < pairs && pair(end) != "5E")
      ++end;
    if (end - first > 4)
      require_hidden(printed, 2 * first, 2 * (end - 4), "track 1: all PAN but the last four XX");
  }
}

// The card numbers among `nodes` (parsed from `bytes`, whose printed hex `printed`
// starts at hex character `at` of a value) and, inside any bytes left after a header
// that could not be read, among the elements those bytes parse as.
struct card_checker {
  tree_parser& parser;
  std::size_t reparsed = 0;

  void check(std::string_view bytes, std::string_view printed, std::size_t at,
             std::span<const tree_node> nodes) {
    for (const tree_node& node : nodes) {
      if (!prints_bytes(node)) continue;
      const std::string_view value = bytes.substr(node.value_offset, node.value_size);
      const std::size_t first = at + 2 * std::size_t{node.value_offset};
      require(first + 2 * value.size() <= printed.size(), "a value prints whole");
      const std::string_view shown = printed.substr(first, 2 * value.size());
      if (is_card_tag(node.tag)) check_card_value(node.tag, node.declared, hex_of(value), shown);
      if (node.problem != node_problem::none && node.problem != node_problem::runs_past_end &&
          reparsed + value.size() <= max_reparsed_bytes) {
        reparsed += value.size();
        const tree_result inside =
            parser.parse({reinterpret_cast<const std::uint8_t*>(value.data()), value.size()});
        const std::vector<tree_node> kept(inside.nodes.begin(), inside.nodes.end());
        check(value, printed, first, kept);
      }
    }
  }
};

// A printed value: every character its hex or an X, then the card rules.
void check_printed_value(std::string_view bytes, const tree_node& node, std::string_view printed,
                         card_checker& cards) {
  const std::string actual = hex_of(bytes.substr(node.value_offset, node.value_size));
  require(printed.size() == actual.size(), "a value prints two characters a byte");
  for (std::size_t c = 0; c < actual.size(); ++c)
    require(printed[c] == actual[c] || printed[c] == 'X', "a value prints as its hex or X");
  // Offsets within the value: the node itself stands at -value_offset.
  tree_node alone = node;
  alone.value_offset = 0;
  const std::string_view value = bytes.substr(node.value_offset, node.value_size);
  cards.check(value, printed, 0, std::span(&alone, 1));
}

// Explained track 2: the PAN field shows the digits before D as 5A would.
void check_pan_field(std::string_view bytes, const tree_node& node, std::string_view text) {
  if (node.tag != 0x57 && node.tag != 0x9F6B) return;
  const std::string actual = hex_of(bytes.substr(node.value_offset, node.value_size));
  const std::string_view digits = std::string_view(actual).substr(0, actual.find('D'));
  require(text.size() == digits.size(), "the PAN field has the digits before D");
  check_card_value(0x5A, 0, digits, text);
}

// The numbered text, line by line against this file's parse of the input.
void check_text_cards(std::string_view numbered, const std::vector<parsed_line>& lines,
                      card_checker& cards) {
  const std::vector<std::string_view> out = output_lines(numbered);
  std::size_t next = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const parsed_line& line = lines[n];
    const std::string prefix = std::to_string(n + 1) + ":";
    std::vector<std::string_view> own;
    for (; next < out.size() && out[next].starts_with(prefix); ++next)
      own.push_back(out[next].substr(prefix.size()));
    if (line.what != hex_line::kind::record) {
      require(own.size() == (line.what == hex_line::kind::bad ? 1 : 0),
              "a bad line gives one line, a blank one none");
      continue;
    }
    std::size_t at = 0;
    for (const tree_node& node : line.nodes) {
      require(at < own.size(), "a line for every node");
      const std::string_view text = own[at++];
      const std::string tag =
          hex_of(std::string_view(line.bytes).substr(node.offset, node.tag_size));
      // Past 32 levels the indent stops and the depth is said.
      std::string indent(2 * std::min<std::size_t>(node.depth, 32), ' ');
      if (node.depth > 32) indent += "[depth " + std::to_string(node.depth) + "] ";
      require(text.starts_with(indent) && shows_tag(text, indent.size(), tag),
              "a node's line is its indent and tag");
      if (prints_bytes(node)) {
        const std::size_t colon = text.find(": ", 2 * std::size_t{node.depth} + tag.size());
        require(colon != std::string_view::npos, "a value follows \": \"");
        const std::string_view rest = text.substr(colon + 2);
        const std::size_t size = 2 * std::size_t{node.value_size};
        require(rest.size() == size || rest.substr(std::min(size, rest.size())).starts_with(" ("),
                "a value is followed by nothing or its problem");
        check_printed_value(line.bytes, node, rest.substr(0, size), cards);
      }
      // Its explanations follow: "- " after the indent.
      for (; at < own.size(); ++at) {
        const std::string_view item =
            own[at].substr(std::min(own[at].find_first_not_of(' '), own[at].size()));
        if (!item.starts_with("- ")) break;
        if (item.starts_with("- PAN: ")) check_pan_field(line.bytes, node, item.substr(7));
      }
    }
    if (line.has_status) {
      require(at < own.size() && own[at].starts_with("status: "), "the status word prints last");
      ++at;
    }
    require(at == own.size(), "nothing else prints for a record");
  }
  require(next == out.size(), "every output line belongs to an input line");
}

// The numbered paths: a line for every primitive node and every node with a problem,
// its tags from the top joined by '/' (hidden nibbles as X), then its value; the status
// word last.
void check_paths_cards(std::string_view numbered, const std::vector<parsed_line>& lines,
                       card_checker& cards) {
  const std::vector<std::string_view> out = output_lines(numbered);
  std::size_t next = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const parsed_line& line = lines[n];
    const std::string prefix = std::to_string(n + 1) + ":";
    std::vector<std::string_view> own;
    for (; next < out.size() && out[next].starts_with(prefix); ++next)
      own.push_back(out[next].substr(prefix.size()));
    if (line.what != hex_line::kind::record) {
      require(own.size() == (line.what == hex_line::kind::bad ? 1 : 0),
              "a bad line gives one line, a blank one none");
      continue;
    }
    std::size_t at = 0;
    for (const tree_node& node : line.nodes) {
      if (node.constructed && node.problem == node_problem::none) continue;
      require(at < own.size(), "a line for every primitive node and every problem");
      const std::string_view text = own[at++];
      std::vector<std::string> tags;  // from the node up
      for (const tree_node* up = &node;; up = &line.nodes[up->parent]) {
        tags.push_back(hex_of(std::string_view(line.bytes).substr(up->offset, up->tag_size)));
        if (up->parent == no_parent) break;
      }
      std::size_t end = 0;  // of the path in `text`
      bool same_path = true;
      for (auto tag = tags.rbegin(); same_path && tag != tags.rend(); ++tag) {
        if (end > 0) same_path = end < text.size() && text[end++] == '/';
        same_path = same_path && shows_tag(text, end, *tag);
        end += tag->size();
      }
      require(same_path, "a node's line starts with its path");
      const std::string_view rest = text.substr(end);
      if (prints_bytes(node)) {
        const std::size_t size = 2 * std::size_t{node.value_size};
        require(rest.size() > size && rest[0] == ' ', "a value follows the path");
        require(rest.size() == size + 1 || rest.substr(size + 1).starts_with(" ("),
                "a value is followed by nothing or its problem");
        check_printed_value(line.bytes, node, rest.substr(1, size), cards);
      } else {
        require(rest.empty() || rest.starts_with(" ("), "no value: the path alone or a problem");
      }
    }
    if (line.has_status) {
      require(at < own.size() && own[at].starts_with("status "), "the status word prints last");
      ++at;
    }
    require(at == own.size(), "nothing else prints for a record");
  }
  require(next == out.size(), "every output line belongs to an input line");
}

// JSON: one object per input line, of the schema's shape, `line` from 1; every node
// in the order the parser gives them, with its tag and value.
void check_json(std::string_view output, const std::vector<parsed_line>& lines,
                card_checker& cards) {
  const std::vector<std::string_view> out = output_lines(output);
  require(out.size() == lines.size(), "one JSON line per input line");
  std::string why;
  for (std::size_t n = 0; n < out.size(); ++n) {
    if (!json_line_matches_shape(out[n], why)) {
      std::fprintf(stderr, "line %zu: %s\n", n + 1, why.c_str());
      require(false, "every JSON line matches the schema's shape");
    }
    const json top = json::parse(out[n].begin(), out[n].end(), nullptr, false);
    require(top["line"] == json(n + 1), "line counts the input lines from 1");
    const parsed_line& line = lines[n];
    require(top.contains("error") == (line.what == hex_line::kind::bad),
            "an error for a bad line, and only for one");
    if (line.what == hex_line::kind::bad) continue;
    // Hidden card digits show as X in tags and values: the leak fuzzer checks those.
    if (out[n].find('X') != std::string::npos) continue;
    require(top.contains("status") == line.has_status, "status when the record has one");
    // The nodes in document order: last child pushed first.
    std::vector<const json*> pending;
    const json& top_elements = top["elements"];
    for (std::size_t i = top_elements.size(); i-- > 0;)
      pending.push_back(&top_elements[i]);
    for (const tree_node& node : line.nodes) {
      require(!pending.empty(), "an object for every node");
      const json& object = *pending.back();
      pending.pop_back();
      const std::string tag =
          hex_of(std::string_view(line.bytes).substr(node.offset, node.tag_size));
      require(object["tag"] == json(tag) && object["offset"] == json(node.offset),
              "a node's object has its tag and offset");
      if (object.contains("elements")) {
        const json& children = object["elements"];
        for (std::size_t i = children.size(); i-- > 0;)
          pending.push_back(&children[i]);
        continue;
      }
      if (!prints_bytes(node)) continue;
      const std::string& value = object["value"].get_ref<const std::string&>();
      check_printed_value(line.bytes, node, value, cards);
      if (object.contains("explain"))
        for (const json& item : object["explain"])
          if (item.contains("label") && item["label"] == json("PAN"))
            check_pan_field(line.bytes, node, item["text"].get_ref<const std::string&>());
    }
    require(pending.empty(), "no object but the nodes");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static hex_line_reader& reader = *new hex_line_reader();
  static tree_parser& parser = *new tree_parser();
  static tree_parser& inner_parser = *new tree_parser();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  random_bits bits{seed_of(text)};
  const std::vector<std::string_view> lines = input_lines(text);
  const std::vector<parsed_line> parsed = parse_input(text, reader, parser);
  require(parsed.size() == lines.size(), "every input line is a line");

  std::array<std::string, modes.size()> outputs;
  for (std::size_t m = 0; m < modes.size(); ++m) {
    const mode_case& mode = modes[m];
    outputs[m] = run_mode(text, mode.options, nullptr);
    const std::string& out = outputs[m];
    require(out.empty() || out.back() == '\n', "output is whole lines");
    // Run again, in reads of random size: the same bytes.
    require(run_mode(text, mode.options, &bits) == out,
            "the same input gives the same output, whatever the read sizes");
    if (!mode.options.line_numbers) check_lines_alone(text, lines, mode, out);
  }
  check_numbers(outputs[2], outputs[0], lines.size());
  check_numbers(outputs[3], outputs[1], lines.size());
  check_numbers(outputs[7], outputs[6], lines.size());

  card_checker cards{inner_parser};
  check_text_cards(outputs[2], parsed, cards);
  check_text_cards(outputs[3], parsed, cards);
  check_json(outputs[4], parsed, cards);
  check_json(outputs[5], parsed, cards);
  check_paths_cards(outputs[7], parsed, cards);
  return 0;
}
