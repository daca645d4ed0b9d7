// The paths form, the --tag filter in every decoding mode, the record separator and
// --strict, run through the decoding modes' loop in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_io.h"
#include "modes/tree_mode.h"
#include "tree/tag_filter.h"

namespace emvtlv {
namespace {

using format = tree_mode_options::format;

// A GPO answer (format 2) holding a READ RECORD template, a repeated tag and a
// status word: 77 { 9F27, 9F36, 70 { 5A, 9F27 }, 9F27 } 9000.
const std::string gpo =
    "771D"
    "9F270180"
    "9F36020001"
    "700E"
    "5A084761739001010010"
    "9F270140"
    "9F270100"
    "9000\n";

struct mode_case {
  const char* name;
  std::string input;
  format output;
  std::string tags;  // --tag, empty for none
  bool line_numbers;
  bool explain;
  std::string expected;
};

void PrintTo(const mode_case& c, std::ostream* os) {
  *os << c.name;
}

class DecodingModes : public ::testing::TestWithParam<mode_case> {};

TEST_P(DecodingModes, PrintExactly) {
  const mode_case& c = GetParam();
  std::vector<tag_id> tags;
  if (!c.tags.empty()) {
    ASSERT_TRUE(parse_tag_list(c.tags, tags));
  }
  tree_mode_options options;
  options.output = c.output;
  options.tags = tags;
  options.line_numbers = c.line_numbers;
  options.explain = c.explain;
  test::string_input in{c.input};
  test::string_output out;
  EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
  EXPECT_EQ(out.text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodingModes,
    ::testing::Values(
        // Paths: every primitive element from the top, repeated tags each on their line.
        mode_case{"Paths", gpo, format::paths, "", false, false,
                  "77/9F27 80\n77/9F36 0001\n77/70/5A XXXXXXXXXXXX0010\n77/70/9F27 40\n"
                  "77/9F27 00\nstatus 9000\n"},
        mode_case{"PathsNumbered", "\n" + gpo, format::paths, "", true, false,
                  "2:77/9F27 80\n2:77/9F36 0001\n2:77/70/5A XXXXXXXXXXXX0010\n2:77/70/9F27 40\n"
                  "2:77/9F27 00\n2:status 9000\n"},
        mode_case{"PathsDeep", "E106E204E30288009F2600\n", format::paths, "", false, false,
                  "E1/E2/E3/88\n9F26\n"},
        mode_case{"PathsLongTag", "DF810102AABB\n", format::paths, "", false, false,
                  "DF8101 AABB\n"},
        // Problems as the tree shows them: on the element's line, in parentheses.
        mode_case{"PathsProblems", "70089F36020001\n9F2700\nZZ\n7780\n", format::paths, "", false,
                  false,
                  "70 (value runs past the end: 8 bytes declared, 5 left)\n"
                  "70/9F36 0001\n"
                  "9F27\nline 3: column 1: 'Z' is not a hex digit\n"
                  "77 (indefinite length (80) not allowed)\n"},
        mode_case{"PathsProblemsNumbered", "ZZ\n9F\n", format::paths, "", true, false,
                  "1:column 1: 'Z' is not a hex digit\n2:9F (tag runs past the end)\n"},
        // --tag at any depth: every one of them, each once, no status.
        mode_case{"PathsTag", gpo, format::paths, "9F27", false, false,
                  "77/9F27 80\n77/70/9F27 40\n77/9F27 00\n"},
        mode_case{"PathsTags", gpo, format::paths, "5A,9F36", false, false,
                  "77/9F36 0001\n77/70/5A XXXXXXXXXXXX0010\n"},
        mode_case{"PathsTemplateTag", gpo, format::paths, "70", false, false,
                  "77/70/5A XXXXXXXXXXXX0010\n77/70/9F27 40\n"},
        mode_case{"PathsNoMatch", gpo, format::paths, "9F26", false, false, ""},
        mode_case{"PathsTagKeepsBadLines", "ZZ\n" + gpo, format::paths, "9F36", false, false,
                  "line 1: column 1: 'Z' is not a hex digit\n77/9F36 0001\n"},
        mode_case{"TreeTag", gpo, format::text, "9F27", false, false,
                  "9F27 Cryptogram Information Data (CID): 80\n"
                  "9F27 Cryptogram Information Data (CID): 40\n"
                  "9F27 Cryptogram Information Data (CID): 00\n"},
        // A template asked for comes whole, indented from its own line; a tag inside
        // it is not printed twice.
        mode_case{"TreeTemplateTag", gpo, format::text, "70,5A", false, false,
                  "70 READ RECORD Response Message Template\n"
                  "  5A Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                  "  9F27 Cryptogram Information Data (CID): 40\n"},
        mode_case{"TreeTagNumbered", gpo, format::text, "9F36", true, false,
                  "1:9F36 Application Transaction Counter (ATC): 0001\n"},
        mode_case{"ExplainTag", "9F02060000000123455F36010282021980\n", format::text, "9F02", false,
                  true, "9F02 Amount, Authorised (Numeric): 000000012345\n  - 123.45\n"},
        // JSON: the matching nodes and the templates that lead to them; the status stays.
        mode_case{"JsonTag", gpo, format::json, "9F36,5A", false, false,
                  "{\"line\":1,\"elements\":[{\"tag\":\"77\",\"name\":\"Response Message "
                  "Template Format 2\",\"length\":29,\"offset\":0,\"elements\":[{\"tag\":"
                  "\"9F36\",\"name\":\"Application Transaction Counter (ATC)\",\"length\":2,"
                  "\"offset\":6,\"value\":\"0001\"},{\"tag\":\"70\",\"name\":\"READ RECORD "
                  "Response Message Template\",\"length\":14,\"offset\":11,\"elements\":[{"
                  "\"tag\":\"5A\",\"name\":\"Application Primary Account Number (PAN)\","
                  "\"length\":8,\"offset\":13,\"value\":\"XXXXXXXXXXXX0010\",\"masked\":true}"
                  "]}]}],\"status\":\"9000\",\"status_meaning\":\"success\"}\n"},
        mode_case{"JsonNoMatch", gpo + "\n", format::json, "9F26", false, false,
                  "{\"line\":1,\"elements\":[],\"status\":\"9000\",\"status_meaning\":"
                  "\"success\"}\n{\"line\":2,\"elements\":[]}\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(DecodingModes, PathsValuesAreTheTreesValues) {
  // Whatever the tree prints after "NAME: " the paths print after "PATH ", card
  // numbers masked alike.
  const std::string input =
      "702A5A0847617390010100105F24032712315F200A4A4F484E2F534D4954489F6B0A4761739001"
      "010010D271\n7021561F42343736313733393030313031303031305E444F452F4A5E32373132323031\n"
      "5A80411111111111111111\n";
  for (const format output : {format::text, format::paths}) {
    tree_mode_options options;
    options.output = output;
    test::string_input in{input};
    test::string_output out;
    ASSERT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
    for (const char* value : {"XXXXXXXXXXXX0010\n", "XXXXXXXXXXXX0010D271\n",
                              "42XXXXXXXXXXXXXXXXXXXXXXXX303031305E444F452F4A5E32373132323031\n",
                              "XXXXXXXXXXXXXX1111 (indefinite length (80) not allowed)\n"})
      EXPECT_NE(out.text.find(value), std::string::npos) << value << " in\n" << out.text;
  }
}

// The paths of a record do not change when the hidden digits of its card numbers do.
TEST(DecodingModes, PathsHideTheSameDigitsWhateverTheyAre) {
  struct pair {
    std::string one;
    std::string other;  // the same record, other digits where a card number is hidden
  };
  const std::vector<pair> pairs = {
      {"5A0847617390010100105F24032712319000\n", "5A0852345678901200105F24032712319000\n"},
      {"70185A084761739001010010570C4761739001010010D2712201\n",
       "70185A089999999999990010570C9999999999990010D2712201\n"},
      {"7021561F42343736313733393030313031303031305E444F452F4A5E32373132323031\n",
       "7021561F42393939393939393939393939303031305E444F452F4A5E32373132323031\n"},
      {"9F6B0A4761739001010010D271\n", "9F6B0A1234567890120010D271\n"},
      {"5A80411111111111111111\n", "5A80499999999999991111\n"},
  };
  for (const pair& p : pairs) {
    std::string outputs[2];
    for (int i = 0; i < 2; ++i) {
      tree_mode_options options;
      options.output = format::paths;
      test::string_input in{i == 0 ? p.one : p.other};
      test::string_output out;
      ASSERT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
      outputs[i] = out.text;
    }
    EXPECT_EQ(outputs[0], outputs[1]) << p.one;
    EXPECT_NE(outputs[0].find('X'), std::string::npos) << outputs[0];
  }
}

struct separate_case {
  std::string input;
  std::string expected;
};

class RecordSeparator : public ::testing::TestWithParam<separate_case> {};

// A blank line after each record that printed something, none for blank lines.
TEST_P(RecordSeparator, EndsEveryRecordsOutput) {
  tree_mode_options options;
  options.separate = true;
  test::string_input in{GetParam().input};
  test::string_output out;
  EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
  EXPECT_EQ(out.text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecordSeparator,
    ::testing::Values(separate_case{"", ""}, separate_case{"\n\n", ""},
                      separate_case{"9F270180\n\n88 01 02\n",
                                    "9F27 Cryptogram Information Data (CID): 80\n\n"
                                    "88 Short File Identifier (SFI): 02\n\n"},
                      separate_case{"ZZ\n9000",
                                    "line 1: column 1: 'Z' is not a hex digit\n\n"
                                    "status: 9000 (success)\n\n"}));

struct strict_case {
  const char* name;
  std::string input;
  format output;
  bool explain;
  int status;  // with strict; without, always 0
};

void PrintTo(const strict_case& c, std::ostream* os) {
  *os << c.name;
}

class Strict : public ::testing::TestWithParam<strict_case> {};

TEST_P(Strict, FailsOnARecordsProblem) {
  const strict_case& c = GetParam();
  for (const bool strict : {false, true}) {
    tree_mode_options options;
    options.output = c.output;
    options.explain = c.explain;
    options.strict = strict;
    test::string_input in{c.input};
    test::string_output out;
    EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), strict ? c.status : 0) << strict;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Strict,
    ::testing::Values(
        strict_case{"Good", gpo + "\n" + gpo, format::text, false, 0},
        strict_case{"BadHex", gpo + "ZZ\n", format::text, false, 1},
        strict_case{"BadHexInJson", "ZZ\n" + gpo, format::json, false, 1},
        strict_case{"NodeProblem", "9F2702 01\n", format::paths, false, 1},
        strict_case{"UnknownTagIsNoProblem", "DF810102AABB\n", format::text, false, 0},
        strict_case{"ExplainProblem", "820319800\n", format::text, true, 1},
        strict_case{"ExplainWrongLength", "8203198000\n", format::json, true, 1},
        strict_case{"WrongLengthUnexplained", "8203198000\n", format::json, false, 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

struct tag_list_case {
  std::string text;
  bool valid;
  std::vector<std::uint64_t> tags;
};

class TagList : public ::testing::TestWithParam<tag_list_case> {};

TEST_P(TagList, ParsesOrRefuses) {
  std::vector<tag_id> tags{{0x5A, 1}};
  EXPECT_EQ(parse_tag_list(GetParam().text, tags), GetParam().valid);
  std::vector<std::uint64_t> got;
  for (std::size_t i = 1; i < tags.size(); ++i)
    got.push_back(tags[i].tag);
  EXPECT_EQ(got, GetParam().tags);
  EXPECT_EQ(tags.front().tag, 0x5Au);  // added to, never replaced
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TagList,
    ::testing::Values(tag_list_case{"9F27", true, {0x9F27}},
                      tag_list_case{"9f27,5a,DF8101", true, {0x9F27, 0x5A, 0xDF8101}},
                      tag_list_case{"0102030405060708", true, {0x0102030405060708}},
                      tag_list_case{"", false, {}}, tag_list_case{"9F2", false, {}},
                      tag_list_case{"9F27,", false, {}}, tag_list_case{",9F27", false, {}},
                      tag_list_case{"9F27,,5A", false, {}}, tag_list_case{"9G", false, {}},
                      tag_list_case{"010203040506070809", false, {}},
                      tag_list_case{"5A 9F27", false, {}}));

}  // namespace
}  // namespace emvtlv
