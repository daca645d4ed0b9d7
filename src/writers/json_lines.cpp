#include "writers/json_lines.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/copy.h"
#include "common/hex.h"
#include "writers/node_value.h"

namespace emvtlv {
namespace {

using namespace std::literals;

// The bytes a JSON string cannot hold as they are, each with its high bit set in the
// result, exactly per byte (no carry crosses a byte): below 20, quote, backslash, 7F (written
// as \u007F) and from 80 (checked as UTF-8).
template <class Word>
constexpr Word escape_bits(Word w) {
  constexpr Word ones = static_cast<Word>(~Word{0}) / 0xFF;
  constexpr Word high = ones * 0x80;
  const Word low = w & ~high;
  const Word printable = low + ones * 0x60;                    // high bit: low >= 20
  const Word not_quote = (low ^ (ones * 0x22)) + ones * 0x7F;  // high bit: low != 22
  const Word not_backslash = (low ^ (ones * 0x5C)) + ones * 0x7F;
  const Word del = low + ones;  // high bit: low == 7F
  return static_cast<Word>((~(printable & not_quote & not_backslash) | del | w) & high);
}

// Index of the first byte of `bits` (from escape_bits) that is set, in memory order.
template <class Word>
std::size_t first_set_byte(Word bits) {
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<std::size_t>(std::countr_zero(bits)) / 8;
  else
    return static_cast<std::size_t>(std::countl_zero(bits)) / 8;
}

template <class Word>
Word load(const char* at) {
  Word w;
  std::memcpy(&w, at, sizeof w);
  return w;
}

#if defined(__SSE2__)
// 0xFF in each of the 16 bytes that goes into a JSON string as it is.
inline __m128i plain_mask(__m128i v) {
  // Adding 60 moves 20 to 7E to -128 to -34, and every other byte above -34.
  const __m128i printable =
      _mm_cmpgt_epi8(_mm_set1_epi8(-33), _mm_add_epi8(v, _mm_set1_epi8(0x60)));
  const __m128i special =
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
  return _mm_andnot_si128(special, printable);
}

inline __m128i load16(const char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

inline __m128i plain_mask(const char* at) {
  return plain_mask(load16(at));
}

inline __m128i load8(const char* at) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at));
}

// 8 to 16 bytes as one vector: the first 8 and the last 8, which may overlap.
inline __m128i load8_8(const char* at, std::size_t n) {
  return _mm_unpacklo_epi64(load8(at), load8(at + n - 8));
}
#endif

// One to three bytes as a word: bytes 0, n / 2 and n - 1 cover them all; the fourth is
// a plain 'a'.
inline std::uint32_t tiny_word(const char* s, std::size_t n) {
  const auto byte = [&](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(s[i])}; };
  return byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16 | 0x61000000U;
}

// Whether the n bytes at `s` go into a JSON string as they are. Reads only those n
// bytes: a tail shorter than a word is read as a word that overlaps bytes before it.
inline bool is_plain(const char* s, std::size_t n) {
#if defined(__SSE2__)
  if (n >= 16) {
    __m128i all = plain_mask(s + n - 16);
    for (std::size_t i = 0; i + 16 < n; i += 16)
      all = _mm_and_si128(all, plain_mask(s + i));
    return _mm_movemask_epi8(all) == 0xFFFF;
  }
  if (n >= 8) return _mm_movemask_epi8(plain_mask(load8_8(s, n))) == 0xFFFF;
#endif
  if (n >= 8) {
    std::uint64_t bits = escape_bits(load<std::uint64_t>(s + n - 8));
    for (std::size_t i = 0; i + 8 < n; i += 8)
      bits |= escape_bits(load<std::uint64_t>(s + i));
    return bits == 0;
  }
  if (n >= 4)
    return (escape_bits(load<std::uint32_t>(s)) | escape_bits(load<std::uint32_t>(s + n - 4))) == 0;
  return n == 0 || escape_bits(tiny_word(s, n)) == 0;
}

inline bool is_plain(std::string_view text) {
  return is_plain(text.data(), text.size());
}

