#include "tree/tag_filter.h"

#include <algorithm>

#include "tree/hex_lines.h"

namespace emvtlv {
namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool matches(const tree_node& node, std::span<const tag_id> tags) {
  if (node.problem == node_problem::tag_cut_short || node.tag_size > 8) return false;
  return std::any_of(tags.begin(), tags.end(), [&](const tag_id& wanted) {
    return wanted.tag == node.tag && wanted.size == node.tag_size;
  });
}

}  // namespace

bool parse_tag_list(std::string_view text, std::vector<tag_id>& tags) {
  std::vector<tag_id> parsed;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = text.substr(0, comma);
    if (entry.empty() || entry.size() % 2 != 0 || entry.size() > 16) return false;
    tag_id tag{0, static_cast<std::uint32_t>(entry.size() / 2)};
    for (const char c : entry) {
      const int digit = digit_value(c);
      if (digit < 0) return false;
      tag.tag = tag.tag << 4 | static_cast<std::uint64_t>(digit);
    }
    parsed.push_back(tag);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  tags.insert(tags.end(), parsed.begin(), parsed.end());
  return true;
}

tag_filter::tag_filter()
    : marks_(std::make_unique_for_overwrite<node_mark[]>(max_tree_nodes(max_tree_record_bytes))) {}

std::span<const node_mark> tag_filter::mark(const tree_result& tree, std::span<const tag_id> tags) {
  const std::span<const tree_node> nodes = tree.nodes;
  node_mark* const marks = marks_.get();
  // Parents come before their children: one pass down for what a kept template
  // holds, one pass up for the templates that lead to something kept.
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::uint32_t parent = nodes[i].parent;
    const bool inside_kept = parent != no_parent && marks[parent] == node_mark::kept;
    marks[i] = inside_kept || matches(nodes[i], tags) ? node_mark::kept : node_mark::dropped;
  }
  for (std::size_t i = nodes.size(); i-- > 0;) {
    const std::uint32_t parent = nodes[i].parent;
    if (marks[i] != node_mark::dropped && parent != no_parent &&
        marks[parent] == node_mark::dropped)
      marks[parent] = node_mark::leads_to;
  }
  return {marks, nodes.size()};
}

}  // namespace emvtlv
