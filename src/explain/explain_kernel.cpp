// The kernel's own fields: 9F6E, 9F6D, 9F5D and 9F1D read by the kernel the AID (or
// --kernel) names, never by another's table; 9F2A and 91 (ARPC and Card Status
// Update), which every kernel shares. All of them are rare in a record, so the bits
// are looked up in their rows as they come.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "emv/iso_codes.h"
#include "explain/explainers.h"
#include "explain/item_text.h"

namespace emvtlv::explain {
namespace {

using enum emv_kernel;

struct field_bit {
  std::uint8_t byte;
  std::uint8_t mask;
  std::string_view text;
  std::string_view id;
};

using bit_rows = std::span<const field_bit>;

// One item per set bit of `v` outside `skip` (bits read as fields), b8 to b1, each
// meaning followed by `note`; a bit no row names is RFU.
void emit_bits(bytes v, bit_rows rows, std::span<const std::uint8_t> skip, std::string_view note,
               explain_output out, std::uint32_t level = 0) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    const auto number = static_cast<std::uint8_t>(i + 1);
    const unsigned bits = v[i] & ~(i < skip.size() ? skip[i] : 0U);
    for (unsigned bit = 8; bit >= 1; --bit) {
      const auto mask = static_cast<std::uint8_t>(1U << (bit - 1));
      if ((bits & mask) == 0) continue;
      const field_bit* row = nullptr;
      for (const field_bit& r : rows)
        if (r.byte == number && r.mask == mask) row = &r;
      emit_set_bit(out, number, bit, row != nullptr ? row->text : std::string_view(), note,
                   row != nullptr ? row->id : std::string_view(), level);
    }
  }
}

// "kernel-specific: C-2, C-3 and C-4 read it differently" for a value whose kernel is
// not known, or is one that does not define it.
void not_read(explain_output out, std::string_view defined_by, emv_kernel kernel) {
  item_text<112> text;
  if (kernel == unknown) {
    text.append("kernel-specific (").append(defined_by).append("): no AID says which kernel");
  } else {
    text.append("not defined under ").append(kernel_name(kernel));
    text.append(" (").append(defined_by).append(")");
  }
  emit(out, explain_kind::meaning, {}, text.view());
}

// 9F6E under C-3: Form Factor Indicator.
constexpr std::array ffi_bits = {
    field_bit{2, 0x80, "passcode capable", "passcode_capable"},
    field_bit{2, 0x40, "signature panel", "signature_panel"},
    field_bit{2, 0x20, "hologram", "hologram"},
    field_bit{2, 0x10, "CVV2", "cvv2"},
    field_bit{2, 0x08, "two-way messaging", "two_way_messaging"},
    field_bit{2, 0x04, "cloud-based credentials", "cloud_based_credentials"},
    field_bit{2, 0x02, "biometric cardholder verification capable",
              "biometric_cardholder_verification_capable"},
};
constexpr std::array<std::string_view, 5> form_factors = {
    "card", "mini-card", "non-card form factor", "consumer mobile phone", "wrist-worn device"};

void explain_ffi(bytes v, explain_output out) {
  if (v.size() != 4) {
    wrong_length(out, "Form Factor Indicator", "4 bytes", v.size());
    return;
  }
  const unsigned version = v[0] >> 5;
  if (version != 1) {
    item_text<48> text;
    text.append_uint(version).append(": layout not known");
    emit_numbered(out, "version", "ffi_version", version, text.view());
    return;
  }
  emit_numbered(out, "version", "ffi_version", version, "1");
  const unsigned form = v[0] & 0x1F;
  emit_numbered(out, "form factor", "form_factor", form,
                form < form_factors.size() ? form_factors[form] : std::string_view("RFU"));
  // Bytes 1 and 4 hold fields; byte 4 b8-b5 are RFU bits.
  constexpr std::array<std::uint8_t, 4> fields = {0xFF, 0x00, 0x00, 0x0F};
  emit_bits(v, ffi_bits, fields, {}, out);
  const unsigned technology = v[3] & 0x0F;
  emit_numbered(out, "technology", "technology", technology,
                technology == 0 ? std::string_view("ISO 14443 contactless (including NFC)")
                                : std::string_view("RFU"));
}

