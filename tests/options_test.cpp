#include "cli/options.h"

#include "cli/run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace emvtlv::cli {
namespace {

const std::string usage_line = "Usage: emvtlv [OPTION]... [FILE]...\n";
const std::string try_help = "Try 'emvtlv --help' for more information.\n";

struct parse_case {
  const char* name;
  std::vector<std::string> args;  // after the program name
  bool run;
  bool quiet;
  bool line_numbers;
  std::vector<std::string> files;
  int exit_status;
  std::string out_first_line;  // of standard output, newline included
  std::string err;
};

void PrintTo(const parse_case& c, std::ostream* os) {
  *os << c.name;
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n') + 1);
}

// Parses `args` as the words after the program name. The result's files point into
// the words, so they are kept until the next call.
parse_result parse(const std::vector<std::string>& args) {
  static std::vector<std::string> words;
  static std::vector<char*> argv;
  words = args;
  words.insert(words.begin(), "emvtlv");
  argv.clear();
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  return parse_command_line(static_cast<int>(words.size()), argv.data());
}

class ParseCommandLine : public ::testing::TestWithParam<parse_case> {};

TEST_P(ParseCommandLine, ChoosesWhatTheRowSays) {
  const parse_case& c = GetParam();
  const parse_result got = parse(c.args);
  EXPECT_EQ(got.run, c.run);
  EXPECT_EQ(got.exit_status, c.exit_status);
  EXPECT_EQ(first_line(got.out), c.out_first_line);
  EXPECT_EQ(got.err, c.err);
  if (!c.run) return;
  EXPECT_EQ(got.chosen.console.quiet, c.quiet);
  EXPECT_EQ(got.chosen.console.line_numbers, c.line_numbers);
  EXPECT_EQ(std::vector<std::string>(got.chosen.files.begin(), got.chosen.files.end()), c.files);
}

using strings = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Rows, ParseCommandLine,
    ::testing::Values(
        parse_case{"Nothing", {}, true, false, false, {}, 0, "", ""},
        parse_case{"QuietShort", {"-q"}, true, true, false, {}, 0, "", ""},
        parse_case{"QuietLong", {"--quiet"}, true, true, false, {}, 0, "", ""},
        parse_case{"NumbersShort", {"-n"}, true, false, true, {}, 0, "", ""},
        parse_case{"NumbersLong", {"--line-number"}, true, false, true, {}, 0, "", ""},
        parse_case{"NumbersAbbreviated", {"--line"}, true, false, true, {}, 0, "", ""},
        parse_case{"Clustered", {"-qn"}, true, true, true, {}, 0, "", ""},
        parse_case{"BothApart", {"-n", "--quiet"}, true, true, true, {}, 0, "", ""},
        parse_case{"Files", {"a", "b"}, true, false, false, strings{"a", "b"}, 0, "", ""},
        parse_case{
            "OptionsAmongFiles", {"a", "-q", "b"}, true, true, false, strings{"a", "b"}, 0, "", ""},
        parse_case{
            "DashIsAFile", {"-n", "-", "a"}, true, false, true, strings{"-", "a"}, 0, "", ""},
        parse_case{"DoubleDashEndsOptions",
                   {"-q", "--", "-n", "--help"},
                   true,
                   true,
                   false,
                   strings{"-n", "--help"},
                   0,
                   "",
                   ""},
        parse_case{"HelpShort", {"-h"}, false, false, false, {}, 0, usage_line, ""},
        parse_case{"HelpLong", {"--help"}, false, false, false, {}, 0, usage_line, ""},
        parse_case{
            "HelpAfterFiles", {"a", "-q", "--help"}, false, false, false, {}, 0, usage_line, ""},
        parse_case{
            "VersionShort", {"-V"}, false, false, false, {}, 0, "emvtlv " EMVTLV_VERSION "\n", ""},
        parse_case{"VersionLong",
                   {"--version"},
                   false,
                   false,
                   false,
                   {},
                   0,
                   "emvtlv " EMVTLV_VERSION "\n",
                   ""},
        parse_case{"FirstOfHelpAndVersionWins",
                   {"-V", "-h"},
                   false,
                   false,
                   false,
                   {},
                   0,
                   "emvtlv " EMVTLV_VERSION "\n",
                   ""},
        parse_case{"UnknownShort",
                   {"-z"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: invalid option -- 'z'\n" + try_help},
        parse_case{"UnknownInCluster",
                   {"-qzn"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: invalid option -- 'z'\n" + try_help},
        parse_case{"UnknownLong",
                   {"--frobnicate"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: unrecognized option '--frobnicate'\n" + try_help},
        parse_case{"ArgumentNotAllowed",
                   {"--quiet=yes"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: option '--quiet' doesn't allow an argument\n" + try_help},
        parse_case{"BadOptionBeforeHelp",
                   {"-z", "--help"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: invalid option -- 'z'\n" + try_help},
        parse_case{
            "HelpBeforeBadOption", {"--help", "-z"}, false, false, false, {}, 0, usage_line, ""},
        parse_case{"RecordTakesTheNextWord",
                   {"-r", "-q", "a"},
                   true,
                   false,
                   false,
                   strings{"a"},
                   0,
                   "",
                   ""},
        parse_case{"TagTakesTheNextWord",
                   {"--tag", "5A", "b"},
                   true,
                   false,
                   false,
                   strings{"b"},
                   0,
                   "",
                   ""},
        parse_case{"RecordMissing",
                   {"-qr"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: option requires an argument -- 'r'\n" + try_help},
        parse_case{"RecordLongMissing",
                   {"--record"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: option '--record' requires an argument\n" + try_help},
        parse_case{"TagMissing",
                   {"--tag"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: option '--tag' requires an argument\n" + try_help},
        parse_case{"TagNotHex",
                   {"--tag=5A,ZZ"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: invalid tag list '5A,ZZ': tags are 1 to 8 octets of hex, joined "
                   "by ','\n" +
                       try_help},
        parse_case{"RecordOfTwoLines",
                   {"-r", "9F27\n0180"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: a record of '--record' must be one line\n" + try_help},
        parse_case{"StrictTakesNoArgument",
                   {"--strict=yes"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: option '--strict' doesn't allow an argument\n" + try_help},
        parse_case{
            "AmbiguousPrefix",
            {"--t"},
            false,
            false,
            false,
            {},
            2,
            "",
            "emvtlv: option '--t' is ambiguous; possibilities: '--tree' '--tag'\n" + try_help},
        parse_case{"KernelOutOfRange",
                   {"--kernel=C-8"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: invalid kernel 'C-8': C-2 to C-7 or contact\n" + try_help},
        parse_case{"KernelNeedsAName",
                   {"--kernel"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: option '--kernel' requires an argument\n" + try_help},
        parse_case{"StrictIsLongOnly",
                   {"-s"},
                   false,
                   false,
                   false,
                   {},
                   2,
                   "",
                   "emvtlv: invalid option -- 's'\n" + try_help}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Every option the parser takes has its line in the help, long and short form.
// --kernel takes C-2 to C-7 in either case, and contact.
TEST(KernelOption, NamesTheKernel) {
  const std::pair<const char*, emv_kernel> rows[] = {{"--kernel=C-2", emv_kernel::c2},
                                                     {"--kernel=c-7", emv_kernel::c7},
                                                     {"--kernel=contact", emv_kernel::contact},
                                                     {"-x", emv_kernel::unknown}};
  for (const auto& [arg, kernel] : rows) {
    std::vector<std::string> args{"emvtlv", arg};
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    const parse_result got = parse_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_TRUE(got.run) << arg;
    EXPECT_EQ(got.chosen.tree.kernel, kernel) << arg;
  }
}

TEST(HelpText, ListsEveryOption) {
  const std::string help = help_text();
  for (const char* line :
       {"  -t, --tree ", "  -j, --json ", "  -x, --explain ", "  -a, --apdu ", "  -q, --quiet ",
        "  -n, --line-number ", "  -h, --help ", "  -V, --version ", "  -p, --paths ",
        "      --tag=TAG[,TAG...] ", "  -r, --record=HEX ", "      --strict ", "man emvtlv",
        "      --value=TAG:HEX ", "  -H, --with-filename ", "      --no-filename ",
        "      --kernel=NAME "})
    EXPECT_NE(help.find(line), std::string::npos) << line;
}

// It fits a terminal of 80 columns, and a line of prose runs on to the margin unless
// its sentence ends there.
TEST(HelpText, FitsEightyColumns) {
  std::vector<std::string> lines;
  const std::string help = help_text();
  for (std::size_t start = 0, end; (end = help.find('\n', start)) != std::string::npos;
       start = end + 1)
    lines.push_back(help.substr(start, end - start));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LT(lines[i].size(), 80u) << lines[i];
    const bool prose = !lines[i].empty() && lines[i][0] != ' ';
    const bool more_prose = i + 1 < lines.size() && !lines[i + 1].empty() && lines[i + 1][0] != ' ';
    if (prose && more_prose) {
      EXPECT_TRUE(lines[i].ends_with('.') || lines[i].size() >= 60) << lines[i];
    }
  }
}

struct mode_case {
  std::vector<std::string> args;
  mode run_mode;
  bool json;
  bool explain;
  bool tree_line_numbers;
};

void PrintTo(const mode_case& c, std::ostream* os) {
  for (const std::string& a : c.args)
    *os << a << ' ';
}

class ChooseMode : public ::testing::TestWithParam<mode_case> {};

// -x needs the tree; -j is the tree for scripts, numbered by its own "line" field.
TEST_P(ChooseMode, AsTheOptionsCombine) {
  const mode_case& c = GetParam();
  const parse_result got = parse(c.args);
  ASSERT_TRUE(got.run);
  EXPECT_EQ(got.chosen.run_mode, c.run_mode);
  EXPECT_EQ(got.chosen.tree.output == tree_mode_options::format::json, c.json);
  EXPECT_EQ(got.chosen.tree.explain, c.explain);
  EXPECT_EQ(got.chosen.tree.line_numbers, c.tree_line_numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChooseMode,
    ::testing::Values(mode_case{{}, mode::console, false, false, false},
                      mode_case{{"-n"}, mode::console, false, false, true},
                      mode_case{{"-t"}, mode::tree, false, false, false},
                      mode_case{{"--tree", "-n"}, mode::tree, false, false, true},
                      mode_case{{"-x"}, mode::tree, false, true, false},
                      mode_case{{"-tx", "-q"}, mode::tree, false, true, false},
                      mode_case{{"-j"}, mode::json, true, false, false},
                      mode_case{{"-jn"}, mode::json, true, false, false},
                      mode_case{{"--json", "--explain"}, mode::json, true, true, false},
                      mode_case{{"-t", "-j"}, mode::json, true, false, false},
                      mode_case{{"-a"}, mode::trace, false, false, false},
                      mode_case{{"--apdu", "-n"}, mode::trace, false, false, true},
                      mode_case{{"-a", "-x", "-q"}, mode::trace, false, true, false},
                      mode_case{{"-j", "-a", "-x"}, mode::trace, true, true, false},
                      mode_case{{"-p"}, mode::paths, false, false, false},
                      mode_case{{"--paths", "-n"}, mode::paths, false, false, true},
                      mode_case{{"-px"}, mode::paths, false, false, false},
                      mode_case{{"-tp"}, mode::paths, false, false, false},
                      mode_case{{"-pj"}, mode::json, true, false, false},
                      mode_case{{"--tag", "5A"}, mode::tree, false, false, false},
                      mode_case{{"--tag", "5A", "-j"}, mode::json, true, false, false},
                      // A value alone is explained, unless a mode says otherwise.
                      mode_case{{"--value=95:00"}, mode::tree, false, true, false},
                      mode_case{{"--value=95:00", "-j"}, mode::json, true, false, false},
                      mode_case{{"--value=95:00", "-jx"}, mode::json, true, true, false}));

struct collect_case {
  std::vector<std::string> args;
  std::vector<std::string> records;
  std::vector<std::uint64_t> tags;
  bool strict;
  bool separate;  // the tree's blank line after each record
};

class CollectArguments : public ::testing::TestWithParam<collect_case> {};

// -r and --tag gather in order; a blank line between records only where -q is not.
TEST_P(CollectArguments, InOrder) {
  const collect_case& c = GetParam();
  const parse_result got = parse(c.args);
  ASSERT_TRUE(got.run) << got.err;
  EXPECT_EQ(std::vector<std::string>(got.chosen.records.begin(), got.chosen.records.end()),
            c.records);
  std::vector<std::uint64_t> tags;
  for (const tag_id& tag : got.chosen.tags)
    tags.push_back(tag.tag);
  EXPECT_EQ(tags, c.tags);
  EXPECT_EQ(got.chosen.strict, c.strict);
  EXPECT_EQ(got.chosen.tree.strict, c.strict);
  EXPECT_EQ(got.chosen.console.strict, c.strict);
  EXPECT_EQ(got.chosen.tree.separate, c.separate);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CollectArguments,
    ::testing::Values(
        collect_case{{}, {}, {}, false, false}, collect_case{{"-t"}, {}, {}, false, true},
        collect_case{{"-tq"}, {}, {}, false, false}, collect_case{{"-x"}, {}, {}, false, true},
        collect_case{{"-p"}, {}, {}, false, false}, collect_case{{"-j"}, {}, {}, false, false},
        collect_case{
            {"-r", "9F27", "--record=5A", "-r9000"}, {"9F27", "5A", "9000"}, {}, false, false},
        collect_case{
            {"-p", "--tag", "9F27,5a", "--tag=DF8101"}, {}, {0x9F27, 0x5A, 0xDF8101}, false, false},
        collect_case{{"--strict", "-t"}, {}, {}, true, true},
        collect_case{{"-t", "-r", "9F27", "--value=95:0000008000", "-r", "5A"},
                     {"9F27", "95050000008000", "5A"},
                     {},
                     false,
                     true}));

struct names_case {
  std::vector<std::string> args;
  bool label_lines;
  bool json_file_names;
};

// As grep: names for several FILEs, or when asked; JSON names any FILE it reads.
TEST(FileNames, AsGrepGivesThem) {
  const std::vector<names_case> cases = {
      {{}, false, false},
      {{"a"}, false, true},
      {{"a", "b"}, true, true},
      {{"--with-filename", "a"}, true, true},
      {{"--no-filename", "a", "b"}, false, false},
      {{"-H", "--no-filename", "a", "b"}, false, false},
      {{"--no-filename", "-H", "a"}, true, true},
      {{"-r", "9000"}, false, false},
  };
  for (const names_case& c : cases) {
    const parse_result got = parse(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ASSERT_TRUE(got.run);
    EXPECT_EQ(got.chosen.label_lines, c.label_lines);
    EXPECT_EQ(got.chosen.json_file_names, c.json_file_names);
  }
}

struct prompt_case {
  std::vector<std::string> args;
  bool input_is_terminal;
  bool output_is_terminal;
  bool prompt;
};

void PrintTo(const prompt_case& c, std::ostream* os) {
  for (const std::string& a : c.args)
    *os << a << ' ';
  *os << (c.input_is_terminal ? "tty" : "pipe") << " -> "
      << (c.output_is_terminal ? "tty" : "pipe");
}

class DecodingPrompt : public ::testing::TestWithParam<prompt_case> {};

// `emvtlv -t | tee log` logs no prompt; a person at a terminal gets one.
TEST_P(DecodingPrompt, OnlyForAPersonAtATerminal) {
  const prompt_case& c = GetParam();
  const parse_result got = parse(c.args);
  ASSERT_TRUE(got.run);
  EXPECT_EQ(decoding_prompt(got.chosen, c.input_is_terminal, c.output_is_terminal), c.prompt);
}

INSTANTIATE_TEST_SUITE_P(Rows, DecodingPrompt,
                         ::testing::Values(prompt_case{{"-t"}, true, true, true},
                                           prompt_case{{"-t"}, true, false, false},
                                           prompt_case{{"-t"}, false, true, false},
                                           prompt_case{{"-t"}, false, false, false},
                                           prompt_case{{"-x"}, true, true, true},
                                           prompt_case{{"-p"}, true, true, true},
                                           prompt_case{{"-j"}, true, true, false},
                                           prompt_case{{"-tq"}, true, true, false},
                                           prompt_case{{"-t", "cards.log"}, true, true, false},
                                           prompt_case{{"-t", "-r", "9000"}, true, true, false}));

}  // namespace
}  // namespace emvtlv::cli
