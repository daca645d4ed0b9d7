#include "explain/explain.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "card/mask.h"
#include "emv/elements.h"
#include "explain/explainers.h"
#include "explain/item_text.h"

namespace emvtlv {
namespace {

using explainer = void (*)(explain::bytes, const explain_context&, explain_output);

struct explained_tag {
  std::uint32_t tag;
  explainer explain;
};

// Ascending by tag. Text formats not listed here are explained from the dictionary;
// 9F66 and 9F6B are read by kernel before this table is looked at.
constexpr std::array explained_tags = {
    explained_tag{0x4F, explain::explain_aid},
    explained_tag{0x57, explain::explain_track2},
    explained_tag{0x80, explain::explain_format1},
    explained_tag{0x82, explain::explain_aip},
    explained_tag{0x84, explain::explain_aid},
    explained_tag{0x87, explain::explain_priority},
    explained_tag{0x8C, explain::explain_dol},
    explained_tag{0x8D, explain::explain_dol},
    explained_tag{0x8E, explain::explain_cvm_list},
    explained_tag{0x91, explain::explain_issuer_authentication},
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
    explained_tag{0x5F36, explain::explain_exponent},
    explained_tag{0x9F02, explain::explain_amount},
    explained_tag{0x9F03, explain::explain_amount},
    explained_tag{0x9F06, explain::explain_aid},
    explained_tag{0x9F07, explain::explain_auc},
    explained_tag{0x9F0D, explain::explain_iac_default},
    explained_tag{0x9F0E, explain::explain_iac_denial},
    explained_tag{0x9F0F, explain::explain_iac_online},
    explained_tag{0x9F10, explain::explain_iad},
    explained_tag{0x9F11, explain::explain_code_table},
    explained_tag{0x9F12, explain::explain_preferred_name},
    explained_tag{0x9F1A, explain::explain_country},
    explained_tag{0x9F1D, explain::explain_kernel_9f1d},
    explained_tag{0x9F1F, explain::explain_hidden_text},
    explained_tag{0x9F20, explain::explain_hidden_digits},
    explained_tag{0x9F21, explain::explain_time},
    explained_tag{0x9F27, explain::explain_cid},
    explained_tag{0x9F2A, explain::explain_kernel_identifier},
    explained_tag{0x9F33, explain::explain_terminal_capabilities},
    explained_tag{0x9F34, explain::explain_cvm_results},
    explained_tag{0x9F35, explain::explain_terminal_type},
    explained_tag{0x9F38, explain::explain_dol},
    explained_tag{0x9F3C, explain::explain_currency},
    explained_tag{0x9F40, explain::explain_additional_capabilities},
    explained_tag{0x9F42, explain::explain_currency},
    explained_tag{0x9F44, explain::explain_exponent},
    explained_tag{0x9F49, explain::explain_dol},
    explained_tag{0x9F4A, explain::explain_tag_list},
    explained_tag{0x9F4D, explain::explain_log_entry},
    explained_tag{0x9F4F, explain::explain_dol},
    explained_tag{0x9F5D, explain::explain_kernel_9f5d},
    explained_tag{0x9F6C, explain::explain_ctq},
    explained_tag{0x9F6D, explain::explain_kernel_9f6d},
    explained_tag{0x9F6E, explain::explain_kernel_9f6e},
};

constexpr bool sorted_by_tag() {
  for (std::size_t i = 1; i < explained_tags.size(); ++i)
    if (explained_tags[i - 1].tag >= explained_tags[i].tag) return false;
  return true;
}
static_assert(sorted_by_tag(), "explained_tags must stay sorted");

// Every explained tag is one octet or 5Fxx or 9Fxx: a page of 256 slots each, holding
// the row's index + 1 (0: not explained), so finding a tag's row is one load.
constexpr std::size_t page_of(std::uint64_t tag) {
  if (tag <= 0xFF) return 0;
  if ((tag >> 8) == 0x5F) return 1;
  if ((tag >> 8) == 0x9F) return 2;
  return 3;  // no page
}
constexpr auto explained_slots = [] {
  std::array<std::uint8_t, 3 * 256> slots{};
  for (std::size_t i = 0; i < explained_tags.size(); ++i)
    slots[256 * page_of(explained_tags[i].tag) + (explained_tags[i].tag & 0xFF)] =
        static_cast<std::uint8_t>(i + 1);
  return slots;
}();
static_assert(explained_tags.size() < 255);

const explained_tag* find_explained(std::uint64_t tag) {
  const std::size_t page = page_of(tag);
  if (page > 2) return nullptr;
  const std::uint8_t slot = explained_slots[256 * page + (tag & 0xFF)];
  return slot == 0 ? nullptr : &explained_tags[slot - 1U];
}

bool holds_track2_separator(explain::bytes v) {
  return std::any_of(v.begin(), v.end(),
                     [](std::uint8_t b) { return (b >> 4) == 0xD || (b & 0xF) == 0xD; });
}

// The readings of the two kernel-dependent tags that are explained.
enum class kernel_reading : std::uint8_t { none, ttq, punatc, track2, cvm_limit };

struct reading {
  kernel_reading what = kernel_reading::none;
  bool by_length = false;  // no kernel known: the length (and form) chose
};

// 9F66: under C-2 PUNATC(Track2), 2 bytes, unless it has the TTQ's 4; the TTQ for every
// other kernel. 9F6B: Track 2 Data under C-2, Card CVM Limit (6 bytes) under C-3.
reading reading_of(std::uint64_t tag, explain::bytes v, emv_kernel kernel) {
  const bool known = kernel == emv_kernel::c2 || kernel == emv_kernel::c3;
  if (tag == 0x9F66) {
    if (kernel == emv_kernel::c2)
      return {v.size() == 4 ? kernel_reading::ttq : kernel_reading::punatc};
    if (kernel != emv_kernel::unknown) return {kernel_reading::ttq};
    if (v.size() == 2) return {kernel_reading::punatc, true};
    return {kernel_reading::ttq, v.size() == 4};
  }
  if (tag == 0x9F6B) {
    if (kernel == emv_kernel::c2) return {kernel_reading::track2};
    if (kernel == emv_kernel::c3) return {kernel_reading::cvm_limit};
    // Two kernels, two codings: 6 bytes without a D separator is Visa's limit.
    const bool limit = v.size() == 6 && !holds_track2_separator(v);
    return {limit ? kernel_reading::cvm_limit : kernel_reading::track2, !known};
  }
  return {};
}

struct reading_names {
  kernel_reading what;
  std::string_view name;
  std::string_view guessed;  // the name when the length chose
  std::string_view short_name;
};

constexpr std::array reading_table = {
    reading_names{kernel_reading::ttq, "Terminal Transaction Qualifiers (TTQ)",
                  "Terminal Transaction Qualifiers (TTQ) (by length)", "TTQ"},
    reading_names{kernel_reading::punatc, "PUNATC(Track2)", "PUNATC(Track2) (by length)",
                  "PUNATC(Track2)"},
    reading_names{kernel_reading::track2, "Track 2 Data", "Track 2 Data (by length)",
                  "Track 2 Data"},
    reading_names{kernel_reading::cvm_limit, "Card CVM Limit", "Card CVM Limit (by length)",
                  "Card CVM Limit"},
};

static_assert(std::all_of(reading_table.begin(), reading_table.end(),
                          [](const reading_names& r) {
                            return is_plain_name(r.name) && is_plain_name(r.guessed);
                          }),
              "the JSON writer copies names as they are");

const reading_names* names_of(kernel_reading what) {
  for (const reading_names& r : reading_table)
    if (r.what == what) return &r;
  return nullptr;
}

// The kernel-dependent tags that are only named: one name per kernel that defines one.
struct kernel_name_row {
  std::uint32_t tag;
  emv_kernel kernel;
  std::string_view name;
};

constexpr std::array kernel_names = {
    kernel_name_row{0x9F5D, emv_kernel::c2, "Application Capabilities Information"},
    kernel_name_row{0x9F5D, emv_kernel::c3, "Available Offline Spending Amount"},
    kernel_name_row{0x9F6D, emv_kernel::c2, "Mag-stripe Application Version Number (Reader)"},
    kernel_name_row{0x9F6D, emv_kernel::c4, "Contactless Reader Capabilities"},
    kernel_name_row{0x9F6E, emv_kernel::c2, "Third Party Data"},
    kernel_name_row{0x9F6E, emv_kernel::c3, "Form Factor Indicator"},
    kernel_name_row{0x9F6E, emv_kernel::c4, "Enhanced Contactless Reader Capabilities"},
    kernel_name_row{0x9F7C, emv_kernel::c2, "Merchant Custom Data"},
    kernel_name_row{0x9F7C, emv_kernel::c3, "Customer Exclusive Data"},
};

static_assert(std::all_of(kernel_names.begin(), kernel_names.end(),
                          [](const kernel_name_row& row) { return is_plain_name(row.name); }),
              "the JSON writer copies names as they are");

// "reading: TTQ (C-3)" or "reading: TTQ (by length)".
void emit_reading(explain_output out, const reading_names& names, bool by_length,
                  emv_kernel kernel) {
  std::array<char, 48> text{};
  const std::string_view how = by_length                       ? std::string_view("by length")
                               : kernel == emv_kernel::unknown ? std::string_view("kernel unknown")
                                                               : kernel_name(kernel);
  const int n = std::snprintf(text.data(), text.size(), "%.*s (%.*s)",
                              static_cast<int>(names.short_name.size()), names.short_name.data(),
                              static_cast<int>(how.size()), how.data());
  const std::size_t size = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), text.size() - 1);
  explain::emit(out, explain_kind::field, "reading", std::string_view(text.data(), size));
}

