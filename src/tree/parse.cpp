#include "tree/parse.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "common/record_view.h"
#include "tree/hex_lines.h"

namespace emvtlv {
namespace {

constexpr std::size_t node_capacity = max_tree_nodes(max_tree_record_bytes);

struct parse_outcome {
  std::uint32_t count = 0;
  bool any_problem = false;
};

std::uint32_t value_end(const tree_node& node) {
  return node.value_offset + node.value_size;
}

// Parses bytes [0, end) of `record` into `nodes`. Every read goes through the view and
// is first checked against the end of the enclosing value, so none leaves the record.
// Built twice: nearly every record has no hidden byte, and its parse asks nothing of
// the marks (`with_marks` false, valid only when the scan hid nothing).
template <bool with_marks>
parse_outcome parse_elements(record_view record, std::uint32_t end, tree_node* nodes,
                             const hidden_nibbles& hidden) {
  parse_outcome out;
  // The marks are those of this very record, scanned from its first byte.
  const auto is_hidden = [&](std::uint32_t at) {
    return with_marks && hidden.hides_record_offset(at);
  };
  std::uint32_t parent = no_parent;
  std::uint32_t limit = end;  // end of the enclosing value
  std::uint32_t depth = 0;
  std::uint32_t pos = 0;
  for (;;) {
    if (pos >= limit) {
      if (parent == no_parent) break;
      // The template's value is used up: carry on in its own parent.
      parent = nodes[parent].parent;
      limit = parent == no_parent ? end : value_end(nodes[parent]);
      --depth;
      continue;
    }
    const std::uint8_t first = record.at(pos);
    if (first == 0) {  // padding
      ++pos;
      continue;
    }
    if (out.count == node_capacity) break;  // cannot happen: see max_tree_nodes

    tree_node& node = nodes[out.count++];
    // Ends the header at `at`, a hidden octet: the node keeps every byte from there.
    const auto hide_rest = [&](std::uint32_t at) {
      node.problem = node_problem::header_hidden;
      node.length_size = static_cast<std::uint8_t>(at - node.offset - node.tag_size);
      node.value_offset = at;
      node.value_size = limit - at;
      out.any_problem = true;
      pos = limit;
    };
    node = tree_node{.offset = pos,
                     .parent = parent,
                     .depth = depth,
                     .value_offset = 0,
                     .value_size = 0,
                     .declared = 0,
                     .tag = first,
                     .tag_size = 1,
                     .length_size = 0,
                     .length_first = 0,
                     .constructed = false,
                     .problem = node_problem::none};
    if (is_hidden(pos)) {
      node.tag = 0;
      hide_rest(pos + 1);
      continue;
    }
    ++pos;

    // Tag: after a first octet with low bits 1F, every octet with bit 80 set continues.
    bool more = (first & 0x1F) == 0x1F;
    bool hit = false;
    while (more && pos < limit) {
      if (is_hidden(pos)) {
        hit = true;
        break;
      }
      const std::uint8_t octet = record.at(pos++);
      node.tag = node.tag << 8 | octet;
      ++node.tag_size;
      more = (octet & 0x80) != 0;
    }
    if (hit) {
      hide_rest(pos);
      continue;
    }
    if (more) {
      node.problem = node_problem::tag_cut_short;
      node.value_offset = pos;
      out.any_problem = true;
      continue;
    }

    // Length.
    if (pos >= limit) {
      node.problem = node_problem::length_cut_short;
      node.value_offset = pos;
      out.any_problem = true;
      continue;
    }
    if (is_hidden(pos)) {
      hide_rest(pos);
      continue;
    }
    const std::uint8_t length = record.at(pos++);
    node.length_first = length;
    node.length_size = 1;
    if (length == 0x80 || length > 0x84) {
      node.problem =
          length == 0x80 ? node_problem::indefinite_length : node_problem::length_too_long;
      node.value_offset = pos;
      node.value_size = limit - pos;
      out.any_problem = true;
      pos = limit;
      continue;
    }
    if (length > 0x80) {
      const std::uint32_t octets = length & 0x7Fu;
      if (limit - pos < octets) {
        node.problem = node_problem::length_cut_short;
        node.length_size = static_cast<std::uint8_t>(1 + (limit - pos));
        node.value_offset = limit;
        out.any_problem = true;
        pos = limit;
        continue;
      }
      std::uint32_t read = 0;
      for (; read < octets && !is_hidden(pos); ++read)
        node.declared = node.declared << 8 | record.at(pos++);
      if (read < octets) {
        node.declared = 0;
        hide_rest(pos);
        continue;
      }
      node.length_size = static_cast<std::uint8_t>(1 + octets);
    } else {
      node.declared = length;
    }

    // Value.
    node.value_offset = pos;
    const std::uint32_t left = limit - pos;
    if (node.declared > left) {
      node.problem = node_problem::runs_past_end;
      node.value_size = left;
      out.any_problem = true;
    } else {
      node.value_size = node.declared;
    }
    if ((first & 0x20) != 0) {
      node.constructed = true;
      parent = out.count - 1;
      limit = value_end(node);
      ++depth;
    } else {
      pos = value_end(node);
    }
  }
  return out;
}

parse_outcome parse_elements(record_view record, std::uint32_t end, tree_node* nodes,
                             const hidden_nibbles& hidden) {
  return hidden.any() ? parse_elements<true>(record, end, nodes, hidden)
                      : parse_elements<false>(record, end, nodes, hidden);
}

bool looks_like_status(std::uint8_t sw1, std::uint8_t sw2) {
  return (sw1 == 0x90 && sw2 == 0x00) || (sw1 >= 0x61 && sw1 <= 0x6F);
}

struct status_entry {
  std::uint16_t status;
  std::uint16_t mask;
  std::string_view meaning;
};

constexpr std::array<status_entry, 13> status_meanings{{
    {0x9000, 0xFFFF, "success"},
    {0x6283, 0xFFFF, "selected file invalidated"},
    {0x6700, 0xFFFF, "wrong length"},
    {0x6982, 0xFFFF, "security status not satisfied"},
    {0x6985, 0xFFFF, "conditions of use not satisfied"},
    {0x6A81, 0xFFFF, "function not supported"},
    {0x6A82, 0xFFFF, "file or application not found"},
    {0x6A83, 0xFFFF, "record not found"},
    {0x6A86, 0xFFFF, "incorrect parameters P1-P2"},
    {0x6D00, 0xFFFF, "instruction code not supported"},
    {0x6E00, 0xFFFF, "class not supported"},
    {0x6100, 0xFF00, "more data available"},
    {0x6C00, 0xFF00, "wrong length Le"},
}};

// Appends to a fixed buffer, dropping what does not fit.
struct text_writer {
  std::span<char> buffer;
  std::size_t size = 0;

