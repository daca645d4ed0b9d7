#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

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

decoded_line decode_and_walk(std::string_view line) {
  static std::array<char, line_buffer_size> line_buffer{};
  static std::array<std::uint8_t, record_buffer_size> record{};
  static output_sink out;
  out.clear();
  decoded_line decoded;
  decoded.count = decode_line(line.substr(0, max_line_chars), line_buffer, record);
  std::copy(record.begin(), record.begin() + decoded.count, decoded.record.begin());
  process_emv(record, decoded.count, out);
  decoded.output = out.view();
  return decoded;
}

void check_record_output(const decoded_line& decoded) {
  const std::string_view output = decoded.output;
  require(output.empty() || output.back() == '\n', "a record's output ends with a newline");
  bool after_refused = false;
  std::int64_t next_pan_from = 0;
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = output.find('\n', start);
    const std::string_view line = output.substr(start, end - start);
    start = end + 1;
    if (line == "unknown tag") {
      require(start == output.size(), "unknown tag ends the record");
      continue;
    }
    if (after_refused) {
      // The printer's own line after a refused length field, run with length 0.
      require(line.empty() || is_message(line) || is_hex_pairs(line),
              "line after a refused length field");
      after_refused = false;
      continue;
    }
    const auto label = std::find_if(names.begin(), names.end(), [&](std::string_view name) {
      return line.starts_with(name) && line.substr(name.size()).starts_with(": ");
    });
    require(label != names.end(), "every element line starts with a listed label");
    const std::string_view rest = line.substr(label->size() + 2);
    if (rest == messages[0]) {
      after_refused = true;
      continue;
    }
    const std::size_t masked = rest.find_first_not_of('X');
    if (line.starts_with(pan_label) && masked != 0 && masked != std::string_view::npos) {
      require(masked % 2 == 0 && masked >= 4 && masked <= 16, "PAN masks 2 to 8 whole octets");
      const std::string_view clear = rest.substr(masked);
      require(clear.size() == 4 && std::all_of(clear.begin(), clear.end(),
                                               [](char c) { return c >= '0' && c <= '9'; }),
              "a PAN shows exactly four decimal digits in clear");
      const std::int64_t at =
          find_pan_element(decoded, next_pan_from, masked / 2 + 2, pair_value(clear.substr(0, 2)),
                           pair_value(clear.substr(2, 2)));
      require(at >= 0, "the clear PAN digits are the last two octets of a 5A element here");
      next_pan_from = at + 1;
      continue;
    }
    require(rest.empty() || is_hex_pairs(rest) || is_message(rest),
            "an element's value is hex pairs or a message");
  }
}

}  // namespace emvtlv::fuzz
