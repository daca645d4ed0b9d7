// What the tree writers share: a node's value as printed hex, card numbers masked,
// and the record facts the explainers need.
//
// Contract: the hex goes straight into the sink (two upper-case digits a byte) and is
// masked there, so a card number is never in clear anywhere, not even for a moment in
// a buffer of ours. A node that holds the bytes left after a problem is masked as a
// template's value would be: whatever card numbers its elements would hold are hidden.
// One that holds them after a hidden header byte shows only X.
#pragma once

#include <array>
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

// Whether the node's name depends on the kernel (9F5D to 9F7C, a whole primitive
// value), so that node_name reads the record's context for it.
inline bool named_by_kernel(const tree_node& node) {
  return node.tag >= 0x9F5D && node.tag <= 0x9F7C && !node.constructed &&
         node.problem == node_problem::none;
}

// Facts from the whole record that change how values read and are named (the AID and
// its kernel, currencies and exponents, the code table): one pass over the nodes.
// `known`, when given, holds what is known from outside the record; the record's own
// elements fill in what it leaves unknown.
explain_context context_of(const tree_result& tree, std::span<const std::uint8_t> record,
                           const explain_context* known = nullptr);

// The record's context as a writer needs it, read at most once: at once when the
// writer explains, otherwise the first time a kernel-named tag asks for it, which
// most records never do. Holds the views it is given; lives for one record.
class record_context {
 public:
  record_context(const tree_result& tree, std::span<const std::uint8_t> record,
                 const explain_context* known, bool explain)
      : tree_(&tree), record_(record), known_(known) {
    if (explain) get();
  }
  const explain_context& get() {
    if (!read_) {
      context_ = context_of(*tree_, record_, known_);
      read_ = true;
    }
    return context_;
  }

 private:
  const tree_result* tree_;
  std::span<const std::uint8_t> record_;
  const explain_context* known_;
  explain_context context_{};
  bool read_ = false;
};

// The name of the node's tag, or an empty view when the dictionary has none; a tag
// whose meaning depends on the kernel is named as the record's context reads it.
// Names are plain (is_plain_name): JSON holds them as they are.
std::string_view node_name(const tree_node& node, std::span<const std::uint8_t> record,
                           record_context& context);

// A count in decimal.
void put_number(output_sink& out, std::uint64_t n);

// "00" to "99", for two decimal digits at a time.
inline constexpr std::array<char, 200> decimal_pairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// The node's tag octets as upper-case hex, hidden nibbles as X.
void put_node_tag(const tree_node& node, std::span<const std::uint8_t> record,
                  const hidden_nibbles& hidden, output_sink& out);

}  // namespace emvtlv
