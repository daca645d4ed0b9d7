#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "card/mask.h"
#include "common/output_sink.h"
#include "tlv/dictionary.h"
#include "tlv/walk.h"

namespace emvtlv::fuzz {
namespace {

constexpr std::string_view pan_label = "Application Primary Account Number (PAN): ";
constexpr std::string_view messages[] = {
    "length bytes not allowed to be greater than 3", "only numeric values allowed",
    "PAN length must be at least 4 bytes", "PAN length can only be up to 10 bytes"};

bool is_message(std::string_view text) {
  return std::find(std::begin(messages), std::end(messages), text) != std::end(messages);
}

bool is_upper_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool is_hex_pairs(std::string_view text) {
  return text.size() % 2 == 0 && std::all_of(text.begin(), text.end(), is_upper_hex);
}

std::uint8_t pair_value(std::string_view pair) {
  auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  return static_cast<std::uint8_t>(nibble(pair[0]) * 16 + nibble(pair[1]));
}

std::uint8_t record_at(const decoded_line& decoded, std::uint64_t p) {
  return p < static_cast<std::uint64_t>(decoded.count) ? decoded.record[p] : 0;
}

// Finds a 5A element at or after `from` whose declared length is `length` and whose
// value octets length - 2 and length - 1 are `clear`; returns its position or -1.
std::int64_t find_pan_element(const decoded_line& decoded, std::int64_t from, std::uint64_t length,
                              std::uint8_t first, std::uint8_t second) {
  for (std::int64_t p = from; p < decoded.count; ++p) {
    const auto at = static_cast<std::uint64_t>(p);
    if (decoded.record[at] != 0x5A) continue;
    const std::uint8_t b = record_at(decoded, at + 1);
    std::uint64_t declared = b;
    std::uint64_t header = 2;
    if (b == 0x81) {
      declared = record_at(decoded, at + 2);
      header = 3;
    } else if (b == 0x82) {
      declared = std::uint64_t{record_at(decoded, at + 2)} << 8 | record_at(decoded, at + 3);
      header = 4;
    }
    if (declared != length) continue;
    if (record_at(decoded, at + header + length - 2) == first &&
        record_at(decoded, at + header + length - 1) == second)
      return p;
  }
  return -1;
}

// An element of the record's top level, framed as the console's walk frames it:
// octets past the record read 00, a length field of more than 3 octets is refused.
struct top_element {
  std::uint64_t at = 0;  // the first tag octet
  std::uint64_t tag = 0;
  std::uint8_t first_octet = 0;
  bool listed = false;
  bool refused = false;
  std::uint64_t declared = 0;
  std::uint64_t value_at = 0;
  std::uint64_t shown = 0;  // value octets printed: the declared ones the record holds
};

std::vector<top_element> top_level(const decoded_line& decoded) {
  const auto count = static_cast<std::uint64_t>(decoded.count);
  std::vector<top_element> elements;
  std::uint64_t p = 0;
  while (p < count) {
    top_element e;
    e.at = p;
    std::uint64_t q = p;
    e.first_octet = record_at(decoded, q++);
    e.tag = e.first_octet;
    if ((e.first_octet & 0x1F) == 0x1F) {
      std::uint8_t octet = 0;
      do {
        octet = record_at(decoded, q++);
        e.tag = e.tag << 8 | octet;
      } while ((octet & 0x80) != 0);
    }
    for (const std::int32_t tag : tags) {
      if (static_cast<std::uint64_t>(tag) == e.tag) e.listed = true;
    }
    if (!e.listed) {
      elements.push_back(e);
      break;
    }
    const std::uint8_t first = record_at(decoded, q);
    if (first < 0x80) {
      e.declared = first;
      q += 1;
    } else if ((first & 0x7F) > 2) {
      e.refused = true;
    } else {
      const unsigned following = first & 0x7Fu;
      for (unsigned i = 1; i <= following; ++i)
        e.declared = e.declared << 8 | record_at(decoded, q + i);
      q += 1 + following;
    }
    e.value_at = q;
    e.shown = q < count ? std::min(e.declared, count - q) : 0;
    elements.push_back(e);
    p = q + e.declared;
  }
  return elements;
}

std::string hex_of(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 0xF];
  }
  return text;
}