// An n 1 or n 3 value as its number, or -1 when it is not one.
int bcd_number(explain::bytes v) {
  int n = 0;
  for (const std::uint8_t b : v) {
    if ((b >> 4) > 9 || (b & 0xF) > 9) return -1;
    n = n * 100 + (b >> 4) * 10 + (b & 0xF);
  }
  return n;
}

void note_aid(explain_context& context, explain::bytes aid) {
  if (aid.size() < 5 || aid.size() > 16) return;
  const payment_system* system = find_payment_system(aid);
  if (system == nullptr) return;
  if (context.aid.empty()) {
    context.aid = aid;
    context.kernel = system->kernel;
  } else if (system->kernel != context.kernel) {
    context.kernel = emv_kernel::unknown;  // a directory of several kernels' AIDs
  }
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
  emit_problem(out, "wrong_length", std::string_view(text.data(), size));
  return false;
}

void emit_set_bit(explain_output out, std::size_t byte, unsigned bit, std::string_view text,
                  std::string_view note, std::string_view id, std::uint32_t level) {
  item_text<16> label;
  label.append("byte ").append_uint(byte).append(" b").append_uint(bit);
  explain_facts facts;
  facts.byte = static_cast<std::uint8_t>(byte);
  facts.bit = static_cast<std::uint8_t>(bit);
  facts.id = id;
  item_text<128> line;
  if (text.empty()) {
    line.append("RFU bit set: ").append(label.view());
    emit(out, explain_kind::rfu, label.view(), line.view(), level, facts);
    return;
  }
  line.append(text).append(note);
  emit(out, explain_kind::bit, label.view(), line.view(), level, facts);
}

