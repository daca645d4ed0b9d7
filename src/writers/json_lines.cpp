#include "writers/json_lines.h"

#include <array>

#include "common/hex.h"
#include "writers/node_value.h"

namespace emvtlv {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8_sequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;  // no surrogates
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

// The explanation items of one node: level-(n+1) items nest in an "items" array
// under the level-n item before them. After the first item one object always stands
// open, awaiting either its "items" or its closing brace.
struct json_explain {
  output_sink* out;
  std::uint32_t depth = 0;  // open "items" arrays
  bool any = false;
};

// `,"KEY":"TEXT"` when `text` is not empty.
void put_json_field(output_sink& out, std::string_view key, std::string_view text) {
  if (text.empty()) return;
  out.append(key);
  put_json_string(out, text);
}

void put_json_number(output_sink& out, std::string_view key, std::uint64_t n) {
  out.append(key);
  put_number(out, n);
}

// The typed facts beside the text, each only when the item has it.
void put_json_facts(output_sink& out, explain_kind kind, const explain_facts& facts) {
  put_json_field(out, kind == explain_kind::problem ? ",\"problem_id\":" : ",\"id\":", facts.id);
  if (facts.byte != 0) {
    put_json_number(out, ",\"byte\":", facts.byte);
    put_json_number(out, ",\"bit\":", facts.bit);
  }
  if (facts.has_number) put_json_number(out, ",\"number\":", facts.number);
  if (facts.exponent >= 0)
    put_json_number(out, ",\"exponent\":", static_cast<std::uint64_t>(facts.exponent));
  if (facts.first_record != 0) {
    put_json_number(out, ",\"first_record\":", facts.first_record);
    put_json_number(out, ",\"last_record\":", facts.last_record);
  }
  put_json_field(out, ",\"amount\":", facts.amount);
  put_json_field(out, ",\"currency\":", facts.currency);
  put_json_field(out, ",\"date\":", facts.date);
  put_json_field(out, ",\"code\":", facts.code);
  put_json_field(out, ",\"cryptogram\":", facts.cryptogram);
}

void put_json_item(void* context, explain_kind kind, std::uint32_t level, std::string_view label,
                   std::string_view text, const explain_facts& facts) {
  auto& state = *static_cast<json_explain*>(context);
  output_sink& out = *state.out;
  constexpr std::array<std::string_view, 7> kinds = {"meaning", "bit",     "rfu", "field",
                                                     "entry",   "problem", "none"};
  if (!state.any) {
    out.append(",\"explain\":[");
    state.any = true;
  } else if (level > state.depth) {
    // Levels step one at a time, so a jump nests under the item before it.
    out.append(",\"items\":[");
    ++state.depth;
  } else {
    out.put('}');
    for (; state.depth > level; --state.depth)
      out.append("]}");
    out.put(',');
  }
  out.append("{\"kind\":\"");
  out.append(kinds[static_cast<std::size_t>(kind) % kinds.size()]);
  out.put('"');
  if (!label.empty()) {
    out.append(",\"label\":");
    put_json_string(out, label);
  }
  out.append(",\"text\":");
  put_json_string(out, text);
  put_json_facts(out, kind, facts);
}

void finish_explain(json_explain& state) {
  if (!state.any) return;
  state.out->put('}');
  for (; state.depth > 0; --state.depth)
    state.out->append("]}");
  state.out->put(']');
}

// Stable ids of the node problems, by node_problem (none has none).
constexpr std::array<std::string_view, 7> node_problem_ids = {
    "",
    "value_runs_past_end",
    "indefinite_length",
    "length_field_too_long",
    "length_runs_past_end",
    "tag_runs_past_end",
    "card_digits_where_a_header_would_be"};
static_assert(node_problem_ids.size() == static_cast<std::size_t>(node_problem::header_hidden) + 1);

void put_problem(const tree_node& node, output_sink& out) {
  std::array<char, 96> buffer{};
  out.append(",\"problem\":");
  put_json_string(out, describe_problem(node, buffer));
  out.append(",\"problem_id\":\"");
  out.append(node_problem_ids[static_cast<std::size_t>(node.problem) % node_problem_ids.size()]);
  out.put('"');
}

}  // namespace