// Marks the characters of one card value's hex (`from` to `to` in `clear`) that the
// masking rules hide: the digits of the card number but its last four.
void mark_card_digits(std::uint64_t tag, std::uint64_t declared, std::string_view clear,
                      std::size_t from, std::size_t to, std::vector<bool>& hidden) {
  const std::string_view value = clear.substr(from, to - from);
  std::size_t hide_from = 0;
  std::size_t hide_to = 0;
  if (tag == 0x5A) {
    std::size_t digits = value.size();
    while (digits > 0 && value[digits - 1] == 'F')
      --digits;
    hide_to = digits;
  } else if (tag == 0x57 || tag == 0x9F6B) {
    const std::size_t d = std::min(value.find('D'), value.size());
    if (tag == 0x9F6B && declared == 6 && d == value.size()) return;  // Card CVM Limit
    hide_to = d;
  } else if (tag == 0x56) {
    // ASCII, a character a pair: 'B' is 42, '^' is 5E.
    const std::size_t first = value.starts_with("42") ? 1 : 0;
    std::size_t end = first;
    while (2 * end < value.size() && value.substr(2 * end, 2) != "5E")
      ++end;
    hide_from = 2 * first;
    hide_to = 2 * end;
  } else {
    return;
  }
  const std::size_t kept = tag == 0x56 ? 8 : 4;  // four digits, as characters or pairs
  for (std::size_t i = hide_from; i + kept < hide_to; ++i)
    hidden[from + i] = true;
}

// Walks a template's value, one template a call, marking the card values it holds.
// An element is read inside its template and cut at the template's end; one that
// cannot be read there ends the template. Returns when the template is done.
void mark_template(std::span<const std::uint8_t> value, std::size_t begin, std::size_t end,
                   std::string_view clear, std::vector<bool>& hidden) {
  std::size_t p = begin;
  while (p < end) {
    if (value[p] == 0x00) {
      ++p;
      continue;
    }
    std::size_t q = p;
    const std::uint8_t first = value[q++];
    std::uint64_t tag = first;
    if ((first & 0x1F) == 0x1F) {
      for (;;) {
        if (q >= end) return;
        const std::uint8_t octet = value[q++];
        tag = tag << 8 | octet;
        if ((octet & 0x80) == 0) break;
      }
    }
    if (q >= end) return;
    const std::uint8_t length_octet = value[q++];
    std::uint64_t length = length_octet;
    if (length_octet >= 0x80) {
      const std::size_t following = length_octet & 0x7Fu;
      if (following < 1 || following > 3 || end - q < following) return;
      length = 0;
      for (std::size_t i = 0; i < following; ++i)
        length = length << 8 | value[q++];
    }
    const std::size_t value_end =
        q + static_cast<std::size_t>(std::min<std::uint64_t>(length, end - q));
    if ((first & 0x20) != 0) {
      mark_template(value, q, value_end, clear, hidden);
    } else {
      mark_card_digits(tag, length, clear, 2 * q, 2 * value_end, hidden);
    }
    p = value_end;
  }
}

// The printed value of an element other than 5A and 42: its hex, with X exactly where
// the rules hide a card number's digits.
void check_value_text(const decoded_line& decoded, const top_element& e, std::string_view text) {
  const std::span<const std::uint8_t> value(decoded.record.data() + e.value_at, e.shown);
  std::string expected = hex_of(value);
  std::vector<bool> hidden(expected.size());
  if (e.tag == 0x57) {
    mark_card_digits(e.tag, e.declared, expected, 0, expected.size(), hidden);
  } else if ((e.first_octet & 0x20) != 0) {
    mark_template(value, 0, value.size(), expected, hidden);
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (!hidden[i]) continue;
    require(i < text.size() && text[i] == 'X',
            "no card number shows in clear but for its last four digits");
    expected[i] = 'X';
  }
  // The record scan hides more than these rules (numbers wherever they stand, every
  // digit of one cut short): elsewhere a character is its hex digit or X.
  require(text.size() == expected.size(),
          "a value prints as its hex, X only where card digits are hidden");
  for (std::size_t i = 0; i < text.size(); ++i)
    require(text[i] == expected[i] || text[i] == 'X',
            "a value prints as its hex, X only where card digits are hidden");
}

}  // namespace

void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

std::vector<std::string_view> cut_lines(std::string_view stream) {
  std::vector<std::string_view> lines;
  while (!stream.empty()) {
    std::string_view line = stream.substr(0, max_line_chars);
    const std::size_t newline = line.find('\n');
    if (newline != std::string_view::npos) line = line.substr(0, newline + 1);
    lines.push_back(line);
    stream.remove_prefix(line.size());
  }
  return lines;
}

// Whether the record scan hides a byte of the element's header (its tag and up to three
// length octets), which the walk then takes for an unknown tag.
bool header_hidden(const decoded_line& decoded, const top_element& e) {
  static hidden_nibbles hidden(record_buffer_size);
  const auto count = static_cast<std::size_t>(decoded.count);
  hidden.scan(std::span<const std::uint8_t>(decoded.record.data(), count), decoded.end);
  const std::size_t last = std::min<std::size_t>(count, static_cast<std::size_t>(e.at) + 12);
  for (std::size_t i = static_cast<std::size_t>(e.at); i < last; ++i)
    if (hidden.hides_byte(&decoded.record[i])) return true;
  return false;
}

