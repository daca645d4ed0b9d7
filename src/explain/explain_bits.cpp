// Bit-field explainers: one item per set bit, in byte order and b8 to b1. Each coding
// is a table of the bits EMV assigns; a set bit missing from its table is RFU.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "explain/explainers.h"
#include "explain/item_text.h"

namespace emvtlv::explain {
namespace {

// What a meaning's source says about how far it holds.
enum class bit_note : std::uint8_t {
  none,
  emv44,   // new in EMV 4.4; RFU under 4.3
  kernel,  // depends on the contactless kernel
};

struct bit_meaning {
  std::uint8_t byte;  // 1 is the leftmost byte
  std::uint8_t mask;  // one bit
  std::string_view text;
  // Stable for scripts: lower-case words joined by '_', one per row, unique in its table.
  std::string_view id;
  bit_note note = bit_note::none;
  // A kernel-specific bit: the kernel that defines it. Under another known kernel the
  // bit is RFU; with no kernel known it reads with "(kernel-specific)".
  emv_kernel defined_by = emv_kernel::unknown;
};

using bit_table = std::span<const bit_meaning>;

constexpr auto emv44 = bit_note::emv44;
constexpr auto kernel = bit_note::kernel;
using enum emv_kernel;

// Application Interchange Profile, byte 1 only: byte 2 is left to the kernels.
constexpr std::array aip_bits = {
    bit_meaning{1, 0x80, "XDA supported", "xda_supported", emv44},
    bit_meaning{1, 0x40, "SDA supported", "sda_supported"},
    bit_meaning{1, 0x20, "DDA supported", "dda_supported"},
    bit_meaning{1, 0x10, "Cardholder verification is supported",
                "cardholder_verification_supported"},
    bit_meaning{1, 0x08, "Terminal risk management is to be performed",
                "terminal_risk_management_to_be_performed"},
    bit_meaning{1, 0x04, "Issuer authentication is supported", "issuer_authentication_supported"},
    bit_meaning{1, 0x02, "On-device cardholder verification supported",
                "on_device_cardholder_verification_supported", kernel, c2},
    bit_meaning{1, 0x01, "CDA supported", "cda_supported"},
};

constexpr std::array auc_bits = {
    bit_meaning{1, 0x80, "Valid for domestic cash transactions",
                "valid_for_domestic_cash_transactions"},
    bit_meaning{1, 0x40, "Valid for international cash transactions",
                "valid_for_international_cash_transactions"},
    bit_meaning{1, 0x20, "Valid for domestic goods", "valid_for_domestic_goods"},
    bit_meaning{1, 0x10, "Valid for international goods", "valid_for_international_goods"},
    bit_meaning{1, 0x08, "Valid for domestic services", "valid_for_domestic_services"},
    bit_meaning{1, 0x04, "Valid for international services", "valid_for_international_services"},
    bit_meaning{1, 0x02, "Valid at ATMs", "valid_at_atms"},
    bit_meaning{1, 0x01, "Valid at terminals other than ATMs",
                "valid_at_terminals_other_than_atms"},
    bit_meaning{2, 0x80, "Domestic cashback allowed", "domestic_cashback_allowed"},
    bit_meaning{2, 0x40, "International cashback allowed", "international_cashback_allowed"},
};

// Terminal Verification Results; the Issuer Action Codes share the layout.
// Byte 5 b4-b1 are read differently by the contactless kernels and by EMV 4.4
// contact terminals, so they are named for what is certain.
constexpr std::string_view contactless_reserved = "reserved for contactless / kernel-specific";
constexpr std::array tvr_bits = {
    bit_meaning{1, 0x80, "Offline data authentication was not performed",
                "offline_data_authentication_was_not_performed"},
    bit_meaning{1, 0x40, "SDA failed", "sda_failed"},
    bit_meaning{1, 0x20, "ICC data missing", "icc_data_missing"},
    bit_meaning{1, 0x10, "Card appears on terminal exception file", "card_on_exception_file"},
    bit_meaning{1, 0x08, "DDA failed", "dda_failed"},
    bit_meaning{1, 0x04, "CDA failed", "cda_failed"},
    bit_meaning{1, 0x02, "SDA selected", "sda_selected"},
    bit_meaning{1, 0x01, "XDA selected", "xda_selected", emv44},
    bit_meaning{2, 0x80, "ICC and terminal have different application versions",
                "different_application_versions"},
    bit_meaning{2, 0x40, "Expired application", "expired_application"},
    bit_meaning{2, 0x20, "Application not yet effective", "application_not_yet_effective"},
    bit_meaning{2, 0x10, "Requested service not allowed for card product",
                "service_not_allowed_for_card_product"},
    bit_meaning{2, 0x08, "New card", "new_card"},
    bit_meaning{2, 0x02, "Biometric performed and successful", "biometric_performed_and_successful",
                emv44},
    bit_meaning{2, 0x01, "Biometric template format not supported",
                "biometric_template_format_not_supported", emv44},
    bit_meaning{3, 0x80, "Cardholder verification was not successful",
                "cardholder_verification_was_not_successful"},
    bit_meaning{3, 0x40, "Unrecognised CVM", "unrecognised_cvm"},
    bit_meaning{3, 0x20, "PIN Try Limit exceeded", "pin_try_limit_exceeded"},
    bit_meaning{3, 0x10, "PIN entry required and PIN pad not present or not working",
                "pin_pad_not_present_or_not_working"},
    bit_meaning{3, 0x08, "PIN entry required, PIN pad present, but PIN was not entered",
                "pin_not_entered"},
    bit_meaning{3, 0x04, "Online PIN entered", "online_pin_entered"},
    bit_meaning{3, 0x02, "Biometric required but capture device not working",
                "biometric_capture_device_not_working", emv44},
    bit_meaning{3, 0x01, "Biometric required, device present, but biometric subtype entry bypassed",
                "biometric_subtype_entry_bypassed", emv44},
    bit_meaning{4, 0x80, "Transaction exceeds floor limit", "transaction_exceeds_floor_limit"},
    bit_meaning{4, 0x40, "Lower consecutive offline limit exceeded",
                "lower_consecutive_offline_limit_exceeded"},
    bit_meaning{4, 0x20, "Upper consecutive offline limit exceeded",
                "upper_consecutive_offline_limit_exceeded"},
    bit_meaning{4, 0x10, "Transaction selected randomly for online processing",
                "selected_randomly_for_online_processing"},
    bit_meaning{4, 0x08, "Merchant forced transaction online",
                "merchant_forced_transaction_online"},
    bit_meaning{4, 0x04, "Biometric try limit exceeded", "biometric_try_limit_exceeded", emv44},
    bit_meaning{4, 0x02, "A selected biometric type not supported",
                "selected_biometric_type_not_supported", emv44},
    bit_meaning{4, 0x01, "XDA signature verification failed", "xda_signature_verification_failed",
                emv44},
    bit_meaning{5, 0x80, "Default TDOL used", "default_tdol_used"},
    bit_meaning{5, 0x40, "Issuer authentication failed", "issuer_authentication_failed"},
    bit_meaning{5, 0x20, "Script processing failed before final GENERATE AC",
                "script_failed_before_final_generate_ac"},
    bit_meaning{5, 0x10, "Script processing failed after final GENERATE AC",
                "script_failed_after_final_generate_ac"},
    bit_meaning{5, 0x08, contactless_reserved, "reserved_for_contactless_b4"},
    bit_meaning{5, 0x04, contactless_reserved, "reserved_for_contactless_b3"},
    bit_meaning{5, 0x02, contactless_reserved, "reserved_for_contactless_b2"},
    bit_meaning{5, 0x01, contactless_reserved, "reserved_for_contactless_b1"},
};

// TVR byte 5 b4-b1 as C-2 reads them (relay resistance), and as an EMV 4.4 contact
// terminal does (b3, b2); the rest of the layout is the same.
constexpr auto tvr_with_byte5 = [](std::array<bit_meaning, 4> low) {
  std::array<bit_meaning, tvr_bits.size()> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i)
    rows[i] = tvr_bits[i];
  for (std::size_t i = 0; i < low.size(); ++i)
    rows[rows.size() - low.size() + i] = low[i];
  return rows;
};
constexpr auto tvr_c2_bits = tvr_with_byte5({
    bit_meaning{5, 0x08, "Relay resistance threshold exceeded",
                "relay_resistance_threshold_exceeded", kernel, c2},
    bit_meaning{5, 0x04, "Relay resistance time limits exceeded",
                "relay_resistance_time_limits_exceeded", kernel, c2},
    bit_meaning{5, 0x02, "Relay resistance performed (b2-b1 10)", "relay_resistance_performed",
                kernel, c2},
    bit_meaning{5, 0x01, "Relay resistance not performed (b2-b1 01)",
                "relay_resistance_not_performed", kernel, c2},
});
constexpr auto tvr_contact_bits = tvr_with_byte5({
    tvr_bits[tvr_bits.size() - 4],
    bit_meaning{5, 0x04, "CA ECC key missing", "ca_ecc_key_missing", emv44},
    bit_meaning{5, 0x02, "ECC key recovery failed", "ecc_key_recovery_failed", emv44},
    tvr_bits[tvr_bits.size() - 1],
});

constexpr std::array tsi_bits = {
    bit_meaning{1, 0x80, "Offline data authentication was performed",
                "offline_data_authentication_was_performed"},
    bit_meaning{1, 0x40, "Cardholder verification was performed",
                "cardholder_verification_was_performed"},
    bit_meaning{1, 0x20, "Card risk management was performed",
                "card_risk_management_was_performed"},
    bit_meaning{1, 0x10, "Issuer authentication was performed",
                "issuer_authentication_was_performed"},
    bit_meaning{1, 0x08, "Terminal risk management was performed",
                "terminal_risk_management_was_performed"},
    bit_meaning{1, 0x04, "Script processing was performed", "script_processing_was_performed"},
};

constexpr std::array terminal_capabilities_bits = {
    // Card data input.
    bit_meaning{1, 0x80, "Manual key entry", "manual_key_entry"},
    bit_meaning{1, 0x40, "Magnetic stripe", "magnetic_stripe"},
    bit_meaning{1, 0x20, "IC with contacts", "ic_with_contacts"},
    // CVM.
    bit_meaning{2, 0x80, "Plaintext PIN for ICC verification",
                "plaintext_pin_for_icc_verification"},
    bit_meaning{2, 0x40, "Enciphered PIN for online verification",
                "enciphered_pin_for_online_verification"},
    bit_meaning{2, 0x20, "Signature (paper)", "signature_paper"},
    bit_meaning{2, 0x10, "Enciphered PIN for offline verification",
                "enciphered_pin_for_offline_verification"},
    bit_meaning{2, 0x08, "No CVM required", "no_cvm_required"},
    bit_meaning{2, 0x04, "Online biometric", "online_biometric", emv44},
    bit_meaning{2, 0x02, "Offline biometric", "offline_biometric", emv44},
    bit_meaning{2, 0x01, "Enciphered PIN for offline verification, ECC",
                "enciphered_pin_for_offline_verification_ecc", emv44},
    // Security.
    bit_meaning{3, 0x80, "SDA", "sda"},
    bit_meaning{3, 0x40, "DDA", "dda"},
    bit_meaning{3, 0x20, "Card capture", "card_capture"},
    bit_meaning{3, 0x08, "CDA", "cda"},
    bit_meaning{3, 0x04, "XDA", "xda", emv44},
};

// "Code table N" is ISO/IEC 8859 part N.
constexpr std::array additional_capabilities_bits = {
    // Transaction type.
    bit_meaning{1, 0x80, "Cash", "cash"},
    bit_meaning{1, 0x40, "Goods", "goods"},
    bit_meaning{1, 0x20, "Services", "services"},
    bit_meaning{1, 0x10, "Cashback", "cashback"},
    bit_meaning{1, 0x08, "Inquiry", "inquiry"},
    bit_meaning{1, 0x04, "Transfer", "transfer"},
    bit_meaning{1, 0x02, "Payment", "payment"},
    bit_meaning{1, 0x01, "Administrative", "administrative"},
    bit_meaning{2, 0x80, "Cash deposit", "cash_deposit"},
    // Data input.
    bit_meaning{3, 0x80, "Numeric keys", "numeric_keys"},
    bit_meaning{3, 0x40, "Alphabetic and special character keys",
                "alphabetic_and_special_character_keys"},
    bit_meaning{3, 0x20, "Command keys", "command_keys"},
    bit_meaning{3, 0x10, "Function keys", "function_keys"},
    // Data output.
    bit_meaning{4, 0x80, "Print, attendant", "print_attendant"},
    bit_meaning{4, 0x40, "Print, cardholder", "print_cardholder"},
    bit_meaning{4, 0x20, "Display, attendant", "display_attendant"},
    bit_meaning{4, 0x10, "Display, cardholder", "display_cardholder"},
    bit_meaning{4, 0x02, "Code table 10", "code_table_10"},
    bit_meaning{4, 0x01, "Code table 9", "code_table_9"},
    bit_meaning{5, 0x80, "Code table 8", "code_table_8"},
    bit_meaning{5, 0x40, "Code table 7", "code_table_7"},
    bit_meaning{5, 0x20, "Code table 6", "code_table_6"},
    bit_meaning{5, 0x10, "Code table 5", "code_table_5"},
    bit_meaning{5, 0x08, "Code table 4", "code_table_4"},
    bit_meaning{5, 0x04, "Code table 3", "code_table_3"},
    bit_meaning{5, 0x02, "Code table 2", "code_table_2"},
    bit_meaning{5, 0x01, "Code table 1", "code_table_1"},
};

// Terminal Transaction Qualifiers: the Entry Point baseline, plus the bits single
// kernels give a meaning to.
constexpr std::array ttq_bits = {
    bit_meaning{1, 0x80, "Mag-stripe mode supported", "mag_stripe_mode_supported"},
    bit_meaning{1, 0x20, "EMV mode supported", "emv_mode_supported"},
    bit_meaning{1, 0x10, "EMV contact chip supported", "emv_contact_chip_supported"},
    bit_meaning{1, 0x08, "Offline-only reader", "offline_only_reader"},
    bit_meaning{1, 0x04, "Online PIN supported", "online_pin_supported"},
    bit_meaning{1, 0x02, "Signature supported", "signature_supported"},
    bit_meaning{1, 0x01, "Offline data authentication for online authorisations supported",
                "oda_for_online_authorisations_supported"},
    bit_meaning{2, 0x80, "Online cryptogram required", "online_cryptogram_required"},
    bit_meaning{2, 0x40, "CVM required", "cvm_required"},
    bit_meaning{2, 0x20, "(Contact chip) offline PIN supported",
                "contact_chip_offline_pin_supported"},
    bit_meaning{2, 0x08, "Fast mode supported", "fast_mode_supported", kernel, c6},
    bit_meaning{2, 0x04, "Transit terminal", "transit_terminal", kernel, c6},
    bit_meaning{3, 0x80, "Issuer Update Processing supported",
                "issuer_update_processing_supported"},
    bit_meaning{3, 0x40, "Consumer Device CVM supported", "consumer_device_cvm_supported"},
    bit_meaning{3, 0x20, "CDCVM for transit MCC supported", "cdcvm_for_transit_mcc_supported",
                kernel, c6},
    bit_meaning{3, 0x08, "CDCVM required", "cdcvm_required", kernel, c6},
    bit_meaning{4, 0x80, "fDDA v1.0 supported", "fdda_v1_0_supported", kernel, c7},
};

// Card Transaction Qualifiers.
constexpr std::array ctq_bits = {
    bit_meaning{1, 0x80, "Online PIN required", "online_pin_required"},
    bit_meaning{1, 0x40, "Signature required", "signature_required"},
    bit_meaning{1, 0x20,
                "Go online if offline data authentication fails and reader is online-capable",
                "go_online_if_oda_fails"},
    bit_meaning{1, 0x10,
                "Switch interface if offline data authentication fails and reader supports "
                "contact chip",
                "switch_interface_if_oda_fails"},
    bit_meaning{1, 0x08, "Go online if application expired", "go_online_if_application_expired"},
    bit_meaning{1, 0x04, "Switch interface for cash transactions",
                "switch_interface_for_cash_transactions"},
    bit_meaning{1, 0x02, "Switch interface for cashback transactions",
                "switch_interface_for_cashback_transactions"},
    bit_meaning{1, 0x01, "Not valid for contactless ATM transactions",
                "not_valid_for_contactless_atm_transactions"},
    bit_meaning{2, 0x80, "Consumer Device CVM performed", "consumer_device_cvm_performed"},
    bit_meaning{2, 0x40, "Card supports Issuer Update Processing at the POS",
                "issuer_update_processing_at_the_pos"},
};

// Every table holds single bits within its coding's bytes, in the order they are
// read: byte 1 first, b8 to b1. That order lets one pass match bits to meanings.
constexpr bool well_formed(bit_table table, std::uint8_t bytes) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    const bit_meaning& m = table[i];
    if (m.byte < 1 || m.byte > bytes || m.mask == 0 || (m.mask & (m.mask - 1)) != 0) return false;
    if (i > 0 && (table[i - 1].byte > m.byte ||
                  (table[i - 1].byte == m.byte && table[i - 1].mask <= m.mask)))
      return false;
  }
  return true;
}
static_assert(well_formed(aip_bits, 1));
static_assert(well_formed(auc_bits, 2));
static_assert(well_formed(tvr_bits, 5));
static_assert(well_formed(tvr_c2_bits, 5));
static_assert(well_formed(tvr_contact_bits, 5));
static_assert(well_formed(tsi_bits, 2));
static_assert(well_formed(terminal_capabilities_bits, 3));
static_assert(well_formed(additional_capabilities_bits, 5));
static_assert(well_formed(ttq_bits, 4));
static_assert(well_formed(ctq_bits, 2));

