#include "modes/tree_mode.h"

#include "explain/explain.h"
#include "writers/json_lines.h"
#include "writers/node_value.h"
#include "writers/paths.h"
#include "writers/tree_text.h"

namespace emvtlv {
namespace {

constexpr std::size_t output_block_size = 128 * 1024;

bool drain(output_sink& sink, output_target out) {
  const bool written = sink.size() == 0 || out.write(out.context, sink.view().data(), sink.size());
  sink.clear();
  return written;
}

void count_problem_item(void* context, explain_kind kind, std::uint32_t, std::string_view,
                        std::string_view, const explain_facts&) {
  if (kind == explain_kind::problem) *static_cast<bool*>(context) = true;
}

// Whether the record has anything --strict counts: a node's problem or, when it is
// explained, a problem item of an explanation.
bool has_problem(const hex_line& line, const tree_result& tree, bool explain) {
  if (line.what == hex_line::kind::bad) return true;
  if (line.what != hex_line::kind::record) return false;
  for (const tree_node& node : tree.nodes)
    if (node.problem != node_problem::none) return true;
  if (!explain) return false;
  const explain_context context = context_of(tree, line.bytes);
  bool found = false;
  for (const tree_node& node : tree.nodes) {
    if (!shows_value(node)) continue;
    explain_value(node.tag, line.bytes.subspan(node.value_offset, node.value_size), node.declared,
                  context, explain_output{&found, count_problem_item});
    if (found) return true;
  }
  return false;
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
  tree_text_options text{options.line_numbers, options.explain};
  json_options json{options.explain};
  paths_options paths{options.line_numbers};
  const bool filtered = !options.tags.empty();
  if (filtered) {
    if (!state.filter) state.filter = std::make_unique<tag_filter>();
    text.marks = json.marks = paths.marks = state.filter->marks();
  }
  bool problems = false;

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
      if (!written || got != hex_line_reader::status::end_of_input) return 1;
      return options.strict && problems ? 1 : 0;
    }
    const tree_result tree =
        line.what == hex_line::kind::record ? parser->parse(line.bytes) : tree_result{};
    if (filtered && line.what == hex_line::kind::record) state.filter->mark(tree, options.tags);
    if (options.strict && !problems) problems = has_problem(line, tree, options.explain);
    switch (options.output) {
      case tree_mode_options::format::json:
        write_json_line(line, tree, json, sink);
        break;
      case tree_mode_options::format::paths:
        write_paths(line, tree, paths, sink);
        break;
      case tree_mode_options::format::text:
        // The writer says whether it wrote: a spill may have emptied the sink meanwhile.
        if (write_tree_text(line, tree, text, sink) && options.separate) sink.put('\n');
        break;
    }
    if (sink.spill_failed()) return 1;
    if (sink.size() >= output_block_size && !drain(sink, out)) return 1;
  }
}

}  // namespace emvtlv
