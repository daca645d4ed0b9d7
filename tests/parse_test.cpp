#include "tree/parse.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"
#include "tree/hex_lines.h"

namespace emvtlv {
namespace {

std::string hex_of(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += hex_pairs[2 * std::size_t{b}];
    text += hex_pairs[2 * std::size_t{b} + 1];
  }
  return text;
}

// One node a field: "DEPTH TAG DECLARED", then "+" for a template or its value in hex,
// then "! PROBLEM"; nodes joined by " | ", the status word last. A tag longer than 8
// octets shows its last 8 and "/SIZE".
std::string dump(const tree_result& result, std::span<const std::uint8_t> record) {
  std::string text;
  for (const tree_node& node : result.nodes) {
    if (!text.empty()) text += " | ";
    text += std::to_string(node.depth) + " ";
    std::array<std::uint8_t, 8> tag{};
    const std::size_t shown = std::min<std::size_t>(node.tag_size, 8);
    for (std::size_t i = 0; i < shown; ++i)
      tag[i] = static_cast<std::uint8_t>(node.tag >> (8 * (shown - 1 - i)));
    text += hex_of(std::span(tag).first(shown));
    if (node.tag_size > 8) text += "/" + std::to_string(node.tag_size);
    text += " " + std::to_string(node.declared);
    if (node.constructed)
      text += " +";
    else if (node.value_size > 0)
      text += " " + hex_of(record.subspan(node.value_offset, node.value_size));
    std::array<char, 64> buffer{};
    if (node.problem != node_problem::none)
      text += " ! " + std::string(describe_problem(node, buffer));
  }
  if (result.has_status) {
    if (!text.empty()) text += " | ";
    text += "status " + hex_of(std::array{static_cast<std::uint8_t>(result.status >> 8),
                                          static_cast<std::uint8_t>(result.status)});
  }
  return text;
}

struct tree_case {
  std::string record;  // hex, spaces ignored
  std::string nodes;   // dump
};

void PrintTo(const tree_case& c, std::ostream* os) {
  *os << c.record;
}

std::vector<std::uint8_t> bytes_of(std::string hex) {
  std::erase(hex, ' ');
  return test::from_hex(hex);
}

tree_parser& shared_parser() {
  static tree_parser parser;  // reused, as the program reuses it: stale nodes would show
  return parser;
}

class TreeParse : public testing::TestWithParam<tree_case> {};

TEST_P(TreeParse, GivesTheseNodes) {
  const std::vector<std::uint8_t> record = bytes_of(GetParam().record);
  EXPECT_EQ(dump(shared_parser().parse(record), record), GetParam().nodes);
}

INSTANTIATE_TEST_SUITE_P(
    Structure, TreeParse,
    testing::Values(
        tree_case{"", ""}, tree_case{"5A0112", "0 5A 1 12"},
        tree_case{"E1 08 E2 06 E3 04 5A 02 1234", "0 E1 8 + | 1 E2 6 + | 2 E3 4 + | 3 5A 2 1234"},
        tree_case{"E1 0A E2 03 5A 01 11 5F2D 02 656E 9F36 02 0041",
                  "0 E1 10 + | 1 E2 3 + | 2 5A 1 11 | 1 5F2D 2 656E | 0 9F36 2 0041"},
        tree_case{"E1 00 5A 00", "0 E1 0 + | 0 5A 0"},
        // Padding before, between and after, at the top and inside a template.
        tree_case{"0000 5A0111 0000 E104 005A0122 00", "0 5A 1 11 | 0 E1 4 + | 1 5A 1 22"},
        tree_case{"E1 04 5A 01 22 00", "0 E1 4 + | 1 5A 1 22"}, tree_case{"000000", ""},
        // Tags of several octets; lengths of every form.
        tree_case{"9F818203 01 AA", "0 9F818203 1 AA"}, tree_case{"1F00 00", "0 1F00 0"},
        tree_case{"1F 8181818181818181 01 00", "0 8181818181818101/10 0"},
        tree_case{"5A 81 02 1234", "0 5A 2 1234"}, tree_case{"5A 82 0002 1234", "0 5A 2 1234"},
        tree_case{"5A 83 000001 AB", "0 5A 1 AB"}, tree_case{"5A 84 00000002 1234", "0 5A 2 1234"},
        tree_case{"E1 84 00000003 5A 01 11", "0 E1 3 + | 1 5A 1 11"}));

INSTANTIATE_TEST_SUITE_P(
    Problems, TreeParse,
    testing::Values(
        tree_case{"5A 08 123456",
                  "0 5A 8 123456 ! value runs past the end: 8 bytes declared, 3 left"},
        tree_case{"5A 01", "0 5A 1 ! value runs past the end: 1 byte declared, 0 left"},
        tree_case{
            "5A 84 FFFFFFFF 00",
            "0 5A 4294967295 00 ! value runs past the end: 4294967295 bytes declared, 1 left"},
        // A template that runs past the end still has its children parsed.
        tree_case{"E1 09 5A 01 11 5F 2D",
                  "0 E1 9 + ! value runs past the end: 9 bytes declared, 5 left | 1 5A 1 11 | "
                  "1 5F2D 0 ! length runs past the end"},
        tree_case{"E2 05 5A 03 11",
                  "0 E2 5 + ! value runs past the end: 5 bytes declared, 3 left | 1 5A 3 11 ! "
                  "value runs past the end: 3 bytes declared, 1 left"},
        tree_case{"E1 80 5A 01 11 00 00", "0 E1 0 5A01110000 ! indefinite length (80) not allowed"},
        tree_case{"70 05 E1 80 5A 01 11 9F36 01 41",
                  "0 70 5 + | 1 E1 0 5A0111 ! indefinite length (80) not allowed | 0 9F36 1 41"},
        tree_case{"5A 80", "0 5A 0 ! indefinite length (80) not allowed"},
        tree_case{"5A 85 010203040506",
                  "0 5A 0 010203040506 ! length field of 6 octets is too long"},
        tree_case{"5A FF 01", "0 5A 0 01 ! length field of 128 octets is too long"},
        tree_case{"70 03 5A 88 01 5A 01 22",
                  "0 70 3 + | 1 5A 0 01 ! length field of 9 octets is too long | 0 5A 1 22"},
        tree_case{"5A", "0 5A 0 ! length runs past the end"},
        tree_case{"5A 82 01", "0 5A 0 ! length runs past the end"},
        tree_case{"9F36 84 000000", "0 9F36 0 ! length runs past the end"},
        tree_case{"E1 03 5A 82 00 5A 01 22",
                  "0 E1 3 + | 1 5A 0 ! length runs past the end | 0 5A 1 22"},
        tree_case{"9F", "0 9F 0 ! tag runs past the end"},
        tree_case{"5F 81 82", "0 5F8182 0 ! tag runs past the end"},
        tree_case{"E1 02 9F 81 5A 00", "0 E1 2 + | 1 9F81 0 ! tag runs past the end | 0 5A 0"}));

INSTANTIATE_TEST_SUITE_P(
    StatusWords, TreeParse,
    testing::Values(tree_case{"9000", "status 9000"}, tree_case{"6A82", "status 6A82"},
                    tree_case{"6F00", "status 6F00"}, tree_case{"0000 9000", "status 9000"},
                    tree_case{"5A 01 11 9000", "0 5A 1 11 | status 9000"},
                    tree_case{"6F 00 611F", "0 6F 0 + | status 611F"},
                    tree_case{"5A 01 11 6C10", "0 5A 1 11 | status 6C10"},
                    // The bytes before do not parse cleanly, so 90 00 is data.
                    tree_case{"9F36 02 9000", "0 9F36 2 9000"},
                    tree_case{"5A 80 9000", "0 5A 0 9000 ! indefinite length (80) not allowed"},
                    // Without them the template runs past the end, so they are its child.
                    tree_case{"E1 05 5A 01 11 9000", "0 E1 5 + | 1 5A 1 11 | 1 90 0"},
                    // Not a status word: the last two bytes are read as elements.
                    tree_case{"9001", "0 90 1 ! value runs past the end: 1 byte declared, 0 left"},
                    tree_case{"900000", "0 90 0"}, tree_case{"6000", "0 60 0 +"},
                    tree_case{"7000", "0 70 0 +"}));

INSTANTIATE_TEST_SUITE_P(
    CardAnswers, TreeParse,
    testing::Values(
        // SELECT PSE.
        tree_case{"6F1A840E315041592E5359532E4444463031A5088801025F2D02656E",
                  "0 6F 26 + | 1 84 14 315041592E5359532E4444463031 | 1 A5 8 + | 2 88 1 02 | "
                  "2 5F2D 2 656E"},
        tree_case{"6F1A840E315041592E5359532E4444463031A5088801025F2D02656E9000",
                  "0 6F 26 + | 1 84 14 315041592E5359532E4444463031 | 1 A5 8 + | 2 88 1 02 | "
                  "2 5F2D 2 656E | status 9000"},
        // GET PROCESSING OPTIONS, format 2.
        tree_case{"774682021980940808010100100102019F360200419F2701809F260811223344556677889F10"
                  "0706010A03A0000057131234567890123456D27122010000000000000F9F6C023E00",
                  "0 77 70 + | 1 82 2 1980 | 1 94 8 0801010010010201 | 1 9F36 2 0041 | "
                  "1 9F27 1 80 | 1 9F26 8 1122334455667788 | 1 9F10 7 06010A03A00000 | "
                  "1 57 19 1234567890123456D27122010000000000000F | 1 9F6C 2 3E00"},
        // READ RECORD.
        tree_case{"70475A0812345678901234565F24032712315F25032212015F280208409F0702FF008C159F02"
                  "069F03069F1A0295055F2A029A039C019F37048E0E000000000000000042031E031F03",
                  "0 70 71 + | 1 5A 8 1234567890123456 | 1 5F24 3 271231 | 1 5F25 3 221201 | "
                  "1 5F28 2 0840 | 1 9F07 2 FF00 | "
                  "1 8C 21 9F02069F03069F1A0295055F2A029A039C019F3704 | "
                  "1 8E 14 000000000000000042031E031F03"}));

// Nesting as deep as a full record allows costs no stack: 16,384 levels.
TEST(TreeParseLimits, NestsAsDeepAsTheBytesAllow) {
  std::vector<std::uint8_t> record;
  for (std::size_t level = 0; level < max_tree_record_bytes / 4; ++level) {
    const std::size_t inside = max_tree_record_bytes - 4 * (level + 1);
    record.insert(record.end(), {0x21, 0x82, static_cast<std::uint8_t>(inside >> 8),
                                 static_cast<std::uint8_t>(inside)});
  }
  const tree_result result = shared_parser().parse(record);
  ASSERT_EQ(result.nodes.size(), max_tree_record_bytes / 4);
  EXPECT_EQ(result.nodes.back().depth, max_tree_record_bytes / 4 - 1);
  EXPECT_EQ(result.nodes.back().problem, node_problem::none);
}

// The most nodes a record can give: a template holding a one-octet cut-short
// element, again and again, then one more at the end: 2 nodes every 3 bytes.
TEST(TreeParseLimits, HoldsTheMostNodesARecordCanGive) {
  std::vector<std::uint8_t> record;
  while (record.size() + 3 <= max_tree_record_bytes)
    record.insert(record.end(), {0xE1, 0x01, 0x5A});
  record.push_back(0x5A);
  ASSERT_EQ(record.size(), max_tree_record_bytes);
  const tree_result result = shared_parser().parse(record);
  EXPECT_EQ(result.nodes.size(), (2 * max_tree_record_bytes + 1) / 3);
  EXPECT_LE(result.nodes.size(), max_tree_nodes(max_tree_record_bytes));
  EXPECT_EQ(result.nodes.back().offset, max_tree_record_bytes - 1);
  EXPECT_EQ(result.nodes.back().problem, node_problem::length_cut_short);
}

TEST(TreeParseLimits, ReadsNoMoreThanTheLargestRecord) {
  std::vector<std::uint8_t> record(max_tree_record_bytes + 2, 0x00);
  record[max_tree_record_bytes] = 0x5A;  // past the limit: never seen
  EXPECT_TRUE(shared_parser().parse(record).nodes.empty());
}

TEST(DescribeProblem, CutsToTheBuffer) {
  const std::vector<std::uint8_t> record = bytes_of("5A 08 123456");
  const tree_result result = shared_parser().parse(record);
  std::array<char, 12> small{};
  EXPECT_EQ(describe_problem(result.nodes[0], small), "value runs p");
  EXPECT_EQ(describe_problem(result.nodes[0], std::span<char>()), "");
}

struct status_case {
  std::uint16_t status;
  std::string_view meaning;
};

class StatusMeaning : public testing::TestWithParam<status_case> {};

TEST_P(StatusMeaning, IsListedOrEmpty) {
  EXPECT_EQ(status_meaning(GetParam().status), GetParam().meaning);
}

INSTANTIATE_TEST_SUITE_P(
    Words, StatusMeaning,
    testing::Values(
        status_case{0x9000, "success"}, status_case{0x6283, "selected file invalidated"},
        status_case{0x6700, "wrong length"}, status_case{0x6982, "security status not satisfied"},
        status_case{0x6985, "conditions of use not satisfied"},
        status_case{0x6A81, "function not supported"},
        status_case{0x6A82, "file or application not found"},
        status_case{0x6A83, "record not found"}, status_case{0x6A86, "incorrect parameters P1-P2"},
        status_case{0x6D00, "instruction code not supported"},
        status_case{0x6E00, "class not supported"}, status_case{0x6100, "more data available"},
        status_case{0x61FF, "more data available"}, status_case{0x6C1A, "wrong length Le"},
        status_case{0x6F00, ""}, status_case{0x6A80, ""}, status_case{0x9001, ""},
        status_case{0x6701, ""}, status_case{0x6200, ""}));

}  // namespace
}  // namespace emvtlv
