#include "oda/check.h"

#include <algorithm>

#include "oda/crypto.h"

namespace emvtlv::oda {
namespace {

struct check_row {
  std::string_view key;
  std::string_view label;
};

constexpr std::array<check_row, static_cast<std::size_t>(check_id::count)> check_rows{{
    {"ca_key", "CA key known"},
    {"issuer_certificate_length", "issuer certificate (90) length"},
    {"issuer_certificate_trailer", "issuer certificate trailer"},
    {"issuer_certificate_header", "issuer certificate header"},
    {"issuer_certificate_format", "issuer certificate format"},
    {"issuer_certificate_hash_algorithm", "issuer certificate hash algorithm"},
    {"issuer_certificate_hash", "issuer certificate hash"},
    {"issuer_identifier", "issuer identifier and PAN"},
    {"issuer_certificate_expiry", "issuer certificate expiry"},
    {"issuer_key_algorithm", "issuer key algorithm"},
    {"static_data", "static data to authenticate"},
    {"ssad_length", "signed static data (93) length"},
    {"ssad_trailer", "signed static data trailer"},
    {"ssad_header", "signed static data header"},
    {"ssad_format", "signed static data format"},
    {"ssad_hash_algorithm", "signed static data hash algorithm"},
    {"ssad_hash", "signed static data hash"},
    {"icc_certificate_length", "ICC certificate (9F46) length"},
    {"icc_certificate_trailer", "ICC certificate trailer"},
    {"icc_certificate_header", "ICC certificate header"},
    {"icc_certificate_format", "ICC certificate format"},
    {"icc_certificate_hash_algorithm", "ICC certificate hash algorithm"},
    {"icc_certificate_hash", "ICC certificate hash"},
    {"icc_pan", "ICC certificate PAN and 5A"},
    {"icc_certificate_expiry", "ICC certificate expiry"},
    {"icc_key_algorithm", "ICC key algorithm"},
    {"sdad_length", "signed dynamic data (9F4B) length"},
    {"sdad_trailer", "signed dynamic data trailer"},
    {"sdad_header", "signed dynamic data header"},
    {"sdad_format", "signed dynamic data format"},
    {"sdad_hash_algorithm", "signed dynamic data hash algorithm"},
    {"sdad_hash", "signed dynamic data hash"},
    {"cda_cid", "CDA cryptogram information data"},
    {"cda_transaction_data_hash", "CDA transaction data hash"},
    {"sdad2_length", "second GENERATE AC: signed dynamic data (9F4B) length"},
    {"sdad2_trailer", "second GENERATE AC: signed dynamic data trailer"},
    {"sdad2_header", "second GENERATE AC: signed dynamic data header"},
    {"sdad2_format", "second GENERATE AC: signed dynamic data format"},
    {"sdad2_hash_algorithm", "second GENERATE AC: signed dynamic data hash algorithm"},
    {"sdad2_hash", "second GENERATE AC: signed dynamic data hash"},
    {"cda2_cid", "second GENERATE AC: CDA cryptogram information data"},
    {"cda2_transaction_data_hash", "second GENERATE AC: CDA transaction data hash"},
}};

constexpr std::size_t max_block = 256;
using block = std::array<std::uint8_t, max_block>;

void put_hex(short_text& text, std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  for (const auto b : bytes) {
    const char pair[2] = {digits[b >> 4], digits[b & 15]};
    text.add({pair, 2});
  }
}

void put_number(short_text& text, std::size_t n) {
  text.add(decimal_digits(n).view());
}

// Digits of BCD bytes up to the first F nibble (or any nibble above 9).
std::size_t bcd_digits(std::span<const std::uint8_t> bytes, std::span<char> out) {
  std::size_t n = 0;
  for (const auto b : bytes) {
    for (const int nibble : {b >> 4, b & 15}) {
      if (nibble > 9 || n == out.size()) return n;
      out[n++] = static_cast<char>('0' + nibble);
    }
  }
  return n;
}

bool is_bcd(std::uint8_t b) {
  return (b >> 4) <= 9 && (b & 15) <= 9;
}
int bcd_value(std::uint8_t b) {
  return (b >> 4) * 10 + (b & 15);
}

// One check's outcome for a recovered block: what the hash covers and where it is.
struct recovered {
  std::span<const std::uint8_t> bytes;
  std::span<const std::uint8_t> hashed() const { return bytes.subspan(1, bytes.size() - 22); }
  std::span<const std::uint8_t> hash() const { return bytes.subspan(bytes.size() - 21, 20); }
};

// A certificate's fields from its expiry on: expiry MMYY, serial (3), hash algorithm,
// key algorithm, key length, exponent length; and the exponent given beside it.
void read_fields(const std::uint8_t* at, std::span<const std::uint8_t> exponent,
                 certificate_fields& f) {
  f.expiry_month = at[0];
  f.expiry_year = at[1];
  std::copy_n(at + 2, 3, f.serial.begin());
  f.hash_algorithm = at[5];
  f.key_algorithm = at[6];
  f.key_length = at[7];
  f.exponent_size = static_cast<std::uint8_t>(std::min<std::size_t>(exponent.size(), 3));
  std::copy_n(exponent.begin(), f.exponent_size, f.exponent.begin());
}

// A certified key: its leftmost bytes in the certificate's field, the rest in the
// remainder element. False when the remainder is too short for the length certified.
bool join_key(std::span<const std::uint8_t> field, std::span<const std::uint8_t> remainder,
              std::size_t length, block& key, std::size_t& size) {
  size = 0;
  if (length <= field.size()) {
    std::copy_n(field.begin(), length, key.begin());
  } else if (remainder.size() >= length - field.size()) {
    std::copy(field.begin(), field.end(), key.begin());
    std::copy_n(remainder.begin(), length - field.size(), key.begin() + field.size());
  } else {
    return false;
  }
  size = length;
  return true;
}

// The signature in a GENERATE AC answer (9F4B in its 77), or empty.
std::span<const std::uint8_t> cda_signature(const kept_generate_ac& generate_ac) {
  tlv_item item;
  if (!read_tlv(generate_ac.answer.view(), item) || item.tag != 0x77) return {};
  for (auto rest = item.value; !rest.empty() && read_tlv(rest, item);
       rest = rest.subspan(item.whole.size())) {
    if (item.tag == 0x9F4B) return item.value;
  }
  return {};
}

// The second GENERATE AC's checks follow the first's, in the same order.
constexpr std::size_t second_cda_offset = static_cast<std::size_t>(check_id::sdad2_length) -
                                          static_cast<std::size_t>(check_id::sdad_length);

struct block_ids {
  check_id length, trailer, header, format, hash_algorithm;
};

class checker {
 public:
  checker(const oda_inputs& in, const ca_key_table& keys, oda_report& report)
      : in_(in), keys_(keys), r_(report) {}
  void run();