void put_json_string(output_sink& out, std::string_view text) {
  out.put('"');
  std::size_t i = 0;
  while (i < text.size()) {
    // Plain runs go out in one piece.
    std::size_t run = i;
    while (run < text.size()) {
      const auto c = static_cast<unsigned char>(text[run]);
      if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') break;
      ++run;
    }
    out.append(text.substr(i, run - i));
    i = run;
    if (i == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out.put('\\');
      out.put(static_cast<char>(c));
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      out.append("\\u00");
      put_hex_byte(out, c);
      ++i;
    } else if (const std::size_t n = utf8_sequence(text.substr(i)); n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out.append("\\uFFFD");
      ++i;
    }
  }
  out.put('"');
}

void write_json_line(const hex_line& line, const tree_result& tree, const json_options& options,
                     output_sink& out) {
  out.append("{\"line\":");
  put_number(out, line.number);
  if (line.what == hex_line::kind::bad) {
    out.append(",\"error\":{\"message\":");
    put_json_string(out, line.message);
    if (!line.problem_id.empty()) {
      out.append(",\"problem_id\":\"");
      out.append(line.problem_id);
      out.put('"');
    }
    if (line.column > 0) {
      out.append(",\"column\":");
      put_number(out, line.column);
    }
    out.append("}}\n");
    return;
  }
  out.append(",\"elements\":[");
  if (line.what == hex_line::kind::record) {
    const std::span<const std::uint8_t> record = line.bytes;
    // Between two nodes the text so far is whole, and may be passed on.
    const explain_context context = context_of(tree, record, options.known);
    std::uint32_t depth = 0;  // open "elements" arrays below the top
    bool first = true;
    for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
      const tree_node& node = tree.nodes[i];
      if (options.marks != nullptr && options.marks[i] == node_mark::dropped) continue;
      out.spill_if_over(spill_bound);
      for (; depth > node.depth; --depth) {
        out.append("]}");
        first = false;  // the template just closed was an element of this level
      }
      if (!first) out.put(',');
      first = false;
      out.append("{\"tag\":\"");
      put_node_tag(node, record, *tree.hidden, out);
      out.put('"');
      const std::string_view name =
          node.problem == node_problem::tag_cut_short || node.problem == node_problem::header_hidden
              ? std::string_view()
              : node_name(node, record, context);
      if (!name.empty()) {
        out.append(",\"name\":");
        put_json_string(out, name);
      }
      out.append(",\"length\":");
      put_number(out, node.declared);
      out.append(",\"offset\":");
      put_number(out, node.offset);
      if (node.problem != node_problem::none) put_problem(node, out);
      if (shows_value(node)) {
        out.append(",\"value\":\"");
        // "masked" promises an X in the value: a card number too short to hide any
        // digit, or one cut to its last four, is printed whole and not flagged.
        const std::size_t value_start = out.size();
        const bool masked = put_node_value(node, record, *tree.hidden, out) &&
                            out.view().substr(value_start).find('X') != std::string_view::npos;
        out.put('"');
        if (masked) out.append(",\"masked\":true");
        if (options.explain && node.problem == node_problem::none) {
          json_explain state{&out};
          explain_value(node.tag, record.subspan(node.value_offset, node.value_size), node.declared,
                        context, explain_output{&state, put_json_item});
          finish_explain(state);
        }
        out.put('}');
      } else {
        // A template: its children follow in the node list, one level deeper.
        out.append(",\"elements\":[");
        ++depth;
        first = true;
      }
    }
    while (depth > 0) {
      out.append("]}");
      --depth;
    }
  }
  out.put(']');
  if (tree.has_status && line.what == hex_line::kind::record) {
    out.append(",\"status\":\"");
    put_hex_byte(out, static_cast<std::uint8_t>(tree.status >> 8));
    put_hex_byte(out, static_cast<std::uint8_t>(tree.status & 0xFF));
    out.put('"');
    const std::string_view meaning = status_meaning(tree.status);
    if (!meaning.empty()) {
      out.append(",\"status_meaning\":");
      put_json_string(out, meaning);
    }
  }
  out.append("}\n");
}

}  // namespace emvtlv
