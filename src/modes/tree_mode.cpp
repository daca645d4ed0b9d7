#include "modes/tree_mode.h"

#include "writers/json_lines.h"
#include "writers/tree_text.h"

namespace emvtlv {
namespace {

constexpr std::size_t output_block_size = 128 * 1024;

bool drain(output_sink& sink, output_target out) {
  const bool written = sink.size() == 0 || out.write(out.context, sink.view().data(), sink.size());
  sink.clear();
  return written;
}

}  // namespace

tree_mode_state::tree_mode_state()
    : reader(std::make_unique<hex_line_reader>()),
      parser(std::make_unique<tree_parser>()),
      sink(2 * output_block_size) {}

int run_tree_mode(input_source in, output_target out, const tree_mode_options& options) {
  // Made once a run, none of it on the stack: a block and a record for the reader,
  // room for the nodes of the largest record for the parser.
  tree_mode_state state;
  return run_tree_mode(in, out, options, state);
}

int run_tree_mode(input_source in, output_target out, const tree_mode_options& options,
                  tree_mode_state& state) {
  hex_line_reader* const reader = state.reader.get();
  tree_parser* const parser = state.parser.get();
  output_sink& sink = state.sink;
  reader->reset();
  sink.clear();
  // A record with a large output passes it on as it is made.
  sink.spill_to({out.context, out.write});
  const tree_text_options text{options.line_numbers, options.explain};
  const json_options json{options.explain};

  for (;;) {
    if (options.prompt) sink.append(tree_prompt);
    hex_line line;
    hex_line_reader::status got = reader->next(line);
    while (got == hex_line_reader::status::need_input) {
      if (!drain(sink, out)) return 1;
      reader->fill(in);
      got = reader->next(line);
    }
    if (got != hex_line_reader::status::line) {
      if (options.prompt) sink.put('\n');
      const bool written = drain(sink, out);
      return got == hex_line_reader::status::end_of_input && written ? 0 : 1;
    }
    const tree_result tree =
        line.what == hex_line::kind::record ? parser->parse(line.bytes) : tree_result{};
    if (options.output == tree_mode_options::format::json) {
      write_json_line(line, tree, json, sink);
    } else {
      write_tree_text(line, tree, text, sink);
    }
    if (sink.spill_failed()) return 1;
    if (sink.size() >= output_block_size && !drain(sink, out)) return 1;
  }
}

}  // namespace emvtlv