// 9F6E under C-2: Third Party Data.
constexpr std::array<std::string_view, 4> device_types = {
    "card", "mobile phone with an operator secure element", "key fob", "watch"};

void explain_third_party_data(bytes v, explain_output out) {
  if (v.size() < 5 || v.size() > 32) {
    wrong_length(out, "Third Party Data", "5 to 32 bytes", v.size());
    return;
  }
  // n 3 in two bytes: a leading 0 digit, then three.
  const unsigned country = (v[0] & 0xFU) * 100U + (v[1] >> 4) * 10U + (v[1] & 0xFU);
  item_text<96> text;
  if ((v[0] >> 4) != 0 || (v[0] & 0xF) > 9 || (v[1] >> 4) > 9 || (v[1] & 0xF) > 9) {
    text.append("not a country code: ").append_hex(v.first(2));
  } else {
    text.append_uint(country);
    if (const iso_country* found = find_country(static_cast<std::uint16_t>(country)))
      text.append(" ").append(found->name);
  }
  emit_numbered(out, "country", {}, country, text.view());
  const unsigned identifier = std::uint32_t{v[2]} << 8 | v[3];
  item_text<64> id;
  id.append_hex(v.subspan(2, 2));
  if (identifier == 0)
    id.append(": no proprietary data");
  else if (identifier == 0x0003 || identifier == 0x8003)
    id.append(": Mastercard product extension");
  emit_numbered(out, "unique identifier", {}, identifier, id.view());
  std::size_t data = 4;
  if ((v[2] & 0x80) == 0 && v.size() >= 6) {
    const bool digits = v[4] >= '0' && v[4] <= '9' && v[5] >= '0' && v[5] <= '9';
    const unsigned type = digits ? (v[4] - '0') * 10U + (v[5] - '0') : 100;
    item_text<64> device;
    if (!digits)
      device.append("not 2 digits: ").append_hex(v.subspan(4, 2));
    else if (type < device_types.size())
      device.append(device_types[type]);
    else
      device.append("type ").append_uint(type);
    emit(out, explain_kind::field, "device type", device.view());
    data = 6;
  }
  item_text<24> rest;
  rest.append_uint(v.size() - data).append(v.size() - data == 1 ? " byte" : " bytes");
  emit(out, explain_kind::field, "proprietary data", rest.view());
}

// 9F6E under C-4: Enhanced Contactless Reader Capabilities, a terminal's.
constexpr std::array reader_bits = {
    field_bit{1, 0x80, "contact mode supported", "contact_mode_supported"},
    field_bit{1, 0x40, "mag-stripe mode supported", "mag_stripe_mode_supported"},
    field_bit{1, 0x20, "full online mode supported (legacy, must be 0)",
              "full_online_mode_supported"},
    field_bit{1, 0x10, "partial online mode supported", "partial_online_mode_supported"},
    field_bit{1, 0x08, "mobile supported", "mobile_supported"},
    field_bit{1, 0x04, "try another interface after a decline",
              "try_another_interface_after_decline"},
    field_bit{2, 0x80, "mobile CVM supported", "mobile_cvm_supported"},
    field_bit{2, 0x40, "online PIN supported", "online_pin_supported"},
    field_bit{2, 0x20, "signature supported", "signature_supported"},
    field_bit{2, 0x10, "plaintext offline PIN supported", "plaintext_offline_pin_supported"},
    field_bit{3, 0x80, "reader is offline only", "offline_only_reader"},
    field_bit{3, 0x40, "CVM required", "cvm_required"},
    field_bit{4, 0x80, "terminal exempt from No CVM checks", "exempt_from_no_cvm_checks"},
    field_bit{4, 0x40, "delayed authorisation terminal", "delayed_authorisation_terminal"},
    field_bit{4, 0x20, "transit terminal", "transit_terminal"},
};
constexpr std::array<std::string_view, 8> c4_versions = {
    "none given", "2.2-2.3", "2.4-2.6", "2.7 and later", "RFU", "RFU", "RFU", "RFU"};

