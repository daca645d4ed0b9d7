// The built emvtlv given options and FILE arguments, as a shell runs it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include "child_process.h"

namespace emvtlv {
namespace {

using strings = std::vector<std::string>;

const std::string banner = "EMV Parser\n";
const std::string ask = "Input EMV record encoded in TLV format: \n";
const std::string try_help = "Try 'emvtlv --help' for more information.\n";
const std::string records = "9F2608112233\n\n5A0847617390010100105F2403271231\n";

test::run_result run(const strings& args, const std::string& input) {
  test::run_options options;
  options.args = args;
  return test::run_program(EMVTLV_PROGRAM, input, options);
}

struct option_case {
  const char* name;
  strings args;
  std::string out;  // all of standard output, or its first line when `first_line_only`
  bool first_line_only;
  std::string err;
  int exit_status;
};

void PrintTo(const option_case& c, std::ostream* os) {
  *os << c.name;
}

class CommandLine : public ::testing::TestWithParam<option_case> {};

TEST_P(CommandLine, WritesTheseStreamsAndStatus) {
  const option_case& c = GetParam();
  const test::run_result got = run(c.args, records);
  EXPECT_EQ(c.first_line_only ? got.out.substr(0, got.out.find('\n') + 1) : got.out, c.out);
  EXPECT_EQ(got.err, c.err);
  EXPECT_EQ(got.exit_status, c.exit_status);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLine,
    ::testing::Values(
        option_case{"Quiet",
                    {"-q"},
                    "Application Cryptogram: 112233\n"
                    "Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                    "Application Expiration Date: 271231\n",
                    false,
                    "",
                    0},
        option_case{"LineNumbers",
                    {"--line-number"},
                    banner + ask + "1:Application Cryptogram: 112233\n" + ask + ask +
                        "3:Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                        "3:Application Expiration Date: 271231\n" +
                        ask,
                    false,
                    "",
                    0},
        option_case{"QuietNumbered",
                    {"-qn"},
                    "1:Application Cryptogram: 112233\n"
                    "3:Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                    "3:Application Expiration Date: 271231\n",
                    false,
                    "",
                    0},
        option_case{"DashReadsStandardInput",
                    {"-q", "-"},
                    "Application Cryptogram: 112233\n"
                    "Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                    "Application Expiration Date: 271231\n",
                    false,
                    "",
                    0},
        option_case{"Help", {"--help"}, "Usage: emvtlv [OPTION]... [FILE]...\n", true, "", 0},
        option_case{"HelpShort", {"-h"}, "Usage: emvtlv [OPTION]... [FILE]...\n", true, "", 0},
        option_case{"Version", {"--version"}, "emvtlv " EMVTLV_VERSION "\n", false, "", 0},
        option_case{"VersionShort", {"-V"}, "emvtlv " EMVTLV_VERSION "\n", false, "", 0},
        option_case{
            "UnknownOption", {"-z"}, "", false, "emvtlv: invalid option -- 'z'\n" + try_help, 2},
        option_case{"UnknownLongOption",
                    {"-q", "--bogus", "-"},
                    "",
                    false,
                    "emvtlv: unrecognized option '--bogus'\n" + try_help,
                    2},
        // The decoding modes: no banner and, on a pipe, no prompt.
        // A blank line ends each record's output, unless -q is given.
        option_case{"Tree",
                    {"-t"},
                    "9F26 Application Cryptogram: 112233"
                    " (value runs past the end: 8 bytes declared, 3 left)\n\n"
                    "5A Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                    "5F24 Application Expiration Date: 271231\n\n",
                    false,
                    "",
                    0},
        option_case{"TreeNumbered",
                    {"-tn"},
                    "1:9F26 Application Cryptogram: 112233"
                    " (value runs past the end: 8 bytes declared, 3 left)\n\n"
                    "3:5A Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                    "3:5F24 Application Expiration Date: 271231\n\n",
                    false,
                    "",
                    0},
        option_case{"Explain",
                    {"--explain", "-q"},
                    "9F26 Application Cryptogram: 112233"
                    " (value runs past the end: 8 bytes declared, 3 left)\n"
                    "5A Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                    "5F24 Application Expiration Date: 271231\n"
                    "  - 2027-12-31\n",
                    false,
                    "",
                    0},
        option_case{"JsonIgnoresLineNumbers",
                    {"-jn"},
                    "{\"line\":1,\"elements\":[{\"tag\":\"9F26\",\"name\":"
                    "\"Application Cryptogram\",\"length\":8,\"offset\":0,\"problem\":"
                    "\"value runs past the end: 8 bytes declared, 3 left\",\"problem_id\":"
                    "\"value_runs_past_end\",\"value\":\"112233\"}]}\n"
                    "{\"line\":2,\"elements\":[]}\n"
                    "{\"line\":3,\"elements\":[{\"tag\":\"5A\",\"name\":"
                    "\"Application Primary Account Number (PAN)\",\"length\":8,\"offset\":0,"
                    "\"value\":\"XXXXXXXXXXXX0010\",\"masked\":true},{\"tag\":\"5F24\",\"name\":"
                    "\"Application Expiration Date\",\"length\":3,\"offset\":10,\"value\":"
                    "\"271231\"}]}\n",
                    false,
                    "",
                    0},
        option_case{"TreeQuietNumbered",
                    {"-tqn"},
                    "1:9F26 Application Cryptogram: 112233"
                    " (value runs past the end: 8 bytes declared, 3 left)\n"
                    "3:5A Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                    "3:5F24 Application Expiration Date: 271231\n",
                    false,
                    "",
                    0},
        option_case{"Paths",
                    {"--paths"},
                    "9F26 112233 (value runs past the end: 8 bytes declared, 3 left)\n"
                    "5A XXXXXXXXXXXX0010\n5F24 271231\n",
                    false,
                    "",
                    0},
        option_case{"PathsNumberedTag",
                    {"-pn", "--tag=5F24,9F26"},
                    "1:9F26 112233 (value runs past the end: 8 bytes declared, 3 left)\n"
                    "3:5F24 271231\n",
                    false,
                    "",
                    0},
        option_case{"TagImpliesTree",
                    {"--tag", "5A", "-q"},
                    "5A Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n",
                    false,
                    "",
                    0},
        option_case{"JsonTag",
                    {"-j", "--tag", "5F24"},
                    "{\"line\":1,\"elements\":[]}\n{\"line\":2,\"elements\":[]}\n"
                    "{\"line\":3,\"elements\":[{\"tag\":\"5F24\",\"name\":"
                    "\"Application Expiration Date\",\"length\":3,\"offset\":10,\"value\":"
                    "\"271231\"}]}\n",
                    false,
                    "",
                    0},
        option_case{"ExplainTag",
                    {"-x", "--tag", "5F24"},
                    "5F24 Application Expiration Date: 271231\n  - 2027-12-31\n\n",
                    false,
                    "",
                    0},
        option_case{"StrictProblem",
                    {"-tq", "--strict"},
                    "9F26 Application Cryptogram: 112233"
                    " (value runs past the end: 8 bytes declared, 3 left)\n",
                    true,
                    "",
                    1},
        // Trace mode takes -r, --tag and --strict like the other decoding modes.
        option_case{"TraceRecords",
                    {"-a", "-r", "00B2010C00", "-r", "6A83"},
                    "READ RECORD: SFI 1, record 1\n  status: 6A83 (record not found)\n"
                    "summary of session 1, lines 1-2:\n  application: none selected, not said\n  "
                    "AIP: not seen\n"
                    "  records the AFL lists: no AFL seen\n  offline data authentication: no CDA "
                    "requested\n"
                    "  CVM: no VERIFY; CVM Results the terminal sent: none\n"
                    "  outcome: no GENERATE AC\n  problems: 0\n",
                    false,
                    "",
                    0},
        option_case{"TraceTag",
                    {"-a", "--tag", "9F27", "-r", "80AE800000", "-r", "77069F27018090009000"},
                    "GENERATE AC: ARQC requested\n  answer:\n"
                    "    9F27 Cryptogram Information Data (CID): 80\n  status: 9000 (success)\n"
                    "summary of session 1, lines 1-2:\n  application: none selected, not said\n  "
                    "AIP: not seen\n"
                    "  records the AFL lists: no AFL seen\n  offline data authentication: no CDA "
                    "requested\n"
                    "  CVM: no VERIFY; CVM Results the terminal sent: none\n"
                    "  GENERATE AC 1: ARQC requested, ARQC returned\n  outcome: online requested\n"
                    "  problems: 0\n",
                    false,
                    "",
                    0},
        option_case{"TraceStrictProblem",
                    {"-a", "--strict", "-r", "00B2010C00", "-r", "70035A08479000"},
                    "READ RECORD: SFI 1, record 1\n",
                    true,
                    "",
                    1},
        option_case{"TraceStrictClean",
                    {"-a", "--strict", "-r", "00B2010C00", "-r", "6A83"},
                    "READ RECORD: SFI 1, record 1\n",
                    true,
                    "",
                    0},
        option_case{"BadTag",
                    {"-p", "--tag", "5A,9F2"},
                    "",
                    false,
                    "emvtlv: invalid tag list '5A,9F2': tags are 1 to 8 octets of hex, joined by "
                    "','\n" +
                        try_help,
                    2},
        option_case{"RecordNeedsAnArgument",
                    {"-t", "-r"},
                    "",
                    false,
                    "emvtlv: option requires an argument -- 'r'\n" + try_help,
                    2},
        option_case{"DoubleDashMakesAFileName",
                    {"-q", "--", "-n"},
                    "",
                    false,
                    "emvtlv: -n: No such file or directory\n",
                    2}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Files in a fresh directory, removed at the end.
class FileArguments : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/emvtlv-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& path : made_)
      std::remove(path.c_str());
    ::rmdir(dir_.c_str());
  }
  std::string make(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    made_.push_back(path);
    contents_[path] = content;
    return path;
  }
  std::string dir_;
  strings made_;
  std::map<std::string, std::string> contents_;
};

// Each FILE is an input of its own: emvtlv [OPTIONS] a b ... prints what emvtlv
// [OPTIONS] a, emvtlv [OPTIONS] b ... print one after the other (the console's banner
// once), each line after its FILE's name when there are several, and "file" in JSON.
TEST_F(FileArguments, EachDecodedAsIfAlone) {
  const std::string with_newline = make("a", "9F2608112233\n\n5A0847617390010100105F2403271231\n");
  const std::string no_final_newline = make("b", "9F270180\n9F3602");  // ends inside a line
  const std::string empty = make("c", "");
  const std::string long_lines =
      make("d", "0001\n" + std::string(700, '9') + "\n" + std::string(1200, 'A') + "\n");
  const std::vector<strings> sets = {{with_newline},
                                     {with_newline, no_final_newline},
                                     {no_final_newline, with_newline},
                                     {empty},
                                     {empty, with_newline, empty},
                                     {no_final_newline, long_lines, no_final_newline},
                                     {with_newline, "-", no_final_newline}};
  const std::string standard_input = "9F2701\n";  // what "-" reads
  // Each line of `text` that is not empty after `label`; JSON's label goes after '{'.
  const auto labelled = [](const std::string& text, const std::string& label, bool json) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
      const std::string line = text.substr(at, end - at);
      if (line == "\n" || label.empty()) {
        out += line;
      } else if (json) {
        out += "{\"file\":\"" + label + "\"," + line.substr(1);
      } else {
        out += label + ":" + line;
      }
      at = end;
    }
    return out;
  };
  for (const strings& files : sets) {
    for (const strings& options : std::vector<strings>{
             {}, {"-q"}, {"-n"}, {"-qn"}, {"-t"}, {"-j"}, {"-xn"}, {"-a"}, {"-ajn"}}) {
      const bool json = std::find(options.begin(), options.end(), "-j") != options.end() ||
                        std::find(options.begin(), options.end(), "-ajn") != options.end();
      std::vector<std::string> outputs;  // of each FILE run alone
      for (const std::string& file : files) {
        strings args = options;
        args.push_back("--no-filename");
        args.push_back(file);
        std::string out = run(args, standard_input).out;
        if (!outputs.empty() && out.starts_with(banner)) out.erase(0, banner.size());
        outputs.push_back(out);
      }
      // The default, and whichever of -H and --no-filename changes it.
      for (const char* names : {"", files.size() > 1 ? "--no-filename" : "-H"}) {
        const bool named = std::string(names) == "-H" || (names[0] == 0 && files.size() > 1);
        const bool json_named = std::string(names) != "--no-filename";
        std::string alone;
        for (std::size_t i = 0; i < files.size(); ++i) {
          const std::string label = files[i] == "-" ? "(standard input)" : files[i];
          alone += labelled(outputs[i], (json ? json_named : named) ? label : "", json);
        }
        strings args = options;
        if (names[0] != 0) args.push_back(names);
        args.insert(args.end(), files.begin(), files.end());
        const test::run_result together = run(args, standard_input);
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(together.out, alone);
        EXPECT_EQ(together.err, "");
        EXPECT_EQ(together.exit_status, 0);
      }
    }
  }
}

