#include "oda/ca_key_file.h"

namespace emvtlv::oda {
namespace {

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Hex text into `out`; the byte count, or -1 when the text is not whole bytes of hex
// or does not fit.
int read_hex(std::string_view text, std::span<std::uint8_t> out) {
  if (text.size() % 2 != 0 || text.size() / 2 > out.size()) return -1;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = nibble(text[i]);
    const int low = nibble(text[i + 1]);
    if (high < 0 || low < 0) return -1;
    out[i / 2] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return static_cast<int>(text.size() / 2);
}

std::string_view next_column(std::string_view& rest) {
  const std::size_t tab = rest.find('\t');
  const std::string_view column = rest.substr(0, tab);
  rest = tab == std::string_view::npos ? std::string_view{} : rest.substr(tab + 1);
  return column;
}

}  // namespace

bool is_ca_key_skipped_line(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line.empty() || line.front() == '#' || line.starts_with("rid\t") || line == "rid";
}

std::string_view parse_ca_key_row(std::string_view line, ca_key_row& row) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view rest = line;
  const std::string_view rid = next_column(rest);
  const std::string_view index = next_column(rest);
  const std::string_view exponent = next_column(rest);
  const std::string_view modulus = next_column(rest);
  const std::string_view check = next_column(rest);
  row.scheme = next_column(rest);
  row.kind = next_column(rest);
  if (read_hex(rid, row.rid) != 5) return "the RID is not 5 bytes of hex";
  if (read_hex(index, {&row.index, 1}) != 1) return "the index is not 1 byte of hex";
  const int exponent_size = read_hex(exponent, row.exponent);
  if (exponent_size != 1 && exponent_size != 3) return "the exponent is not 1 or 3 bytes of hex";
  row.exponent_size = static_cast<std::uint8_t>(exponent_size);
  const int modulus_size = read_hex(modulus, row.modulus);
  if (modulus_size <= 0) return "the modulus is not 1 to 256 bytes of hex";
  row.modulus_size = static_cast<std::uint16_t>(modulus_size);
  sha1_digest given{};
  if (read_hex(check, given) != 20) return "the check value is not 20 bytes of hex";
  row.check = sha1({row.rid, {&row.index, 1}, row.modulus_bytes(), row.exponent_bytes()});
  if (row.check != given) return "the check value does not match the key";
  return {};
}

}  // namespace emvtlv::oda
