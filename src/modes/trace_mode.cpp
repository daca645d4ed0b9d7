#include "modes/trace_mode.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "card/mask.h"
#include "emv/elements.h"
#include "emv/payment_systems.h"
#include "trace/commands.h"
#include "trace/dol.h"
#include "trace/line_form.h"
#include "trace/session.h"
#include "trace/text_lines.h"
#include "tree/parse.h"
#include "tree/tag_filter.h"
#include "writers/json_lines.h"
#include "writers/node_value.h"
#include "writers/tree_text.h"

namespace emvtlv {

using namespace trace;

namespace {

constexpr std::size_t output_block_size = 128 * 1024;
constexpr std::size_t max_apdu = max_tree_record_bytes;

// The messages of one exchange, kept for the JSON object and the session summary.
struct problem_list {
  std::array<session_problem, 8> items{};
  std::size_t count = 0;
};

// A fixed text buffer for readings and messages with numbers in them.
struct text_buffer {
  std::array<char, 256> data{};
  std::size_t size = 0;
  void put(std::string_view text) {
    const std::size_t n = std::min(text.size(), data.size() - size);
    if (n > 0) std::memcpy(data.data() + size, text.data(), n);
    size += n;
  }
  void put_number(std::uint64_t n) {
    std::array<char, 20> digits{};
    const auto done = std::to_chars(digits.data(), digits.data() + digits.size(), n);
    put({digits.data(), static_cast<std::size_t>(done.ptr - digits.data())});
  }
  void put_hex(std::uint8_t b) { put({&hex_pairs[2 * std::size_t{b}], 2}); }
  std::string_view view() const { return {data.data(), size}; }
  void clear() { size = 0; }
};

}  // namespace

// What a run holds: the reader, the parser, the sinks, one command and one answer.
struct trace_mode_state {
  text_line_reader reader;
  tree_parser parser;
  output_sink sink{2 * output_block_size};
  output_sink scratch{output_block_size};
  std::array<std::uint8_t, max_apdu> line_bytes;
  std::array<std::uint8_t, max_apdu> command;
  std::array<std::uint8_t, max_apdu> answer;
  std::array<std::uint8_t, split_room(max_apdu)> rebuilt;
  session_state session;
  tag_filter filter;  // --tag
  // The scan of the command being printed, header and data together: a card number
  // may start in the header and run on into the data.
  hidden_nibbles command_marks{max_apdu, true};
};

trace_mode_buffers::trace_mode_buffers() : state(std::make_unique<trace_mode_state>()) {}
trace_mode_buffers::~trace_mode_buffers() = default;

namespace {

enum class join_kind : std::uint8_t { none, get_response, resend };

// The exchange being read: a command and its answer, until the next command shows it
// is complete.
struct exchange {
  bool open = false;      // a command has been seen
  bool awaiting = false;  // the last command has no answer yet
  std::uint64_t command_line = 0;
  std::size_t command_size = 0;
  bool has_answer = false;
  std::uint64_t answer_line = 0;
  std::size_t answer_size = 0;
  bool has_status = false;
  bool status_final = false;  // false: the answer line's last two bytes, taken for now
  std::uint16_t status = 0;
  std::uint64_t status_line = 0;
  join_kind joined = join_kind::none;
  std::uint64_t join_line = 0;
  bool answer_cut = false;  // joined answers past max_apdu
};

class trace_run {
 public:
  trace_run(trace_mode_state& state, const tree_mode_options& options)
      : s_(state), options_(options), json_(options.output == tree_mode_options::format::json) {}

  void take_line(const text_line& line);
  void finish();
  // Whether any session had a problem (for --strict).
  bool any_problem() const { return problems_seen_ > 0; }

 private:
  void take_command(std::span<const std::uint8_t> bytes, std::uint64_t number);
  void take_answer(std::span<const std::uint8_t> bytes, std::uint64_t number);
  void take_status(std::span<const std::uint8_t> bytes, std::uint64_t number);
  void settle_status();
  void flush_complete();
  void emit_exchange();
  void emit_orphan_answer(std::span<const std::uint8_t> bytes, std::uint64_t number);
  void end_session();
  void note(std::uint64_t line, std::string_view text);
  void count_problem(std::uint64_t line, std::string_view text);
  void count_node_problems(const tree_result& tree, std::span<const std::uint8_t> bytes,
                           std::uint64_t line);

  // Text output.
  void prefix(std::uint64_t line);
  void put_indented(std::uint64_t line, std::size_t indent);
  explain_context session_facts() const;
  void put_tree_text(std::span<const std::uint8_t> bytes, std::uint64_t line, std::size_t indent);
  // JSON output: today's "elements" array (and nothing around it) for `bytes`.
  void put_json_elements(std::span<const std::uint8_t> bytes, std::uint64_t line);

  void put_reading(const apdu_command& c, command_id id, text_buffer& reading);
  void put_data(const apdu_command& c, command_id id);
  void put_pin_block(std::uint64_t line, std::string_view label, std::string_view shown);
  void put_split(std::span<const std::uint8_t> list, std::string_view list_name,
                 std::span<const std::uint8_t> data, std::uint64_t line);
  void put_plain_data(std::span<const std::uint8_t> data, std::uint64_t line,
                      std::string_view note_text);
  void put_answer(const apdu_command& c, command_id id);
  void learn(const apdu_command& c, command_id id);