// The longest bit field has 5 bytes, so byte and bit numbers are single digits.
constexpr std::size_t max_field_bytes = 5;
constexpr std::size_t max_field_bits = 8 * max_field_bytes;

// What one set bit emits, worked out when compiled for every bit of a table's bytes,
// in reading order (byte 1 b8 first): a set bit then costs a look-up, not a search.
struct bit_item {
  std::string_view label;  // "byte 1 b8"
  std::string_view text;   // the meaning and its note, or "RFU bit set: byte 1 b8"
  std::string_view id;     // empty for an RFU bit
  explain_kind kind = explain_kind::rfu;
};

constexpr std::size_t bit_label_size = 9;  // "byte N bM"
constexpr std::string_view rfu_prefix = "RFU bit set: ";
constexpr std::size_t rfu_text_size = rfu_prefix.size() + bit_label_size;

// Every "RFU bit set: byte N bM", one after another; a label is the end of its text.
constexpr auto rfu_texts = [] {
  std::array<char, max_field_bits * rfu_text_size> chars{};
  for (std::size_t i = 0; i < max_field_bits; ++i) {
    char* at = chars.data() + i * rfu_text_size;
    for (const char c : rfu_prefix)
      *at++ = c;
    for (const char c : std::string_view("byte "))
      *at++ = c;
    *at++ = static_cast<char>('1' + i / 8);
    *at++ = ' ';
    *at++ = 'b';
    *at = static_cast<char>('8' - i % 8);
  }
  return chars;
}();

