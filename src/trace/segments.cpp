#include "trace/segments.h"

#include <algorithm>
#include <array>
#include <bit>
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

// The digits' classes and letter_class, one bit each: a shift and a test.
constexpr std::uint32_t word_classes = 0xFFFFU | (1U << letter_class);
static_assert(mark_class < 32);

bool is_word_char(std::uint8_t what) {
  return ((word_classes >> what) & 1U) != 0;
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

// The rows of label_words by their first character: one bit a row.
constexpr std::array<std::uint64_t, 256> rows_by_first = [] {
  static_assert(label_words.size() <= 64);
  std::array<std::uint64_t, 256> rows{};
  for (std::size_t i = 0; i < label_words.size(); ++i)
    rows[static_cast<unsigned char>(label_words[i].word[0])] |= std::uint64_t{1} << i;
  return rows;
}();

// Every label word fits in eight characters: a token is one integer, its characters
// in lower case from the low byte up, compared with each row's whole at once.
constexpr std::size_t max_label_word = 8;

constexpr std::uint64_t packed_word(std::string_view word) {
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < word.size(); ++i)
    packed |= std::uint64_t{static_cast<unsigned char>(word[i])} << (8 * i);
  return packed;
}

constexpr std::array<std::uint64_t, label_words.size()> packed_words = [] {
  std::array<std::uint64_t, label_words.size()> packed{};
  for (std::size_t i = 0; i < label_words.size(); ++i)
    packed[i] = packed_word(label_words[i].word);
  return packed;
}();
static_assert(std::all_of(label_words.begin(), label_words.end(), [](const label_word& row) {
  return !row.word.empty() && row.word.size() <= max_label_word;
}));

// `key`: the packed lower-case characters, `first` the first of them.
segment_label lookup(std::uint64_t key, unsigned char first) {
  for (std::uint64_t rows = rows_by_first[first]; rows != 0; rows &= rows - 1) {
    const auto row = static_cast<std::size_t>(std::countr_zero(rows));
    if (packed_words[row] == key) return label_words[row].label;
  }
  return segment_label::none;
}

// The first characters of the label words, in either case: most tokens go no further.
constexpr std::array<bool, 256> label_starts = [] {
  std::array<bool, 256> starts{};
  for (const label_word& row : label_words) {
    const auto c = static_cast<unsigned char>(row.word[0]);
    starts[c] = true;
    if (c >= 'a' && c <= 'z') starts[c - 'a' + 'A'] = true;
  }
  return starts;
}();

// A token's label: as written, else without its trailing number ("Request1").
segment_label token_label(std::string_view token) {
  if (token.empty() || token.size() > 12) return segment_label::none;
  if (!label_starts[static_cast<unsigned char>(token[0])]) return segment_label::none;
  std::size_t stem = token.size();
  while (stem > 0 && token[stem - 1] >= '0' && token[stem - 1] <= '9')
    --stem;
  // No label word is longer, nor a stem of one (a word and its number).
  if (stem > max_label_word) return segment_label::none;
  std::uint64_t key = 0;
  const std::size_t packed = std::min(token.size(), max_label_word);
  for (std::size_t i = 0; i < packed; ++i) {
    const char c = token[i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    key |= std::uint64_t{static_cast<unsigned char>(lower)} << (8 * i);
  }
  const auto first = static_cast<unsigned char>(key & 0xFF);
  if (token.size() <= max_label_word) {
    const segment_label found = lookup(key, first);
    if (found != segment_label::none) return found;
  }
  if (stem == token.size()) return segment_label::none;
  // Without the number: the stem's characters only.
  const std::uint64_t stem_mask =
      stem == max_label_word ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * stem)) - 1;
  return lookup(key & stem_mask, first);
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
  // Character by character: this runs on every line, and most start with no mark at all.
  if (i == text.size()) return false;
  const char first = text[i];
  const bool more = i + 1 < text.size();
  if (first == ';') return true;
  if (first == '/') return more && text[i + 1] == '/';
  return first == '#' && (!more || is_space(text[i + 1]) || text[i + 1] == '#');
}

}  // namespace

