// The explainers behind explain_value, one a coding. The dispatcher has checked
// nothing but that the value is whole (all declared octets present); each explainer
// checks the length and form its coding needs and emits a problem item otherwise.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "explain/explain.h"
#include "explain/item_lines.h"

namespace emvtlv::explain {

using bytes = std::span<const std::uint8_t>;

inline constexpr explain_facts no_facts{};

// Emits one item.
inline void emit(explain_output out, explain_kind kind, std::string_view label,
                 std::string_view text, std::uint32_t level = 0,
                 const explain_facts& facts = no_facts) {
  if (out.lines != nullptr) {
    put_item_line(*out.lines->sink, out.lines->indent + 2 * std::size_t{level}, label, text);
    return;
  }
  out.item(out.context, kind, level, label, text, facts);
}

// Emits one problem item with its stable id.
inline void emit_problem(explain_output out, std::string_view id, std::string_view text,
                         std::uint32_t level = 0) {
  if (out.lines != nullptr) {
    put_item_line(*out.lines->sink, out.lines->indent + 2 * std::size_t{level}, {}, text);
    return;
  }
  explain_facts facts;
  facts.id = id;
  out.item(out.context, explain_kind::problem, level, {}, text, facts);
}

// "NAME: N bytes expected, M given" as one problem item; returns false so callers can
// write `if (v.size() != 2) return wrong_length(...)`.
bool wrong_length(explain_output out, std::string_view short_name, std::string_view expected,
                  std::size_t given);

// One amount as a field or meaning item: `minor_units` with `exponent` decimal places
// in the ISO 4217 currency numbered `currency` (-1: none named): "10.00 EUR (Euro)".
// Without an exponent (-1) the currency's minor unit stands and the text says so
// ("10.00 EUR (Euro), exponent from the currency"); without either, the digits as they
// are ("1000, exponent unknown").
void emit_amount(explain_output out, explain_kind kind, std::string_view label,
                 std::uint64_t minor_units, int exponent, int currency, std::uint32_t level = 0);

// When the user named a kernel (--kernel): a "kernel" item saying whether it stands in
// for a missing AID or an AID overruled it; nothing otherwise.
void put_kernel_note(explain_output out, const explain_context& c);
inline void emit_kernel_note(explain_output out, const explain_context& c) {
  if (c.kernel_option != emv_kernel::unknown) [[unlikely]]
    put_kernel_note(out, c);
}

// One set bit of a table read as it comes (the rare fields'): a bit item, its meaning
// `text` followed by `note`, or with no text an RFU item, "RFU bit set: byte N bM".
void emit_set_bit(explain_output out, std::size_t byte, unsigned bit, std::string_view text,
                  std::string_view note, std::string_view id, std::uint32_t level);

// A field item whose text is `v` as hex, "none" when empty.
void emit_hex(explain_output out, std::string_view label, std::span<const std::uint8_t> v,
              std::uint32_t level = 0);

// A field item that carries a number and, when not empty, an id.
void emit_numbered(explain_output out, std::string_view label, std::string_view id,
                   std::uint64_t number, std::string_view text, std::uint32_t level = 0);

// Bit fields (explain_bits.cpp).
void explain_aip(bytes v, const explain_context& c, explain_output out);                    // 82
void explain_auc(bytes v, const explain_context& c, explain_output out);                    // 9F07
void explain_tvr(bytes v, const explain_context& c, explain_output out);                    // 95
void explain_iac_default(bytes v, const explain_context& c, explain_output out);            // 9F0D
void explain_iac_denial(bytes v, const explain_context& c, explain_output out);             // 9F0E
void explain_iac_online(bytes v, const explain_context& c, explain_output out);             // 9F0F
void explain_tsi(bytes v, const explain_context& c, explain_output out);                    // 9B
void explain_cid(bytes v, const explain_context& c, explain_output out);                    // 9F27
void explain_terminal_capabilities(bytes v, const explain_context& c, explain_output out);  // 9F33
void explain_additional_capabilities(bytes v, const explain_context& c,
                                     explain_output out);                    // 9F40
void explain_ttq(bytes v, const explain_context& c, explain_output out);     // 9F66 as TTQ
void explain_punatc(bytes v, const explain_context& c, explain_output out);  // 9F66 under C-2
void explain_ctq(bytes v, const explain_context& c, explain_output out);     // 9F6C

// Issuer Application Data (explain_iad.cpp).
void explain_iad(bytes v, const explain_context& c, explain_output out);  // 9F10

// The kernels' fields, and 91 (explain_kernel.cpp).
void explain_kernel_9f6e(bytes v, const explain_context& c, explain_output out);        // by kernel
void explain_kernel_9f6d(bytes v, const explain_context& c, explain_output out);        // by kernel
void explain_kernel_9f5d(bytes v, const explain_context& c, explain_output out);        // by kernel
void explain_kernel_9f1d(bytes v, const explain_context& c, explain_output out);        // C-2
void explain_kernel_identifier(bytes v, const explain_context& c, explain_output out);  // 9F2A
void explain_issuer_authentication(bytes v, const explain_context& c,
                                   explain_output out);  // 91

// Lists (explain_lists.cpp).
void explain_cvm_list(bytes v, const explain_context& c, explain_output out);     // 8E
void explain_cvm_results(bytes v, const explain_context& c, explain_output out);  // 9F34
void explain_afl(bytes v, const explain_context& c, explain_output out);          // 94
void explain_dol(bytes v, const explain_context& c, explain_output out);  // 9F38 8C 8D 9F49 97 9F4F
void explain_tag_list(bytes v, const explain_context& c, explain_output out);   // 9F4A
void explain_log_entry(bytes v, const explain_context& c, explain_output out);  // 9F4D
void explain_format1(bytes v, const explain_context& c, explain_output out);    // 80

// Values (explain_values.cpp).
void explain_text(bytes v, const explain_context& c, explain_output out);    // formats a, an, ans
void explain_date(bytes v, const explain_context& c, explain_output out);    // 5F24 5F25 9A
void explain_time(bytes v, const explain_context& c, explain_output out);    // 9F21
void explain_amount(bytes v, const explain_context& c, explain_output out);  // 9F02 9F03
void explain_cvm_limit(bytes v, const explain_context& c, explain_output out);   // 9F6B under C-3
void explain_exponent(bytes v, const explain_context& c, explain_output out);    // 5F36 9F44
void explain_code_table(bytes v, const explain_context& c, explain_output out);  // 9F11
void explain_preferred_name(bytes v, const explain_context& c, explain_output out);  // 9F12
void explain_currency(bytes v, const explain_context& c, explain_output out);   // 9F42 5F2A 9F3C
void explain_country(bytes v, const explain_context& c, explain_output out);    // 5F28 9F1A
void explain_languages(bytes v, const explain_context& c, explain_output out);  // 5F2D
void explain_terminal_type(bytes v, const explain_context& c, explain_output out);     // 9F35
void explain_transaction_type(bytes v, const explain_context& c, explain_output out);  // 9C
void explain_priority(bytes v, const explain_context& c, explain_output out);          // 87
void explain_service_code(bytes v, const explain_context& c, explain_output out);      // 5F30
void explain_track2(bytes v, const explain_context& c, explain_output out);  // 57, 9F6B as Track 2
void explain_hidden_text(bytes v, const explain_context& c, explain_output out);    // 9F1F
void explain_hidden_digits(bytes v, const explain_context& c, explain_output out);  // 9F20
void explain_aid(bytes v, const explain_context& c, explain_output out);            // 4F 84 9F06

}  // namespace emvtlv::explain
