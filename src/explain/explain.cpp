#include "explain/explain.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "card/mask.h"
#include "emv/elements.h"
#include "explain/explainers.h"

namespace emvtlv {
namespace {

using explainer = void (*)(explain::bytes, const explain_context&, explain_output);

struct explained_tag {
  std::uint32_t tag;
  explainer explain;
};

// Ascending by tag. Text formats not listed here are explained from the dictionary.
constexpr std::array explained_tags = {
    explained_tag{0x57, explain::explain_track2},
    explained_tag{0x80, explain::explain_format1},
    explained_tag{0x82, explain::explain_aip},
    explained_tag{0x87, explain::explain_priority},
    explained_tag{0x8C, explain::explain_dol},
    explained_tag{0x8D, explain::explain_dol},
    explained_tag{0x8E, explain::explain_cvm_list},
    explained_tag{0x94, explain::explain_afl},
    explained_tag{0x95, explain::explain_tvr},
    explained_tag{0x97, explain::explain_dol},
    explained_tag{0x9A, explain::explain_date},
    explained_tag{0x9B, explain::explain_tsi},
    explained_tag{0x9C, explain::explain_transaction_type},
    explained_tag{0x5F24, explain::explain_date},
    explained_tag{0x5F25, explain::explain_date},
    explained_tag{0x5F28, explain::explain_country},
    explained_tag{0x5F2A, explain::explain_currency},
    explained_tag{0x5F2D, explain::explain_languages},
    explained_tag{0x5F30, explain::explain_service_code},
    explained_tag{0x9F02, explain::explain_amount},
    explained_tag{0x9F03, explain::explain_amount},
    explained_tag{0x9F07, explain::explain_auc},
    explained_tag{0x9F0D, explain::explain_tvr},
    explained_tag{0x9F0E, explain::explain_tvr},
    explained_tag{0x9F0F, explain::explain_tvr},
    explained_tag{0x9F1A, explain::explain_country},
    explained_tag{0x9F1F, explain::explain_hidden_text},
    explained_tag{0x9F20, explain::explain_hidden_digits},
    explained_tag{0x9F21, explain::explain_time},
    explained_tag{0x9F27, explain::explain_cid},
    explained_tag{0x9F33, explain::explain_terminal_capabilities},
    explained_tag{0x9F34, explain::explain_cvm_results},
    explained_tag{0x9F35, explain::explain_terminal_type},
    explained_tag{0x9F38, explain::explain_dol},
    explained_tag{0x9F3C, explain::explain_currency},
    explained_tag{0x9F40, explain::explain_additional_capabilities},
    explained_tag{0x9F42, explain::explain_currency},
    explained_tag{0x9F49, explain::explain_dol},
    explained_tag{0x9F4A, explain::explain_tag_list},
    explained_tag{0x9F4D, explain::explain_log_entry},
    explained_tag{0x9F4F, explain::explain_dol},
    explained_tag{0x9F66, explain::explain_ttq},
    explained_tag{0x9F6B, explain::explain_track2},
    explained_tag{0x9F6C, explain::explain_ctq},
};

constexpr bool sorted_by_tag() {
  for (std::size_t i = 1; i < explained_tags.size(); ++i)
    if (explained_tags[i - 1].tag >= explained_tags[i].tag) return false;
  return true;
}
static_assert(sorted_by_tag(), "explained_tags must stay sorted for the binary search");

bool holds_track2_separator(explain::bytes v) {
  return std::any_of(v.begin(), v.end(),
                     [](std::uint8_t b) { return (b >> 4) == 0xD || (b & 0xF) == 0xD; });
}

}  // namespace

namespace explain {

bool wrong_length(explain_output out, std::string_view short_name, std::string_view expected,
                  std::size_t given) {
  std::array<char, 128> text{};
  const int n = std::snprintf(text.data(), text.size(), "%.*s: %.*s expected, %zu given",
                              static_cast<int>(short_name.size()), short_name.data(),
                              static_cast<int>(expected.size()), expected.data(), given);
  const std::size_t size = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), text.size() - 1);
  emit(out, explain_kind::problem, {}, std::string_view(text.data(), size));
  return false;
}

}  // namespace explain

bool explain_value(std::uint64_t tag, std::span<const std::uint8_t> value, std::uint64_t declared,
                   const explain_context& context, explain_output out) {
  // A value cut short already carries its problem; what is left of it means nothing.
  if (value.size() != declared) return false;
  // Two kernels, two codings: 6 bytes without a D separator is Visa's Card CVM Limit,
  // an amount; 9F66 is the TTQ only in its 4-byte form.
  if (tag == 0x9F6B && value.size() == 6 && !holds_track2_separator(value)) {
    explain::explain_amount(value, context, out);
    return true;
  }
  if (tag == 0x9F66 && value.size() != 4) return false;

  const auto it =
      std::lower_bound(explained_tags.begin(), explained_tags.end(), tag,
                       [](const explained_tag& e, std::uint64_t t) { return e.tag < t; });
  if (it != explained_tags.end() && it->tag == tag) {
    // Track 2 shows the hidden digits as X; no other coding's explanation could.
    const bool hidden_digits =
        context.hidden != nullptr && context.hidden->hides_any(value.data(), value.size());
    if (hidden_digits && tag != 0x57 && tag != 0x9F6B && !is_hidden_whole(tag)) {
      explain::emit(out, explain_kind::meaning, {}, "holds card-number digits: not explained");
      return true;
    }
    it->explain(value, context, out);
    return true;
  }
  // Track 1 Data holds the card number in text: never shown as text.
  if (tag == 0x56) return false;
  const emv_element* element = find_emv_element(tag);
  if (element == nullptr || element->constructed) return false;
  if (element->format != emv_format::a && element->format != emv_format::an &&
      element->format != emv_format::ans)
    return false;
  explain::explain_text(value, context, out);
  return true;
}

}  // namespace emvtlv
