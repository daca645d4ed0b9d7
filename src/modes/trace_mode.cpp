#include "modes/trace_mode.h"

#include <array>

#include "trace/exchange.h"
#include "trace/segments.h"
#include "trace/text_lines.h"
#include "trace/writer.h"

namespace emvtlv {

using namespace trace;

namespace {

constexpr std::size_t output_block_size = 128 * 1024;

bool drain(output_sink& sink, output_target out) {
  const bool written = sink.size() == 0 || out.write(out.context, sink.view().data(), sink.size());
  sink.clear();
  return written;
}

}  // namespace

// What a run holds: one stage's storage each.
struct trace_mode_state {
  text_line_reader reader;
  std::array<std::uint8_t, text_line_reader::block_size / 2> line_bytes;
  line_segments segments;
  exchange_builder builder;
  trace_writer_storage writer;
  output_sink sink{2 * output_block_size};
};

trace_mode_buffers::trace_mode_buffers() : state(std::make_unique<trace_mode_state>()) {}
trace_mode_buffers::~trace_mode_buffers() = default;

int run_trace_mode(input_source in, output_target out, const tree_mode_options& options) {
  trace_mode_buffers buffers;
  return run_trace_mode(in, out, options, buffers);
}

int run_trace_mode(input_source in, output_target out, const tree_mode_options& options,
                   trace_mode_buffers& buffers) {
  trace_mode_state& state = *buffers.state;
  state.reader.reset();
  state.builder.reset();
  state.sink.clear();
  state.writer.scratch.clear();
  const trace_options trace{options.output == tree_mode_options::format::json, options.explain,
                            options.line_numbers, options.tags};
  trace_writer writer(state.writer, state.sink, trace);
  // The one hand-off: every event of the pairing goes to the writer here, in order.
  const auto hand_on = [&] {
    trace_event event;
    while (state.builder.next(event))
      writer.write(event);
  };
  std::uint64_t lines = 0;
  for (;;) {
    text_line line;
    text_line_reader::status got = state.reader.next(line);
    while (got == text_line_reader::status::need_input) {
      if (!drain(state.sink, out)) return 1;
      state.reader.fill(in);
      got = state.reader.next(line);
    }
    if (got != text_line_reader::status::line) {
      state.builder.finish();
      hand_on();
      writer.finish(lines);
      const bool written = drain(state.sink, out);
      if (got != text_line_reader::status::end_of_input || !written) return 1;
      return options.strict && writer.any_problem() ? 1 : 0;
    }
    lines = line.number;
    if (line.too_long) {
      writer.write_line_problem(line.number, "line longer than 131072 characters");
      continue;
    }
    split_segments(line.text, state.line_bytes, state.segments);
    state.builder.take_line(line.number, state.segments, state.line_bytes);
    hand_on();
    if (state.sink.size() >= output_block_size && !drain(state.sink, out)) return 1;
  }
}

}  // namespace emvtlv
