// Test helpers: records written as hex text, as the tables read best.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tlv/walk.h"

namespace emvtlv::test {

inline std::vector<std::uint8_t> from_hex(std::string_view hex) {
  auto nibble = [](char c) {
    return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  };
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  return bytes;
}

// Walks `hex` as a record held in the console's zero-filled 257-byte buffer.
inline std::string walk(std::string_view hex) {
  const auto bytes = from_hex(hex);
  std::array<std::uint8_t, 257> record{};
  std::copy(bytes.begin(), bytes.end(), record.begin());
  output_sink out;
  process_emv(record, static_cast<std::int32_t>(bytes.size()), out);
  return std::string(out.view());
}

// One row of a walk table: a record as hex, and every byte the walk prints for it.
struct record_case {
  std::string record;
  std::string output;
};

inline void PrintTo(const record_case& c, std::ostream* os) {
  *os << c.record;
}

}  // namespace emvtlv::test
