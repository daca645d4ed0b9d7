// Trace mode's loop: a whole card session log read command by command. Each command
// is named and read, its data split by the card's own lists, its answer read in the
// light of the command and the session, and each session ends with a summary.
//
// Contract and limits:
// - The line forms are trace/line_form.h's; a line of any length costs no memory
//   beyond one block (trace/text_lines.h). Prose lines give nothing but still count.
// - An exchange is printed when the line after it shows it is complete (the next
//   command, or the end of input), so a 61XX + GET RESPONSE or a 6CXX + resent
//   command joins into one answer. What is held is bounded: one command, one answer
//   (at most 65,536 bytes each) and the session's state (trace/session.h).
// - PIN blocks are never shown (VERIFY: the control nibble, the PIN length and X for
//   the rest; enciphered blocks and PIN CHANGE data: their size only); card numbers are
//   masked as in the tree modes.
// - End of input: status 0; a read error: status 1; output that can no longer be
//   written: status 1 at once.
#pragma once

#include <memory>

#include "common/output_sink.h"
#include "io/descriptors.h"
#include "modes/tree_mode.h"

namespace emvtlv {

struct trace_mode_state;

// What a run needs that is worth making once (about 600 KiB of buffers).
struct trace_mode_buffers {
  trace_mode_buffers();
  ~trace_mode_buffers();
  std::unique_ptr<trace_mode_state> state;
};

// The tree modes' options apply: output (text or JSON), explain, line_numbers.
int run_trace_mode(input_source in, output_target out, const tree_mode_options& options);
int run_trace_mode(input_source in, output_target out, const tree_mode_options& options,
                   trace_mode_buffers& buffers);

}  // namespace emvtlv
