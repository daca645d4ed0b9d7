#include "card/mask.h"

#include "common/cpu.h"

#include <emmintrin.h>
#if defined(EMVTLV_AVX2_PATHS)
#include <immintrin.h>
#endif
#include <algorithm>

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <functional>

namespace emvtlv {
namespace {

// A card number shows its last four digits, as receipts do.
constexpr std::size_t clear_digits = 4;

struct card_tag {
  std::uint64_t tag;
  card_mask rule;
};

constexpr std::array<card_tag, 4> card_tags = {{
    {0x5A, card_mask::pan},
    {0x57, card_mask::track2},
    {0x56, card_mask::track1},
    {0x9F6B, card_mask::track2},  // unless it is Visa's Card CVM Limit, see below
}};

constexpr bool is_maskable(std::uint64_t tag) {
  return std::find(maskable_tags.begin(), maskable_tags.end(), tag) != maskable_tags.end();
}
static_assert(std::all_of(card_tags.begin(), card_tags.end(),
                          [](const card_tag& c) { return is_maskable(c.tag); }),
              "may_be_masked must answer yes for every card tag");

constexpr std::uint64_t card_cvm_limit_tag = 0x9F6B;
constexpr std::uint64_t card_cvm_limit_octets = 6;

bool is_letter(char c, char upper) {
  return c == upper || c == static_cast<char>(upper | 0x20);
}

bool is_digit_char(char c) {
  return c >= '0' && c <= '9';
}

// X over the first `digits` characters but the last four of them.
void hide_all_but_last_four(std::span<char> hex, std::size_t digits) {
  if (digits > clear_digits) std::fill_n(hex.begin(), digits - clear_digits, 'X');
}

// Each rule returns where its field ends (the separator it stopped at, or the end), so
// a second application to a later part of the same bytes can tell it has nothing to add.
std::size_t mask_pan(std::span<char> hex) {
  std::size_t digits = hex.size();
  while (digits > 0 && is_letter(hex[digits - 1], 'F'))
    --digits;
  hide_all_but_last_four(hex, digits);
  return hex.size();
}

std::size_t track2_separator(std::span<const char> hex) {
  return static_cast<std::size_t>(
      std::find_if(hex.begin(), hex.end(), [](char c) { return is_letter(c, 'D'); }) - hex.begin());
}

std::size_t mask_track2(std::span<char> hex) {
  const std::size_t separator = track2_separator(hex);
  hide_all_but_last_four(hex, separator);
  return separator;
}

// Track 1 is ASCII: a character is one pair. A lone last character counts as a pair.
bool pair_is(std::span<const char> hex, std::size_t p, char high, char low) {
  return 2 * p + 1 < hex.size() && hex[2 * p] == high && is_letter(hex[2 * p + 1], low);
}

std::size_t pairs_of(std::span<const char> hex) {
  return (hex.size() + 1) / 2;
}

// The first pair from `from` that is '^', or the number of pairs.
std::size_t next_caret(std::span<const char> hex, std::size_t from) {
  std::size_t p = from;
  while (p < pairs_of(hex) && !pair_is(hex, p, '5', 'E'))
    ++p;
  return p;
}

// Without the format code the number may start at once: hide from there.
std::size_t track1_first(std::span<const char> hex) {
  return pair_is(hex, 0, '4', '2') ? 1 : 0;  // 'B'
}

std::size_t mask_track1(std::span<char> hex) {
  const std::size_t first = track1_first(hex);
  const std::size_t end = next_caret(hex, first);
  if (end - first > clear_digits) {
    const std::size_t hidden_end = std::min(2 * (end - clear_digits), hex.size());
    std::fill(hex.begin() + static_cast<std::ptrdiff_t>(2 * first),
              hex.begin() + static_cast<std::ptrdiff_t>(hidden_end), 'X');
  }
  return std::min(2 * end, hex.size());
}

// Cut short: no digit of the number can be told from the others' places, so none shows.
void hide_every_digit(card_mask rule, std::span<char> hex) {
  if (rule == card_mask::track1) {
    for (std::size_t p = 0; 2 * p + 1 < hex.size(); ++p)
      if (hex[2 * p] == '3' && is_digit_char(hex[2 * p + 1])) hex[2 * p] = hex[2 * p + 1] = 'X';
    return;
  }
  std::replace_if(hex.begin(), hex.end(), is_digit_char, 'X');
}

std::size_t apply_rule(card_mask rule, std::span<char> hex) {
  switch (rule) {
    case card_mask::none:
      return hex.size();
    case card_mask::pan:
      return mask_pan(hex);
    case card_mask::track2:
      return mask_track2(hex);
    case card_mask::track1:
      return mask_track1(hex);
  }
  return hex.size();
}

// Sensitive authentication data: tags whose whole value is a card code or a PIN block.
constexpr std::array<std::uint64_t, 3> hidden_whole_tags = {0x99, 0x9F1F, 0x9F20};
static_assert(std::all_of(hidden_whole_tags.begin(), hidden_whole_tags.end(), is_maskable),
              "may_be_masked must answer yes for every tag hidden whole");

// The service code ends 7 digits after the Track 2 separator (expiry YYMM, 3 digits).
constexpr std::size_t expiry_and_service_code = 7;

void hide_track2_discretionary(std::span<char> hex) {
  const std::size_t separator = track2_separator(hex);
  if (separator == hex.size()) return;
  std::size_t end = hex.size();
  if (end > 0 && is_letter(hex[end - 1], 'F')) --end;  // the pad of an odd digit count
  const std::size_t first = separator + 1 + expiry_and_service_code;
  if (first < end)
    std::fill(hex.begin() + static_cast<std::ptrdiff_t>(first),
              hex.begin() + static_cast<std::ptrdiff_t>(end), 'X');
}

void hide_track1_discretionary(std::span<char> hex) {
  const std::size_t name = next_caret(hex, track1_first(hex));
  if (name >= pairs_of(hex)) return;
  const std::size_t expiry = next_caret(hex, name + 1);
  const std::size_t first = 2 * (expiry + 1 + expiry_and_service_code);
  if (expiry < pairs_of(hex) && first < hex.size())
    std::fill(hex.begin() + static_cast<std::ptrdiff_t>(first), hex.end(), 'X');
}

// Reads a template's value one octet at a time, never at or past `end`, which never
// passes the value's size.
struct cursor {
  std::span<const std::uint8_t> value;
  std::size_t at;
  std::size_t end;
  const hidden_nibbles* hidden;
  std::span<const char> shown;  // the value as printed so far: X where a rule hid it
  bool hit_hidden = false;
  // Whether the scan hides any of the value's bytes, and whether its printed form may
  // hold an X: most values have neither, and their octets then need no look.
  bool check_hidden = false;
  bool check_shown = false;
  std::size_t record_offset = 0;  // of value[0] in the scanned record, with check_hidden

