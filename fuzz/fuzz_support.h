// Shared pieces of the fuzz targets: a property check that aborts, the line cut the
// console makes, and the checks every record's output must pass.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"

namespace emvtlv::fuzz {

// Aborts with `what` when a property fails, in every build type.
void require(bool holds, const char* what);

// Small deterministic generator, seeded from the input, so a run can be replayed.
struct random_bits {
  std::uint64_t state;
  std::uint64_t next() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return state >> 33;
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

inline std::uint64_t seed_of(std::string_view text) {
  std::uint64_t h = 1469598103934665603u;
  for (const char c : text)
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211u;
  return h;
}

// Memory input handed out in reads of random size (without `sizes`, the whole rest at
// once), for an input_source; `taken` says how much was read.
struct memory_input {
  std::string_view text;
  random_bits* sizes;
  std::size_t taken = 0;

  static std::ptrdiff_t read(void* context, char* buffer, std::size_t capacity) {
    auto& in = *static_cast<memory_input*>(context);
    std::size_t n = std::min(capacity, in.text.size() - in.taken);
    if (in.sizes != nullptr)
      n = std::min(n, 1 + in.sizes->below(std::size_t{1} << in.sizes->below(12)));
    if (n > 0) std::memcpy(buffer, in.text.data() + in.taken, n);
    in.taken += n;
    return static_cast<std::ptrdiff_t>(n);
  }
};

// The lines a stream is cut into: at most 511 characters each, through the first
// newline. Written out plainly here, apart from the console's reader, to check it.
std::vector<std::string_view> cut_lines(std::string_view stream);

// One line decoded and walked as the console does it, with buffers reused across
// calls (as the console reuses them), so a stale buffer would show.
struct decoded_line {
  std::array<std::uint8_t, record_buffer_size> record{};
  std::int32_t count = 0;
  last_byte end = last_byte::whole;
  std::string output;
};
decoded_line decode_and_walk(std::string_view line);

// Every line of one record's output is well formed: the label of the element the walk
// is at, followed by hex pairs, a message or a masked PAN; "unknown tag" only last;
// bare messages or empty lines only after a refused length field. A masked PAN shows
// X for exactly its masked octets and, in clear, only the last two octets of a 5A
// element of this record (00 past its end), and they are decimal digits.
// No card number shows in clear but for its last four digits: a plain walk of its own
// (not the program's masking code) finds every 5A, 57, 56 and 9F6B value, at the top
// level and inside templates, and every character the masking rules hide must print
// as X; every other character of a value prints as its hex.
void check_record_output(const decoded_line& decoded);

}  // namespace emvtlv::fuzz