// How many bytes at the start of the n at `s` go into a JSON string as they are; reads
// as is_plain does.
std::size_t plain_length(const char* s, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (n >= 16) {
    const auto found = [](const char* at) {
      return static_cast<unsigned>(_mm_movemask_epi8(plain_mask(at))) ^ 0xFFFFU;
    };
    for (; i + 16 <= n; i += 16)
      if (const unsigned m = found(s + i); m != 0)
        return i + static_cast<std::size_t>(std::countr_zero(m));
    if (i < n) {
      i = n - 16;
      if (const unsigned m = found(s + i); m != 0)
        return i + static_cast<std::size_t>(std::countr_zero(m));
    }
    return n;
  }
#endif
  for (; i + 8 <= n; i += 8)
    if (const auto bits = escape_bits(load<std::uint64_t>(s + i)); bits != 0)
      return i + first_set_byte(bits);
  if (i == n) return n;
  if (n >= 8) {
    i = n - 8;
    const auto bits = escape_bits(load<std::uint64_t>(s + i));
    return bits != 0 ? i + first_set_byte(bits) : n;
  }
  if (n >= 4) {
    if (const auto bits = escape_bits(load<std::uint32_t>(s)); bits != 0)
      return first_set_byte(bits);
    const auto bits = escape_bits(load<std::uint32_t>(s + n - 4));
    return bits != 0 ? n - 4 + first_set_byte(bits) : n;
  }
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') return i;
  }
  return n;
}

std::size_t plain_length(std::string_view text) {
  return plain_length(text.data(), text.size());
}

// Copies the n bytes at `src` to `dst` (no overlap) and says whether they are plain,
// in one pass; reads and writes only those n bytes, as is_plain does.
inline bool copy_plain(char* dst, const char* src, std::size_t n) {
#if defined(__SSE2__)
  if (n >= 16) {
    const __m128i last = load16(src + n - 16);
    __m128i all = plain_mask(last);
    for (std::size_t i = 0; i + 16 < n; i += 16) {
      const __m128i v = load16(src + i);
      all = _mm_and_si128(all, plain_mask(v));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), last);
    return _mm_movemask_epi8(all) == 0xFFFF;
  }
  if (n >= 8) {
    const __m128i v = load8_8(src, n);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n - 8), _mm_unpackhi_epi64(v, v));
    return _mm_movemask_epi8(plain_mask(v)) == 0xFFFF;
  }
#endif
  if (n >= 8) {
    const auto last = load<std::uint64_t>(src + n - 8);
    std::uint64_t bits = escape_bits(last);
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      const auto w = load<std::uint64_t>(src + i);
      bits |= escape_bits(w);
      std::memcpy(dst + i, &w, 8);
    }
    std::memcpy(dst + n - 8, &last, 8);
    return bits == 0;
  }
  if (n >= 4) {
    const auto first = load<std::uint32_t>(src);
    const auto last = load<std::uint32_t>(src + n - 4);
    std::memcpy(dst, &first, 4);
    std::memcpy(dst + n - 4, &last, 4);
    return (escape_bits(first) | escape_bits(last)) == 0;
  }
  if (n == 0) return true;
  dst[0] = src[0];
  dst[n / 2] = src[n / 2];
  dst[n - 1] = src[n - 1];
  return escape_bits(tiny_word(src, n)) == 0;
}

// 10^(k), but 0 for k = 0, so that 0 counts one digit.
constexpr std::array<std::uint64_t, 20> powers_of_ten = [] {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t p = 1;
  for (std::size_t k = 1; k < powers.size(); ++k)
    powers[k] = p *= 10;
  return powers;
}();

// Decimal digits of n: lengths and offsets are short; else from its bit width (1233 /
// 4096 is just above log10 2).
inline std::size_t decimal_size(std::uint64_t n) {
  if (n < 10) return 1;
  if (n < 100) return 2;
  if (n < 1000) return 3;
  const auto guess = static_cast<std::size_t>(std::bit_width(n | 1) * 1233) >> 12;
  return guess + 1 - (n < powers_of_ten[guess] ? 1 : 0);
}

