// Trace mode on logs as people have them: the line forms, the gaps, and the property
// that one lost line changes only the exchange it belonged to.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "memory_io.h"
#include "modes/trace_mode.h"

namespace emvtlv {
namespace {

std::string run(std::string_view input, bool json, bool numbered = true) {
  tree_mode_options options;
  options.line_numbers = numbered;
  if (json) options.output = tree_mode_options::format::json;
  test::string_input in{input, 1 << 20};
  test::string_output out;
  EXPECT_EQ(run_trace_mode(in.source(), out.target(), options), 0);
  return out.text;
}

// Whether each of `parts` stands in `text`, in this order.
::testing::AssertionResult in_order(const std::string& text,
                                    const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "missing, or out of order: " << part << "\nin:\n"
                                           << text;
    at = found + part.size();
  }
  return ::testing::AssertionSuccess();
}

// A log, and what its text (-n) and JSON output hold, in order.
struct log_case {
  std::string name;
  std::string log;
  std::vector<std::string> text;
  std::vector<std::string> json;
  std::vector<std::string> never = {};  // in neither output
};

void PrintTo(const log_case& c, std::ostream* os) {
  *os << c.name;
}

class LogReading : public ::testing::TestWithParam<log_case> {};

TEST_P(LogReading, ReadsAsItsAuthorMeantIt) {
  const log_case& c = GetParam();
  const std::string text = run(c.log, false);
  const std::string json = run(c.log, true);
  EXPECT_TRUE(in_order(text, c.text));
  EXPECT_TRUE(in_order(json, c.json));
  for (const std::string& absent : c.never) {
    EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    EXPECT_EQ(json.find(absent), std::string::npos) << absent;
  }
}

// Every line form the reader takes, each in a log of its own.
INSTANTIATE_TEST_SUITE_P(
    Forms, LogReading,
    ::testing::Values(
        log_case{"MissingAnswer",
                 "00A4040006A00000099901\n6F088406A000000999019000\n80A8000002830000\n"
                 "00B2010C00\n70049F0801029000\n00B2020C00\n70049F0801039000\n",
                 {"3:GET PROCESSING OPTIONS\n", "3:  problem: no answer logged\n",
                  "4:READ RECORD: SFI 1, record 1\n", "5:  answer:\n",
                  "5:      9F08 Application Version Number (card): 02\n",
                  "6:READ RECORD: SFI 1, record 2\n",
                  "7:      9F08 Application Version Number "
                  "(card): 03\n"},
                 {"{\"line\":3,", "\"problems\":[\"no answer logged\"]", "{\"line\":4,",
                  "\"response\":{\"line\":5,", "{\"line\":6,", "\"response\":{\"line\":7,"},
                 {"B2 (unknown tag)", "answer with no command"}},
        log_case{"TextAfterTheHex",
                 "Tx: [00 A4 04 00 06 A0 00 00 09 99 01 00]\n"
                 "Rx: [6F 08 84 06 A0 00 00 09 99 01 90 00]\n"
                 "- req: '00 B2 01 0C 00'\n- res: '6A 83'\n"
                 "Request1: 00B2020C00 (select)\nResponse1: 6A83 (none)\n"
                 "send: 00B2030C00 [4S]\nrecv: 6A83 [2S]\n",
                 {"1:SELECT by name, first occurrence: A00000099901\n",
                  "2:      84 Dedicated File (DF) Name: A00000099901\n",
                  "2:  status: 9000 (success)\n", "3:READ RECORD: SFI 1, record 1\n",
                  "4:  status: 6A83", "5:READ RECORD: SFI 1, record 2\n", "6:  status: 6A83",
                  "7:READ RECORD: SFI 1, record 3\n", "8:  status: 6A83", "problems: 0\n"},
                 {"\"name\":\"SELECT\"", "\"status\":\"9000\"", "\"problem_count\":0"}},
        log_case{"Labels",
                 "Send: 00B2010C00\nRecv: 6A83\n>c-apdu: 00 B2 02 0C 00\n<r-apdu: 6A 83\n"
                 "DEBUG:emv.transmission:Tx: 00B2030C00\nDEBUG:emv.transmission:Rx: 6A83\n"
                 "C-APDU: 00B2040C00\nSELECT returned: 6A83 - record not found\n",
                 {"1:READ RECORD: SFI 1, record 1\n", "2:  status: 6A83",
                  "3:READ RECORD: SFI 1, record 2\n", "4:  status: 6A83",
                  "5:READ RECORD: SFI 1, record 3\n", "6:  status: 6A83",
                  "7:READ RECORD: SFI 1, record 4\n", "8:  status: 6A83", "problems: 0\n"},
                 {"\"problem_count\":0"}},
        log_case{"SeveralApdusALine",
                 "Send: 00A4040006A0000009990100 Recv: 6F088406A000000999019000\n",
                 {"1:SELECT by name", "1:  status: 9000 (success)\n", "problems: 0\n"},
                 {"\"response\":{\"line\":1,", "\"status\":\"9000\""}},
        log_case{"StatusForms",
                 "> 00B2010C00\nsw 90 00\n< 70049F080102\n"
                 "> 00A4040006A0000009990100\nrx: [], SW1: 6a, SW2: 82\n"
                 "> 00A4040006A0000009990100\nSELECT returned: 6A82 - file not found\n"
                 "> 00A4040006A0000009990100\nRecv: 9000 6F088406A00000099901\n",
                 {"1:READ RECORD: SFI 1, record 1\n", "2:  status: 9000", "3:  answer:\n",
                  "3:      9F08 Application Version Number (card): 02\n", "4:SELECT",
                  "5:  status: 6A82", "6:SELECT", "7:  status: 6A82", "8:SELECT",
                  "9:      84 Dedicated File (DF) Name: A00000099901\n", "9:  status: 9000",
                  "problems: 0\n"},
                 {"\"status\":\"9000\",\"status_meaning\":\"success\",\"status_line\":2",
                  "\"status\":\"6A82\"", "\"status\":\"6A82\"", "\"status\":\"9000\""}},
        log_case{"ByteLists",
                 ">> 0x00,0xA4,0x04,0x00,0x06,0xA0,0x00,0x00,0x09,0x99,0x01,0x00\n"
                 "Raw: 0x6F088406A000000999019000\n"
                 "C-APDU: VERIFY: [00, 20, 00, 80, 08, <pin>, FF]\nR-APDU: [90, 00]\n",
                 {"1:SELECT by name, first occurrence: A00000099901\n",
                  "2:      84 Dedicated File (DF) Name: A00000099901\n",
                  "3:VERIFY: plaintext offline PIN\n", "3:  data: unreadable in the log, hidden\n",
                  "4:  status: 9000 (PIN correct)\n",
                  "3:  problem: the log hides part of the command's data\n"},
                 {"\"pin_block\":\"unreadable in the log, hidden\""}},
        log_case{"T0Chains",
                 "00A4040006A0000009990100\n6108\n00C0000008\n6F068404A00000099000\n"
                 "00B2010C00\n6C06\n00B2010C06\n70049F0801029000\n",
                 {"1:SELECT", "2:  status: 6108", "3:GET RESPONSE (Le 08)\n", "4:  answer:\n",
                  "4:  status: 9000", "5:READ RECORD: SFI 1, record 1\n", "6:  status: 6C06",
                  "7:READ RECORD: SFI 1, record 1 (resent with Le 06)\n",
                  "8:      9F08 Application Version Number (card): 02\n", "problems: 0\n"},
                 {"\"chain\":[{\"line\":2,\"status\":\"6108\"",
                  "{\"line\":3,\"command\":\"GET RESPONSE\",\"le\":8}]",
                  "\"joined\":\"GET RESPONSE\",\"join_line\":3",
                  "{\"line\":7,\"command\":\"resent\",\"le\":6}]",
                  "\"joined\":\"resent\",\"join_line\":7"}},
        log_case{"MisreadDataNeverShowsACardNumber",
                 ">c-apdu: 00 B2 01 0C 00\nsw 90 00\n"
                 "<r-apdu: 70 81 99 5F 28 02 02 50 5A 08 59 99 99 12 34 56 78 90 5F 34 01 01\n",
                 {"1:READ RECORD: SFI 1, record 1\n", "2:  status: 9000",
                  "3:      5A Application Primary Account Number (PAN): XXXXXXXXXXXX7890\n"},
                 {"\"value\":\"XXXXXXXXXXXX7890\""},
                 {"5999991234", "59 99 99", "1234567890"}},
        log_case{"AnswersThatAreNotTlv",
                 "0084000008\n01020304050607089000\n00B2010C00\n000000009000\n",
                 {"1:GET CHALLENGE\n", "2:  challenge: 0102030405060708\n",
                  "4:  bytes: 00000000 (not read whole as TLV)\n"},
                 {"\"challenge\":\"0102030405060708\"", "\"raw\":\"00000000\""}},
        log_case{"CutOffTail",
                 "Request1: 00A4040006A0000009990100 Response1: 6F088406A000000999019000 "
                 "Request2: 00B2010C00 Response2: 700\n",
                 {"1:SELECT", "1:  status: 9000", "1:READ RECORD: SFI 1, record 1\n",
                  "1:  problem: odd number of hex digits: the last one is dropped\n"},
                 {"\"name\":\"READ RECORD\""}},
        log_case{"ProseAndAtr",
                 "ATR: 3B 8A 80 01 00 31 C1 73 C8 40 00 00 90 00 90\n# read SFI 1 record 1\n"
                 "00B2010C00\nSelect AID: A0 00 00 09 99\n70049F0801029000\n",
                 {"1:ATR: 3B8A80010031C173C8400000900090\n", "3:READ RECORD: SFI 1, record 1\n",
                  "5:  status: 9000", "problems: 0\n"},
                 {"{\"line\":1,\"atr\":\"3B8A80010031C173C8400000900090\"}"},
                 {"INS 8A", "answer with no command"}},
        log_case{"Silence",
                 "card inserted\nreader ready\n",
                 {"2:no command or answer read in 2 lines\n", "2:summary of session 1, lines 1-2",
                  "problems: 1\n"},
                 {"{\"line\":2,\"error\":{\"message\":\"no command or answer read in 2 lines\"}}",
                  "\"summary\":{\"session\":1,"}}));

// The gaps real logs have.
INSTANTIATE_TEST_SUITE_P(
    Gaps, LogReading,
    ::testing::Values(
        log_case{"MissingCommand",
                 "> 00B2010C00\n< 70049F0801029000\n< 70049F0801039000\n> 00B2030C00\n"
                 "< 6A83\n",
                 {"1:READ RECORD: SFI 1, record 1\n", "3:answer with no command:\n",
                  "3:      9F08 Application Version Number (card): 03\n",
                  "3:  problem: an answer with no command\n", "4:READ RECORD: SFI 1, record 3\n",
                  "5:  status: 6A83"},
                 {"{\"line\":3,\"response\":{\"line\":3,",
                  "\"problems\":[\"an answer with no command\"]", "{\"line\":4,"}},
        log_case{"DuplicatedLine",
                 "> 00B2010C00\n> 00B2010C00\n< 70049F0801029000\n> 00B2020C00\n< 6A83\n",
                 {"1:READ RECORD: SFI 1, record 1\n", "1:  problem: no answer logged\n",
                  "2:READ RECORD: SFI 1, record 1\n", "3:  status: 9000",
                  "4:READ RECORD: SFI 1, record 2\n", "5:  status: 6A83"},
                 {"{\"line\":1,", "no answer logged", "{\"line\":2,", "{\"line\":4,"}},
        log_case{"ProseBetween",
                 "00B2010C00\nwaiting for card 2 s\n70049F0801029000\n-- next --\n00B2020C00\n"
                 "(timeout 5000)\n6A83\n",
                 {"1:READ RECORD: SFI 1, record 1\n", "3:  status: 9000",
                  "5:READ RECORD: SFI 1, record 2\n", "7:  status: 6A83", "problems: 0\n"},
                 {"\"problem_count\":0"}},
        log_case{
            "AtrFirst",
            "ATR: 3B 68 00 00 80 66 B0 07 01 01 07 90 00\n00B2010C00\n6A83\n",
            {"1:ATR: ", "2:READ RECORD: SFI 1, record 1\n", "3:  status: 6A83", "problems: 0\n"},
            {"\"atr\":", "{\"line\":2,"}}));

// Logs built from well-formed exchanges in many line forms, with the line that each
// exchange owns.
struct generated_log {
  std::string text;
  std::vector<int> owner;  // by line number (from 1); -1 for prose
};

generated_log make_log(std::mt19937& rng) {
  generated_log log;
  log.owner.push_back(-1);  // line 0
  const auto hex2 = [](unsigned b) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return std::string{digits[(b >> 4) & 0xF], digits[b & 0xF]};
  };
  const auto spaced = [](const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2)
      out += (i > 0 ? " " : "") + hex.substr(i, 2);
    return out;
  };
  int exchange = 0;
  // One line owned by the current exchange, or by no exchange.
  const auto line = [&](const std::string& text, bool owned = true) {
    log.text += text + "\n";
    log.owner.push_back(owned ? exchange : -1);
  };
  const std::size_t count = 3 + rng() % 6;
  for (std::size_t n = 0; n < count; ++n, ++exchange) {
    const auto record = static_cast<unsigned>(1 + rng() % 9);
    const std::string rr = "00B2" + hex2(record) + "0C";
    const std::string data = "70059F080200" + hex2(record);
    const auto form = static_cast<unsigned>(rng() % 4);
    const auto command = [&](const std::string& hex) {
      switch (form) {
        case 0:
          line(hex);
          break;
        case 1:
          line("> " + hex);
          break;
        case 2:
          line("Tx: [" + spaced(hex) + "]");
          break;
        default:
          line("C-APDU: " + spaced(hex));
          break;
      }
    };
    const auto answer = [&](const std::string& hex) {
      switch (form) {
        case 0:
          line(hex);
          break;
        case 1:
          line("< " + hex);
          break;
        case 2:
          line("Rx: [" + spaced(hex) + "]");
          break;
        default:
          line("R-APDU: " + spaced(hex));
          break;
      }
    };
    switch (rng() % 7) {
      case 0:
        command(rr + "00");
        answer(data + "9000");
        break;
      case 1:
        command(rr + "00");
        answer(data);
        line(form == 0 ? "9000" : "SW1SW2: 9000");
        break;
      case 2:
        command(rr + "00");
        answer("6A83");
        break;
      case 3:
        command(rr + "00");
        answer("6107");
        command("00C0000007");
        answer(data + "9000");
        break;
      case 4:
        command(rr + "00");
        answer("6C07");
        command(rr + "07");
        answer(data + "9000");
        break;
      case 5:
        command("0084000008");
        answer("0102030405060708" + hex2(record) + "9000");
        break;
      default:
        line("Send: " + rr + "00 Recv: " + data + "9000");
        break;
    }
    if (rng() % 3 == 0) line(rng() % 2 == 0 ? "-- card ok --" : "# step 1", false);
  }
  return log;
}