bool any_hidden(const decoded_line& decoded) {
  static hidden_nibbles hidden(record_buffer_size);
  hidden.scan(
      std::span<const std::uint8_t>(decoded.record.data(), static_cast<std::size_t>(decoded.count)),
      decoded.end);
  return hidden.any();
}

decoded_line decode_and_walk(std::string_view line) {
  static std::array<char, line_buffer_size> line_buffer{};
  static std::array<std::uint8_t, record_buffer_size> record{};
  static output_sink out;
  out.clear();
  decoded_line decoded;
  const decoded_record got = decode_line(line.substr(0, max_line_chars), line_buffer, record);
  decoded.count = got.count;
  decoded.end = got.end;
  std::copy(record.begin(), record.begin() + decoded.count, decoded.record.begin());
  static hidden_nibbles hidden(record_buffer_size);
  process_emv(record, decoded.count, out, hidden, decoded.end);
  decoded.output = out.view();
  return decoded;
}

void check_record_output(const decoded_line& decoded) {
  const std::string_view output = decoded.output;
  require(output.empty() || output.back() == '\n', "a record's output ends with a newline");
  // Where the record scan hides bytes, the walk reads them as it must (a hidden header is
  // an unknown tag) and the leak fuzzer checks what shows; this walk of our own does not
  // follow it there.
  if (any_hidden(decoded)) return;
  const std::vector<top_element> elements = top_level(decoded);
  std::size_t next_element = 0;
  bool after_refused = false;
  std::int64_t next_pan_from = 0;
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = output.find('\n', start);
    const std::string_view line = output.substr(start, end - start);
    start = end + 1;
    if (line == "unknown tag") {
      require(start == output.size(), "unknown tag ends the record");
      require(next_element < elements.size() && (!elements[next_element].listed ||
                                                 header_hidden(decoded, elements[next_element])),
              "unknown tag where the walk meets an unlisted tag or hidden card digits");
      ++next_element;
      continue;
    }
    if (after_refused) {
      // The printer's own line after a refused length field, run with length 0.
      require(line.empty() || is_message(line) || is_hex_pairs(line),
              "line after a refused length field");
      after_refused = false;
      continue;
    }
    require(next_element < elements.size() && elements[next_element].listed,
            "a label line for each listed element the walk meets");
    const top_element& element = elements[next_element++];
    const auto row = std::find_if(tags.begin(), tags.end(), [&](std::int32_t tag) {
      return static_cast<std::uint64_t>(tag) == element.tag;
    });
    const std::string_view name = names[static_cast<std::size_t>(row - tags.begin())];
    require(line.starts_with(name) && line.substr(name.size()).starts_with(": "),
            "every element line starts with its element's label");
    const std::string_view rest = line.substr(name.size() + 2);
    if (rest == messages[0]) {
      require(element.refused, "only a length field of more than 3 octets is refused");
      after_refused = true;
      continue;
    }
    if (element.tag != 0x5A && element.tag != 0x42) {
      check_value_text(decoded, element, rest);
      continue;
    }
    const std::size_t masked = rest.find_first_not_of('X');
    if (line.starts_with(pan_label) && masked != 0 && masked != std::string_view::npos) {
      require(masked % 2 == 0 && masked >= 4 && masked <= 20, "PAN masks 2 to 10 whole octets");
      const std::string_view clear = rest.substr(masked);
      require(clear.size() <= 4 &&
                  std::all_of(clear.begin(), clear.end(),
                              [](char c) { return (c >= '0' && c <= '9') || c == 'X'; }),
              "a PAN shows at most four decimal digits in clear");
      // A number cut short shows none of its own digits: only the 00 of octets not there.
      // Where the record scan hid some of the last four too, they cannot be matched.
      if (clear.size() < 4 || clear.find('X') != std::string_view::npos) continue;
      const std::int64_t at =
          find_pan_element(decoded, next_pan_from, masked / 2 + 2, pair_value(clear.substr(0, 2)),
                           pair_value(clear.substr(2, 2)));
      require(at >= 0, "the clear PAN digits are the last two octets of a 5A element here");
      next_pan_from = at + 1;
      continue;
    }
    const auto masked_hex = [](std::string_view t) {
      return t.size() % 2 == 0 &&
             std::all_of(t.begin(), t.end(), [](char c) { return is_upper_hex(c) || c == 'X'; });
    };
    require(rest.empty() || masked_hex(rest) || is_message(rest),
            "an element's value is hex pairs or a message");
  }
  require(next_element == elements.size(), "every element the walk meets prints");
}

}  // namespace emvtlv::fuzz