// As cat does: say which file and why, go on with the others; end with status 2.
TEST_F(FileArguments, OneThatCannotBeReadIsReportedAndSkipped) {
  const std::string a = make("a", "9F2608112233\n");
  const std::string b = make("b", "9F270180\n");
  const std::string missing = dir_ + "/missing";
  const test::run_result got = run({"-q", a, missing, dir_, b}, "");
  EXPECT_EQ(got.out,
            a + ":Application Cryptogram: 112233\n" + b + ":Cryptogram Information Data: 80\n");
  EXPECT_EQ(got.err, "emvtlv: " + missing + ": No such file or directory\nemvtlv: " + dir_ +
                         ": Is a directory\n");
  EXPECT_EQ(got.exit_status, 2);
}

struct records_case {
  const char* name;
  strings args;                // "FILE:x" stands for the path of a file holding x
  std::string standard_input;  // ignored when -r or a FILE is given
  std::string out;
};

// -r records are lines of their own, after the FILEs, numbered from 1 as an input of
// their own; a
// byte-order mark starts each input of the decoding modes without being data.
TEST_F(FileArguments, RecordsAndByteOrderMarks) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::vector<records_case> cases = {
      {"Records",
       {"-p", "-r", "9F270180", "--record=0x9F,0x36,0x02,0x00,0x01"},
       "5A00\n",
       "9F27 80\n9F36 0001\n"},
      {"RecordsNumbered",
       {"-pn", "-r", "9F270180", "-r", "", "-r", "ZZ"},
       "",
       "1:9F27 80\n3:column 1: 'Z' is not a hex digit\n"},
      {"RecordsInJson",
       {"-j", "-r", "9000"},
       "",
       "{\"line\":1,\"elements\":[],\"status\":\"9000\",\"status_meaning\":\"success\"}\n"},
      {"RecordsInTheConsole",
       {"-qn", "-r", "9F270180", "-r", "9F36020001"},
       "",
       "1:Cryptogram Information Data: 80\n2:Application Transaction Counter (ATC): 0001\n"},
      // After the last FILE, even one that does not end its last line.
      {"RecordsAfterFiles",
       {"-pn", "--no-filename", "FILE:5A00\n", "-r", "9F270180", "FILE:880102"},
       "",
       "1:5A\n1:88 02\n1:9F27 80\n"},
      {"FileWithMark", {"-p", "FILE:" + bom + "880102\n"}, "", "88 02\n"},
      {"EveryFileWithMark",
       {"-pn", "--no-filename", "FILE:" + bom + "880101\n", "FILE:" + bom + "880102"},
       "",
       "1:88 01\n1:88 02\n"},
      {"StandardInputWithMark",
       {"-t", "-q"},
       bom + "880102\n",
       "88 Short File Identifier (SFI): 02\n"},
      {"MarkOnlyAtTheStart",
       {"-p"},
       "880102\n" + bom + "880101\n",
       "88 02\nline 2: column 1: '\\xEF' is not a hex digit\n"},
      {"CutMark", {"-p", "FILE:\xEF\xBB"}, "", "line 1: column 1: '\\xEF' is not a hex digit\n"},
      {"MarkAlone", {"-pn", "FILE:" + bom, "-r", "880101"}, "", "1:88 01\n"},
  };
  int made = 0;
  for (const records_case& c : cases) {
    SCOPED_TRACE(c.name);
    strings args;
    for (const std::string& arg : c.args)
      args.push_back(arg.starts_with("FILE:") ? make("f" + std::to_string(made++), arg.substr(5))
                                              : arg);
    const test::run_result got = run(args, c.standard_input);
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.exit_status, 0);
  }
}

