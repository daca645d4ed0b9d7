// Trace mode: a whole card session log read as a pipeline of stages, each in trace/:
//   text lines (text_lines.h) -> segments (segments.h) -> exchanges (exchange.h)
//   -> readings and writers (reading.h, writer.h, session.h for the summary).
// This file only wires them; each stage's header states what it takes and gives.
//
// Contract and limits:
// - A line of any length costs no memory beyond one block; what the stages hold is
//   bounded: one open exchange, one answer (at most 65,536 bytes) and the session.
// - Every finished exchange is handed from the pairing to the writer in one place.
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
