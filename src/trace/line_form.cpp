#include "trace/line_form.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "common/hex.h"

namespace emvtlv::trace {
namespace {

// What each byte is to the line reader: a hex digit's value, or one of these.
constexpr std::uint8_t space_class = 16;
constexpr std::uint8_t letter_class = 17;  // a letter or digit that is no hex digit
constexpr std::uint8_t mark_class = 18;    // anything else: punctuation, bytes 80 to FF

constexpr std::array<std::uint8_t, 256> char_classes = [] {
  std::array<std::uint8_t, 256> classes{};
  classes.fill(mark_class);
  for (int c = 'g'; c <= 'z'; ++c)
    classes[static_cast<std::size_t>(c)] = letter_class;
  for (int c = 'G'; c <= 'Z'; ++c)
    classes[static_cast<std::size_t>(c)] = letter_class;
  for (int i = 0; i < 10; ++i)
    classes[static_cast<std::size_t>('0' + i)] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    classes[static_cast<std::size_t>('a' + i)] = static_cast<std::uint8_t>(10 + i);
    classes[static_cast<std::size_t>('A' + i)] = static_cast<std::uint8_t>(10 + i);
  }
  for (const char c : {' ', '\t', '\r', '\f', '\v', '\n'})
    classes[static_cast<unsigned char>(c)] = space_class;
  return classes;
}();

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
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
  // Every direction word starts with one of these: most words of a label go no further.
  constexpr std::string_view starts = "<>=-cCrRtTsS";
  if (starts.find(word.front()) == std::string_view::npos) return line_label::none;
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
  // One pass, decoding as it goes: a word that is not hex ends the run so far, and
  // the run starts again after it (or after the punctuation mark inside it).
  apdu_line line;
  std::size_t run_begin = text.size();  // first digit of the run
  std::size_t count = 0;                // bytes of the run
  std::size_t digits = 0;
  bool decimal = false;
  bool tainted = false;  // inside a word that is not hex, past its last punctuation mark
  int high = -1;
  const std::size_t room = buffer.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t what = char_classes[static_cast<unsigned char>(text[i])];
    if (what < 16) {
      if (tainted) continue;
      if (high < 0 && count < room && i + 2 < text.size() &&
          char_classes[static_cast<unsigned char>(text[i + 2])] < 16) {
        // Unspaced hex, most of a logged line, goes in bulk: whole pairs up to the
        // first character that is no hex digit, as the single steps below take them.
        // (Spaced pairs, "6F 1A", take the single steps.)
        const std::size_t pairs = decode_hex_pairs_unchecked(
            text.data() + i, std::min((text.size() - i) / 2, room - count), &buffer[count]);
        if (pairs > 0) {
          if (digits == 0) run_begin = i;
          digits += 2 * pairs;
          for (std::size_t k = 0; k < pairs && !decimal; ++k)
            decimal = (buffer[count + k] >> 4U) < 10 || (buffer[count + k] & 0xFU) < 10;
          count += pairs;
          i += 2 * pairs - 1;
          continue;
        }
      }
      if (digits == 0) run_begin = i;
      ++digits;
      decimal = decimal || what < 10;
      if (high < 0) {
        high = what;
      } else {
        if (count < room) buffer[count] = static_cast<std::uint8_t>(high << 4 | what);
        ++count;
        high = -1;
      }
      continue;
    }
    if (what == space_class) {
      tainted = false;
      continue;
    }
    // A letter taints the rest of its word; a punctuation mark only ends the run.
    tainted = what == letter_class;
    digits = 0;
    count = 0;
    decimal = false;
    high = -1;
  }
  if (digits == 0 || !decimal) return line;
  line.label = label_of(text.substr(0, run_begin));
  if (digits % 2 != 0 || count > room) {
    line.what = apdu_line::kind::bad;
    line.message = digits % 2 != 0 ? "odd number of hex digits" : "line too long";
    return line;
  }
  // A status word is two bytes: from one, its second byte would be whatever the buffer
  // last held; from more, the rest would be dropped unseen.
  if (line.label == line_label::status && count != 2) {
    line.what = apdu_line::kind::bad;
    line.message = "a status word is two bytes";
    return line;
  }
  line.what = apdu_line::kind::apdu;
  line.bytes = buffer.first(count);
  return line;
}

}  // namespace emvtlv::trace
