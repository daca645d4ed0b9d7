// One row of a CA public key table: the built-in table is made from such a file when
// the program is configured, and --ca-keys reads more of them at start-up.
//
// Contract and limits:
// - Tab-separated columns, one header line starting "rid": rid (5 bytes), index (1),
//   exponent (1 or 3 bytes), modulus (1 to 256 bytes), sha1 (the check value, 20 bytes),
//   scheme, kind, comment; hex in either case. Columns after the fifth may be absent.
// - A row is refused, with the reason, when a field is malformed or when the check
//   value SHA-1(rid ‖ index ‖ modulus ‖ exponent) differs from the one given.
// - Fixed size; the scheme and kind views point into the line.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "oda/crypto.h"

namespace emvtlv::oda {

inline constexpr std::size_t max_ca_modulus =
    256;  // one published key is 2048 bits, above EMV's 1984

struct ca_key_row {
  std::array<std::uint8_t, 5> rid{};
  std::uint8_t index = 0;
  std::array<std::uint8_t, 3> exponent{};
  std::uint8_t exponent_size = 0;
  std::array<std::uint8_t, max_ca_modulus> modulus{};
  std::uint16_t modulus_size = 0;
  sha1_digest check{};
  std::string_view scheme;
  std::string_view kind;

  std::span<const std::uint8_t> modulus_bytes() const { return {modulus.data(), modulus_size}; }
  std::span<const std::uint8_t> exponent_bytes() const { return {exponent.data(), exponent_size}; }
};

// Whether the line is the header line (or empty, or a # comment): nothing to read.
bool is_ca_key_skipped_line(std::string_view line);

// Reads one row; an empty view when it is good, else why it was refused.
std::string_view parse_ca_key_row(std::string_view line, ca_key_row& row);

}  // namespace emvtlv::oda
