// --value=TAG:HEX: one value, given without its header, made into a record line.
//
// Contract and limits:
// - TAG is one BER-TLV tag in hex, either case, whose octets say where it ends (5A,
//   9F27, DF8101); 00, the padding octet, is refused. HEX is the value's octets, pairs
//   of hex digits that spaces or ':' may separate.
// - The record is the tag, the length in the shortest BER form and the value, as
//   upper-case hex: "95:0000008000" gives "95050000008000". A value too long for one
//   record (65,536 bytes with its header) is refused.
// - On a refusal the reason comes back, for the usage message; nothing is made.
#pragma once

#include <string>
#include <string_view>

namespace emvtlv::cli {

// The record line for `argument`, or false and `complaint` saying what is wrong.
bool make_value_record(std::string_view argument, std::string& record, std::string& complaint);

}  // namespace emvtlv::cli
