#include "trace/line_form.h"

#include <array>
#include <cstddef>

namespace emvtlv::trace {
namespace {

constexpr std::array<std::int8_t, 256> digit_values = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 10; ++i)
    values[static_cast<std::size_t>('0' + i)] = static_cast<std::int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    values[static_cast<std::size_t>('a' + i)] = static_cast<std::int8_t>(10 + i);
    values[static_cast<std::size_t>('A' + i)] = static_cast<std::int8_t>(10 + i);
  }
  return values;
}();

bool is_hex(char c) {
  return digit_values[static_cast<unsigned char>(c)] >= 0;
}
bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
bool is_alnum(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

struct label_word {
  std::string_view word;  // lower case
  line_label label;
};

constexpr std::array<label_word, 29> label_words{{
    {">", line_label::command},         {">>", line_label::command},
    {"=>", line_label::command},        {"->", line_label::command},
    {"-->", line_label::command},       {"c-apdu", line_label::command},
    {"capdu", line_label::command},     {"c", line_label::command},
    {"tx", line_label::command},        {"req", line_label::command},
    {"command", line_label::command},   {"cmd", line_label::command},
    {"<", line_label::response},        {"<<", line_label::response},
    {"<=", line_label::response},       {"<-", line_label::response},
    {"<--", line_label::response},      {"r-apdu", line_label::response},
    {"rapdu", line_label::response},    {"r", line_label::response},
    {"rx", line_label::response},       {"res", line_label::response},
    {"response", line_label::response}, {"resp", line_label::response},
    {"sw", line_label::status},         {"sw1sw2", line_label::status},
    {"sw1", line_label::status},        {"sw12", line_label::status},
    {"status", line_label::status},
}};

line_label word_label(std::string_view word) {
  while (!word.empty() && word.back() == ':')
    word.remove_suffix(1);
  if (word.empty() || word.size() > 8) return line_label::none;
  std::array<char, 8> lower{};
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view key(lower.data(), word.size());
  for (const label_word& row : label_words)
    if (row.word == key) return row.label;
  return line_label::none;
}

}  // namespace

line_label label_of(std::string_view label) {
  std::size_t i = 0;
  while (i < label.size()) {
    while (i < label.size() && is_space(label[i]))
      ++i;
    const std::size_t start = i;
    while (i < label.size() && !is_space(label[i]))
      ++i;
    if (i > start) {
      const line_label found = word_label(label.substr(start, i - start));
      if (found != line_label::none) return found;
    }
  }
  return line_label::none;
}

apdu_line read_apdu_line(std::string_view text, std::span<std::uint8_t> buffer) {
  apdu_line line;
  std::size_t end = text.size();
  while (end > 0 && (is_space(text[end - 1]) || text[end - 1] == '\n'))
    --end;
  // Back over whole words of hex digits; the run starts at the last one taken.
  std::size_t run = end;
  std::size_t at = end;
  for (;;) {
    while (at > 0 && is_space(text[at - 1]))
      --at;
    if (at == 0) break;
    const std::size_t word_end = at;
    while (at > 0 && !is_space(text[at - 1]))
      --at;
    std::size_t hex_start = word_end;
    while (hex_start > at && is_hex(text[hex_start - 1]))
      --hex_start;
    if (hex_start == at) {
      run = at;
      continue;
    }
    // A word with a label glued on: its hex part counts after a punctuation mark.
    if (hex_start < word_end && !is_alnum(text[hex_start - 1])) run = hex_start;
    break;
  }
  const std::string_view hex = text.substr(run, end - run);
  std::size_t digits = 0;
  bool decimal = false;
  for (const char c : hex) {
    if (is_hex(c)) {
      ++digits;
      decimal = decimal || (c >= '0' && c <= '9');
    }
  }
  if (digits == 0 || !decimal) return line;
  line.label = label_of(text.substr(0, run));
  if (digits % 2 != 0 || digits / 2 > buffer.size()) {
    line.what = apdu_line::kind::bad;
    line.message = digits % 2 != 0 ? "odd number of hex digits" : "line too long";
    return line;
  }
  std::size_t count = 0;
  int high = -1;
  for (const char c : hex) {
    const int value = digit_values[static_cast<unsigned char>(c)];
    if (value < 0) continue;
    if (high < 0) {
      high = value;
    } else {
      buffer[count++] = static_cast<std::uint8_t>(high << 4 | value);
      high = -1;
    }
  }
  line.what = apdu_line::kind::apdu;
  line.bytes = buffer.first(count);
  return line;
}

}  // namespace emvtlv::trace
