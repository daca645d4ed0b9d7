// What the tree writers share: a node's value as printed hex, card numbers masked,
// and the record facts the explainers need.
//
// Contract: the hex goes straight into the sink (two upper-case digits a byte) and is
// masked there, so a card number is never in clear anywhere, not even for a moment in
// a buffer of ours. A node that holds the bytes left after a problem is masked as a
// template's value would be: whatever card numbers its elements would hold are hidden.
#pragma once

#include <cstdint>
#include <span>

#include "common/output_sink.h"
#include "explain/explain.h"
#include "tree/parse.h"

namespace emvtlv {

// The node's value (or the bytes it holds after a problem), as hex in `out`: card
// numbers masked by the element rules and the record scan's marks, a value cut short
// with no digit shown, and sensitive authentication data hidden. Returns true when
// some of it shows masked (an X).
bool put_node_value(const tree_node& node, std::span<const std::uint8_t> record,
                    const hidden_nibbles& hidden, output_sink& out);

// True when the node holds bytes to print rather than children: a primitive element,
// or a template whose header could not be read, which keeps the bytes left.
inline bool shows_value(const tree_node& node) {
  return !node.constructed ||
         (node.problem != node_problem::none && node.problem != node_problem::runs_past_end);
}

// The name of the node's tag, or an empty view when the dictionary has none.
std::string_view node_name(const tree_node& node, std::span<const std::uint8_t> record);

// Facts from the whole record that change how values read (5F36 for amounts).
explain_context context_of(const tree_result& tree, std::span<const std::uint8_t> record);

// A count in decimal.
void put_number(output_sink& out, std::uint64_t n);

// The node's tag octets as upper-case hex, hidden nibbles as X.
void put_node_tag(const tree_node& node, std::span<const std::uint8_t> record,
                  const hidden_nibbles& hidden, output_sink& out);

}  // namespace emvtlv