  bool shown_hidden(std::size_t octet) const {
    return 2 * octet + 1 < shown.size() && (shown[2 * octet] == 'X' || shown[2 * octet + 1] == 'X');
  }

  // A hidden octet, by the record scan or by a rule already applied to bytes left,
  // ends a header as the template's end does: what the hidden digits are must not
  // decide how the rest is read.
  bool next(std::uint8_t& octet) {
    if (at >= end) return false;
    if ((check_hidden && hidden->hides_record_offset(record_offset + at)) ||
        (check_shown && shown_hidden(at))) {
      hit_hidden = true;
      return false;
    }
    octet = value[at++];
    return true;
  }
};

struct element_header {
  std::uint64_t tag = 0;
  bool is_template = false;
  std::uint64_t length = 0;
};

enum class header_read : std::uint8_t { whole, length_unreadable, cut_short };

// Reads a tag and a length. cut_short when either runs past the cursor's end;
// length_unreadable (the cursor just past the length's first octet) for 80, and for
// a length field longer than the framing reads (84 and up, or 85 and up).
header_read read_header(cursor& in, element_header& header, template_framing framing) {
  std::uint8_t octet = 0;
  if (!in.next(octet)) return header_read::cut_short;
  header.is_template = (octet & 0x20) != 0;
  // Past eight octets the high ones drop out; no card tag can come out of that, as
  // every octet but a tag's last has its top bit set.
  header.tag = octet;
  if ((octet & 0x1F) == 0x1F) {
    do {
      if (!in.next(octet)) return header_read::cut_short;
      header.tag = header.tag << 8 | octet;
    } while ((octet & 0x80) != 0);
  }
  if (!in.next(octet)) return header_read::cut_short;
  if ((octet & 0x80) == 0) {
    header.length = octet;
    return header_read::whole;
  }
  const unsigned following = octet & 0x7Fu;
  const unsigned most = framing == template_framing::tree ? 4 : 3;
  if (following == 0 || following > most) return header_read::length_unreadable;
  header.length = 0;
  for (unsigned i = 0; i < following; ++i) {
    if (!in.next(octet)) return header_read::cut_short;
    header.length = header.length << 8 | octet;
  }
  return header_read::whole;
}

constexpr std::size_t max_open_templates = 128;

}  // namespace

card_mask card_mask_for(std::uint64_t tag, std::uint64_t declared_length, std::string_view hex) {
  // Every element printed asks: most tags end in none of the card tags' last octets.
  if (!may_be_masked(tag)) return card_mask::none;
  const auto row = std::find_if(card_tags.begin(), card_tags.end(),
                                [&](const card_tag& c) { return c.tag == tag; });
  if (row == card_tags.end()) return card_mask::none;
  if (tag == card_cvm_limit_tag && declared_length == card_cvm_limit_octets &&
      std::none_of(hex.begin(), hex.end(), [](char c) { return is_letter(c, 'D'); }))
    return card_mask::none;
  return row->rule;
}

void apply_card_mask(card_mask rule, std::span<char> hex, bool cut_short) {
  if (rule == card_mask::none) return;
  apply_rule(rule, hex);
  if (cut_short) hide_every_digit(rule, hex);
}

bool is_hidden_whole(std::uint64_t tag) {
  if (!may_be_masked(tag)) return false;
  return std::find(hidden_whole_tags.begin(), hidden_whole_tags.end(), tag) !=
         hidden_whole_tags.end();
}

void hide_authentication_data(std::uint64_t tag, card_mask rule, std::span<char> hex) {
  if (is_hidden_whole(tag)) {
    std::fill(hex.begin(), hex.end(), 'X');
  } else if (rule == card_mask::track2) {
    hide_track2_discretionary(hex);
  } else if (rule == card_mask::track1) {
    hide_track1_discretionary(hex);
  }
}

bool is_template_tag(std::uint64_t tag) {
  while (tag > 0xFF)
    tag >>= 8;
  return (tag & 0x20) != 0;
}

namespace {

// What one rule last did to the bytes left after an unreadable length: chars
// [start, end) of the hex, its field ending at `boundary` (absolute, as every index
// here). A later application to [a, e) with start <= a <= boundary and e <= end finds
// the same separator (or none) and hides nothing more, so it is skipped: masking after
// unreadable lengths stays one pass however many there are.
struct applied_region {
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t boundary = 0;
  std::size_t second = 0;  // Track 1: the pair of the '^' after the name, once looked for
  bool second_known = false;
  bool any = false;

  bool covers(std::size_t a, std::size_t e) const {
    return any && a >= start && e <= end && a <= boundary;
  }
};

struct template_masker {
  std::span<char> hex;
  bool hide_sad;
  std::size_t looked_at = 0;
  std::array<applied_region, 4> rules{};  // by card_mask
  applied_region filled{};                // the last data hidden after a number's fields