// Every "byte N bM: ", a text line's label and separator.
constexpr std::size_t bit_label_colon_size = bit_label_size + 2;
constexpr auto bit_label_colons = [] {
  std::array<char, max_field_bits * bit_label_colon_size> chars{};
  for (std::size_t i = 0; i < max_field_bits; ++i) {
    const char* label = rfu_texts.data() + i * rfu_text_size + rfu_prefix.size();
    char* at = chars.data() + i * bit_label_colon_size;
    for (std::size_t j = 0; j < bit_label_size; ++j)
      *at++ = label[j];
    *at++ = ':';
    *at = ' ';
  }
  return chars;
}();

// A kernel-specific bit says which kernel defines it when the kernel is known.
constexpr std::string_view note_text(bit_note note, emv_kernel known = emv_kernel::unknown) {
  constexpr std::array<std::string_view, 9> kernel_notes = {
      " (kernel-specific)", " (C-2)", " (C-3)", " (C-4)", " (C-5)", " (C-6)", " (C-7)", "",
      " (contact)"};
  switch (note) {
    case bit_note::emv44:
      return " (EMV 4.4)";
    case bit_note::kernel:
      return kernel_notes[static_cast<std::size_t>(known)];
    default:
      return {};
  }
}

// Whether a row reads under `known`: a kernel-specific row only under its kernel, or
// when no kernel is known.
constexpr bool reads_under(const bit_meaning& m, emv_kernel known) {
  return m.note != bit_note::kernel || known == emv_kernel::unknown || known == m.defined_by;
}