segment_label label_of(std::string_view text) {
  // What may start a token: an arrow character or a letter; most label text is digits
  // and punctuation, passed over with one look each.
  static constexpr std::array<bool, 256> starts = [] {
    std::array<bool, 256> table{};
    for (const char c : {'<', '>', '=', '-'})
      table[static_cast<unsigned char>(c)] = true;
    for (int c = 'a'; c <= 'z'; ++c)
      table[static_cast<std::size_t>(c)] = table[static_cast<std::size_t>(c - 'a' + 'A')] = true;
    return table;
  }();
  segment_label found = segment_label::none;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (!starts[static_cast<unsigned char>(c)]) {
      ++i;
      continue;
    }
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
  // Reads the word at `begin` into the segment (opening one) when it is all hex digits,
  // and returns where it ends; npos, with nothing kept, when it holds a letter.
  std::size_t take_word(std::size_t begin);
  void close(std::size_t at);

  std::string_view text_;
  std::span<std::uint8_t> buffer_;
  line_segments& out_;
  open_segment s_;
  std::size_t used_ = 0;         // buffer bytes of the segments kept
  std::size_t label_begin_ = 0;  // text since the last segment kept
  bool bracket_ = false;         // inside [ ] or quotes
};

std::size_t scanner::take_word(std::size_t begin) {
  // What a word with a letter in it must leave as it was.
  const bool was_open = s_.open;
  const std::size_t nibbles = s_.nibbles;
  const std::size_t first_word = s_.first_word;
  const bool decimal = s_.decimal;
  if (!s_.open) {
    // Field by field: a whole new value stored just before its fields are read back
    // costs a stall on every segment.
    s_.open = true;
    s_.text_begin = begin;
    s_.offset = used_;
    s_.nibbles = 0;
    s_.first_word = 0;
    s_.decimal = false;
    s_.placeholder = false;
  } else if (s_.first_word == 0) {
    s_.first_word = s_.nibbles;
  }
  const std::size_t n = text_.size();
  std::size_t i = begin;
  std::uint8_t* out = buffer_.data() + s_.offset;
  if (s_.nibbles % 2 == 0 && i + 1 < n) {
    const std::uint8_t high = class_of(text_[i]);
    const std::uint8_t low = class_of(text_[i + 1]);
    // Spaced pairs, most of many logs: the run of them read here, in one go.
    if (high < 16 && low < 16 && (i + 2 == n || !is_word_char(class_of(text_[i + 2])))) {
      std::size_t done = s_.nibbles;
      bool digits = s_.decimal || high < 10 || low < 10;
      out[done / 2] = static_cast<std::uint8_t>(high << 4U | low);
      done += 2;
      i += 2;
      if (i + 2 < n && text_[i] == ' ' && s_.first_word == 0) s_.first_word = done;
      // Every class past the digits has bit 4 set: one test says both are digits. The
      // loop takes the pairs with a character after them; the last one of the line
      // follows it. The text is read through a local pointer: the byte stores may alias
      // anything, so members would be loaded again on every pair.
      const char* const t = text_.data();
      std::uint8_t* const first_pair = out + done / 2;
      std::uint8_t* to = first_pair;
      while (i + 3 < n && t[i] == ' ') {
        const std::uint8_t h = class_of(t[i + 1]);
        const std::uint8_t l = class_of(t[i + 2]);
        if ((h | l) >= 16 || is_word_char(class_of(t[i + 3]))) break;
        *to++ = static_cast<std::uint8_t>(h << 4U | l);
        i += 3;
      }
      if (i + 3 == n && t[i] == ' ') {
        const std::uint8_t h = class_of(t[i + 1]);
        const std::uint8_t l = class_of(t[i + 2]);
        if ((h | l) < 16) {
          *to++ = static_cast<std::uint8_t>(h << 4U | l);
          i += 3;
        }
      }
      // A decimal digit among the pairs: most runs have one in their first byte.
      for (const std::uint8_t* b = first_pair; b != to && !digits; ++b)
        digits = (*b >> 4U) < 10 || (*b & 0xFU) < 10;
      done = 2 * static_cast<std::size_t>(to - out);
      s_.nibbles = done;
      s_.decimal = digits;
      return i;
    }
    // Unspaced hex in bulk: whole pairs up to the first character that is no hex digit.
    // The bytes written stay within the buffer: each took two characters. Words such as
    // "C-APDU" or "APDU" have no first pair and skip the bulk call's setup.
    const std::size_t pairs =
        (high | low) >= 16
            ? 0
            : decode_hex_pairs_unchecked(text_.data() + i, (n - i) / 2, out + s_.nibbles / 2);
    for (std::size_t k = 0; k < pairs && !s_.decimal; ++k) {
      const std::uint8_t b = out[s_.nibbles / 2 + k];
      s_.decimal = (b >> 4U) < 10 || (b & 0xFU) < 10;
    }
    s_.nibbles += 2 * pairs;
    i += 2 * pairs;
  }
  for (; i < n; ++i) {
    const std::uint8_t v = class_of(text_[i]);
    if (v == letter_class) {
      s_.open = was_open;
      s_.nibbles = nibbles;
      s_.first_word = first_word;
      s_.decimal = decimal;
      return std::string_view::npos;
    }
    if (v >= 16) break;
    s_.decimal = s_.decimal || v < 10;
    std::uint8_t& b = out[s_.nibbles / 2];
    b = s_.nibbles % 2 == 0 ? static_cast<std::uint8_t>(v << 4U) : static_cast<std::uint8_t>(b | v);
    ++s_.nibbles;
  }
  return i;
}

