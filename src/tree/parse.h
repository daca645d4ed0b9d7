// The tree parser: one record's bytes in, a flat list of BER-TLV nodes out, in the
// order they stand, each with its depth, header, value span and problem.
//
// Contract and limits:
// - Tags of any number of octets; lengths short and 81 to 84; a constructed tag
//   (bit 20 of its first octet) has its value parsed as children, to any depth.
// - 00 octets before, between and after elements are padding and give no node.
// - A problem is set on the node where it happens and parsing goes on wherever the
//   structure allows; a node that ends its parent's parsing holds the bytes left.
// - A status word (9000, 61xx to 6Fxx) ends the record when the bytes before it
//   parse completely; it then gives no node.
// - No allocation per record: the node storage is made once, for the largest record.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace emvtlv {

enum class node_problem : std::uint8_t {
  none,
  runs_past_end,      // "value runs past the end: D bytes declared, L left"
  indefinite_length,  // length octet 80
  length_too_long,    // a length field of more than 4 octets after the first
  length_cut_short,   // the length field runs past the end
  tag_cut_short,      // the tag runs past the end
};

struct tree_node {
  std::uint32_t offset;        // first tag octet, in the record
  std::uint32_t parent;        // index of the parent node, no_parent at the top
  std::uint32_t depth;         // 0 at the top
  std::uint32_t value_offset;  // first value octet (or first byte left, on a problem)
  std::uint32_t value_size;    // value octets present (or bytes left)
  std::uint32_t declared;      // declared length (0 when none could be read)
  std::uint64_t tag;           // the tag octets big-endian (the last 8 when longer)
  std::uint16_t tag_size;      // tag octets present
  std::uint8_t length_size;    // length octets present
  bool constructed;            // children follow this node in the list
  node_problem problem;
};

inline constexpr std::uint32_t no_parent = 0xFFFFFFFF;

struct tree_result {
  std::span<const tree_node> nodes;
  bool has_status = false;
  std::uint16_t status = 0;
};

class tree_parser {
 public:
  tree_parser();
  // Parses `record` (at most max_tree_record_bytes). The result's nodes stay valid
  // until the next call.
  tree_result parse(std::span<const std::uint8_t> record);

 private:
  std::unique_ptr<tree_node[]> nodes_;
};

// The problem's message as printed (numbers filled in), written into `buffer`.
std::string_view describe_problem(const tree_node& node, std::span<char> buffer);

// The meaning of a status word, or an empty view when it has none listed.
std::string_view status_meaning(std::uint16_t status);

}  // namespace emvtlv