void emit_hex(explain_output out, std::string_view label, std::span<const std::uint8_t> v,
              std::uint32_t level) {
  item_text<64> text;
  text.append_hex(v);
  emit(out, explain_kind::field, label, v.empty() ? std::string_view("none") : text.view(), level);
}

void emit_numbered(explain_output out, std::string_view label, std::string_view id,
                   std::uint64_t number, std::string_view text, std::uint32_t level) {
  explain_facts facts;
  facts.id = id;
  facts.has_number = true;
  facts.number = number;
  emit(out, explain_kind::field, label, text, level, facts);
}

void put_kernel_note(explain_output out, const explain_context& c) {
  item_text<80> text;
  if (c.aid.empty()) {
    text.append(kernel_name(c.kernel_option)).append(" (from --kernel; no AID)");
  } else if (c.kernel != c.kernel_option) {
    const std::string_view by_aid = kernel_name(c.kernel);
    text.append(by_aid.empty() ? std::string_view("unknown") : by_aid)
        .append(" (from the AID; --kernel=")
        .append(kernel_name(c.kernel_option))
        .append(" overruled)");
  } else {
    return;
  }
  emit(out, explain_kind::field, "kernel", text.view());
}

}  // namespace explain

void note_context_element(explain_context& context, std::uint64_t tag,
                          std::span<const std::uint8_t> value) {
  const auto set_once = [](int& field, int n, int low, int high) {
    if (field < 0 && n >= low && n <= high) field = n;
  };
  switch (tag) {
    case 0x4F:
    case 0x84:
      note_aid(context, value);
      break;
    case 0x5F2A:
      if (value.size() == 2) set_once(context.transaction_currency, bcd_number(value), 0, 999);
      break;
    case 0x5F36:
      if (value.size() == 1) set_once(context.currency_exponent, bcd_number(value), 0, 9);
      break;
    case 0x9F42:
      if (value.size() == 2) set_once(context.application_currency, bcd_number(value), 0, 999);
      break;
    case 0x9F44:
      if (value.size() == 1)
        set_once(context.application_currency_exponent, bcd_number(value), 0, 9);
      break;
    case 0x9F11:
      if (value.size() == 1 && context.code_table == 0) {
        const int part = bcd_number(value);
        if (part >= 1 && part <= 10) context.code_table = part;
      }
      break;
    default:
      break;
  }
}

