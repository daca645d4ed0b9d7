#include "modes/tree_mode.h"

#include <memory>

#include "common/output_sink.h"
#include "tree/hex_lines.h"
#include "tree/parse.h"
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

int run_tree_mode(input_source in, output_target out, const tree_mode_options& options) {
  // Made once: the reader holds a block and a record, the parser room for the nodes of
  // the largest record; none of it is on the stack.
  const auto reader = std::make_unique<hex_line_reader>();
  const auto parser = std::make_unique<tree_parser>();
  output_sink sink(2 * output_block_size);
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
    if (sink.size() >= output_block_size && !drain(sink, out)) return 1;
  }
}

}  // namespace emvtlv