// n in decimal, its `size` digits (decimal_size) written from `at`.
template <class Unsigned>
void put_digits(char* at, Unsigned n, std::size_t size) {
  if (size == 1) {
    *at = static_cast<char>('0' + n);
    return;
  }
  char* end = at + size;
  while (n >= 100) {
    end -= 2;
    std::memcpy(end, &decimal_pairs[2 * static_cast<std::size_t>(n % 100)], 2);
    n /= 100;
  }
  if (n >= 10)
    std::memcpy(end - 2, &decimal_pairs[2 * static_cast<std::size_t>(n)], 2);
  else
    end[-1] = static_cast<char>('0' + n);
}

// A number to write, its digits counted once for both passes of put_json.
struct decimal {
  std::uint64_t value;
  std::size_t size;
};

inline decimal as_decimal(std::uint64_t n) {
  return {n, decimal_size(n)};
}

inline void put_decimal(char* at, decimal n) {
  if (n.value <= 0xFFFFFFFF)
    put_digits(at, static_cast<std::uint32_t>(n.value), n.size);
  else
    put_digits(at, n.value, n.size);
}

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8_sequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;  // no surrogates
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

// The characters of `text` as a JSON string holds them, no quotes: plain runs in one piece.
void put_escaped(output_sink& out, std::string_view text) {
  std::size_t i = 0;
  while (true) {
    const std::size_t run = plain_length(text.data() + i, text.size() - i);
    out.append(text.substr(i, run));
    i += run;
    if (i == text.size()) return;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out.put('\\');
      out.put(static_cast<char>(c));
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      out.append("\\u00");
      put_hex_byte(out, c);
      ++i;
    } else if (const std::size_t n = utf8_sequence(text.substr(i)); n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out.append("\\uFFFD");
      ++i;
    }
  }
}

// One piece of JSON text is described once, as a function of a writer, and gone over
// twice: json_measure sizes it and sees whether its strings need escaping; then, when
// none does (nearly always), json_raw writes it all into space made for it at once,
// else json_escaping writes it part by part into the sink.
struct json_measure {
  std::size_t size = 0;
  bool plain = true;
  void put(char) { ++size; }
  void text(std::string_view s) { size += s.size(); }  // written as it is
  void string(std::string_view s) {                    // a string's characters, escaped
    size += s.size();
    plain = plain && is_plain(s);
  }
  void number(decimal n) { size += n.size; }
  void tag(const tree_node& node, std::span<const std::uint8_t>, const hidden_nibbles&) {
    size += 2 * std::size_t{node.tag_size};
  }
};

struct json_raw {
  char* at;
  void put(char c) { *at++ = c; }
  void text(std::string_view s) {
    copy_short(at, s.data(), s.size());
    at += s.size();
  }
  void string(std::string_view s) { text(s); }
  void number(decimal n) {
    put_decimal(at, n);
    at += n.size;
  }
  // As put_node_tag writes it: the hidden nibbles masked where they are written.
  void tag(const tree_node& node, std::span<const std::uint8_t> record,
           const hidden_nibbles& hidden) {
    const std::span<const std::uint8_t> tag = record.subspan(node.offset, node.tag_size);
    char* const hex = at;
    const auto pair = [&](std::size_t i) { return &hex_pairs[2 * std::size_t{tag[i]}]; };
    if (tag.size() == 1) {  // most tags have one or two octets
      std::memcpy(at, pair(0), 2);
      at += 2;
    } else if (tag.size() == 2) {
      std::memcpy(at, pair(0), 2);
      std::memcpy(at + 2, pair(1), 2);
      at += 4;
    } else {
      for (std::size_t i = 0; i < tag.size(); ++i, at += 2)
        std::memcpy(at, pair(i), 2);
    }
    if (hidden.any()) hidden.apply(tag.data(), {hex, 2 * tag.size()});
  }
};

// One pass into a buffer of the caller's, big enough for what it is given, checking
// strings as it copies them; `plain` false means the buffer is to be dropped. (No
// tags: an explanation item has none.)
struct json_buffer {
  char* at;
  bool plain = true;
  void put(char c) { *at++ = c; }
  void text(std::string_view s) {
    copy_short(at, s.data(), s.size());
    at += s.size();
  }
  void string(std::string_view s) {
    plain = copy_plain(at, s.data(), s.size()) && plain;
    at += s.size();
  }
  void number(decimal n) {
    put_decimal(at, n);
    at += n.size;
  }
};

