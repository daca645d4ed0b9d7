// Fuzz target: arbitrary bytes as tree-mode input, read as hex lines and parsed, and
// as a record parsed directly; the properties below abort when they fail.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "fuzz_support.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"

using namespace emvtlv;
using emvtlv::fuzz::memory_input;
using emvtlv::fuzz::random_bits;
using emvtlv::fuzz::require;
using emvtlv::fuzz::seed_of;

namespace {

struct read_line {
  hex_line::kind what;
  std::uint64_t number;
  std::uint64_t column;
  std::string message;
  std::string bytes;
  bool operator==(const read_line&) const = default;
};

std::vector<read_line> read_lines(hex_line_reader& reader, std::string_view text,
                                  random_bits* sizes) {
  reader.reset();
  memory_input in{text, sizes};
  const input_source source{&in, memory_input::read};
  std::vector<read_line> lines;
  hex_line line;
  for (;;) {
    const hex_line_reader::status got = reader.next(line);
    if (got == hex_line_reader::status::need_input) {
      reader.fill(source);
      continue;
    }
    require(got != hex_line_reader::status::read_error, "memory input never fails");
    if (got == hex_line_reader::status::end_of_input) break;
    require(line.number == lines.size() + 1, "lines are numbered from 1, one by one");
    require(line.what != hex_line::kind::record ||
                (!line.bytes.empty() && line.bytes.size() <= max_tree_record_bytes),
            "a record holds 1 to 65536 bytes");
    require(line.what != hex_line::kind::bad || (line.column >= 1 && !line.message.empty()),
            "a bad line has a column and a message");
    for (const char c : line.message)
      require(c >= 0x20 && c <= 0x7E, "messages are printable ASCII");
    lines.push_back({line.what, line.number, line.column, std::string(line.message),
                     std::string(line.bytes.begin(), line.bytes.end())});
  }
  require(in.taken == text.size(), "the whole input is read");
  return lines;
}

bool same_node(const tree_node& a, const tree_node& b) {
  return a.offset == b.offset && a.parent == b.parent && a.depth == b.depth &&
         a.value_offset == b.value_offset && a.value_size == b.value_size &&
         a.declared == b.declared && a.tag == b.tag && a.tag_size == b.tag_size &&
         a.length_size == b.length_size && a.length_first == b.length_first &&
         a.constructed == b.constructed && a.problem == b.problem;
}

bool looks_like_status(std::uint8_t sw1, std::uint8_t sw2) {
  return (sw1 == 0x90 && sw2 == 0x00) || (sw1 >= 0x61 && sw1 <= 0x6F);
}

// The nodes tile the record: nested inside their parent's value, in order, every byte
// padding (00), a header byte or a plain value byte of exactly one node, or the
// status word.
void check_tree(std::span<const std::uint8_t> record, const tree_result& result) {
  const std::size_t size = std::min(record.size(), max_tree_record_bytes);
  const std::size_t data_end = result.has_status ? size - 2 : size;
  require(
      !result.has_status || (size >= 2 && looks_like_status(record[size - 2], record[size - 1]) &&
                             result.status == (record[size - 2] << 8 | record[size - 1])),
      "a status word is the record's last two bytes and looks like one");
  require(result.nodes.size() <= max_tree_nodes(size), "no more nodes than the bound");
  std::vector<std::uint8_t> owners(size, 0);
  std::array<char, 64> text{};
  for (std::size_t i = 0; i < result.nodes.size(); ++i) {
    const tree_node& node = result.nodes[i];
    std::size_t first = 0;
    std::size_t last = data_end;
    std::uint32_t depth = 0;
    if (node.parent != no_parent) {
      require(node.parent < i, "a parent comes before its children");
      const tree_node& parent = result.nodes[node.parent];
      require(parent.constructed, "only a template has children");
      first = parent.value_offset;
      last = std::size_t{parent.value_offset} + parent.value_size;
      depth = parent.depth + 1;
    }
    require(node.depth == depth, "depth is the parent's plus one");
    require(i == 0 || node.offset > result.nodes[i - 1].offset, "nodes stand in order");
    require(node.tag_size >= 1 && node.offset >= first, "a node starts inside its parent");
    require(std::size_t{node.value_offset} ==
                std::size_t{node.offset} + node.tag_size + node.length_size,
            "the header is tag and length octets");
    const std::size_t end = std::size_t{node.value_offset} + node.value_size;
    require(end <= last, "a node ends inside its parent");
    require(record[node.offset] != 0, "a node does not start on padding");
    require(result.has_status ? node.problem == node_problem::none : true,
            "a status word follows only bytes that parse cleanly");
    require((node.problem == node_problem::none) == describe_problem(node, text).empty(),
            "a problem, and only a problem, has a message");
    if (node.problem == node_problem::tag_cut_short ||
        node.problem == node_problem::length_cut_short ||
        node.problem == node_problem::indefinite_length ||
        node.problem == node_problem::length_too_long ||
        node.problem == node_problem::runs_past_end)
      require(end == last && !(node.constructed && node.problem != node_problem::runs_past_end),
              "a problem node takes what its parent has left");
    for (std::size_t p = node.offset; p < (node.constructed ? node.value_offset : end); ++p)
      ++owners[p];
  }
  if (result.has_status) owners[size - 2] = owners[size - 1] = 1;
  for (std::size_t p = 0; p < size; ++p) {
    require(owners[p] <= 1, "no byte belongs to two nodes");
    require(owners[p] == 1 || record[p] == 0, "a byte no node holds is padding");
  }
}

void parse_and_check(tree_parser& parser, std::span<const std::uint8_t> record) {
  const tree_result first = parser.parse(record);
  check_tree(record, first);
  const std::vector<tree_node> kept(first.nodes.begin(), first.nodes.end());
  const bool had_status = first.has_status;
  const std::uint16_t status = first.status;
  parser.parse(std::span<const std::uint8_t>());  // nothing may carry over
  const tree_result again = parser.parse(record);
  require(again.nodes.size() == kept.size() && again.has_status == had_status &&
              again.status == status &&
              std::equal(kept.begin(), kept.end(), again.nodes.begin(), same_node),
          "parsing the same record again gives the same nodes");
}

// The record as hex the way people paste it: either case, random separators between
// pairs and around them, then some line ending.
std::string pasted_hex(std::span<const std::uint8_t> record, random_bits& bits) {
  static constexpr std::string_view separators[] = {"", "", "", " ", ":", "-", "\t", "\r", " - "};
  std::string text(separators[bits.below(std::size(separators))]);
  for (const std::uint8_t b : record) {
    const char high = hex_pairs[2 * std::size_t{b}];
    const char low = hex_pairs[2 * std::size_t{b} + 1];
    text += bits.below(2) != 0 ? static_cast<char>(std::tolower(high)) : high;
    text += bits.below(2) != 0 ? static_cast<char>(std::tolower(low)) : low;
    text += separators[bits.below(std::size(separators))];
  }
  static constexpr std::string_view endings[] = {"", "\n", "\r\n"};
  return text + std::string(endings[bits.below(std::size(endings))]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static hex_line_reader& whole = *new hex_line_reader();
  static hex_line_reader& pieces = *new hex_line_reader();
  static tree_parser& parser = *new tree_parser();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  random_bits bits{seed_of(text)};

  // As text: the same lines however the reads fall, and each record parses soundly.
  const std::vector<read_line> lines = read_lines(whole, text, nullptr);
  require(read_lines(pieces, text, &bits) == lines, "reads of any size give the same lines");
  for (const read_line& line : lines) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.bytes.data());
    parse_and_check(parser, std::span(bytes, line.bytes.size()));
  }

  // As a record: it parses soundly, and pasted as hex it reads back as itself.
  const std::span record(data, std::min(size, max_tree_record_bytes));
  parse_and_check(parser, record);
  const std::string pasted = pasted_hex(record, bits);
  const std::vector<read_line> back = read_lines(pieces, pasted, &bits);
  require(back.size() == 1 || (record.empty() && back.size() <= 1), "pasted hex is one line");
  if (!record.empty())
    require(back[0].what == hex_line::kind::record &&
                back[0].bytes == std::string(text.substr(0, record.size())),
            "pasted hex reads back as the same bytes");
  return 0;
}
