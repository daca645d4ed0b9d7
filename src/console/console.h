// The console: greets, prompts, reads one record per line of hex text, walks it.
//
// Contract and limits:
// - A record is exactly the line that fgets(buffer, 512, stdin) would take: at most
//   511 characters, through the first newline; the rest of a longer line is the next
//   record. The text is cut at its first newline (or NUL).
// - Hex pairs are taken at even offsets as sscanf("%2hhx") takes them there (white
//   space skipped, signs and "0x" honoured, a failed step gives 00 and still counts),
//   at most 256 bytes a record. Malformed hex is never reported.
// - Everything printed so far, the prompt included, is written before the console
//   waits for input; output is otherwise written in large blocks.
// - End of input with nothing read: one newline, status 0. A read error: one newline,
//   status 1. Output that can no longer be written: status 1 at once.
// - Input and output are io/descriptors.h's source and target: waiting on a
//   non-blocking descriptor and retrying an interrupted call are done there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/record_view.h"
#include "io/descriptors.h"

namespace emvtlv {

inline constexpr std::size_t line_buffer_size = 513;
inline constexpr std::size_t max_line_chars = 511;
inline constexpr std::size_t record_buffer_size = 257;
inline constexpr std::int32_t max_record_bytes = 256;

inline constexpr std::string_view banner = "EMV Parser\n";
inline constexpr std::string_view prompt = "Input EMV record encoded in TLV format: ";

// One "%2hhx" step at `text`, which must be NUL-terminated.
std::uint8_t scan_hex_step(const char* text);

// Decodes the cut line text (NUL-terminated inside its 513-byte buffer, zero past
// the terminator) into the record buffer; returns the byte count, 0 to 256.
std::int32_t decode_record(const std::array<char, line_buffer_size>& line,
                           std::array<std::uint8_t, record_buffer_size>& record);

// A decoded line: the byte count, and whether the last byte came from a lone hex digit
// (the line's odd last one), so that only its low half is the input's.
struct decoded_record {
  std::int32_t count = 0;
  last_byte end = last_byte::whole;
};

// Decodes one line as the reader hands it out (at most 511 characters, newline
// included if it has one) into the record buffer, using `line` as the line buffer
// when the text is not plain hex pairs.
decoded_record decode_line(std::string_view text, std::array<char, line_buffer_size>& line,
                           std::array<std::uint8_t, record_buffer_size>& record);

// What the command line changes; the default is the classic console, byte for byte.
struct console_options {
  // No banner, no prompts, no newline after a prompt or at end of input: only the
  // element lines and messages.
  bool quiet = false;
  // Without quiet: start with the banner (not for each FILE after the first).
  bool banner = true;
  // Each element line and message starts with the number of the input line its
  // record came from and a colon ("12:"). Lines count from 1; the records a line
  // longer than 511 characters is cut into share its number.
  bool line_numbers = false;
  // End with status 1, rather than 0, when any record printed a message.
  bool strict = false;
};

// Runs the console until end of input; returns the exit status.
int run_console(input_source in, output_target out, const console_options& options = {});

}  // namespace emvtlv
