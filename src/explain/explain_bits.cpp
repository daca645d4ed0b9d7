// Bit-field explainers: one item per set bit, in byte order and b8 to b1. Each coding
// is a table of the bits EMV assigns; a set bit missing from its table is RFU.
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
  bit_note note = bit_note::none;
};

using bit_table = std::span<const bit_meaning>;

constexpr auto emv44 = bit_note::emv44;
constexpr auto kernel = bit_note::kernel;

// Application Interchange Profile, byte 1 only: byte 2 is left to the kernels.
constexpr std::array aip_bits = {
    bit_meaning{1, 0x80, "XDA supported", emv44},
    bit_meaning{1, 0x40, "SDA supported"},
    bit_meaning{1, 0x20, "DDA supported"},
    bit_meaning{1, 0x10, "Cardholder verification is supported"},
    bit_meaning{1, 0x08, "Terminal risk management is to be performed"},
    bit_meaning{1, 0x04, "Issuer authentication is supported"},
    bit_meaning{1, 0x02, "On-device cardholder verification supported", kernel},
    bit_meaning{1, 0x01, "CDA supported"},
};

constexpr std::array auc_bits = {
    bit_meaning{1, 0x80, "Valid for domestic cash transactions"},
    bit_meaning{1, 0x40, "Valid for international cash transactions"},
    bit_meaning{1, 0x20, "Valid for domestic goods"},
    bit_meaning{1, 0x10, "Valid for international goods"},
    bit_meaning{1, 0x08, "Valid for domestic services"},
    bit_meaning{1, 0x04, "Valid for international services"},
    bit_meaning{1, 0x02, "Valid at ATMs"},
    bit_meaning{1, 0x01, "Valid at terminals other than ATMs"},
    bit_meaning{2, 0x80, "Domestic cashback allowed"},
    bit_meaning{2, 0x40, "International cashback allowed"},
};

// Terminal Verification Results; the Issuer Action Codes share the layout.
// Byte 5 b4-b1 are read differently by the contactless kernels and by EMV 4.4
// contact terminals, so they are named for what is certain.
constexpr std::string_view contactless_reserved = "reserved for contactless / kernel-specific";
constexpr std::array tvr_bits = {
    bit_meaning{1, 0x80, "Offline data authentication was not performed"},
    bit_meaning{1, 0x40, "SDA failed"},
    bit_meaning{1, 0x20, "ICC data missing"},
    bit_meaning{1, 0x10, "Card appears on terminal exception file"},
    bit_meaning{1, 0x08, "DDA failed"},
    bit_meaning{1, 0x04, "CDA failed"},
    bit_meaning{1, 0x02, "SDA selected"},
    bit_meaning{1, 0x01, "XDA selected", emv44},
    bit_meaning{2, 0x80, "ICC and terminal have different application versions"},
    bit_meaning{2, 0x40, "Expired application"},
    bit_meaning{2, 0x20, "Application not yet effective"},
    bit_meaning{2, 0x10, "Requested service not allowed for card product"},
    bit_meaning{2, 0x08, "New card"},
    bit_meaning{2, 0x02, "Biometric performed and successful", emv44},
    bit_meaning{2, 0x01, "Biometric template format not supported", emv44},
    bit_meaning{3, 0x80, "Cardholder verification was not successful"},
    bit_meaning{3, 0x40, "Unrecognised CVM"},
    bit_meaning{3, 0x20, "PIN Try Limit exceeded"},
    bit_meaning{3, 0x10, "PIN entry required and PIN pad not present or not working"},
    bit_meaning{3, 0x08, "PIN entry required, PIN pad present, but PIN was not entered"},
    bit_meaning{3, 0x04, "Online PIN entered"},
    bit_meaning{3, 0x02, "Biometric required but capture device not working", emv44},
    bit_meaning{3, 0x01, "Biometric required, device present, but biometric subtype entry bypassed",
                emv44},
    bit_meaning{4, 0x80, "Transaction exceeds floor limit"},
    bit_meaning{4, 0x40, "Lower consecutive offline limit exceeded"},
    bit_meaning{4, 0x20, "Upper consecutive offline limit exceeded"},
    bit_meaning{4, 0x10, "Transaction selected randomly for online processing"},
    bit_meaning{4, 0x08, "Merchant forced transaction online"},
    bit_meaning{4, 0x04, "Biometric try limit exceeded", emv44},
    bit_meaning{4, 0x02, "A selected biometric type not supported", emv44},
    bit_meaning{4, 0x01, "XDA signature verification failed", emv44},
    bit_meaning{5, 0x80, "Default TDOL used"},
    bit_meaning{5, 0x40, "Issuer authentication failed"},
    bit_meaning{5, 0x20, "Script processing failed before final GENERATE AC"},
    bit_meaning{5, 0x10, "Script processing failed after final GENERATE AC"},
    bit_meaning{5, 0x08, contactless_reserved},
    bit_meaning{5, 0x04, contactless_reserved},
    bit_meaning{5, 0x02, contactless_reserved},
    bit_meaning{5, 0x01, contactless_reserved},
};

