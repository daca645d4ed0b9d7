#include "cli/value_record.h"

#include <cstddef>
#include <cstdint>

namespace emvtlv::cli {
namespace {

constexpr std::size_t max_record_bytes = 65536;
constexpr std::string_view upper_digits = "0123456789ABCDEF";

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The hex digits of `text` in upper case, separators dropped; false when a character
// is neither, or the digits do not make whole octets.
bool read_octets(std::string_view text, std::string_view separators, std::string& digits) {
  for (const char c : text) {
    if (separators.find(c) != std::string_view::npos) continue;
    const int digit = digit_value(c);
    if (digit < 0) return false;
    digits.push_back(upper_digits[static_cast<std::size_t>(digit)]);
  }
  return digits.size() % 2 == 0;
}

std::uint8_t octet_at(std::string_view digits, std::size_t index) {
  return static_cast<std::uint8_t>(digit_value(digits[2 * index]) << 4 |
                                   digit_value(digits[2 * index + 1]));
}

// Whether the octets are one whole tag as a parser reads it: a first octet whose low
// five bits are all set is followed by octets that go on while their top bit is set.
bool is_one_tag(std::string_view digits) {
  const std::size_t octets = digits.size() / 2;
  if (octets == 0 || octets > 8) return false;
  const std::uint8_t first = octet_at(digits, 0);
  if (first == 0x00) return false;
  std::size_t end = 1;
  if ((first & 0x1F) == 0x1F) {
    while (end < octets && (octet_at(digits, end) & 0x80) != 0)
      ++end;
    ++end;  // the octet without the top bit ends the tag
  }
  return end == octets;
}

void put_octet(std::string& out, std::size_t value) {
  out.push_back(upper_digits[value >> 4 & 0xF]);
  out.push_back(upper_digits[value & 0xF]);
}

}  // namespace

bool make_value_record(std::string_view argument, std::string& record, std::string& complaint) {
  const std::size_t colon = argument.find(':');
  if (colon == std::string_view::npos) {
    complaint = "a value is TAG:HEX, such as 95:0000008000";
    return false;
  }
  std::string tag;
  if (!read_octets(argument.substr(0, colon), "", tag) || !is_one_tag(tag)) {
    complaint = "'" + std::string(argument.substr(0, colon)) +
                "' is not one tag: 1 to 8 octets of hex, as a card writes them";
    return false;
  }
  std::string value;
  if (!read_octets(argument.substr(colon + 1), " :", value)) {
    complaint = "the value of '" + std::string(argument) + "' is not whole octets of hex";
    return false;
  }
  const std::size_t size = value.size() / 2;
  std::string length;
  if (size < 0x80) {
    put_octet(length, size);
  } else {
    const std::size_t octets = size <= 0xFF ? 1 : size <= 0xFFFF ? 2 : 3;
    put_octet(length, 0x80 + octets);
    for (std::size_t i = octets; i-- > 0;)
      put_octet(length, size >> (8 * i) & 0xFF);
  }
  if ((tag.size() + length.size() + value.size()) / 2 > max_record_bytes) {
    complaint = "the value of '" + std::string(argument.substr(0, colon)) +
                "' is longer than one record holds";
    return false;
  }
  record = tag + length + value;
  return true;
}

}  // namespace emvtlv::cli