struct json_escaping {
  output_sink& out;
  void put(char c) { out.put(c); }
  void text(std::string_view s) { out.append(s); }
  void string(std::string_view s) { put_escaped(out, s); }
  void number(decimal n) { put_decimal(out.extend(n.size), n); }
  void tag(const tree_node& node, std::span<const std::uint8_t> record,
           const hidden_nibbles& hidden) {
    put_node_tag(node, record, hidden, out);
  }
};

// The bodies are inlined (always_inline on each), so the write position stays in a
// register and the sizes of the fixed text fold into constants.
template <class Body>
[[gnu::always_inline]] inline void put_json(output_sink& out, const Body& body) {
  json_measure measure;
  body(measure);
  if (measure.plain) {
    json_raw raw{out.extend(measure.size)};
    body(raw);
  } else {
    json_escaping escaping{out};
    body(escaping);
  }
}

// As put_json, in one pass through a buffer on the stack when `bound` (what the body
// writes at most, its strings as they are) fits, and all is plain: then the text goes
// to the sink in one copy.
template <class Body>
[[gnu::always_inline]] inline void put_json_buffered(output_sink& out, std::size_t bound,
                                                     const Body& body) {
  constexpr std::size_t room = 512;
  if (bound <= room) {
    std::array<char, room> buffer;  // not cleared: only what the body wrote is read
    json_buffer buffered{buffer.data()};
    body(buffered);
    if (buffered.plain) {
      const auto size = static_cast<std::size_t>(buffered.at - buffer.data());
      copy_short(out.extend(size), buffer.data(), size);
      return;
    }
  }
  // Escaped, or too long for the buffer: piece by piece, as rare as either is.
  json_escaping escaping{out};
  body(escaping);
}

// The explanation items of one node: level-(n+1) items nest in an "items" array
// under the level-n item before them. After the first item one object always stands
// open, awaiting either its "items" or its closing brace.
struct json_explain {
  output_sink* out;
  std::uint32_t depth = 0;  // open "items" arrays
  bool any = false;
};

// `KEY"TEXT"` when `text` is not empty; `key` holds the opening quote.
template <class Writer>
[[gnu::always_inline]] inline void put_field(Writer& w, std::string_view key,
                                             std::string_view text) {
  if (text.empty()) return;
  w.text(key);
  w.string(text);
  w.text("\"");
}

// The typed facts beside the text, each only when the item has it.
template <class Writer>
[[gnu::always_inline]] inline void put_facts(Writer& w, explain_kind kind,
                                             const explain_facts& facts) {
  put_field(w, kind == explain_kind::problem ? ",\"problem_id\":\""sv : ",\"id\":\""sv, facts.id);
  if (facts.byte != 0) {
    w.text(",\"byte\":");
    w.number(as_decimal(facts.byte));
    w.text(",\"bit\":");
    w.number(as_decimal(facts.bit));
  }
  if (facts.has_number) {
    w.text(",\"number\":");
    w.number(as_decimal(facts.number));
  }
  if (facts.exponent >= 0) {
    w.text(",\"exponent\":");
    w.number(as_decimal(static_cast<std::uint64_t>(facts.exponent)));
  }
  if (facts.first_record != 0) {
    w.text(",\"first_record\":");
    w.number(as_decimal(facts.first_record));
    w.text(",\"last_record\":");
    w.number(as_decimal(facts.last_record));
  }
  put_field(w, ",\"amount\":\"", facts.amount);
  put_field(w, ",\"currency\":\"", facts.currency);
  put_field(w, ",\"date\":\"", facts.date);
  put_field(w, ",\"code\":\"", facts.code);
  put_field(w, ",\"cryptogram\":\"", facts.cryptogram);
  put_field(w, ",\"payment_system\":\"", facts.payment_system);
  put_field(w, ",\"kernel\":\"", facts.kernel);
}

// Each kind's opening, written whole.
constexpr std::array<std::string_view, 7> kind_openings = {
    "{\"kind\":\"meaning\"", "{\"kind\":\"bit\"",     "{\"kind\":\"rfu\"", "{\"kind\":\"field\"",
    "{\"kind\":\"entry\"",   "{\"kind\":\"problem\"", "{\"kind\":\"none\""};

