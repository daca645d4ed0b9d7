#include "card/mask.h"

#include <algorithm>
#include <array>
#include <cstddef>

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

constexpr std::uint64_t card_cvm_limit_tag = 0x9F6B;
constexpr std::uint64_t card_cvm_limit_octets = 6;

bool is_letter(char c, char upper) {
  return c == upper || c == static_cast<char>(upper | 0x20);
}

// X over the first `digits` characters but the last four of them.
void hide_all_but_last_four(std::span<char> hex, std::size_t digits) {
  if (digits > clear_digits) std::fill_n(hex.begin(), digits - clear_digits, 'X');
}

void mask_pan(std::span<char> hex) {
  std::size_t digits = hex.size();
  while (digits > 0 && is_letter(hex[digits - 1], 'F'))
    --digits;
  hide_all_but_last_four(hex, digits);
}

void mask_track2(std::span<char> hex) {
  const auto separator =
      std::find_if(hex.begin(), hex.end(), [](char c) { return is_letter(c, 'D'); });
  hide_all_but_last_four(hex, static_cast<std::size_t>(separator - hex.begin()));
}

// Track 1 is ASCII: a character is one pair. A lone last character counts as a pair.
void mask_track1(std::span<char> hex) {
  const std::size_t pairs = (hex.size() + 1) / 2;
  auto pair_is = [&](std::size_t p, char high, char low) {
    return 2 * p + 1 < hex.size() && hex[2 * p] == high && is_letter(hex[2 * p + 1], low);
  };
  // Without the format code the number may start at once: hide from there.
  const std::size_t first = pair_is(0, '4', '2') ? 1 : 0;  // 'B'
  std::size_t end = first;
  while (end < pairs && !pair_is(end, '5', 'E'))  // '^'
    ++end;
  if (end - first <= clear_digits) return;
  const std::size_t hidden_end = std::min(2 * (end - clear_digits), hex.size());
  std::fill(hex.begin() + static_cast<std::ptrdiff_t>(2 * first),
            hex.begin() + static_cast<std::ptrdiff_t>(hidden_end), 'X');
}

// Reads a template's value one octet at a time, never at or past `end`, which never
// passes the value's size.
struct cursor {
  std::span<const std::uint8_t> value;
  std::size_t at;
  std::size_t end;

  bool next(std::uint8_t& octet) {
    if (at >= end) return false;
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
  const auto row = std::find_if(card_tags.begin(), card_tags.end(),
                                [&](const card_tag& c) { return c.tag == tag; });
  if (row == card_tags.end()) return card_mask::none;
  if (tag == card_cvm_limit_tag && declared_length == card_cvm_limit_octets &&
      std::none_of(hex.begin(), hex.end(), [](char c) { return is_letter(c, 'D'); }))
    return card_mask::none;
  return row->rule;
}

void apply_card_mask(card_mask rule, std::span<char> hex) {
  switch (rule) {
    case card_mask::none:
      return;
    case card_mask::pan:
      return mask_pan(hex);
    case card_mask::track2:
      return mask_track2(hex);
    case card_mask::track1:
      return mask_track1(hex);
  }
}

bool is_template_tag(std::uint64_t tag) {
  while (tag > 0xFF)
    tag >>= 8;
  return (tag & 0x20) != 0;
}

void mask_template_value(std::span<const std::uint8_t> value, std::span<char> hex,
                         template_framing framing) {
  // The ends of the templates around the current one; the current one's is in.end.
  std::array<std::size_t, max_open_templates> outer_ends;
  std::size_t open = 0;
  cursor in{value, 0, value.size()};
  for (;;) {
    if (in.at >= in.end) {
      if (open == 0) return;
      in.end = outer_ends[--open];
      continue;
    }
    if (value[in.at] == 0x00) {
      ++in.at;
      continue;
    }
    // The hex of value octets [from, to), as far as the hex goes, masked under the
    // rule of a tag with this declared length.
    const auto mask_octets = [&](std::uint64_t tag, std::uint64_t declared, std::size_t from,
                                 std::size_t to) {
      const std::size_t first_char = std::min(2 * from, hex.size());
      const std::span<char> shown =
          hex.subspan(first_char, std::min(2 * to, hex.size()) - first_char);
      apply_card_mask(card_mask_for(tag, declared, {shown.data(), shown.size()}), shown);
    };
    element_header header;
    const header_read got = read_header(in, header, framing);
    if (got == header_read::length_unreadable && framing == template_framing::tree) {
      // The tree keeps every byte left in the template as this element's value, and
      // shows it masked as elements: under its own tag's rule, then walked on here.
      mask_octets(header.tag, 0, in.at, in.end);
      continue;
    }
    if (got != header_read::whole) {
      if (open == 0) return;
      in.at = in.end;
      continue;
    }
    const std::size_t value_end =
        in.at + static_cast<std::size_t>(std::min<std::uint64_t>(header.length, in.end - in.at));
    if (header.is_template) {
      if (open < max_open_templates) {
        outer_ends[open++] = in.end;
        in.end = value_end;
      }
      continue;
    }
    mask_octets(header.tag, header.length, in.at, value_end);
    in.at = value_end;
  }
}

}  // namespace emvtlv