// The JSON objects of each exchange, line numbers written as in the whole log: after a
// run without line `removed`, numbers from it on are one more.
std::map<int, std::string> objects_by_exchange(const std::string& json,
                                               const std::vector<int>& owner, int removed) {
  static const std::regex number(R"re("(line|status_line|join_line)":(\d+))re");
  std::map<int, std::string> groups;
  std::size_t at = 0;
  while (at < json.size()) {
    const std::size_t end = json.find('\n', at);
    const std::string object = json.substr(at, end - at);
    at = end + 1;
    if (object.find("\"summary\":") != std::string::npos) continue;
    std::string renumbered;
    auto from = object.cbegin();
    int first = -1;
    for (std::sregex_iterator it(object.begin(), object.end(), number), stop; it != stop; ++it) {
      int n = std::stoi((*it)[2]);
      if (removed > 0 && n >= removed) ++n;
      if (first < 0) first = n;
      renumbered.append(from, object.cbegin() + it->position());
      renumbered += "\"" + (*it)[1].str() + "\":" + std::to_string(n);
      from = object.cbegin() + it->position() + it->length();
    }
    renumbered.append(from, object.cend());
    groups[owner.at(static_cast<std::size_t>(first))] += renumbered + "\n";
  }
  return groups;
}

// Removing any one line of a well-formed log changes the reading of no exchange but the
// one that line belonged to.
TEST(TracePairing, OneLineRemovedChangesOnlyItsOwnExchange) {
  std::mt19937 rng(25);
  for (int round = 0; round < 60; ++round) {
    const generated_log log = make_log(rng);
    const std::map<int, std::string> whole =
        objects_by_exchange(run(log.text, true, false), log.owner, 0);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < log.text.size();) {
      const std::size_t end = log.text.find('\n', at);
      lines.push_back(log.text.substr(at, end - at + 1));
      at = end + 1;
    }
    for (std::size_t removed = 1; removed <= lines.size(); ++removed) {
      std::string shorter;
      for (std::size_t i = 0; i < lines.size(); ++i)
        if (i + 1 != removed) shorter += lines[i];
      std::map<int, std::string> got =
          objects_by_exchange(run(shorter, true, false), log.owner, static_cast<int>(removed));
      std::map<int, std::string> expected = whole;
      got.erase(log.owner[removed]);
      expected.erase(log.owner[removed]);
      ASSERT_EQ(got, expected) << "line " << removed << " removed from\n" << log.text;
    }
  }
}

// A reader used again after an input whose last line had no newline starts afresh.
TEST(TracePairing, ABufferUsedAgainAfterAnUnendedLineStartsAfresh) {
  trace_mode_buffers buffers;
  const std::string second = "> 00B2020C00\n< 6A83\n";
  test::string_output fresh;
  {
    test::string_input in{second, 1 << 20};
    ASSERT_EQ(run_trace_mode(in.source(), fresh.target(), {}, buffers), 0);
  }
  for (const std::string_view before : {"> 00B2010C00\n< 70049F080102", "> 00A4", "x"}) {
    test::string_input first{before, 3};
    test::string_output ignored;
    ASSERT_EQ(run_trace_mode(first.source(), ignored.target(), {}, buffers), 0);
    test::string_input in{second, 1 << 20};
    test::string_output again;
    ASSERT_EQ(run_trace_mode(in.source(), again.target(), {}, buffers), 0);
    EXPECT_EQ(again.text, fresh.text) << before;
  }
}

}  // namespace
}  // namespace emvtlv
