// The command line: emvtlv [OPTION]... [FILE]..., parsed with the C library's
// getopt_long into an options value.
//
// Contract and limits:
// - Parsing never writes anywhere: help, version and error text come back as strings
//   for main to print. A program name in messages is always "emvtlv".
// - The first of --help, --version or a bad option decides, as getopt meets them
//   (options may follow file names; "--" ends the options; "-" is a file name).
// - getopt keeps global state and reorders argv; the files are a view into argv.
// - Adding a decoding mode: one enumerator in `mode`, one row in the option table
//   (options.cpp), one case where the options are applied and one in run().
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "modes/tree_mode.h"
#include "tree/tag_filter.h"

namespace emvtlv::cli {

// How the records are decoded and printed.
enum class mode { console, tree, json, paths, trace };

struct options {
  mode run_mode = mode::console;
  console_options console;
  tree_mode_options tree;                 // the decoding modes; prompt and tags are run's to set
  std::span<char* const> files;           // in order; none (and no records): standard input
  std::vector<std::string> records;       // -r HEX and --value's records, in order after the files
  std::vector<tag_id> tags;               // --tag, in the decoding modes
  bool strict = false;                    // --strict: a record's problem makes the status 1
  bool label_lines = false;               // text: "FILE:" before every line of a FILE's output
  bool json_file_names = false;           // JSON: a "file" field in every object from a FILE
  std::vector<const char*> ca_key_files;  // --ca-keys, for -a's offline data authentication
};

// The exit statuses, as grep, diff and rg give them: 1 is a finding (with --strict, a
// record had a problem), 2 is trouble (a bad option, input that cannot be read,
// output that cannot be written).
inline constexpr int exit_findings = 1;
inline constexpr int exit_trouble = 2;
inline constexpr int exit_usage = exit_trouble;  // a bad option or a missing argument

struct parse_result {
  bool run = true;  // false: print `out` and `err` and exit with `exit_status`
  options chosen;
  int exit_status = 0;
  std::string out;  // help or version text, for standard output
  std::string err;  // the complaint and where to find help, for standard error
};

parse_result parse_command_line(int argc, char* argv[]);

// The text of --help, and the line of --version ("emvtlv 1.1.0\n").
std::string help_text();
std::string version_text();

}  // namespace emvtlv::cli