  std::span<char> chars(std::size_t from, std::size_t to) const {
    const std::size_t first = std::min(2 * from, hex.size());
    return hex.subspan(first, std::min(2 * to, hex.size()) - first);
  }

  // A value placed by its header: masked once, it overlaps no other.
  void element(std::uint64_t tag, std::uint64_t declared, std::size_t from, std::size_t to,
               bool cut_short) {
    if (!may_be_masked(tag)) {
      looked_at += chars(from, to).size();
      return;
    }
    const std::span<char> shown = chars(from, to);
    const card_mask rule = card_mask_for(tag, declared, {shown.data(), shown.size()});
    looked_at += shown.size();
    apply_card_mask(rule, shown, cut_short);
    if (hide_sad) hide_authentication_data(tag, rule, shown);
  }

  // Where the data after the number's fields starts in [a, e), under a rule whose field
  // ends at done.boundary; e when there is none.
  std::size_t data_after_fields(card_mask rule, applied_region& done, std::size_t e) {
    const std::size_t fields = 1 + expiry_and_service_code;  // the separator, then these
    if (rule == card_mask::track2)
      return done.boundary < e ? std::min(e, done.boundary + fields) : e;
    if (rule != card_mask::track1 || done.boundary >= e) return e;
    if (!done.second_known) {
      const std::span<const char> all = hex.first(done.end);
      done.second = next_caret(all, done.boundary / 2 + 1);
      looked_at += 2 * done.second - done.boundary;
      done.second_known = true;
    }
    return std::min(e, 2 * (done.second + fields));
  }

  // The bytes left after an unreadable length, under the element's own tag's rule.
  void rest(std::uint64_t tag, std::size_t from, std::size_t to) {
    const std::size_t a = std::min(2 * from, hex.size());
    const std::size_t e = std::min(2 * to, hex.size());
    const card_mask rule = card_mask_for(tag, 0, {});
    const bool whole = hide_sad && is_hidden_whole(tag);
    if (rule == card_mask::none && !whole) return;
    std::size_t fill = a;
    if (rule != card_mask::none) {
      applied_region& done = rules[static_cast<std::size_t>(rule)];
      if (!done.covers(a, e)) {
        const std::size_t boundary = a + apply_rule(rule, hex.subspan(a, e - a));
        looked_at += boundary - a;
        done = applied_region{a, e, boundary, 0, false, true};
      }
      if (!hide_sad) return;
      fill = data_after_fields(rule, done, e);
    }
    std::size_t fill_end = e;
    if (rule == card_mask::track2 && fill_end > fill && is_letter(hex[fill_end - 1], 'F'))
      --fill_end;  // the pad of an odd digit count
    if (fill >= fill_end) return;
    if (filled.any && fill >= filled.start && fill_end <= filled.end) return;
    std::fill(hex.begin() + static_cast<std::ptrdiff_t>(fill),
              hex.begin() + static_cast<std::ptrdiff_t>(fill_end), 'X');
    looked_at += fill_end - fill;
    filled = applied_region{fill, fill_end, fill_end, 0, false, true};
  }
};

}  // namespace

std::size_t mask_template_value(std::span<const std::uint8_t> value, std::span<char> hex,
                                template_framing framing, const hidden_nibbles& hidden) {
  template_masker masker{hex, framing == template_framing::tree};
  // The ends of the templates around the current one; the current one's is in.end.
  std::array<std::size_t, max_open_templates> outer_ends;
  std::size_t open = 0;
  cursor in{value, 0, value.size(), &hidden, hex};
  in.check_hidden = hidden.hides_any(value.data(), value.size()) &&
                    hidden.record_offset(value.data(), in.record_offset);
  const std::size_t printed = std::min(hex.size(), 2 * value.size());
  in.check_shown = printed > 0 && std::memchr(hex.data(), 'X', printed) != nullptr;
  // The value ends in the record's half last byte: what reaches it is cut short.
  const bool half_end = hidden.ends_in_half_byte(value.data(), value.size());
  std::size_t octets_read = 0;
  for (;;) {
    if (in.at >= in.end) {
      if (open == 0) break;
      in.end = outer_ends[--open];
      continue;
    }
    if (value[in.at] == 0x00) {
      ++in.at;
      ++octets_read;
      continue;
    }
    element_header header;
    const std::size_t header_at = in.at;
    const header_read got = read_header(in, header, framing);
    octets_read += in.at - header_at;
    if (got == header_read::length_unreadable) {
      // Every byte left in the template is this element's value, masked under its own
      // tag's rule; the walk still reads them on as elements.
      masker.rest(header.tag, in.at, in.end);
      in.check_shown = true;
      continue;
    }
    if (in.hit_hidden) {
      // Hidden bytes start nothing: read on after the first of them.
      in.at = header_at + 1;
      in.hit_hidden = false;
      continue;
    }
    if (got != header_read::whole) {
      if (open == 0) break;
      in.at = in.end;
      continue;
    }
    const std::size_t left = in.end - in.at;
    const std::size_t value_end =
        in.at + static_cast<std::size_t>(std::min<std::uint64_t>(header.length, left));
    if (header.is_template) {
      if (open < max_open_templates) {
        outer_ends[open++] = in.end;
        in.end = value_end;
      }
      continue;
    }
    const bool cut_short = header.length > left || (half_end && value_end == value.size());
    masker.element(header.tag, header.length, in.at, value_end, cut_short);
    octets_read += value_end - in.at;
    in.at = value_end;
  }
  return octets_read + masker.looked_at;
}

// The record scan.

namespace {

constexpr std::size_t min_number_digits = 12;
constexpr std::size_t max_number_digits = 19;
constexpr std::size_t min_cut_digits = 8;
constexpr std::size_t min_pan_octets = 4;
constexpr std::size_t max_pan_octets = 10;
constexpr std::size_t max_track2_octets = 32;
constexpr std::size_t max_track1_octets = 79;

bool is_ascii_digit(std::uint8_t b) {
  return static_cast<unsigned>(b - '0') < 10U;
}

std::size_t words_for(std::size_t bytes) {
  return (2 * bytes + 63) / 64;
}

// Luhn over `count` digits handed out by `digit(i)`, the check digit last.
template <typename Digit>
bool luhn_valid(std::size_t count, Digit digit) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned d = digit(count - 1 - i);
    if (i % 2 == 1) {
      d *= 2;
      if (d > 9) d -= 9;
    }
    sum += d;
  }
  return sum % 10 == 0;
}

