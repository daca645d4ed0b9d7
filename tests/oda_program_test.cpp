// -a's offline data authentication part, from the built program, on the signed
// fixtures of tests/oda (the test CA given with --ca-keys, as a tester would).
#include <gtest/gtest.h>

#include "child_process.h"
#include "oda_fixtures.h"

namespace emvtlv {
namespace {

const std::string test_keys = test::oda_fixtures + "/test-ca-keys.tsv";

test::run_result run(const std::string& input, std::vector<std::string> args) {
  test::run_options options;
  options.args = std::move(args);
  return test::run_program(EMVTLV_PROGRAM, input, options);
}

std::string oda_line(const std::string& out) {
  const std::size_t at = out.find("\n  ODA: ");
  return at == std::string::npos ? "" : out.substr(at + 3, out.find('\n', at + 1) - at - 3);
}

TEST(OdaProgram, EachFixtureSessionNamesItsFirstFailingCheckInTextAndJson) {
  for (const auto& row : test::oda_fixture_rows()) {
    SCOPED_TRACE(row.name);
    const std::string log = test::oda_session_log(row.name);
    const auto text = run(log, {"-a", "--ca-keys=" + test_keys});
    EXPECT_EQ(text.exit_status, 0);
    EXPECT_EQ(text.err, "");
    EXPECT_NE(text.out.find(row.text), std::string::npos) << text.out;
    const std::string first = oda_line(text.out);
    if (row.first_failure == "-") {
      EXPECT_EQ(first.find("first failed check"), std::string::npos) << first;
    } else {
      EXPECT_NE(first.find("first failed check"), std::string::npos) << first;
    }
    const auto json = run(log, {"-aj", "--ca-keys", test_keys});
    const std::string member = "\"first_failure\":\"" + row.first_failure + "\"";
    EXPECT_EQ(json.out.find(member) != std::string::npos, row.first_failure != "-") << json.out;
  }
}

TEST(OdaProgram, TheRecoveredCardNumberIsNeverPrinted) {
  for (const auto& row : test::oda_fixture_rows()) {
    const std::string log = test::oda_session_log(row.name);
    for (const char* mode : {"-a", "-aj"}) {
      const auto out = run(log, {mode, "--ca-keys=" + test_keys}).out;
      SCOPED_TRACE(row.name + " " + mode);
      // The PAN's hidden digits, in any form the certificate or 5A holds them.
      EXPECT_EQ(out.find("91234567"), std::string::npos);
      EXPECT_EQ(out.find("1234567897"), std::string::npos);
      // No recovered block shows whole: the longest hex run is a check value's 40.
      std::size_t run_length = 0, longest = 0;
      const std::string part =
          out.substr(out.find("ODA") == std::string::npos ? out.size() : out.find("ODA"));
      for (const char c : part) {
        run_length = std::isxdigit(static_cast<unsigned char>(c)) ? run_length + 1 : 0;
        longest = std::max(longest, run_length);
      }
      EXPECT_LE(longest, 40u);
    }
  }
}

TEST(OdaProgram, OutputIsTheSameRunTwiceAndAMissingRecordIsNamed) {
  const std::string log = test::oda_session_log("sda_ok");
  const auto first = run(log, {"-a", "--ca-keys=" + test_keys});
  EXPECT_EQ(first.out, run(log, {"-a", "--ca-keys=" + test_keys}).out);
  EXPECT_EQ(oda_line(first.out), "ODA: every check ok");
  // Without the READ RECORD of SFI 11 record 1 (its command and its answer).
  const std::size_t at = log.find("> 00B2015C00\n");
  ASSERT_NE(at, std::string::npos);
  std::string cut = log;
  cut.erase(at, log.find('\n', log.find('\n', at) + 1) + 1 - at);
  EXPECT_EQ(oda_line(run(cut, {"-a", "--ca-keys=" + test_keys}).out),
            "ODA: no check failed; first not checked: static data to authenticate: record SFI "
            "11 record 1 not in the log");
}

TEST(OdaProgram, KeysComeFromTheFileOnlyWhenGiven) {
  const std::string log = test::oda_session_log("dda_ok");
  EXPECT_EQ(
      oda_line(run(log, {"-a"}).out),
      "ODA: no check failed; first not checked: CA key known: CA key F0F0F0F0F0/E1 not known");
  const auto missing = run(log, {"-a", "--ca-keys=/nonexistent/keys.tsv"});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "emvtlv: /nonexistent/keys.tsv: cannot read the CA key file\n");
}

}  // namespace
}  // namespace emvtlv
