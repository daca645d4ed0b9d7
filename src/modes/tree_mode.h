// The decoding modes' loop: each input line is one record, decoded as a BER-TLV tree
// and written as an indented text tree, as one JSON object or as one line per element.
//
// Contract and limits:
// - Input comes in blocks from the source; a line of any length costs no memory
//   beyond one block and one record (at most 65,536 bytes).
// - A record's output goes out as it is made once more than 64 KiB of it waits; the
//   text tree stops indenting past a depth of 32 ("[depth 40] 70 ..."), so output is
//   linear in the input and memory flat however deep the templates nest.
// - Everything written so far is drained before a read that may block, so a prompt
//   (printed only when asked for, for a person at a terminal) is seen before typing.
//   A record's output then starts in column 1: after a newline when its line was not
//   typed after this prompt (pasted with others) or was ended by end of input.
// - End of input: status 0 (after a newline when prompting), or 1 with `strict` when a
//   record had a problem (a bad line, a node's problem, with explain a problem item).
//   A read error: status 1. Output that can no longer be written: status 1 at once.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "common/output_sink.h"
#include "emv/payment_systems.h"
#include "io/descriptors.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"
#include "tree/tag_filter.h"

namespace emvtlv::oda {
class ca_key_table;
}

namespace emvtlv {

struct tree_mode_options {
  enum class format : unsigned char { text, json, paths };
  format output = format::text;
  bool explain = false;               // text and JSON
  bool line_numbers = false;          // text and paths: the line number is in every JSON object
  bool prompt = false;                // before every line, for a person at a terminal
  bool separate = false;              // text: a blank line after each record's output
  bool strict = false;                // status 1 when any record had a problem
  std::span<const tag_id> tags = {};  // only these elements (and, in JSON, the way to them)
  emv_kernel kernel = emv_kernel::unknown;     // --kernel: read as this kernel's when no AID says
  const oda::ca_key_table* ca_keys = nullptr;  // trace mode: none means the built-in table
};

inline constexpr std::string_view tree_prompt = "Input EMV record encoded in TLV format: ";

// What a run needs that is worth making only once: the reader's block and record, the
// parser's node storage and the output sink. A caller that runs many inputs (a fuzzer)
// keeps one; every run starts it afresh, so nothing carries over.
struct tree_mode_state {
  tree_mode_state();
  std::unique_ptr<hex_line_reader> reader;
  std::unique_ptr<tree_parser> parser;
  std::unique_ptr<tag_filter> filter;  // made on the first run that asks for tags
  output_sink sink;
};

int run_tree_mode(input_source in, output_target out, const tree_mode_options& options);
int run_tree_mode(input_source in, output_target out, const tree_mode_options& options,
                  tree_mode_state& state);

}  // namespace emvtlv