// Text saved as UTF-16 gets one hint on standard error per input, in every decoding
// mode; text that only starts like it does not.
TEST_F(FileArguments, Utf16GetsOneHint) {
  const std::string hint = ": the input looks like UTF-16; convert it with iconv\n";
  struct hint_case {
    const char* name;
    std::string content;
    bool hinted;
  };
  const std::vector<hint_case> cases = {
      {"LittleEndianWithMark",
       std::string("\xFF\xFE"
                   "9\0F\0\n\0"
                   "5\0A\0\n\0",
                   14),
       true},
      {"LittleEndianNoMark", std::string("9\0F\0\n\0", 6), true},
      {"BigEndianNoMark",
       std::string("\0"
                   "9\0F\0\n",
                   6),
       true},
      {"Utf8Mark",
       "\xEF\xBB\xBF"
       "9F270180\n",
       false},
      {"Hex", "9F270180\n", false},
      {"OneCharacter", "9", false},
      {"Empty", "", false},
  };
  int made = 0;
  for (const hint_case& c : cases) {
    const std::string file = make("u" + std::to_string(made++), c.content);
    for (const char* mode : {"-t", "-j", "-p", "-a"}) {
      SCOPED_TRACE(std::string(c.name) + " " + mode);
      const test::run_result named = run({mode, "--no-filename", file}, "");
      EXPECT_EQ(named.err, c.hinted ? "emvtlv: " + file + hint : "");
      const test::run_result piped = run({mode}, c.content);
      EXPECT_EQ(piped.err, c.hinted ? "emvtlv: -" + hint : "");
      EXPECT_EQ(piped.out, named.out);
    }
  }
}

