#include "trace/writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "emv/elements.h"
#include "emv/payment_systems.h"
#include "trace/commands.h"
#include "trace/reading.h"
#include "writers/json_lines.h"
#include "writers/node_value.h"
#include "writers/tree_text.h"

namespace emvtlv::trace {

namespace {

// The messages of one exchange, kept for the JSON object and the session summary.
struct problem_list {
  std::array<session_problem, 8> items{};
  std::size_t count = 0;
};

}  // namespace

class trace_writer_impl {
 public:
  trace_writer_impl(trace_writer_storage& state, output_sink& sink, const trace_options& options)
      : s_(state), sink_(sink), options_(options), json_(options.json) {}

  void write(const trace_event& event);
  void write_line_problem(std::uint64_t line, std::string_view message, std::string_view id,
                          std::uint32_t column = 0);
  void finish(std::uint64_t lines);
  // Whether any session had a problem (for --strict).
  bool any_problem() const { return problems_seen_ > 0; }

 private:
  void emit_exchange(const exchange& x);
  void emit_orphan_answer(const exchange& x);
  void emit_atr(const trace_event& event);
  void start_exchange(std::uint64_t line);
  void end_session();
  void note(std::uint64_t line, std::string_view text, std::string_view id);
  void count_problem(std::uint64_t line, std::string_view text, std::string_view id);
  void count_node_problems(const tree_result& tree, std::span<const std::uint8_t> bytes,
                           std::uint64_t line);

  // Text output.
  void prefix(std::uint64_t line);
  void put_indented(std::uint64_t line, std::size_t indent);
  explain_context session_facts() const;
  // Both return whether the TLV reading is empty or broken. The text tree comes under
  // `heading` ("  answer:"), which --tag leaves out when it keeps no element.
  bool put_tree_text(std::span<const std::uint8_t> bytes, std::uint64_t line, std::size_t indent,
                     std::string_view heading = {});
  // JSON output: today's "elements" array (and nothing around it) for `bytes`.
  bool put_json_elements(std::span<const std::uint8_t> bytes, std::uint64_t line);
  // The raw bytes of an answer whose TLV reading is empty or broken.
  void put_raw_answer(std::span<const std::uint8_t> answer, std::uint64_t line);
  // Bytes as hex, masked by their tags where they parse and by `marks`.
  void put_masked_hex(std::span<const std::uint8_t> bytes, const hidden_nibbles& marks);

  void put_data(const exchange& x, const apdu_command& c, command_id id);
  void put_pin_block(std::uint64_t line, std::string_view label, std::string_view shown);
  void put_split(std::span<const std::uint8_t> list, std::string_view list_name,
                 std::span<const std::uint8_t> data, std::uint64_t line);
  void put_plain_data(std::span<const std::uint8_t> data, std::uint64_t line,
                      std::string_view note_text);
  void put_chain(const exchange& x, const apdu_command& c, command_id id);
  void put_status(std::uint16_t status, command_id id, std::uint64_t line);
  void put_answer(const exchange& x, command_id id);
  void put_answer_reading(const exchange& x, command_id id);
  void put_problems();
  // JSON: what the header says as typed values (SELECT's aid; GENERATE AC's requested
  // cryptogram and cda).
  void put_typed_reading(const apdu_command& c, command_id id);

  trace_writer_storage& s_;
  output_sink& sink_;
  const trace_options& options_;
  const bool json_;
  std::uint32_t sessions_ = 0;
  std::uint64_t read_ = 0;  // exchanges and ATRs
  problem_list problems_;
  bool json_data_open_ = false;
  std::uint64_t problems_seen_ = 0;
};

void trace_writer_impl::count_problem(std::uint64_t line, std::string_view text,
                                      std::string_view id) {
  ++problems_seen_;
  s_.session.add_problem(line, text, id);
}

// The problems of the elements shown, as the summary lists them: "50: value runs past
// the end: 10 bytes declared, 8 left" (the tag as printed, hidden digits as X).
void trace_writer_impl::count_node_problems(const tree_result& tree,
                                            std::span<const std::uint8_t> bytes,
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
    count_problem(line, std::string_view(text.data(), size + message.size()),
                  node_problem_id(node.problem));
  }
}

