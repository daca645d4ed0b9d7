// Prints the built-in CA public key table as C++ (read by src/oda/ca_keys.cpp) from the
// project's key file, after checking every row's check value: one bad row and it prints
// the row and its fault on standard error and exits 1, and the configuration stops.
// usage: ca_key_table FILE
#include <cstdio>
#include <fstream>
#include <string>

#include "oda/ca_key_file.h"

namespace {

// A C++ string literal; anything but printable ASCII becomes an escape.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c >= ' ' && c <= '~') {
      out += c;
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\%03o", static_cast<unsigned char>(c));
      out += buffer;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
    return 1;
  }
  std::string bytes, rows;
  std::size_t line_number = 0, keys = 0, byte_count = 0;
  std::string line;
  while (std::getline(in, line)) {
    ++line_number;
    if (emvtlv::oda::is_ca_key_skipped_line(line)) continue;
    emvtlv::oda::ca_key_row row;
    const std::string_view fault = emvtlv::oda::parse_ca_key_row(line, row);
    if (!fault.empty()) {
      std::fprintf(stderr, "%s:%zu: %.*s\n", argv[1], line_number, static_cast<int>(fault.size()),
                   fault.data());
      return 1;
    }
    const std::size_t offset = byte_count;
    byte_count += row.modulus_size + row.exponent_size;
    char buffer[16];
    for (const auto b : row.modulus_bytes()) {
      std::snprintf(buffer, sizeof buffer, "0x%02X,", b);
      bytes += buffer;
    }
    for (const auto b : row.exponent_bytes()) {
      std::snprintf(buffer, sizeof buffer, "0x%02X,", b);
      bytes += buffer;
    }
    bytes += '\n';
    rows += "    {{";
    for (std::size_t i = 0; i < 5; ++i) {
      std::snprintf(buffer, sizeof buffer, "%s0x%02X", i ? "," : "", row.rid[i]);
      rows += buffer;
    }
    std::snprintf(buffer, sizeof buffer, "}, 0x%02X, ", row.index);
    rows += buffer;
    rows += std::to_string(offset) + ", " + std::to_string(row.modulus_size) + ", " +
            std::to_string(row.exponent_size) + ", {";
    for (std::size_t i = 0; i < row.check.size(); ++i) {
      std::snprintf(buffer, sizeof buffer, "%s0x%02X", i ? "," : "", row.check[i]);
      rows += buffer;
    }
    rows += "}, " + quoted(row.scheme) + ", " + quoted(row.kind) + "},\n";
    ++keys;
  }
  std::printf(
      "// Generated from the project's CA key file; %zu keys, every check value verified.\n", keys);
  std::printf("constexpr std::uint8_t builtin_key_bytes[] = {\n%s};\n", bytes.c_str());
  std::printf("constexpr builtin_ca_key builtin_keys[] = {\n%s};\n", rows.c_str());
  return 0;
}