// The items of one table as read under kernel `known`; the noted meanings' texts are
// joined with their notes here, and a kernel-specific bit of another kernel stays RFU.
template <const auto& table, emv_kernel known = emv_kernel::unknown>
struct bit_items {
  static constexpr std::size_t noted_size = [] {
    std::size_t n = 0;
    for (const bit_meaning& m : table)
      if (m.note != bit_note::none && reads_under(m, known))
        n += m.text.size() + note_text(m.note, known).size();
    return n;
  }();
  static constexpr std::array<char, noted_size + 1> noted = [] {
    std::array<char, noted_size + 1> chars{};
    std::size_t at = 0;
    for (const bit_meaning& m : table) {
      if (m.note == bit_note::none || !reads_under(m, known)) continue;
      for (const char c : m.text)
        chars[at++] = c;
      for (const char c : note_text(m.note, known))
        chars[at++] = c;
    }
    return chars;
  }();
  static constexpr std::array<bit_item, max_field_bits> items = [] {
    std::array<bit_item, max_field_bits> all{};
    for (std::size_t i = 0; i < max_field_bits; ++i) {
      const char* rfu = rfu_texts.data() + i * rfu_text_size;
      all[i].label = std::string_view(rfu + rfu_prefix.size(), bit_label_size);
      all[i].text = std::string_view(rfu, rfu_text_size);
    }
    std::size_t at = 0;
    for (const bit_meaning& m : table) {
      if (!reads_under(m, known)) continue;
      bit_item& item = all[8 * (m.byte - 1U) + static_cast<std::size_t>(std::countl_zero(m.mask))];
      item.kind = explain_kind::bit;
      item.id = m.id;
      if (m.note == bit_note::none) {
        item.text = m.text;
        continue;
      }
      const std::size_t size = m.text.size() + note_text(m.note, known).size();
      item.text = std::string_view(noted.data() + at, size);
      at += size;
    }
    return all;
  }();
};