void trace_writer_impl::note(std::uint64_t line, std::string_view text, std::string_view id) {
  if (problems_.count < problems_.items.size()) {
    session_problem& p = problems_.items[problems_.count];
    p.line = line;
    p.id = id;
    p.size = static_cast<std::uint8_t>(std::min(text.size(), p.text.size()));
    if (p.size > 0) std::memcpy(p.text.data(), text.data(), p.size);
  }
  ++problems_.count;
  count_problem(line, text, id);
}

void trace_writer_impl::prefix(std::uint64_t line) {
  if (!options_.line_numbers) return;
  put_number(sink_, line);
  sink_.put(':');
}

// Moves the scratch text into the sink, every line indented and numbered.
void trace_writer_impl::put_indented(std::uint64_t line, std::size_t indent) {
  std::string_view text = s_.scratch.view();
  constexpr std::string_view spaces = "        ";
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t size = end == std::string_view::npos ? text.size() : end + 1;
    prefix(line);
    sink_.append(spaces.substr(0, std::min(indent, spaces.size())));
    sink_.append(text.substr(0, size));
    text.remove_prefix(size);
  }
  s_.scratch.clear();
}

// What the session knows that changes how values read: the selected AID (and so the
// kernel) and the command behind an 80 answer.
explain_context trace_writer_impl::session_facts() const {
  constexpr std::array<response_format1_reading, 4> readings{
      response_format1_reading::by_content, response_format1_reading::gpo,
      response_format1_reading::generate_ac, response_format1_reading::internal_authenticate};
  explain_context known;
  const session_state& session = s_.session;
  if (session.aid_size > 0) {
    known.aid = std::span<const std::uint8_t>(session.aid.data(), session.aid_size);
    known.kernel = session.context.kernel;
  }
  // A contact session's TVR byte 5 is not its AID's contactless kernel's.
  known.environment = session.context.environment;
  known.format1 = readings[static_cast<std::size_t>(session.context.format1)];
  return known;
}

namespace {

// A reading is broken where a node could not be read whole; a header hidden as card
// digits is masking, not a fault of the bytes.
bool reading_broken(const tree_result& tree) {
  if (tree.nodes.empty()) return true;
  for (const tree_node& node : tree.nodes)
    if (node.problem != node_problem::none && node.problem != node_problem::header_hidden)
      return true;
  return false;
}

}  // namespace

bool trace_writer_impl::put_tree_text(std::span<const std::uint8_t> bytes, std::uint64_t line,
                                      std::size_t indent, std::string_view heading) {
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
  if (!heading.empty() && (options_.tags.empty() || s_.scratch.size() > 0)) {
    prefix(line);
    sink_.append(heading);
    sink_.put('\n');
  }
  put_indented(line, indent);
  return reading_broken(tree);
}

bool trace_writer_impl::put_json_elements(std::span<const std::uint8_t> bytes, std::uint64_t line) {
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
    sink_.append(text.substr(comma + 1, text.size() - comma - 3));
  else
    sink_.append("\"elements\":[]");
  s_.scratch.clear();
  return reading_broken(tree);
}

// A value shown whole: still masked wherever it holds card-number elements.
void trace_writer_impl::put_plain_data(std::span<const std::uint8_t> data, std::uint64_t line,
                                       std::string_view note_text) {
  if (json_) {
    sink_.append("\"value\":\"");
  } else {
    prefix(line);
    sink_.append("  data: ");
  }
  char* hex = sink_.extend(2 * data.size());
  encode_hex_unchecked(data.data(), data.size(), hex);
  mask_template_value(data, std::span<char>(hex, 2 * data.size()), template_framing::tree);
  s_.command_marks.apply(data.data(), std::span<char>(hex, 2 * data.size()));
  if (json_) {
    sink_.put('"');
    if (!note_text.empty()) {
      sink_.append(",\"note\":");
      put_json_string(sink_, note_text);
    }
  } else {
    if (!note_text.empty()) {
      sink_.append(" (");
      sink_.append(note_text);
      sink_.put(')');
    }
    sink_.put('\n');
  }
}

