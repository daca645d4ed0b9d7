#include "trace/exchange.h"

#include <algorithm>
#include <cstring>

#include "trace/commands.h"

namespace emvtlv::trace {
namespace {

// A chain step's command is kept to a short APDU's size: its header and Le are what show.
constexpr std::size_t step_room = 261;

bool is_pin_command(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 5 && bytes[0] == 0x00 && (bytes[1] == 0x20 || bytes[1] == 0x24) &&
         bytes[2] == 0x00;
}

// First bytes an answer's data opens with: FCI, record, format 2, format 1, application.
bool opens_template(std::uint8_t b) {
  return b == 0x6F || b == 0x70 || b == 0x77 || b == 0x80 || b == 0x61;
}

std::uint16_t last_two(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>(bytes[bytes.size() - 2] << 8 | bytes[bytes.size() - 1]);
}

bool ends_in_status(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 2 && status_shape(bytes[bytes.size() - 2], bytes[bytes.size() - 1]);
}

bool same_header(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() >= 4 && b.size() >= 4 && std::equal(a.begin(), a.begin() + 4, b.begin());
}

}  // namespace

std::uint64_t exchange::last_line() const {
  std::uint64_t last = std::max({command_line, answer_line, status_line});
  for (std::size_t i = 0; i < chain_count; ++i)
    last = std::max(last, chain[i].line);
  return last;
}

void exchange::clear() {
  has_command = command_hidden = command_odd = false;
  command = {};
  command_line = 0;
  has_answer = answer_odd = answer_cut = false;
  answer = {};
  answer_line = 0;
  has_status = false;
  status = 0;
  status_line = 0;
  chain_count = chain_more = 0;
}

bool status_shape(std::uint8_t sw1, std::uint8_t sw2) {
  (void)sw2;
  return (sw1 >= 0x61 && sw1 <= 0x6F) || sw1 == 0x90;
}

bool command_shape(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return false;
  // Interindustry and proprietary classes; 6X and 7X open answers, FF is no class.
  const std::uint8_t cla_high = bytes[0] >> 4U;
  if (cla_high >= 0x2 && cla_high <= 0x7) return false;
  if (bytes[0] == 0xFF) return false;
  const std::uint8_t ins_high = bytes[1] >> 4U;
  if (ins_high == 0x6 || ins_high == 0x9) return false;
  if (!is_known_ins(bytes[1])) return false;
  const std::size_t n = bytes.size();
  if (n == 4 || n == 5) return true;
  const std::size_t lc = bytes[4];
  return lc > 0 && (n == 5 + lc || n == 6 + lc);
}

exchange_builder::exchange_builder()
    : command_(max_apdu),
      answer_(max_apdu),
      steps_(max_chain_steps * step_room),
      done_command_(max_apdu),
      done_answer_(max_apdu),
      done_steps_(max_chain_steps * step_room) {}

void exchange_builder::reset() {
  open_ = awaiting_ = status_first_ = joining_ = tentative_ = false;
  x_->clear();
  answer_size_ = 0;
  ready_count_ = ready_next_ = 0;
  segments_ = nullptr;
  buffer_ = {};
  index_ = 0;
  finishing_ = false;
}

void exchange_builder::take_line(std::uint64_t line, const line_segments& segments,
                                 std::span<const std::uint8_t> buffer) {
  segments_ = &segments;
  buffer_ = buffer;
  line_ = line;
  index_ = 0;
  line_labelled_ = false;
  for (const segment& seg : segments.view())
    line_labelled_ = line_labelled_ || seg.label != segment_label::none;
}

void exchange_builder::finish() {
  segments_ = nullptr;
  finishing_ = true;
}

// The next free event, its fields as a fresh one's but for `done`, which the caller sets
// when it hands on an exchange.
trace_event& exchange_builder::push() {
  trace_event& event = ready_[ready_count_++];
  event.what = trace_event::kind::exchange;
  event.line = 0;
  event.column = 0;
  event.bytes = {};
  event.message = {};
  event.problem_id = {};
  return event;
}

const trace_event* exchange_builder::next() {
  for (;;) {
    if (ready_next_ < ready_count_) return &ready_[ready_next_++];
    ready_count_ = ready_next_ = 0;
    if (segments_ != nullptr && index_ < segments_->count) {
      take_segment(index_++);
      continue;
    }
    if (finishing_) {
      finishing_ = false;
      close_open();
      continue;
    }
    return nullptr;
  }
}

exchange_builder::role exchange_builder::role_of(const segment& seg,
                                                 std::span<const std::uint8_t> bytes,
                                                 bool line_labelled) const {
  // A PIN must not print because a log lost a line or a label: what starts as a VERIFY
  // or a PIN CHANGE is the command (no answer starts so: 00 is padding, 20 no EMV tag).
  if (is_pin_command(bytes)) return role::command;
  const bool command = command_shape(bytes);
  const bool answer = ends_in_status(bytes);
  if (seg.label == segment_label::none && line_labelled) return role::none;
  if (bytes.size() == 2) return answer ? role::status : role::none;
  if (command && !answer) return role::command;
  if (answer && !command) return role::answer;
  if (seg.label == segment_label::command) return role::command;
  if (seg.label == segment_label::response) return role::answer;
  if (command) return awaiting_ ? role::answer : role::command;
  // No shape: answer data when a command waits and it opens like one.
  return awaiting_ && opens_template(bytes[0]) ? role::answer : role::none;
}

void exchange_builder::take_segment(std::size_t index) {
  const segment& seg = segments_->items[index];
  const std::span<const std::uint8_t> bytes = buffer_.subspan(seg.offset, seg.size);
  // Only a status line right after an answer can take that answer's last two bytes back.
  if (seg.label != segment_label::status && seg.label != segment_label::sw1) tentative_ = false;
  switch (seg.label) {
    case segment_label::expected:
      return;
    case segment_label::atr:
      close_open();
      push_plain(trace_event::kind::atr, line_, seg.column, bytes);
      return;
    case segment_label::sw1: {
      // SW1 and SW2 given apart: "SW1: 6a, SW2: 82".
      const bool pair = index + 1 < segments_->count && seg.size == 1 &&
                        segments_->items[index + 1].label == segment_label::sw2 &&
                        segments_->items[index + 1].size == 1;
      if (!pair) {
        push_plain(trace_event::kind::unused, line_, seg.column, bytes,
                   "SW1 without a one-byte SW2 after it", "sw1_without_sw2");
        return;
      }
      ++index_;
      take_status(
          static_cast<std::uint16_t>(bytes[0] << 8 | buffer_[segments_->items[index + 1].offset]),
          line_, true);
      return;
    }
    case segment_label::sw2:
      push_plain(trace_event::kind::unused, line_, seg.column, bytes, "SW2 without SW1 before it",
                 "sw2_without_sw1");
      return;
    case segment_label::status:
      if (seg.size != 2) {
        push_plain(trace_event::kind::unused, line_, seg.column, bytes,
                   "a status word is two bytes", "status_word_not_two_bytes");
        return;
      }
      take_status(last_two(bytes), line_, true);
      return;
    default:
      break;
  }
  const role r = role_of(seg, bytes, line_labelled_);
  switch (r) {
    case role::none:
      return;
    case role::command:
      take_command(bytes, seg, line_);
      return;
    case role::answer:
      take_answer(bytes, seg, line_);
      return;
    case role::status:
      take_status(last_two(bytes), line_, false);
      return;
  }
}

void exchange_builder::take_command(std::span<const std::uint8_t> bytes, const segment& seg,
                                    std::uint64_t line) {
  if (open_ && !awaiting_) {
    const std::uint8_t sw1 = x_->has_status ? static_cast<std::uint8_t>(x_->status >> 8) : 0;
    apdu_command next;
    if (bytes.size() >= 2) next.ins = bytes[1];
    const bool get_response = sw1 == 0x61 && identify(next) == command_id::get_response;
    const bool resend = sw1 == 0x6C && same_header(bytes, x_->command);
    if (get_response || resend) {
      if (x_->chain_count < max_chain_steps) {
        chain_step& step = x_->chain[x_->chain_count];
        // The 61XX or 6CXX, then the command that follows it.
        step = chain_step{chain_step::kind::status, x_->status_line, x_->status, {}};
        ++x_->chain_count;
      } else {
        ++x_->chain_more;
      }
      if (x_->chain_count < max_chain_steps) {
        const std::size_t keep = std::min(bytes.size(), step_room);
        std::uint8_t* at = steps_.data() + x_->chain_count * step_room;
        std::memcpy(at, bytes.data(), keep);
        x_->chain[x_->chain_count++] =
            chain_step{get_response ? chain_step::kind::get_response : chain_step::kind::resend,
                       line,
                       0,
                       {at, keep}};
      } else {
        ++x_->chain_more;
      }
      x_->has_status = false;
      x_->status = 0;
      awaiting_ = true;
      status_first_ = false;
      joining_ = get_response;
      if (resend) {
        // The resent command is the one the answer belongs to; what came before is none.
        std::memcpy(command_.data(), bytes.data(), bytes.size());
        x_->command = {command_.data(), bytes.size()};
        x_->command_hidden = seg.placeholder;
        x_->command_odd = seg.odd_digit;
        answer_size_ = 0;
        x_->has_answer = false;
      }
      return;
    }
  }
  close_open();
  open_ = true;
  awaiting_ = true;
  x_->clear();
  x_->has_command = true;
  std::memcpy(command_.data(), bytes.data(), bytes.size());
  x_->command = {command_.data(), bytes.size()};
  x_->command_line = line;
  x_->command_hidden = seg.placeholder;
  x_->command_odd = seg.odd_digit;
  answer_size_ = 0;
}

void exchange_builder::put_answer_data(std::span<const std::uint8_t> data, std::uint64_t line,
                                       bool append) {
  const std::size_t at = append ? answer_size_ : 0;
  const std::size_t take = std::min(data.size(), answer_.size() - at);
  if (take < data.size()) x_->answer_cut = true;
  if (take > 0) std::memcpy(answer_.data() + at, data.data(), take);
  answer_size_ = at + take;
  x_->answer = {answer_.data(), answer_size_};
  x_->has_answer = true;
  x_->answer_line = line;
}

void exchange_builder::take_answer(std::span<const std::uint8_t> bytes, const segment& seg,
                                   std::uint64_t line) {
  const bool with_status = ends_in_status(bytes);
  // Data after a labelled status word alone: "sw 90 00" logged before its data.
  if (open_ && !awaiting_ && status_first_ && !with_status && answer_size_ == 0) {
    put_answer_data(bytes, line, false);
    x_->answer_odd = x_->answer_odd || seg.odd_digit;
    status_first_ = false;
    return;
  }
  if (!open_ || !awaiting_) {
    push_orphan(bytes, seg, line);
    return;
  }
  awaiting_ = false;
  const bool append = joining_;
  joining_ = false;
  // Status first: "9000 6F08..", the status word a word of its own before a template.
  if (seg.first_word == 2 && bytes.size() > 2 && status_shape(bytes[0], bytes[1]) &&
      opens_template(bytes[2])) {
    x_->has_status = true;
    x_->status = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    x_->status_line = line;
    put_answer_data(bytes.subspan(2), line, append);
    x_->answer_odd = x_->answer_odd || seg.odd_digit;
    return;
  }
  put_answer_data(bytes, line, append);
  x_->answer_odd = x_->answer_odd || seg.odd_digit;
  if (with_status) {
    x_->has_status = true;
    x_->status = last_two(bytes);
    x_->status_line = line;
    answer_size_ -= 2;
    x_->answer = {answer_.data(), answer_size_};
    // Its last two bytes stay in the buffer: a labelled status line right after says
    // they were data ("R-APDU: ..6A 29" then "SW1SW2: 9000").
    tentative_ = bytes.size() > 2 && !seg.odd_digit;
  }
}

void exchange_builder::take_status(std::uint16_t status, std::uint64_t line, bool labelled) {
  if (open_ && !awaiting_ && labelled && tentative_) {
    tentative_ = false;
    answer_size_ += 2;
    x_->answer = {answer_.data(), answer_size_};
    x_->status = status;
    x_->status_line = line;
    return;
  }
  if (open_ && !awaiting_ && x_->has_answer && !x_->has_status) {
    // The answer's line was all data.
    x_->has_status = true;
    x_->status = status;
    x_->status_line = line;
    return;
  }
  if (open_ && awaiting_) {
    awaiting_ = false;
    if (!joining_) answer_size_ = 0;
    joining_ = false;
    x_->answer = {answer_.data(), answer_size_};
    x_->has_answer = true;
    x_->answer_line = line;
    x_->has_status = true;
    x_->status = status;
    x_->status_line = line;
    status_first_ = labelled && answer_size_ == 0;
    return;
  }
  close_open();
  exchange orphan;
  orphan.has_answer = true;
  orphan.has_status = true;
  orphan.status = status;
  orphan.status_line = line;
  orphan.answer_line = line;
  trace_event& event = push();
  event.what = trace_event::kind::exchange;
  event.line = line;
  orphan_ = orphan;
  event.done = &orphan_;
}

void exchange_builder::close_open() {
  if (!open_) return;
  open_ = awaiting_ = status_first_ = joining_ = tentative_ = false;
  // The open exchange's storage becomes the handed-on one's.
  std::swap(command_, done_command_);
  std::swap(answer_, done_answer_);
  std::swap(steps_, done_steps_);
  trace_event& event = push();
  event.what = trace_event::kind::exchange;
  event.line = x_->command_line;
  std::swap(x_, done_);
  event.done = done_;
  x_->clear();
  answer_size_ = 0;
}

void exchange_builder::push_orphan(std::span<const std::uint8_t> bytes, const segment& seg,
                                   std::uint64_t line) {
  close_open();
  exchange orphan;
  orphan.has_answer = true;
  orphan.answer = bytes;
  orphan.answer_line = line;
  orphan.answer_odd = seg.odd_digit;
  if (ends_in_status(bytes)) {
    orphan.has_status = true;
    orphan.status = last_two(bytes);
    orphan.status_line = line;
    orphan.answer = bytes.first(bytes.size() - 2);
  }
  trace_event& event = push();
  event.what = trace_event::kind::exchange;
  event.line = line;
  orphan_ = orphan;
  event.done = &orphan_;
}

void exchange_builder::push_plain(trace_event::kind what, std::uint64_t line, std::uint32_t column,
                                  std::span<const std::uint8_t> bytes, std::string_view message,
                                  std::string_view problem_id) {
  // An exchange that nothing later can join goes first, so lines keep their order.
  if (open_ && !awaiting_ && x_->has_status) {
    const std::uint8_t sw1 = static_cast<std::uint8_t>(x_->status >> 8);
    if (sw1 != 0x61 && sw1 != 0x6C && !status_first_) close_open();
  }
  trace_event& event = push();
  event.what = what;
  event.line = line;
  event.column = column;
  event.bytes = bytes;
  event.message = message;
  event.problem_id = problem_id;
}

}  // namespace emvtlv::trace