void explain_reader_capabilities(bytes v, explain_output out) {
  if (v.size() != 4) {
    wrong_length(out, "Enhanced Contactless Reader Capabilities", "4 bytes", v.size());
    return;
  }
  constexpr std::array<std::uint8_t, 4> fields = {0x00, 0x00, 0x00, 0x07};
  emit_bits(v, reader_bits, fields, {}, out);
  const unsigned version = v[3] & 0x07;
  item_text<40> text;
  text.append_uint(version).append(": ").append(c4_versions[version]);
  emit_numbered(out, "C-4 kernel version", "c4_kernel_version", version, text.view());
}

// 9F5D under C-2: Application Capabilities Information.
constexpr std::array aci_bits = {
    field_bit{2, 0x04, "field off detection supported", "field_off_detection_supported"},
    field_bit{2, 0x01, "CDA supported over TC, ARQC and AAC", "cda_over_tc_arqc_aac"},
};
constexpr std::array<std::string_view, 9> sds_schemes = {
    "undefined",
    "all 10 tags of 32 bytes",
    "all 10 tags of 48 bytes",
    "all 10 tags of 64 bytes",
    "all 10 tags of 96 bytes",
    "all 10 tags of 128 bytes",
    "all 10 tags of 160 bytes",
    "all 10 tags of 192 bytes",
    "all 10 tags of 32 bytes, except 9F78 of 64"};

void explain_aci(bytes v, explain_output out) {
  if (v.size() != 3) {
    wrong_length(out, "Application Capabilities Information", "3 bytes", v.size());
    return;
  }
  item_text<8> version;
  version.append_uint(v[0] >> 4);
  emit_numbered(out, "ACI version", {}, v[0] >> 4, version.view());
  const unsigned storage = v[0] & 0x0F;
  item_text<32> text;
  text.append_uint(storage);
  text.append(storage == 0 ? std::string_view(": none") : storage > 2 ? ": RFU" : "");
  emit_numbered(out, "data storage version", {}, storage, text.view());
  constexpr std::array<std::uint8_t, 3> fields = {0xFF, 0x00, 0xFF};
  emit_bits(v, aci_bits, fields, {}, out);
  item_text<64> scheme;
  scheme.append_hex(v[2]).append(": ");
  scheme.append(v[2] < sds_schemes.size() ? sds_schemes[v[2]] : std::string_view("RFU"));
  emit_numbered(out, "SDS scheme indicator", {}, v[2], scheme.view());
}

// 9F1D under C-2: Terminal Risk Management Data.
constexpr std::array trmd_bits = {
    field_bit{1, 0x80, "restart supported", "restart_supported"},
    field_bit{1, 0x40, "contactless: enciphered PIN online", "contactless_enciphered_pin_online"},
    field_bit{1, 0x20, "contactless: signature", "contactless_signature"},
    field_bit{1, 0x10, "contactless: enciphered PIN offline", "contactless_enciphered_pin_offline"},
    field_bit{1, 0x08, "contactless: no CVM", "contactless_no_cvm"},
    field_bit{1, 0x04, "contactless: CDCVM", "contactless_cdcvm"},
    field_bit{1, 0x02, "contactless: plaintext PIN offline", "contactless_plaintext_pin_offline"},
    field_bit{1, 0x01, "present and hold supported", "present_and_hold_supported"},
    field_bit{2, 0x80, "CVM limit exceeded", "cvm_limit_exceeded"},
    field_bit{2, 0x40, "contact: enciphered PIN online", "contact_enciphered_pin_online"},
    field_bit{2, 0x20, "contact: signature", "contact_signature"},
    field_bit{2, 0x10, "contact: enciphered PIN offline", "contact_enciphered_pin_offline"},
    field_bit{2, 0x08, "contact: no CVM", "contact_no_cvm"},
    field_bit{2, 0x04, "contact: CDCVM", "contact_cdcvm"},
    field_bit{2, 0x02, "contact: plaintext PIN offline", "contact_plaintext_pin_offline"},
    field_bit{3, 0x80, "mag-stripe mode contactless not supported",
              "mag_stripe_mode_contactless_not_supported"},
    field_bit{3, 0x40, "EMV mode contactless not supported", "emv_mode_contactless_not_supported"},
    field_bit{3, 0x20, "CDCVM without CDA supported", "cdcvm_without_cda_supported"},
    field_bit{4, 0x80, "CDCVM bypass requested", "cdcvm_bypass_requested"},
    field_bit{4, 0x40, "SCA exempt", "sca_exempt"},
};