void trace_writer_impl::put_split(std::span<const std::uint8_t> list, std::string_view list_name,
                                  std::span<const std::uint8_t> data, std::uint64_t line) {
  const split_result split = split_by_list(list, data, s_.rebuilt);
  const std::span<const std::uint8_t> rebuilt(s_.rebuilt.data(), split.written);
  if (json_) {
    sink_.append("\"list\":\"");
    sink_.append(list_name);
    sink_.append("\",");
    put_json_elements(rebuilt, line);
  } else {
    text_buffer heading;
    heading.put("  data by the ");
    heading.put(list_name);
    heading.put(":");
    put_tree_text(rebuilt, line, 4, heading.view());
  }
  text_buffer message;
  if (split.malformed) {
    message.put("the ");
    message.put(list_name);
    message.put(" cannot be read to its end");
    note(line, message.view(), "list_not_read_to_its_end");
    message.clear();
  }
  if (split.asked != data.size()) {
    message.put("the ");
    message.put(list_name);
    message.put(" asks for ");
    message.put_number(split.asked);
    message.put(" bytes, the data holds ");
    message.put_number(data.size());
    note(line, message.view(), "list_length_mismatch");
  }
  if (split.used < data.size()) {
    const std::span<const std::uint8_t> rest = data.subspan(split.used);
    if (json_) {
      sink_.append(",\"left_over\":\"");
    } else {
      prefix(line);
      sink_.append("  left over: ");
    }
    char* hex = sink_.extend(2 * rest.size());
    encode_hex_unchecked(rest.data(), rest.size(), hex);
    mask_template_value(rest, std::span<char>(hex, 2 * rest.size()), template_framing::tree);
    s_.command_marks.apply(rest.data(), std::span<char>(hex, 2 * rest.size()));
    sink_.put(json_ ? '"' : '\n');
  }
}

// What may be shown of a PIN block: JSON's "pin_block", or a text line under `label`.
void trace_writer_impl::put_pin_block(std::uint64_t line, std::string_view label,
                                      std::string_view shown) {
  if (json_) {
    sink_.append("\"pin_block\":");
    put_json_string(sink_, shown);
    return;
  }
  prefix(line);
  sink_.append(label);
  sink_.append(shown);
  sink_.put('\n');
}