// Luhn over packed BCD digits, a byte at a time: with an even count every byte's high
// digit is doubled, with an odd one its low digit (the last, lone high digit never).
constexpr unsigned luhn_doubled(unsigned d) {
  return 2 * d > 9 ? 2 * d - 9 : 2 * d;
}
constexpr std::array<std::array<std::uint8_t, 256>, 2> luhn_bytes = [] {
  std::array<std::array<std::uint8_t, 256>, 2> t{};
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned high = std::min(b >> 4U, 9U);
    const unsigned low = std::min(b & 0xFU, 9U);
    t[0][b] = static_cast<std::uint8_t>(luhn_doubled(high) + low);
    t[1][b] = static_cast<std::uint8_t>(high + luhn_doubled(low));
  }
  return t;
}();

bool luhn_valid_bcd(const std::uint8_t* bytes, std::size_t digits) {
  const std::size_t whole = digits / 2;
  const std::array<std::uint8_t, 256>& table = luhn_bytes[digits % 2];
  unsigned sum = 0;
  for (std::size_t k = 0; k < whole; ++k)
    sum += table[bytes[k]];
  if (digits % 2 == 1) sum += bytes[whole] >> 4U;
  return sum % 10 == 0;
}

// Bit i set where byte i of the 64 at `p` is an ASCII digit, and where it may start a
// card number's header: 5A, 57, 56, or 9F before 6B (and, with card codes, before 1F or
// 20). Reads p[0] to p[64]: one byte past the 64, for the octet after a 9F.
struct byte_kinds {
  std::uint64_t digits;
  std::uint64_t headers;
};

byte_kinds classify_64(const std::uint8_t* p, bool card_codes) {
  const __m128i zero_digit = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const auto octet = [](int value) { return _mm_set1_epi8(static_cast<char>(value)); };
  const __m128i pan_octet = octet(0x5A);
  const __m128i track2_octet = octet(0x57);
  const __m128i track1_octet = octet(0x56);
  const __m128i two_octet = octet(0x9F);
  const __m128i cvm_limit_octet = octet(0x6B);
  // Without card codes these compare with a byte that never follows: 9F 6B already did.
  const __m128i code_octet = octet(card_codes ? 0x1F : 0x6B);
  const __m128i code2_octet = octet(card_codes ? 0x20 : 0x6B);
  byte_kinds kinds{0, 0};
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i + 1));
    const __m128i offset = _mm_sub_epi8(v, zero_digit);
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(offset, nine), offset);
    const __m128i second = _mm_or_si128(
        _mm_cmpeq_epi8(next, cvm_limit_octet),
        _mm_or_si128(_mm_cmpeq_epi8(next, code_octet), _mm_cmpeq_epi8(next, code2_octet)));
    const __m128i header =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, pan_octet), _mm_cmpeq_epi8(v, track2_octet)),
                     _mm_or_si128(_mm_cmpeq_epi8(v, track1_octet),
                                  _mm_and_si128(_mm_cmpeq_epi8(v, two_octet), second)));
    kinds.digits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(digit))} << (16 * i);
    kinds.headers |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(header))}
                     << (16 * i);
  }
  return kinds;
}

#if defined(EMVTLV_AVX2_PATHS)
// classify_64 in two 32-byte steps, for processors with AVX2.
[[gnu::target("avx2")]] byte_kinds classify_64_avx2(const std::uint8_t* p, bool card_codes) {
  const __m256i code_octet = _mm256_set1_epi8(static_cast<char>(card_codes ? 0x1F : 0x6B));
  const __m256i code2_octet = _mm256_set1_epi8(static_cast<char>(card_codes ? 0x20 : 0x6B));
  byte_kinds kinds{0, 0};
  for (int i = 0; i < 2; ++i) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i + 1));
    const __m256i offset = _mm256_sub_epi8(v, _mm256_set1_epi8(static_cast<char>('0')));
    const __m256i digit =
        _mm256_cmpeq_epi8(_mm256_min_epu8(offset, _mm256_set1_epi8(static_cast<char>(9))), offset);
    const __m256i second = _mm256_or_si256(
        _mm256_cmpeq_epi8(next, _mm256_set1_epi8(static_cast<char>(0x6B))),
        _mm256_or_si256(_mm256_cmpeq_epi8(next, code_octet), _mm256_cmpeq_epi8(next, code2_octet)));
    const __m256i header = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0x5A))),
                        _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0x57)))),
        _mm256_or_si256(
            _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0x56))),
            _mm256_and_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0x9F))),
                             second)));
    kinds.digits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(digit))}
                    << (32 * i);
    kinds.headers |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(header))}
                     << (32 * i);
  }
  return kinds;
}
#endif

byte_kinds classify(const std::uint8_t* p, bool card_codes) {
#if defined(EMVTLV_AVX2_PATHS)
  if (cpu_has_avx2()) return classify_64_avx2(p, card_codes);
#endif
  return classify_64(p, card_codes);
}

}  // namespace

// One scan of one record: reads only below size, marks into the nibble map.
struct record_scan {
  hidden_nibbles& marks;
  std::span<const std::uint8_t> record;
  // The nearest header after the one being judged whose rule hid something (headers
  // are judged from the last): a value reaching it may be judged as cut short there.
  std::size_t next_match = 0;
  bool marked = false;       // whether the header being judged hid anything
  std::size_t judging = 0;   // the header being judged
  bool codes_found = false;  // whether the card codes' values are marked

