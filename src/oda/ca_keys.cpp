#include "oda/ca_keys.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace emvtlv::oda {
namespace {

struct builtin_ca_key {
  std::array<std::uint8_t, 5> rid;
  std::uint8_t index;
  std::uint32_t offset;  // of the modulus in builtin_key_bytes, the exponent after it
  std::uint16_t modulus_size;
  std::uint8_t exponent_size;
  sha1_digest check;
  const char* scheme;
  const char* kind;
};

#include "ca_key_table.inc"

}  // namespace

std::size_t builtin_ca_key_count() {
  return std::size(builtin_keys);
}

void ca_key_table::load_text(std::string_view text, std::string_view name, std::string& messages) {
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line_number;
    if (is_ca_key_skipped_line(line)) continue;
    const auto complain = [&](std::string_view why) {
      messages += "emvtlv: ";
      messages += name;
      messages += ':';
      messages += std::to_string(line_number);
      messages += ": ";
      messages += why;
      messages += "; key not used\n";
    };
    if (loaded_.size() == max_loaded_keys) {
      complain("more keys than the program takes");
      continue;
    }
    texts_.push_back(std::make_unique<std::string>(line));
    auto row = std::make_unique<ca_key_row>();
    const std::string_view fault = parse_ca_key_row(*texts_.back(), *row);
    if (!fault.empty()) {
      complain(fault);
      continue;
    }
    loaded_.push_back(std::move(row));
  }
}

bool ca_key_table::load_file(const char* path, std::string& messages) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  if (in) contents << in.rdbuf();
  if (!in || in.bad()) {
    messages += "emvtlv: ";
    messages += path;
    messages += ": cannot read the CA key file\n";
    return false;
  }
  load_text(contents.str(), path, messages);
  return true;
}

ca_candidates ca_key_table::find(std::span<const std::uint8_t> rid, std::uint8_t index) const {
  ca_candidates found;
  if (rid.size() != 5) return found;
  const auto same = [&](const std::array<std::uint8_t, 5>& key_rid, std::uint8_t key_index) {
    return key_index == index && std::equal(key_rid.begin(), key_rid.end(), rid.begin());
  };
  for (const auto& row : loaded_) {
    if (!same(row->rid, row->index) || found.count == max_candidates) continue;
    found.keys[found.count++] = ca_key{
        row->rid,  row->index, row->modulus_bytes(), row->exponent_bytes(), row->check, row->scheme,
        row->kind, true};
  }
  if (found.count > 0) return found;
  for (const auto& key : builtin_keys) {
    if (!same(key.rid, key.index) || found.count == max_candidates) continue;
    const std::span<const std::uint8_t> bytes(builtin_key_bytes);
    found.keys[found.count++] =
        ca_key{key.rid,
               key.index,
               bytes.subspan(key.offset, key.modulus_size),
               bytes.subspan(key.offset + key.modulus_size, key.exponent_size),
               key.check,
               key.scheme,
               key.kind,
               false};
  }
  return found;
}

}  // namespace emvtlv::oda
