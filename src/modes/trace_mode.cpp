#include "modes/trace_mode.h"

#include <array>

#include "oda/ca_keys.h"
#include "oda/check.h"
#include "oda/collector.h"
#include "oda/report_writers.h"
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
  // The offline data authentication checks: fed every exchange, written as the last
  // part of each session's summary.
  oda::collector oda;
  oda::oda_report oda_report;
  const oda::ca_key_table* ca_keys = nullptr;
};

namespace {

void write_oda_part(void* context, bool json, std::string_view prefix, output_sink& out) {
  auto& state = *static_cast<trace_mode_state*>(context);
  oda::check_oda(state.oda.inputs(), *state.ca_keys, state.oda_report);
  if (json) {
    oda::write_report_json(state.oda_report, out);
  } else {
    oda::write_report_text(state.oda_report, prefix, out);
  }
}

void start_oda_session(void* context) {
  static_cast<trace_mode_state*>(context)->oda.start_session();
}

}  // namespace

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
  static const oda::ca_key_table builtin_keys;
  state.ca_keys = options.ca_keys != nullptr ? options.ca_keys : &builtin_keys;
  state.oda.start_session();
  const trace_options trace{options.output == tree_mode_options::format::json,
                            options.explain,
                            options.line_numbers,
                            options.tags,
                            {&state, write_oda_part, start_oda_session}};
  trace_writer writer(state.writer, state.sink, trace);
  // The one hand-off: every event of the pairing goes to the writer here, in order, and
  // each exchange then to the ODA collector (after the writer, which may first end the
  // session before it).
  const auto hand_on = [&] {
    while (const trace_event* event = state.builder.next()) {
      writer.write(*event);
      if (event->what != trace_event::kind::exchange || event->done == nullptr) continue;
      const exchange& x = *event->done;
      if (x.has_command)
        state.oda.take_exchange(x.command, x.answer, x.has_status ? x.status : 0, x.command_line);
    }
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
      writer.write_line_problem(line.number, "line longer than 131072 characters", "line_too_long");
      continue;
    }
    split_segments(line.text, state.line_bytes, state.segments);
    state.builder.take_line(line.number, state.segments, state.line_bytes);
    hand_on();
    if (state.sink.size() >= output_block_size && !drain(state.sink, out)) return 1;
  }
}

}  // namespace emvtlv
