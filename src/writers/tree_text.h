// The tree mode's text: one line per element, indented two spaces a level.
//
//   6F File Control Information (FCI) Template
//     84 Dedicated File (DF) Name: 315041592E5359532E4444463031
//     DF8101 (unknown tag): 0102
//   status: 9000 (success)
//
// Contract: a primitive element is "TAG NAME: VALUE", a template "TAG NAME" followed
// by its children; a problem ends its element's line in parentheses; explanations
// (with explain on) follow their element as "- LABEL: TEXT" lines one level deeper.
// A line that is not hex gives one line, "line N: column C: MESSAGE". A blank line
// gives nothing. With line numbers, every line starts with "N:" (and a message line
// then says "column C: MESSAGE", the number given once). With marks (the --tag
// filter), only kept elements are printed, each run of them indented from its top,
// and no status.
#pragma once

#include <span>

#include "common/output_sink.h"
#include "explain/explain.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"
#include "tree/tag_filter.h"

namespace emvtlv {

struct tree_text_options {
  bool line_numbers = false;
  bool explain = false;
  const node_mark* marks = nullptr;  // one per node; none: every node is printed
  // Facts known from outside the record (a session's AID and command), which the
  // record's own elements complete; none: only the record's.
  const explain_context* known = nullptr;
};

// Writes one input line's output: `tree` is the parse of `line.bytes` (unused for a
// blank or bad line). Returns whether it wrote anything.
bool write_tree_text(const hex_line& line, const tree_result& tree,
                     const tree_text_options& options, output_sink& out);

// The message line of a line that is not hex: "line N: column C: MESSAGE", or with
// line numbers "N:column C: MESSAGE".
void write_bad_line(const hex_line& line, bool line_numbers, output_sink& out);

}  // namespace emvtlv
