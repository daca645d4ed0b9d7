// The tree parser: one record's bytes in, a flat list of BER-TLV nodes out, in the
// order they stand (a node's children follow it), each with its depth, header, value
// span and problem.
//
// Contract and limits:
// - Tags of any number of octets (low five bits 1F, then octets with bit 80 set,
//   continue); lengths short and 81 to 84; a constructed tag (bit 20 of its first
//   octet) has its value parsed as children within the bytes it has, to any depth.
// - 00 octets before, between and after elements are padding and give no node.
// - A problem is set on the node where it happens and parsing goes on wherever the
//   structure allows. A length past what the parent has left keeps the bytes left
//   (a template still gets its children parsed in them); an indefinite or too long
//   length field makes the node hold every byte left in its parent as a plain value
//   and ends the parent's parsing; a tag or length field cut by the parent's end
//   gives a node with no value. A header octet that the record scan hides ends the
//   header there: the node holds every byte left in its parent (its tag number and
//   name are not used; its writers show every byte as X), so hidden digits never
//   shape the tree.
// - Every byte of the record is padding, a header byte of one node (offset up to
//   value_offset), a value byte of one node that is not constructed, or the status word.
// - When the last two bytes are 9000 or 61xx to 6Fxx and the bytes before them parse
//   with no problem at all (no element counts), they are the status word and give no
//   node; otherwise they are data.
// - At most max_tree_record_bytes are parsed (more are ignored). No allocation per
//   record: node storage for the largest record is made once, and only the part a
//   record uses is touched. The parse is iterative, so depth costs no stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "card/mask.h"

namespace emvtlv {

enum class node_problem : std::uint8_t {
  none,
  runs_past_end,      // declared length larger than what the parent has left
  indefinite_length,  // length octet 80
  length_too_long,    // length octet 85 or more: more than 4 octets after the first
  length_cut_short,   // the length field runs past the end of the parent
  tag_cut_short,      // the tag runs past the end of the parent
  header_hidden,      // a header octet is a hidden card digit: the node holds the rest
};

struct tree_node {
  std::uint32_t offset;        // first tag octet, in the record
  std::uint32_t parent;        // index of the parent node, no_parent at the top
  std::uint32_t depth;         // 0 at the top
  std::uint32_t value_offset;  // first value octet (or first byte left, on a problem);
                               // always offset + tag_size + length_size
  std::uint32_t value_size;    // value octets present (or bytes left)
  std::uint32_t declared;      // declared length (0 when none could be read)
  std::uint64_t tag;           // the tag octets big-endian (the last 8 when longer)
  std::uint32_t tag_size;      // tag octets present
  std::uint8_t length_size;    // length octets present (1 for 80 and for 85 up)
  std::uint8_t length_first;   // first length octet (0 when there is none)
  bool constructed;            // value parsed as children, which follow this node
  node_problem problem;
};

inline constexpr std::uint32_t no_parent = 0xFFFFFFFF;

// The most nodes a record of `bytes` bytes can give: every node takes two header
// octets except a cut-short one, and that can only be the last in its parent.
constexpr std::size_t max_tree_nodes(std::size_t bytes) {
  return (2 * bytes + 1) / 3 + 1;
}

struct tree_result {
  std::span<const tree_node> nodes;
  // The record scan's marks (card/mask.h): what every printer of this record hides.
  const hidden_nibbles* hidden = &nothing_hidden();
  bool has_status = false;
  std::uint16_t status = 0;  // the status word, when has_status
};

class tree_parser {
 public:
  tree_parser();
  // Parses `record` (at most max_tree_record_bytes are read) and scans it for card
  // numbers. The result's nodes and marks stay valid until the next call.
  tree_result parse(std::span<const std::uint8_t> record);
  // The same for bytes known to hold no status word (an answer's data, the status
  // word read apart): the last two bytes are always data.
  tree_result parse_data(std::span<const std::uint8_t> data);

 private:
  std::unique_ptr<tree_node[]> nodes_;
  hidden_nibbles hidden_;
};

// The problem's message as printed (numbers filled in), written into `buffer` (64
// characters hold every message; a smaller buffer gets a cut one). Empty for none:
//   value runs past the end: 8 bytes declared, 3 left   (1 byte declared, ...)
//   indefinite length (80) not allowed
//   length field of 6 octets is too long               (the whole field, 85 gives 6)
//   length runs past the end
//   tag runs past the end
//   card digits hidden where a header would be
std::string_view describe_problem(const tree_node& node, std::span<char> buffer);

// The meaning of a status word, or an empty view when it has none listed.
std::string_view status_meaning(std::uint16_t status);

}  // namespace emvtlv
