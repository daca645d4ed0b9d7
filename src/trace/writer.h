// Trace mode's last stages: each exchange read by its command and written as text lines
// or as one JSON object, and each session's summary after its last exchange.
//
// Takes: the events of trace/exchange.h in order, one call each; finish() at the end.
// Gives: output in the sink it was given, nothing else; the session's state
// (trace/session.h) learns from each exchange after it is written.
//
// Contract and limits:
// - Readings (trace/reading.h): the header's reading, the command's data split by the
//   card's lists, the answer by its command (GET CHALLENGE's challenge, an 80 by its
//   command's layout, a log record by the log format 9F4F), raw bytes when an answer's
//   TLV reading is empty or broken.
// - Lines print in input order: a T=0 chain shows each status and each GET RESPONSE or
//   resent command on its own line, before the answer.
// - PIN blocks never show; card numbers are masked by their tags wherever the bytes
//   parse as TLV and by the record scan, in every role (command data, answers, answers
//   with no command, the ATR).
// - A session's summary is written by one function per output form
//   (trace/session.h), with the part options.summary_extra adds (the offline data
//   authentication checks), whose start() hears of each new session.
// - Fixed memory: one parser, two scratch buffers and the session's state.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "card/mask.h"
#include "common/output_sink.h"
#include "trace/dol.h"
#include "trace/exchange.h"
#include "trace/session.h"
#include "tree/parse.h"
#include "tree/tag_filter.h"

namespace emvtlv::trace {

struct trace_options {
  bool json = false;
  bool explain = false;
  bool line_numbers = false;
  std::span<const tag_id> tags = {};
  summary_part summary_extra = {};  // another part of every session's summary
};

// What a writer needs that is worth making once.
struct trace_writer_storage {
  tree_parser parser;
  output_sink scratch{128 * 1024};
  std::array<std::uint8_t, split_room(max_apdu)> rebuilt{};
  session_state session;
  tag_filter filter;
  // The scan of the command being printed, header and data together: a card number
  // may start in the header and run on into the data.
  hidden_nibbles command_marks{max_apdu, true};
};

class trace_writer_impl;

class trace_writer {
 public:
  trace_writer(trace_writer_storage& storage, output_sink& out, const trace_options& options);
  ~trace_writer();
  trace_writer(const trace_writer&) = delete;
  trace_writer& operator=(const trace_writer&) = delete;

  void write(const trace_event& event);
  // A line the reader could not take (too long): "line N: message".
  void write_line_problem(std::uint64_t line, std::string_view message,
                          std::string_view problem_id);
  // The end of the input after `lines` lines: the last session's summary, and a word
  // when nothing at all was read.
  void finish(std::uint64_t lines);
  bool any_problem() const;

 private:
  std::unique_ptr<trace_writer_impl> impl_;
};

}  // namespace emvtlv::trace