std::string_view kernel_reading_name(std::uint64_t tag, std::span<const std::uint8_t> value,
                                     const explain_context& context) {
  if (tag < 0x9F5D || tag > 0x9F7C) return {};
  if (const reading r = reading_of(tag, value, context.kernel); r.what != kernel_reading::none) {
    const reading_names* names = names_of(r.what);
    if (r.by_length) return names->guessed;
    // A kernel that keeps the dictionary's reading keeps its name.
    return context.kernel == emv_kernel::unknown ? std::string_view() : names->name;
  }
  for (const kernel_name_row& row : kernel_names)
    if (row.tag == tag && row.kernel == context.kernel) return row.name;
  return {};
}

namespace {

// 9F66 and 9F6B: how the value is read, then the value as read.
[[gnu::noinline]] void explain_by_kernel(std::uint64_t tag, explain::bytes value,
                                         const explain_context& context, explain_output out) {
  const reading r = reading_of(tag, value, context.kernel);
  explain::emit_kernel_note(out, context);
  emit_reading(out, *names_of(r.what), r.by_length, context.kernel);
  switch (r.what) {
    case kernel_reading::ttq:
      explain::explain_ttq(value, context, out);
      break;
    case kernel_reading::punatc:
      explain::explain_punatc(value, context, out);
      break;
    case kernel_reading::track2:
      explain::explain_track2(value, context, out);
      break;
    default:
      explain::explain_cvm_limit(value, context, out);
      break;
  }
}

// A value in a record with hidden digits: Track 2 shows them as X, and the tags hidden
// whole only count; no other coding's explanation could show them hidden.
[[gnu::noinline]] void explain_among_hidden(const explained_tag& row, std::uint64_t tag,
                                            explain::bytes value, const explain_context& context,
                                            explain_output out) {
  if (context.hidden->hides_any(value.data(), value.size()) && tag != 0x57 &&
      !is_hidden_whole(tag)) {
    explain::emit(out, explain_kind::meaning, {}, "holds card-number digits: not explained");
    return;
  }
  row.explain(value, context, out);
}

// A tag with no explainer of its own: its text, when the dictionary says it is text.
[[gnu::noinline]] bool explain_by_format(std::uint64_t tag, explain::bytes value,
                                         const explain_context& context, explain_output out) {
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

}  // namespace

// Kept to a dispatch, the rare paths out of line: it runs for every primitive element.
bool explain_value(std::uint64_t tag, std::span<const std::uint8_t> value, std::uint64_t declared,
                   const explain_context& context, explain_output out) {
  // A value cut short already carries its problem; what is left of it means nothing.
  if (value.size() != declared) return false;
  if (tag == 0x9F66 || tag == 0x9F6B) {
    explain_by_kernel(tag, value, context, out);
    return true;
  }
  const explained_tag* row = find_explained(tag);
  if (row == nullptr) return explain_by_format(tag, value, context, out);
  if (context.hidden != nullptr && context.hidden->any())
    explain_among_hidden(*row, tag, value, context, out);
  else
    row->explain(value, context, out);
  return true;
}

}  // namespace emvtlv