void trace_writer_impl::put_data(const exchange& x, const apdu_command& c, command_id id) {
  const std::uint64_t line = x.command_line;
  const session_state& session = s_.session;
  const std::span<const std::uint8_t> data = c.data;
  s_.command_marks.scan(x.command);
  if (x.command_hidden) {
    // The log hides part of the data (a placeholder word, a lost digit): no list can
    // split it, and its bytes are not what the card got. A PIN's never show.
    const std::span<const std::uint8_t> shown =
        x.command.size() > 5 ? x.command.subspan(5) : std::span<const std::uint8_t>();
    if (json_) sink_.append(",\"data\":{");
    if (id == command_id::verify || id == command_id::pin_change_unblock)
      put_pin_block(line, "  data: ", "unreadable in the log, hidden");
    else
      put_plain_data(shown, line, "unreadable in the log: cut short");
    if (json_) sink_.put('}');
    return;
  }
  // Opens the JSON "data" object; every branch below writes its members.
  const auto open = [&] {
    if (json_) sink_.append(",\"data\":{");
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
        note(line, "the data does not start with 83 L", "data_not_83");
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
        note(line, message.view(), "length_83_mismatch");
        inner = inner.first(std::min<std::size_t>(inner.size(), data[1]));
      }
      if (session.pdol.present) {
        put_split(session.pdol.view(), "PDOL", inner, line);
      } else if (!inner.empty()) {
        put_plain_data(inner, line, "no PDOL seen: the data stays one value");
      } else if (json_) {
        sink_.append("\"value\":\"\"");
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
    case command_id::internal_authenticate:
    case command_id::compute_cryptographic_checksum: {
      if (!c.has_lc) return;
      open();
      // The card's list, or the default the kernel uses when the card gave none.
      static constexpr std::array<std::uint8_t, 3> default_ddol{0x9F, 0x37, 0x04};
      static constexpr std::array<std::uint8_t, 3> default_udol{0x9F, 0x6A, 0x04};
      const bool ddol = id == command_id::internal_authenticate;
      const stored_list& list = ddol ? session.ddol : session.udol;
      if (list.present)
        put_split(list.view(), ddol ? "DDOL" : "UDOL", data, line);
      else if (ddol)
        put_split(default_ddol, "default DDOL (9F37 04)", data, line);
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
    sink_.put('}');
    json_data_open_ = false;
  }
}

void trace_writer_impl::put_masked_hex(std::span<const std::uint8_t> bytes,
                                       const hidden_nibbles& marks) {
  char* hex = sink_.extend(2 * bytes.size());
  encode_hex_unchecked(bytes.data(), bytes.size(), hex);
  mask_template_value(bytes, std::span<char>(hex, 2 * bytes.size()), template_framing::tree, marks);
  marks.apply(bytes.data(), std::span<char>(hex, 2 * bytes.size()));
}

void trace_writer_impl::put_status(std::uint16_t status, command_id id, std::uint64_t line) {
  std::array<char, 80> buffer{};
  const std::string_view meaning = command_status_meaning(id, status, buffer);
  if (json_) {
    sink_.append("\"status\":\"");
    put_hex_byte(sink_, static_cast<std::uint8_t>(status >> 8));
    put_hex_byte(sink_, static_cast<std::uint8_t>(status & 0xFF));
    sink_.put('"');
    if (!meaning.empty()) {
      sink_.append(",\"status_meaning\":");
      put_json_string(sink_, meaning);
    }
    return;
  }
  prefix(line);
  sink_.append("  status: ");
  put_hex_byte(sink_, static_cast<std::uint8_t>(status >> 8));
  put_hex_byte(sink_, static_cast<std::uint8_t>(status & 0xFF));
  if (!meaning.empty()) {
    sink_.append(" (");
    sink_.append(meaning);
    sink_.put(')');
  }
  sink_.put('\n');
}

// The T=0 steps between the command and its answer, each on its own line.
void trace_writer_impl::put_chain(const exchange& x, const apdu_command& c, command_id id) {
  if (x.chain_count == 0) return;
  if (json_) sink_.append(",\"chain\":[");
  for (std::size_t i = 0; i < x.chain_count; ++i) {
    const chain_step& step = x.chain[i];
    if (json_) {
      if (i > 0) sink_.put(',');
      sink_.append("{\"line\":");
      put_number(sink_, step.line);
      sink_.put(',');
    }
    if (step.what == chain_step::kind::status) {
      put_status(step.status, id, step.line);
      if (json_) sink_.put('}');
      continue;
    }
    const std::uint8_t le = step.command.size() >= 5 ? step.command[step.command.size() - 1] : 0;
    const bool get_response = step.what == chain_step::kind::get_response;
    if (json_) {
      sink_.append(get_response ? "\"command\":\"GET RESPONSE\"" : "\"command\":\"resent\"");
      sink_.append(",\"le\":");
      put_number(sink_, le);
      sink_.put('}');
      continue;
    }
    prefix(step.line);
    if (get_response) {
      sink_.append("GET RESPONSE (Le ");
    } else {
      text_buffer reading;
      read_header(c, id, reading);
      sink_.append(id == command_id::unknown ? std::string_view() : command_name(id));
      sink_.append(reading.view());
      sink_.append(" (resent with Le ");
    }
    put_hex_byte(sink_, le);
    sink_.append(")\n");
  }
  if (json_) sink_.put(']');
  if (x.chain_more > 0)
    note(x.chain[x.chain_count - 1].line, "T=0 chain longer than 8 steps", "chain_too_long");
}

// The answer read by its command: GET CHALLENGE's challenge, a log record by the log
// format, else the tree (and an 80 by its command's layout), and the raw bytes when the
// tree reads nothing or breaks.
void trace_writer_impl::put_answer_reading(const exchange& x, command_id id) {
  const std::span<const std::uint8_t> answer = x.answer;
  const std::uint64_t line = x.answer_line;
  if (id == command_id::get_challenge && !answer.empty()) {
    s_.command_marks.scan(answer);
    if (json_) {
      sink_.append(",\"elements\":[],\"challenge\":\"");
    } else {
      prefix(line);
      sink_.append("  challenge: ");
    }
    put_masked_hex(answer, s_.command_marks);
    sink_.put(json_ ? '"' : '\n');
    return;
  }
  if (id == command_id::read_record && s_.session.log_sfi != 0 && !answer.empty() &&
      answer[0] != 0x70 && reads_log(s_.session, split_command(x.command), id)) {
    const split_result split = split_by_list(s_.session.log_format.view(), answer, s_.rebuilt);
    const std::span<const std::uint8_t> rebuilt(s_.rebuilt.data(), split.written);
    if (json_) {
      sink_.append(",\"elements\":[],\"log_record\":{");
      put_json_elements(rebuilt, line);
      sink_.put('}');
    } else {
      put_tree_text(rebuilt, line, 4, "  log record by the log format (9F4F):");
    }
    if (split.asked != answer.size())
      note(line, "the log record and the log format disagree in length",
           "log_record_length_mismatch");
    return;
  }
  bool broken = false;
  if (json_) {
    sink_.put(',');
    broken = put_json_elements(answer, line);
  } else if (!answer.empty()) {
    broken = put_tree_text(answer, line, 4, "  answer:");
  }
  if (broken && !answer.empty() && options_.tags.empty()) put_raw_answer(answer, line);
}

void trace_writer_impl::put_raw_answer(std::span<const std::uint8_t> answer, std::uint64_t line) {
  if (json_) {
    sink_.append(",\"raw\":\"");
  } else {
    prefix(line);
    sink_.append("  bytes: ");
  }
  s_.command_marks.scan(answer);
  put_masked_hex(answer, s_.command_marks);
  sink_.append(json_ ? "\"" : " (not read whole as TLV)\n");
}

void trace_writer_impl::put_answer(const exchange& x, command_id id) {
  const std::span<const std::uint8_t> answer = x.answer;
  // The answer, and an 80 in it, read as its command's.
  s_.session.context.format1 = format1_for(id);
  if (json_) {
    if (!x.has_answer) return;
    sink_.append(",\"response\":{\"line\":");
    put_number(sink_, x.answer_line);
  }
  // A status word logged before its data ("sw 90 00" first) prints first.
  const bool status_first = x.has_status && x.status_line < x.answer_line;
  if (status_first && !json_) put_status(x.status, id, x.status_line);
  put_answer_reading(x, id);
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
        sink_.append(",\"format1\":{\"read_after\":");
        put_json_string(sink_, name);
        sink_.put(',');
        put_json_elements(rebuilt, x.answer_line);
        sink_.put('}');
      } else {
        text_buffer heading;
        heading.put("  80 read as the answer to ");
        heading.put(name);
        heading.put(":");
        put_tree_text(rebuilt, x.answer_line, 4, heading.view());
      }
      if (split.used < node.value_size || (id == command_id::generate_ac && node.value_size < 11) ||
          (id == command_id::get_processing_options &&
           (node.value_size < 2 || (node.value_size - 2) % 4 != 0))) {
        note(x.answer_line, "the 80 answer does not have its command's layout",
             "format1_layout_mismatch");
      }
    }
  }
  if (x.answer_odd)
    note(x.answer_line, "odd number of hex digits: the last one is dropped",
         "odd_number_of_hex_digits");
  if (x.answer_cut)
    note(x.answer_line, "joined answer longer than 65536 bytes: cut", "joined_answer_too_long");
  if (x.has_status && !(status_first && !json_)) {
    if (json_) sink_.put(',');
    put_status(x.status, id, x.status_line);
    if (json_ && x.status_line != x.answer_line) {
      sink_.append(",\"status_line\":");
      put_number(sink_, x.status_line);
    }
  }
  if (json_ && x.chain_count > 0) {
    // The last step names how the answer was completed.
    const chain_step& last = x.chain[x.chain_count - 1];
    bool get_response = false;
    for (std::size_t i = 0; i < x.chain_count; ++i)
      get_response = get_response || x.chain[i].what == chain_step::kind::get_response;
    sink_.append(get_response ? ",\"joined\":\"GET RESPONSE\"" : ",\"joined\":\"resent\"");
    sink_.append(",\"join_line\":");
    put_number(sink_, last.line);
  }
  if (json_) sink_.put('}');
}