using bit_item_table = std::span<const bit_item, max_field_bits>;

// A table's items under each kernel, by the kernel's number: one load picks them.
template <const auto& table>
constexpr std::array<const bit_item*, 9> items_by_kernel = {
    bit_items<table>::items.data(),         bit_items<table, c2>::items.data(),
    bit_items<table, c3>::items.data(),     bit_items<table, c4>::items.data(),
    bit_items<table, c5>::items.data(),     bit_items<table, c6>::items.data(),
    bit_items<table, c7>::items.data(),     bit_items<table, domestic>::items.data(),
    bit_items<table, contact>::items.data()};

template <const auto& table>
bit_item_table items_under(emv_kernel known) {
  return bit_item_table(items_by_kernel<table>[static_cast<std::size_t>(known)], max_field_bits);
}

// The TVR layout (95, the Issuer and Terminal Action Codes) under the context's
// kernel: byte 5 b4-b1 read as C-2 or as an EMV 4.4 contact terminal reads them.
bit_item_table tvr_items(const explain_context& c, bytes v, explain_output out) {
  if (v.size() == 5 && (v[4] & 0x0F) != 0) emit_kernel_note(out, c);
  if (c.kernel == c2 && c.environment != payment_environment::contact)
    return bit_items<tvr_c2_bits, c2>::items;
  if (c.kernel == contact) return bit_items<tvr_contact_bits, contact>::items;
  return bit_items<tvr_bits>::items;
}