 private:
  check_entry& add(check_id id, check_result result) {
    check_entry& entry = r_.checks[r_.check_count++];
    entry.id = id;
    entry.result = result;
    entry.expected.size = entry.found.size = entry.missing.size = 0;
    return entry;
  }
  void ok(check_id id) { add(id, check_result::ok); }
  check_entry& fail(check_id id, std::string_view expected, std::string_view found) {
    check_entry& entry = add(id, check_result::failed);
    entry.expected.set(expected);
    entry.found.set(found);
    return entry;
  }
  void skip(check_id id, std::string_view missing) {
    add(id, check_result::not_checked).missing.set(missing);
  }
  void skip_range(check_id first, check_id last, std::string_view missing) {
    for (auto id = static_cast<std::size_t>(first); id <= static_cast<std::size_t>(last); ++id)
      skip(static_cast<check_id>(id), missing);
  }
  std::span<const std::uint8_t> element_value(element e) const { return in_.get(e).view(); }
  bool has(element e) const { return in_.get(e).present; }

  int try_issuer(const ca_key& key, block& out) const;
  bool check_block(const block_ids& ids, std::span<const std::uint8_t> signature,
                   std::string_view key_name, std::span<const std::uint8_t> modulus,
                   std::span<const std::uint8_t> exponent, std::uint8_t format, block& out);
  void check_hash(check_id id, recovered signed_block,
                  std::span<const std::span<const std::uint8_t>> extra);
  void check_expiry(check_id id, std::uint8_t month, std::uint8_t year);
  void check_algorithm(check_id id, std::uint8_t algorithm);
  bool check_hash_algorithm(check_id id, std::uint8_t algorithm);
  bool check_issuer();
  void build_static_data();
  bool check_icc(bool issuer_ok);
  void check_ssad(bool issuer_ok);
  void check_sdad(bool icc_ok, const kept_generate_ac* generate_ac, std::size_t offset);

  const oda_inputs& in_;
  const ca_key_table& keys_;
  oda_report& r_;

  block issuer_block_{}, icc_block_{}, signed_block_{};
  block issuer_key_{};
  std::size_t issuer_key_size_ = 0;
  block icc_key_{};
  std::size_t icc_key_size_ = 0;

  // The static data to authenticate, as parts; or why it cannot be made.
  std::array<std::span<const std::uint8_t>, max_records + 1> static_parts_{};
  std::size_t static_part_count_ = 0;
  check_result static_result_ = check_result::not_checked;
  short_text static_missing_;
  bool static_built_ = false;

