// JSON Lines: one object, on one line, for every input line, blank lines included.
//
//   {"line":1,"elements":[{"tag":"5A","name":"...","length":8,"offset":0,
//     "value":"XXXXXXXXXXXX0010","masked":true}],"status":"9000","status_meaning":"success"}
//
// Contract: the field names are fixed (doc/emvtlv.schema.json describes them); every
// string is escaped as JSON requires and the output is valid UTF-8 whatever the input
// bytes: control characters as \u00XX, bytes that are not UTF-8 as \uFFFD. Written
// straight into the sink: no document tree, no allocation per record.
#pragma once

#include <string_view>

#include "common/output_sink.h"
#include "explain/explain.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"
#include "tree/tag_filter.h"

namespace emvtlv {

struct json_options {
  bool explain = false;
  // One per node (the --tag filter): only kept nodes and the templates that lead to
  // them are written. None: every node.
  const node_mark* marks = nullptr;
  // Facts known from outside the record, as for the text tree.
  const explain_context* known = nullptr;
};

void write_json_line(const hex_line& line, const tree_result& tree, const json_options& options,
                     output_sink& out);

// `text` as a JSON string, quotes included.
void put_json_string(output_sink& out, std::string_view text);

// A node problem's stable id, as its "problem_id" says ("value_runs_past_end").
std::string_view node_problem_id(node_problem problem);

}  // namespace emvtlv
