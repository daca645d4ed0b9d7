// Test helper: runs explain_value and records each item as one line,
// "kind level label: text" (or "kind level text" when the label is empty).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "explain/explain.h"
#include "test_support.h"

namespace emvtlv::test {

inline std::string_view kind_name(explain_kind kind) {
  switch (kind) {
    case explain_kind::meaning:
      return "meaning";
    case explain_kind::bit:
      return "bit";
    case explain_kind::rfu:
      return "rfu";
    case explain_kind::field:
      return "field";
    case explain_kind::entry:
      return "entry";
    case explain_kind::problem:
      return "problem";
    case explain_kind::none:
      return "none";
  }
  return "?";
}

inline void collect_item(void* context, explain_kind kind, std::uint32_t level,
                         std::string_view label, std::string_view text, const explain_facts&) {
  std::string line(kind_name(kind));
  line += ' ';
  line += std::to_string(level);
  line += ' ';
  if (!label.empty()) {
    line += label;
    line += ": ";
  }
  line += text;
  static_cast<std::vector<std::string>*>(context)->push_back(line);
}

// Explains the whole value `hex` of `tag`; every item, in order.
inline std::vector<std::string> explain_hex(std::uint64_t tag, std::string_view hex,
                                            const explain_context& context = {}) {
  const auto value = from_hex(hex);
  std::vector<std::string> items;
  explain_value(tag, value, value.size(), context, {&items, collect_item});
  return items;
}

}  // namespace emvtlv::test