  // The transaction date (YYMMDD), when the data sent names 9A.
  std::span<const std::uint8_t> transaction_date_;
};

// How well a key recovers the issuer certificate: the key with the highest score is the
// one reported, so a certificate with one wrong byte is still read with its own key.
int checker::try_issuer(const ca_key& key, block& out) const {
  const auto signature = element_value(element::issuer_certificate);
  const std::size_t n = key.modulus.size();
  if (signature.size() != n || n < 36 + 22) return 0;
  if (!rsa_public(key.modulus, key.exponent, signature, {out.data(), n})) return 0;
  const recovered rec{{out.data(), n}};
  const auto digest = sha1({rec.hashed(), element_value(element::issuer_remainder),
                            element_value(element::issuer_exponent)});
  const bool hash = std::equal(digest.begin(), digest.end(), rec.hash().begin());
  return (out[0] == 0x6A) + (out[n - 1] == 0xBC) + (out[1] == 0x02) + 3 * hash;
}

bool checker::check_block(const block_ids& ids, std::span<const std::uint8_t> signature,
                          std::string_view key_name, std::span<const std::uint8_t> modulus,
                          std::span<const std::uint8_t> exponent, std::uint8_t format, block& out) {
  const std::size_t n = modulus.size();
  if (signature.size() != n) {
    check_entry& entry = fail(ids.length, {}, {});
    put_number(entry.expected, n);
    entry.expected.add(" bytes (the ");
    entry.expected.add(key_name);
    entry.expected.add(" key's length)");
    put_number(entry.found, signature.size());
    entry.found.add(" bytes");
    skip_range(ids.trailer, ids.hash_algorithm, "the signed block's length is wrong");
    return false;
  }
  ok(ids.length);
  // The smallest block that holds a header, a format, a hash and a trailer.
  if (n < 26 || !rsa_public(modulus, exponent, signature, {out.data(), n})) {
    fail(ids.trailer, "BC", "nothing recovered: the value is not below the key's modulus");
    skip_range(ids.header, ids.hash_algorithm, "nothing recovered");
    return false;
  }
  if (out[n - 1] != 0xBC) {
    check_entry& entry = fail(ids.trailer, "BC", "trailer ");
    put_hex(entry.found, {&out[n - 1], 1});
    skip_range(ids.header, ids.hash_algorithm, "the trailer is wrong: nothing recovered");
    return false;
  }
  ok(ids.trailer);
  if (out[0] != 0x6A) {
    check_entry& entry = fail(ids.header, "6A", "header ");
    put_hex(entry.found, {&out[0], 1});
    skip_range(ids.format, ids.hash_algorithm, "the header is wrong: nothing recovered");
    return false;
  }
  ok(ids.header);
  if (out[1] != format) {
    check_entry& entry = fail(ids.format, {}, "format ");
    put_hex(entry.expected, {&format, 1});
    put_hex(entry.found, {&out[1], 1});
  } else {
    ok(ids.format);
  }
  return true;
}

void checker::check_hash(check_id id, recovered signed_block,
                         std::span<const std::span<const std::uint8_t>> extra) {
  std::array<std::span<const std::uint8_t>, max_records + 8> parts{};
  std::size_t count = 0;
  parts[count++] = signed_block.hashed();
  for (const auto part : extra)
    parts[count++] = part;
  const auto digest = sha1(std::span<const std::span<const std::uint8_t>>(parts.data(), count));
  if (std::equal(digest.begin(), digest.end(), signed_block.hash().begin())) {
    ok(id);
  } else {
    fail(id, {}, "hash does not match");
  }
}

bool checker::check_hash_algorithm(check_id id, std::uint8_t algorithm) {
  if (algorithm == 0x01) {
    ok(id);
    return true;
  }
  check_entry& entry = fail(id, "01 (SHA-1)", {});
  put_hex(entry.found, {&algorithm, 1});
  return false;
}

void checker::check_algorithm(check_id id, std::uint8_t algorithm) {
  if (algorithm == 0x01) {
    ok(id);
    return;
  }
  check_entry& entry = fail(id, "01 (RSA)", {});
  put_hex(entry.found, {&algorithm, 1});
}

void checker::check_expiry(check_id id, std::uint8_t month, std::uint8_t year) {
  if (!is_bcd(month) || !is_bcd(year) || bcd_value(month) < 1 || bcd_value(month) > 12) {
    check_entry& entry = fail(id, "a date MMYY", "expiry ");
    put_hex(entry.found, {&month, 1});
    put_hex(entry.found, {&year, 1});
    return;
  }
  if (transaction_date_.size() != 3 || !is_bcd(transaction_date_[0]) ||
      !is_bcd(transaction_date_[1])) {
    skip(id, "no transaction date in the log");
    return;
  }
  // Years are 2000 to 2099 on both sides, as for 5F24.
  const int expiry = bcd_value(year) * 12 + bcd_value(month);
  const int transaction = bcd_value(transaction_date_[0]) * 12 + bcd_value(transaction_date_[1]);
  if (expiry >= transaction) {
    ok(id);
    return;
  }
  check_entry& entry = fail(id, {}, "certificate expired ");
  put_hex(entry.found, {&month, 1});
  entry.found.add("/");
  put_hex(entry.found, {&year, 1});
  entry.found.add(" before the transaction date 20");
  put_hex(entry.found, transaction_date_.subspan(0, 1));
  entry.found.add("-");
  put_hex(entry.found, transaction_date_.subspan(1, 1));
  entry.found.add("-");
  put_hex(entry.found, transaction_date_.subspan(2, 1));
}

bool checker::check_issuer() {
  const check_id first_after_key = check_id::issuer_certificate_length;
  const check_id last = check_id::issuer_key_algorithm;
  if (in_.aid_size < 5) {
    skip(check_id::ca_key, "no application selected in the log");
    skip_range(first_after_key, last, "no CA key");
    return false;
  }
  std::copy_n(in_.aid.begin(), 5, r_.rid.begin());
  if (!has(element::ca_index) || in_.get(element::ca_index).size != 1) {
    skip(check_id::ca_key, "8F (CA public key index) not in the log");
    skip_range(first_after_key, last, "no CA key");
    return false;
  }
  r_.has_index = true;
  r_.index = element_value(element::ca_index)[0];
  const ca_candidates candidates = keys_.find(r_.rid, r_.index);
  if (candidates.count == 0) {
    short_text missing;
    missing.set("CA key ");
    put_hex(missing, r_.rid);
    missing.add("/");
    put_hex(missing, {&r_.index, 1});
    missing.add(" not known");
    skip(check_id::ca_key, missing.view());
    skip_range(first_after_key, last, "no CA key");
    return false;
  }
  ok(check_id::ca_key);
  r_.key_found = true;
  r_.keys_tried = static_cast<std::uint8_t>(candidates.count);
  // The key that recovers best is the one reported.
  int best = -1;
  for (std::size_t i = 0; i < candidates.count; ++i) {
    const int score = try_issuer(candidates.keys[i], issuer_block_);
    if (score > best) {
      best = score;
      r_.key = candidates.keys[i];
    }
    if (score == 6) break;
  }
  r_.key_recovered = best == 6;
  if (!has(element::issuer_certificate)) {
    skip_range(first_after_key, last, "90 (issuer certificate) not in the log");
    return false;
  }
  r_.has_issuer = true;
  const std::size_t n = r_.key.modulus.size();
  if (n < 36 + 22) {
    skip_range(first_after_key, last, "the CA key is too short for an issuer certificate");
    return false;
  }
  if (!check_block({check_id::issuer_certificate_length, check_id::issuer_certificate_trailer,
                    check_id::issuer_certificate_header, check_id::issuer_certificate_format,
                    check_id::issuer_certificate_hash_algorithm},
                   element_value(element::issuer_certificate), "CA", r_.key.modulus,
                   r_.key.exponent, 0x02, issuer_block_)) {
    skip_range(check_id::issuer_certificate_hash, last, "the issuer certificate did not recover");
    return false;
  }
  bool usable = r_.checks[r_.check_count - 1].result == check_result::ok;
  const std::uint8_t* b = issuer_block_.data();
  certificate_fields& f = r_.issuer;
  f.recovered = true;
  std::array<char, 8> digits{};
  const std::size_t digit_count = bcd_digits({b + 2, 4}, digits);
  f.issuer_digit_count = static_cast<std::uint8_t>(std::min<std::size_t>(digit_count, 6));
  std::copy_n(digits.begin(), f.issuer_digit_count, f.issuer_digits.begin());
  const auto exponent = element_value(element::issuer_exponent);
  read_fields(b + 6, exponent, f);
  usable =
      check_hash_algorithm(check_id::issuer_certificate_hash_algorithm, f.hash_algorithm) && usable;
  // The key: its first part in the certificate, the rest in 92.
  const std::size_t field = n - 36;
  const auto remainder = element_value(element::issuer_remainder);
  if (!has(element::issuer_exponent)) {
    skip(check_id::issuer_certificate_hash, "9F32 (issuer public key exponent) not in the log");
    usable = false;
  } else if (f.key_length > field && !has(element::issuer_remainder)) {
    skip(check_id::issuer_certificate_hash, "92 (issuer public key remainder) not in the log");
    usable = false;
  } else {
    const std::array<std::span<const std::uint8_t>, 2> extra{remainder, exponent};
    check_hash(check_id::issuer_certificate_hash, {{b, n}}, extra);
    usable = usable && r_.checks[r_.check_count - 1].result == check_result::ok;
  }
  usable =
      join_key({b + 15, field}, remainder, f.key_length, issuer_key_, issuer_key_size_) && usable;

  if (!has(element::pan)) {
    skip(check_id::issuer_identifier, "5A (PAN) not in the log");
  } else {
    std::array<char, 19> pan{};
    const std::size_t pan_digits = bcd_digits(element_value(element::pan), pan);
    if (digit_count >= 3 && digit_count <= pan_digits &&
        std::equal(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(digit_count),
                   pan.begin())) {
      ok(check_id::issuer_identifier);
    } else {
      check_entry& entry =
          fail(check_id::issuer_identifier, "the leading digits of the PAN (5A)", "issuer ");
      entry.found.add({f.issuer_digits.data(), f.issuer_digit_count});
      entry.found.add(", which the PAN does not start with");
    }
  }
  check_expiry(check_id::issuer_certificate_expiry, f.expiry_month, f.expiry_year);
  check_algorithm(check_id::issuer_key_algorithm, f.key_algorithm);
  return usable;
}

void checker::build_static_data() {
  static_built_ = true;
  const auto afl = in_.afl.view();
  if (!in_.afl.present) {
    static_missing_.set("94 (AFL) not in the log");
    return;
  }
  for (std::size_t at = 0; at + 4 <= afl.size(); at += 4) {
    const auto sfi = static_cast<std::uint8_t>(afl[at] >> 3);
    for (std::size_t i = 0; i < afl[at + 3]; ++i) {
      const auto number = static_cast<std::uint8_t>(afl[at + 1] + i);
      const kept_record* record = in_.find_record(sfi, number);
      if (record == nullptr) {
        static_missing_.set("record SFI ");
        put_number(static_missing_, sfi);
        static_missing_.add(" record ");
        put_number(static_missing_, number);
        static_missing_.add(" not in the log");
        return;
      }
      std::span<const std::uint8_t> part = record->data.view();
      if (sfi <= 10) {
        tlv_item item;
        if (!read_tlv(part, item) || item.tag != 0x70 || item.whole.size() != part.size()) {
          static_result_ = check_result::failed;
          static_missing_.set("record SFI ");
          put_number(static_missing_, sfi);
          static_missing_.add(" record ");
          put_number(static_missing_, number);
          static_missing_.add(" is not one 70 template");
          return;
        }
        part = item.value;
      }
      static_parts_[static_part_count_++] = part;
    }
  }
  if (has(element::sda_tag_list)) {
    const auto list = element_value(element::sda_tag_list);
    if (list.size() != 1 || list[0] != 0x82) {
      static_result_ = check_result::failed;
      static_missing_.set("9F4A lists ");
      put_hex(static_missing_, list.subspan(0, std::min<std::size_t>(list.size(), 16)));
      return;
    }
    if (!in_.has_aip) {
      static_missing_.set("82 (AIP) not in the log");
      return;
    }
    static_parts_[static_part_count_++] = in_.aip;
  }
  if (in_.records_dropped > 0) {
    static_missing_.set("more records than are kept");
    return;
  }
  static_result_ = check_result::ok;
}

void checker::check_ssad(bool issuer_ok) {
  const check_id first = check_id::ssad_length;
  const check_id last = check_id::ssad_hash;
  if (!issuer_ok) {
    skip_range(first, last, "issuer key not recovered");
    return;
  }
  const auto exponent = element_value(element::issuer_exponent);
  const std::span<const std::uint8_t> key(issuer_key_.data(), issuer_key_size_);
  if (!check_block({check_id::ssad_length, check_id::ssad_trailer, check_id::ssad_header,
                    check_id::ssad_format, check_id::ssad_hash_algorithm},
                   element_value(element::ssad), "issuer", key, exponent, 0x03, signed_block_)) {
    skip(check_id::ssad_hash, "the signed static data did not recover");
    return;
  }
  const std::uint8_t* b = signed_block_.data();
  check_hash_algorithm(check_id::ssad_hash_algorithm, b[2]);
  r_.has_dac = true;
  r_.dac = {b[3], b[4]};
  if (static_result_ != check_result::ok) {
    skip(check_id::ssad_hash, static_missing_.view());
    return;
  }
  check_hash(check_id::ssad_hash, {{b, key.size()}}, {static_parts_.data(), static_part_count_});
}

bool checker::check_icc(bool issuer_ok) {
  const check_id last = check_id::icc_key_algorithm;
  if (!issuer_ok) {
    skip_range(check_id::icc_certificate_length, last, "issuer key not recovered");
    return false;
  }
  if (!has(element::icc_certificate)) {
    skip_range(check_id::icc_certificate_length, last, "9F46 (ICC certificate) not in the log");
    return false;
  }
  r_.has_icc = true;
  const auto issuer_exponent = element_value(element::issuer_exponent);
  const std::span<const std::uint8_t> key(issuer_key_.data(), issuer_key_size_);
  const std::size_t n = key.size();
  if (n < 42 + 22 ||
      !check_block({check_id::icc_certificate_length, check_id::icc_certificate_trailer,
                    check_id::icc_certificate_header, check_id::icc_certificate_format,
                    check_id::icc_certificate_hash_algorithm},
                   element_value(element::icc_certificate), "issuer", key, issuer_exponent, 0x04,
                   icc_block_)) {
    if (r_.checks[r_.check_count - 1].id != check_id::icc_certificate_hash_algorithm) {
      // An issuer key too short for an ICC certificate.
      skip_range(check_id::icc_certificate_length, check_id::icc_certificate_hash_algorithm,
                 "the issuer key is too short for an ICC certificate");
    }
    skip_range(check_id::icc_certificate_hash, last, "the ICC certificate did not recover");
    return false;
  }
  bool usable = r_.checks[r_.check_count - 1].result == check_result::ok;
  const std::uint8_t* b = icc_block_.data();
  certificate_fields& f = r_.icc;
  f.recovered = true;
  const auto exponent = element_value(element::icc_exponent);
  read_fields(b + 12, exponent, f);
  usable =
      check_hash_algorithm(check_id::icc_certificate_hash_algorithm, f.hash_algorithm) && usable;
  const std::size_t field = n - 42;
  const auto remainder = element_value(element::icc_remainder);
  if (!has(element::icc_exponent)) {
    skip(check_id::icc_certificate_hash, "9F47 (ICC public key exponent) not in the log");
    usable = false;
  } else if (f.key_length > field && !has(element::icc_remainder)) {
    skip(check_id::icc_certificate_hash, "9F48 (ICC public key remainder) not in the log");
    usable = false;
  } else if (static_result_ != check_result::ok) {
    skip(check_id::icc_certificate_hash, static_missing_.view());
    usable = false;
  } else {
    std::array<std::span<const std::uint8_t>, max_records + 3> extra{};
    std::size_t count = 0;
    extra[count++] = remainder;
    extra[count++] = exponent;
    for (std::size_t i = 0; i < static_part_count_; ++i)
      extra[count++] = static_parts_[i];
    check_hash(check_id::icc_certificate_hash, {{b, n}}, {extra.data(), count});
    usable = usable && r_.checks[r_.check_count - 1].result == check_result::ok;
  }
  usable = join_key({b + 21, field}, remainder, f.key_length, icc_key_, icc_key_size_) && usable;
  // The card number is compared here and never kept.
  if (!has(element::pan)) {
    skip(check_id::icc_pan, "5A (PAN) not in the log");
  } else {
    std::array<char, 20> certified{}, pan{};
    const std::size_t certified_digits = bcd_digits({b + 2, 10}, certified);
    const std::size_t pan_digits = bcd_digits(element_value(element::pan), pan);
    const bool same = certified_digits == pan_digits &&
                      std::equal(certified.begin(), certified.begin() + pan_digits, pan.begin());
    f.pan = same ? pan_comparison::matches : pan_comparison::does_not_match;
    if (same) {
      ok(check_id::icc_pan);
    } else {
      fail(check_id::icc_pan, "the PAN in 5A", "a PAN that does not match");
    }
  }
  check_expiry(check_id::icc_certificate_expiry, f.expiry_month, f.expiry_year);
  check_algorithm(check_id::icc_key_algorithm, f.key_algorithm);
  return usable;
}

void checker::check_sdad(bool icc_ok, const kept_generate_ac* generate_ac, std::size_t offset) {
  // The second GENERATE AC's checks are the same, `offset` ids on.
  const auto id = [offset](check_id first_set) {
    return static_cast<check_id>(static_cast<std::size_t>(first_set) + offset);
  };
  const check_id last = id(check_id::cda_transaction_data_hash);
  const bool cda = (r_.performed & (method_dda | method_fdda)) == 0;
  const check_id last_signature = cda ? last : id(check_id::sdad_hash);
  if (!icc_ok) {
    skip_range(id(check_id::sdad_length), last_signature, "ICC key not recovered");
    return;
  }
  // Which signature, and the data its hash covers besides the block.
  std::span<const std::uint8_t> signature;
  std::array<std::span<const std::uint8_t>, 4> extra{};
  std::size_t extra_count = 0;
  std::uint8_t format = 0x05;
  short_text missing;
  std::span<const std::uint8_t> answer_template;
  if ((r_.performed & method_dda) != 0) {
    signature = in_.internal_authenticate_sdad.view();
    if (!in_.internal_authenticate_sdad.present)
      missing.set("no signed dynamic data in the INTERNAL AUTHENTICATE answer");
    extra[extra_count++] = in_.internal_authenticate_data.view();
  } else if ((r_.performed & method_fdda) != 0) {
    signature = in_.gpo_sdad.view();
    format = 0x95;
    const auto pdol = element_value(element::pdol);
    const auto data = in_.gpo_data.view();
    const auto unpredictable = dol_value(pdol, data, 0x9F37);
    const auto card_data = element_value(element::card_auth_data);
    if (!has(element::pdol)) {
      missing.set("9F38 (PDOL) not in the log");
    } else if (unpredictable.empty()) {
      missing.set("9F37 not in the GET PROCESSING OPTIONS data");
    }
    extra[extra_count++] = unpredictable;
    if (!card_data.empty() && card_data[0] == 0x01) {
      extra[extra_count++] = dol_value(pdol, data, 0x9F02);
      extra[extra_count++] = dol_value(pdol, data, 0x5F2A);
      extra[extra_count++] = card_data;
    }
  } else {
    if (generate_ac == nullptr) {
      missing.set("no 9F4B in a GENERATE AC answer");
    } else {
      signature = cda_signature(*generate_ac);
      tlv_item answer;
      if (read_tlv(generate_ac->answer.view(), answer)) answer_template = answer.value;
      const bool second = generate_ac != &in_.generate_acs[0];
      const element dol = second ? element::cdol2 : element::cdol1;
      const auto unpredictable = dol_value(element_value(dol), generate_ac->data.view(), 0x9F37);
      if (!has(dol)) {
        missing.set(second ? "8D (CDOL2) not in the log" : "8C (CDOL1) not in the log");
      } else if (unpredictable.empty()) {
        missing.set("9F37 not in the GENERATE AC data");
      }
      extra[extra_count++] = unpredictable;
    }
  }
  if (missing.size > 0 && signature.empty()) {
    skip_range(id(check_id::sdad_length), last_signature, missing.view());
    return;
  }
  const auto exponent = element_value(element::icc_exponent);
  const std::span<const std::uint8_t> key(icc_key_.data(), icc_key_size_);
  if (!check_block(
          {id(check_id::sdad_length), id(check_id::sdad_trailer), id(check_id::sdad_header),
           id(check_id::sdad_format), id(check_id::sdad_hash_algorithm)},
          signature, "ICC", key, exponent, format, signed_block_)) {
    skip_range(id(check_id::sdad_hash), last_signature, "the signed dynamic data did not recover");
    return;
  }
  const std::uint8_t* b = signed_block_.data();
  const std::size_t n = key.size();
  check_hash_algorithm(id(check_id::sdad_hash_algorithm), b[2]);
  // The dynamic data, as far as the block holds it.
  const std::size_t dynamic_size = std::min<std::size_t>(b[3], n - 25);
  const std::span<const std::uint8_t> dynamic(b + 4, dynamic_size);
  if (offset == 0 && !dynamic.empty() && dynamic[0] >= 2 && dynamic[0] <= 8 &&
      dynamic.size() > dynamic[0]) {
    r_.dynamic_number_size = dynamic[0];
    std::copy_n(dynamic.begin() + 1, dynamic[0], r_.dynamic_number.begin());
  }
  if (missing.size > 0) {
    skip(id(check_id::sdad_hash), missing.view());
  } else {
    check_hash(id(check_id::sdad_hash), {{b, n}}, {extra.data(), extra_count});
  }
  if (!cda) return;
  // After the ICC dynamic number: CID, the cryptogram and the transaction data hash.
  const std::size_t at = dynamic.empty() ? 0 : std::size_t{1} + dynamic[0];
  if (at + 1 + 8 + 20 > dynamic.size()) {
    skip_range(id(check_id::cda_cid), last, "the dynamic data is too short for CDA");
    return;
  }
  std::span<const std::uint8_t> cid;
  std::array<std::span<const std::uint8_t>, 40> parts{};
  std::size_t count = 0;
  parts[count++] = in_.gpo_data.view();
  parts[count++] = in_.generate_acs[0].data.view();
  if (generate_ac != &in_.generate_acs[0]) parts[count++] = generate_ac->data.view();
  tlv_item item;
  for (auto rest = answer_template; !rest.empty() && read_tlv(rest, item);
       rest = rest.subspan(item.whole.size())) {
    if (item.tag == 0x9F27) cid = item.value;
    if (item.tag != 0x9F4B && count < parts.size()) parts[count++] = item.whole;
  }
  if (cid.size() != 1) {
    skip(id(check_id::cda_cid), "9F27 not in the GENERATE AC answer");
  } else if (cid[0] != dynamic[at]) {
    check_entry& entry = fail(id(check_id::cda_cid), {}, {});
    put_hex(entry.expected, {&dynamic[at], 1});
    entry.expected.add(" (signed)");
    put_hex(entry.found, cid);
    entry.found.add(" (9F27 in the answer)");
  } else {
    ok(id(check_id::cda_cid));
  }
  const auto digest = sha1(std::span<const std::span<const std::uint8_t>>(parts.data(), count));
  if (std::equal(digest.begin(), digest.end(),
                 dynamic.begin() + static_cast<std::ptrdiff_t>(at) + 9)) {
    ok(id(check_id::cda_transaction_data_hash));
  } else {
    fail(id(check_id::cda_transaction_data_hash), {}, "hash does not match");
  }
}

void checker::run() {
  if (in_.has_aip) {
    if (in_.aip[0] & 0x40) r_.offered |= method_sda;
    if (in_.aip[0] & 0x20) r_.offered |= method_dda;
    if (in_.aip[0] & 0x01) r_.offered |= method_cda;
  }
  // A 93 where the AIP does not name SDA is a placeholder some cards carry.
  if ((r_.offered & method_sda) && has(element::ssad)) r_.performed |= method_sda;
  if (in_.internal_authenticate_seen) r_.performed |= method_dda;
  if (in_.gpo_sdad.present) r_.performed |= method_fdda;
  for (std::size_t i = 0; i < in_.generate_ac_count; ++i) {
    if (in_.generate_acs[i].p1 & 0x10) r_.performed |= method_cda;
  }
  r_.any = r_.offered != 0 || r_.performed != 0 || has(element::ca_index) ||
           has(element::issuer_certificate);
  if (!r_.any) return;

  // The transaction date: from the first GENERATE AC's data, the GPO's or the DDOL's.
  transaction_date_ =
      dol_value(element_value(element::cdol1), in_.generate_acs[0].data.view(), 0x9A);
  if (transaction_date_.empty())
    transaction_date_ = dol_value(element_value(element::pdol), in_.gpo_data.view(), 0x9A);
  if (transaction_date_.empty())
    transaction_date_ =
        dol_value(element_value(element::ddol), in_.internal_authenticate_data.view(), 0x9A);

  const bool dynamic = (r_.performed & (method_dda | method_fdda | method_cda)) != 0;
  const bool sda = (r_.performed & method_sda) != 0;
  const bool icc = dynamic || has(element::icc_certificate);
  const bool issuer_ok = check_issuer();
  if (sda || icc) {
    build_static_data();
    if (static_result_ == check_result::ok) {
      ok(check_id::static_data);
    } else if (static_result_ == check_result::failed) {
      fail(check_id::static_data, "records of one 70 template; 9F4A naming 82 alone",
           static_missing_.view());
    } else {
      skip(check_id::static_data, static_missing_.view());
    }
  }
  if (sda) check_ssad(issuer_ok);
  const bool icc_ok = icc && check_icc(issuer_ok);
  if (!dynamic) return;
  if ((r_.performed & (method_dda | method_fdda)) != 0) {
    check_sdad(icc_ok, nullptr, 0);
    return;
  }
  // CDA: each GENERATE AC whose answer carries a signature, the first two.
  const kept_generate_ac* signed_acs[2] = {nullptr, nullptr};
  std::size_t count = 0;
  for (std::size_t i = 0; i < in_.generate_ac_count && count < 2; ++i) {
    if ((in_.generate_acs[i].p1 & 0x10) != 0 && !cda_signature(in_.generate_acs[i]).empty())
      signed_acs[count++] = &in_.generate_acs[i];
  }
  check_sdad(icc_ok, signed_acs[0], 0);
  if (count == 2) check_sdad(icc_ok, signed_acs[1], second_cda_offset);
}

}  // namespace

// The JSON writer puts the keys between quotes as they are.
static_assert(std::all_of(check_rows.begin(), check_rows.end(), [](const check_row& row) {
  return std::all_of(row.key.begin(), row.key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}));

std::string_view check_key(check_id id) {
  return check_rows[static_cast<std::size_t>(id)].key;
}
std::string_view check_label(check_id id) {
  return check_rows[static_cast<std::size_t>(id)].label;
}

std::string_view result_name(check_result result) {
  switch (result) {
    case check_result::ok:
      return "ok";
    case check_result::failed:
      return "failed";
    case check_result::not_checked:
      return "not checked";
  }
  return "not checked";
}

void short_text::set(std::string_view text) {
  size = 0;
  add(text);
}

void short_text::add(std::string_view text) {
  const std::size_t room = chars.size() - size;
  const std::size_t n = std::min(room, text.size());
  std::copy_n(text.begin(), n, chars.begin() + size);
  size = static_cast<std::uint8_t>(size + n);
}

decimal_digits::decimal_digits(std::size_t n) {
  do {
    chars[--start] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
}

const check_entry* oda_report::first_failure() const {
  for (std::size_t i = 0; i < check_count; ++i) {
    if (checks[i].result == check_result::failed) return &checks[i];
  }
  return nullptr;
}

void oda_report::clear() {
  any = false;
  offered = performed = 0;
  key_found = false;
  key = ca_key{};
  keys_tried = 0;
  key_recovered = false;
  rid = {};
  index = 0;
  has_index = has_issuer = has_icc = false;
  issuer = icc = certificate_fields{};
  has_dac = false;
  dac = {};
  dynamic_number = {};
  dynamic_number_size = 0;
  check_count = 0;  // each check is written whole as it is added
}

void check_oda(const oda_inputs& inputs, const ca_key_table& keys, oda_report& report) {
  report.clear();
  checker(inputs, keys, report).run();
}

}  // namespace emvtlv::oda