// Called for every item: flatten keeps the copies inline, which the compiler would
// otherwise call out of line from this large a function.
[[gnu::flatten]] void put_json_item(void* context, explain_kind kind, std::uint32_t level,
                                    std::string_view label, std::string_view text,
                                    const explain_facts& facts) {
  auto& state = *static_cast<json_explain*>(context);
  // Levels step one at a time, so a jump nests under the item before it.
  const bool nests = state.any && level > state.depth;
  const std::uint32_t closed = state.any && !nests ? state.depth - std::min(level, state.depth) : 0;
  // The fixed text of an item is under 256 characters.
  const std::size_t bound = 256 + 2 * std::size_t{closed} + label.size() + text.size() +
                            facts.id.size() + facts.amount.size() + facts.currency.size() +
                            facts.date.size() + facts.code.size() + facts.cryptogram.size() +
                            facts.payment_system.size() + facts.kernel.size();
  put_json_buffered(
      *state.out, bound, [&](auto& w) __attribute__((always_inline)) {
        if (!state.any) {
          w.text(",\"explain\":[");
        } else if (nests) {
          w.text(",\"items\":[");
        } else {
          w.text("}");
          for (std::uint32_t i = 0; i < closed; ++i)
            w.text("]}");
          w.text(",");
        }
        w.text(kind_openings[std::min(static_cast<std::size_t>(kind), kind_openings.size() - 1)]);
        put_field(w, ",\"label\":\"", label);
        w.text(",\"text\":\"");
        w.string(text);
        w.text("\"");
        put_facts(w, kind, facts);
      });
  if (!state.any) {
    state.any = true;
  } else if (nests) {
    ++state.depth;
  } else {
    state.depth -= closed;
  }
}

void finish_explain(json_explain& state) {
  if (!state.any) return;
  state.out->put('}');
  for (; state.depth > 0; --state.depth)
    state.out->append("]}");
  state.out->put(']');
}

// Stable ids of the node problems, by node_problem (none has none).
constexpr std::array<std::string_view, 7> node_problem_ids = {
    "",
    "value_runs_past_end",
    "indefinite_length",
    "length_field_too_long",
    "length_runs_past_end",
    "tag_runs_past_end",
    "card_digits_where_a_header_would_be"};
static_assert(node_problem_ids.size() == static_cast<std::size_t>(node_problem::header_hidden) + 1);

}  // namespace

std::string_view node_problem_id(node_problem problem) {
  return node_problem_ids[static_cast<std::size_t>(problem) % node_problem_ids.size()];
}

