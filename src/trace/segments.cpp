#include "trace/segments.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "common/hex.h"

namespace emvtlv::trace {
namespace {

// What each byte is to the scanner: a hex digit's value, or one of these.
constexpr std::uint8_t space_class = 16;
constexpr std::uint8_t letter_class = 17;  // a letter or '_' that is no hex digit
constexpr std::uint8_t comma_class = 18;
constexpr std::uint8_t open_class = 19;   // [ {
constexpr std::uint8_t close_class = 20;  // ] }
constexpr std::uint8_t quote_class = 21;  // ' " `
constexpr std::uint8_t paren_class = 22;  // (
constexpr std::uint8_t mark_class = 23;   // anything else: punctuation, bytes 80 to FF

constexpr std::array<std::uint8_t, 256> char_classes = [] {
  std::array<std::uint8_t, 256> classes{};
  classes.fill(mark_class);
  for (int c = 'g'; c <= 'z'; ++c)
    classes[static_cast<std::size_t>(c)] = letter_class;
  for (int c = 'G'; c <= 'Z'; ++c)
    classes[static_cast<std::size_t>(c)] = letter_class;
  classes['_'] = letter_class;
  for (int i = 0; i < 10; ++i)
    classes[static_cast<std::size_t>('0' + i)] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    classes[static_cast<std::size_t>('a' + i)] = static_cast<std::uint8_t>(10 + i);
    classes[static_cast<std::size_t>('A' + i)] = static_cast<std::uint8_t>(10 + i);
  }
  for (const char c : {' ', '\t', '\r', '\f', '\v', '\n'})
    classes[static_cast<unsigned char>(c)] = space_class;
  classes[','] = comma_class;
  classes['['] = open_class;
  classes['{'] = open_class;
  classes[']'] = close_class;
  classes['}'] = close_class;
  for (const char c : {'\'', '"', '`'})
    classes[static_cast<unsigned char>(c)] = quote_class;
  classes['('] = paren_class;
  return classes;
}();

std::uint8_t class_of(char c) {
  return char_classes[static_cast<unsigned char>(c)];
}

bool is_word_char(std::uint8_t what) {
  return what < 16 || what == letter_class;
}

struct label_word {
  std::string_view word;  // lower case
  segment_label label;
};

constexpr std::array<label_word, 46> label_words{{
    {">", segment_label::command},         {">>", segment_label::command},
    {"=>", segment_label::command},        {"->", segment_label::command},
    {"-->", segment_label::command},       {"c-apdu", segment_label::command},
    {"capdu", segment_label::command},     {"c", segment_label::command},
    {"tx", segment_label::command},        {"req", segment_label::command},
    {"request", segment_label::command},   {"command", segment_label::command},
    {"cmd", segment_label::command},       {"send", segment_label::command},
    {"sent", segment_label::command},      {"sending", segment_label::command},
    {"<", segment_label::response},        {"<<", segment_label::response},
    {"<=", segment_label::response},       {"<-", segment_label::response},
    {"<--", segment_label::response},      {"r-apdu", segment_label::response},
    {"rapdu", segment_label::response},    {"r", segment_label::response},
    {"rx", segment_label::response},       {"res", segment_label::response},
    {"resp", segment_label::response},     {"response", segment_label::response},
    {"recv", segment_label::response},     {"received", segment_label::response},
    {"returned", segment_label::response}, {"reply", segment_label::response},
    {"sw", segment_label::status},         {"sw1sw2", segment_label::status},
    {"sw12", segment_label::status},       {"status", segment_label::status},
    {"sw1", segment_label::sw1},           {"sw2", segment_label::sw2},
    {"expt", segment_label::expected},     {"exp", segment_label::expected},
    {"expected", segment_label::expected}, {"expect", segment_label::expected},
    {"atr", segment_label::atr},           {"c_apdu", segment_label::command},
    {"r_apdu", segment_label::response},   {"rcv", segment_label::response},
}};

segment_label lookup(std::string_view key) {
  for (const label_word& row : label_words)
    if (row.word == key) return row.label;
  return segment_label::none;
}

// A token's label: as written, else without its trailing number ("Request1").
segment_label token_label(std::string_view token) {
  if (token.empty() || token.size() > 12) return segment_label::none;
  std::array<char, 12> lower{};
  for (std::size_t i = 0; i < token.size(); ++i) {
    const char c = token[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  std::string_view key(lower.data(), token.size());
  segment_label found = lookup(key);
  if (found != segment_label::none) return found;
  while (!key.empty() && key.back() >= '0' && key.back() <= '9')
    key.remove_suffix(1);
  return key.size() < token.size() ? lookup(key) : segment_label::none;
}

bool is_arrow(char c) {
  return c == '<' || c == '>' || c == '=' || c == '-';
}

bool is_alpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// A comment line: its first word is #, // or ;.
bool is_comment(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i]))
    ++i;
  text.remove_prefix(i);
  if (text.starts_with("//") || text.starts_with(";")) return true;
  return text.starts_with("#") && (text.size() == 1 || is_space(text[1]) || text[1] == '#');
}

}  // namespace

