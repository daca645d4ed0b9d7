#include "tlv/dictionary.h"

namespace emvtlv {

const std::array<std::int32_t, tag_count> tags = {
    0x9F26, 0x9F42, 0x9F44, 0x9F05, 0x5F25, 0x5F24, 0x94,   0x4F,   0x82,   0x50,   0x9F12,
    0x5A,   0x5F34, 0x87,   0x9F3B, 0x9F43, 0x61,   0x9F36, 0x9F07, 0x9F08, 0x5F54, 0x8C,
    0x8D,   0x5F20, 0x9F0B, 0x8E,   0x8F,   0x9F27, 0x9F45, 0x84,   0x9D,   0x73,   0x9F49,
    0xBF0C, 0xA5,   0x6F,   0x9F4C, 0x9F2D, 0x9F2E, 0x9F2F, 0x9F46, 0x9F47, 0x9F48, 0x5F53,
    0x9F0D, 0x9F0E, 0x9F0F, 0x9F10, 0x9F11, 0x5F28, 0x5F55, 0x5F56, 0x42,   0x90,   0x9F32,
    0x92,   0x5F50, 0x5F2D, 0x9F13, 0x9F4D, 0x9F4F, 0x9F14, 0x9F17, 0x9F38, 0x70,   0x80,
    0x77,   0x5F30, 0x88,   0x9F4B, 0x93,   0x9F4A, 0x9F1F, 0x9F20, 0x57,   0x97,   0x9F23,
};

const std::array<std::string_view, tag_count> names = {
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

int find_tag(std::uint64_t key, output_sink& out) {
  for (std::size_t i = 0; i < tag_count; ++i) {
    // Widened with its sign, as the table's type demands; no entry is negative.
    if (static_cast<std::uint64_t>(static_cast<std::int64_t>(tags[i])) == key) {
      out.append(names[i]);
      out.append(": ");
      return 1;
    }
  }
  return 0;
}

}  // namespace emvtlv
