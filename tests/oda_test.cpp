// The offline data authentication engine on the signed fixtures of tests/oda (made by
// tests/oda/make_sessions.py with the test keys there; the test CA comes in with its
// key file, as --ca-keys gives it).
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/output_sink.h"
#include "oda/ca_keys.h"
#include "oda/check.h"
#include "oda/collector.h"
#include "oda/report_writers.h"
#include "oda_fixtures.h"

namespace emvtlv::oda {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

struct exchange {
  std::vector<std::uint8_t> command, answer;
  std::uint16_t status = 0;
};

std::vector<exchange> read_session(const std::string& name) {
  std::istringstream in(test::oda_session_log(name));
  std::vector<exchange> session;
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("> ")) session.push_back({bytes_of(line.substr(2)), {}, 0});
    if (!line.starts_with("< ") || session.empty()) continue;
    auto bytes = bytes_of(line.substr(2));
    session.back().status = static_cast<std::uint16_t>(bytes[bytes.size() - 2] << 8 | bytes.back());
    bytes.resize(bytes.size() - 2);
    session.back().answer = bytes;
  }
  return session;
}

const ca_key_table& test_keys() {
  static const ca_key_table table = [] {
    ca_key_table keys;
    std::string messages;
    EXPECT_TRUE(keys.load_file((test::oda_fixtures + "/test-ca-keys.tsv").c_str(), messages));
    EXPECT_EQ(messages, "");
    return keys;
  }();
  return table;
}

oda_report check_session(const std::vector<exchange>& session,
                         const ca_key_table& keys = test_keys()) {
  auto kept = std::make_unique<collector>();
  kept->start_session();
  for (std::size_t i = 0; i < session.size(); ++i)
    kept->take_exchange(session[i].command, session[i].answer, session[i].status, i + 1);
  oda_report report;
  check_oda(kept->inputs(), keys, report);
  return report;
}

std::string text_of(const oda_report& report) {
  output_sink out;
  write_report_text(report, {}, out);
  return std::string(out.view());
}

TEST(OdaFixtures, EachRowReadsAsItsFailingCheckSays) {
  const auto rows = test::oda_fixture_rows();
  ASSERT_GE(rows.size(), 20u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const oda_report report = check_session(read_session(row.name));
    ASSERT_TRUE(report.any);
    const check_entry* failure = report.first_failure();
    EXPECT_EQ(failure == nullptr ? "-" : std::string(check_key(failure->id)), row.first_failure);
    const std::string text = text_of(report);
    EXPECT_NE(text.find(row.text), std::string::npos) << text;
    // The first line of the part names the answer.
    if (failure != nullptr) {
      EXPECT_NE(text.substr(0, text.find('\n')).find(check_label(failure->id)), std::string::npos);
    }
  }
}

TEST(OdaFixtures, VerifyingSessionsReadOkThroughout) {
  struct row {
    const char* name;
    std::uint8_t performed;
    std::size_t checks;
  };
  for (const auto& [name, performed, checks] :
       {row{"sda_ok", method_sda, 26}, row{"dda_ok", method_dda, 26},
        row{"fdda_ok", method_fdda, 26}, row{"cda_ok", method_cda, 28},
        row{"cda_two_generate_acs_ok", method_cda, 36}}) {
    SCOPED_TRACE(name);
    const oda_report report = check_session(read_session(name));
    EXPECT_EQ(report.performed, performed);
    EXPECT_EQ(report.check_count, checks);
    for (std::size_t i = 0; i < report.check_count; ++i)
      EXPECT_EQ(report.checks[i].result, check_result::ok) << check_key(report.checks[i].id);
    // The decoy key under the same index was tried first; the test CA's is named.
    EXPECT_EQ(report.keys_tried, 2);
    EXPECT_EQ(report.key.kind, "test");
    EXPECT_EQ(std::string(report.issuer.issuer_digits.data(), report.issuer.issuer_digit_count),
              "499999");
    EXPECT_EQ(report.issuer.key_length, 128);
    EXPECT_EQ(report.icc.key_length, 96);
    EXPECT_EQ(report.icc.pan, pan_comparison::matches);
  }
  EXPECT_TRUE(check_session(read_session("sda_ok")).has_dac);
  EXPECT_EQ(check_session(read_session("dda_ok")).dynamic_number_size, 8);
}

