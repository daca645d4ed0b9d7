// The pieces of the command line's input and output: --value's records and the labels
// a FILE's name puts on its output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/line_labels.h"
#include "cli/value_record.h"
#include "memory_io.h"

namespace emvtlv::cli {
namespace {

struct value_case {
  std::string argument;
  std::string record;  // empty: refused
};

TEST(ValueRecord, HeaderMadeFromTheTagAndTheValuesLength) {
  const std::vector<value_case> cases = {
      {"95:0000008000", "95050000008000"},
      {"9f27:80", "9F270180"},
      {"DF8101:0102", "DF8101020102"},
      {"8E:00 00 03 E8:00 00 00 00:42 03", "8E0A000003E8000000004203"},
      {"9F36:", "9F3600"},
      {"C1:" + std::string(256, 'A'), "C18180" + std::string(256, 'A')},    // 128 bytes
      {"C1:" + std::string(512, 'A'), "C1820100" + std::string(512, 'A')},  // 256 bytes
      {"C1:" + std::string(2 * 65533, 'A'), ""},  // with its header, past a record
      {"5A", ""},                                 // no value at all
      {"00:01", ""},                              // padding, not a tag
      {"9F:01", ""},                              // a tag cut short
      {"5A01:01", ""},                            // two tags
      {"DF81:01", ""},                            // the last octet says more follow
      {"9F2:01", ""},                             // half an octet
      {"95:00000080 0", ""},                      // half an octet in the value
      {"95:0x00", ""},                            // not hex
  };
  for (const value_case& c : cases) {
    std::string record;
    std::string complaint;
    const bool made = make_value_record(c.argument, record, complaint);
    SCOPED_TRACE(c.argument.substr(0, 20));
    EXPECT_EQ(made, !c.record.empty());
    EXPECT_EQ(record, c.record);
    EXPECT_EQ(complaint.empty(), made);
  }
}

// Labels go where every line starts, however the writes cut the lines.
TEST(LineLabels, EveryLineWhateverTheWrites) {
  struct label_case {
    std::string output;
    bool json;
    std::string labelled;
  };
  const std::vector<label_case> cases = {
      {"5A XX\n\n9F27 80\n", false, "a.log:5A XX\n\na.log:9F27 80\n"},
      {"1:5A XX\n", false, "a.log:1:5A XX\n"},
      {"no newline at the end", false, "a.log:no newline at the end"},
      {"{\"line\":1}\n{\"line\":2}\n", true,
       "{\"file\":\"a.log\",\"line\":1}\n{\"file\":\"a.log\",\"line\":2}\n"},
  };
  for (const label_case& c : cases) {
    for (const std::size_t step :
         {std::size_t{1}, std::size_t{2}, std::size_t{5}, c.output.size()}) {
      test::string_output out;
      line_labeller labeller = make_line_labeller(out.target(), "a.log", c.json);
      const output_target target = labelled_target(labeller);
      for (std::size_t at = 0; at < c.output.size(); at += step) {
        const std::string piece = c.output.substr(at, step);
        ASSERT_TRUE(target.write(target.context, piece.data(), piece.size()));
      }
      EXPECT_EQ(out.text, c.labelled) << "writes of " << step;
    }
  }
}

TEST(LineLabels, NamesAsGrepAndJsonNeedThem) {
  test::string_output out;
  line_labeller labeller = make_line_labeller(out.target(), "-", false);
  line_labeller json = make_line_labeller(out.target(), "a\"b\x01\xFF", true);
  EXPECT_EQ(labeller.label, "(standard input):");
  EXPECT_EQ(json.label, "\"file\":\"a\\\"b\\u0001\\uFFFD\",");
}

}  // namespace
}  // namespace emvtlv::cli