constexpr std::array tsi_bits = {
    bit_meaning{1, 0x80, "Offline data authentication was performed"},
    bit_meaning{1, 0x40, "Cardholder verification was performed"},
    bit_meaning{1, 0x20, "Card risk management was performed"},
    bit_meaning{1, 0x10, "Issuer authentication was performed"},
    bit_meaning{1, 0x08, "Terminal risk management was performed"},
    bit_meaning{1, 0x04, "Script processing was performed"},
};

constexpr std::array terminal_capabilities_bits = {
    // Card data input.
    bit_meaning{1, 0x80, "Manual key entry"},
    bit_meaning{1, 0x40, "Magnetic stripe"},
    bit_meaning{1, 0x20, "IC with contacts"},
    // CVM.
    bit_meaning{2, 0x80, "Plaintext PIN for ICC verification"},
    bit_meaning{2, 0x40, "Enciphered PIN for online verification"},
    bit_meaning{2, 0x20, "Signature (paper)"},
    bit_meaning{2, 0x10, "Enciphered PIN for offline verification"},
    bit_meaning{2, 0x08, "No CVM required"},
    bit_meaning{2, 0x04, "Online biometric", emv44},
    bit_meaning{2, 0x02, "Offline biometric", emv44},
    bit_meaning{2, 0x01, "Enciphered PIN for offline verification, ECC", emv44},
    // Security.
    bit_meaning{3, 0x80, "SDA"},
    bit_meaning{3, 0x40, "DDA"},
    bit_meaning{3, 0x20, "Card capture"},
    bit_meaning{3, 0x08, "CDA"},
    bit_meaning{3, 0x04, "XDA", emv44},
};

// "Code table N" is ISO/IEC 8859 part N.
constexpr std::array additional_capabilities_bits = {
    // Transaction type.
    bit_meaning{1, 0x80, "Cash"},
    bit_meaning{1, 0x40, "Goods"},
    bit_meaning{1, 0x20, "Services"},
    bit_meaning{1, 0x10, "Cashback"},
    bit_meaning{1, 0x08, "Inquiry"},
    bit_meaning{1, 0x04, "Transfer"},
    bit_meaning{1, 0x02, "Payment"},
    bit_meaning{1, 0x01, "Administrative"},
    bit_meaning{2, 0x80, "Cash deposit"},
    // Data input.
    bit_meaning{3, 0x80, "Numeric keys"},
    bit_meaning{3, 0x40, "Alphabetic and special character keys"},
    bit_meaning{3, 0x20, "Command keys"},
    bit_meaning{3, 0x10, "Function keys"},
    // Data output.
    bit_meaning{4, 0x80, "Print, attendant"},
    bit_meaning{4, 0x40, "Print, cardholder"},
    bit_meaning{4, 0x20, "Display, attendant"},
    bit_meaning{4, 0x10, "Display, cardholder"},
    bit_meaning{4, 0x02, "Code table 10"},
    bit_meaning{4, 0x01, "Code table 9"},
    bit_meaning{5, 0x80, "Code table 8"},
    bit_meaning{5, 0x40, "Code table 7"},
    bit_meaning{5, 0x20, "Code table 6"},
    bit_meaning{5, 0x10, "Code table 5"},
    bit_meaning{5, 0x08, "Code table 4"},
    bit_meaning{5, 0x04, "Code table 3"},
    bit_meaning{5, 0x02, "Code table 2"},
    bit_meaning{5, 0x01, "Code table 1"},
};