void trace_writer_impl::end_session() {
  session_state& session = s_.session;
  const summary_part extra = options_.summary_extra;
  if (session.commands > 0) {
    if (json_) {
      write_summary_json(session, sink_, extra);
    } else {
      write_summary_text(session, summary_options{options_.line_numbers}, sink_, extra);
    }
  }
  session.start(++sessions_);
  if (extra.start != nullptr) extra.start(extra.context);
}

// Counts the exchange in its session, ending the session before it when it starts one.
void trace_writer_impl::start_exchange(std::uint64_t line) {
  session_state& session = s_.session;
  if (session.number == 0) session.start(++sessions_);
  if (session.commands == 0) session.first_line = line;
  ++session.commands;
  ++read_;
  problems_.count = 0;
}

void trace_writer_impl::put_problems() {
  if (json_) {
    if (problems_.count > 0) {
      sink_.append(",\"problems\":");
      put_problems_json({problems_.items.data(), std::min(problems_.count, problems_.items.size())},
                        sink_);
    }
    sink_.append("}\n");
    return;
  }
  for (std::size_t i = 0; i < std::min(problems_.count, problems_.items.size()); ++i) {
    prefix(problems_.items[i].line);
    sink_.append("  problem: ");
    sink_.append({problems_.items[i].text.data(), problems_.items[i].size});
    sink_.put('\n');
  }
}

