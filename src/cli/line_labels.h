// The name of the FILE that output came from, on every line of it, as grep -H and jq
// users expect: an output target in front of the real one.
//
// Contract and limits:
// - Text: every line that is not empty starts with "NAME:" (before any "N:" the mode
//   puts there, so "cards.log:3:..."). JSON Lines: every object gets "file":"NAME" as
//   its first field, the name escaped as any JSON string (valid UTF-8 whatever the
//   bytes of the name). Standard input is named "(standard input)", as grep names it.
// - The modes are not told: lines are labelled as they pass, however the writes cut
//   them. Memory is one block, whatever the lines' lengths; what a write is given is
//   passed on before it returns, so a mode's flushes keep their meaning.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "io/descriptors.h"

namespace emvtlv::cli {

struct line_labeller {
  output_target target{};
  std::string label{};              // inserted at each line's start (after its first byte in JSON)
  std::size_t after = 0;            // 0 for text; 1 for JSON, past the object's '{'
  std::size_t column = 0;           // bytes of the current line seen, up to `after` + 1
  std::unique_ptr<char[]> block{};  // block_size bytes, made with the labeller
  std::size_t held = 0;             // of block, waiting to be written
};

// The name of `file_name` in labels.
std::string_view label_name(std::string_view file_name);

// A labeller for `file_name`'s output into `target`: text lines, or JSON objects.
line_labeller make_line_labeller(output_target target, std::string_view file_name, bool json);

// An output target over `labeller`, which must outlive it.
output_target labelled_target(line_labeller& labeller);

}  // namespace emvtlv::cli