// Terminal Transaction Qualifiers: the Entry Point baseline, plus the bits single
// kernels give a meaning to.
constexpr std::array ttq_bits = {
    bit_meaning{1, 0x80, "Mag-stripe mode supported"},
    bit_meaning{1, 0x20, "EMV mode supported"},
    bit_meaning{1, 0x10, "EMV contact chip supported"},
    bit_meaning{1, 0x08, "Offline-only reader"},
    bit_meaning{1, 0x04, "Online PIN supported"},
    bit_meaning{1, 0x02, "Signature supported"},
    bit_meaning{1, 0x01, "Offline data authentication for online authorisations supported"},
    bit_meaning{2, 0x80, "Online cryptogram required"},
    bit_meaning{2, 0x40, "CVM required"},
    bit_meaning{2, 0x20, "(Contact chip) offline PIN supported"},
    bit_meaning{2, 0x08, "Fast mode supported", kernel},
    bit_meaning{2, 0x04, "Transit terminal", kernel},
    bit_meaning{3, 0x80, "Issuer Update Processing supported"},
    bit_meaning{3, 0x40, "Consumer Device CVM supported"},
    bit_meaning{3, 0x20, "CDCVM for transit MCC supported", kernel},
    bit_meaning{3, 0x08, "CDCVM required", kernel},
    bit_meaning{4, 0x80, "fDDA v1.0 supported", kernel},
};

// Card Transaction Qualifiers.
constexpr std::array ctq_bits = {
    bit_meaning{1, 0x80, "Online PIN required"},
    bit_meaning{1, 0x40, "Signature required"},
    bit_meaning{1, 0x20,
                "Go online if offline data authentication fails and reader is online-capable"},
    bit_meaning{1, 0x10,
                "Switch interface if offline data authentication fails and reader supports "
                "contact chip"},
    bit_meaning{1, 0x08, "Go online if application expired"},
    bit_meaning{1, 0x04, "Switch interface for cash transactions"},
    bit_meaning{1, 0x02, "Switch interface for cashback transactions"},
    bit_meaning{1, 0x01, "Not valid for contactless ATM transactions"},
    bit_meaning{2, 0x80, "Consumer Device CVM performed"},
    bit_meaning{2, 0x40, "Card supports Issuer Update Processing at the POS"},
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
static_assert(well_formed(tsi_bits, 2));
static_assert(well_formed(terminal_capabilities_bits, 3));
static_assert(well_formed(additional_capabilities_bits, 5));
static_assert(well_formed(ttq_bits, 4));
static_assert(well_formed(ctq_bits, 2));

// The longest bit field has 5 bytes, so byte and bit numbers are single digits.
constexpr std::size_t max_field_bytes = 5;

// One item per set bit of `v` (at most max_field_bytes), whose first byte is byte 1
// of the table.
void explain_set_bits(bytes v, bit_table table, explain_output out) {
  if (std::all_of(v.begin(), v.end(), [](std::uint8_t b) { return b == 0; })) {
    emit(out, explain_kind::none, {}, "no bit set");
    return;
  }
  std::size_t next = 0;  // the first meaning not yet passed
  for (std::size_t i = 0; i < v.size() && i < max_field_bytes; ++i) {
    // Most bytes and bits are clear; the table is only searched for a set one, and
    // `next` only moves forward, so skipping the clear ones loses nothing.
    if (v[i] == 0) continue;
    for (int bit = 8; bit >= 1; --bit) {
      const auto mask = static_cast<std::uint8_t>(1U << (bit - 1));
      if ((v[i] & mask) == 0) continue;
      while (next < table.size() &&
             (table[next].byte < i + 1 || (table[next].byte == i + 1 && table[next].mask > mask)))
        ++next;
      const std::array<char, 9> label_chars = {'b', 'y', 't',
                                               'e', ' ', static_cast<char>('1' + i),
                                               ' ', 'b', static_cast<char>('0' + bit)};
      const std::string_view label(label_chars.data(), label_chars.size());
      const bool known =
          next < table.size() && table[next].byte == i + 1 && table[next].mask == mask;
      if (!known) {
        item_text<24> text;
        text.append("RFU bit set: ").append(label);
        emit(out, explain_kind::rfu, label, text.view());
        continue;
      }
      const bit_meaning& m = table[next];
      if (m.note == bit_note::none) {
        emit(out, explain_kind::bit, label, m.text);
        continue;
      }
      item_text<112> text;
      text.append(m.text);
      if (m.note == bit_note::emv44) text.append(" (EMV 4.4)");
      if (m.note == bit_note::kernel) text.append(" (kernel-specific)");
      emit(out, explain_kind::bit, label, text.view());
    }
  }
}

// The common shape: a fixed length, then every byte read from one table.
void explain_fixed(bytes v, std::size_t length, std::string_view name, std::string_view expected,
                   bit_table table, explain_output out) {
  if (v.size() != length) {
    wrong_length(out, name, expected, v.size());
    return;
  }
  explain_set_bits(v, table, out);
}

// Cryptogram Information Data fields.
constexpr std::array<std::string_view, 4> cryptogram_types = {
    "AAC (decline)", "TC (approve offline)", "ARQC (go online)", "RFU (11)"};
constexpr std::array<std::string_view, 8> cid_reasons = {"no information given",
                                                         "service not allowed",
                                                         "PIN Try Limit exceeded",
                                                         "issuer authentication failed",
                                                         "RFU (100)",
                                                         "RFU (101)",
                                                         "RFU (110)",
                                                         "RFU (111)"};

}  // namespace