  trace_mode_state& s_;
  const tree_mode_options& options_;
  const bool json_;
  exchange x_;
  bool expect_command_ = true;
  std::uint32_t sessions_ = 0;
  std::uint64_t last_line_ = 0;  // of the input so far
  problem_list problems_;
  bool json_data_open_ = false;
  std::uint64_t problems_seen_ = 0;
};

void trace_run::count_problem(std::uint64_t line, std::string_view text) {
  ++problems_seen_;
  s_.session.add_problem(line, text);
}

// The problems of the elements shown, as the summary lists them: "50: value runs past
// the end: 10 bytes declared, 8 left" (the tag as printed, hidden digits as X).
void trace_run::count_node_problems(const tree_result& tree, std::span<const std::uint8_t> bytes,
                                    std::uint64_t line) {
  for (const tree_node& node : tree.nodes) {
    if (node.problem == node_problem::none) continue;
    std::array<char, 160> text{};
    const std::size_t tag_size = std::min<std::size_t>(node.tag_size, 8);
    encode_hex_unchecked(bytes.data() + node.offset, tag_size, text.data());
    tree.hidden->apply(bytes.data() + node.offset, std::span<char>(text.data(), 2 * tag_size));
    std::size_t size = 2 * tag_size;
    text[size++] = ':';
    text[size++] = ' ';
    const std::string_view message =
        describe_problem(node, std::span<char>(text.data() + size, text.size() - size));
    count_problem(line, std::string_view(text.data(), size + message.size()));
  }
}

void trace_run::note(std::uint64_t line, std::string_view text) {
  if (problems_.count < problems_.items.size()) {
    session_problem& p = problems_.items[problems_.count];
    p.line = line;
    p.size = static_cast<std::uint8_t>(std::min(text.size(), p.text.size()));
    if (p.size > 0) std::memcpy(p.text.data(), text.data(), p.size);
  }
  ++problems_.count;
  count_problem(line, text);
}

void trace_run::prefix(std::uint64_t line) {
  if (!options_.line_numbers) return;
  put_number(s_.sink, line);
  s_.sink.put(':');
}

// Moves the scratch text into the sink, every line indented and numbered.
void trace_run::put_indented(std::uint64_t line, std::size_t indent) {
  std::string_view text = s_.scratch.view();
  constexpr std::string_view spaces = "        ";
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t size = end == std::string_view::npos ? text.size() : end + 1;
    prefix(line);
    s_.sink.append(spaces.substr(0, std::min(indent, spaces.size())));
    s_.sink.append(text.substr(0, size));
    text.remove_prefix(size);
  }
  s_.scratch.clear();
}

// What the session knows that changes how values read: the selected AID (and so the
// kernel) and the command behind an 80 answer.
explain_context trace_run::session_facts() const {
  constexpr std::array<response_format1_reading, 4> readings{
      response_format1_reading::by_content, response_format1_reading::gpo,
      response_format1_reading::generate_ac, response_format1_reading::internal_authenticate};
  explain_context known;
  const session_state& session = s_.session;
  if (session.aid_size > 0) {
    known.aid = std::span<const std::uint8_t>(session.aid.data(), session.aid_size);
    known.kernel = session.context.kernel;
  }
  known.format1 = readings[static_cast<std::size_t>(session.context.format1)];
  return known;
}

void trace_run::put_tree_text(std::span<const std::uint8_t> bytes, std::uint64_t line,
                              std::size_t indent) {
  const tree_result tree = s_.parser.parse_data(bytes);
  hex_line record;
  record.what = hex_line::kind::record;
  record.number = line;
  record.bytes = bytes;
  count_node_problems(tree, bytes, line);
  const explain_context known = session_facts();
  tree_text_options text{false, options_.explain};
  text.known = &known;
  if (!options_.tags.empty()) text.marks = s_.filter.mark(tree, options_.tags).data();
  write_tree_text(record, tree, text, s_.scratch);
  put_indented(line, indent);
}

void trace_run::put_json_elements(std::span<const std::uint8_t> bytes, std::uint64_t line) {
  const tree_result tree = s_.parser.parse_data(bytes);
  hex_line record;
  record.what = hex_line::kind::record;
  record.number = line;
  record.bytes = bytes;
  count_node_problems(tree, bytes, line);
  const explain_context known = session_facts();
  json_options json{options_.explain};
  json.known = &known;
  if (!options_.tags.empty()) json.marks = s_.filter.mark(tree, options_.tags).data();
  write_json_line(record, tree, json, s_.scratch);
  // The writer gives {"line":N,"elements":[...]}\n for a record with no status word:
  // the elements array is what stands between the first comma and the closing brace.
  const std::string_view text = s_.scratch.view();
  const std::size_t comma = text.find(',');
  if (comma != std::string_view::npos && text.size() >= comma + 3)
    s_.sink.append(text.substr(comma + 1, text.size() - comma - 3));
  else
    s_.sink.append("\"elements\":[]");
  s_.scratch.clear();
}

// Prints the exchange held when nothing more can join it, so that a message about a
// later line comes after it.
void trace_run::flush_complete() {
  if (!x_.open || x_.awaiting) return;
  settle_status();
  const auto sw1 = static_cast<std::uint8_t>(x_.status >> 8);
  if (x_.has_status && (sw1 == 0x61 || sw1 == 0x6C)) return;
  emit_exchange();
  x_ = exchange{};
}

void trace_run::take_line(const text_line& line) {
  last_line_ = line.number;
  if (line.too_long) {
    flush_complete();
    if (json_) {
      s_.sink.append("{\"line\":");
      put_number(s_.sink, line.number);
      s_.sink.append(",\"error\":{\"message\":\"line longer than 131072 characters\"}}\n");
    } else {
      prefix(line.number);
      s_.sink.append("line ");
      put_number(s_.sink, line.number);
      s_.sink.append(": line longer than 131072 characters\n");
    }
    count_problem(line.number, "line longer than 131072 characters");
    return;
  }
  const apdu_line apdu = read_apdu_line(line.text, s_.line_bytes);
  if (apdu.what == apdu_line::kind::prose) return;
  if (apdu.what == apdu_line::kind::bad) {
    flush_complete();
    if (json_) {
      s_.sink.append("{\"line\":");
      put_number(s_.sink, line.number);
      s_.sink.append(",\"error\":{\"message\":");
      put_json_string(s_.sink, apdu.message);
      s_.sink.append("}}\n");
    } else {
      prefix(line.number);
      s_.sink.append("line ");
      put_number(s_.sink, line.number);
      s_.sink.append(": ");
      s_.sink.append(apdu.message);
      s_.sink.put('\n');
    }
    count_problem(line.number, apdu.message);
    if (apdu.label == line_label::none) expect_command_ = !expect_command_;
    return;
  }
  const std::span<const std::uint8_t> bytes = apdu.bytes;
  line_label role = apdu.label;
  if (role == line_label::none) {
    if (bytes.size() == 2) {
      role = line_label::status;
    } else if (expect_command_) {
      role = line_label::command;
    } else {
      role = line_label::response;
      // A PIN must not print because a log lost a line: what starts as a VERIFY or a
      // PIN CHANGE where an answer was due is taken as the command (no answer starts
      // so: 00 is padding and 20 no EMV tag).
      if (bytes.size() >= 5 && bytes[0] == 0x00 && (bytes[1] == 0x20 || bytes[1] == 0x24) &&
          bytes[2] == 0x00)
        role = line_label::command;
    }
  } else if (role == line_label::response && bytes.size() == 2 && x_.has_answer &&
             !x_.status_final && !x_.awaiting) {
    role = line_label::status;
  }
  switch (role) {
    case line_label::command:
      take_command(bytes, line.number);
      expect_command_ = false;
      break;
    case line_label::response:
      take_answer(bytes, line.number);
      expect_command_ = true;
      break;
    case line_label::status:
    case line_label::none:
      take_status(bytes, line.number);
      expect_command_ = true;
      break;
  }
}

void trace_run::take_command(std::span<const std::uint8_t> bytes, std::uint64_t number) {
  if (x_.open && !x_.awaiting) {
    settle_status();
    const apdu_command next = split_command(bytes);
    const apdu_command held = split_command({s_.command.data(), x_.command_size});
    const std::uint8_t sw1 = static_cast<std::uint8_t>(x_.status >> 8);
    if (x_.has_status && sw1 == 0x61 && identify(next) == command_id::get_response) {
      x_.joined = join_kind::get_response;
      x_.join_line = number;
      x_.awaiting = true;
      return;
    }
    if (x_.has_status && sw1 == 0x6C && next.cla == held.cla && next.ins == held.ins &&
        next.p1 == held.p1 && next.p2 == held.p2) {
      x_.joined = join_kind::resend;
      x_.join_line = number;
      x_.awaiting = true;
      // The resent command is the one that got the answer.
      std::memcpy(s_.command.data(), bytes.data(), bytes.size());
      x_.command_size = bytes.size();
      return;
    }
  }
  if (x_.open) emit_exchange();
  x_ = exchange{};
  x_.open = true;
  x_.awaiting = true;
  x_.command_line = number;
  std::memcpy(s_.command.data(), bytes.data(), bytes.size());
  x_.command_size = bytes.size();
}

void trace_run::take_answer(std::span<const std::uint8_t> bytes, std::uint64_t number) {
  if (!x_.open || !x_.awaiting) {
    if (x_.open) {
      emit_exchange();
      x_ = exchange{};
    }
    emit_orphan_answer(bytes, number);
    return;
  }
  x_.awaiting = false;
  // After a 61XX the GET RESPONSE answer goes on where the data so far ends.
  const std::size_t at = x_.joined == join_kind::get_response && x_.has_answer ? x_.answer_size : 0;
  const std::size_t room = s_.answer.size() - at;
  const std::size_t take = std::min(room, bytes.size());
  if (take < bytes.size()) x_.answer_cut = true;
  if (take > 0) std::memcpy(s_.answer.data() + at, bytes.data(), take);
  x_.answer_size = at + take;
  x_.has_answer = true;
  x_.answer_line = number;
  x_.has_status = false;
  // An answer of two bytes is a status word alone: no status line can follow it.
  x_.status_final = bytes.size() == 2;
  if (bytes.size() >= 2 && looks_like_status(bytes[bytes.size() - 2], bytes[bytes.size() - 1])) {
    x_.has_status = true;
    x_.status = static_cast<std::uint16_t>(bytes[bytes.size() - 2] << 8 | bytes[bytes.size() - 1]);
    x_.status_line = number;
    if (x_.status_final) x_.answer_size -= 2;
  }
}

// The answer line's last two bytes are its status word unless a status line followed.
void trace_run::settle_status() {
  if (!x_.has_answer || x_.status_final) return;
  if (x_.has_status && x_.answer_size >= 2) x_.answer_size -= 2;
  x_.status_final = true;
}

void trace_run::take_status(std::span<const std::uint8_t> bytes, std::uint64_t number) {
  const auto status = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
  if (x_.open && x_.has_answer && !x_.status_final && !x_.awaiting) {
    // The answer line was all data.
    x_.has_status = true;
    x_.status_final = true;
    x_.status = status;
    x_.status_line = number;
    return;
  }
  if (x_.open && x_.awaiting) {
    // An answer of a status word alone, whatever its value.
    take_answer(bytes, number);
    if (!x_.has_status) x_.answer_size -= 2;
    x_.has_status = true;
    x_.status_final = true;
    x_.status = status;
    x_.status_line = number;
    return;
  }
  if (x_.open) {
    emit_exchange();
    x_ = exchange{};
  }
  emit_orphan_answer(bytes, number);
}

void trace_run::put_reading(const apdu_command& c, command_id id, text_buffer& r) {
  switch (id) {
    case command_id::select: {
      if (c.p1 == 0x04) {
        r.put(" by name");
      } else {
        r.put(" by P1 ");
        r.put_hex(c.p1);
      }
      if ((c.p2 & 0x03) == 0x00) {
        r.put(", first occurrence");
      } else if ((c.p2 & 0x03) == 0x02) {
        r.put(", next occurrence");
      } else {
        r.put(", P2 ");
        r.put_hex(c.p2);
      }
      r.put(": ");
      const payment_environment environment = environment_of(c.data);
      if (environment != payment_environment::none) {
        r.put(environment == payment_environment::contact ? "1PAY.SYS.DDF01 (PSE, contact)"
                                                          : "2PAY.SYS.DDF01 (PPSE, contactless)");
        break;
      }
      for (std::size_t i = 0; i < std::min<std::size_t>(c.data.size(), 16); ++i)
        r.put_hex(c.data[i]);
      if (c.data.size() > 16) r.put("...");
      const payment_system* system = find_payment_system(c.data);
      if (system != nullptr) {
        r.put(" (");
        r.put(system->name);
        if (!kernel_name(system->kernel).empty()) {
          r.put(", ");
          r.put(kernel_name(system->kernel));
        }
        const std::string_view product = find_aid_product(c.data);
        if (!product.empty() && product != system->name) {
          r.put(", ");
          r.put(product);
        }
        r.put(")");
      }
      break;
    }
    case command_id::read_record:
      if ((c.p2 & 0x07) == 0x04) {
        r.put(": SFI ");
        r.put_number(c.p2 >> 3);
        r.put(", record ");
        r.put_number(c.p1);
      } else {
        r.put(": P1 ");
        r.put_hex(c.p1);
        r.put(", P2 ");
        r.put_hex(c.p2);
        r.put(" (P1 is not a record number)");
      }
      break;
    case command_id::generate_ac:
      r.put(": ");
      r.put(cryptogram_name(requested_type(c.p1)));
      r.put(" requested");
      if ((c.p1 & 0x10) != 0) r.put(", CDA requested");
      break;
    case command_id::get_data: {
      const std::uint32_t tag = c.p1 == 0 ? c.p2 : std::uint32_t{c.p1} << 8 | c.p2;
      r.put(": ");
      if (c.p1 != 0) r.put_hex(c.p1);
      r.put_hex(c.p2);
      const emv_element* element = find_emv_element(tag);
      r.put(" ");
      r.put(element == nullptr ? std::string_view("(unknown tag)") : element->name);
      break;
    }
    case command_id::verify:
      if (c.p2 == 0x80) {
        r.put(": plaintext offline PIN");
      } else if (c.p2 == 0x88) {
        r.put(": enciphered offline PIN");
      } else {
        r.put(": P2 ");
        r.put_hex(c.p2);
      }
      break;
    case command_id::get_response:
      r.put(": Le ");
      r.put_number(c.has_le ? (c.le == 0 ? 256 : c.le) : 0);
      break;
    case command_id::pin_change_unblock:
      r.put(c.p2 == 0x00 ? ": unblock" : ": change");
      break;
    case command_id::application_block:
    case command_id::application_unblock:
    case command_id::card_block:
      if (c.cla == 0x84 || c.cla == 0x8C) r.put(": secure messaging");
      break;
    case command_id::unknown:
      r.put("command INS ");
      r.put_hex(c.ins);
      r.put(" (CLA ");
      r.put_hex(c.cla);
      r.put(", P1 ");
      r.put_hex(c.p1);
      r.put(", P2 ");
      r.put_hex(c.p2);
      r.put(")");
      break;
    default:
      break;
  }
}

// A value shown whole: still masked wherever it holds card-number elements.
void trace_run::put_plain_data(std::span<const std::uint8_t> data, std::uint64_t line,
                               std::string_view note_text) {
  if (json_) {
    s_.sink.append("\"value\":\"");
  } else {
    prefix(line);
    s_.sink.append("  data: ");
  }
  char* hex = s_.sink.extend(2 * data.size());
  encode_hex_unchecked(data.data(), data.size(), hex);
  mask_template_value(data, std::span<char>(hex, 2 * data.size()), template_framing::tree);
  s_.command_marks.apply(data.data(), std::span<char>(hex, 2 * data.size()));
  if (json_) {
    s_.sink.put('"');
    if (!note_text.empty()) {
      s_.sink.append(",\"note\":");
      put_json_string(s_.sink, note_text);
    }
  } else {
    if (!note_text.empty()) {
      s_.sink.append(" (");
      s_.sink.append(note_text);
      s_.sink.put(')');
    }
    s_.sink.put('\n');
  }
}

void trace_run::put_split(std::span<const std::uint8_t> list, std::string_view list_name,
                          std::span<const std::uint8_t> data, std::uint64_t line) {
  const split_result split = split_by_list(list, data, s_.rebuilt);
  const std::span<const std::uint8_t> rebuilt(s_.rebuilt.data(), split.written);
  if (json_) {
    s_.sink.append("\"list\":\"");
    s_.sink.append(list_name);
    s_.sink.append("\",");
    put_json_elements(rebuilt, line);
  } else {
    prefix(line);
    s_.sink.append("  data by the ");
    s_.sink.append(list_name);
    s_.sink.append(":\n");
    put_tree_text(rebuilt, line, 4);
  }
  text_buffer message;
  if (split.malformed) {
    message.put("the ");
    message.put(list_name);
    message.put(" cannot be read to its end");
    note(line, message.view());
    message.clear();
  }
  if (split.asked != data.size()) {
    message.put("the ");
    message.put(list_name);
    message.put(" asks for ");
    message.put_number(split.asked);
    message.put(" bytes, the data holds ");
    message.put_number(data.size());
    note(line, message.view());
  }
  if (split.used < data.size()) {
    const std::span<const std::uint8_t> rest = data.subspan(split.used);
    if (json_) {
      s_.sink.append(",\"left_over\":\"");
    } else {
      prefix(line);
      s_.sink.append("  left over: ");
    }
    char* hex = s_.sink.extend(2 * rest.size());
    encode_hex_unchecked(rest.data(), rest.size(), hex);
    mask_template_value(rest, std::span<char>(hex, 2 * rest.size()), template_framing::tree);
    s_.command_marks.apply(rest.data(), std::span<char>(hex, 2 * rest.size()));
    s_.sink.put(json_ ? '"' : '\n');
  }
}

// What may be shown of a PIN block: JSON's "pin_block", or a text line under `label`.
void trace_run::put_pin_block(std::uint64_t line, std::string_view label, std::string_view shown) {
  if (json_) {
    s_.sink.append("\"pin_block\":");
    put_json_string(s_.sink, shown);
    return;
  }
  prefix(line);
  s_.sink.append(label);
  s_.sink.append(shown);
  s_.sink.put('\n');
}

void trace_run::put_data(const apdu_command& c, command_id id) {
  const std::uint64_t line = x_.command_line;
  const session_state& session = s_.session;
  const std::span<const std::uint8_t> data = c.data;
  s_.command_marks.scan({s_.command.data(), x_.command_size});
  // Opens the JSON "data" object; every branch below writes its members.
  const auto open = [&] {
    if (json_) s_.sink.append(",\"data\":{");
    json_data_open_ = json_;
  };
  switch (id) {
    case command_id::select:
      // The reading names what was selected; JSON has the bytes too.
      if (!c.has_lc || !json_) return;
      open();
      put_plain_data(data, line, {});
      break;
    case command_id::verify: {
      if (!c.has_lc) return;
      open();
      text_buffer shown;
      if (c.p2 == 0x80 && !data.empty()) {
        // The control nibble and the PIN length; every PIN digit and filler is hidden.
        shown.put({&hex_pairs[2 * std::size_t{data[0]}], 1});
        shown.put(" ");
        shown.put({&hex_pairs[2 * std::size_t{data[0]} + 1], 1});
        shown.put(" ");
        for (std::size_t i = 2; i < 2 * data.size() && shown.size < shown.data.size(); ++i)
          shown.put("X");
      } else {
        shown.put(c.p2 == 0x80 ? "no PIN block" : "enciphered PIN block, ");
        if (c.p2 != 0x80) {
          shown.put_number(data.size());
          shown.put(data.size() == 1 ? " byte, hidden" : " bytes, hidden");
        }
      }
      put_pin_block(line, "  PIN block: ", shown.view());
      break;
    }
    case command_id::pin_change_unblock: {
      if (!c.has_lc) return;
      open();
      text_buffer shown;
      shown.put("enciphered PIN data and MAC, ");
      shown.put_number(data.size());
      shown.put(" bytes, hidden");
      put_pin_block(line, "  data: ", shown.view());
      break;
    }
    case command_id::get_processing_options: {
      if (!c.has_lc) return;
      open();
      if (data.size() < 2 || data[0] != 0x83) {
        note(line, "the data does not start with 83 L");
        put_plain_data(data, line, {});
        break;
      }
      std::span<const std::uint8_t> inner = data.subspan(2);
      if (data[1] != inner.size()) {
        text_buffer message;
        message.put("83 says ");
        message.put_number(data[1]);
        message.put(" bytes, the data holds ");
        message.put_number(inner.size());
        note(line, message.view());
        inner = inner.first(std::min<std::size_t>(inner.size(), data[1]));
      }
      if (session.pdol.present) {
        put_split(session.pdol.view(), "PDOL", inner, line);
      } else if (!inner.empty()) {
        put_plain_data(inner, line, "no PDOL seen: the data stays one value");
      } else if (json_) {
        s_.sink.append("\"value\":\"\"");
      }
      break;
    }
    case command_id::generate_ac: {
      if (!c.has_lc) return;
      open();
      const bool first = session.generate_acs == 0;
      const stored_list& list = first ? session.cdol1 : session.cdol2;
      const std::string_view name = first ? "CDOL1" : "CDOL2";
      if (list.present) {
        put_split(list.view(), name, data, line);
      } else {
        put_plain_data(data, line,
                       first ? "no CDOL1 seen: the data stays one value"
                             : "no CDOL2 seen: the data stays one value");
      }
      break;
    }
    case command_id::internal_authenticate: {
      if (!c.has_lc) return;
      open();
      static constexpr std::array<std::uint8_t, 3> default_ddol{0x9F, 0x37, 0x04};
      if (session.ddol.present)
        put_split(session.ddol.view(), "DDOL", data, line);
      else
        put_split(default_ddol, "default DDOL (9F37 04)", data, line);
      break;
    }
    case command_id::compute_cryptographic_checksum: {
      if (!c.has_lc) return;
      open();
      static constexpr std::array<std::uint8_t, 3> default_udol{0x9F, 0x6A, 0x04};
      if (session.udol.present)
        put_split(session.udol.view(), "UDOL", data, line);
      else
        put_split(default_udol, "default UDOL (9F6A 04)", data, line);
      break;
    }
    default:
      if (!c.has_lc) return;
      open();
      put_plain_data(data, line, {});
      break;
  }
  if (json_data_open_) {
    s_.sink.put('}');
    json_data_open_ = false;
  }
}

format1_layout format1_for(command_id id) {
  switch (id) {
    case command_id::get_processing_options:
      return format1_layout::after_gpo;
    case command_id::generate_ac:
      return format1_layout::after_generate_ac;
    case command_id::internal_authenticate:
      return format1_layout::after_internal_authenticate;
    default:
      return format1_layout::none;
  }
}

void trace_run::put_answer(const apdu_command&, command_id id) {
  const std::span<const std::uint8_t> answer(s_.answer.data(), x_.answer_size);
  // The answer, and an 80 in it, read as its command's.
  s_.session.context.format1 = format1_for(id);
  if (json_) {
    if (!x_.has_answer) return;
    s_.sink.append(",\"response\":{\"line\":");
    put_number(s_.sink, x_.answer_line);
    s_.sink.put(',');
    put_json_elements(answer, x_.answer_line);
  } else if (!answer.empty()) {
    prefix(x_.answer_line);
    s_.sink.append("  answer:\n");
    put_tree_text(answer, x_.answer_line, 4);
  }
  // An 80 answer split by its command's layout.
  if (s_.session.context.format1 != format1_layout::none && answer.size() >= 2 &&
      answer[0] == 0x80) {
    const tree_result tree = s_.parser.parse_data(answer);
    if (!tree.nodes.empty() && tree.nodes[0].tag == 0x80 &&
        tree.nodes[0].problem == node_problem::none) {
      const tree_node node = tree.nodes[0];
      const split_result split =
          split_format1(s_.session.context.format1,
                        answer.subspan(node.value_offset, node.value_size), s_.rebuilt);
      const std::span<const std::uint8_t> rebuilt(s_.rebuilt.data(), split.written);
      const std::string_view name = command_name(id);
      if (json_) {
        s_.sink.append(",\"format1\":{\"read_after\":");
        put_json_string(s_.sink, name);
        s_.sink.put(',');
        put_json_elements(rebuilt, x_.answer_line);
        s_.sink.put('}');
      } else {
        prefix(x_.answer_line);
        s_.sink.append("  80 read as the answer to ");
        s_.sink.append(name);
        s_.sink.append(":\n");
        put_tree_text(rebuilt, x_.answer_line, 4);
      }
      if (split.used < node.value_size || (id == command_id::generate_ac && node.value_size < 11) ||
          (id == command_id::get_processing_options &&
           (node.value_size < 2 || (node.value_size - 2) % 4 != 0))) {
        note(x_.answer_line, "the 80 answer does not have its command's layout");
      }
    }
  }
  if (x_.answer_cut) note(x_.answer_line, "joined answer longer than 65536 bytes: cut");
  if (json_ && x_.has_status) {
    s_.sink.append(",\"status\":\"");
  } else if (x_.has_status) {
    prefix(x_.status_line);
    s_.sink.append("  status: ");
  }
  if (x_.has_status) {
    put_hex_byte(s_.sink, static_cast<std::uint8_t>(x_.status >> 8));
    put_hex_byte(s_.sink, static_cast<std::uint8_t>(x_.status & 0xFF));
    std::array<char, 80> buffer{};
    const std::string_view meaning = command_status_meaning(id, x_.status, buffer);
    if (json_) {
      s_.sink.put('"');
      if (!meaning.empty()) {
        s_.sink.append(",\"status_meaning\":");
        put_json_string(s_.sink, meaning);
      }
      if (x_.status_line != x_.answer_line) {
        s_.sink.append(",\"status_line\":");
        put_number(s_.sink, x_.status_line);
      }
    } else {
      if (!meaning.empty()) {
        s_.sink.append(" (");
        s_.sink.append(meaning);
        s_.sink.put(')');
      }
      s_.sink.put('\n');
    }
  }
  if (x_.joined != join_kind::none) {
    if (json_) {
      s_.sink.append(x_.joined == join_kind::get_response ? ",\"joined\":\"GET RESPONSE\""
                                                          : ",\"joined\":\"resent\"");
      s_.sink.append(",\"join_line\":");
      put_number(s_.sink, x_.join_line);
    } else {
      prefix(x_.join_line);
      s_.sink.append(x_.joined == join_kind::get_response
                         ? "  (answer completed by GET RESPONSE, line "
                         : "  (answer to the command resent with the right Le, line ");
      put_number(s_.sink, x_.join_line);
      s_.sink.append(")\n");
    }
  }
  if (json_) s_.sink.put('}');
}

// The values of the first element with `tag` in the tree of `bytes` (nodes at any depth).
std::span<const std::uint8_t> find_value(const tree_result& tree,
                                         std::span<const std::uint8_t> bytes, std::uint64_t tag) {
  for (const tree_node& node : tree.nodes)
    if (node.tag == tag && !node.constructed && node.problem == node_problem::none)
      return bytes.subspan(node.value_offset, node.value_size);
  return {};
}

bool has_tag(const tree_result& tree, std::uint64_t tag) {
  for (const tree_node& node : tree.nodes)
    if (node.tag == tag && node.problem == node_problem::none) return true;
  return false;
}

void trace_run::learn(const apdu_command& c, command_id id) {
  session_state& session = s_.session;
  const std::span<const std::uint8_t> answer(s_.answer.data(), x_.answer_size);
  const bool success = x_.has_status && x_.status == 0x9000;
  const tree_result tree = s_.parser.parse_data(answer);
  switch (id) {
    case command_id::select: {
      if (!success) break;
      const payment_environment environment = environment_of(c.data);
      if (environment != payment_environment::none) {
        session.context.environment = environment;
        session.pse_selected = true;
        break;
      }
      session.select_aid(c.data);
      if (has_tag(tree, 0x9F38)) session.pdol.set(find_value(tree, answer, 0x9F38));
      const std::span<const std::uint8_t> label = find_value(tree, answer, 0x50);
      session.label_size = static_cast<std::uint8_t>(std::min(label.size(), session.label.size()));
      for (std::size_t i = 0; i < session.label_size; ++i)
        session.label[i] = static_cast<char>(label[i]);
      break;
    }
    case command_id::get_processing_options: {
      if (!success) break;
      if (!tree.nodes.empty() && tree.nodes[0].tag == 0x80) {
        const std::span<const std::uint8_t> value =
            answer.subspan(tree.nodes[0].value_offset, tree.nodes[0].value_size);
        if (value.size() >= 2) {
          session.has_aip = true;
          session.aip = {value[0], value[1]};
          session.afl.set(value.subspan(2));
        }
        break;
      }
      const std::span<const std::uint8_t> aip = find_value(tree, answer, 0x82);
      if (aip.size() == 2) {
        session.has_aip = true;
        session.aip = {aip[0], aip[1]};
      }
      if (has_tag(tree, 0x94)) session.afl.set(find_value(tree, answer, 0x94));
      const std::span<const std::uint8_t> cid = find_value(tree, answer, 0x9F27);
      if (cid.size() == 1) {
        session.gpo_cryptogram = true;
        session.gpo_returned = returned_type(cid[0]);
      }
      break;
    }
    case command_id::read_record:
      if (!success || (c.p2 & 0x07) != 0x04) break;
      session.mark_read(static_cast<std::uint8_t>(c.p2 >> 3), c.p1);
      if (has_tag(tree, 0x8C)) session.cdol1.set(find_value(tree, answer, 0x8C));
      if (has_tag(tree, 0x8D)) session.cdol2.set(find_value(tree, answer, 0x8D));
      if (has_tag(tree, 0x9F49)) session.ddol.set(find_value(tree, answer, 0x9F49));
      if (has_tag(tree, 0x9F69)) session.udol.set(find_value(tree, answer, 0x9F69));
      break;
    case command_id::generate_ac: {
      const std::uint32_t index = session.generate_acs++;
      // The CVM Results the terminal sent, from the data split by CDOL1 or CDOL2.
      const stored_list& list = index == 0 ? session.cdol1 : session.cdol2;
      if (list.present) {
        const split_result split = split_by_list(list.view(), c.data, s_.rebuilt);
        const std::span<const std::uint8_t> rebuilt(s_.rebuilt.data(), split.written);
        const tree_result data_tree = s_.parser.parse_data(rebuilt);
        const std::span<const std::uint8_t> cvm = find_value(data_tree, rebuilt, 0x9F34);
        if (cvm.size() == 3) {
          session.has_cvm_results = true;
          std::memcpy(session.cvm_results.data(), cvm.data(), 3);
        }
      }
      if (index >= session.cryptograms.size()) break;
      generate_ac_record& g = session.cryptograms[index];
      g.requested = requested_type(c.p1);
      g.cda = (c.p1 & 0x10) != 0;
      if (!success) break;
      const tree_result again = s_.parser.parse_data(answer);
      if (!again.nodes.empty() && again.nodes[0].tag == 0x80 && again.nodes[0].value_size >= 1) {
        g.answered = true;
        g.returned = returned_type(answer[again.nodes[0].value_offset]);
      } else if (const std::span<const std::uint8_t> cid = find_value(again, answer, 0x9F27);
                 cid.size() == 1) {
        g.answered = true;
        g.returned = returned_type(cid[0]);
      }
      break;
    }
    case command_id::verify:
      if (!x_.has_status) break;
      ++session.verifies;
      session.verify_p2 = c.p2;
      session.verify_status = x_.status;
      if ((x_.status & 0xFFF0) == 0x63C0) ++session.verify_wrong;
      break;
    case command_id::compute_cryptographic_checksum:
      session.checksum = session.checksum || success;
      break;
    default:
      break;
  }
}

void trace_run::end_session() {
  session_state& session = s_.session;
  if (session.commands > 0) {
    if (json_) {
      write_summary_json(session, s_.sink);
    } else {
      write_summary_text(session, summary_options{options_.line_numbers}, s_.sink);
    }
  }
  session.start(++sessions_);
}

void trace_run::emit_exchange() {
  settle_status();
  const apdu_command c = split_command({s_.command.data(), x_.command_size});
  const command_id id = identify(c);
  session_state& session = s_.session;

  // A session ends at a SELECT of the PSE or PPSE, and at a SELECT of an application
  // after a GENERATE AC.
  if (id == command_id::select && session.commands > 0) {
    const bool environment = environment_of(c.data) != payment_environment::none;
    if (environment || session.generate_acs > 0) end_session();
  }
  if (session.number == 0) session.start(++sessions_);
  if (session.commands == 0) session.first_line = x_.command_line;
  if (id == command_id::select && session.applications > 0 && c.p1 == 0x04 &&
      environment_of(c.data) == payment_environment::none && x_.has_status && x_.status == 0x9000) {
    note(x_.command_line, "another application selected");
  }
  ++session.commands;
  problems_.count = 0;

  text_buffer reading;
  put_reading(c, id, reading);
  const std::string_view name = command_name(id);
  if (json_) {
    s_.sink.append("{\"line\":");
    put_number(s_.sink, x_.command_line);
    // A line too short for a header has no fields to give.
    s_.sink.append(",\"command\":{");
    if (c.problem != header_problem::too_short) {
      s_.sink.append("\"cla\":");
      put_number(s_.sink, c.cla);
      s_.sink.append(",\"ins\":");
      put_number(s_.sink, c.ins);
      s_.sink.append(",\"p1\":");
      put_number(s_.sink, c.p1);
      s_.sink.append(",\"p2\":");
      put_number(s_.sink, c.p2);
    }
    if (c.has_lc) {
      s_.sink.append(",\"lc\":");
      put_number(s_.sink, c.lc);
    }
    if (c.has_le) {
      s_.sink.append(",\"le\":");
      put_number(s_.sink, c.le);
    }
    if (c.apdu_case != 0) {
      s_.sink.append(",\"case\":");
      put_number(s_.sink, c.apdu_case);
    }
    s_.sink.append("},\"name\":");
    if (c.problem == header_problem::too_short) {
      put_json_string(s_.sink, "not a command");
    } else if (name.empty()) {
      text_buffer unknown;
      unknown.put("command INS ");
      unknown.put_hex(c.ins);
      put_json_string(s_.sink, unknown.view());
    } else {
      put_json_string(s_.sink, name);
    }
    std::string_view text = reading.view();
    if (name.empty()) {
      text = {};
    } else {
      while (!text.empty() && (text.front() == ' ' || text.front() == ':'))
        text.remove_prefix(1);
    }
    if (!text.empty()) {
      s_.sink.append(",\"reading\":");
      put_json_string(s_.sink, text);
    }
  } else {
    prefix(x_.command_line);
    s_.sink.append(name);
    s_.sink.append(c.problem == header_problem::too_short ? std::string_view("(not a command)")
                                                          : reading.view());
    s_.sink.put('\n');
  }

  if (c.problem != header_problem::none) {
    std::array<char, 96> buffer{};
    note(x_.command_line, describe_header_problem(c, buffer));
  }
  if (c.problem != header_problem::too_short) put_data(c, id);
  if (!x_.has_answer) {
    note(x_.command_line, "no answer");
  } else if (!x_.has_status) {
    note(x_.answer_line, "the answer has no status word");
  }
  put_answer(c, id);
  learn(c, id);
  session.last_line =
      std::max({session.last_line, x_.command_line, x_.answer_line, x_.status_line, x_.join_line});

  if (json_) {
    if (problems_.count > 0) {
      s_.sink.append(",\"problems\":[");
      for (std::size_t i = 0; i < std::min(problems_.count, problems_.items.size()); ++i) {
        if (i > 0) s_.sink.put(',');
        put_json_string(s_.sink, {problems_.items[i].text.data(), problems_.items[i].size});
      }
      s_.sink.put(']');
    }
    s_.sink.append("}\n");
  } else {
    for (std::size_t i = 0; i < std::min(problems_.count, problems_.items.size()); ++i) {
      prefix(problems_.items[i].line);
      s_.sink.append("  problem: ");
      s_.sink.append({problems_.items[i].text.data(), problems_.items[i].size});
      s_.sink.put('\n');
    }
  }
}

void trace_run::emit_orphan_answer(std::span<const std::uint8_t> bytes, std::uint64_t number) {
  session_state& session = s_.session;
  if (session.number == 0) session.start(++sessions_);
  if (session.commands == 0) session.first_line = number;
  ++session.commands;
  session.last_line = std::max(session.last_line, number);
  problems_.count = 0;
  std::span<const std::uint8_t> data = bytes;
  bool has_status = false;
  std::uint16_t status = 0;
  if (bytes.size() >= 2 && looks_like_status(bytes[bytes.size() - 2], bytes[bytes.size() - 1])) {
    has_status = true;
    status = static_cast<std::uint16_t>(bytes[bytes.size() - 2] << 8 | bytes[bytes.size() - 1]);
    data = bytes.first(bytes.size() - 2);
  }
  note(number, "an answer with no command");
  if (json_) {
    s_.sink.append("{\"line\":");
    put_number(s_.sink, number);
    s_.sink.append(",\"response\":{\"line\":");
    put_number(s_.sink, number);
    s_.sink.put(',');
    put_json_elements(data, number);
    if (has_status) {
      s_.sink.append(",\"status\":\"");
      put_hex_byte(s_.sink, static_cast<std::uint8_t>(status >> 8));
      put_hex_byte(s_.sink, static_cast<std::uint8_t>(status & 0xFF));
      s_.sink.put('"');
      std::array<char, 80> buffer{};
      const std::string_view meaning = command_status_meaning(command_id::unknown, status, buffer);
      if (!meaning.empty()) {
        s_.sink.append(",\"status_meaning\":");
        put_json_string(s_.sink, meaning);
      }
    }
    s_.sink.append("},\"problems\":[\"an answer with no command\"]}\n");
    return;
  }
  prefix(number);
  s_.sink.append("answer with no command:\n");
  put_tree_text(data, number, 4);
  if (has_status) {
    prefix(number);
    s_.sink.append("  status: ");
    put_hex_byte(s_.sink, static_cast<std::uint8_t>(status >> 8));
    put_hex_byte(s_.sink, static_cast<std::uint8_t>(status & 0xFF));
    std::array<char, 80> buffer{};
    const std::string_view meaning = command_status_meaning(command_id::unknown, status, buffer);
    if (!meaning.empty()) {
      s_.sink.append(" (");
      s_.sink.append(meaning);
      s_.sink.put(')');
    }
    s_.sink.put('\n');
  }
  prefix(number);
  s_.sink.append("  problem: an answer with no command\n");
}

void trace_run::finish() {
  if (x_.open) emit_exchange();
  x_ = exchange{};
  s_.session.last_line = std::max(s_.session.last_line, last_line_);
  end_session();
}

bool drain(output_sink& sink, output_target out) {
  const bool written = sink.size() == 0 || out.write(out.context, sink.view().data(), sink.size());
  sink.clear();
  return written;
}

}  // namespace

int run_trace_mode(input_source in, output_target out, const tree_mode_options& options) {
  trace_mode_buffers buffers;
  return run_trace_mode(in, out, options, buffers);
}

int run_trace_mode(input_source in, output_target out, const tree_mode_options& options,
                   trace_mode_buffers& buffers) {
  trace_mode_state& state = *buffers.state;
  state.reader.reset();
  state.sink.clear();
  state.scratch.clear();
  state.session = session_state{};
  trace_run run(state, options);
  for (;;) {
    text_line line;
    text_line_reader::status got = state.reader.next(line);
    while (got == text_line_reader::status::need_input) {
      if (!drain(state.sink, out)) return 1;
      state.reader.fill(in);
      got = state.reader.next(line);
    }
    if (got != text_line_reader::status::line) {
      run.finish();
      const bool written = drain(state.sink, out);
      if (got != text_line_reader::status::end_of_input || !written) return 1;
      return options.strict && run.any_problem() ? 1 : 0;
    }
    run.take_line(line);
    if (state.sink.size() >= output_block_size && !drain(state.sink, out)) return 1;
  }
}

}  // namespace emvtlv
