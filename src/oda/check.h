// The offline data authentication checks over what a collector kept: certificates
// recovered with the CA, issuer and ICC keys, every check in the order a terminal makes
// them, each ok, failed (what was expected and found) or not checked (the missing input).
//
// Contract and limits:
// - A check that cannot be made names what it lacks; a check after a key that did not
//   recover is not checked ("issuer key not recovered"). Where several CA keys share a
//   (RID, index), each is tried and the first that recovers the issuer certificate
//   (6A ... BC and its hash) is named.
// - The report is fixed size (about 10 KiB). The card number recovered from the ICC
//   certificate is compared with 5A and only the outcome kept; the issuer identifier
//   keeps at most its first six digits; no recovered block is kept whole.
// - CDA: the first two GENERATE ACs whose answers carry 9F4B are checked, the second's
//   checks after the first's. A session with DDA or fDDA checks that signature alone.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "oda/ca_keys.h"
#include "oda/collector.h"

namespace emvtlv::oda {

enum class check_id : std::uint8_t {
  ca_key,
  issuer_certificate_length,
  issuer_certificate_trailer,
  issuer_certificate_header,
  issuer_certificate_format,
  issuer_certificate_hash_algorithm,
  issuer_certificate_hash,
  issuer_identifier,
  issuer_certificate_expiry,
  issuer_key_algorithm,
  static_data,
  ssad_length,
  ssad_trailer,
  ssad_header,
  ssad_format,
  ssad_hash_algorithm,
  ssad_hash,
  icc_certificate_length,
  icc_certificate_trailer,
  icc_certificate_header,
  icc_certificate_format,
  icc_certificate_hash_algorithm,
  icc_certificate_hash,
  icc_pan,
  icc_certificate_expiry,
  icc_key_algorithm,
  sdad_length,
  sdad_trailer,
  sdad_header,
  sdad_format,
  sdad_hash_algorithm,
  sdad_hash,
  cda_cid,
  cda_transaction_data_hash,
  // A second GENERATE AC with CDA: its checks as the first's.
  sdad2_length,
  sdad2_trailer,
  sdad2_header,
  sdad2_format,
  sdad2_hash_algorithm,
  sdad2_hash,
  cda2_cid,
  cda2_transaction_data_hash,
  count
};

std::string_view check_key(check_id id);    // "issuer_certificate_hash"
std::string_view check_label(check_id id);  // "issuer certificate (90) hash"

enum class check_result : std::uint8_t { ok, failed, not_checked };
std::string_view result_name(check_result result);  // "ok", "failed", "not checked"

struct short_text {
  std::array<char, 96> chars{};
  std::uint8_t size = 0;
  void set(std::string_view text);
  void add(std::string_view text);
  std::string_view view() const { return {chars.data(), size}; }
};

// A number in decimal, for the texts.
struct decimal_digits {
  explicit decimal_digits(std::size_t n);
  std::string_view view() const { return {chars.data() + start, chars.size() - start}; }
  std::array<char, 20> chars{};
  std::size_t start = 20;
};

struct check_entry {
  check_id id = check_id::ca_key;
  check_result result = check_result::ok;
  short_text expected, found, missing;
};

// ODA methods, as bits.
enum method : std::uint8_t { method_sda = 1, method_dda = 2, method_fdda = 4, method_cda = 8 };

enum class pan_comparison : std::uint8_t { not_compared, matches, does_not_match };

struct certificate_fields {
  bool recovered = false;               // 6A ... BC: the fields below are read
  std::array<char, 6> issuer_digits{};  // the issuer certificate's identifier, at most 6
  std::uint8_t issuer_digit_count = 0;
  std::uint8_t expiry_month = 0, expiry_year = 0;  // BCD as recovered
  std::array<std::uint8_t, 3> serial{};
  std::uint8_t hash_algorithm = 0, key_algorithm = 0;
  std::uint16_t key_length = 0;  // bytes
  std::array<std::uint8_t, 3> exponent{};
  std::uint8_t exponent_size = 0;
  pan_comparison pan = pan_comparison::not_compared;  // ICC certificate only
};

struct oda_report {
  bool any = false;  // the session offered, performed or carried anything of ODA
  std::uint8_t offered = 0;
  std::uint8_t performed = 0;
  bool key_found = false;
  ca_key key;  // the CA key used (the one that recovered, else the first tried)
  std::uint8_t keys_tried = 0;
  bool key_recovered = false;  // the key named recovered the issuer certificate
  std::array<std::uint8_t, 5> rid{};
  std::uint8_t index = 0;
  bool has_index = false;
  bool has_issuer = false, has_icc = false;
  certificate_fields issuer, icc;
  bool has_dac = false;
  std::array<std::uint8_t, 2> dac{};
  std::array<std::uint8_t, 8> dynamic_number{};
  std::uint8_t dynamic_number_size = 0;
  std::array<check_entry, static_cast<std::size_t>(check_id::count)> checks{};
  std::uint8_t check_count = 0;

  // The first failed check, else nullptr.
  const check_entry* first_failure() const;
  // As a fresh report, but without writing the checks' 10 KiB (every member above them).
  void clear();
};

void check_oda(const oda_inputs& inputs, const ca_key_table& keys, oda_report& report);

}  // namespace emvtlv::oda