void trace_writer_impl::put_typed_reading(const apdu_command& c, command_id id) {
  if (id == command_id::select && c.p1 == 0x04 && c.data.size() >= 5 && c.data.size() <= 16 &&
      environment_of(c.data) == payment_environment::none) {
    sink_.append(",\"aid\":\"");
    char* hex = sink_.extend(2 * c.data.size());
    encode_hex_unchecked(c.data.data(), c.data.size(), hex);
    sink_.put('"');
  } else if (id == command_id::generate_ac) {
    sink_.append(",\"requested\":\"");
    sink_.append(cryptogram_name(requested_type(c.p1)));
    sink_.append((c.p1 & 0x10) != 0 ? "\",\"cda\":true" : "\",\"cda\":false");
  }
}

void trace_writer_impl::emit_exchange(const exchange& x) {
  const apdu_command c = split_command(x.command);
  const command_id id = identify(c);
  session_state& session = s_.session;

  // A session ends at a SELECT of the PSE or PPSE, and at a SELECT of an application
  // after a GENERATE AC.
  if (id == command_id::select && session.commands > 0) {
    const bool environment = environment_of(c.data) != payment_environment::none;
    if (environment || session.generate_acs > 0) end_session();
  }
  start_exchange(x.command_line);
  if (id == command_id::select && session.applications > 0 && c.p1 == 0x04 &&
      environment_of(c.data) == payment_environment::none && x.has_status && x.status == 0x9000) {
    note(x.command_line, "another application selected", "another_application_selected");
  }

  text_buffer reading;
  read_header(c, id, reading);
  const std::string_view name = command_name(id);
  if (json_) {
    sink_.append("{\"line\":");
    put_number(sink_, x.command_line);
    // A line too short for a header has no fields to give.
    sink_.append(",\"command\":{");
    if (c.problem != header_problem::too_short) {
      sink_.append("\"cla\":");
      put_number(sink_, c.cla);
      sink_.append(",\"ins\":");
      put_number(sink_, c.ins);
      sink_.append(",\"p1\":");
      put_number(sink_, c.p1);
      sink_.append(",\"p2\":");
      put_number(sink_, c.p2);
    }
    if (c.has_lc) {
      sink_.append(",\"lc\":");
      put_number(sink_, c.lc);
    }
    if (c.has_le) {
      sink_.append(",\"le\":");
      put_number(sink_, c.le);
    }
    if (c.apdu_case != 0) {
      sink_.append(",\"case\":");
      put_number(sink_, c.apdu_case);
    }
    sink_.append("},\"name\":");
    if (c.problem == header_problem::too_short) {
      put_json_string(sink_, "not a command");
    } else if (name.empty()) {
      text_buffer unknown;
      unknown.put("command INS ");
      unknown.put_hex(c.ins);
      put_json_string(sink_, unknown.view());
    } else {
      put_json_string(sink_, name);
    }
    std::string_view text = reading.view();
    if (name.empty()) {
      text = {};
    } else {
      while (!text.empty() && (text.front() == ' ' || text.front() == ':'))
        text.remove_prefix(1);
    }
    if (!text.empty()) {
      sink_.append(",\"reading\":");
      put_json_string(sink_, text);
    }
    put_typed_reading(c, id);
  } else {
    prefix(x.command_line);
    sink_.append(name);
    sink_.append(c.problem == header_problem::too_short ? std::string_view("(not a command)")
                                                        : reading.view());
    sink_.put('\n');
  }

  if (c.problem != header_problem::none && !x.command_hidden) {
    std::array<char, 96> buffer{};
    note(x.command_line, describe_header_problem(c, buffer), header_problem_id(c.problem));
  }
  if (x.command_hidden)
    note(x.command_line, "the log hides part of the command's data", "command_data_hidden");
  if (x.command_odd)
    note(x.command_line, "odd number of hex digits: the last one is dropped",
         "odd_number_of_hex_digits");
  if (c.problem != header_problem::too_short) put_data(x, c, id);
  put_chain(x, c, id);
  if (!x.has_answer) {
    note(x.command_line, "no answer logged", "no_answer_logged");
  } else if (!x.has_status) {
    note(x.answer_line, "the answer has no status word", "no_status_word");
  }
  put_answer(x, id);
  learn(session, c, id, x, s_.parser, s_.rebuilt);
  session.last_line = std::max(session.last_line, x.last_line());
  put_problems();
}

