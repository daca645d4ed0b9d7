// The paths form (-p): one line per primitive element, "PATH VALUE", for grep and awk.
//
//   77/9F27 80
//   70/57 XXXXXXXXXXXX0010D2512201...
//   status 9000
//
// Contract: PATH is the tags from the top of the record down to the element, in
// upper-case hex, joined by '/'. The value is printed and masked exactly as the tree
// writer prints it (an empty value gives the path alone). A problem ends its
// element's line in parentheses, as in the tree; a template gets a line of its own
// only for a problem. A status word gives "status XXXX". A line that is not hex gives
// the tree's message line. With line numbers, every line starts with "N:"; with
// marks (the --tag filter), only kept elements are printed, and no status.
// Written straight into the sink: no allocation per record.
#pragma once

#include "common/output_sink.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"
#include "tree/tag_filter.h"

namespace emvtlv {

struct paths_options {
  bool line_numbers = false;
  const node_mark* marks = nullptr;  // one per node; none: every node is printed
};

void write_paths(const hex_line& line, const tree_result& tree, const paths_options& options,
                 output_sink& out);

}  // namespace emvtlv
