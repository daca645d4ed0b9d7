// Trace mode's commands: the EMV card commands a terminal sends, named by their
// instruction byte, their header split into CLA INS P1 P2 Lc data Le, and the status
// words they get back read by the command that got them.
//
// Contract and limits:
// - One constexpr table of the commands, one of the status words by command; a
//   command not listed is named by its INS ("command INS 12").
// - The header is checked against the line's length for the four cases (header;
//   header + Le; header + Lc + data; header + Lc + data + Le); a line that fits none
//   gets a problem and its data is what the line holds of it.
// - Texts are ASCII; messages with numbers are written into the caller's buffer.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv::trace {

enum class command_id : std::uint8_t {
  unknown,
  select,
  read_record,
  get_processing_options,
  generate_ac,
  internal_authenticate,
  get_data,
  verify,
  get_challenge,
  external_authenticate,
  get_response,
  application_block,
  application_unblock,
  card_block,
  pin_change_unblock,
  compute_cryptographic_checksum,
  exchange_relay_resistance_data,
};

enum class header_problem : std::uint8_t {
  none,
  too_short,  // fewer than 4 bytes
  data_cut,   // Lc asks for more data than the line holds
  extra,      // bytes after the data and Le
};

struct apdu_command {
  std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
  bool has_lc = false;
  bool has_le = false;
  std::uint32_t lc = 0;
  std::uint32_t le = 0;        // as sent: 00 means up to 256
  std::uint8_t apdu_case = 0;  // 1 to 4, 0 when none fits
  std::span<const std::uint8_t> data;
  header_problem problem = header_problem::none;
  std::uint32_t line_size = 0;
};

apdu_command split_command(std::span<const std::uint8_t> bytes);

// The problem in words: "Lc says 14 data bytes, the line holds 12", ...
std::string_view describe_header_problem(const apdu_command& command, std::span<char> buffer);
// Its stable id: "command_too_short", "lc_past_line_end", "bytes_after_le".
std::string_view header_problem_id(header_problem problem);

command_id identify(const apdu_command& command);
// Whether the table knows this instruction byte (one look, for every segment's shape).
bool is_known_ins(std::uint8_t ins);
// "SELECT", ...; for an unknown command an empty view.
std::string_view command_name(command_id id);

// What a status word means after `id`: the command's own reading first, then the
// general one; empty when neither lists it.
std::string_view command_status_meaning(command_id id, std::uint16_t status,
                                        std::span<char> buffer);

// 9000 and 61XX to 6FXX: the bytes a card's answer ends with.
bool looks_like_status(std::uint8_t sw1, std::uint8_t sw2);

// The GENERATE AC reference control parameter: the type asked (P1 b8-b7).
enum class cryptogram_type : std::uint8_t { aac, tc, arqc, rfu };
cryptogram_type requested_type(std::uint8_t p1);
cryptogram_type returned_type(std::uint8_t cid);
std::string_view cryptogram_name(cryptogram_type type);  // "AAC", "TC", "ARQC", "RFU"

}  // namespace emvtlv::trace