// Card Status Update, in 91 after an ARPC of method 2.
constexpr std::array csu_bits = {
    field_bit{1, 0x80, "proprietary authentication data included",
              "proprietary_authentication_data_included"},
    field_bit{2, 0x80, "issuer approves online transaction", "issuer_approves_online_transaction"},
    field_bit{2, 0x40, "card block", "card_block"},
    field_bit{2, 0x20, "application block", "application_block"},
    field_bit{2, 0x10, "update PIN try counter", "update_pin_try_counter"},
    field_bit{2, 0x08, "set go online on next transaction", "set_go_online_on_next_transaction"},
    field_bit{2, 0x04, "CSU created by proxy for the issuer", "csu_created_by_proxy"},
};
constexpr std::array<std::string_view, 4> counter_updates = {
    "do not update", "set to upper limits", "reset to zero", "add transaction to counter"};

void explain_csu(bytes csu, explain_output out) {
  constexpr std::array<std::uint8_t, 4> fields = {0x0F, 0x03, 0x00, 0xFF};
  emit_bits(csu, csu_bits, fields, {}, out, 1);
  item_text<8> tries;
  tries.append_uint(csu[0] & 0x0F);
  emit_numbered(out, "PIN try counter", "pin_try_counter", csu[0] & 0x0FU, tries.view(), 1);
  emit_numbered(out, "update counters", "update_counters", csu[1] & 0x03U,
                counter_updates[csu[1] & 3], 1);
  emit_hex(out, "issuer discretionary", csu.subspan(3, 1), 1);
}

}  // namespace

void explain_kernel_9f6e(bytes v, const explain_context& c, explain_output out) {
  emit_kernel_note(out, c);
  switch (c.kernel) {
    case c3:
      return explain_ffi(v, out);
    case c2:
      return explain_third_party_data(v, out);
    case c4:
      return explain_reader_capabilities(v, out);
    default:
      return not_read(out, "C-2, C-3 and C-4 read it differently", c.kernel);
  }
}

void explain_kernel_9f6d(bytes v, const explain_context& c, explain_output out) {
  emit_kernel_note(out, c);
  if (c.kernel == c2) {
    if (v.size() != 2) {
      wrong_length(out, "Mag-stripe Application Version Number", "2 bytes", v.size());
      return;
    }
    item_text<16> text;
    text.append("version ").append_hex(v);
    emit(out, explain_kind::meaning, {}, text.view());
    return;
  }
  if (c.kernel != c4) return not_read(out, "C-2 and C-4 read it differently", c.kernel);
  if (v.size() != 1) {
    wrong_length(out, "Contactless Reader Capabilities", "1 byte", v.size());
    return;
  }
  std::string_view meaning = "not a listed value";
  switch (v[0]) {
    case 0x00:
    case 0x80:
      meaning = "deprecated";
      break;
    case 0x40:
      meaning = "mag-stripe only, CVM not required";
      break;
    case 0x48:
      meaning = "mag-stripe only, CVM required";
      break;
    case 0xC0:
      meaning = "EMV and mag-stripe, CVM not required";
      break;
    case 0xC8:
      meaning = "EMV and mag-stripe, CVM required";
      break;
    default:
      break;
  }
  emit_numbered(out, {}, {}, v[0], meaning);
}