void trace_writer_impl::emit_orphan_answer(const exchange& x) {
  const std::uint64_t line = x.answer_line;
  start_exchange(line);
  s_.session.last_line = std::max(s_.session.last_line, x.last_line());
  s_.session.context.format1 = format1_layout::none;
  note(line, "an answer with no command", "answer_without_command");
  if (x.answer_odd)
    note(line, "odd number of hex digits: the last one is dropped", "odd_number_of_hex_digits");
  if (json_) {
    sink_.append("{\"line\":");
    put_number(sink_, line);
    sink_.append(",\"response\":{\"line\":");
    put_number(sink_, line);
    put_answer_reading(x, command_id::unknown);
    if (x.has_status) {
      sink_.put(',');
      put_status(x.status, command_id::unknown, x.status_line);
    }
    sink_.put('}');
    put_problems();
    return;
  }
  prefix(line);
  sink_.append("answer with no command:\n");
  if (!x.answer.empty() && put_tree_text(x.answer, line, 4) && options_.tags.empty())
    put_raw_answer(x.answer, line);
  if (x.has_status) put_status(x.status, command_id::unknown, x.status_line);
  put_problems();
}

void trace_writer_impl::emit_atr(const trace_event& event) {
  ++read_;
  s_.command_marks.scan(event.bytes);
  if (json_) {
    sink_.append("{\"line\":");
    put_number(sink_, event.line);
    sink_.append(",\"atr\":\"");
    put_masked_hex(event.bytes, s_.command_marks);
    sink_.append("\"}\n");
    return;
  }
  prefix(event.line);
  sink_.append("ATR: ");
  put_masked_hex(event.bytes, s_.command_marks);
  sink_.put('\n');
}