  void hide(std::size_t first_nibble, std::size_t count) {
    if (count == 0) return;
    marks.mark(first_nibble, count);
    marked = true;
  }
  bool byte_hidden(std::size_t i) const { return marks.any_ && marks.hides_offset(i); }
  // A nibble as a rule reads it: one already hidden reads as a digit, whatever it is.
  unsigned nibble(std::size_t n) const {
    if (marks.any_ && marks.nibble(n)) return 0;
    const std::uint8_t b = record[n / 2];
    return n % 2 == 0 ? b >> 4U : b & 0xFU;
  }
  bool any_hidden(std::size_t first_nibble, std::size_t count) const {
    if (!marks.any_) return false;
    for (std::size_t n = first_nibble; n < first_nibble + count; ++n)
      if (marks.nibble(n)) return true;
    return false;
  }

  // The decimal digits (nibbles 0 to 9, or hidden) the `held` bytes from `value` start with.
  std::size_t leading_digits(std::size_t value, std::size_t held) const {
    if (marks.any_) {
      for (std::size_t n = 0; n < 2 * held; ++n)
        if (nibble(2 * value + n) > 9) return n;
      return 2 * held;
    }
    return raw_leading_digits(value, held);
  }
  std::size_t raw_leading_digits(std::size_t value, std::size_t held) const {
    for (std::size_t k = 0; k < held; ++k) {
      const std::uint8_t b = record[value + k];
      if ((b >> 4U) > 9) return 2 * k;
      if ((b & 0xFU) > 9) return 2 * k + 1;
    }
    return 2 * held;
  }

  // A length of one octet, or 81 to 84 and that many octets, wholly inside the record
  // and none of it hidden.
  bool read_length(std::size_t at, std::size_t& length, std::size_t& value) const {
    return read_raw_length(at, length, value) && clear(at, value);
  }
  bool read_raw_length(std::size_t at, std::size_t& length, std::size_t& value) const {
    if (at >= record.size()) return false;
    const std::uint8_t first = record[at];
    if (first == 0x80 || first > 0x84) return false;
    const std::size_t following = first < 0x80 ? 0 : first & 0x7FU;
    if (at + following >= record.size()) return false;
    length = following == 0 ? first : 0;
    for (std::size_t k = 1; k <= following; ++k)
      length = length << 8 | record[at + k];
    value = at + 1 + following;
    return true;
  }

  // Whether no byte of [from, to) is hidden yet: a length is read only from bytes that
  // are not, so the hidden digits decide nothing it does.
  bool clear(std::size_t from, std::size_t to) const {
    if (!marks.any_) return true;
    for (std::size_t i = from; i < to && i < record.size(); ++i)
      if (marks.hides_offset(i)) return false;
    return true;
  }
  // The Luhn check of the BCD number read from `value`, taken as passed where hidden
  // digits stand in it, or digits another header's value holds: the same answer
  // whatever they are, and the number is hidden.
  bool luhn_passes(std::size_t value, std::size_t digits) {
    return any_hidden(2 * value, digits) || luhn_valid_bcd(&record[value], digits) ||
           others_may_hide(value, (digits + 1) / 2);
  }

  // The bytes a header at `i` may hide under any rule, whatever is judged before it
  // and whatever its Luhn check says: the leading digits of its value if there are 8 or
  // more (its number, whole or cut short); and with a separator after them (a track's
  // D or '^') or for a card code, its whole value. Read on raw bytes by raw lengths.
  // `separator` is the nibble of a track 2's D, or no_separator.
  // Only bytes in [after, until) are asked about: a value outside them hides none.
  bool may_hide(std::size_t i, std::size_t& from, std::size_t& to, std::size_t& separator,
                std::size_t after = 0, std::size_t until = ~std::size_t{0}) const {
    std::size_t length = 0;
    std::size_t value = 0;
    std::size_t least = 1;
    std::size_t most = max_track2_octets;
    std::size_t at = i + 1;
    const bool pan = record[i] == 0x5A;
    const bool track1 = record[i] == 0x56;
    bool code = false;
    if (pan) {
      least = min_pan_octets;
      most = max_pan_octets;
    } else if (track1) {
      most = max_track1_octets;
    } else if (record[i] == 0x9F) {
      if (i + 1 >= record.size()) return false;
      at = i + 2;
      code = record[i + 1] != 0x6B;
      if (code) most = record.size();
    }
    if (!read_raw_length(at, length, value) || length < least || length > most || value >= until)
      return false;
    const std::size_t held = held_of(value, length);
    if (value + held <= after) return false;
    from = value;
    to = value + held;
    separator = no_separator;
    if (code) return held > 0;
    if (track1) {
      const std::size_t first = held > 0 && record[value] == 'B' ? value + 1 : value;
      std::size_t digits = 0;
      while (first + digits < to && is_ascii_digit(record[first + digits]))
        ++digits;
      if (digits < min_cut_digits) return false;
      if (first + digits == to || record[first + digits] != '^') to = first + digits;
      return true;
    }
    const std::size_t digits = raw_leading_digits(value, held);
    if (digits < min_cut_digits) return false;
    if (!pan) separator = separator_nibble(value, held, digits);
    if (separator == no_separator) to = value + (digits + 1) / 2;
    return true;
  }

  // The nibble of the D that ends a track 2's number of `digits` in the `held` bytes
  // from `value` (after an F pad of an odd digit count), or no_separator.
  static constexpr std::size_t no_separator = ~std::size_t{0};
  std::size_t separator_nibble(std::size_t value, std::size_t held, std::size_t digits) const {
    std::size_t n = 2 * value + digits;
    const std::size_t end = 2 * (value + held);
    if (digits % 2 == 1 && n + 1 < end && raw_nibble(n) == 0xF) ++n;
    return n < end && raw_nibble(n) == 0xD ? n : no_separator;
  }
  unsigned raw_nibble(std::size_t n) const {
    const std::uint8_t b = record[n / 2];
    return n % 2 == 0 ? b >> 4U : b & 0xFU;
  }

