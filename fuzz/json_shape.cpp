#include "json_shape.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include <nlohmann/json.hpp>

namespace emvtlv {
namespace {

using json = nlohmann::json;

enum class shape : unsigned char { node, item };

// A node or item waiting to be checked, with where it stands for the message: its depth
// and its place in the line (they are checked in the order they stand).
struct pending {
  const json* value;
  shape what;
  std::size_t depth;
};

std::string place(shape what, std::size_t number, std::size_t depth) {
  return std::string(what == shape::node ? "element " : "explain item ") + std::to_string(number) +
         " (depth " + std::to_string(depth) + ")";
}

bool is_upper_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Two characters a byte; `mask` also allows X (a masked digit); `at_least` bytes.
bool is_hex_string(const json& value, bool mask, std::size_t at_least) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  if (text.size() % 2 != 0 || text.size() < 2 * at_least) return false;
  return std::all_of(text.begin(), text.end(),
                     [mask](char c) { return is_upper_hex(c) || (mask && c == 'X'); });
}

bool is_text(const json& value, bool may_be_empty) {
  return value.is_string() && (may_be_empty || !value.get_ref<const std::string&>().empty());
}

bool is_count(const json& value, std::uint64_t at_least) {
  return value.is_number_unsigned() && value.get<std::uint64_t>() >= at_least;
}

// Checks every key of `object` is one of `allowed`.
template <std::size_t N>
bool only_keys(const json& object, const std::array<std::string_view, N>& allowed,
               const std::string& where, std::string& why) {
  for (const auto& [key, value] : object.items()) {
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      why = where + ": unexpected key \"" + key + "\"";
      return false;
    }
  }
  return true;
}

bool fail(std::string& why, const std::string& where, std::string_view what) {
  why = where + ": " + std::string(what);
  return false;
}

// Queues an array's members for checking, last first, so they come out in order.
bool queue_array(const json& array, shape what, bool may_be_empty, std::size_t depth,
                 const std::string& where, std::vector<pending>& queue, std::string& why) {
  if (!array.is_array()) return fail(why, where, "not an array");
  if (!may_be_empty && array.empty()) return fail(why, where, "empty array");
  for (std::size_t i = array.size(); i-- > 0;)
    queue.push_back({&array[i], what, depth});
  return true;
}

bool check_node(const json& node, std::size_t depth, const std::string& where,
                std::vector<pending>& queue, std::string& why) {
  static constexpr std::array<std::string_view, 10> keys = {
      "tag",        "name",     "length", "offset", "problem",
      "problem_id", "elements", "value",  "masked", "explain"};
  if (!node.is_object()) return fail(why, where, "node is not an object");
  if (!only_keys(node, keys, where, why)) return false;
  if (!node.contains("tag") || !is_hex_string(node["tag"], true, 1))
    return fail(why, where, "tag missing or not upper-case hex");
  if (node.contains("name") && !is_text(node["name"], false))
    return fail(why, where, "name not a non-empty string");
  if (!node.contains("length") || !is_count(node["length"], 0))
    return fail(why, where, "length missing or not an integer >= 0");
  if (!node.contains("offset") || !is_count(node["offset"], 0))
    return fail(why, where, "offset missing or not an integer >= 0");
  if (node.contains("problem") && !is_text(node["problem"], false))
    return fail(why, where, "problem not a non-empty string");
  if (node.contains("problem") != node.contains("problem_id") ||
      (node.contains("problem_id") && !is_text(node["problem_id"], false)))
    return fail(why, where, "problem_id missing, alone or not a non-empty string");
  const bool has_elements = node.contains("elements");
  const bool has_value = node.contains("value");
  if (has_elements == has_value) return fail(why, where, "needs exactly one of elements, value");
  if (has_elements) {
    if (node.contains("masked") || node.contains("explain"))
      return fail(why, where, "masked or explain on a template");
    return queue_array(node["elements"], shape::node, true, depth + 1, where, queue, why);
  }
  if (!is_hex_string(node["value"], true, 0))
    return fail(why, where, "value not upper-case hex (or X)");
  if (node.contains("masked") && node["masked"] != json(true))
    return fail(why, where, "masked present but not true");
  if (node.contains("explain"))
    return queue_array(node["explain"], shape::item, false, 0, where, queue, why);
  return true;
}

