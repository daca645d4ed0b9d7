// The ISO/IEC 8859 code tables that 9F11 (Issuer Code Table Index) can name, parts 1 to
// 10, generated when the build is configured from the C library's iconv
// (cmake/code_tables.cmake), so they are the C library's, not a hand copy.
//
// Contract and limits: only the upper half (A0 to FF) differs between the parts; below
// it every part is ASCII and C1 controls, which callers handle themselves. A byte the
// part leaves unassigned, a part outside 1 to 10, or a table that could not be
// generated gives 0.
#pragma once

#include <cstdint>

namespace emvtlv {

// The Unicode code point of `byte` (A0 to FF) in ISO 8859 part `part`, or 0.
std::uint32_t iso8859_code_point(int part, std::uint8_t byte);

}  // namespace emvtlv
