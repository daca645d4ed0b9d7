#include "modes/tree_mode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "memory_io.h"

namespace emvtlv {
namespace {

std::string run_tree(std::string_view input, tree_mode_options options = {}) {
  test::string_input in{input};
  test::string_output out;
  EXPECT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
  return out.text;
}

struct tree_case {
  std::string input;
  std::string output;
};

void PrintTo(const tree_case& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.input);
}

class TreeText : public ::testing::TestWithParam<tree_case> {};

TEST_P(TreeText, PrintsExactly) {
  EXPECT_EQ(run_tree(GetParam().input), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TreeText,
    ::testing::Values(
        // SELECT PSE, as typed and as a reader logs it.
        tree_case{"6F1A840E315041592E5359532E4444463031A5088801025F2D02656E\n",
                  "6F File Control Information (FCI) Template\n"
                  "  84 Dedicated File (DF) Name: 315041592E5359532E4444463031\n"
                  "  A5 File Control Information (FCI) Proprietary Template\n"
                  "    88 Short File Identifier (SFI): 02\n"
                  "    5F2D Language Preference: 656E\n"},
        tree_case{"6f 1a 84 0e 31 50 41 59 2e 53 59 53 2e 44 44 46 30 31 a5 08 88 01 02 5f 2d 02 "
                  "65 6e 90 00\r\n",
                  "6F File Control Information (FCI) Template\n"
                  "  84 Dedicated File (DF) Name: 315041592E5359532E4444463031\n"
                  "  A5 File Control Information (FCI) Proprietary Template\n"
                  "    88 Short File Identifier (SFI): 02\n"
                  "    5F2D Language Preference: 656E\n"
                  "status: 9000 (success)\n"},
        // GPO format 2 with a contactless tag and the card's track 2.
        tree_case{"7727820219809404080101009F360200019F6C028000571147617390010100"
                  "10D27122011143804489\n",
                  "77 Response Message Template Format 2\n"
                  "  82 Application Interchange Profile (AIP): 1980\n"
                  "  94 Application File Locator (AFL): 08010100\n"
                  "  9F36 Application Transaction Counter (ATC): 0001\n"
                  "  9F6C Card Transaction Qualifiers (CTQ): 8000\n"
                  "  57 Track 2 Equivalent Data: XXXXXXXXXXXX0010D2712201XXXXXXXXXX\n"},
        // READ RECORD: every card number masked, at any depth.
        tree_case{"702A5A0847617390010100105F24032712315F200A4A4F484E2F534D4954489F6B0A4761739001"
                  "010010D271\n",
                  "70 READ RECORD Response Message Template\n"
                  "  5A Application Primary Account Number (PAN): XXXXXXXXXXXX0010\n"
                  "  5F24 Application Expiration Date: 271231\n"
                  "  5F20 Cardholder Name: 4A4F484E2F534D495448\n"
                  "  9F6B Track 2 Data (by length): XXXXXXXXXXXX0010D271\n"},
        tree_case{"7021561F42343736313733393030313031303031305E444F452F4A5E32373132323031\n",
                  "70 READ RECORD Response Message Template\n"
                  "  56 Track 1 Data: 42XXXXXXXXXXXXXXXXXXXXXXXX303031305E444F452F4A5E3237313232"
                  "3031\n"}));

INSTANTIATE_TEST_SUITE_P(
    Lines, TreeText,
    ::testing::Values(
        tree_case{"", ""}, tree_case{"\n\n  \n", ""},
        tree_case{"DF81010201 02\n", "DF8101 (unknown tag): 0102\n"},
        tree_case{"9F2600\n", "9F26 Application Cryptogram:\n"},
        tree_case{"\n9F26 0Z\n", "line 2: column 7: 'Z' is not a hex digit\n"},
        // A card-number tag whose length cannot be read still hides the number.
        tree_case{"5A80411111111111111111\n",
                  "5A Application Primary Account Number (PAN): XXXXXXXXXXXXXX1111"
                  " (indefinite length (80) not allowed)\n"},
        tree_case{"E1055A854111111111\n",
                  "E1 (unknown tag)\n"
                  "  5A Application Primary Account Number (PAN): XX1111"
                  " (length field of 6 octets is too long)\n"
                  "11 (unknown tag): (value runs past the end: 17 bytes declared, 0 left)\n"},
        // Card numbers in the bytes left after an unreadable length: after a second
        // unreadable length, and under an 84 length the tree reads.
        tree_case{"7080E1805A084111111111111111\n",
                  "70 READ RECORD Response Message Template: E1805A08XXXXXXXXXXXX1111"
                  " (indefinite length (80) not allowed)\n"},
        tree_case{"E1805A84000000084111111111111111\n",
                  "E1 (unknown tag): 5A8400000008XXXXXXXXXXXX1111"
                  " (indefinite length (80) not allowed)\n"},
        tree_case{"9000\n6A82\n",
                  "status: 9000 (success)\nstatus: 6A82 (file or application not found)\n"},
        // A bare 6F00 is a status word, as the bytes before it (none) parse completely.
        tree_case{"6F00\n", "status: 6F00\n"},
        tree_case{"A500\n", "A5 File Control Information (FCI) Proprietary Template\n"}));

// Card numbers wherever the bytes hold them, card codes, and hidden digits that would
// be read as a header.
INSTANTIATE_TEST_SUITE_P(
    Privacy, TreeText,
    ::testing::Values(
        tree_case{"9F11205A084761739001010010\n",
                  "9F11 Issuer Code Table Index: 5A08XXXXXXXXXXXX0010"
                  " (value runs past the end: 32 bytes declared, 10 left)\n"},
        tree_case{"5A08476173900101\n",
                  "5A Application Primary Account Number (PAN): XXXXXXXXXXXX"
                  " (value runs past the end: 8 bytes declared, 6 left)\n"},
        tree_case{"57114761739001010010D27122011143804489\n",
                  "57 Track 2 Equivalent Data: XXXXXXXXXXXX0010D2712201XXXXXXXXXX\n"},
        tree_case{"56214234373631373339303031303130303130"
                  "5E444F455E3237313232303131323334\n",
                  "56 Track 1 Data: 42XXXXXXXXXXXXXXXXXXXXXXXX303031305E444F455E32373132323031"
                  "XXXXXXXX\n"},
        tree_case{"9F20041234567F\n", "9F20 Track 2 Discretionary Data: XXXXXXXX\n"},
        tree_case{"70045A084761739001010010\n",
                  "70 READ RECORD Response Message Template\n"
                  "  5A Application Primary Account Number (PAN): XXXX"
                  " (value runs past the end: 8 bytes declared, 2 left)\n"
                  "XX: XXXXXXXXXX (card digits hidden where a header would be)\n"},
        // Hidden digits at the end are no status word.
        tree_case{"5A0A4761739001019000\n",
                  "5A Application Primary Account Number (PAN): XXXXXXXXXXXXXXXX"
                  " (value runs past the end: 10 bytes declared, 8 left)\n"}));

TEST(TreeMode, ExplainsTextAndTrack2WithTheirHiddenDigits) {
  tree_mode_options options;
  options.explain = true;
  EXPECT_EQ(run_tree("9F1F10363231303934383030303030303031315E\n"
                     "5F201036323130393438303030303030303131\n"
                     "57114761739001010010D27122011143804489\n",
                     options),
            "9F1F Track 1 Discretionary Data: " + std::string(32, 'X') +
                "\n"
                "  - discretionary data: 16 characters, hidden\n"
                "5E (unknown tag) (length runs past the end)\n"
                "5F20 Cardholder Name: " +
                std::string(24, 'X') +
                "30303131\n"
                "  - \"XXXXXXXXXXXX0011\"\n"
                "57 Track 2 Equivalent Data: XXXXXXXXXXXX0010D2712201XXXXXXXXXX\n"
                "  - PAN: XXXXXXXXXXXX0010\n"
                "  - expiry: 2027-12\n"
                "  - service code: 201\n"
                "  - discretionary data: 10 digits, hidden\n");
}

// Past a depth of 32 a line is indented no further and says its depth.
TEST(TreeMode, StopsIndentingPastDepth32) {
  std::string record;
  for (int i = 0; i < 40; ++i)
    record += "E182FFFF";
  const std::string text = run_tree(record + "9F360200019000\n");
  const std::string indent(64, ' ');
  EXPECT_NE(text.find("\n" + std::string(62, ' ') + "E1 (unknown tag)"), std::string::npos);
  EXPECT_NE(text.find("\n" + indent + "E1 (unknown tag)"), std::string::npos);
  EXPECT_NE(text.find("\n" + indent + "[depth 33] E1 (unknown tag)"), std::string::npos);
  EXPECT_NE(
      text.find("\n" + indent + "[depth 40] 9F36 Application Transaction Counter (ATC): 0001"),
      std::string::npos);
  EXPECT_EQ(text.find(indent + " "), std::string::npos);
}

// A record's output goes out as it is made: no write waits for a whole record's text.
TEST(TreeMode, WritesALargeRecordsOutputInPieces) {
  struct largest_write {
    std::size_t largest = 0;
    std::size_t total = 0;
    static bool write(void* context, const char*, std::size_t size) {
      auto& self = *static_cast<largest_write*>(context);
      self.largest = std::max(self.largest, size);
      self.total += size;
      return true;
    }
  };
  std::string record;
  for (int i = 0; i < 16383; ++i)
    record += "E182FFFF";
  for (const auto format : {tree_mode_options::format::text, tree_mode_options::format::json}) {
    const std::string input = record + "\n" + record + "\n";
    test::string_input in{input};
    largest_write out;
    tree_mode_options options;
    options.output = format;
    ASSERT_EQ(run_tree_mode(in.source(), {&out, largest_write::write}, options), 0);
    EXPECT_GT(out.total, 2'000'000u);
    EXPECT_LE(out.largest, 200'000u);
  }
}

TEST(TreeMode, NumbersEveryLineWhenAsked) {
  tree_mode_options options;
  options.line_numbers = true;
  EXPECT_EQ(run_tree("\n6F03880101\nZZ\n", options),
            "2:6F File Control Information (FCI) Template\n"
            "2:  88 Short File Identifier (SFI): 01\n"
            "3:column 1: 'Z' is not a hex digit\n");
}

TEST(TreeMode, PromptsBeforeEveryLineAndEndsWithANewlineWhenAsked) {
  tree_mode_options options;
  options.prompt = true;
  EXPECT_EQ(run_tree("88 01 01\n", options), std::string(tree_prompt) +
                                                 "88 Short File Identifier (SFI): 01\n" +
                                                 std::string(tree_prompt) + "\n");
}

TEST(TreeMode, GivesTheSameOutputWhateverTheReadSizes) {
  const std::string input =
      "6F1A840E315041592E5359532E4444463031A5088801025F2D02656E9000\n\nZZ\n5A0812";
  const std::string whole = run_tree(input);
  for (std::size_t step : {1u, 2u, 3u, 7u, 64u}) {
    test::string_input in{input, step};
    test::string_output out;
    ASSERT_EQ(run_tree_mode(in.source(), out.target(), {}), 0);
    EXPECT_EQ(out.text, whole) << step;
  }
}

// Records whose output fills the sink past the point where it spills, mid-record at
// times: in every mode, the bytes out do not depend on how the input arrives.
TEST(TreeMode, GivesTheSameOutputWhateverTheReadSizesInEveryMode) {
  std::string input;
  static constexpr char hex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < 20000; ++i) {
    const std::size_t length = 1 + i % 120;
    input += "9F10";
    input += hex[length >> 4];
    input += hex[length & 0xF];
    input.append(2 * length, i % 2 == 0 ? 'A' : 'B');
    input += '\n';
  }
  tree_mode_options text;
  text.separate = true;
  tree_mode_options numbered = text;
  numbered.line_numbers = true;
  tree_mode_options explained = text;
  explained.explain = true;
  tree_mode_options json;
  json.output = tree_mode_options::format::json;
  tree_mode_options paths;
  paths.output = tree_mode_options::format::paths;
  // Every record gives one line and its blank separator.
  EXPECT_EQ(std::ranges::count(run_tree(input, text), '\n'), 40000);
  for (const tree_mode_options& options : {text, numbered, explained, json, paths}) {
    const std::string whole = run_tree(input, options);
    for (std::size_t step : {997u, 4099u, 65537u}) {
      test::string_input in{input, step};
      test::string_output out;
      ASSERT_EQ(run_tree_mode(in.source(), out.target(), options), 0);
      EXPECT_TRUE(out.text == whole) << "read size " << step;
    }
  }
}

}  // namespace
}  // namespace emvtlv

namespace emvtlv {
namespace {

// A state kept across runs must leave no trace of the run before: not a half-read
// line, not an unflushed byte, not a line number.
TEST(TreeMode, ReusedStateStartsEveryRunAfresh) {
  const std::string first = "5A0847617390010100109000\n6F03880102\n";
  const std::string second = "ZZ\n70 80 5A 08 41 11";  // ends inside a line
  tree_mode_state state;
  for (const bool json : {false, true}) {
    tree_mode_options options;
    options.line_numbers = true;
    if (json) options.output = tree_mode_options::format::json;
    for (const std::string* input : {&first, &second, &first}) {
      test::string_input in{*input, 5};
      test::string_output reused;
      ASSERT_EQ(run_tree_mode(in.source(), reused.target(), options, state), 0);
      EXPECT_EQ(reused.text, run_tree(*input, options));
    }
  }
}

}  // namespace
}  // namespace emvtlv