void explain_kernel_9f5d(bytes v, const explain_context& c, explain_output out) {
  emit_kernel_note(out, c);
  emv_kernel kernel = c.kernel;
  if (kernel != c2 && kernel != c3) {
    if (kernel != unknown || (v.size() != 3 && v.size() != 6))
      return not_read(out, "C-2 and C-3 read it differently", kernel);
    // No kernel: the two readings differ in length.
    kernel = v.size() == 3 ? c2 : c3;
    emit(out, explain_kind::field, "reading",
         kernel == c2 ? "Application Capabilities Information (by length)"
                      : "Available Offline Spending Amount (by length)");
  }
  if (kernel == c2) return explain_aci(v, out);
  explain_amount(v, c, out);
}

void explain_kernel_9f1d(bytes v, const explain_context& c, explain_output out) {
  emit_kernel_note(out, c);
  if (c.kernel != c2 && c.kernel != unknown) return not_read(out, "C-2", c.kernel);
  if (v.empty() || v.size() > 8) {
    wrong_length(out, "Terminal Risk Management Data", "1 to 8 bytes", v.size());
    return;
  }
  if (std::all_of(v.begin(), v.end(), [](std::uint8_t b) { return b == 0; })) {
    emit(out, explain_kind::none, {}, "no bit set");
    return;
  }
  emit_bits(v, trmd_bits, {}, c.kernel == c2 ? " (C-2)" : " (kernel-specific)", out);
}

void explain_kernel_identifier(bytes v, const explain_context&, explain_output out) {
  if (v.empty() || v.size() > 8) {
    wrong_length(out, "Kernel Identifier", "1 to 8 bytes", v.size());
    return;
  }
  constexpr std::array<std::string_view, 4> types = {
      "international", "RFU", "domestic, EMVCo format", "domestic, proprietary format"};
  emit_numbered(out, "kernel type", "kernel_type", v[0] >> 6, types[v[0] >> 6]);
  const unsigned id = v[0] & 0x3F;
  item_text<48> text;
  text.append_uint(id);
  if ((v[0] >> 6) == 0 && id >= 2 && id <= 7) {
    constexpr std::array<emv_kernel, 6> numbered = {c2, c3, c4, c5, c6, c7};
    const emv_kernel kernel = numbered[id - 2];
    text.append(" (").append(kernel_name(kernel));
    for (const payment_system& system : payment_systems())
      if (system.kernel == kernel) {
        text.append(", ").append(system.name);
        break;
      }
    text.append(")");
  }
  emit_numbered(out, "short kernel ID", "short_kernel_id", id, text.view());
  if (v.size() > 1) emit_hex(out, "extended kernel ID", v.subspan(1));
}

// 91: ARPC (8) + ARC (2) for method 1, ARPC (4) + CSU (4) + up to 8 bytes of
// proprietary authentication data for method 2. Only the length tells them apart, and
// 10 bytes fit both: read as method 1, which most issuers use.
void explain_issuer_authentication(bytes v, const explain_context&, explain_output out) {
  if (v.size() < 8 || v.size() > 16) {
    wrong_length(out, "Issuer Authentication Data", "8 to 16 bytes", v.size());
    return;
  }
  if (v.size() == 10) {
    emit(out, explain_kind::field, "reading", "ARPC + ARC (method 1, by length)");
    emit_hex(out, "ARPC", v.first(8));
    item_text<24> arc;
    arc.append_hex(v.subspan(8, 2));
    if (v[8] >= 0x20 && v[8] < 0x7F && v[9] >= 0x20 && v[9] < 0x7F) {
      const std::array<char, 2> chars = {static_cast<char>(v[8]), static_cast<char>(v[9])};
      arc.append(" \"").append(std::string_view(chars.data(), 2)).append("\"");
    }
    emit(out, explain_kind::field, "ARC", arc.view());
    return;
  }
  emit(out, explain_kind::field, "reading", "ARPC + CSU (method 2, by length)");
  emit_hex(out, "ARPC", v.first(4));
  emit_hex(out, "CSU", v.subspan(4, 4));
  explain_csu(v.subspan(4, 4), out);
  emit_hex(out, "proprietary authentication data", v.subspan(8));
}

}  // namespace emvtlv::explain