segment_label label_of(std::string_view text) {
  segment_label found = segment_label::none;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    std::size_t end = i + 1;
    if (is_arrow(c)) {
      while (end < text.size() && is_arrow(text[end]))
        ++end;
    } else if (is_alpha(c)) {
      // Letters, digits, '_' and '-' between letters: "c-apdu", "Request1".
      while (end < text.size() &&
             (is_word_char(class_of(text[end])) ||
              (text[end] == '-' && end + 1 < text.size() && is_alpha(text[end + 1]))))
        ++end;
    } else {
      ++i;
      continue;
    }
    const segment_label here = token_label(text.substr(i, end - i));
    if (here != segment_label::none) found = here;
    i = end;
  }
  return found;
}

namespace {

// The segment being read.
struct open_segment {
  bool open = false;
  std::size_t text_begin = 0;  // first digit
  std::size_t offset = 0;      // into the buffer
  std::size_t nibbles = 0;
  std::size_t first_word = 0;  // nibbles before its first space, or 0 while in it
  bool decimal = false;
  bool placeholder = false;
};

class scanner {
 public:
  scanner(std::string_view text, std::span<std::uint8_t> buffer, line_segments& out)
      : text_(text), buffer_(buffer), out_(out) {}

  void run();

 private:
  void take_hex(std::size_t begin, std::size_t end);
  void close(std::size_t at);