  // Whether a header other than the one being judged may hide any of the `count` bytes
  // from `first`. Headers are judged from the last, so one around these bytes is not
  // judged yet and what it hides is not known: a Luhn check reads none of them. Read on
  // raw bytes, so it answers alike whenever it is asked.
  bool others_may_hide(std::size_t first, std::size_t count) {
    const std::size_t end = first + count;
    if (marks.card_codes_ && in_card_code_value(first, end)) return true;
    // The farthest a value's last byte lies past its header, but a card code's (84 and
    // four octets, then 79): headers before that reach no further.
    constexpr std::size_t reach = 5 + max_track1_octets;
    const std::uint64_t* const headers = marks.header_words_.get();
    const std::size_t from = first < reach ? 0 : first - reach;
    for (std::size_t w = from / 64; 64 * w < end; ++w)
      for (std::uint64_t bits = headers[w]; bits != 0; bits &= bits - 1) {
        const std::size_t h = 64 * w + static_cast<std::size_t>(std::countr_zero(bits));
        if (h >= end) return false;
        if (h == judging || h < from || is_card_code_header(h)) continue;
        std::size_t value = 0, to = 0, separator = no_separator;
        if (may_hide(h, value, to, separator, first, end) && to > first &&
            !same_track(std::min(h, judging), std::max(h, judging)))
          return true;
      }
    return false;
  }
  bool is_card_code_header(std::size_t h) const {
    return record[h] == 0x9F && h + 1 < record.size() && record[h + 1] != 0x6B;
  }
  // Whether any byte of [first, end) lies in the value of a 9F1F or 9F20, which may be
  // any length: their values are marked once a record, on the first asking.
  bool in_card_code_value(std::size_t first, std::size_t end) {
    std::uint64_t* const codes = marks.code_words_.get();
    if (!codes_found) {
      codes_found = true;
      const std::uint64_t* const headers = marks.header_words_.get();
      std::size_t marked_to = 0;  // values start in header order: each byte is marked once
      for (std::size_t w = 0; 64 * w < record.size(); ++w)
        for (std::uint64_t bits = headers[w]; bits != 0; bits &= bits - 1) {
          const std::size_t h = 64 * w + static_cast<std::size_t>(std::countr_zero(bits));
          std::size_t value = 0, to = 0, separator = no_separator;
          if (!is_card_code_header(h) || !may_hide(h, value, to, separator)) continue;
          marks.codes_marked_ = true;
          for (std::size_t b = std::max(value, marked_to); b < to; ++b)
            codes[b / 64] |= std::uint64_t{1} << (b % 64);
          marked_to = std::max(marked_to, to);
        }
    }
    if (!marks.codes_marked_) return false;
    for (std::size_t b = first; b < end; ++b)
      if ((codes[b / 64] >> (b % 64) & 1U) != 0) return true;
    return false;
  }
  // Whether the 57 at `inner` is the track 2 at `outer` read from its number's first
  // byte to the same D: its Luhn check is the track's own less the two bytes of its
  // header, so each decides alike whatever the other's hidden digits are.
  bool same_track(std::size_t outer, std::size_t inner) const {
    std::size_t from = 0, to = 0, separator = no_separator;
    if (record[inner] != 0x57 || !may_hide(outer, from, to, separator) ||
        separator == no_separator || from != inner)
      return false;
    const std::size_t outer_separator = separator;
    return may_hide(inner, from, to, separator) && separator == outer_separator;
  }
  // The bytes of a value the record holds: up to its length or the record's end.
  std::size_t held_of(std::size_t value, std::size_t length) const {
    return std::min(length, record.size() - value);
  }

  // A value that reaches the header of a later match, and hid nothing read through it,
  // is judged as cut short there: 8 or more digits before that header, and only digits
  // (BCD, or ASCII from `first` with `ascii`), are hidden. Nothing past the header is read.
  void cut_short_at_next_match(std::size_t value, std::size_t held, bool ascii, std::size_t first) {
    if (marked || next_match <= first || next_match >= value + held) return;
    if (ascii) {
      for (std::size_t k = first; k < next_match; ++k)
        if (!byte_hidden(k) && !is_ascii_digit(record[k])) return;
      if (next_match - first >= min_cut_digits) hide(2 * first, 2 * (next_match - first));
      return;
    }
    const std::size_t n = next_match - value;
    const std::size_t digits = leading_digits(value, n);
    if (digits == 2 * n && digits >= min_cut_digits) hide(2 * value, digits);
  }

