#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstring>

#ifndef EMVTLV_VERSION
#error "EMVTLV_VERSION comes from project() in CMakeLists.txt"
#endif

namespace emvtlv::cli {
namespace {

struct option_row {
  const char* long_name;
  char short_name;
  const char* help;  // one line of --help
};

constexpr std::array option_table = {
    option_row{"tree", 't', "decode each line as a BER-TLV tree, naming every EMV tag"},
    option_row{"json", 'j', "write the tree as JSON Lines, one object per input line"},
    option_row{"explain", 'x', "explain bits, dates, codes and lists (implies -t)"},
    option_row{"apdu", 'a', "read the input as a card session log: commands and answers"},
    option_row{"quiet", 'q', "print only the element lines and messages"},
    option_row{"line-number", 'n', "start each line with its input line's number and ':'"},
    option_row{"help", 'h', "print this help and exit"},
    option_row{"version", 'V', "print the version and exit"},
};

constexpr std::string_view try_help = "Try 'emvtlv --help' for more information.\n";

// The table as getopt_long wants it: long options ending in a row of zeros, and the
// short ones after a ':' (so a missing argument is told apart from a bad option).
struct getopt_tables {
  std::array<::option, option_table.size() + 1> long_options{};
  std::array<char, option_table.size() + 2> short_options{};
};

constexpr getopt_tables make_getopt_tables() {
  getopt_tables tables;
  tables.short_options[0] = ':';
  for (std::size_t i = 0; i < option_table.size(); ++i) {
    tables.long_options[i] = {option_table[i].long_name, no_argument, nullptr,
                              option_table[i].short_name};
    tables.short_options[i + 1] = option_table[i].short_name;
  }
  return tables;
}

constexpr getopt_tables tables = make_getopt_tables();

const option_row* find_row(int short_name) {
  const auto* row = std::find_if(option_table.begin(), option_table.end(),
                                 [&](const option_row& r) { return r.short_name == short_name; });
  return row == option_table.end() ? nullptr : row;
}

parse_result usage_error(std::string complaint) {
  parse_result result;
  result.run = false;
  result.exit_status = exit_usage;
  result.err = "emvtlv: " + complaint + "\n" + std::string(try_help);
  return result;
}

// What getopt found wrong, in the words GNU tools use. `word` is the argument it was
// looking at when it gave up on a long option.
parse_result complain(int code, int bad_option, const char* word) {
  const option_row* row = find_row(bad_option);
  const bool long_form = std::strncmp(word, "--", 2) == 0;
  if (code == ':') {
    if (long_form && row != nullptr)
      return usage_error("option '--" + std::string(row->long_name) + "' requires an argument");
    return usage_error("option requires an argument -- '" +
                       std::string(1, static_cast<char>(bad_option)) + "'");
  }
  if (bad_option == 0) return usage_error("unrecognized option '" + std::string(word) + "'");
  // A listed option refused here can only be a long one given "=value".
  if (row != nullptr)
    return usage_error("option '--" + std::string(row->long_name) + "' doesn't allow an argument");
  return usage_error("invalid option -- '" + std::string(1, static_cast<char>(bad_option)) + "'");
}

parse_result exit_with(std::string text) {
  parse_result result;
  result.run = false;
  result.out = std::move(text);
  return result;
}

}  // namespace

parse_result parse_command_line(int argc, char* argv[]) {
  parse_result result;
  bool tree_asked = false;
  bool json_asked = false;
  bool trace_asked = false;
  ::opterr = 0;  // we word the complaints ourselves
  ::optind = 0;  // 0, not 1: makes glibc start afresh, as every call must
  for (;;) {
    const int code =
        ::getopt_long(argc, argv, tables.short_options.data(), tables.long_options.data(), nullptr);
    if (code == -1) break;
    switch (code) {
      case 't':
        tree_asked = true;
        break;
      case 'j':
        json_asked = true;
        break;
      case 'a':
        trace_asked = true;
        break;
      case 'x':
        result.chosen.tree.explain = true;
        break;
      case 'q':
        result.chosen.console.quiet = true;
        break;
      case 'n':
        result.chosen.console.line_numbers = true;
        break;
      case 'h':
        return exit_with(help_text());
      case 'V':
        return exit_with(version_text());
      default:
        return complain(code, ::optopt, argv[::optind - 1]);
    }
  }
  // JSON is the tree written for scripts; explaining needs the tree.
  if (json_asked) result.chosen.tree.output = tree_mode_options::format::json;
  if (trace_asked) {
    result.chosen.run_mode = mode::trace;
  } else if (json_asked) {
    result.chosen.run_mode = mode::json;
    result.chosen.tree.output = tree_mode_options::format::json;
  } else if (tree_asked || result.chosen.tree.explain) {
    result.chosen.run_mode = mode::tree;
  }
  result.chosen.tree.line_numbers = result.chosen.console.line_numbers && !json_asked;
  result.chosen.files =
      std::span<char* const>(argv + ::optind, static_cast<std::size_t>(argc - ::optind));
  return result;
}

std::string help_text() {
  std::string text =
      "Usage: emvtlv [OPTION]... [FILE]...\n"
      "Decode EMV payment-card records, one per line as hex text, and print each\n"
      "BER-TLV element's name and value; card numbers are masked.\n"
      "FILEs are read in order as one input; with no FILE, or when FILE is -, read\n"
      "standard input. Unless -q is given, the banner and prompts are printed too\n"
      "(with -t or -x, a prompt only when standard input is a terminal).\n\n";
  for (const option_row& row : option_table) {
    std::string left = std::string("  -") + row.short_name + ", --" + row.long_name;
    left.resize(std::max<std::size_t>(left.size() + 2, 22), ' ');
    text += left + row.help + "\n";
  }
  text +=
      "\nExit status: 0 if all went well, 1 if a FILE could not be read or the output\n"
      "could not be written, 2 for a bad option.\n"
      "The manual: man emvtlv\n";
  return text;
}

std::string version_text() {
  return "emvtlv " EMVTLV_VERSION "\n";
}

}  // namespace emvtlv::cli