// The fDDA signature moved from the GET PROCESSING OPTIONS answer into a record read
// after it, as some contactless cards give it.
TEST(OdaFixtures, AnFddaSignatureInARecordIsCheckedAsInTheGpoAnswer) {
  auto session = read_session("fdda_ok");
  auto& gpo = session[1];
  ASSERT_EQ(gpo.command[1], 0xA8);
  tlv_item answer, item;
  ASSERT_TRUE(read_tlv(gpo.answer, answer));
  std::vector<std::uint8_t> kept, signature;
  for (auto rest = answer.value; !rest.empty() && read_tlv(rest, item);
       rest = rest.subspan(item.whole.size())) {
    auto& to = item.tag == 0x9F4B ? signature : kept;
    to.insert(to.end(), item.whole.begin(), item.whole.end());
  }
  ASSERT_FALSE(signature.empty());
  const auto templated = [](std::uint8_t tag, const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> out{tag};
    if (value.size() > 127) out.push_back(0x81);
    out.push_back(static_cast<std::uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    return out;
  };
  gpo.answer = templated(0x77, kept);
  session.push_back({{0x00, 0xB2, 0x02, 0x1C, 0x00}, templated(0x70, signature), 0x9000});
  const oda_report report = check_session(session);
  EXPECT_EQ(report.performed, method_fdda);
  EXPECT_EQ(report.first_failure(), nullptr);
  EXPECT_EQ(report.checks[report.check_count - 1].id, check_id::sdad_hash);
  EXPECT_EQ(report.checks[report.check_count - 1].result, check_result::ok);
}

TEST(OdaFixtures, WithoutTheTestKeyTheCaKeyIsNotKnown) {
  const ca_key_table builtin_only;
  const oda_report report = check_session(read_session("dda_ok"), builtin_only);
  EXPECT_EQ(report.checks[0].result, check_result::not_checked);
  EXPECT_EQ(report.checks[0].missing.view(), "CA key F0F0F0F0F0/E1 not known");
  EXPECT_EQ(report.first_failure(), nullptr);
}

// Where an input sits in a session: an element's value in an answer, a record's value
// (inside its 70), or a command's data bytes [from, to).
struct input_place {
  std::uint32_t tag = 0;             // an element's value
  std::uint8_t sfi = 0, record = 0;  // a record
  std::uint8_t ins = 0;              // a command's data
  std::size_t from = 0, to = 0;
};

// The byte positions of the input, as (exchange, is_answer, offset).
std::vector<std::tuple<std::size_t, bool, std::size_t>> positions(const std::vector<exchange>& s,
                                                                  const input_place& p) {
  std::vector<std::tuple<std::size_t, bool, std::size_t>> found;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto& c = s[i].command;
    if (p.ins != 0 && c[1] == p.ins) {
      for (std::size_t at = p.from; at < p.to; ++at)
        found.emplace_back(i, false, 5 + at);
      return found;
    }
    if (p.sfi != 0 && c[1] == 0xB2 && c[2] == p.record && c[3] == (p.sfi << 3 | 4)) {
      tlv_item item;
      EXPECT_TRUE(read_tlv(s[i].answer, item));
      const std::size_t start = static_cast<std::size_t>(item.value.data() - s[i].answer.data());
      for (std::size_t at = 0; at < item.value.size(); ++at)
        found.emplace_back(i, true, start + at);
      return found;
    }
    if (p.tag == 0) continue;
    // The element, in a record or a template one level down.
    std::vector<std::span<const std::uint8_t>> levels{s[i].answer};
    while (!levels.empty()) {
      auto rest = levels.back();
      levels.pop_back();
      tlv_item item;
      while (!rest.empty() && read_tlv(rest, item)) {
        rest = rest.subspan(item.whole.size());
        if (item.constructed) levels.push_back(item.value);
        if (item.tag != p.tag) continue;
        const std::size_t start = static_cast<std::size_t>(item.value.data() - s[i].answer.data());
        for (std::size_t at = 0; at < item.value.size(); ++at)
          found.emplace_back(i, true, start + at);
        return found;
      }
    }
  }
  return found;
}