void trace_writer_impl::write_line_problem(std::uint64_t line, std::string_view message,
                                           std::string_view id, std::uint32_t column) {
  if (json_) {
    sink_.append("{\"line\":");
    put_number(sink_, line);
    sink_.append(",\"error\":{\"message\":");
    put_json_string(sink_, message);
    sink_.append(",\"problem_id\":\"");
    sink_.append(id);
    sink_.put('"');
    if (column > 0) {
      sink_.append(",\"column\":");
      put_number(sink_, column);
    }
    sink_.append("}}\n");
  } else {
    prefix(line);
    sink_.append("line ");
    put_number(sink_, line);
    sink_.append(": ");
    sink_.append(message);
    sink_.put('\n');
  }
  count_problem(line, message, id);
}

void trace_writer_impl::write(const trace_event& event) {
  switch (event.what) {
    case trace_event::kind::exchange:
      if (event.done->has_command)
        emit_exchange(*event.done);
      else
        emit_orphan_answer(*event.done);
      return;
    case trace_event::kind::atr:
      emit_atr(event);
      return;
    case trace_event::kind::unused:
      write_line_problem(event.line, event.message, event.problem_id, event.column);
      return;
  }
}

void trace_writer_impl::finish(std::uint64_t lines) {
  if (read_ == 0 && lines > 0) {
    // Never silent: a log of which nothing was read says so, with its summary.
    text_buffer message;
    message.put("no command or answer read in ");
    message.put_number(lines);
    message.put(lines == 1 ? " line" : " lines");
    if (s_.session.number == 0) s_.session.start(++sessions_);
    if (json_) {
      write_line_problem(lines, message.view(), "nothing_read");
    } else {
      prefix(lines);
      sink_.append(message.view());
      sink_.put('\n');
      count_problem(lines, message.view(), "nothing_read");
    }
    s_.session.first_line = 1;
    s_.session.last_line = lines;
    if (json_)
      write_summary_json(s_.session, sink_);
    else
      write_summary_text(s_.session, summary_options{options_.line_numbers}, sink_);
    return;
  }
  s_.session.last_line = std::max(s_.session.last_line, lines);
  end_session();
}

trace_writer::trace_writer(trace_writer_storage& storage, output_sink& out,
                           const trace_options& options)
    : impl_(std::make_unique<trace_writer_impl>(storage, out, options)) {
  storage.session = session_state{};
}

trace_writer::~trace_writer() = default;

void trace_writer::write(const trace_event& event) {
  impl_->write(event);
}

void trace_writer::write_line_problem(std::uint64_t line, std::string_view message,
                                      std::string_view problem_id) {
  impl_->write_line_problem(line, message, problem_id);
}

void trace_writer::finish(std::uint64_t lines) {
  impl_->finish(lines);
}

bool trace_writer::any_problem() const {
  return impl_->any_problem();
}

}  // namespace emvtlv::trace