namespace {

void put_problem(const tree_node& node, output_sink& out) {
  std::array<char, 96> buffer{};
  out.append(",\"problem\":");
  put_json_string(out, describe_problem(node, buffer));
  out.append(",\"problem_id\":\"");
  out.append(node_problem_ids[static_cast<std::size_t>(node.problem) % node_problem_ids.size()]);
  out.put('"');
}

// The elements of a record, templates opened.
void put_elements(const tree_result& tree, std::span<const std::uint8_t> record,
                  const json_options& options, output_sink& out) {
  // Without explanations only the kernel-named tags read the context.
  record_context context(tree, record, options.known, options.explain);
  // Between two nodes the text so far is whole, and may be passed on.
  const hidden_nibbles& hidden = *tree.hidden;
  std::uint32_t depth = 0;  // open "elements" arrays below the top
  bool first = true;
  for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
    const tree_node& node = tree.nodes[i];
    if (options.marks != nullptr && options.marks[i] == node_mark::dropped) continue;
    out.spill_if_over(spill_bound);
    for (; depth > node.depth; --depth) {
      out.append("]}");
      first = false;  // the template just closed was an element of this level
    }
    const std::string_view name =
        node.problem == node_problem::tag_cut_short || node.problem == node_problem::header_hidden
            ? std::string_view()
            : node_name(node, record, context);
    const bool value = shows_value(node);
    const decimal length = as_decimal(node.declared);
    const decimal offset = as_decimal(node.offset);
    put_json(
        out, [&](auto& w) __attribute__((always_inline)) {
          if (!first) w.put(',');
          w.text("{\"tag\":\"");
          w.tag(node, record, hidden);
          if (!name.empty()) {
            w.text("\",\"name\":\"");
            w.text(name);  // a node's name needs no escaping: see is_plain_name
          }
          w.text("\",\"length\":");
          w.number(length);
          w.text(",\"offset\":");
          w.number(offset);
          // A problem goes between the offset and the value, apart: it is rare.
          if (node.problem != node_problem::none) return;
          if (value)
            w.text(",\"value\":\"");
          else
            w.text(",\"elements\":[");
        });
    first = false;
    if (node.problem != node_problem::none) {
      put_problem(node, out);
      if (value)
        out.append(",\"value\":\"");
      else
        out.append(",\"elements\":[");
    }
    if (value) {
      // "masked" promises an X in the value, which put_node_value's answer says: a
      // card number too short to hide any digit, or one cut to its last four, is
      // printed whole and not flagged.
      const bool masked = put_node_value(node, record, hidden, out);
      if (options.explain && node.problem == node_problem::none) {
        if (masked)
          out.append("\",\"masked\":true");
        else
          out.put('"');
        json_explain state{&out};
        explain_value(node.tag, record.subspan(node.value_offset, node.value_size), node.declared,
                      context.get(), explain_output{&state, put_json_item});
        finish_explain(state);
        out.put('}');
      } else {
        if (masked)
          out.append("\",\"masked\":true}");
        else
          out.append("\"}");
      }
    } else {
      // A template: its children follow in the node list, one level deeper.
      ++depth;
      first = true;
    }
  }
  for (; depth > 0; --depth)
    out.append("]}");
}

}  // namespace

void put_json_string(output_sink& out, std::string_view text) {
  const std::size_t plain = plain_length(text);
  if (plain == text.size()) {
    char* const at = out.extend(text.size() + 2);
    at[0] = '"';
    copy_short(at + 1, text.data(), text.size());
    at[text.size() + 1] = '"';
    return;
  }
  out.put('"');
  out.append(text.substr(0, plain));
  put_escaped(out, text.substr(plain));
  out.put('"');
}

void write_json_line(const hex_line& line, const tree_result& tree, const json_options& options,
                     output_sink& out) {
  const decimal number = as_decimal(line.number);
  if (line.what == hex_line::kind::bad) {
    put_json(
        out, [&](auto& w) __attribute__((always_inline)) {
          w.text("{\"line\":");
          w.number(number);
          w.text(",\"error\":{\"message\":\"");
          w.string(line.message);
          w.text("\"");
          if (!line.problem_id.empty()) {
            w.text(",\"problem_id\":\"");
            w.text(line.problem_id);
            w.text("\"");
          }
          if (line.column > 0) {
            w.text(",\"column\":");
            w.number(as_decimal(line.column));
          }
          w.text("}}\n");
        });
    return;
  }
  put_json(
      out, [&](auto& w) __attribute__((always_inline)) {
        w.text("{\"line\":");
        w.number(number);
        w.text(",\"elements\":[");
      });
  const bool record = line.what == hex_line::kind::record;
  if (record) put_elements(tree, line.bytes, options, out);
  const bool status = tree.has_status && record;
  const std::string_view meaning = status ? status_meaning(tree.status) : std::string_view();
  put_json(
      out, [&](auto& w) __attribute__((always_inline)) {
        w.text("]");
        if (status) {
          const std::size_t high = 2 * std::size_t{static_cast<std::uint8_t>(tree.status >> 8)};
          const std::size_t low = 2 * std::size_t{static_cast<std::uint8_t>(tree.status & 0xFF)};
          const std::array<char, 4> hex = {hex_pairs[high], hex_pairs[high + 1], hex_pairs[low],
                                           hex_pairs[low + 1]};
          w.text(",\"status\":\"");
          w.text({hex.data(), hex.size()});
          put_field(w, "\",\"status_meaning\":\"", meaning);
          if (meaning.empty()) w.text("\"");
        }
        w.text("}\n");
      });
}

}  // namespace emvtlv