// The set bits of `v` (at most max_field_bytes) as text lines: all reserved at once,
// then written in place.
void write_bit_lines(bytes v, bit_item_table items, const explain_text_lines& lines) {
  const std::size_t n = v.size();
  // Text lines: the field's lines reserved at once and written in place, each a move
  // for the indent, two for "byte N bM: " and the text's.
  const std::size_t indent = lines.indent;
  const std::size_t head = indent + 2;
  std::size_t size = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (unsigned bits = v[i]; bits != 0; bits &= bits - 1)
      size += head + bit_label_colon_size + 1 +
              items[8 * i + static_cast<std::size_t>(7 - std::countr_zero(bits))].text.size();
  char* at = lines.sink->extend(size);
  // A bit's line is head + 12 characters at least: past a head of 4, one move for the
  // head stays in its line.
  const bool one_move = head >= 4 && head <= item_head_move;
  const char* const head_chars = item_heads.data() + (max_item_indent - indent);
  for (std::size_t i = 0; i < n; ++i)
    for (unsigned bits = v[i]; bits != 0;) {
      const auto high = static_cast<std::size_t>(std::countl_zero(static_cast<std::uint8_t>(bits)));
      bits &= ~(0x80U >> high);
      if (one_move)
        std::memcpy(at, head_chars, item_head_move);
      else
        put_item_head(at, indent);
      at += head;
      const char* label = bit_label_colons.data() + (8 * i + high) * bit_label_colon_size;
      std::memcpy(at, label, 8);
      std::memcpy(at + bit_label_colon_size - 8, label + bit_label_colon_size - 8, 8);
      at = put_item_text(at + bit_label_colon_size, items[8 * i + high].text);
    }
}