// --value=TAG:HEX is the record the program makes of it: every mode prints and masks
// it as that record given with -r, and explains it unless a mode is named.
TEST(Values, DecodeAsTheRecordTheyMake) {
  struct value_case {
    std::string value;
    std::string record;
  };
  const std::vector<value_case> cases = {
      {"95:0000008000", "95050000008000"},
      {"5A:4761739001010010", "5A084761739001010010"},
      {"57:4761739001010010D27122011143804489", "57114761739001010010D27122011143804489"},
      {"70:5A084761739001010010", "700A5A084761739001010010"},
  };
  for (const value_case& c : cases) {
    for (const strings& mode : std::vector<strings>{{"-t"}, {"-j"}, {"-p"}, {"-x"}, {"-jx"}}) {
      strings with_value = mode;
      with_value.push_back("--value=" + c.value);
      strings with_record = mode;
      with_record.insert(with_record.end(), {"-r", c.record});
      SCOPED_TRACE(::testing::PrintToString(with_value));
      const test::run_result value = run(with_value, "");
      EXPECT_EQ(value.out, run(with_record, "").out);
      EXPECT_EQ(value.exit_status, 0);
      EXPECT_EQ(value.out.find("47617390010"), std::string::npos);
    }
    EXPECT_EQ(run({"--value=" + c.value}, "").out, run({"-x", "-r", c.record}, "").out);
  }
}

