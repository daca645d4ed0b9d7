#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "memory_io.h"
#include "modes/trace_mode.h"
#include "trace/commands.h"
#include "trace/dol.h"
#include "trace/segments.h"

namespace emvtlv {
namespace {

std::string run_trace(std::string_view input, tree_mode_options options = {},
                      std::size_t step = 1 << 20) {
  test::string_input in{input, step};
  test::string_output out;
  EXPECT_EQ(run_trace_mode(in.source(), out.target(), options), 0);
  return out.text;
}

std::string json_options_run(std::string_view input) {
  tree_mode_options options;
  options.output = tree_mode_options::format::json;
  return run_trace(input, options);
}

// The output lines that start with `start` (after any indentation), in order.
std::vector<std::string> lines_with(const std::string& text, std::string_view start) {
  std::vector<std::string> found;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    const std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && line.compare(first, start.size(), start) == 0)
      found.push_back(line.substr(first));
    at = end + 1;
  }
  return found;
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

std::string hex_of(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

// Line forms ---------------------------------------------------------------------------

// A line's segments as "label:HEX" joined by spaces; "~" marks a dropped odd digit, "!"
// a list cut by a placeholder word.
std::string segments_of(std::string_view text) {
  static constexpr std::array<std::string_view, 8> names = {"none", "command", "response", "status",
                                                            "sw1",  "sw2",     "expected", "atr"};
  std::vector<std::uint8_t> buffer(text.size() / 2 + 1);
  trace::line_segments got;
  trace::split_segments(text, buffer, got);
  std::string out;
  for (const trace::segment& seg : got.view()) {
    if (!out.empty()) out += ' ';
    out += names[static_cast<std::size_t>(seg.label)];
    out += ':';
    out += hex_of(std::span<const std::uint8_t>(buffer).subspan(seg.offset, seg.size));
    if (seg.odd_digit) out += '~';
    if (seg.placeholder) out += '!';
  }
  return out;
}

struct form_case {
  std::string text;
  std::string segments;
};

void PrintTo(const form_case& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.text);
}

class LineForms : public ::testing::TestWithParam<form_case> {};

TEST_P(LineForms, ReadAsTheLogMeantThem) {
  EXPECT_EQ(segments_of(GetParam().text), GetParam().segments);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LineForms,
    ::testing::Values(
        form_case{"00A4040007A000000003101000", "none:00A4040007A000000003101000"},
        form_case{"00 a4 04 00 07 a0 00 00 00 03 10 10 00\r", "none:00A4040007A000000003101000"},
        form_case{"> 00A40400", "command:00A40400"}, form_case{">>00A40400", "command:00A40400"},
        form_case{"=> 00 A4 04 00", "command:00A40400"},
        form_case{"-> 00A40400", "command:00A40400"}, form_case{"--> 00A40400", "command:00A40400"},
        form_case{"C-APDU: 00A40400", "command:00A40400"},
        form_case{"capdu 00a40400", "command:00A40400"},
        form_case{"C: 00A40400", "command:00A40400"}, form_case{"C:00A40400", "command:00A40400"},
        form_case{"tx: 80A8000002830000", "command:80A8000002830000"},
        form_case{"REQ 00B2010C00", "command:00B2010C00"},
        form_case{"Command: 00B2010C00", "command:00B2010C00"},
        form_case{"[2026-12-07 12:00:01.123] >> 00B2010C00", "command:00B2010C00"},
        form_case{"0012 14:03:22.517 C-APDU 00B2010C00", "command:00B2010C00"},
        form_case{"select PPSE command length 20 data: 00A404000E", "command:00A404000E"},
        form_case{"[000001] C-APDU: 00 A4 04 00", "command:00A40400"},
        form_case{"[006250] R-APDU: ", ""},
        form_case{"12:00:36.036 TX 00a404000e", "command:00A404000E"},
        form_case{"< 9000", "response:9000"}, form_case{"<< 6F00 9000", "response:6F009000"},
        form_case{"<= 9000", "response:9000"}, form_case{"<- 9000", "response:9000"},
        form_case{"<-- 9000", "response:9000"}, form_case{"R-APDU: 9000", "response:9000"},
        form_case{"rapdu 9000", "response:9000"}, form_case{"R: 9000", "response:9000"},
        form_case{"RX 9000", "response:9000"}, form_case{"res: 9000", "response:9000"},
        form_case{"RESPONSE 9F1701039000", "response:9F1701039000"},
        form_case{"SW1SW2: 9000", "status:9000"}, form_case{"SW: 6A 82", "status:6A82"},
        form_case{"90 00", "none:9000"}, form_case{"", ""}, form_case{"card added", ""},
        form_case{"--- reader ready ---", ""}, form_case{"BEEF", ""},
        form_case{"> 00A", "command:00~"}, form_case{"00A40", "none:00A4~"},
        form_case{"SW: 90 00 12", "status:900012"},
        // Text after the hex, in brackets, quotes, comments.
        form_case{"Tx: [00 A4 04 00 06 A0 00 00 09 99 01 00]", "command:00A4040006A0000009990100"},
        form_case{"Rx: [6F 08 84 06 A0 00 00 09 99 01 90 00]", "response:6F088406A000000999019000"},
        form_case{"- req: '00 A4 04 00 06'", "command:00A4040006"},
        form_case{"Request1: 00B2010C00 (select)", "command:00B2010C00"},
        form_case{"send: 00B2010C00 [4S]", "command:00B2010C00"},
        // Labels.
        form_case{"Recv: 6A82", "response:6A82"},
        form_case{"Send: 00B2010C00", "command:00B2010C00"},
        form_case{"Response1: 6A83", "response:6A83"},
        form_case{"SELECT returned: 6A82 - file not found", "response:6A82"},
        form_case{">c-apdu: 00 B2 01 0C 00", "command:00B2010C00"},
        form_case{"<r-apdu: 70 03 88 01 01", "response:7003880101"},
        form_case{"DEBUG:emv.transmission:Tx: 00B2010C00", "command:00B2010C00"},
        form_case{"Expt: 90 00", "expected:9000"},
        // Several APDUs a line.
        form_case{"Send: 00B2010C00 Recv: 6A83", "command:00B2010C00 response:6A83"},
        // Status forms.
        form_case{"sw 90 00", "status:9000"},
        form_case{"rx: [], SW1: 6a, SW2: 82", "sw1:6A! sw2:82"},
        form_case{"Recv: 9000 6F08", "response:90006F08"},
        // Byte lists; a placeholder inside one cuts it.
        form_case{">> 0x00,0xA4,0x04,0x00", "command:00A40400"},
        form_case{"C-APDU: SELECT: [00, A4, 04, 00]", "command:00A40400"},
        form_case{"Raw: 0x6F009000", "none:6F009000"},
        form_case{"C-APDU: [00, 20, 00, 80, 08, <pin>, FF]", "command:0020008008!"},
        // A cut-off tail.
        form_case{"Request2: 00B2010C00 Response2: 700", "command:00B2010C00 response:70~"},
        // Prose and ATR.
        form_case{"# read SFI 1 record 1 00B2010C00", ""}, form_case{"read SFI 1 record 1", ""},
        form_case{"ATR: 3B 8A 80 01", "atr:3B8A8001"},
        // A letter that is no hex digit is no separator.
        form_case{"00B2g010C00", ""}, form_case{"0g 00B2010C00", "none:00B2010C00"},
        form_case{"00B2010C00g 9000", "none:9000"}));

// Commands named and read ----------------------------------------------------------------

struct header_case {
  std::string command;
  std::string first;
};

void PrintTo(const header_case& c, std::ostream* os) {
  *os << c.command;
}

class CommandHeaders : public ::testing::TestWithParam<header_case> {};

TEST_P(CommandHeaders, NameTheCommandAndReadItsHeader) {
  EXPECT_EQ(first_line(run_trace("> " + GetParam().command + "\n< 9000\n")), GetParam().first);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandHeaders,
    ::testing::Values(
        header_case{"00A404000E325041592E5359532E444446303100",
                    "SELECT by name, first occurrence: 2PAY.SYS.DDF01 (PPSE, contactless)"},
        header_case{"00A404000E315041592E5359532E444446303100",
                    "SELECT by name, first occurrence: 1PAY.SYS.DDF01 (PSE, contact)"},
        header_case{"00A4040207A000000003101000",
                    "SELECT by name, next occurrence: A0000000031010 (Visa, C-3, Visa "
                    "credit/debit)"},
        header_case{"00A4040107A000000003101000",
                    "SELECT by name, P2 01: A0000000031010 (Visa, C-3, Visa credit/debit)"},
        header_case{"00A4040006A0000000250100",
                    "SELECT by name, first occurrence: A00000002501 (American Express, C-4)"},
        header_case{"00B2020C00", "READ RECORD: SFI 1, record 2"},
        header_case{"00B2011C00", "READ RECORD: SFI 3, record 1"},
        header_case{"00B2010000", "READ RECORD: P1 01, P2 00 (P1 is not a record number)"},
        header_case{"80A8000002830000", "GET PROCESSING OPTIONS"},
        header_case{"80AE9000020000", "GENERATE AC: ARQC requested, CDA requested"},
        header_case{"80AE400000", "GENERATE AC: TC requested"},
        header_case{"80AE000000", "GENERATE AC: AAC requested"},
        header_case{"80CA9F1700", "GET DATA: 9F17 PIN Try Counter"},
        header_case{"80CA9F3600", "GET DATA: 9F36 Application Transaction Counter (ATC)"},
        header_case{"0020008008241234FFFFFFFFFF", "VERIFY: plaintext offline PIN"},
        header_case{"002000880401020304", "VERIFY: enciphered offline PIN"},
        header_case{"0084000008", "GET CHALLENGE"},
        header_case{"00820000080102030405060708", "EXTERNAL AUTHENTICATE"},
        header_case{"00C000001C", "GET RESPONSE: Le 28"},
        header_case{"841E0000040A0B0C0D", "APPLICATION BLOCK: secure messaging"},
        header_case{"8418000000", "APPLICATION UNBLOCK: secure messaging"},
        header_case{"8C16000000", "CARD BLOCK: secure messaging"},
        header_case{"842400000401020304", "PIN CHANGE/UNBLOCK: unblock"},
        header_case{"842400020401020304", "PIN CHANGE/UNBLOCK: change"},
        header_case{"802A8E800401020304", "COMPUTE CRYPTOGRAPHIC CHECKSUM"},
        header_case{"80EA00000401020304", "EXCHANGE RELAY RESISTANCE DATA"},
        header_case{"008800000401020304", "INTERNAL AUTHENTICATE"},
        header_case{"0012345600", "command INS 12 (CLA 00, P1 34, P2 56)"},
        header_case{"00A404", "(not a command)"}));

struct length_case {
  std::string command;
  std::vector<std::string> problems;
};

void PrintTo(const length_case& c, std::ostream* os) {
  *os << c.command;
}

class LcAndLe : public ::testing::TestWithParam<length_case> {};

TEST_P(LcAndLe, AreCheckedAgainstTheLine) {
  EXPECT_EQ(lines_with(run_trace("> " + GetParam().command + "\n< 9000\n"), "problem: "),
            GetParam().problems);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LcAndLe,
    ::testing::Values(length_case{"0084000000", {}},        // case 2
                      length_case{"00B2010C", {}},          // case 1
                      length_case{"00820000020102", {}},    // case 3
                      length_case{"0082000002010200", {}},  // case 4
                      length_case{"00820000040102",         // data cut
                                  {"problem: Lc says 4 data bytes, the line holds 2 after it"}},
                      length_case{"0082000001010203",  // bytes after Le
                                  {"problem: Lc says 1 data byte, the line holds 3 after it"}},
                      length_case{"00A404",
                                  {"problem: not a command: 3 bytes, a command has at least 4"}}));

// Status words by command -----------------------------------------------------------------

struct status_case {
  std::string command;
  std::string answer;
  std::string status;
};

void PrintTo(const status_case& c, std::ostream* os) {
  *os << c.command << " " << c.answer;
}

class StatusByCommand : public ::testing::TestWithParam<status_case> {};

TEST_P(StatusByCommand, MeanWhatTheyMeanAfterTheirCommand) {
  const std::string out = run_trace(GetParam().command + "\n" + GetParam().answer + "\n");
  EXPECT_EQ(lines_with(out, "status: "), std::vector<std::string>{GetParam().status});
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusByCommand,
    ::testing::Values(
        status_case{"0020008008241234FFFFFFFFFF", "63C2", "status: 63C2 (wrong PIN, 2 tries left)"},
        status_case{"0020008008241234FFFFFFFFFF", "63C1", "status: 63C1 (wrong PIN, 1 try left)"},
        status_case{"0020008008241234FFFFFFFFFF", "6983",
                    "status: 6983 (PIN try limit exceeded, PIN blocked)"},
        status_case{"0020008008241234FFFFFFFFFF", "9000", "status: 9000 (PIN correct)"},
        status_case{"00B2050C00", "6A83", "status: 6A83 (record not found)"},
        status_case{"80A8000002830000", "6985",
                    "status: 6985 (conditions of use not satisfied: the card refuses this "
                    "transaction)"},
        status_case{"80CA9F4F00", "6A88",
                    "status: 6A88 (referenced data not found: the card does not hold that tag)"},
        status_case{"00A404000E315041592E5359532E444446303100", "6A82",
                    "status: 6A82 (file or application not found)"},
        status_case{"00A4040007A000000004101000", "6283",
                    "status: 6283 (selected file invalidated: the application is blocked)"},
        status_case{"00820000080102030405060708", "6300", "status: 6300 (authentication failed)"},
        status_case{"0084000008", "6D00", "status: 6D00 (instruction code not supported)"},
        status_case{"00B2010C00", "6C1C", "status: 6C1C (wrong Le, the exact length is 28)"}));

TEST(TraceStatus, StandsAloneOnTheNextLineInAnyLabel) {
  for (const char* status : {"90 00", "SW1SW2: 9000", "SW: 90 00", "< 9000"}) {
    const std::string out = run_trace(std::string("> 80CA9F1700\n< 9F170103\n") + status + "\n");
    EXPECT_EQ(lines_with(out, "9F17 "), std::vector<std::string>{"9F17 PIN Try Counter: 03"})
        << status;
    EXPECT_EQ(lines_with(out, "status: "), std::vector<std::string>{"status: 9000 (success)"})
        << status;
    EXPECT_EQ(lines_with(out, "problem: "), std::vector<std::string>{}) << status;
  }
}

TEST(TraceStatus, UnlabelledLinesAlternateStartingWithACommand) {
  const std::string out = run_trace(
      "session start\n00B2010C00\n7003880101 9000\n\nreader says hello\n00B2020C00\n6A83\n");
  EXPECT_EQ(
      lines_with(out, "READ RECORD"),
      (std::vector<std::string>{"READ RECORD: SFI 1, record 1", "READ RECORD: SFI 1, record 2"}));
  EXPECT_EQ(
      lines_with(out, "status: "),
      (std::vector<std::string>{"status: 9000 (success)", "status: 6A83 (record not found)"}));
  tree_mode_options numbered;
  numbered.line_numbers = true;
  // Prose and blank lines count: the second command is line 6.
  EXPECT_EQ(lines_with(run_trace("session start\n00B2010C00\n7003880101 9000\n\nreader says "
                                 "hello\n00B2020C00\n6A83\n",
                                 numbered),
                       "6:READ RECORD"),
            std::vector<std::string>{"6:READ RECORD: SFI 1, record 2"});
}

TEST(TraceStatus, ReportsWhatIsMissingAndGoesOn) {
  const std::string out = run_trace("> 00B2010C00\n> 00B2020C00\n< 9000\n< 9000\n> 00A\n");
  EXPECT_EQ(
      lines_with(out, "problem: "),
      (std::vector<std::string>{"problem: no answer logged", "problem: an answer with no command",
                                "problem: not a command: 1 byte, a command has at least 4",
                                "problem: odd number of hex digits: the last one is dropped",
                                "problem: no answer logged"}));
  EXPECT_EQ(lines_with(out, "answer with no command"),
            std::vector<std::string>{"answer with no command:"});
}

TEST(TraceStatus, AStatusLabelOverOtherThanTwoBytesIsABadLine) {
  const std::string input = "> 00B2010C00\nSW: 6A\n> 00B2020C00\n< 6A83\n";
  const std::string out = run_trace(input);
  EXPECT_EQ(lines_with(out, "line 2: "),
            std::vector<std::string>{"line 2: a status word is two bytes"});
  EXPECT_EQ(lines_with(out, "problem: "), std::vector<std::string>{"problem: no answer logged"});
  EXPECT_EQ(lines_with(out, "status: "),
            std::vector<std::string>{"status: 6A83 (record not found)"});
  // Nothing a run before left in the buffers shows.
  trace_mode_buffers buffers;
  for (const std::string_view before :
       {std::string_view("> 00B2010C00\n< 70089F1701035F2A020978 9000\n"),
        std::string_view(input)}) {
    test::string_input in{before, 1 << 20};
    test::string_output ignored;
    EXPECT_EQ(run_trace_mode(in.source(), ignored.target(), {}, buffers), 0);
  }
  test::string_input in{input, 1 << 20};
  test::string_output again;
  EXPECT_EQ(run_trace_mode(in.source(), again.target(), {}, buffers), 0);
  EXPECT_EQ(again.text, out);
}

// Joining ------------------------------------------------------------------------------------

TEST(TraceJoin, GetResponseCompletesTheAnswerOfTheCommandBefore) {
  const std::string out = run_trace(
      "> 00A404000E315041592E5359532E444446303100\n< 6F15840E3150415961 17\n"
      "> 00C0000017\n< 2E5359532E4444463031A5038801019000\n");
  EXPECT_EQ(out,
            "SELECT by name, first occurrence: 1PAY.SYS.DDF01 (PSE, contact)\n"
            "  status: 6117 (23 more bytes available)\n"
            "GET RESPONSE (Le 17)\n"
            "  answer:\n"
            "    6F File Control Information (FCI) Template\n"
            "      84 Dedicated File (DF) Name: 315041592E5359532E4444463031\n"
            "      A5 File Control Information (FCI) Proprietary Template\n"
            "        88 Short File Identifier (SFI): 01\n"
            "  status: 9000 (success)\n"
            "summary of session 1, lines 1-4:\n"
            "  application: none selected, contact\n"
            "  AIP: not seen\n"
            "  records the AFL lists: no AFL seen\n"
            "  offline data authentication: no CDA requested\n"
            "  CVM: no VERIFY; CVM Results the terminal sent: none\n"
            "  outcome: no GENERATE AC\n"
            "  problems: 0\n");
}

TEST(TraceJoin, AResentCommandGivesTheAnswerOfTheFirst) {
  const std::string out =
      run_trace("00B2010C00\n6C05\n00B2010C05\n7003880101\n9000\n00B2020C00\n6A83\n");
  EXPECT_EQ(lines_with(out, "READ RECORD"),
            (std::vector<std::string>{"READ RECORD: SFI 1, record 1",
                                      "READ RECORD: SFI 1, record 1 (resent with Le 05)",
                                      "READ RECORD: SFI 1, record 2"}));
  EXPECT_EQ(lines_with(out, "88 "), std::vector<std::string>{"88 Short File Identifier (SFI): 01"});
  EXPECT_EQ(
      lines_with(out, "status: "),
      (std::vector<std::string>{"status: 6C05 (wrong Le, the exact length is 5)",
                                "status: 9000 (success)", "status: 6A83 (record not found)"}));
}

TEST(TraceJoin, A61WithoutGetResponseStaysItsOwnAnswer) {
  const std::string out = run_trace("> 00B2010C00\n< 6110\n> 00B2020C00\n< 6A83\n");
  EXPECT_EQ(lines_with(out, "status: "),
            (std::vector<std::string>{"status: 6110 (16 more bytes available)",
                                      "status: 6A83 (record not found)"}));
}

// DOL split ----------------------------------------------------------------------------------

// A SELECT of a Visa application whose answer carries PDOL 9F66 04 9F02 06 9F37 04 5F2A 02.
constexpr std::string_view visa_select =
    "> 00A4040007A000000003101000\n"
    "< 6F208407A0000000031010A5155004564953419F380C9F66049F02069F37045F2A029000\n";

struct split_case {
  std::string name;
  std::string before;  // the session up to the command
  std::string command;
  std::string expected;  // from the command's data line to before the answer
};

void PrintTo(const split_case& c, std::ostream* os) {
  *os << c.name;
}

class DolSplit : public ::testing::TestWithParam<split_case> {};

TEST_P(DolSplit, SplitsTheDataByTheCardsOwnList) {
  const split_case& c = GetParam();
  const std::string out = run_trace(c.before + "> " + c.command + "\n< 9000\n");
  const std::string header = c.command.substr(0, 4) == "80A8"   ? "GET PROCESSING OPTIONS\n"
                             : c.command.substr(0, 4) == "80AE" ? "GENERATE AC"
                             : c.command.substr(0, 4) == "0088" ? "INTERNAL AUTHENTICATE\n"
                                                                : "COMPUTE CRYPTOGRAPHIC";
  const std::size_t start = out.find('\n', out.find(header)) + 1;
  ASSERT_NE(start, std::string::npos);
  std::string got = out.substr(start, out.find("summary of session") - start);
  got.erase(got.find("  status: 9000 (success)\n"), 25);
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DolSplit,
    ::testing::Values(
        split_case{"PdolExact", std::string(visa_select),
                   "80A8000012831036000000000000001000112233440978",
                   "  data by the PDOL:\n"
                   "    9F66 Terminal Transaction Qualifiers (TTQ): 36000000\n"
                   "    9F02 Amount, Authorised (Numeric): 000000001000\n"
                   "    9F37 Unpredictable Number: 11223344\n"
                   "    5F2A Transaction Currency Code: 0978\n"},
        split_case{"PdolShorter", std::string(visa_select),
                   "80A800000E830C360000000000000010001122",
                   "  data by the PDOL:\n"
                   "    9F66 Terminal Transaction Qualifiers (TTQ): 36000000\n"
                   "    9F02 Amount, Authorised (Numeric): 000000001000\n"
                   "    9F37 Unpredictable Number: 1122 (value runs past the end: 4 bytes "
                   "declared, 2 left)\n"
                   "  problem: the PDOL asks for 16 bytes, the data holds 12\n"},
        split_case{"PdolLonger", std::string(visa_select),
                   "80A8000014831236000000000000001000112233440978ABCD",
                   "  data by the PDOL:\n"
                   "    9F66 Terminal Transaction Qualifiers (TTQ): 36000000\n"
                   "    9F02 Amount, Authorised (Numeric): 000000001000\n"
                   "    9F37 Unpredictable Number: 11223344\n"
                   "    5F2A Transaction Currency Code: 0978\n"
                   "  left over: ABCD\n"
                   "  problem: the PDOL asks for 16 bytes, the data holds 18\n"},
        split_case{"PdolAbsent", "> 00A4040007A000000004101000\n< 6F098407A00000000410109000\n",
                   "80A80000048302ABCD", "  data: ABCD (no PDOL seen: the data stays one value)\n"},
        split_case{"NotWrappedIn83", std::string(visa_select), "80A8000002ABCD",
                   "  data: ABCD\n  problem: the data does not start with 83 L\n"},
        split_case{"Cdol1Present",
                   "> 00B2010C00\n< 70158C099F02069F37049F34035A0854133300890100129000\n",
                   "80AE80000D0000000010001122334441030200",
                   "  data by the CDOL1:\n"
                   "    9F02 Amount, Authorised (Numeric): 000000001000\n"
                   "    9F37 Unpredictable Number: 11223344\n"
                   "    9F34 CVM Results: 410302\n"},
        split_case{"Cdol1Absent", "", "80AE80000311223300",
                   "  data: 112233 (no CDOL1 seen: the data stays one value)\n"},
        split_case{"DdolDefault", "", "008800000411223344",
                   "  data by the default DDOL (9F37 04):\n"
                   "    9F37 Unpredictable Number: 11223344\n"},
        split_case{"DdolFromTheCard", "> 00B2010C00\n< 70059F4902950590 00\n",
                   "00880000050000008000",
                   "  data by the DDOL:\n"
                   "    95 Terminal Verification Results (TVR): 0000008000\n"},
        split_case{"UdolDefault", "", "802A8E800411223344",
                   "  data by the default UDOL (9F6A 04):\n"
                   "    9F6A (unknown tag): 11223344\n"}),
    [](const ::testing::TestParamInfo<split_case>& row) { return row.param.name; });

TEST(TraceDol, ListsAreExplainedAsIfTheCardHadSentThem) {
  tree_mode_options options;
  options.explain = true;
  const std::string out = run_trace(
      std::string(visa_select) + "> 80A8000012831036000000000000001000112233440978\n< 9000\n",
      options);
  EXPECT_EQ(lines_with(out, "- 978"), std::vector<std::string>{"- 978 EUR Euro"});
}

TEST(TraceDol, SplitRebuildsTagLengthValue) {
  const std::array<std::uint8_t, 5> list{0x9F, 0x37, 0x04, 0x95, 0x05};
  const std::array<std::uint8_t, 9> data{1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::array<std::uint8_t, trace::split_room(9)> out{};
  const trace::split_result got = trace::split_by_list(list, data, out);
  EXPECT_EQ(got.asked, 9u);
  EXPECT_EQ(got.used, 9u);
  EXPECT_EQ(got.entries, 2u);
  EXPECT_EQ(hex_of({out.data(), got.written}), "9F37040102030495050506070809");
}

// Format 1 answers by command ------------------------------------------------------------------

TEST(TraceFormat1, ReadsAnEightyAnswerByTheCommandThatAskedForIt) {
  const std::string gpo = run_trace("> 80A8000002830000\n< 800A19800801010010010200 9000\n");
  EXPECT_EQ(lines_with(gpo, "82 "),
            std::vector<std::string>{"82 Application Interchange Profile (AIP): 1980"});
  EXPECT_EQ(lines_with(gpo, "94 "),
            std::vector<std::string>{"94 Application File Locator (AFL): 0801010010010200"});
  const std::string ac =
      run_trace("> 80AE400000\n< 80124000010102030405060708 06010A03600000 9000\n");
  EXPECT_EQ(lines_with(ac, "9F27 "),
            std::vector<std::string>{"9F27 Cryptogram Information Data (CID): 40"});
  EXPECT_EQ(lines_with(ac, "9F10 "),
            std::vector<std::string>{"9F10 Issuer Application Data (IAD): 06010A03600000"});
  const std::string ia = run_trace("> 008800000411223344\n< 80040A0B0C0D9000\n");
  EXPECT_EQ(lines_with(ia, "9F4B "),
            std::vector<std::string>{"9F4B Signed Dynamic Application Data: 0A0B0C0D"});
}

// Summaries ----------------------------------------------------------------------------------

// A contact session with offline PIN, all made up: PSE, its directory, the application,
// GPO with a PDOL, records with CDOL1 and CDOL2, a wrong PIN then the right one, an ARQC
// and a TC.
constexpr std::string_view contact_session =
    "# contact session, made up\n"
    "> 00A404000E315041592E5359532E444446303100\n"
    "< 6F1A840E315041592E5359532E4444463031A5088801015F2D02656E9000\n"
    "> 00B2010C00\n"
    "< 701A61184F07A0000000041010500A4D4153544552434152448701019000\n"
    "> 00B2020C00\n"
    "< 6A83\n"
    "> 00A4040007A000000004101000\n"
    "< 6F208407A0000000041010A515500A4D4153544552434152449F38069F1A029F33039000\n"
    "> 80A800000783050250E0F8C800\n"
    "< 800A198008010100100102009000\n"
    "> 00B2010C00\n"
    "< "
    "70435A0854133300890100125F24032712318C189F02069F03069F1A0295055F2A029A039C019F37049F34038D078A"
    "0295059F37048E0E000000000000000041031E031F009000\n"
    "> 00B2011400\n"
    "< 701A9F0702FF0057135413330089010012D27122010000000000000F9000\n"
    "> 00B2021400\n"
    "< 6A83\n"
    "> 80CA9F1700\n"
    "< 9F1701039000\n"
    "> 0020008008241234FFFFFFFFFF\n"
    "< 63C2\n"
    "> 0020008008245678FFFFFFFFFF\n"
    "< 9000\n"
    "> 80AE900020000000001000000000000000025000000080000978261207001122334441030200\n"
    "< 8012800001010203040506070806010A03A000009000\n"
    "> 80AE40000B303000000080005566778800\n"
    "< 8012400001111213141516171806010A036000009000\n";

TEST(TraceSummary, ContactSessionWithOfflinePin) {
  const std::string out = run_trace(contact_session);
  const std::size_t at = out.find("summary of session 1");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(out.substr(at),
            "summary of session 1, lines 2-27:\n"
            "  application: A0000000041010 Mastercard credit/debit (Mastercard, C-2), label "
            "\"MASTERCARD\", contact\n"
            "  AIP: 1980, offers cardholder verification, terminal risk management, CDA\n"
            "  records the AFL lists: 3, read 2, missing: SFI 2 record 2\n"
            "  offline data authentication: CDA requested in GENERATE AC\n"
            "  CVM: VERIFY, plaintext offline PIN, 2 tries, 1 wrong, last: 9000 (PIN correct); "
            "CVM Results the terminal sent: 410302 (Plaintext PIN verification performed by "
            "ICC; If terminal supports the CVM; successful)\n"
            "  GENERATE AC 1: ARQC requested, ARQC returned\n"
            "  GENERATE AC 2: TC requested, TC returned\n"
            "  outcome: approved after online\n"
            "  problems: 0\n"
            // CDA asked for, and none of the card's keys in the log; the AFL counts no
            // record for it, so the static data to authenticate is empty.
            "  ODA: no check failed; first not checked: CA key known: 8F (CA public key index) "
            "not in the log\n"
            "    offered: CDA; performed: CDA\n"
            "    checks:\n"
            "      CA key known: not checked: 8F (CA public key index) not in the log\n"
            "      issuer certificate (90) length to issuer key algorithm, 9 checks: not checked: "
            "no CA key\n"
            "      static data to authenticate: ok\n"
            "      ICC certificate (9F46) length to ICC key algorithm, 9 checks: not checked: "
            "issuer key not recovered\n"
            "      signed dynamic data (9F4B) length to CDA transaction data hash, 8 checks: not "
            "checked: ICC key not recovered\n");
}

constexpr std::string_view ppse =
    "> 00A404000E325041592E5359532E444446303100\n"
    "< 6F23840E325041592E5359532E4444463031A511BF0C0E610C4F07A00000000410108701019000\n";

TEST(TraceSummary, ContactlessVisaCarriesItsCryptogramInTheGpoAnswer) {
  const std::string out = run_trace(
      std::string(ppse) + std::string(visa_select) +
      "> 80A8000012831036000000000000001000112233440978\n"
      "< 772D820220009404180101009F360200119F2701809F2608A1A2A3A4A5A6A7A89F100706011203A00000"
      "9F6C0200009000\n");
  EXPECT_EQ(lines_with(out, "application: "),
            std::vector<std::string>{"application: A0000000031010 Visa credit/debit (Visa, C-3), "
                                     "label \"VISA\", contactless"});
  EXPECT_EQ(lines_with(out, "cryptogram in"),
            std::vector<std::string>{"cryptogram in the GET PROCESSING OPTIONS answer: ARQC"});
  EXPECT_EQ(lines_with(out, "outcome: "), std::vector<std::string>{"outcome: online requested"});
  EXPECT_EQ(lines_with(out, "records the AFL"),
            std::vector<std::string>{"records the AFL lists: 1, read 0, missing: SFI 3 record 1"});
}

TEST(TraceSummary, ContactlessMastercardWithCda) {
  const std::string out = run_trace(
      std::string(ppse) +
      "> 00A4040007A000000004101000\n< 6F178407A0000000041010A50C500A4D4153544552434152449000\n"
      "> 80A8000002830000\n< 770A820219809404080101009000\n"
      "> 00B2010C00\n< 70158C099F02069F37049F34035A0854133300890100129000\n"
      "> 80AE90000D0000000010001122334441030200\n"
      "< 77149F2701809F360200029F4B0801020304050607089000\n");
  EXPECT_EQ(lines_with(out, "application: "),
            std::vector<std::string>{"application: A0000000041010 Mastercard credit/debit "
                                     "(Mastercard, C-2), label \"MASTERCARD\", contactless"});
  EXPECT_EQ(lines_with(out, "offline data"),
            std::vector<std::string>{"offline data authentication: CDA requested in GENERATE AC"});
  EXPECT_EQ(lines_with(out, "GENERATE AC 1"),
            std::vector<std::string>{"GENERATE AC 1: ARQC requested, ARQC returned"});
  EXPECT_EQ(lines_with(out, "outcome: "), std::vector<std::string>{"outcome: online requested"});
  EXPECT_EQ(lines_with(out, "records the AFL"),
            std::vector<std::string>{"records the AFL lists: 1, read 1"});
}

struct kernel_case {
  std::string aid;
  std::string application;
};

void PrintTo(const kernel_case& c, std::ostream* os) {
  *os << c.aid;
}

class KernelByAid : public ::testing::TestWithParam<kernel_case> {};

TEST_P(KernelByAid, TheSelectedAidNamesTheKernel) {
  const std::string& aid = GetParam().aid;
  char length[3];
  std::snprintf(length, sizeof length, "%02X", static_cast<unsigned>(aid.size() / 2));
  const std::string out =
      run_trace(std::string(ppse) + "> 00A40400" + length + aid + "00\n< 6F008000\n< 9000\n");
  EXPECT_EQ(lines_with(out, "application: "), std::vector<std::string>{GetParam().application});
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, KernelByAid,
    ::testing::Values(
        kernel_case{"A0000000043060",
                    "application: A0000000043060 Maestro (Mastercard, C-2), contactless"},
        kernel_case{"A0000000032010",
                    "application: A0000000032010 Visa Electron (Visa, C-3), contactless"},
        kernel_case{"A00000002501",
                    "application: A00000002501 (American Express, C-4), contactless"},
        kernel_case{"A0000000651010", "application: A0000000651010 (JCB, C-5), contactless"},
        kernel_case{
            "A0000001523010",
            "application: A0000001523010 Discover (Discover / Diners Club, C-6), contactless"},
        kernel_case{"A000000333010102",
                    "application: A000000333010102 UnionPay credit (UnionPay, C-7), contactless"},
        kernel_case{"A0000002771010",
                    "application: A0000002771010 (Interac, domestic), contactless"},
        kernel_case{"F0000000010203", "application: F0000000010203, contactless"}));

TEST(TraceSummary, DeclinedOffline) {
  const std::string out =
      run_trace("> 80AE400000\n< 80120000010102030405060708 06010A03600000 9000\n");
  EXPECT_EQ(lines_with(out, "GENERATE AC 1"),
            std::vector<std::string>{"GENERATE AC 1: TC requested, AAC returned (not the type "
                                     "asked for)"});
  EXPECT_EQ(lines_with(out, "outcome: "), std::vector<std::string>{"outcome: declined offline"});
}

TEST(TraceSummary, ATcWhereAnArqcWasAskedIsWorthALine) {
  const std::string out = run_trace("> 80AE800000\n< 77049F2701409000\n");
  EXPECT_EQ(lines_with(out, "GENERATE AC 1"),
            std::vector<std::string>{"GENERATE AC 1: ARQC requested, TC returned (not the type "
                                     "asked for: a TC where an ARQC was asked)"});
  EXPECT_EQ(lines_with(out, "outcome: "), std::vector<std::string>{"outcome: approved offline"});
}

TEST(TraceSummary, CutShort) {
  const std::string out = run_trace(std::string(ppse) + std::string(visa_select) +
                                    "> 80A8000012831036000000000000001000112233440978\n");
  EXPECT_EQ(lines_with(out, "outcome: "), std::vector<std::string>{"outcome: no GENERATE AC"});
  EXPECT_EQ(lines_with(out, "problems: "), std::vector<std::string>{"problems: 1"});
  EXPECT_EQ(lines_with(out, "line 5: "), std::vector<std::string>{"line 5: no answer logged"});
}

TEST(TraceSummary, ASecondApplicationIsReported) {
  const std::string out = run_trace(
      std::string(visa_select) + "> 80A8000002830000\n< 6985\n" +
      "> 00A4040007A000000004101000\n< 6F178407A0000000041010A50C500A4D4153544552434152449000\n");
  EXPECT_EQ(lines_with(out, "summary of"),
            std::vector<std::string>{"summary of session 1, lines 1-6:"});
  EXPECT_EQ(lines_with(out, "applications selected"),
            std::vector<std::string>{"applications selected: 2"});
  EXPECT_EQ(lines_with(out, "line 5: "),
            std::vector<std::string>{"line 5: another application selected"});
}

TEST(TraceSummary, SessionsEndAtTheNextPpseOrAfterAGenerateAc) {
  const std::string one =
      "> 00A4040007A000000004101000\n< 9000\n> 80AE800000\n< 77049F2701809000\n";
  const std::string out = run_trace(std::string(ppse) + one + std::string(ppse) + one + one);
  EXPECT_EQ(lines_with(out, "summary of"),
            (std::vector<std::string>{
                "summary of session 1, lines 1-6:", "summary of session 2, lines 7-12:",
                "summary of session 3, lines 13-16:"}));
}

// JSON Lines -----------------------------------------------------------------------------------

TEST(TraceJson, OneObjectPerCommandAndOneSummaryPerSession) {
  const std::string out = json_options_run("> 00B2010C00\n< 7003880101 9000\n");
  EXPECT_EQ(out,
            "{\"line\":1,\"command\":{\"cla\":0,\"ins\":178,\"p1\":1,\"p2\":12,\"le\":0,"
            "\"case\":2},\"name\":\"READ RECORD\",\"reading\":\"SFI 1, record 1\","
            "\"response\":{\"line\":2,\"elements\":[{\"tag\":\"70\",\"name\":\"READ RECORD "
            "Response Message Template\",\"length\":3,\"offset\":0,\"elements\":[{\"tag\":\"88\","
            "\"name\":\"Short File Identifier (SFI)\",\"length\":1,\"offset\":2,\"value\":\"01\"}]"
            "}],\"status\":\"9000\",\"status_meaning\":\"success\"}}\n"
            "{\"line\":2,\"summary\":{\"session\":1,\"first_line\":1,\"last_line\":2,"
            "\"application\":{\"interface\":\"not said\",\"selected\":0},\"cryptograms\":[],"
            "\"cda_requested\":false,\"cvm\":{\"verify\":0},\"outcome\":\"no GENERATE AC\","
            "\"problem_count\":0,\"problems\":[]}}\n");
}

// Privacy ----------------------------------------------------------------------------------------

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST(TracePrivacy, APinsDigitsNeverChangeTheOutput) {
  for (const bool json : {false, true}) {
    tree_mode_options options;
    if (json) options.output = tree_mode_options::format::json;
    options.explain = true;
    const std::string input = "0020008008241234FFFFFFFFFF\n63C2\n";
    const std::string out = run_trace(input, options);
    EXPECT_EQ(out.find("241234"), std::string::npos);
    EXPECT_EQ(out.find("1234FF"), std::string::npos);
    EXPECT_EQ(run_trace(replace_all(input, "241234", "249876"), options), out);
    // Enciphered: its size only.
    const std::string enciphered =
        run_trace("> 0020008808A1B2C3D4E5F60718\n< 9000\n> 842400020411223344\n< 9000\n", options);
    EXPECT_EQ(enciphered.find("A1B2"), std::string::npos);
    EXPECT_EQ(enciphered.find("1122"), std::string::npos);
    EXPECT_EQ(
        run_trace("> 0020008808B1B2C3D4E5F60719\n< 9000\n> 842400020455667788\n< 9000\n", options),
        enciphered);
  }
}

TEST(TracePrivacy, ACardNumbersHiddenDigitsNeverChangeTheOutput) {
  for (const bool json : {false, true}) {
    tree_mode_options options;
    if (json) options.output = tree_mode_options::format::json;
    options.explain = true;
    const std::string out = run_trace(contact_session, options);
    // The made-up PAN 5413330089010012: its hidden digits changed, its last four kept.
    std::string other = replace_all(std::string(contact_session), "541333008901", "499988776655");
    other = replace_all(other, "5413330089010", "4999887766550");
    EXPECT_NE(other, std::string(contact_session));
    EXPECT_EQ(run_trace(other, options), out);
    EXPECT_EQ(out.find("54133300"), std::string::npos);
  }
}

// Card records where commands are due: read as commands, their data still hides the
// digits, wherever the number starts (header or data) and however it is framed.
TEST(TracePrivacy, CardRecordsReadAsCommandsHideTheSameDigits) {
  const std::string_view records[] = {"5A08@5F2403271231\n", "701A5A08@5F24032712315F2A02097800\n",
                                      "5711@D27122011143804489\n", "9F11205A08@\n",
                                      "6A83\n9F1F10#5E\n"};
  for (const std::string_view record : records) {
    for (const bool json : {false, true}) {
      tree_mode_options options;
      if (json) options.output = tree_mode_options::format::json;
      std::string outputs[2];
      const std::pair<const char*, const char*> numbers[2] = {
          {"4761739001010010", "34373631373339303031303130303130"},
          {"4761730110160010", "34373631373330313130313630303130"}};
      for (int i = 0; i < 2; ++i) {
        const std::string text = replace_all(
            replace_all(std::string(record), "@", numbers[i].first), "#", numbers[i].second);
        outputs[i] = run_trace(text, options);
      }
      EXPECT_EQ(outputs[0], outputs[1]) << record;
    }
  }
}

// A PIN block where a lost line left the alternation expecting an answer still hides.
TEST(TracePrivacy, AVerifyWhereAnAnswerWasDueIsStillAPinBlock) {
  const std::string out = run_trace("00B2010C00\n0020008008241234FFFFFFFFFF\n63C2\n");
  EXPECT_EQ(out.find("1234"), std::string::npos);
  EXPECT_EQ(lines_with(out, "PIN block: "),
            std::vector<std::string>{"PIN block: 2 4 XXXXXXXXXXXXXX"});
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

// Sessions as logs lose them: lines dropped, cut anywhere, their labels gone. Whatever
// is left, no PIN digit shows (the output is the same whatever the PIN), a card number's
// hidden digits never change the output of whole lines, and the read sizes change nothing.
TEST(TraceProperty, DamagedSessionsNeverShowThePinAndReadAlikeInAnyReadSizes) {
  std::mt19937 rng(20261207);
  const std::vector<std::string> lines = split_lines(contact_session);
  for (int round = 0; round < 150; ++round) {
    std::string variant;
    bool cut = false;
    for (const std::string& line : lines) {
      switch (rng() % 8) {
        case 0:
          break;  // dropped
        case 1:
          variant += line.substr(0, rng() % (line.size() + 1)) + "\n";
          cut = true;
          break;
        case 2:
          variant += line.substr(line.find(' ') + 1) + "\n";  // no label
          break;
        default:
          variant += line + "\n";
      }
    }
    SCOPED_TRACE(variant);
    for (const bool json : {false, true}) {
      tree_mode_options options;
      if (json) options.output = tree_mode_options::format::json;
      options.explain = round % 2 == 0;
      const std::string out = run_trace(variant, options);
      EXPECT_EQ(run_trace(replace_all(replace_all(variant, "241234", "249876"), "245678", "240000"),
                          options),
                out);
      if (!cut) {
        EXPECT_EQ(run_trace(replace_all(variant, "541333008901", "499988776655"), options), out);
      }
      EXPECT_EQ(run_trace(variant, options, 7), out);
    }
  }
}

TEST(TraceMode, GivesTheSameOutputWhateverTheReadSizes) {
  const std::string whole = run_trace(contact_session);
  for (const std::size_t step : {1u, 2u, 3u, 7u, 64u, 4096u})
    EXPECT_EQ(run_trace(contact_session, {}, step), whole) << step;
}

TEST(TraceMode, AnOverlongLineIsReportedAndSkipped) {
  const std::string input = "> " + std::string(300000, 'A') + "\n> 00B2010C00\n< 6A83\n";
  const std::string out = run_trace(input);
  EXPECT_EQ(lines_with(out, "line 1: "),
            std::vector<std::string>{"line 1: line longer than 131072 characters"});
  EXPECT_EQ(lines_with(out, "READ RECORD"),
            std::vector<std::string>{"READ RECORD: SFI 1, record 1"});
}

// TVR byte 5 is C-2's relay resistance only when the Mastercard session is not a contact
// one: after the contact directory (PSE), the bits are the contact terminal's.
TEST(TraceMode, AContactSessionReadsTvrByteFiveAsContact) {
  const std::string application =
      "00A4040007A000000004101000\n6F0B8407A0000000041010A5009000\n"
      "00B2010C00\n70079505000000000F9000\n";
  const std::string pse =
      "00A404000E315041592E5359532E444446303100\n"
      "6F1A840E315041592E5359532E4444463031A5088801015F2D02656E9000\n";
  tree_mode_options explain;
  explain.explain = true;
  EXPECT_EQ(lines_with(run_trace(application, explain), "- byte 5 b4: ").at(0),
            "- byte 5 b4: Relay resistance threshold exceeded (C-2)");
  EXPECT_EQ(lines_with(run_trace(pse + application, explain), "- byte 5 b4: ").at(0),
            "- byte 5 b4: reserved for contactless / kernel-specific");
}

}  // namespace
}  // namespace emvtlv
