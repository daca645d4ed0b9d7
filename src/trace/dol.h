// Trace mode's data object lists: how the data a terminal sends splits by the card's
// own list (PDOL, CDOL1, CDOL2, DDOL, UDOL), and how a Format 1 answer (80) splits by
// its command's fixed layout.
//
// Contract and limits:
// - A list is a run of entries, each a BER tag and a one-byte length; a list that ends
//   inside an entry, or holds a tag longer than 4 octets, is malformed from there (the
//   entries before count).
// - Splitting rebuilds the data as BER-TLV (each entry's tag, its length, its bytes)
//   into the caller's buffer, so the tree parser and writers read it as if the card had
//   sent it: names, masking and explanations come with it. Data shorter than the list
//   leaves the entry it cuts with the bytes there are; entries after it are not
//   written. Data longer than the list is left over.
// - At most max_list_bytes of a list are kept; nothing allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace emvtlv::trace {

inline constexpr std::size_t max_list_bytes = 252;

// A copy of one list, as the card gave it (fixed size, so a session stays bounded).
struct stored_list {
  std::array<std::uint8_t, max_list_bytes> bytes{};
  std::uint8_t size = 0;
  bool present = false;

  void set(std::span<const std::uint8_t> list);
  std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

struct split_result {
  std::size_t written = 0;  // bytes of rebuilt TLV
  std::size_t entries = 0;  // entries written (the one cut short included)
  std::size_t asked = 0;    // bytes the whole list asks for
  std::size_t used = 0;     // data bytes placed
  bool malformed = false;   // the list itself could not be read to its end
};

// The bytes the list asks for in all, as far as it can be read.
std::size_t list_length(std::span<const std::uint8_t> list, bool* malformed = nullptr);

// Rebuilds `data` split by `list` into `out`, which must hold data.size() plus three
// bytes per list byte.
split_result split_by_list(std::span<const std::uint8_t> list, std::span<const std::uint8_t> data,
                           std::span<std::uint8_t> out);

// The room split_by_list may need.
constexpr std::size_t split_room(std::size_t data_size) {
  return data_size + 3 * max_list_bytes + 8;
}

// A Format 1 answer's layout by command, as a list whose last entry takes what is left.
enum class format1_layout : std::uint8_t {
  none,                         // read by content: one value
  after_gpo,                    // AIP (2) + AFL (the rest)
  after_generate_ac,            // CID (1) + ATC (2) + AC (8) + IAD (the rest, when any)
  after_internal_authenticate,  // Signed Dynamic Application Data (all)
};

// Rebuilds an 80 value by its layout into `out` (room: split_room(value.size())); 0 for none.
split_result split_format1(format1_layout layout, std::span<const std::uint8_t> value,
                           std::span<std::uint8_t> out);

}  // namespace emvtlv::trace