// One item per set bit of `v` (at most max_field_bytes), whose first byte is byte 1
// of the table.
void explain_set_bits(bytes v, bit_item_table items, explain_output out) {
  if (std::all_of(v.begin(), v.end(), [](std::uint8_t b) { return b == 0; })) {
    emit(out, explain_kind::none, {}, "no bit set");
    return;
  }
  const std::size_t n = std::min(v.size(), max_field_bytes);
  if (out.lines != nullptr) {
    write_bit_lines(v.first(n), items, *out.lines);
    return;
  }
  // One set of facts for all the items: only byte, bit and id change.
  explain_facts facts;
  for (std::size_t i = 0; i < n; ++i) {
    // Highest bit first: b8 to b1, clear bits never looked at.
    for (unsigned bits = v[i]; bits != 0;) {
      const int high = std::countl_zero(static_cast<std::uint8_t>(bits));
      bits &= ~(0x80U >> high);
      const bit_item& item = items[8 * i + static_cast<std::size_t>(high)];
      facts.byte = static_cast<std::uint8_t>(i + 1);
      facts.bit = static_cast<std::uint8_t>(8 - high);
      facts.id = item.id;
      emit(out, item.kind, item.label, item.text, 0, facts);
    }
  }
}

// The common shape: a fixed length, then every byte read from one table.
void explain_fixed(bytes v, std::size_t length, std::string_view name, std::string_view expected,
                   bit_item_table items, explain_output out) {
  if (v.size() != length) {
    wrong_length(out, name, expected, v.size());
    return;
  }
  explain_set_bits(v, items, out);
}

// Cryptogram Information Data fields.
constexpr std::array<std::string_view, 4> cryptogram_types = {
    "AAC (decline)", "TC (approve offline)", "ARQC (go online)", "RFU (11)"};
constexpr std::array<std::string_view, 4> cryptogram_codes = {"AAC", "TC", "ARQC", "RFU"};
constexpr std::array<std::string_view, 8> cid_reasons = {"no information given",
                                                         "service not allowed",
                                                         "PIN Try Limit exceeded",
                                                         "issuer authentication failed",
                                                         "RFU (100)",
                                                         "RFU (101)",
                                                         "RFU (110)",
                                                         "RFU (111)"};

}  // namespace

void explain_aip(bytes v, const explain_context& c, explain_output out) {
  if (v.size() != 2) {
    wrong_length(out, "AIP", "2 bytes", v.size());
    return;
  }
  if (v[0] == 0 && v[1] == 0) emit(out, explain_kind::none, {}, "no bit set");
  if (v[0] == 0) {
    emit(out, explain_kind::meaning, {},
         "no offline data authentication, no cardholder verification, no issuer "
         "authentication");
  } else {
    if ((v[0] & 0x02) != 0) emit_kernel_note(out, c);
    explain_set_bits(v.first(1), items_under<aip_bits>(c.kernel), out);
  }
  if (v[0] == 0 && v[1] == 0) return;
  // The kernels disagree on byte 2, and the AID that says which kernel is not here.
  item_text<24> text;
  text.append("kernel-specific: ").append_hex(v[1]);
  emit(out, explain_kind::field, "byte 2", text.view());
}