std::set<std::string> ids(std::initializer_list<check_id> list) {
  std::set<std::string> out;
  for (const auto id : list)
    out.emplace(check_key(id));
  return out;
}

std::set<std::string> range(check_id first, check_id last) {
  std::set<std::string> out;
  for (auto i = static_cast<std::size_t>(first); i <= static_cast<std::size_t>(last); ++i)
    out.emplace(check_key(static_cast<check_id>(i)));
  return out;
}

std::set<std::string> operator+(std::set<std::string> a, const std::set<std::string>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

// Flipping any one byte of a signed input turns exactly the checks that read it (or a key
// recovered from it) from ok to not ok, the first of them failed (the checks after a key
// that no longer recovers are not checked); every other check stays ok.
TEST(OdaProperty, FlippingOneByteOfASignedInputFailsExactlyTheChecksThatReadIt) {
  using enum check_id;
  const auto icc_all = range(icc_certificate_length, icc_key_algorithm);
  const auto sdad_all = range(sdad_length, sdad_hash);
  const auto cda_all = range(sdad_length, cda_transaction_data_hash);
  const auto after_issuer = range(icc_certificate_length, cda_transaction_data_hash);
  struct row {
    const char* session;
    input_place place;
    std::set<std::string> reading;
  };
  const std::vector<row> rows{
      {"dda_ok",
       {.tag = 0x90},
       range(issuer_certificate_trailer, issuer_key_algorithm) + after_issuer},
      {"dda_ok", {.tag = 0x92}, ids({issuer_certificate_hash}) + after_issuer},
      {"dda_ok", {.tag = 0x9F32}, ids({issuer_certificate_hash}) + after_issuer},
      {"dda_ok", {.tag = 0x9F46}, range(icc_certificate_trailer, icc_key_algorithm) + sdad_all},
      {"dda_ok", {.tag = 0x9F47}, ids({icc_certificate_hash}) + sdad_all},
      {"dda_ok", {.tag = 0x9F48}, ids({icc_certificate_hash}) + sdad_all},
      {"dda_ok", {.sfi = 11, .record = 1}, ids({icc_certificate_hash}) + sdad_all},
      {"dda_ok", {.tag = 0x80}, range(sdad_trailer, sdad_hash)},
      {"dda_ok", {.ins = 0x88, .from = 0, .to = 4}, ids({sdad_hash})},
      {"sda_ok", {.tag = 0x93}, range(ssad_trailer, ssad_hash)},
      {"sda_ok", {.sfi = 3, .record = 1}, ids({ssad_hash, icc_certificate_hash})},
      {"sda_ok", {.sfi = 11, .record = 1}, ids({ssad_hash, icc_certificate_hash})},
      {"cda_ok", {.tag = 0x9F4B}, range(sdad_trailer, cda_transaction_data_hash)},
      {"cda_ok", {.tag = 0x9F36}, ids({cda_transaction_data_hash})},
      {"cda_ok", {.tag = 0x9F10}, ids({cda_transaction_data_hash})},
      // The amount in the CDOL data; the unpredictable number goes into both hashes.
      {"cda_ok", {.ins = 0xAE, .from = 0, .to = 6}, ids({cda_transaction_data_hash})},
      {"cda_ok", {.ins = 0xAE, .from = 25, .to = 29}, ids({sdad_hash, cda_transaction_data_hash})},
      {"fdda_ok", {.tag = 0x9F4B}, range(sdad_trailer, sdad_hash)},
      {"fdda_ok", {.ins = 0xA8, .from = 2, .to = 6}, ids({sdad_hash})},
  };
  (void)cda_all;
  (void)icc_all;
  for (const auto& r : rows) {
    const auto session = read_session(r.session);
    const auto where = positions(session, r.place);
    ASSERT_FALSE(where.empty()) << r.session;
    const oda_report clean = check_session(session);
    for (const auto& [index, in_answer, offset] : where) {
      auto changed = session;
      auto& bytes = in_answer ? changed[index].answer : changed[index].command;
      bytes[offset] ^= 0x01;
      const oda_report report = check_session(changed);
      SCOPED_TRACE(std::string(r.session) + " exchange " + std::to_string(index) + " byte " +
                   std::to_string(offset));
      ASSERT_EQ(report.check_count, clean.check_count);
      bool first = true;
      for (std::size_t i = 0; i < report.check_count; ++i) {
        const std::string key(check_key(report.checks[i].id));
        if (!r.reading.contains(key)) {
          EXPECT_EQ(report.checks[i].result, check_result::ok) << key;
          continue;
        }
        // A garbled block ends in BC once in 256: the header check then catches it.
        if (key.ends_with("_trailer") && report.checks[i].result == check_result::ok) continue;
        EXPECT_NE(report.checks[i].result, check_result::ok) << key;
        if (first) {
          EXPECT_EQ(report.checks[i].result, check_result::failed) << key;
        }
        first = false;
      }
    }
  }
}

TEST(OdaKeys, AFileRowWithAWrongCheckValueIsRefusedAndNamed) {
  std::string text = test::read_file(test::oda_fixtures + "/test-ca-keys.tsv");
  const std::size_t tab = text.find('\t', text.find('\n'));  // after the first row's RID
  text[tab + 1] = text[tab + 1] == 'E' ? 'F' : 'E';          // its index
  ca_key_table keys;
  std::string messages;
  keys.load_text(text, "keys.tsv", messages);
  EXPECT_EQ(messages, "emvtlv: keys.tsv:2: the check value does not match the key; key not used\n");
  EXPECT_EQ(keys.find(bytes_of("F0F0F0F0F0"), 0xE1).count, 1u);
}

TEST(OdaKeys, TheBuiltInTableHoldsEveryPublishedKey) {
  EXPECT_EQ(builtin_ca_key_count(), 140u);
  const ca_key_table keys;
  // The Visa test key of the published table's example, by its check value.
  const ca_candidates visa = keys.find(bytes_of("A000000003"), 0x92);
  ASSERT_GE(visa.count, 1u);
  EXPECT_EQ(visa.keys[0].modulus.size(), 176u);
  const auto check = bytes_of("429C954A3859CEF91295F663C963E582ED6EB253");
  EXPECT_TRUE(std::equal(check.begin(), check.end(), visa.keys[0].check.begin()));
}

// A key file may give any key; one too short to hold a certificate is said so.
TEST(OdaKeys, ACaKeyTooShortForACertificateIsNamedNotUsed) {
  std::array<std::uint8_t, 32> modulus{};
  modulus.fill(0xC1);
  const std::array<std::uint8_t, 6> rid_index{0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xE1};
  const std::uint8_t exponent = 3;
  const auto check = sha1({rid_index, modulus, {&exponent, 1}});
  std::string row = "F0F0F0F0F0\tE1\t03\t" + std::string(64, '0') + "\t";
  for (std::size_t i = 0; i < 32; ++i)
    row.replace(2 * i + 17, 2, "C1");
  static constexpr char digits[] = "0123456789ABCDEF";
  for (const auto b : check)
    row += {digits[b >> 4], digits[b & 15]};
  ca_key_table keys;
  std::string messages;
  keys.load_text(row + "\n", "short.tsv", messages);
  ASSERT_EQ(messages, "");
  const oda_report report = check_session(read_session("dda_ok"), keys);
  EXPECT_EQ(report.checks[0].result, check_result::ok);
  EXPECT_EQ(report.checks[1].missing.view(), "the CA key is too short for an issuer certificate");
}

}  // namespace
}  // namespace emvtlv::oda