// Ends the open segment at `at`, where the text that ends it begins.
void scanner::close(std::size_t at) {
  if (!s_.open) return;
  s_.open = false;
  const std::size_t bytes = s_.nibbles / 2;
  // Counters, times, fractions and numbers in prose are words, not segments.
  const bool fraction = s_.text_begin > 0 && text_[s_.text_begin - 1] == '.';
  // "12:00", "14:03:22.517": a time's numbers.
  const bool time = at + 1 < text_.size() && (text_[at] == ':' || text_[at] == '.') &&
                    class_of(text_[at + 1]) < 10;
  if (bytes == 0 || fraction || time) return;
  const segment_label label = label_of(text_.substr(label_begin_, s_.text_begin - label_begin_));
  if (bytes < 2 || !s_.decimal) {
    // A labelled byte cut off at the line's end is the tail of an APDU ("Response2: 700");
    // a status label keeps a lone byte too, so that the line is said to be wrong.
    const bool tail = s_.nibbles % 2 != 0 &&
                      (label == segment_label::command || label == segment_label::response) &&
                      text_.find_first_not_of(" \t\r\f\v", at) == std::string_view::npos;
    const bool one_byte_label = label == segment_label::sw1 || label == segment_label::sw2 ||
                                label == segment_label::status || tail;
    if (!one_byte_label) return;
  }
  if (out_.count == out_.items.size()) {
    out_.more = true;
    return;
  }
  segment& seg = out_.items[out_.count++];
  seg.offset = static_cast<std::uint32_t>(s_.offset);
  seg.size = static_cast<std::uint32_t>(bytes);
  seg.column = static_cast<std::uint32_t>(s_.text_begin + 1);
  seg.end = static_cast<std::uint32_t>(at);
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
      const std::size_t end = take_word(i);
      if (end != std::string_view::npos) {
        i = end;
        continue;
      }
      std::size_t word_end = i;
      while (word_end < n && is_word_char(class_of(text_[word_end])))
        ++word_end;
      // 0x00, 0X6F...: the prefix is no digit.
      if (word_end - i > 2 && text_[i] == '0' && (text_[i + 1] == 'x' || text_[i + 1] == 'X')) {
        if (s_.open && s_.nibbles % 2 != 0) close(i);
        if (take_word(i + 2) == word_end) {
          i = word_end;
          continue;
        }
      }
      if (s_.open) {
        // A word inside a list stands for bytes the log does not show.
        if (in_list) s_.placeholder = true;
        close(i);
      }
      i = word_end;
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
  // An unlabelled run with a label after it is the line's counter ("[000012] C-APDU:").
  std::size_t kept = 0;
  for (std::size_t i = 0; i < out.count; ++i) {
    const segment& seg = out.items[i];
    // The next segment's label is read from the same words.
    const bool labelled_after = i + 1 < out.count
                                    ? out.items[i + 1].label != segment_label::none
                                    : label_of(text.substr(seg.end)) != segment_label::none;
    if (seg.label == segment_label::none && labelled_after) continue;
    if (kept != i) out.items[kept] = seg;
    ++kept;
  }
  out.count = kept;
}

}  // namespace emvtlv::trace
