#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "cli/value_record.h"

#ifndef EMVTLV_VERSION
#error "EMVTLV_VERSION comes from project() in CMakeLists.txt"
#endif

namespace emvtlv::cli {
namespace {

// Options that have no short form get a code past every character.
constexpr int tag_option = 256;
constexpr int strict_option = 257;
constexpr int no_filename_option = 258;
constexpr int value_option = 259;
constexpr int kernel_option = 260;
constexpr int ca_keys_option = 261;

struct option_row {
  const char* long_name;
  int code;                        // the short option's character, or a code above
  const char* argument = nullptr;  // the argument's name in --help, when it takes one
  const char* help = "";           // one line of --help
};

constexpr std::array option_table = {
    option_row{"tree", 't', nullptr, "decode each line as a BER-TLV tree, naming EMV tags"},
    option_row{"json", 'j', nullptr, "the tree as JSON Lines, one object per input line"},
    option_row{"paths", 'p', nullptr, "one line per element: its path of tags and its value"},
    option_row{"explain", 'x', nullptr, "explain bits, dates, codes and lists (implies -t)"},
    option_row{"tag", tag_option, "TAG[,TAG...]",
               "only these elements, at any depth (-t, -p, -x, -j)"},
    option_row{"record", 'r', "HEX", "decode HEX as an input line (repeatable; after FILEs)"},
    option_row{"value", value_option, "TAG:HEX",
               "decode HEX as the value of TAG, as -r (implies -x)"},
    option_row{"strict", strict_option, nullptr, "exit with status 1 when a record has a problem"},
    option_row{"kernel", kernel_option, "NAME",
               "no AID: read as kernel NAME's (C-2 ... C-7, contact)"},
    option_row{"apdu", 'a', nullptr, "read the input as a card session log"},
    option_row{"ca-keys", ca_keys_option, "FILE", "-a: CA public keys to add (repeatable)"},
    option_row{"quiet", 'q', nullptr, "print only the element lines and messages"},
    option_row{"line-number", 'n', nullptr, "start each line with its input line's number and ':'"},
    option_row{"with-filename", 'H', nullptr, "start each line with its FILE's name and ':'"},
    option_row{"no-filename", no_filename_option, nullptr, "no FILE names, even for several FILEs"},
    option_row{"help", 'h', nullptr, "print this help and exit"},
    option_row{"version", 'V', nullptr, "print the version and exit"},
};

constexpr std::string_view try_help = "Try 'emvtlv --help' for more information.\n";

// The table as getopt_long wants it: long options ending in a row of zeros, and the
// short ones after a ':' (so a missing argument is told apart from a bad option),
// each followed by ':' when it takes an argument.
struct getopt_tables {
  std::array<::option, option_table.size() + 1> long_options{};
  std::array<char, 2 * option_table.size() + 2> short_options{};
};

constexpr getopt_tables make_getopt_tables() {
  getopt_tables tables;
  std::size_t next = 0;
  tables.short_options[next++] = ':';
  for (std::size_t i = 0; i < option_table.size(); ++i) {
    const option_row& row = option_table[i];
    const int argument = row.argument == nullptr ? no_argument : required_argument;
    tables.long_options[i] = {row.long_name, argument, nullptr, row.code};
    if (row.code > 0xFF) continue;
    tables.short_options[next++] = static_cast<char>(row.code);
    if (argument == required_argument) tables.short_options[next++] = ':';
  }
  return tables;
}

constexpr getopt_tables tables = make_getopt_tables();

const option_row* find_row(int short_name) {
  const auto* row = std::find_if(option_table.begin(), option_table.end(),
                                 [&](const option_row& r) { return r.code == short_name; });
  return row == option_table.end() ? nullptr : row;
}

// The long options `name` (what follows "--", up to any '=') is a prefix of, as
// getopt_long lists them when it is more than one: " '--tree' '--tag'"; empty otherwise.
std::string ambiguity(std::string_view name) {
  name = name.substr(0, name.find('='));
  std::string listed;
  int matches = 0;
  for (const option_row& row : option_table) {
    if (!std::string_view(row.long_name).starts_with(name)) continue;
    ++matches;
    listed += " '--" + std::string(row.long_name) + "'";
  }
  return matches > 1 ? listed : std::string();
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
    if ((long_form || bad_option > 0xFF) && row != nullptr)
      return usage_error("option '--" + std::string(row->long_name) + "' requires an argument");
    return usage_error("option requires an argument -- '" +
                       std::string(1, static_cast<char>(bad_option)) + "'");
  }
  if (bad_option == 0 && long_form) {
    if (std::string ambiguous = ambiguity(word + 2); !ambiguous.empty())
      return usage_error("option '" + std::string(word) +
                         "' is ambiguous; possibilities:" + ambiguous);
  }
  if (bad_option == 0) return usage_error("unrecognized option '" + std::string(word) + "'");
  // A listed option refused here can only be a long one given "=value".
  if (row != nullptr)
    return usage_error("option '--" + std::string(row->long_name) + "' doesn't allow an argument");
  return usage_error("invalid option -- '" + std::string(1, static_cast<char>(bad_option)) + "'");
}

// --kernel's NAME: C-2 to C-7 (or c-2 ...), or contact.
bool parse_kernel(std::string_view name, emv_kernel& kernel) {
  using enum emv_kernel;
  constexpr std::array<emv_kernel, 6> numbered = {c2, c3, c4, c5, c6, c7};
  if (name == "contact") {
    kernel = contact;
    return true;
  }
  if (name.size() != 3 || (name[0] != 'C' && name[0] != 'c') || name[1] != '-' || name[2] < '2' ||
      name[2] > '7')
    return false;
  kernel = numbered[static_cast<std::size_t>(name[2] - '2')];
  return true;
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
  bool paths_asked = false;
  bool values_given = false;
  enum class file_names { automatic, always, never } names = file_names::automatic;
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
      case 'p':
        paths_asked = true;
        break;
      case 'r':
        // One record is one line: a newline would make it two.
        if (std::strchr(::optarg, '\n') != nullptr)
          return usage_error("a record of '--record' must be one line");
        result.chosen.records.push_back(::optarg);
        break;
      case value_option: {
        std::string record;
        std::string complaint;
        if (!make_value_record(::optarg, record, complaint))
          return usage_error("invalid value for '--value': " + complaint);
        result.chosen.records.push_back(std::move(record));
        values_given = true;
        break;
      }
      case 'H':
        names = file_names::always;
        break;
      case no_filename_option:
        names = file_names::never;
        break;
      case tag_option:
        if (!parse_tag_list(::optarg, result.chosen.tags))
          return usage_error("invalid tag list '" + std::string(::optarg) +
                             "': tags are 1 to 8 octets of hex, joined by ','");
        break;
      case strict_option:
        result.chosen.strict = true;
        break;
      case kernel_option:
        if (!parse_kernel(::optarg, result.chosen.tree.kernel))
          return usage_error("invalid kernel '" + std::string(::optarg) +
                             "': C-2 to C-7 or contact");
        break;
      case ca_keys_option:
        result.chosen.ca_key_files.push_back(::optarg);
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
  // JSON is the tree written for scripts, paths the tree for grep; explaining needs the
  // tree. When several are asked for, JSON wins, then paths.
  options& chosen = result.chosen;
  // A value alone is there to be explained.
  if (values_given && !trace_asked && !json_asked && !paths_asked && !tree_asked)
    chosen.tree.explain = true;
  if (trace_asked) {
    chosen.run_mode = mode::trace;
    if (json_asked) chosen.tree.output = tree_mode_options::format::json;
  } else if (json_asked) {
    chosen.run_mode = mode::json;
    chosen.tree.output = tree_mode_options::format::json;
  } else if (paths_asked) {
    chosen.run_mode = mode::paths;
    chosen.tree.output = tree_mode_options::format::paths;
    chosen.tree.explain = false;
  } else if (tree_asked || chosen.tree.explain || !chosen.tags.empty()) {
    chosen.run_mode = mode::tree;
  }
  chosen.tree.line_numbers = chosen.console.line_numbers && !json_asked;
  chosen.tree.separate = chosen.run_mode == mode::tree && !chosen.console.quiet;
  chosen.tree.strict = chosen.console.strict = chosen.strict;
  result.chosen.files =
      std::span<char* const>(argv + ::optind, static_cast<std::size_t>(argc - ::optind));
  // As grep: names when there is more than one FILE; JSON names any FILE it reads.
  chosen.label_lines =
      names == file_names::always || (names == file_names::automatic && chosen.files.size() > 1);
  chosen.json_file_names =
      names == file_names::always || (names == file_names::automatic && !chosen.files.empty());
  return result;
}

std::string help_text() {
  std::string text =
      "Usage: emvtlv [OPTION]... [FILE]...\n"
      "Decode EMV payment-card records, one per line as hex text, and print each\n"
      "BER-TLV element's name and value; card numbers are masked.\n"
      "Each FILE is read in turn, then the -r and --value records; with none of them,\n"
      "or when FILE is -, read standard input. Unless -q is given, the banner and\n"
      "prompts are printed too (with -t, -x or -p, a prompt only when standard input\n"
      "and output are terminals).\n\n";
  for (const option_row& row : option_table) {
    std::string left = row.code <= 0xFF ? std::string("  -") + static_cast<char>(row.code) + ", "
                                        : std::string(6, ' ');
    left += std::string("--") + row.long_name;
    if (row.argument != nullptr) left += std::string("=") + row.argument;
    left.resize(std::max<std::size_t>(left.size() + 2, 26), ' ');
    text += left + row.help + "\n";
  }
  text +=
      "\nExit status: 0 if all went well; 1 if, with --strict, a record had a problem;\n"
      "2 if a FILE could not be read, the output could not be written or an option\n"
      "was wrong.\n"
      "The manual: man emvtlv\n";
  return text;
}

std::string version_text() {
  return "emvtlv " EMVTLV_VERSION "\n";
}

}  // namespace emvtlv::cli