bool check_item(const json& item, std::size_t depth, const std::string& where,
                std::vector<pending>& queue, std::string& why) {
  static constexpr std::array<std::string_view, 4> keys = {"kind", "label", "text", "items"};
  // The typed facts beside the text.
  static constexpr std::array<std::string_view, 5> numbers = {"byte", "bit", "number", "exponent",
                                                              "first_record"};
  static constexpr std::array<std::string_view, 9> texts = {
      "id",   "problem_id", "amount",         "currency", "date",
      "code", "cryptogram", "payment_system", "kernel"};
  static constexpr std::array<std::string_view, 7> kinds = {"meaning", "bit",     "rfu", "field",
                                                            "entry",   "problem", "none"};
  if (!item.is_object()) return fail(why, where, "item is not an object");
  for (const auto& [key, value] : item.items()) {
    const bool is_number_key =
        std::find(numbers.begin(), numbers.end(), key) != numbers.end() || key == "last_record";
    if (is_number_key && !is_count(value, 0))
      return fail(why, where, "\"" + key + "\" not an integer >= 0");
    if (std::find(texts.begin(), texts.end(), key) != texts.end() && !is_text(value, false))
      return fail(why, where, "\"" + key + "\" not a non-empty string");
    if (!is_number_key && std::find(texts.begin(), texts.end(), key) == texts.end() &&
        std::find(keys.begin(), keys.end(), key) == keys.end())
      return fail(why, where, "unexpected key \"" + key + "\"");
  }
  if (!item.contains("kind") || !item["kind"].is_string() ||
      std::find(kinds.begin(), kinds.end(), item["kind"].get_ref<const std::string&>()) ==
          kinds.end())
    return fail(why, where, "kind missing or not one of the seven kinds");
  if (item.contains("label") && !is_text(item["label"], false))
    return fail(why, where, "label not a non-empty string");
  if (!item.contains("text") || !is_text(item["text"], true))
    return fail(why, where, "text missing or not a string");
  if (item.contains("items"))
    return queue_array(item["items"], shape::item, false, depth + 1, where, queue, why);
  return true;
}

bool check_top(const json& top, std::vector<pending>& queue, std::string& why) {
  static constexpr std::array<std::string_view, 5> keys = {"line", "elements", "status",
                                                           "status_meaning", "error"};
  const std::string where = "(top)";
  if (!top.is_object()) return fail(why, where, "not an object");
  if (!only_keys(top, keys, where, why)) return false;
  if (!top.contains("line") || !is_count(top["line"], 1))
    return fail(why, where, "line missing or not an integer >= 1");
  const bool has_elements = top.contains("elements");
  if (has_elements == top.contains("error"))
    return fail(why, where, "needs exactly one of elements, error");
  if (top.contains("status")) {
    if (!has_elements) return fail(why, where, "status without elements");
    if (!is_hex_string(top["status"], false, 2) ||
        top["status"].get_ref<const std::string&>().size() != 4)
      return fail(why, where, "status not 4 upper-case hex digits");
  }
  if (top.contains("status_meaning") &&
      (!top.contains("status") || !is_text(top["status_meaning"], false)))
    return fail(why, where, "status_meaning without status, or not a non-empty string");
  if (!has_elements) {
    const json& error = top["error"];
    static constexpr std::array<std::string_view, 3> error_keys = {"message", "column",
                                                                   "problem_id"};
    if (!error.is_object()) return fail(why, "error", "not an object");
    if (!only_keys(error, error_keys, "error", why)) return false;
    if (!error.contains("message") || !is_text(error["message"], false))
      return fail(why, "error", "message missing or not a non-empty string");
    if (error.contains("column") && !is_count(error["column"], 1))
      return fail(why, "error", "column not an integer >= 1");
    return true;
  }
  return queue_array(top["elements"], shape::node, true, 0, "elements", queue, why);
}

}  // namespace

bool json_line_matches_shape(std::string_view line, std::string& why) {
  if (line.find('\n') != std::string_view::npos) return fail(why, "(line)", "holds a newline");
  // nlohmann keeps the last of two equal keys without a word: count them while parsing.
  std::vector<std::vector<std::string>> open_keys;
  std::string duplicate;
  const json::parser_callback_t watch_keys = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) {
      open_keys.emplace_back();
    } else if (event == json::parse_event_t::object_end) {
      if (!open_keys.empty()) open_keys.pop_back();
    } else if (event == json::parse_event_t::key && !open_keys.empty()) {
      const std::string& key = parsed.get_ref<const std::string&>();
      auto& seen = open_keys.back();
      if (std::find(seen.begin(), seen.end(), key) != seen.end() && duplicate.empty())
        duplicate = key;
      seen.push_back(key);
    }
    return true;
  };
  const json top = json::parse(line.begin(), line.end(), watch_keys, /*allow_exceptions=*/false);
  if (top.is_discarded()) return fail(why, "(line)", "not one JSON value in UTF-8");
  if (!duplicate.empty()) return fail(why, "(line)", "key \"" + duplicate + "\" appears twice");

  std::vector<pending> queue;
  if (!check_top(top, queue, why)) return false;
  std::array<std::size_t, 2> checked{};  // nodes, items
  while (!queue.empty()) {
    const pending next = queue.back();
    queue.pop_back();
    const auto kind = static_cast<std::size_t>(next.what);
    const std::string where = place(next.what, ++checked[kind], next.depth);
    const bool good = next.what == shape::node
                          ? check_node(*next.value, next.depth, where, queue, why)
                          : check_item(*next.value, next.depth, where, queue, why);
    if (!good) return false;
  }
  why.clear();
  return true;
}

}  // namespace emvtlv
