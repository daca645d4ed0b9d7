// Issuer Application Data (9F10): its layout belongs to the payment system, so it is
// chosen by the AID's payment system first and by byte patterns second. With no AID
// every layout whose pattern matches is read, each labelled; a value no public layout
// fits is left as its hex. Each reading is a "reading" item with its fields below it
// and the CVR's bits below the CVR.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <string_view>

#include "explain/explainers.h"
#include "explain/item_text.h"

namespace emvtlv::explain {
namespace {

enum class iad_layout : std::uint8_t { common_core_a, visa_013, visa_24, mchip };

// A single CVR bit.
struct cvr_bit {
  std::uint8_t byte;  // the CVR's own byte number
  std::uint8_t mask;
  std::string_view text;
  std::string_view id;
};

// A group of CVR bits read as one number: an AC type, a counter's nibble, a code.
enum class group_kind : std::uint8_t { ac_second, ac_first, count, code };

struct cvr_group {
  std::uint8_t byte;
  std::uint8_t mask;  // contiguous bits
  group_kind kind;
  std::string_view name;  // "AC in 1st GENERATE AC", "PIN try counter (low nibble)"
  std::string_view id;
  std::span<const std::string_view> codes = {};  // kind code: the names by value
};

constexpr std::array<std::string_view, 4> second_ac = {"AAC", "TC", "not requested", "RFU (11)"};
constexpr std::array<std::string_view, 4> first_ac = {"AAC", "TC", "ARQC", "RFU (11)"};
constexpr std::array<std::string_view, 4> second_ac_codes = {"AAC", "TC", "", "RFU"};
constexpr std::array<std::string_view, 4> first_ac_codes = {"AAC", "TC", "ARQC", "RFU"};

// EMV common core format A.
constexpr std::array core_groups = {
    cvr_group{1, 0xC0, group_kind::ac_second, "AC in 2nd GENERATE AC", "second_ac"},
    cvr_group{1, 0x30, group_kind::ac_first, "AC in 1st GENERATE AC", "first_ac"},
    cvr_group{2, 0xF0, group_kind::count, "PIN try counter (low nibble)", "pin_try_counter"},
    cvr_group{4, 0xF0, group_kind::count, "issuer script commands with secure messaging processed",
              "script_command_count"},
};
constexpr std::array core_bits = {
    cvr_bit{1, 0x08, "CDA performed", "cda_performed"},
    cvr_bit{1, 0x04, "offline DDA performed", "offline_dda_performed"},
    cvr_bit{1, 0x02, "issuer authentication not performed", "issuer_authentication_not_performed"},
    cvr_bit{1, 0x01, "issuer authentication failed", "issuer_authentication_failed"},
    cvr_bit{2, 0x08, "offline PIN verification performed", "offline_pin_verification_performed"},
    cvr_bit{2, 0x04, "offline PIN verification performed and not successful",
            "offline_pin_verification_not_successful"},
    cvr_bit{2, 0x02, "PIN try limit exceeded", "pin_try_limit_exceeded"},
    cvr_bit{2, 0x01, "last online transaction not completed",
            "last_online_transaction_not_completed"},
    cvr_bit{3, 0x80, "lower offline transaction count limit exceeded",
            "lower_offline_count_limit_exceeded"},
    cvr_bit{3, 0x40, "upper offline transaction count limit exceeded",
            "upper_offline_count_limit_exceeded"},
    cvr_bit{3, 0x20, "lower cumulative offline amount limit exceeded",
            "lower_cumulative_offline_amount_limit_exceeded"},
    cvr_bit{3, 0x10, "upper cumulative offline amount limit exceeded",
            "upper_cumulative_offline_amount_limit_exceeded"},
    cvr_bit{3, 0x08, "issuer-discretionary bit 1", "issuer_discretionary_1"},
    cvr_bit{3, 0x04, "issuer-discretionary bit 2", "issuer_discretionary_2"},
    cvr_bit{3, 0x02, "issuer-discretionary bit 3", "issuer_discretionary_3"},
    cvr_bit{3, 0x01, "issuer-discretionary bit 4", "issuer_discretionary_4"},
    cvr_bit{4, 0x08, "issuer script processing failed", "issuer_script_processing_failed"},
    cvr_bit{4, 0x04, "offline data authentication failed on a previous transaction",
            "oda_failed_on_previous_transaction"},
    cvr_bit{4, 0x02, "go online on next transaction was set", "go_online_on_next_transaction_set"},
    cvr_bit{4, 0x01, "unable to go online", "unable_to_go_online"},
};

// Visa: byte 1 is the CVR's length in format 0/1/3, two codes in format 2/4.
constexpr std::array<std::string_view, 16> cdcvm_entities = {
    "none",
    "Visa mobile payment application",
    "mobile gateway",
    "co-residing secure-element application",
    "TEE application",
    "mobile application",
    "terminal",
    "verified in the cloud",
    "mobile device OS",
    "RFU (9)",
    "RFU (10)",
    "RFU (11)",
    "RFU (12)",
    "RFU (13)",
    "RFU (14)",
    "RFU (15)"};
constexpr std::array<std::string_view, 16> cdcvm_types = {
    "none",     "passcode",  "fingerprint", "device pattern", "facial",   "iris",
    "voice",    "palm",      "RFU (8)",     "RFU (9)",        "RFU (10)", "RFU (11)",
    "RFU (12)", "signature", "online PIN",  "RFU (15)"};

constexpr std::array visa_groups = {
    cvr_group{1, 0xF0, group_kind::code, "CDCVM entity", "cdcvm_entity", cdcvm_entities},
    cvr_group{1, 0x0F, group_kind::code, "CDCVM type", "cdcvm_type", cdcvm_types},
    cvr_group{2, 0xC0, group_kind::ac_second, "AC in 2nd GENERATE AC", "second_ac"},
    cvr_group{2, 0x30, group_kind::ac_first, "AC in 1st GENERATE AC (contactless: GPO)",
              "first_ac"},
    cvr_group{4, 0xF0, group_kind::count, "issuer script commands processed",
              "script_command_count"},
};
constexpr std::array visa_013_byte2 = {
    cvr_bit{2, 0x08, "issuer authentication performed and failed",
            "issuer_authentication_performed_and_failed"},
    cvr_bit{2, 0x04, "offline PIN verification performed", "offline_pin_verification_performed"},
    cvr_bit{2, 0x02, "offline PIN verification failed", "offline_pin_verification_failed"},
    cvr_bit{2, 0x01, "unable to go online", "unable_to_go_online"},
};
constexpr std::array visa_24_byte2 = {
    cvr_bit{2, 0x08, "issuer authentication performed and failed",
            "issuer_authentication_performed_and_failed"},
    cvr_bit{2, 0x04, "CDCVM performed", "cdcvm_performed"},
    cvr_bit{2, 0x01, "unable to go online", "unable_to_go_online"},
};
constexpr std::array visa_bits = {
    cvr_bit{3, 0x80, "last online transaction not completed",
            "last_online_transaction_not_completed"},
    cvr_bit{3, 0x40, "PIN try limit exceeded", "pin_try_limit_exceeded"},
    cvr_bit{3, 0x20, "exceeded velocity checking counters", "velocity_checking_counters_exceeded"},
    cvr_bit{3, 0x10, "new card", "new_card"},
    cvr_bit{3, 0x08, "issuer authentication failure on last online transaction",
            "issuer_authentication_failed_on_last_online"},
    cvr_bit{3, 0x04, "issuer authentication not performed after online authorisation",
            "issuer_authentication_not_performed_after_online"},
    cvr_bit{3, 0x02, "application blocked because PIN try limit exceeded",
            "application_blocked_pin_try_limit_exceeded"},
    cvr_bit{3, 0x01, "offline SDA failed on last transaction and transaction declined offline",
            "sda_failed_on_last_transaction"},
    cvr_bit{4, 0x08, "issuer script processing failed", "issuer_script_processing_failed"},
    cvr_bit{4, 0x04, "offline DDA failed on last transaction and declined offline",
            "dda_failed_on_last_transaction"},
    cvr_bit{4, 0x02, "offline DDA performed", "offline_dda_performed"},
    cvr_bit{4, 0x01, "PIN verification command not received for a PIN-expecting card",
            "pin_verify_command_not_received"},
    cvr_bit{5, 0x80, "device not in debug mode", "device_not_in_debug_mode"},
    cvr_bit{5, 0x40, "device not rooted", "device_not_rooted"},
    cvr_bit{5, 0x20, "application not hooked", "application_not_hooked"},
    cvr_bit{5, 0x10, "application integrity", "application_integrity"},
    cvr_bit{5, 0x08, "device connectivity", "device_connectivity"},
    cvr_bit{5, 0x04, "device genuine", "device_genuine"},
    cvr_bit{5, 0x02, "CDCVM successfully performed", "cdcvm_successfully_performed"},
    cvr_bit{5, 0x01, "secure messaging uses EMV session-key derivation",
            "secure_messaging_emv_session_keys"},
};

// Mastercard M/Chip 4 and M/Chip Advance.
constexpr std::array mchip_groups = {
    cvr_group{1, 0xC0, group_kind::ac_second, "AC in 2nd GENERATE AC", "second_ac"},
    cvr_group{1, 0x30, group_kind::ac_first, "AC in 1st GENERATE AC", "first_ac"},
    cvr_group{3, 0xF0, group_kind::count, "script counter (low nibble)", "script_command_count"},
    cvr_group{3, 0x0F, group_kind::count, "PIN try counter (low nibble)", "pin_try_counter"},
};
constexpr std::array mchip_bits = {
    cvr_bit{1, 0x08, "date check failed", "date_check_failed"},
    cvr_bit{1, 0x04, "offline PIN verification performed", "offline_pin_verification_performed"},
    cvr_bit{1, 0x02, "offline encrypted PIN verification performed",
            "offline_encrypted_pin_verification_performed"},
    cvr_bit{1, 0x01, "offline PIN verification successful", "offline_pin_verification_successful"},
    cvr_bit{2, 0x80, "DDA returned", "dda_returned"},
    cvr_bit{2, 0x40, "CDA returned in 1st GENERATE AC", "cda_returned_in_first_ac"},
    cvr_bit{2, 0x20, "CDA returned in 2nd GENERATE AC", "cda_returned_in_second_ac"},
    cvr_bit{2, 0x10, "issuer authentication performed", "issuer_authentication_performed"},
    cvr_bit{2, 0x08, "CIAC-Default skipped on CAT3", "ciac_default_skipped_on_cat3"},
    cvr_bit{2, 0x04, "offline change PIN result successful", "offline_change_pin_successful"},
    cvr_bit{2, 0x02, "issuer discretionary", "issuer_discretionary_b2"},
    cvr_bit{2, 0x01, "issuer discretionary", "issuer_discretionary_b1"},
    cvr_bit{4, 0x80, "last online transaction not completed",
            "last_online_transaction_not_completed"},
    cvr_bit{4, 0x40, "unable to go online", "unable_to_go_online"},
    cvr_bit{4, 0x20, "offline PIN verification not performed",
            "offline_pin_verification_not_performed"},
    cvr_bit{4, 0x10, "offline PIN verification failed", "offline_pin_verification_failed"},
    cvr_bit{4, 0x08, "PIN try limit exceeded", "pin_try_limit_exceeded"},
    cvr_bit{4, 0x04, "international transaction", "international_transaction"},
    cvr_bit{4, 0x02, "domestic transaction", "domestic_transaction"},
    cvr_bit{4, 0x01, "terminal erroneously considers offline PIN OK",
            "terminal_erroneously_considers_offline_pin_ok"},
    cvr_bit{5, 0x08, "go online on next transaction was set", "go_online_on_next_transaction_set"},
    cvr_bit{5, 0x04, "issuer authentication failed", "issuer_authentication_failed"},
    cvr_bit{5, 0x02, "script received", "script_received"},
    cvr_bit{5, 0x01, "script failed", "script_failed"},
    cvr_bit{6, 0x02, "match found in additional check table", "additional_check_table_match"},
    cvr_bit{6, 0x01, "no match found in additional check table", "additional_check_table_no_match"},
};
// Byte 5 b8-b5 and byte 6 b8-b3 differ by product; an 18- or 26-byte value may be either.
constexpr std::array mchip_either_bits = {
    cvr_bit{5, 0x80,
            "lower consecutive offline limit exceeded (M/Chip 4) / counter 1 lower limit "
            "exceeded (M/Chip Advance)",
            "lower_consecutive_offline_limit_exceeded"},
    cvr_bit{5, 0x40,
            "upper consecutive offline limit exceeded (M/Chip 4) / counter 1 upper limit "
            "exceeded (M/Chip Advance)",
            "upper_consecutive_offline_limit_exceeded"},
    cvr_bit{5, 0x20,
            "lower cumulative offline limit exceeded (M/Chip 4) / accumulator 1 lower limit "
            "exceeded (M/Chip Advance)",
            "lower_cumulative_offline_limit_exceeded"},
    cvr_bit{5, 0x10,
            "upper cumulative offline limit exceeded (M/Chip 4) / accumulator 1 upper limit "
            "exceeded (M/Chip Advance)",
            "upper_cumulative_offline_limit_exceeded"},
    cvr_bit{6, 0x80, "counter 2 lower limit exceeded (M/Chip Advance)",
            "counter_2_lower_limit_exceeded"},
    cvr_bit{6, 0x40, "counter 2 upper limit exceeded (M/Chip Advance)",
            "counter_2_upper_limit_exceeded"},
    cvr_bit{6, 0x20, "accumulator 2 lower limit exceeded (M/Chip Advance)",
            "accumulator_2_lower_limit_exceeded"},
    cvr_bit{6, 0x10, "accumulator 2 upper limit exceeded (M/Chip Advance)",
            "accumulator_2_upper_limit_exceeded"},
    cvr_bit{6, 0x08, "MTA limit exceeded (M/Chip Advance)", "mta_limit_exceeded"},
    cvr_bit{6, 0x04, "number of days offline limit exceeded (M/Chip Advance)",
            "days_offline_limit_exceeded"},
};
constexpr std::array mchip_advance_bits = {
    cvr_bit{5, 0x80, "counter 1 lower limit exceeded", "counter_1_lower_limit_exceeded"},
    cvr_bit{5, 0x40, "counter 1 upper limit exceeded", "counter_1_upper_limit_exceeded"},
    cvr_bit{5, 0x20, "accumulator 1 lower limit exceeded", "accumulator_1_lower_limit_exceeded"},
    cvr_bit{5, 0x10, "accumulator 1 upper limit exceeded", "accumulator_1_upper_limit_exceeded"},
    cvr_bit{6, 0x80, "counter 2 lower limit exceeded", "counter_2_lower_limit_exceeded"},
    cvr_bit{6, 0x40, "counter 2 upper limit exceeded", "counter_2_upper_limit_exceeded"},
    cvr_bit{6, 0x20, "accumulator 2 lower limit exceeded", "accumulator_2_lower_limit_exceeded"},
    cvr_bit{6, 0x10, "accumulator 2 upper limit exceeded", "accumulator_2_upper_limit_exceeded"},
    cvr_bit{6, 0x08, "MTA limit exceeded", "mta_limit_exceeded"},
    cvr_bit{6, 0x04, "number of days offline limit exceeded", "days_offline_limit_exceeded"},
};

using bit_rows = std::span<const cvr_bit>;

const cvr_bit* find_bit(std::uint8_t byte, std::uint8_t mask, bit_rows first, bit_rows second) {
  for (const bit_rows rows : {first, second})
    for (const cvr_bit& row : rows)
      if (row.byte == byte && row.mask == mask) return &row;
  return nullptr;
}

void emit_group(const cvr_group& group, std::uint8_t byte_value, explain_output out) {
  const auto shift = static_cast<unsigned>(std::countr_zero(group.mask));
  const unsigned value = static_cast<unsigned>(byte_value & group.mask) >> shift;
  const auto high = 8U - static_cast<unsigned>(std::countl_zero(group.mask));
  item_text<16> label;
  label.append("byte ").append_uint(group.byte).append(" b").append_uint(high);
  label.append("-b").append_uint(shift + 1);
  item_text<96> text;
  text.append(group.name).append(": ");
  explain_facts facts;
  facts.id = group.id;
  facts.has_number = true;
  facts.number = value;
  switch (group.kind) {
    case group_kind::ac_second:
      text.append(second_ac[value & 3]);
      facts.cryptogram = second_ac_codes[value & 3];
      break;
    case group_kind::ac_first:
      text.append(first_ac[value & 3]);
      facts.cryptogram = first_ac_codes[value & 3];
      break;
    case group_kind::count:
      text.append_uint(value);
      break;
    case group_kind::code:
      text.append(value < group.codes.size() ? group.codes[value] : std::string_view("RFU"));
      break;
  }
  emit(out, explain_kind::field, label.view(), text.view(), 2, facts);
}

// The CVR as hex, then its groups and set bits byte by byte, b8 to b1, from CVR byte
// `first` (1-based) on: Visa's format 0/1/3 holds its length in byte 1. A set bit no
// row names is RFU.
void emit_cvr(bytes cvr, std::size_t first, std::span<const cvr_group> groups, bit_rows bits,
              bit_rows more, explain_output out) {
  item_text<24> hex;
  hex.append_hex(cvr);
  emit(out, explain_kind::field, "CVR", hex.view(), 1);
  bool any = false;
  for (std::size_t i = first - 1; i < cvr.size(); ++i) {
    const auto number = static_cast<std::uint8_t>(i + 1);
    for (unsigned bit = 8; bit >= 1; --bit) {
      const auto mask = static_cast<std::uint8_t>(1U << (bit - 1));
      const cvr_group* group = nullptr;
      for (const cvr_group& g : groups)
        if (g.byte == number && (g.mask & mask) != 0) group = &g;
      if (group != nullptr) {
        // A group is read once, at its highest bit.
        if (static_cast<unsigned>(std::countl_zero(group->mask)) == 8 - bit) {
          emit_group(*group, cvr[i], out);
          any = true;
        }
        continue;
      }
      if ((cvr[i] & mask) == 0) continue;
      any = true;
      const cvr_bit* row = find_bit(number, mask, bits, more);
      emit_set_bit(out, number, bit, row != nullptr ? row->text : std::string_view(), {},
                   row != nullptr ? row->id : std::string_view(), 2);
    }
  }
  if (!any) emit(out, explain_kind::none, {}, "no bit set", 2);
}

void emit_byte_field(explain_output out, std::string_view label, std::string_view id,
                     std::uint8_t value) {
  item_text<2> text;
  text.append_hex(value);
  emit_numbered(out, label, id, value, text.view(), 1);
}

// Issuer discretionary data: its length, and a length byte that does not match.
void emit_idd(explain_output out, std::size_t length, std::string_view option) {
  item_text<48> text;
  text.append_uint(length).append(length == 1 ? " byte" : " bytes").append(option);
  emit_numbered(out, "IDD", "idd", length, text.view(), 1);
}

bool matches(iad_layout layout, bytes v) {
  switch (layout) {
    case iad_layout::common_core_a:
      return v.size() == 32 && v[0] == 0x0F && v[16] == 0x0F && (v[1] >> 4) == 0xA;
    case iad_layout::visa_013: {
      if (v.size() < 7 || v[0] != 0x06 || v[3] != 0x03) return false;
      const unsigned format = v[2] >> 4;
      return format == 0 || format == 1 || format == 3;
    }
    case iad_layout::visa_24:
      return v.size() == 32 && v[0] == 0x1F && ((v[1] >> 4) == 2 || (v[1] >> 4) == 4) &&
             (v[8] >> 4) == 0;
    case iad_layout::mchip:
      return (v[1] >> 4) == 1 && (v[1] & 0x08) == 0 &&
             (v.size() == 18 || v.size() == 20 || v.size() == 26 || v.size() == 28);
  }
  return false;
}

struct visa_cvn {
  std::uint8_t cvn;
  std::string_view name;
  std::string_view implies;
};

constexpr std::array visa_cvns = {
    visa_cvn{0x0A, "CVN 10", "original contact VIS; AC input ends with the 4-byte CVR"},
    visa_cvn{0x0C, "CVN 12", "issuer proprietary"},
    visa_cvn{0x11, "CVN 17", "original contactless (qVSDC)"},
    visa_cvn{0x12, "CVN 18", "EMV common session key; AC input ends with the whole 9F10"},
    visa_cvn{0x22, "CVN '22'", "VIS 1.6"},
    visa_cvn{0x2C, "CVN '2C'", "proprietary"},
    visa_cvn{0x43, "CVN '43'", "cloud-based (token) payments"},
};

// Visa names format 0/1/3 CVNs in decimal and format 2/4 ones as hex in quotes.
void emit_visa_cvn(explain_output out, std::uint8_t cvn) {
  item_text<96> text;
  const visa_cvn* known = nullptr;
  for (const visa_cvn& row : visa_cvns)
    if (row.cvn == cvn) known = &row;
  if (known != nullptr) {
    text.append(known->name).append(": ").append(known->implies);
  } else if (cvn >= 0x32 && cvn <= 0x3B) {
    text.append("CVN ").append_uint(cvn).append(": proprietary");
  } else if ((cvn >> 4) == 2 || (cvn >> 4) == 4) {
    text.append("CVN '").append_hex(cvn).append("': not in the public CVN table");
  } else {
    text.append("CVN ").append_uint(cvn).append(": not in the public CVN table");
  }
  emit_numbered(out, "CVN", "cvn", cvn, text.view(), 1);
}

void read_visa_013(bytes v, explain_output out) {
  emit_byte_field(out, "DKI", "dki", v[1]);
  emit_visa_cvn(out, v[2]);
  emit_cvr(v.subspan(3, 4), 2, visa_groups, visa_013_byte2, visa_bits, out);
  if (v.size() == 7) {
    emit(out, explain_kind::field, "IDD", "none", 1);
    return;
  }
  const std::size_t follows = v.size() - 8;
  if (v[7] == follows) {
    emit_idd(out, follows, "");
    return;
  }
  item_text<64> text;
  text.append("IDD length byte ").append_hex(v[7]).append(", ").append_uint(follows);
  text.append(follows == 1 ? " byte follows" : " bytes follow");
  emit_problem(out, "idd_length_mismatch", text.view(), 1);
}

void read_visa_24(bytes v, explain_output out) {
  emit_visa_cvn(out, v[1]);
  emit_byte_field(out, "DKI", "dki", v[2]);
  emit_cvr(v.subspan(3, 5), 1, visa_groups, visa_24_byte2, visa_bits, out);
  item_text<24> option;
  option.append(", option ").append_uint(v[8] & 0x0F);
  emit_idd(out, 23, option.view());
}

void read_mchip(bytes v, explain_output out) {
  emit_byte_field(out, "KDI", "dki", v[0]);
  const std::uint8_t cvn = v[1];
  item_text<96> text;
  text.append("CVN ").append_hex(cvn).append(": ");
  switch ((cvn >> 1) & 3) {
    case 0:
      text.append("Mastercard session key derivation");
      break;
    case 2:
      text.append("EMV common session key");
      break;
    default:
      text.append("session key RFU");
      break;
  }
  text.append((cvn & 1) != 0 ? ", counters in the AC data" : ", counters not in the AC data");
  emit_numbered(out, "CVN", "cvn", cvn, text.view(), 1);
  const bool advance = v.size() == 20 || v.size() == 28;
  emit_cvr(v.subspan(2, 6), 1, mchip_groups, mchip_bits,
           advance ? bit_rows(mchip_advance_bits) : bit_rows(mchip_either_bits), out);
  emit_hex(out, "DAC / ICC dynamic number", v.subspan(8, 2), 1);
  const std::size_t counters = v.size() <= 20 ? 8 : 16;
  emit_hex(out, "counters", v.subspan(10, counters), 1);
  if (v.size() == 20 || v.size() == 28) {
    const std::uint32_t atc = std::uint32_t{v[v.size() - 2]} << 8 | v[v.size() - 1];
    item_text<8> number;
    number.append_uint(atc);
    emit_numbered(out, "last online ATC", {}, atc, number.view(), 1);
  }
}

void read_common_core(bytes v, explain_output out) {
  const unsigned version = v[1] & 0x0F;
  item_text<64> text;
  text.append_hex(v[1]).append(": format A, cryptogram version ").append_uint(version);
  text.append(version == 5   ? std::string_view(" (TDES)")
              : version == 6 ? std::string_view(" (AES)")
                             : std::string_view(" (RFU)"));
  emit_numbered(out, "CCI", "cvn", version, text.view(), 1);
  emit_byte_field(out, "DKI", "dki", v[2]);
  emit_cvr(v.subspan(3, 5), 1, core_groups, core_bits, {}, out);
  emit_hex(out, "counters", v.subspan(8, 8), 1);
  emit_idd(out, 15, "");
}

constexpr std::array<std::string_view, 4> layout_names = {"EMV common core format A",
                                                          "Visa format 0/1/3", "Visa format 2/4",
                                                          "Mastercard M/Chip 4 or M/Chip Advance"};

void read_layout(iad_layout layout, bytes v, std::string_view how, explain_output out) {
  item_text<96> text;
  if (layout == iad_layout::mchip && (v.size() == 20 || v.size() == 28))
    text.append("Mastercard M/Chip Advance");
  else
    text.append(layout_names[static_cast<std::size_t>(layout)]);
  text.append(" (").append(how).append(")");
  emit(out, explain_kind::field, "reading", text.view());
  switch (layout) {
    case iad_layout::common_core_a:
      read_common_core(v, out);
      break;
    case iad_layout::visa_013:
      read_visa_013(v, out);
      break;
    case iad_layout::visa_24:
      read_visa_24(v, out);
      break;
    case iad_layout::mchip:
      read_mchip(v, out);
      break;
  }
}

// The payment system whose layouts apply: the AID's, else the kernel's when the kernel
// is known without an AID (--kernel); null when neither names one.
const payment_system* owner_of(const explain_context& c) {
  if (!c.aid.empty()) return find_payment_system(c.aid);
  if (c.kernel == emv_kernel::unknown || c.kernel == emv_kernel::domestic) return nullptr;
  for (const payment_system& system : payment_systems())
    if (system.kernel == c.kernel) return &system;
  return nullptr;
}

}  // namespace

void explain_iad(bytes v, const explain_context& c, explain_output out) {
  if (v.empty()) {
    emit(out, explain_kind::meaning, {}, "empty");
    return;
  }
  const payment_system* owner = owner_of(c);
  const bool by_aid = !c.aid.empty();
  if (owner == nullptr && !by_aid) {
    // No payment system known: every layout whose pattern fits.
    bool any = false;
    for (const iad_layout layout :
         {iad_layout::common_core_a, iad_layout::visa_013, iad_layout::visa_24, iad_layout::mchip})
      if (v.size() >= 2 && matches(layout, v)) {
        read_layout(layout, v, "by pattern", out);
        any = true;
      }
    if (!any) emit(out, explain_kind::meaning, {}, "layout not recognised");
    return;
  }
  emit_kernel_note(out, c);
  const std::string_view how = by_aid ? "by AID" : "by --kernel";
  std::span<const iad_layout> own{};
  static constexpr std::array visa = {iad_layout::visa_013, iad_layout::visa_24};
  static constexpr std::array mastercard = {iad_layout::mchip};
  if (owner != nullptr && owner->rid == 0xA000000003) own = visa;
  if (owner != nullptr && owner->rid == 0xA000000004) own = mastercard;
  for (const iad_layout layout : own)
    if (v.size() >= 2 && matches(layout, v)) {
      read_layout(layout, v, how, out);
      return;
    }
  // The common core fits any payment system.
  if (matches(iad_layout::common_core_a, v)) {
    read_layout(iad_layout::common_core_a, v, "by pattern", out);
    return;
  }
  item_text<64> text;
  if (own.empty() && owner != nullptr)
    text.append("layout not public for ").append(owner->name);
  else
    text.append("layout not recognised");
  emit(out, explain_kind::meaning, {}, text.view());
}

}  // namespace emvtlv::explain