void explain_auc(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 2, "AUC", "2 bytes", bit_items<auc_bits>::items, out);
}

void explain_tvr(bytes v, const explain_context& c, explain_output out) {
  explain_fixed(v, 5, "TVR", "5 bytes", tvr_items(c, v, out), out);
}

// The Issuer Action Codes have the TVR's layout, and their own names.
void explain_iac_default(bytes v, const explain_context& c, explain_output out) {
  explain_fixed(v, 5, "IAC - Default", "5 bytes", tvr_items(c, v, out), out);
}

void explain_iac_denial(bytes v, const explain_context& c, explain_output out) {
  explain_fixed(v, 5, "IAC - Denial", "5 bytes", tvr_items(c, v, out), out);
}

void explain_iac_online(bytes v, const explain_context& c, explain_output out) {
  explain_fixed(v, 5, "IAC - Online", "5 bytes", tvr_items(c, v, out), out);
}

void explain_tsi(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 2, "TSI", "2 bytes", bit_items<tsi_bits>::items, out);
}

void explain_cid(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 1) {
    wrong_length(out, "CID", "1 byte", v.size());
    return;
  }
  const std::uint8_t cid = v[0];
  explain_facts type;
  type.cryptogram = cryptogram_codes[cid >> 6];
  type.has_number = true;
  type.number = cid >> 6;
  emit(out, explain_kind::field, "cryptogram", cryptogram_types[cid >> 6], 0, type);
  // EMV leaves b6-b5 to the payment systems: shown only when used.
  if ((cid & 0x30) != 0) {
    item_text<48> text;
    text.append("payment-system-specific: ")
        .append(((cid & 0x20) != 0) ? "1" : "0")
        .append(((cid & 0x10) != 0) ? "1" : "0");
    emit(out, explain_kind::field, "b6-b5", text.view());
  }
  emit(out, explain_kind::field, "advice",
       (cid & 0x08) != 0 ? "advice required" : "no advice required");
  emit(out, explain_kind::field, "reason", cid_reasons[cid & 0x07]);
}

void explain_terminal_capabilities(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 3, "Terminal Capabilities", "3 bytes",
                bit_items<terminal_capabilities_bits>::items, out);
}

void explain_additional_capabilities(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 5, "Additional Terminal Capabilities", "5 bytes",
                bit_items<additional_capabilities_bits>::items, out);
}

void explain_ttq(bytes v, const explain_context& c, explain_output out) {
  explain_fixed(v, 4, "TTQ", "4 bytes", items_under<ttq_bits>(c.kernel), out);
}

// PUNATC(Track2), the C-2 bitmap that marks the digit positions of the Track 2
// discretionary data which take the unpredictable number and the ATC.
void explain_punatc(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 2) {
    wrong_length(out, "PUNATC(Track2)", "2 bytes", v.size());
    return;
  }
  const unsigned marked = static_cast<unsigned>(std::popcount(v[0]) + std::popcount(v[1]));
  if (marked == 0) {
    emit(out, explain_kind::none, {}, "no bit set");
    return;
  }
  item_text<80> text;
  text.append_uint(marked).append(marked == 1 ? " digit position" : " digit positions");
  text.append(" for the unpredictable number and ATC");
  explain_facts count;
  count.has_number = true;
  count.number = marked;
  emit(out, explain_kind::meaning, {}, text.view(), 0, count);
}

// The CTQ is C-3's and C-7's: another kernel's AID leaves its bits unread.
void explain_ctq(bytes v, const explain_context& c, explain_output out) {
  if (c.kernel != unknown && c.kernel != c3 && c.kernel != c7) {
    emit_kernel_note(out, c);
    item_text<48> text;
    text.append("not defined under ").append(kernel_name(c.kernel)).append(" (C-3 and C-7)");
    emit(out, explain_kind::meaning, {}, text.view());
    return;
  }
  explain_fixed(v, 2, "CTQ", "2 bytes", bit_items<ctq_bits>::items, out);
}

}  // namespace emvtlv::explain