  void pan(std::size_t at) {
    std::size_t length = 0, value = 0;
    if (!read_length(at, length, value) || length < min_pan_octets || length > max_pan_octets)
      return;
    const std::size_t held = held_of(value, length);
    const std::size_t first = 2 * value;
    const std::size_t nibbles = 2 * held;
    const std::size_t digits = leading_digits(value, held);
    const bool half = ends_in_half(value, held);
    if (held < length || half) {
      if (digits >= whole_nibbles(nibbles, half) && digits >= min_cut_digits) hide(first, digits);
    } else if (digits >= min_number_digits && only_pad(first + digits, first + nibbles) &&
               luhn_passes(value, digits)) {
      hide(first, digits - clear_digits);
    }
    cut_short_at_next_match(value, held, false, value);
  }
  bool only_pad(std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to; ++i)
      if (nibble(i) != 0xF) return false;
    return true;
  }

  void track2(std::size_t at, bool maybe_cvm_limit) {
    std::size_t length = 0, value = 0;
    if (!read_length(at, length, value) || length < 1 || length > max_track2_octets) return;
    const std::size_t held = held_of(value, length);
    const std::size_t first = 2 * value;
    const std::size_t nibbles = 2 * held;
    if (maybe_cvm_limit && length == card_cvm_limit_octets) {
      bool separator = false;
      for (std::size_t i = 0; i < nibbles; ++i)
        separator = separator || nibble(first + i) == 0xD;
      if (!separator) return;
    }
    const std::size_t digits = leading_digits(value, held);
    const bool half = ends_in_half(value, held);
    // An odd count of digits may be padded with F before the D.
    const std::size_t pad = digits % 2 == 1 && digits + 1 < whole_nibbles(nibbles, half) &&
                                    nibble(first + digits) == 0xF &&
                                    nibble(first + digits + 1) == 0xD
                                ? 1
                                : 0;
    // The half byte's 0 is no digit of the input: a lone D after it ends a value cut short.
    if (digits < whole_nibbles(nibbles, half)) {
      if (nibble(first + digits + pad) == 0xD && digits >= min_number_digits &&
          digits <= max_number_digits && luhn_passes(value, digits)) {
        hide(first, digits - clear_digits);
        if (marks.card_codes_) {
          // The discretionary data, up to the value's end or the record's, less an F pad.
          const std::size_t data = digits + pad + 1 + expiry_and_service_code;
          std::size_t end = nibbles;
          if (end > data && held == length && nibble(first + end - 1) == 0xF) --end;
          if (end > data) hide(first + data, end - data);
        }
      }
    } else if ((held < length || half) && digits >= min_cut_digits) {
      hide(first, digits);
    }
    cut_short_at_next_match(value, held, false, value);
  }

  bool ascii_digit_at(std::size_t i) const { return byte_hidden(i) || is_ascii_digit(record[i]); }
  bool is_at(std::size_t i, char c) const {
    return !byte_hidden(i) && record[i] == static_cast<std::uint8_t>(c);
  }

  void track1(std::size_t at) {
    std::size_t length = 0, value = 0;
    if (!read_length(at, length, value) || length < 1 || length > max_track1_octets) return;
    const std::size_t held = held_of(value, length);
    const std::size_t end = value + held;
    const std::size_t first = value < end && is_at(value, 'B') ? value + 1 : value;
    std::size_t digits = 0;
    while (first + digits < end && ascii_digit_at(first + digits))
      ++digits;
    // The half byte is half a character: right after the digits, it may be one more.
    if (ends_in_half(value, held) && first + digits + 1 == end) {
      if (digits >= min_cut_digits) hide(2 * first, 2 * (digits + 1));
    } else if (first + digits < end) {
      if (is_at(first + digits, '^') && digits >= min_number_digits &&
          digits <= max_number_digits &&
          (any_hidden(2 * first, 2 * digits) ||
           luhn_valid(digits, [&](std::size_t i) { return record[first + i] - unsigned{'0'}; }) ||
           others_may_hide(first, digits))) {
        hide(2 * first, 2 * (digits - clear_digits));
        if (marks.card_codes_) {
          // The discretionary data: after the name's closing '^', the expiry and the
          // service code, to the value's end or the record's.
          std::size_t caret = first + digits + 1;
          while (caret < end && !is_at(caret, '^'))
            ++caret;
          const std::size_t data = caret + 1 + expiry_and_service_code;
          if (data < end) hide(2 * data, 2 * (end - data));
        }
      }
    } else if (held < length && digits >= min_cut_digits) {
      hide(2 * first, 2 * digits);
    }
    cut_short_at_next_match(value, held, true, first);
  }

  // Whether the `held` bytes from `value` end in the record's last byte while it holds
  // only its low half (the console's lone last hex digit): the value is cut short there,
  // whatever its length says, and its whole bytes decide.
  bool ends_in_half(std::size_t value, std::size_t held) const {
    return marks.half_last_ && held > 0 && value + held == record.size();
  }
  // The nibbles that must all be digits for a cut value to be a number: with a half byte,
  // all but the lone nibble, which shows as a digit if it is one.
  static std::size_t whole_nibbles(std::size_t nibbles, bool half) {
    return half ? nibbles - 1 : nibbles;
  }

  // 9F1F or 9F20 wherever it stands (the decoding modes), whole or cut short by the
  // record's end, and of a card code's form (printable ASCII, or digits with an F pad): the whole
  // value is hidden, as it is where the parse places it. The form keeps chance bytes from hiding
  // headers.
  void card_code_text(std::size_t at) {
    std::size_t length = 0, value = 0;
    if (!read_length(at, length, value) || length == 0) return;
    length = std::min(length, record.size() - value);  // cut short: as far as it goes
    bool text = true;
    bool digits = true;
    for (std::size_t i = value; i < value + length && (text || digits); ++i) {
      // A hidden byte passes either form: it is hidden whatever it is, and decides nothing.
      if (marks.any_ && marks.hides_offset(i)) continue;
      const std::uint8_t b = record[i];
      text = text && b >= 0x20 && b <= 0x7E;
      const unsigned high = b >> 4U;
      const unsigned low = b & 0xFU;
      digits = digits && (high <= 9 || b == 0xFF) && (low <= 9 || low == 0xF);
    }
    if (!text && !digits) return;
    hide(2 * value, 2 * length);
  }

  void ascii_run(std::size_t end, std::size_t run) {
    if (run >= min_number_digits) marks.mark(2 * (end - run), 2 * (run - clear_digits));
  }

  // A byte that may start a card number's header or a card code's.
  void visit_header(std::size_t i) {
    switch (record[i]) {
      case 0x5A:
        pan(i + 1);
        break;
      case 0x57:
        track2(i + 1, false);
        break;
      case 0x56:
        track1(i + 1);
        break;
      default:  // 9F
        if (i + 1 >= record.size()) break;
        if (record[i + 1] == 0x6B) track2(i + 2, true);
        if (marks.card_codes_ && (record[i + 1] == 0x1F || record[i + 1] == 0x20))
          card_code_text(i + 2);
    }
  }

  // The ASCII digits of 64 bytes from `base` (bit i for byte base + i), taken on from
  // the run [run_end - run, run_end) before them: every run that ends here is marked.
  void digit_runs(std::uint64_t digits, std::size_t base, std::size_t& run, std::size_t& run_end) {
    if (run > 0 && run_end == base) {
      const auto n = static_cast<unsigned>(std::countr_one(digits));
      run += n;
      run_end = base + n;
      if (n == 64) return;
      digits &= ~std::uint64_t{0} << n;
    }
    while (digits != 0) {
      const auto start = static_cast<unsigned>(std::countr_zero(digits));
      const auto n = static_cast<unsigned>(std::countr_one(digits >> start));
      ascii_run(run_end, run);
      run = n;
      run_end = base + start + n;
      if (start + n == 64) return;
      digits &= ~std::uint64_t{0} << (start + n);
    }
  }

  // One look at every byte, 64 at a time, for both kinds that may matter. The runs go
  // first, so that no header's marks cut a run short. Headers go from the last: each
  // reads through what those after it hid (as digits, their Luhn check unread), so it
  // never reads another number's hidden digits, and one hidden there still starts a match.
  void run() {
    const std::size_t size = record.size();
    std::uint64_t* const headers = marks.header_words_.get();
    std::size_t run = 0;  // ASCII digits, ending at run_end
    std::size_t run_end = 0;
    for (std::size_t base = 0; base < size; base += 64) {
      byte_kinds kinds{};
      if (base + 64 < size) {
        kinds = classify(record.data() + base, marks.card_codes_);
      } else {
        // The tail is copied out, so nothing past the record is read.
        std::array<std::uint8_t, 65> tail{};
        std::memcpy(tail.data(), record.data() + base, size - base);
        kinds = classify(tail.data(), marks.card_codes_);
      }
      headers[base / 64] = kinds.headers;
      if (kinds.digits != 0 || run > 0) digit_runs(kinds.digits, base, run, run_end);
    }
    ascii_run(run_end, run);
    next_match = size;
    for (std::size_t w = (size + 63) / 64; w-- > 0;)
      for (std::uint64_t bits = headers[w]; bits != 0;) {
        const auto top = static_cast<unsigned>(63 - std::countl_zero(bits));
        bits &= ~(std::uint64_t{1} << top);
        const std::size_t i = 64 * w + top;
        marked = false;
        judging = i;
        visit_header(i);
        if (marked) next_match = i;
      }
  }
};

