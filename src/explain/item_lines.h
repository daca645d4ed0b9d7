// Explanation items as text lines, the tree writer's form: "INDENT- LABEL: TEXT", or
// "INDENT- TEXT" when the label is empty. Written straight into the sink, so the many
// short lines of explain mode cost a few moves each rather than a call.
//
// Contract: `indent` counts spaces; the line ends with a newline; nothing is written
// past what the sink was extended by, and label and text are read only within their
// views.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/copy.h"
#include "common/output_sink.h"

namespace emvtlv {

// Indents up to this many spaces come from one constant run; deeper ones are filled.
inline constexpr std::size_t max_item_indent = 70;
inline constexpr std::size_t item_head_move = 16;

// The spaces of every indent and the item's "- " after them, as one run: an item
// indented n starts n + 2 characters before the padding, and a line's plain indent of
// n spaces is the first n. The padding lets a short head be one 16-byte move.
inline constexpr auto item_heads = [] {
  std::array<char, max_item_indent + 2 + item_head_move> chars{};
  for (std::size_t i = 0; i < max_item_indent; ++i)
    chars[i] = ' ';
  chars[max_item_indent] = '-';
  chars[max_item_indent + 1] = ' ';
  return chars;
}();

// The indent and "- " of an item deeper or shorter than one move covers.
inline void put_item_head(char* at, std::size_t indent) {
  if (indent <= max_item_indent) {
    copy_short(at, item_heads.data() + (max_item_indent - indent), indent + 2);
    return;
  }
  std::memset(at, ' ', indent);
  at[indent] = '-';
  at[indent + 1] = ' ';
}

// copy_short without its loop for the lengths item texts have, up to 64: whole 16-byte
// moves, the last ones overlapping, so nothing is written past dst + n.
inline void copy_item_text(char* dst, const char* src, std::size_t n) {
  if (n < 16 || n > 64) {
    copy_short(dst, src, n);
    return;
  }
  if (n > 32) {
    std::memcpy(dst, src, 16);
    std::memcpy(dst + 16, src + 16, 16);
    std::memcpy(dst + n - 32, src + n - 32, 16);
  }
  std::memcpy(dst + n - 16, src + n - 16, 16);
  std::memcpy(dst, src, 16);
}

// An item's text and newline at `at`; returns where the line ends. Kept out of line: a
// leaf that saves no registers, and copies the compiler cannot mistake for overrunning
// a caller's buffer.
[[gnu::noinline]] inline char* put_item_text(char* at, std::string_view text) {
  copy_item_text(at, text.data(), text.size());
  at[text.size()] = '\n';
  return at + text.size() + 1;
}

// `text` at `at`, without a newline; returns where it ends. Out of line as above.
[[gnu::noinline]] inline char* put_item_chars(char* at, std::string_view text) {
  copy_item_text(at, text.data(), text.size());
  return at + text.size();
}

// An item's "LABEL: TEXT" and newline at `at`.
[[gnu::noinline]] inline void put_item_body(char* at, std::string_view label,
                                            std::string_view text) {
  if (!label.empty()) {
    copy_short(at, label.data(), label.size());
    at += label.size();
    std::memcpy(at, ": ", 2);
    at += 2;
  }
  copy_item_text(at, text.data(), text.size());
  at[text.size()] = '\n';
}

// The size of an item's line.
inline std::size_t item_line_size(std::size_t indent, std::string_view label,
                                  std::string_view text) {
  return indent + 2 + (label.empty() ? 0 : label.size() + 2) + text.size() + 1;
}

// Writes an item's line at `at`, which has item_line_size(...) characters reserved;
// returns where the line ends.
inline char* put_item_line_at(char* at, std::size_t indent, std::string_view label,
                              std::string_view text) {
  const std::size_t head = indent + 2;
  const std::size_t size = item_line_size(indent, label, text);
  if (head <= item_head_move && size >= item_head_move) [[likely]] {
    // What the move writes past the head, the label and text overwrite.
    std::memcpy(at, item_heads.data() + (max_item_indent - indent), item_head_move);
  } else {
    put_item_head(at, indent);
  }
  put_item_body(at + head, label, text);
  return at + size;
}

// One item's line, reserved whole.
inline void put_item_line(output_sink& out, std::size_t indent, std::string_view label,
                          std::string_view text) {
  put_item_line_at(out.extend(item_line_size(indent, label, text)), indent, label, text);
}

}  // namespace emvtlv