// A line far past the largest record is one message, read in blocks, never held whole.
TEST(DecodingModes, RefuseAnOverlongLineAndGoOn) {
  const std::string input = std::string(1'000'000, 'A') + "\n88 01 02\n";
  const test::run_result got = run({"-t"}, input);
  EXPECT_EQ(got.out,
            "line 1: column 131073: record longer than 65536 bytes\n\n"
            "88 Short File Identifier (SFI): 02\n\n");
  EXPECT_EQ(got.exit_status, 0);
}

// A session log read whole, with the PIN hidden, whether piped or named.
TEST_F(FileArguments, TraceModeReadsTheLogAndNeverShowsThePin) {
  const std::string log = "0020008008241234FFFFFFFFFF\n63C2\n";
  const std::string file = make("session.log", log);
  for (const strings& args :
       std::vector<strings>{{"-a"}, {"-a", file}, {"-a", "-j", file}, {"--apdu", "-x", "-n"}}) {
    const test::run_result got = run(args, log);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(got.out.find("241234"), std::string::npos);
    EXPECT_EQ(got.out.find("1234FF"), std::string::npos);
    EXPECT_NE(got.out.find("wrong PIN, 2 tries left"), std::string::npos);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.exit_status, 0);
  }
}

}  // namespace
}  // namespace emvtlv