hidden_nibbles::hidden_nibbles(std::size_t max_bytes, bool card_codes)
    : words_(std::make_unique<std::uint64_t[]>(words_for(max_bytes) + 1)),
      header_words_(std::make_unique<std::uint64_t[]>(max_bytes / 64 + 1)),
      code_words_(std::make_unique<std::uint64_t[]>(max_bytes / 64 + 1)),
      capacity_(max_bytes),
      card_codes_(card_codes) {}

void hidden_nibbles::scan(std::span<const std::uint8_t> record, last_byte end) {
  // Only the words the last record touched can be set.
  if (any_) std::fill_n(words_.get(), words_for(size_), std::uint64_t{0});
  any_ = false;
  if (codes_marked_) std::fill_n(code_words_.get(), size_ / 64 + 1, std::uint64_t{0});
  codes_marked_ = false;
  base_ = record.data();
  size_ = std::min(record.size(), capacity_);
  // A record cut to the capacity ends in a whole byte.
  half_last_ = end == last_byte::low_half && size_ > 0 && size_ == record.size();
  record_scan{*this, record.first(size_)}.run();
}

void hidden_nibbles::mark(std::size_t first_nibble, std::size_t count) noexcept {
  const std::size_t end = std::min(first_nibble + count, 2 * size_);
  // A word at a time: the bits of [n, end) that fall in n's word.
  for (std::size_t n = first_nibble; n < end;) {
    const std::size_t bit = n % 64;
    const std::size_t span = std::min<std::size_t>(64 - bit, end - n);
    const std::uint64_t ones = span == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << span) - 1;
    words_[n / 64] |= ones << bit;
    n += span;
  }
  any_ = any_ || count > 0;
}

// Calls visit(n) for every hidden nibble n in [from, to), a word at a time: most values
// of a record with a card number lie far from it, and cost a word or two.
template <typename Visit>
bool for_each_hidden(const std::uint64_t* words, std::size_t from, std::size_t to, Visit visit) {
  bool found = false;
  for (std::size_t w = from / 64; w * 64 < to; ++w) {
    std::uint64_t bits = words[w];
    if (bits == 0) continue;
    const std::size_t base = w * 64;
    if (from > base) bits &= ~std::uint64_t{0} << (from - base);
    if (to < base + 64) bits &= (std::uint64_t{1} << (to - base)) - 1;
    for (; bits != 0; bits &= bits - 1) {
      found = true;
      if (!visit(base + static_cast<std::size_t>(std::countr_zero(bits)))) return true;
    }
  }
  return found;
}

bool hidden_nibbles::hides_any(const std::uint8_t* first, std::size_t n) const noexcept {
  std::size_t offset = 0;
  if (!any_ || n == 0 || !offset_of(first, offset)) return false;
  return for_each_hidden(words_.get(), 2 * offset, 2 * std::min(offset + n, size_),
                         [](std::size_t) { return false; });
}

void hidden_nibbles::apply(const std::uint8_t* first, std::span<char> hex) const noexcept {
  std::size_t offset = 0;
  if (!any_ || hex.empty() || !offset_of(first, offset)) return;
  const std::size_t from = 2 * offset;
  const std::size_t count = std::min(hex.size(), 2 * (size_ - offset));
  for_each_hidden(words_.get(), from, from + count, [&](std::size_t n) {
    hex[n - from] = 'X';
    return true;
  });
}

const hidden_nibbles& nothing_hidden() {
  static const hidden_nibbles none(0);
  return none;
}

}  // namespace emvtlv
