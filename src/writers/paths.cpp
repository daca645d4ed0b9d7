#include "writers/paths.h"

#include <array>

#include "common/hex.h"
#include "writers/node_value.h"
#include "writers/tree_text.h"

namespace emvtlv {
namespace {

// Deeper paths than this show only their last tags, after the depth, so a line costs
// the same however deep it stands: `[depth 40]/70/.../5A`.
constexpr std::uint32_t max_path_tags = 32;

// The tags from the top down to `node`, joined by '/', hidden nibbles as X. Measured
// first, then filled in from the end while climbing the parents, so no path is ever
// held apart.
void put_path(const tree_node& node, std::span<const tree_node> nodes,
              std::span<const std::uint8_t> record, const hidden_nibbles& hidden,
              output_sink& out) {
  if (node.depth >= max_path_tags) {
    out.append("[depth ");
    put_number(out, node.depth);
    out.append("]/");
  }
  std::size_t size = 0;
  std::uint32_t shown = 0;
  for (const tree_node* at = &node;; at = &nodes[at->parent]) {
    size += 2 * std::size_t{at->tag_size};
    if (at->parent == no_parent || ++shown == max_path_tags) break;
    ++size;  // the '/' before it
  }
  char* const start = out.extend(size);
  char* end = start + size;
  shown = 0;
  for (const tree_node* at = &node;; at = &nodes[at->parent]) {
    end -= 2 * std::size_t{at->tag_size};
    encode_hex_unchecked(record.data() + at->offset, at->tag_size, end);
    hidden.apply(record.data() + at->offset, std::span<char>(end, 2 * std::size_t{at->tag_size}));
    if (at->parent == no_parent || ++shown == max_path_tags) break;
    *--end = '/';
  }
}

void put_problem(const tree_node& node, output_sink& out) {
  std::array<char, 96> buffer{};
  out.append(" (");
  out.append(describe_problem(node, buffer));
  out.put(')');
}

}  // namespace

void write_paths(const hex_line& line, const tree_result& tree, const paths_options& options,
                 output_sink& out) {
  if (line.what == hex_line::kind::blank) return;
  if (line.what == hex_line::kind::bad) {
    write_bad_line(line, options.line_numbers, out);
    return;
  }
  const std::span<const std::uint8_t> record = line.bytes;
  const std::span<const tree_node> nodes = tree.nodes;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const tree_node& node = nodes[i];
    out.spill_if_over(spill_bound);
    const bool value = shows_value(node);
    if (!value && node.problem == node_problem::none) continue;
    if (options.marks != nullptr && options.marks[i] != node_mark::kept) continue;
    if (options.line_numbers) {
      put_number(out, line.number);
      out.put(':');
    }
    put_path(node, nodes, record, *tree.hidden, out);
    const bool header_whole = node.problem != node_problem::tag_cut_short &&
                              node.problem != node_problem::length_cut_short;
    if (value && header_whole && node.value_size > 0) {
      out.put(' ');
      put_node_value(node, record, *tree.hidden, out);
    }
    if (node.problem != node_problem::none) put_problem(node, out);
    out.put('\n');
  }
  if (tree.has_status && options.marks == nullptr) {
    if (options.line_numbers) {
      put_number(out, line.number);
      out.put(':');
    }
    out.append("status ");
    put_hex_byte(out, static_cast<std::uint8_t>(tree.status >> 8));
    put_hex_byte(out, static_cast<std::uint8_t>(tree.status & 0xFF));
    out.put('\n');
  }
}

}  // namespace emvtlv