  void put(std::string_view text) {
    const std::size_t n = std::min(text.size(), buffer.size() - size);
    if (n == 0) return;  // an empty buffer may have no storage at all, and memcpy wants some
    std::memcpy(buffer.data() + size, text.data(), n);
    size += n;
  }
  void put(std::uint64_t number) {
    std::array<char, 20> digits{};
    const auto done = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    put(std::string_view(digits.data(), static_cast<std::size_t>(done.ptr - digits.data())));
  }
  std::string_view view() const { return {buffer.data(), size}; }
};

}  // namespace

tree_parser::tree_parser()
    : nodes_(std::make_unique_for_overwrite<tree_node[]>(node_capacity)),
      hidden_(max_tree_record_bytes, true) {}

tree_result tree_parser::parse(std::span<const std::uint8_t> record) {
  const auto size = static_cast<std::uint32_t>(std::min(record.size(), max_tree_record_bytes));
  const record_view view(record, static_cast<std::int32_t>(size));
  hidden_.scan(record.first(size));
  tree_result result;
  result.hidden = &hidden_;
  // Hidden digits at the end are no status word: they must not decide the parse.
  if (size >= 2 && looks_like_status(view.at(size - 2), view.at(size - 1)) &&
      !hidden_.hides_any(record.data() + size - 2, 2)) {
    const parse_outcome before = parse_elements(view, size - 2, nodes_.get(), hidden_);
    if (!before.any_problem) {
      result.nodes = {nodes_.get(), before.count};
      result.has_status = true;
      result.status = static_cast<std::uint16_t>(view.at(size - 2) << 8 | view.at(size - 1));
      return result;
    }
  }
  const parse_outcome whole = parse_elements(view, size, nodes_.get(), hidden_);
  result.nodes = {nodes_.get(), whole.count};
  return result;
}

tree_result tree_parser::parse_data(std::span<const std::uint8_t> data) {
  const auto size = static_cast<std::uint32_t>(std::min(data.size(), max_tree_record_bytes));
  const record_view view(data, static_cast<std::int32_t>(size));
  hidden_.scan(data.first(size));
  tree_result result;
  result.hidden = &hidden_;
  result.nodes = {nodes_.get(), parse_elements(view, size, nodes_.get(), hidden_).count};
  return result;
}

std::string_view describe_problem(const tree_node& node, std::span<char> buffer) {
  text_writer out{buffer};
  switch (node.problem) {
    case node_problem::none:
      break;
    case node_problem::runs_past_end:
      out.put("value runs past the end: ");
      out.put(std::uint64_t{node.declared});
      out.put(node.declared == 1 ? " byte declared, " : " bytes declared, ");
      out.put(std::uint64_t{node.value_size});
      out.put(" left");
      break;
    case node_problem::indefinite_length:
      out.put("indefinite length (80) not allowed");
      break;
    case node_problem::length_too_long:
      out.put("length field of ");
      out.put(std::uint64_t{1} + (node.length_first & 0x7Fu));
      out.put(" octets is too long");
      break;
    case node_problem::length_cut_short:
      out.put("length runs past the end");
      break;
    case node_problem::tag_cut_short:
      out.put("tag runs past the end");
      break;
    case node_problem::header_hidden:
      out.put("card digits hidden where a header would be");
      break;
  }
  return out.view();
}

std::string_view status_meaning(std::uint16_t status) {
  for (const status_entry& entry : status_meanings)
    if ((status & entry.mask) == entry.status) return entry.meaning;
  return {};
}

}  // namespace emvtlv
