// Trace mode's second stage: the segments of each line given roles and paired into
// exchanges, a command with its answer.
//
// Takes: each line's segments (trace/segments.h) with the bytes they were decoded into,
// in line order.
// Gives: events in input order, read with next() after each take_line() or finish()
// until it returns null: a finished exchange, an ATR line, or a segment that could not
// be used. An event (and the exchange it points to) stays valid until the next call of
// next(); the line's buffer must stay as it is until next() returns null.
//
// Roles by shape, pairing by order:
// - A segment is a command when it has a command's shape (CLA, a known INS, length 4,
//   5, 5 + Lc or 6 + Lc) and does not end in a status word, an answer when it ends in
//   a status word (SW1 61 to 6F or 90) and has no command's shape; otherwise its
//   label decides (send/recv, >/<, ...), then order: an answer when a command awaits
//   one, a command when none does. A VERIFY or PIN CHANGE shape is always a command, so
//   a PIN never prints as an answer. Unlabelled segments beside a labelled one on the
//   same line are counters or times; an unlabelled segment of no shape is prose unless
//   a command awaits an answer and it opens with a template (6F, 70, 77, 80, 61).
// - An answer attaches to the last command without one; a command while one awaits
//   closes that exchange as "no answer logged"; an answer with no command is handed on
//   as such. A status word alone after an answer's data without one is that answer's
//   status; a labelled one (SW1SW2, SW, status) right after an answer that ended in
//   status-like bytes says those were data, and any other status word after a whole
//   answer is an answer with no command. Data after a labelled status
//   word alone is the answer's data ("sw 90 00" logged first); so is `9000 6F..`
//   (status first, a word of its own, before a template).
// - T=0: after 61XX a GET RESPONSE continues the exchange, its answer joined to the
//   data so far; after 6CXX the same command resent replaces it. Each step is kept
//   (up to max_chain_steps, the rest counted) so the writers print every line.
// - One exchange is open at a time, at most max_apdu bytes of command and answer each:
//   memory does not grow with the log.
//
// The one hand-off: each finished exchange is one `exchange` value (command bytes,
// the answer's data with T=0 parts joined, the final SW1SW2, the line numbers), given
// to the writer in one place, the `hand_on` loop of modes/trace_mode.cpp; a later stage
// (offline data authentication, say) reads it there, before or after the writer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "trace/segments.h"

namespace emvtlv::trace {

inline constexpr std::size_t max_apdu = 65536 + 8;
inline constexpr std::size_t max_chain_steps = 8;

struct chain_step {
  enum class kind : std::uint8_t { status, get_response, resend };
  kind what = kind::status;
  std::uint64_t line = 0;
  std::uint16_t status = 0;                 // kind::status: the 61XX or 6CXX
  std::span<const std::uint8_t> command{};  // get_response, resend: the command's bytes
};

struct exchange {
  bool has_command = false;               // false: an answer with no command
  std::span<const std::uint8_t> command;  // header and data as sent (the resent one)
  std::uint64_t command_line = 0;
  bool command_hidden = false;  // a placeholder word in its list cut it ("<pin>")
  bool command_odd = false;     // an odd last digit was dropped

  bool has_answer = false;
  std::span<const std::uint8_t> answer;  // the data, T=0 parts joined, no status word
  std::uint64_t answer_line = 0;         // of the last part
  bool answer_odd = false;               // an odd last digit was dropped
  bool answer_cut = false;               // joined past max_apdu

  bool has_status = false;
  std::uint16_t status = 0;  // the final SW1SW2
  std::uint64_t status_line = 0;

  std::array<chain_step, max_chain_steps> chain{};
  std::size_t chain_count = 0;  // steps kept
  std::size_t chain_more = 0;   // steps past max_chain_steps

  std::uint64_t last_line() const;
  // As a fresh one, but for the chain's steps past chain_count, which nothing reads.
  void clear();
};

// What else the pairing hands on, in line order among the exchanges.
struct trace_event {
  enum class kind : std::uint8_t {
    exchange,  // see `done`
    atr,       // bytes: the ATR
    unused,    // bytes: a segment given no place; message says why
  };
  kind what = kind::exchange;
  std::uint64_t line = 0;
  std::uint32_t column = 0;
  std::span<const std::uint8_t> bytes;
  std::string_view message;
  std::string_view problem_id;     // kind::unused: the message's stable id
  const exchange* done = nullptr;  // kind::exchange
};

// Whether two bytes end an answer: SW1 61 to 6F or 90. (Other 9X words are no EMV
// status, and taking them would read answers whose last bytes are BCD digits as
// statuses.)
bool status_shape(std::uint8_t sw1, std::uint8_t sw2);
// Whether bytes are a command: CLA, a known INS, a length that fits a case.
bool command_shape(std::span<const std::uint8_t> bytes);

class exchange_builder {
 public:
  exchange_builder();
  exchange_builder(const exchange_builder&) = delete;
  exchange_builder& operator=(const exchange_builder&) = delete;
  void reset();
  void take_line(std::uint64_t line, const line_segments& segments,
                 std::span<const std::uint8_t> buffer);
  void finish();
  // The next event ready, or null: the line (or the input) is done.
  const trace_event* next();

 private:
  void take_segment(std::size_t index);
  trace_event& push();
  enum class role : std::uint8_t { none, command, answer, status };
  void take(role r, std::span<const std::uint8_t> bytes, const segment& seg, std::uint64_t line);
  void take_command(std::span<const std::uint8_t> bytes, const segment& seg, std::uint64_t line);
  void take_answer(std::span<const std::uint8_t> bytes, const segment& seg, std::uint64_t line);
  void take_status(std::uint16_t status, std::uint64_t line, bool labelled);
  void put_answer_data(std::span<const std::uint8_t> data, std::uint64_t line, bool append);
  void close_open();
  void push_orphan(std::span<const std::uint8_t> bytes, const segment& seg, std::uint64_t line);
  void push_plain(trace_event::kind what, std::uint64_t line, std::uint32_t column,
                  std::span<const std::uint8_t> bytes, std::string_view message = {},
                  std::string_view problem_id = {});
  role role_of(const segment& seg, std::span<const std::uint8_t> bytes, bool line_labelled) const;

  // The open exchange.
  bool open_ = false;
  bool awaiting_ = false;      // its command has no answer yet
  bool status_first_ = false;  // a labelled status word alone came: data may follow it
  bool tentative_ = false;     // the answer's last two bytes were taken as its status
  bool joining_ = false;       // after GET RESPONSE: the answer goes on the data so far
  // The open exchange and the last one handed on, in two slots that trade places.
  std::array<exchange, 2> slots_{};
  exchange* x_ = &slots_[0];
  exchange* done_ = &slots_[1];
  std::vector<std::uint8_t> command_;
  std::vector<std::uint8_t> answer_;
  std::size_t answer_size_ = 0;
  std::vector<std::uint8_t> steps_;  // the chain's commands, step_room bytes each
  // The last exchange handed on: the open one's storage is swapped in when it closes.
  std::vector<std::uint8_t> done_command_, done_answer_, done_steps_;

  // The line being read.
  const line_segments* segments_ = nullptr;
  std::span<const std::uint8_t> buffer_;
  std::uint64_t line_ = 0;
  std::size_t index_ = 0;
  bool line_labelled_ = false;
  bool finishing_ = false;

  std::array<trace_event, 4> ready_{};
  exchange orphan_;  // the last answer with no command handed on
  std::size_t ready_count_ = 0;
  std::size_t ready_next_ = 0;
};

}  // namespace emvtlv::trace