void explain_aip(bytes v, const explain_context&, explain_output out) {
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
    explain_set_bits(v.first(1), aip_bits, out);
  }
  if (v[0] == 0 && v[1] == 0) return;
  // The kernels disagree on byte 2, and the AID that says which kernel is not here.
  item_text<24> text;
  text.append("kernel-specific: ").append_hex(v[1]);
  emit(out, explain_kind::field, "byte 2", text.view());
}

void explain_auc(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 2, "AUC", "2 bytes", auc_bits, out);
}

void explain_tvr(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 5, "TVR", "5 bytes", tvr_bits, out);
}

// The Issuer Action Codes have the TVR's layout, and their own names.
void explain_iac_default(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 5, "IAC - Default", "5 bytes", tvr_bits, out);
}

void explain_iac_denial(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 5, "IAC - Denial", "5 bytes", tvr_bits, out);
}

void explain_iac_online(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 5, "IAC - Online", "5 bytes", tvr_bits, out);
}

void explain_tsi(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 2, "TSI", "2 bytes", tsi_bits, out);
}

void explain_cid(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 1) {
    wrong_length(out, "CID", "1 byte", v.size());
    return;
  }
  const std::uint8_t cid = v[0];
  emit(out, explain_kind::field, "cryptogram", cryptogram_types[cid >> 6]);
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
  explain_fixed(v, 3, "Terminal Capabilities", "3 bytes", terminal_capabilities_bits, out);
}

void explain_additional_capabilities(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 5, "Additional Terminal Capabilities", "5 bytes", additional_capabilities_bits,
                out);
}

void explain_ttq(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 4, "TTQ", "4 bytes", ttq_bits, out);
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
  emit(out, explain_kind::meaning, {}, text.view());
}

void explain_ctq(bytes v, const explain_context&, explain_output out) {
  explain_fixed(v, 2, "CTQ", "2 bytes", ctq_bits, out);
}

}  // namespace emvtlv::explain
