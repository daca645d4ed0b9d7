// Trace mode's readings: what a command's header says, and what the session learns
// from a finished exchange (the card's lists, the AID, the AIP, the cryptograms, the
// log entry and format), kept in the session's state for later commands and the summary.
//
// Takes: a command split by trace/commands.h and a finished exchange (trace/exchange.h).
// Gives: text in a fixed buffer (read_header), facts in session_state (learn); nothing
// is written to the output here.
//
// Contract and limits:
// - Texts are ASCII; a reading longer than the buffer is cut.
// - learn() reads only answers that ended in 9000 (VERIFY: any status), and only the
//   first element of each tag it looks for.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "trace/commands.h"
#include "trace/dol.h"
#include "trace/exchange.h"
#include "trace/session.h"
#include "tree/parse.h"

namespace emvtlv::trace {

// A fixed text buffer for readings and messages with numbers in them.
struct text_buffer {
  std::array<char, 256> data;  // only the first `size` are ever read
  std::size_t size = 0;
  void put(std::string_view text);
  void put_number(std::uint64_t n);
  void put_hex(std::uint8_t b);
  std::string_view view() const { return {data.data(), size}; }
  void clear() { size = 0; }
};

// What the header says after the command's name: " by name, first occurrence: A000..."
// (for an unknown command, "command INS 12 (CLA 00, P1 34, P2 56)").
void read_header(const apdu_command& c, command_id id, text_buffer& reading);

// The layout an 80 answer has after this command.
format1_layout format1_for(command_id id);

// The value of the first element with `tag` read without a problem, at any depth.
std::span<const std::uint8_t> find_value(const tree_result& tree,
                                         std::span<const std::uint8_t> bytes, std::uint64_t tag);
bool has_tag(const tree_result& tree, std::uint64_t tag);

// Whether a READ RECORD reads the transaction log the session knows of (9F4D).
bool reads_log(const session_state& session, const apdu_command& c, command_id id);

// What the session learns from one exchange. `rebuilt` is scratch room
// (split_room(max_apdu)).
void learn(session_state& session, const apdu_command& c, command_id id, const exchange& x,
           tree_parser& parser, std::span<std::uint8_t> rebuilt);

}  // namespace emvtlv::trace
