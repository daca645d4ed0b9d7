#include "writers/tree_text.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/copy.h"
#include "explain/item_lines.h"
#include "writers/node_value.h"

namespace emvtlv {
namespace {

// Deeper levels than this are not indented further: the line says its depth instead,
// so a line costs the same however deep it stands.
constexpr std::uint64_t max_indent_levels = 32;
static_assert(2 * max_indent_levels <= max_item_indent, "indents are copied from item_heads");

void put_indent(output_sink& out, std::uint64_t levels) {
  if (levels == 0) return;  // most lines: top-level elements
  const std::size_t shown = 2 * std::min(levels, max_indent_levels);
  copy_short(out.extend(shown), item_heads.data(), shown);
  if (levels <= max_indent_levels) return;
  out.append("[depth ");
  put_number(out, levels);
  out.append("] ");
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

// What every item line of one element shares, worked out once for the element; only
// lines that start with a line number come through put_explain_item, the others are
// written by the explainers themselves (explain_output::lines).
struct numbered_lines {
  output_sink* out;
  std::size_t indent;  // of the element's own items (level 0)
  std::uint64_t line_number;
};

// The text says what the typed facts say: they are for the JSON.
void put_explain_item(void* context, explain_kind, std::uint32_t level, std::string_view label,
                      std::string_view text, const explain_facts&) {
  const auto& lines = *static_cast<const numbered_lines*>(context);
  output_sink& out = *lines.out;
  put_number(out, lines.line_number);
  out.put(':');
  put_item_line(out, lines.indent + 2 * std::size_t{level}, label, text);
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

bool write_tree_text(const hex_line& line, const tree_result& tree,
                     const tree_text_options& options, output_sink& out) {
  const line_start start{&line, &options};
  if (line.what == hex_line::kind::blank) return false;
  if (line.what == hex_line::kind::bad) {
    write_bad_line(line, options.line_numbers, out);
    return true;
  }
  bool wrote = false;

  const std::span<const std::uint8_t> record = line.bytes;
  // Without explanations only the kernel-named tags read the context.
  record_context context(tree, record, options.known, options.explain);
  const hidden_nibbles& hidden = *tree.hidden;
  const node_mark* const marks = options.marks;
  const bool line_numbers = options.line_numbers;
  const bool explain = options.explain;
  // One explain output for the record: only the indent changes from element to element.
  numbered_lines numbered{&out, 0, line.number};
  explain_text_lines lines{&out, 0};
  const explain_output explain_out{&numbered, put_explain_item, line_numbers ? nullptr : &lines};
  std::uint32_t top = 0;  // with marks: the depth of the kept template or element above
  for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
    const tree_node& node = tree.nodes[i];
    if (marks != nullptr) {
      if (marks[i] != node_mark::kept) continue;
      if (node.parent == no_parent || marks[node.parent] != node_mark::kept) top = node.depth;
    }
    const std::uint32_t depth = node.depth - top;
    wrote = true;
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
      const std::size_t indent = 2 * (std::min<std::size_t>(depth, max_indent_levels) + 1);
      numbered.indent = indent;
      lines.indent = indent;
      explain_value(node.tag, record.subspan(node.value_offset, node.value_size), node.declared,
                    context.get(), explain_out);
    }
    out.spill_if_over(spill_bound);
  }
  if (tree.has_status && marks == nullptr) {
    wrote = true;
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
  return wrote;
}

}  // namespace emvtlv
