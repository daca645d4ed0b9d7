#include "tlv/dictionary.h"

#include "common/copy.h"

namespace emvtlv {

constexpr std::array<std::int32_t, tag_count> tags = {
    0x9F26, 0x9F42, 0x9F44, 0x9F05, 0x5F25, 0x5F24, 0x94,   0x4F,   0x82,   0x50,   0x9F12,
    0x5A,   0x5F34, 0x87,   0x9F3B, 0x9F43, 0x61,   0x9F36, 0x9F07, 0x9F08, 0x5F54, 0x8C,
    0x8D,   0x5F20, 0x9F0B, 0x8E,   0x8F,   0x9F27, 0x9F45, 0x84,   0x9D,   0x73,   0x9F49,
    0xBF0C, 0xA5,   0x6F,   0x9F4C, 0x9F2D, 0x9F2E, 0x9F2F, 0x9F46, 0x9F47, 0x9F48, 0x5F53,
    0x9F0D, 0x9F0E, 0x9F0F, 0x9F10, 0x9F11, 0x5F28, 0x5F55, 0x5F56, 0x42,   0x90,   0x9F32,
    0x92,   0x5F50, 0x5F2D, 0x9F13, 0x9F4D, 0x9F4F, 0x9F14, 0x9F17, 0x9F38, 0x70,   0x80,
    0x77,   0x5F30, 0x88,   0x9F4B, 0x93,   0x9F4A, 0x9F1F, 0x9F20, 0x57,   0x97,   0x9F23,
};

constexpr std::array<std::string_view, tag_count> names = {
    "Application Cryptogram",
    "Application Currency Code",
    "Application Currency Exponent",
    "Application Discretionary Data",
    "Application Effective Date",
    "Application Expiration Date",
    "Application File Locator (AFL)",
    "Application Identifier (AID) - card",
    "Application Interchange Profile",
    "Application Label",
    "Application Preferred Name",
    "Application Primary Account Number (PAN)",
    "Application Primary Account Number (PAN) Sequence Number",
    "Application Priority Indicator",
    "Application Reference Currency",
    "Application Reference Currency Exponent",
    "Application Template",
    "Application Transaction Counter (ATC)",
    "Application Usage Control",
    "Application Version Number",
    "Bank Identifier Code (BIC)",
    "Card Risk Management Data Object List 1 (CDOL1)",
    "Card Risk Management Data Object List 2 (CDOL2)",
    "Cardholder Name",
    "Cardholder Name Extended",
    "Cardholder Verification Method (CVM) List",
    "Certification Authority Public Key Index",
    "Cryptogram Information Data",
    "Data Authentication Code",
    "Dedicated File (DF) Name",
    "Directory Definition File (DDF) Name",
    "Directory Discretionary Template",
    "Dynamic Data Authentication Data Object List (DDOL)",
    "File Control Information (FCI) Issuer Discretionary Data",
    "File Control Information (FCI) Proprietary Template",
    "File Control Information (FCI) Template",
    "ICC Dynamic Number",
    "Integrated Circuit Card (ICC) PIN Encipherment Public Key Certificate",
    "Integrated Circuit Card (ICC) PIN Encipherment Public Key Exponent",
    "Integrated Circuit Card (ICC) PIN Encipherment Public Key Remainder",
    "Integrated Circuit Card (ICC) Public Key Certificate",
    "Integrated Circuit Card (ICC) Public Key Exponent",
    "Integrated Circuit Card (ICC) Public Key Remainder",
    "International Bank Account Number (IBAN)",
    "Issuer Action Code - Default",
    "Issuer Action Code - Denial",
    "Issuer Action Code - Online",
    "Issuer Application Data",
    "Issuer Code Table Index",
    "Issuer Country Code",
    "Issuer Country Code (alpha2 format)",
    "Issuer Country Code (alpha3 format)",
    "Issuer Identification Number (IIN)",
    "Issuer Public Key Certificate",
    "Issuer Public Key Exponent",
    "Issuer Public Key Remainder",
    "Issuer URL",
    "Language Preference",
    "Last Online Application Transaction Counter (ATC) Register",
    "Log Entry",
    "Log Format",
    "Lower Consecutive Offline Limit",
    "Personal Identification Number (PIN) Try Counter",
    "Processing Options Data Object List (PDOL)",
    "READ RECORD Response Message Template",
    "Response Message Template Format 1",
    "Response Message Template Format 2",
    "Service Code",
    "Short File Identifier (SFI)",
    "Signed Dynamic Application Data",
    "Signed Static Application Data",
    "Static Data Authentication Tag List",
    "Track 1 Discretionary Data",
    "Track 2 Discretionary Data",
    "Track 2 Equivalent Data",
    "Transaction Certificate Data Object List (TDOL)",
    "Upper Consecutive Offline Limit",
};

namespace {

// A direct index over the table, so a lookup costs one or two loads instead of a scan:
// slot = table index + 1, 0 = not listed. Two-octet tags all start with 5F, 9F or BF.
struct tag_index {
  std::array<std::uint8_t, 256> one_octet{};
  std::array<std::array<std::uint8_t, 256>, 3> two_octet{};
  bool complete = true;  // false if a tag fell outside the rows above
};

constexpr int two_octet_row(std::uint64_t first_octet) {
  switch (first_octet) {
    case 0x5F:
      return 0;
    case 0x9F:
      return 1;
    case 0xBF:
      return 2;
    default:
      return -1;
  }
}

constexpr tag_index build_index() {
  tag_index index;
  for (std::size_t i = 0; i < tag_count; ++i) {
    const auto tag = static_cast<std::uint64_t>(tags[i]);
    const auto slot = static_cast<std::uint8_t>(i + 1);
    const int row = two_octet_row(tag >> 8);
    if (tag < 0x100) {
      index.one_octet[tag] = slot;
    } else if (tag < 0x10000 && row >= 0) {
      index.two_octet[static_cast<std::size_t>(row)][tag & 0xFF] = slot;
    } else {
      index.complete = false;
    }
  }
  return index;
}

constexpr tag_index index = build_index();
static_assert(index.complete, "every listed tag must be reachable through the index");

// Every label ("name: ") laid out once, so printing one is a single copy.
constexpr std::size_t label_text_size = [] {
  std::size_t size = 0;
  for (const std::string_view name : names)
    size += name.size() + 2;
  return size;
}();

constexpr std::array<char, label_text_size> label_text = [] {
  std::array<char, label_text_size> text{};
  std::size_t at = 0;
  for (const std::string_view name : names) {
    for (const char c : name)
      text[at++] = c;
    text[at++] = ':';
    text[at++] = ' ';
  }
  return text;
}();

constexpr std::array<std::string_view, tag_count> labels = [] {
  std::array<std::string_view, tag_count> views{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < tag_count; ++i) {
    views[i] = std::string_view(label_text.data() + at, names[i].size() + 2);
    at += views[i].size();
  }
  return views;
}();

}  // namespace

int find_tag(std::uint64_t key, output_sink& out) {
  std::size_t slot = 0;
  if (key < 0x100) {
    slot = index.one_octet[key];
  } else if (key < 0x10000) {
    const int row = two_octet_row(key >> 8);
    if (row >= 0) slot = index.two_octet[static_cast<std::size_t>(row)][key & 0xFF];
  }
  if (slot == 0) return 0;
  const std::string_view label = labels[slot - 1];
  copy_short(out.extend(label.size()), label.data(), label.size());
  return 1;
}

}  // namespace emvtlv
