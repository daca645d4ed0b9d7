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

void put_indent(output_sink& out, std::uint64_t levels) {
  const std::uint64_t shown = std::min(levels, max_indent_levels);
  std::memset(out.extend(2 * shown), ' ', 2 * shown);
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

struct explain_lines {
  output_sink* out;
  line_start start;
  std::uint64_t depth;
};

void put_explain_item(void* context, explain_kind, std::uint32_t level, std::string_view label,
                      std::string_view text) {
  const auto& lines = *static_cast<const explain_lines*>(context);
  output_sink& out = *lines.out;
  lines.start.put(out);
  // One reservation for the whole line: explain mode writes many short lines.
  const std::size_t indent = 2 * (std::min(lines.depth, max_indent_levels) + 1 + level);
  const std::size_t labelled = label.empty() ? 0 : label.size() + 2;
  const std::size_t size = indent + 2 + labelled + text.size() + 1;
  char* at = out.extend(size);
  // A fixed-size fill is a few stores; what it writes past the indent is overwritten.
  constexpr std::string_view spaces = "                                ";
  if (indent <= spaces.size() && size >= spaces.size()) {
    std::memcpy(at, spaces.data(), spaces.size());
  } else {
    std::memset(at, ' ', indent);
  }
  at += indent;
  *at++ = '-';
  *at++ = ' ';
  if (!label.empty()) {
    copy_short(at, label.data(), label.size());
    at += label.size();
    *at++ = ':';
    *at++ = ' ';
  }
  copy_short(at, text.data(), text.size());
  at[text.size()] = '\n';
}

void put_problem(const tree_node& node, output_sink& out) {
  std::array<char, 96> buffer{};
  out.append(" (");
  out.append(describe_problem(node, buffer));
  out.put(')');
}

}  // namespace

void write_tree_text(const hex_line& line, const tree_result& tree,
                     const tree_text_options& options, output_sink& out) {
  const line_start start{&line, &options};
  if (line.what == hex_line::kind::blank) return;
  if (line.what == hex_line::kind::bad) {
    start.put(out);
    out.append("line ");
    put_number(out, line.number);
    if (line.column > 0) {
      out.append(": column ");
      put_number(out, line.column);
    }
    out.append(": ");
    out.append(line.message);
    out.put('\n');
    return;
  }

  const std::span<const std::uint8_t> record = line.bytes;
  const explain_context context = options.explain ? context_of(tree, record) : explain_context{};
  for (const tree_node& node : tree.nodes) {
    start.put(out);
    put_indent(out, node.depth);
    put_node_tag(node, record, *tree.hidden, out);
    const std::string_view name =
        node.problem == node_problem::tag_cut_short || node.problem == node_problem::header_hidden
            ? std::string_view()
            : node_name(node, record);
    if (name.empty()) {
      if (node.problem != node_problem::tag_cut_short &&
          node.problem != node_problem::header_hidden)
        out.append(" (unknown tag)");
    } else {
      out.put(' ');
      out.append(name);
    }
    const bool header_whole = node.problem != node_problem::tag_cut_short &&
                              node.problem != node_problem::length_cut_short;
    if (shows_value(node) && header_whole) {
      out.put(':');
      if (node.value_size > 0) {
        out.put(' ');
        put_node_value(node, record, *tree.hidden, out);
      }
    }
    if (node.problem != node_problem::none) put_problem(node, out);
    out.put('\n');
    if (options.explain && shows_value(node) && node.problem == node_problem::none) {
      explain_lines lines{&out, start, node.depth};
      explain_value(node.tag, record.subspan(node.value_offset, node.value_size), node.declared,
                    context, explain_output{&lines, put_explain_item});
    }
    out.spill_if_over(spill_bound);
  }
  if (tree.has_status) {
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
