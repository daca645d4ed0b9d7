#include "trace/dol.h"

#include <algorithm>
#include <cstring>

#include "common/ber.h"

namespace emvtlv::trace {
namespace {

struct list_entry {
  std::size_t tag_at = 0;
  std::size_t tag_size = 0;
  std::size_t length = 0;
};

// The entry at `at`, or false when the list ends inside it or the tag is too long.
bool read_entry(std::span<const std::uint8_t> list, std::size_t at, list_entry& entry) {
  std::uint32_t tag = 0;
  entry.tag_at = at;
  entry.tag_size = read_ber_tag(list.subspan(at), tag);
  if (entry.tag_size == 0 || at + entry.tag_size >= list.size()) return false;
  entry.length = list[at + entry.tag_size];
  return true;
}

std::size_t put_entry(std::span<std::uint8_t> out, std::size_t at, const std::uint8_t* tag,
                      std::size_t tag_size, std::size_t length,
                      std::span<const std::uint8_t> value) {
  std::memcpy(out.data() + at, tag, tag_size);
  at += tag_size;
  if (length >= 0x80) out[at++] = 0x81;
  out[at++] = static_cast<std::uint8_t>(length);
  if (!value.empty()) std::memcpy(out.data() + at, value.data(), value.size());
  return at + value.size();
}

}  // namespace

void stored_list::set(std::span<const std::uint8_t> list) {
  size = static_cast<std::uint8_t>(std::min(list.size(), bytes.size()));
  if (size > 0) std::memcpy(bytes.data(), list.data(), size);
  present = true;
}

std::size_t list_length(std::span<const std::uint8_t> list, bool* malformed) {
  std::size_t total = 0;
  std::size_t at = 0;
  list_entry entry;
  bool bad = false;
  while (at < list.size()) {
    if (!read_entry(list, at, entry)) {
      bad = true;
      break;
    }
    total += entry.length;
    at = entry.tag_at + entry.tag_size + 1;
  }
  if (malformed != nullptr) *malformed = bad;
  return total;
}

split_result split_by_list(std::span<const std::uint8_t> list, std::span<const std::uint8_t> data,
                           std::span<std::uint8_t> out) {
  split_result result;
  result.asked = list_length(list, &result.malformed);
  std::size_t at = 0;
  list_entry entry;
  while (at < list.size() && result.used < data.size()) {
    if (!read_entry(list, at, entry)) break;
    const std::size_t take = std::min(entry.length, data.size() - result.used);
    result.written = put_entry(out, result.written, list.data() + entry.tag_at, entry.tag_size,
                               entry.length, data.subspan(result.used, take));
    result.used += take;
    ++result.entries;
    at = entry.tag_at + entry.tag_size + 1;
  }
  return result;
}

split_result split_format1(format1_layout layout, std::span<const std::uint8_t> value,
                           std::span<std::uint8_t> out) {
  struct field {
    std::uint8_t tag[2];
    std::uint8_t tag_size;
    std::uint8_t length;  // 0: the rest
  };
  constexpr field gpo[] = {{{0x82}, 1, 2}, {{0x94}, 1, 0}};
  constexpr field generate_ac[] = {
      {{0x9F, 0x27}, 2, 1}, {{0x9F, 0x36}, 2, 2}, {{0x9F, 0x26}, 2, 8}, {{0x9F, 0x10}, 2, 0}};
  constexpr field internal_authenticate[] = {{{0x9F, 0x4B}, 2, 0}};
  std::span<const field> fields;
  switch (layout) {
    case format1_layout::none:
      return {};
    case format1_layout::after_gpo:
      fields = gpo;
      break;
    case format1_layout::after_generate_ac:
      fields = generate_ac;
      break;
    case format1_layout::after_internal_authenticate:
      fields = internal_authenticate;
      break;
  }
  split_result result;
  for (const field& f : fields) {
    const std::size_t left = value.size() - result.used;
    if (left == 0) break;
    // A rest beyond a short length byte's reach is cut: a Format 1 answer is short.
    const std::size_t length = f.length == 0 ? std::min<std::size_t>(left, 255) : f.length;
    const std::size_t take = std::min(length, left);
    result.asked += length;
    result.written =
        put_entry(out, result.written, f.tag, f.tag_size, length, value.subspan(result.used, take));
    result.used += take;
    ++result.entries;
  }
  return result;
}

}  // namespace emvtlv::trace