  std::string_view text_;
  std::span<std::uint8_t> buffer_;
  line_segments& out_;
  open_segment s_;
  std::size_t used_ = 0;         // buffer bytes of the segments kept
  std::size_t label_begin_ = 0;  // text since the last segment kept
  bool bracket_ = false;         // inside [ ] or quotes
};

void scanner::take_hex(std::size_t begin, std::size_t end) {
  if (!s_.open) {
    s_ = open_segment{};
    s_.open = true;
    s_.text_begin = begin;
    s_.offset = used_;
  } else if (s_.first_word == 0) {
    s_.first_word = s_.nibbles;
  }
  std::size_t i = begin;
  std::uint8_t* out = buffer_.data() + s_.offset;
  // Whole pairs in bulk when the segment's nibbles are even so far.
  if (s_.nibbles % 2 == 0 && end - i >= 2) {
    const std::size_t pairs =
        decode_hex_pairs_unchecked(text_.data() + i, (end - i) / 2, out + s_.nibbles / 2);
    for (std::size_t k = 0; k < pairs && !s_.decimal; ++k) {
      const std::uint8_t b = out[s_.nibbles / 2 + k];
      s_.decimal = (b >> 4U) < 10 || (b & 0xFU) < 10;
    }
    s_.nibbles += 2 * pairs;
    i += 2 * pairs;
  }
  for (; i < end; ++i) {
    const std::uint8_t v = class_of(text_[i]);
    s_.decimal = s_.decimal || v < 10;
    std::uint8_t& b = out[s_.nibbles / 2];
    b = s_.nibbles % 2 == 0 ? static_cast<std::uint8_t>(v << 4U) : static_cast<std::uint8_t>(b | v);
    ++s_.nibbles;
  }
}

// Ends the open segment at `at`, where the text that ends it begins.
void scanner::close(std::size_t at) {
  if (!s_.open) return;
  s_.open = false;
  const std::string_view label_text = text_.substr(label_begin_, s_.text_begin - label_begin_);
  const segment_label label = label_of(label_text);
  const std::size_t bytes = s_.nibbles / 2;
  // A labelled byte cut off at the line's end is the tail of an APDU ("Response2: 700").
  const bool tail = s_.nibbles % 2 != 0 &&
                    (label == segment_label::command || label == segment_label::response) &&
                    text_.find_first_not_of(" \t\r\f\v", at) == std::string_view::npos;
  // A status label keeps a lone byte too, so that the line is said to be wrong.
  const bool one_byte_label = label == segment_label::sw1 || label == segment_label::sw2 ||
                              label == segment_label::status || tail;
  // Counters, times, fractions and numbers in prose are words, not segments.
  const bool fraction = s_.text_begin > 0 && text_[s_.text_begin - 1] == '.';
  // "12:00", "14:03:22.517": a time's numbers.
  const bool time = at + 1 < text_.size() && (text_[at] == ':' || text_[at] == '.') &&
                    class_of(text_[at + 1]) < 10;
  if (bytes == 0 || fraction || time || (bytes < 2 && !one_byte_label) ||
      (!s_.decimal && !one_byte_label))
    return;
  if (out_.count == out_.items.size()) {
    out_.more = true;
    return;
  }
  segment& seg = out_.items[out_.count++];
  seg.offset = static_cast<std::uint32_t>(s_.offset);
  seg.size = static_cast<std::uint32_t>(bytes);
  seg.column = static_cast<std::uint32_t>(s_.text_begin + 1);
  seg.label = label;
  seg.first_word =
      static_cast<std::uint32_t>((s_.first_word == 0 ? s_.nibbles : s_.first_word) / 2);
  seg.odd_digit = s_.nibbles % 2 != 0;
  seg.placeholder = s_.placeholder;
  used_ = s_.offset + bytes;
  label_begin_ = at;
}

void scanner::run() {
  if (is_comment(text_)) return;
  const std::size_t n = text_.size();
  std::size_t i = 0;
  bool after_comma = false;
  while (i < n) {
    const std::uint8_t what = class_of(text_[i]);
    if (what == space_class) {
      if (s_.open && s_.first_word == 0) s_.first_word = s_.nibbles;
      ++i;
      continue;
    }
    if (what == comma_class) {
      after_comma = true;
      ++i;
      continue;
    }
    // A word or mark inside brackets or after a comma stands for bytes the log hides.
    const bool in_list = bracket_ || after_comma;
    after_comma = false;
    if (is_word_char(what)) {
      std::size_t end = i;
      bool hex = true;
      while (end < n && is_word_char(class_of(text_[end]))) {
        hex = hex && class_of(text_[end]) < 16;
        ++end;
      }
      std::size_t from = i;
      // 0x00, 0X6F...: the prefix is no digit.
      if (!hex && end - i > 2 && text_[i] == '0' && (text_[i + 1] == 'x' || text_[i + 1] == 'X')) {
        hex = true;
        for (std::size_t k = i + 2; k < end && hex; ++k)
          hex = class_of(text_[k]) < 16;
        from = i + 2;
        if (hex && s_.open && s_.nibbles % 2 != 0) close(i);
      }
      if (hex) {
        take_hex(from, end);
      } else if (s_.open) {
        // A word inside a list stands for bytes the log does not show.
        if (in_list) s_.placeholder = true;
        close(i);
      }
      i = end;
      continue;
    }
    if (what == paren_class) {
      close(i);
      const std::size_t end = text_.find(')', i);
      i = end == std::string_view::npos ? n : end + 1;
      continue;
    }
    if (what == open_class || (what == quote_class && !bracket_)) {
      close(i);
      bracket_ = true;
      ++i;
      continue;
    }
    if (what == close_class || what == quote_class) {
      close(i);
      bracket_ = false;
      ++i;
      continue;
    }
    // Other punctuation ends the segment; inside a list it stands for hidden bytes.
    if (s_.open && in_list) s_.placeholder = true;
    close(i);
    ++i;
  }
  close(n);
}

}  // namespace

void split_segments(std::string_view text, std::span<std::uint8_t> buffer, line_segments& out) {
  out.count = 0;
  out.more = false;
  if (buffer.size() < text.size() / 2) return;
  scanner(text, buffer, out).run();
}

}  // namespace emvtlv::trace
