// The --tag filter: which nodes of a parsed record the writers print when only some
// tags are asked for.
//
// Contract and limits:
// - A node is kept when its tag is one of the tags asked for, or when it lies inside
//   a kept template (a template asked for comes with all it holds). A template that
//   is not kept but holds a kept node leads to it; every other node is dropped.
// - A tag is 1 to 8 octets of hex ("9F27"); a node whose tag is cut short, or longer
//   than 8 octets, never matches.
// - The marks for the largest record are made once; marking touches only the part a
//   record uses and allocates nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "tree/parse.h"

namespace emvtlv {

struct tag_id {
  std::uint64_t tag;   // the octets big-endian, as tree_node::tag holds them
  std::uint32_t size;  // octets, 1 to 8
};

enum class node_mark : std::uint8_t { dropped, leads_to, kept };

// Adds the tags of "9F27" or "9F27,5A,..." to `tags`; false (and `tags` unchanged)
// when an entry is not 1 to 8 octets of hex.
bool parse_tag_list(std::string_view text, std::vector<tag_id>& tags);

class tag_filter {
 public:
  tag_filter();
  // One mark per node of `tree`, valid until the next call; `tags` not empty.
  std::span<const node_mark> mark(const tree_result& tree, std::span<const tag_id> tags);
  // The storage mark() fills, the same for every call.
  const node_mark* marks() const noexcept { return marks_.get(); }

 private:
  std::unique_ptr<node_mark[]> marks_;
};

}  // namespace emvtlv
