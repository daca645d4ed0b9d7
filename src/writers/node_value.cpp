#include "writers/node_value.h"

#include <array>
#include <charconv>

#include "card/mask.h"
#include "common/hex.h"
#include "emv/elements.h"

namespace emvtlv {

bool put_node_value(const tree_node& node, std::span<const std::uint8_t> record,
                    const hidden_nibbles& hidden, output_sink& out) {
  const std::span<const std::uint8_t> value = record.subspan(node.value_offset, node.value_size);
  char* const hex = out.extend(2 * value.size());
  encode_hex_unchecked(value.data(), value.size(), hex);
  const std::span<char> printed(hex, 2 * value.size());
  const std::string_view shown(hex, printed.size());
  const card_mask rule = card_mask_for(node.tag, node.declared, shown);
  bool may_show_x = false;
  if (node.problem == node_problem::indefinite_length ||
      node.problem == node_problem::length_too_long ||
      node.problem == node_problem::header_hidden) {
    // The bytes left after a header we cannot read may still be elements, or, under
    // a card-number tag, the card number itself.
    mask_template_value(value, printed, template_framing::tree, hidden);
    may_show_x = true;
  }
  if (rule != card_mask::none || is_hidden_whole(node.tag)) {
    apply_card_mask(rule, printed, node.problem == node_problem::runs_past_end);
    hide_authentication_data(node.tag, rule, printed);
    may_show_x = true;
  }
  if (hidden.hides_any(value.data(), value.size())) {
    hidden.apply(value.data(), printed);
    may_show_x = true;
  }
  return may_show_x && shown.find('X') != std::string_view::npos;
}

std::string_view node_name(const tree_node& node, std::span<const std::uint8_t>) {
  // Tags longer than the dictionary's longest cannot be listed; their number is cut.
  if (node.tag_size > 4) return {};
  const emv_element* element = find_emv_element(node.tag);
  return element == nullptr ? std::string_view() : element->name;
}

explain_context context_of(const tree_result& tree, std::span<const std::uint8_t> record) {
  explain_context context;
  context.hidden = tree.hidden;
  for (const tree_node& node : tree.nodes) {
    if (node.tag != 0x5F36 || node.tag_size != 2 || node.value_size != 1) continue;
    const std::uint8_t digits = record[node.value_offset];
    if ((digits >> 4) <= 9 && (digits & 0xF) <= 9)
      context.currency_exponent = (digits >> 4) * 10 + (digits & 0xF);
    break;
  }
  return context;
}

void put_number(output_sink& out, std::uint64_t n) {
  std::array<char, 24> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), n).ptr;
  out.append(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
}

void put_node_tag(const tree_node& node, std::span<const std::uint8_t> record,
                  const hidden_nibbles& hidden, output_sink& out) {
  const std::span<const std::uint8_t> tag = record.subspan(node.offset, node.tag_size);
  char* const hex = out.extend(2 * tag.size());
  encode_hex_unchecked(tag.data(), tag.size(), hex);
  hidden.apply(tag.data(), {hex, 2 * tag.size()});
}

}  // namespace emvtlv
