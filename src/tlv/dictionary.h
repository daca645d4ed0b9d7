// The tag dictionary: the 77 EMV data elements this program names.
//
// Two parallel tables indexed alike, in ascending byte-wise order of name. Every tag
// is a one- or two-octet BER tag number and occurs once. The table is fixed at build
// time; a tag that is not here ends its record with "unknown tag".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/output_sink.h"

namespace emvtlv {

inline constexpr std::size_t tag_count = 77;

extern const std::array<std::int32_t, tag_count> tags;
// Each name is a string literal, so its data() is also NUL-terminated text.
extern const std::array<std::string_view, tag_count> names;

// Looks the key up; when it is listed, appends its label (the name, a colon and a
// space) and returns 1. Returns 0 and appends nothing otherwise.
int find_tag(std::uint64_t key, output_sink& out);

}  // namespace emvtlv
