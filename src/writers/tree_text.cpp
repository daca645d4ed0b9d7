#include "writers/tree_text.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/copy.h"
#include "writers/node_value.h"

namespace emvtlv {
namespace {

// Deeper levels than this are not indented further: the line says its depth instead,
// so a line costs the same however deep it stands.
constexpr std::uint64_t max_indent_levels = 32;

// The indentation of every line, and an explanation item's "- " after it, as one run
// to copy from: n spaces are the table's first n characters, the spaces and "- " of an
// item indented n its n + 2 characters before the padding. Items reach two levels below
// their element's line. The padding lets a short head be copied as one 16-byte move.
constexpr std::size_t max_item_indent = 2 * (max_indent_levels + 1 + 2);
constexpr std::size_t head_move = 16;
constexpr auto item_prefixes = [] {
  std::array<char, max_item_indent + 2 + head_move> chars{};
  for (std::size_t i = 0; i < max_item_indent; ++i)
    chars[i] = ' ';
  chars[max_item_indent] = '-';
  chars[max_item_indent + 1] = ' ';
  return chars;
}();

void put_indent(output_sink& out, std::uint64_t levels) {
  if (levels == 0) return;  // most lines: top-level elements
  const std::size_t shown = 2 * std::min(levels, max_indent_levels);
  copy_short(out.extend(shown), item_prefixes.data(), shown);
  if (levels <= max_indent_levels) return;
  out.append("[depth ");
  put_number(out, levels);
  out.append("] ");
}

// copy_short without its loop for the lengths item texts have, up to 64: whole
// 16-byte moves, the last ones overlapping, so nothing is written past dst + n.
void copy_item_text(char* dst, const char* src, std::size_t n) {
  if (n < 16 || n > 64) {
    copy_short(dst, src, n);
    return;
  }
  if (n > 32) {
    std::memcpy(dst, src, 16);
    std::memcpy(dst + 16, src + 16, 16);
    std::memcpy(dst + n - 32, src + n - 32, 16);
  }
  std::memcpy(dst + n - 16, src + n - 16, 16);
  std::memcpy(dst, src, 16);
}

struct line_start {
  const hex_line* line;
  const tree_text_options* options;
  void put(output_sink& out) const {
    if (!options->line_numbers) return;
    put_number(out, line->number);
    out.put(':');
  }
};

// What every item line of one element shares, worked out once for the element.
struct explain_lines {
  output_sink* out;
  std::size_t indent;  // of the element's own items (level 0)
  bool line_numbers;
  std::uint64_t line_number;
};

// The text says what the typed facts say: they are for the JSON.
void put_explain_item(void* context, explain_kind, std::uint32_t level, std::string_view label,
                      std::string_view text, const explain_facts&) {
  const auto& lines = *static_cast<const explain_lines*>(context);
  output_sink& out = *lines.out;
  if (lines.line_numbers) {
    put_number(out, lines.line_number);
    out.put(':');
  }
  // One reservation for the whole line: explain mode writes many short lines.
  const std::size_t indent = lines.indent + 2 * std::size_t{level};
  const std::size_t head = indent + 2;
  const std::size_t labelled = label.empty() ? 0 : label.size() + 2;
  const std::size_t size = head + labelled + text.size() + 1;
  char* at = out.extend(size);
  if (head <= head_move && size >= head_move) [[likely]] {
    // What the move writes past the head, the label and text overwrite.
    std::memcpy(at, item_prefixes.data() + (max_item_indent - indent), head_move);
  } else if (indent <= max_item_indent) {
    copy_short(at, item_prefixes.data() + (max_item_indent - indent), head);
  } else {
    std::memset(at, ' ', indent);
    at[indent] = '-';
    at[indent + 1] = ' ';
  }
  at += head;
  if (!label.empty()) {
    copy_short(at, label.data(), label.size());
    at += label.size();
    std::memcpy(at, ": ", 2);
    at += 2;
  }
  copy_item_text(at, text.data(), text.size());
  at[text.size()] = '\n';
}

void put_problem(const tree_node& node, output_sink& out) {
  std::array<char, 96> buffer{};
  out.append(" (");
  out.append(describe_problem(node, buffer));
  out.put(')');
}

}  // namespace

void write_bad_line(const hex_line& line, bool line_numbers, output_sink& out) {
  if (line_numbers) {
    put_number(out, line.number);
    out.put(':');
  } else {
    out.append("line ");
    put_number(out, line.number);
    if (line.column > 0) out.append(": ");
  }
  if (line.column > 0) {
    out.append("column ");
    put_number(out, line.column);
  }
  if (line.column > 0 || !line_numbers) out.append(": ");
  out.append(line.message);
  out.put('\n');
}

void write_tree_text(const hex_line& line, const tree_result& tree,
                     const tree_text_options& options, output_sink& out) {
  const line_start start{&line, &options};
  if (line.what == hex_line::kind::blank) return;
  if (line.what == hex_line::kind::bad) {
    write_bad_line(line, options.line_numbers, out);
    return;
  }

  const std::span<const std::uint8_t> record = line.bytes;
  const explain_context context = context_of(tree, record, options.known);
  const hidden_nibbles& hidden = *tree.hidden;
  const node_mark* const marks = options.marks;
  const bool line_numbers = options.line_numbers;
  const bool explain = options.explain;
  std::uint32_t top = 0;  // with marks: the depth of the kept template or element above
  for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
    const tree_node& node = tree.nodes[i];
    if (marks != nullptr) {
      if (marks[i] != node_mark::kept) continue;
      if (node.parent == no_parent || marks[node.parent] != node_mark::kept) top = node.depth;
    }
    const std::uint32_t depth = node.depth - top;
    if (line_numbers) start.put(out);
    put_indent(out, depth);
    put_node_tag(node, record, hidden, out);
    const bool tag_whole =
        node.problem != node_problem::tag_cut_short && node.problem != node_problem::header_hidden;
    const std::string_view name = tag_whole ? node_name(node, record, context) : std::string_view();
    const bool shows = shows_value(node);
    const bool with_value = shows && node.problem != node_problem::tag_cut_short &&
                            node.problem != node_problem::length_cut_short;
    const bool with_digits = with_value && node.value_size > 0;
    if (name.empty()) {
      if (tag_whole) out.append(" (unknown tag)");
      if (with_value) out.append(with_digits ? ": " : ":");
    } else {
      // " NAME: " in one piece, the colon only before a value, the space before digits.
      const std::size_t size = name.size() + 1 + (with_value ? 1 : 0) + (with_digits ? 1 : 0);
      char* at = out.extend(size);
      at[0] = ' ';
      copy_item_text(at + 1, name.data(), name.size());
      if (with_value) at[name.size() + 1] = ':';
      if (with_digits) at[name.size() + 2] = ' ';
    }
    if (with_digits) put_node_value(node, record, hidden, out);
    if (node.problem != node_problem::none) put_problem(node, out);
    out.put('\n');
    if (explain && shows && node.problem == node_problem::none) {
      explain_lines lines{&out, 2 * (std::min<std::size_t>(depth, max_indent_levels) + 1),
                          line_numbers, line.number};
      explain_value(node.tag, record.subspan(node.value_offset, node.value_size), node.declared,
                    context, explain_output{&lines, put_explain_item});
    }
    out.spill_if_over(spill_bound);
  }
  if (tree.has_status && marks == nullptr) {
    start.put(out);
    out.append("status: ");
    put_hex_byte(out, static_cast<std::uint8_t>(tree.status >> 8));
    put_hex_byte(out, static_cast<std::uint8_t>(tree.status & 0xFF));
    const std::string_view meaning = status_meaning(tree.status);
    if (!meaning.empty()) {
      out.append(" (");
      out.append(meaning);
      out.put(')');
    }
    out.put('\n');
  }
}

}  // namespace emvtlv
