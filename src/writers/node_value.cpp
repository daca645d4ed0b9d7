#include "writers/node_value.h"

#include <array>
#include <cstring>

#include "card/mask.h"
#include "common/hex.h"
#include "emv/elements.h"

namespace emvtlv {

namespace {

// Whether the node holds the bytes left after a header that could not be read: they may
// still be elements, or, under a card-number tag, the card number itself.
bool holds_bytes_left(const tree_node& node) {
  return node.problem == node_problem::indefinite_length ||
         node.problem == node_problem::length_too_long ||
         node.problem == node_problem::header_hidden;
}

// Masks the printed value of a node that a rule or a mark may touch: the few of them,
// kept apart so that printing every other value stays a short leaf.
[[gnu::noinline]] bool mask_node_value(const tree_node& node, std::span<const std::uint8_t> value,
                                       std::span<char> printed, const hidden_nibbles& hidden) {
  const std::string_view shown(printed.data(), printed.size());
  bool may_show_x = false;
  // The node's own rule first: what it hides starts no element below.
  if (may_be_masked(node.tag)) {
    const card_mask rule = card_mask_for(node.tag, node.declared, shown);
    if (rule != card_mask::none || is_hidden_whole(node.tag)) {
      apply_card_mask(rule, printed, node.problem == node_problem::runs_past_end);
      hide_authentication_data(node.tag, rule, printed);
      may_show_x = true;
    }
  }
  if (holds_bytes_left(node)) {
    mask_template_value(value, printed, template_framing::tree, hidden);
    may_show_x = true;
  }
  if (hidden.any() && hidden.hides_any(value.data(), value.size())) {
    hidden.apply(value.data(), printed);
    may_show_x = true;
  }
  return may_show_x && shown.find('X') != std::string_view::npos;
}

}  // namespace

bool put_node_value(const tree_node& node, std::span<const std::uint8_t> record,
                    const hidden_nibbles& hidden, output_sink& out) {
  const std::span<const std::uint8_t> value = record.subspan(node.value_offset, node.value_size);
  char* const hex = out.extend(2 * value.size());
  // The parse stopped at a hidden byte, and a chance number's value may have run over
  // the headers of what follows: none of the bytes left shows. Their extent is the
  // parse's, which never reads a hidden byte.
  if (node.problem == node_problem::header_hidden) {
    std::memset(hex, 'X', 2 * value.size());
    return !value.empty();
  }
  encode_hex_unchecked(value.data(), value.size(), hex);
  if (!may_be_masked(node.tag) && !holds_bytes_left(node) && !hidden.any()) return false;
  return mask_node_value(node, value, {hex, 2 * value.size()}, hidden);
}

std::string_view node_name(const tree_node& node, std::span<const std::uint8_t> record,
                           record_context& context) {
  // Tags longer than the dictionary's longest cannot be listed; their number is cut.
  if (node.tag_size > 4) return {};
  // Only 9F5D to 9F7C read by kernel: the common tags skip the call.
  if (named_by_kernel(node)) {
    const std::string_view reading = kernel_reading_name(
        node.tag, record.subspan(node.value_offset, node.value_size), context.get());
    if (!reading.empty()) return reading;
  }
  const emv_element* element = find_emv_element(node.tag);
  return element == nullptr ? std::string_view() : element->name;
}

explain_context context_of(const tree_result& tree, std::span<const std::uint8_t> record,
                           const explain_context* known) {
  explain_context context = known != nullptr ? *known : explain_context{};
  context.hidden = tree.hidden;
  for (const tree_node& node : tree.nodes) {
    // Only whole values count: a cut one, or the bytes left after a problem, says nothing.
    if (node.constructed || node.problem != node_problem::none || node.tag_size > 4) continue;
    note_context_element(context, node.tag, record.subspan(node.value_offset, node.value_size));
  }
  return context;
}

void put_number(output_sink& out, std::uint64_t n) {
  // Straight into the sink, last digits first: most numbers are line numbers and lengths
  // of a few digits, and a buffer and a copy cost more than they do.
  std::size_t count = 1;
  for (std::uint64_t bound = 10; count < 20 && n >= bound; bound *= 10)
    ++count;
  char* const at = out.extend(count);
  std::size_t i = count;
  for (; n >= 100; n /= 100) {
    i -= 2;
    std::memcpy(at + i, &decimal_pairs[2 * (n % 100)], 2);
  }
  if (n >= 10) {
    std::memcpy(at + i - 2, &decimal_pairs[2 * n], 2);
  } else {
    at[i - 1] = static_cast<char>('0' + n);
  }
}

void put_node_tag(const tree_node& node, std::span<const std::uint8_t> record,
                  const hidden_nibbles& hidden, output_sink& out) {
  const std::span<const std::uint8_t> tag = record.subspan(node.offset, node.tag_size);
  char* const hex = out.extend(2 * tag.size());
  // Nearly every tag is one or two octets: straight from the pairs table.
  const auto pair = [&](std::size_t i) { return &hex_pairs[2 * std::size_t{tag[i]}]; };
  if (tag.size() == 1 || tag.size() == 2) {
    std::memcpy(hex, pair(0), 2);
    if (tag.size() == 2) std::memcpy(hex + 2, pair(1), 2);
  } else {
    encode_hex_unchecked(tag.data(), tag.size(), hex);
  }
  if (hidden.any()) hidden.apply(tag.data(), {hex, 2 * tag.size()});
}

}  // namespace emvtlv
