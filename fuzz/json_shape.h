// The shape doc/emvtlv.schema.json gives one line of JSON Lines output, checked by
// hand for the fuzzers and tests (they cannot run a schema validator).
//
// Contract: `line` is one output line without its newline. True when it is one JSON
// object, in UTF-8, with no key twice, no number other than a plain non-negative
// integer, only the fields the schema names with their types, patterns and nesting,
// and the schema's either-or rules (elements or error; elements or value). Otherwise
// false, with `why` saying what is wrong and where. Nesting to any depth costs heap,
// not stack. Uses nlohmann-json, so only test and fuzz programs may link it.
#pragma once

#include <string>
#include <string_view>

namespace emvtlv {

bool json_line_matches_shape(std::string_view line, std::string& why);

}  // namespace emvtlv
