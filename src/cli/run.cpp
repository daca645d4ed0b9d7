#include "cli/run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "cli/file_input.h"
#include "cli/line_labels.h"
#include "console/console.h"
#include "io/descriptors.h"
#include "modes/trace_mode.h"
#include "oda/ca_keys.h"

namespace emvtlv::cli {
namespace {

// Standard output, remembering why the first write that failed did.
struct reported_output {
  output_target target;
  int error = 0;  // errno of the first failure, 0 while all was written
};

bool write_reported(void* context, const char* data, std::size_t size) {
  auto& out = *static_cast<reported_output*>(context);
  if (out.target.write(out.target.context, data, size)) return true;
  if (out.error == 0) out.error = errno == 0 ? EIO : errno;
  return false;
}

// The -r and --value records, one line each.
struct record_lines {
  std::span<const std::string> records;
  std::size_t next = 0;    // the record being handed out
  std::size_t offset = 0;  // of its text, then its newline
};

std::ptrdiff_t read_records(void* context, char* buffer, std::size_t capacity) {
  auto& lines = *static_cast<record_lines*>(context);
  if (lines.next == lines.records.size() || capacity == 0) return 0;
  const std::string_view text = lines.records[lines.next];
  std::size_t given = 0;
  if (lines.offset < text.size()) {
    given = std::min(capacity, text.size() - lines.offset);
    std::memcpy(buffer, text.data() + lines.offset, given);
    lines.offset += given;
  }
  if (given < capacity && lines.offset == text.size()) {
    buffer[given++] = '\n';
    ++lines.next;
    lines.offset = 0;
  }
  return static_cast<std::ptrdiff_t>(given);
}

char dash[] = "-";
char* const standard_input[] = {dash};

void report_write_error(int error) {
  // A reader that went away is no error of ours: cat says nothing either.
  if (error == 0 || error == EPIPE) return;
  const std::string line = std::string("emvtlv: write error: ") + std::strerror(error) + "\n";
  write_descriptor(STDERR_FILENO, line.data(), line.size());
}

// Runs `decode(input, output, first)` on each input the command line names in turn (each
// FILE, then the records; standard input when there is neither) and gives the status:
// trouble (a FILE unread, output unwritten) before findings (a decoding run's 1).
// Each FILE is an input of its own: its last line ends with it, its lines count from 1,
// its output carries its name when the command line asks for names.
template <typename Decode>
int run_on_input(const options& chosen, bool skip_bom, Decode decode) {
  const bool from_stdin = chosen.files.empty() && chosen.records.empty();
  const std::span<char* const> names =
      from_stdin ? std::span<char* const>(standard_input) : chosen.files;
  if (from_stdin) stdin_source();  // for its larger pipe
  reported_output out{stdout_target()};
  const output_target plain{&out, write_reported};
  const bool json = chosen.tree.output == tree_mode_options::format::json;
  const bool named = json ? chosen.json_file_names : chosen.label_lines;
  bool trouble = false;
  bool findings = false;
  bool first = true;
  for (std::size_t i = 0; i < names.size() && out.error == 0; ++i) {
    file_list file{.names = names.subspan(i, 1), .errors = stderr_target()};
    file.skip_bom = skip_bom;
    line_labeller labeller;
    if (named) labeller = make_line_labeller(plain, names[i], json);
    const int status =
        decode(file_list_source(file), named ? labelled_target(labeller) : plain, first);
    first = false;
    trouble = trouble || file.failed;
    findings = findings || status != 0;
  }
  if (!chosen.records.empty() && out.error == 0) {
    record_lines lines{.records = chosen.records};
    findings = decode(input_source{&lines, read_records}, plain, first) != 0 || findings;
  }
  report_write_error(out.error);
  if (trouble || out.error != 0) return exit_trouble;
  return findings ? exit_findings : 0;
}

int run_console_mode(const options& chosen) {
  // No option and no FILE: standard input exactly as the classic console reads it.
  const bool classic = chosen.files.empty() && chosen.records.empty() && !chosen.console.quiet &&
                       !chosen.console.line_numbers && !chosen.strict && !chosen.label_lines;
  // It has no --strict, so a status other than 0 can only be a read or write error.
  if (classic)
    return run_console(stdin_source(), stdout_target(), chosen.console) == 0 ? 0 : exit_trouble;
  return run_on_input(chosen, false, [&](input_source in, output_target out, bool first) {
    console_options console = chosen.console;
    console.banner = first;
    return run_console(in, out, console);
  });
}

int run_tree_modes(const options& chosen) {
  tree_mode_options tree = chosen.tree;
  tree.tags = chosen.tags;
  tree.prompt = decoding_prompt(chosen, ::isatty(STDIN_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1);
  tree_mode_state state;  // made once, for every input
  return run_on_input(chosen, true, [&](input_source in, output_target out, bool) {
    return run_tree_mode(in, out, tree, state);
  });
}

int run_trace(const options& chosen) {
  // A key file that cannot be read stops the run: its checks would all read "not known".
  // A refused row is told and the rest of the file used.
  oda::ca_key_table keys;
  std::string messages;
  bool readable = true;
  for (const char* path : chosen.ca_key_files)
    readable = keys.load_file(path, messages) && readable;
  write_descriptor(STDERR_FILENO, messages.data(), messages.size());
  if (!readable) return exit_usage;
  // A log is read whole, never prompted for.
  tree_mode_options tree = chosen.tree;
  tree.tags = chosen.tags;
  tree.ca_keys = &keys;
  return run_on_input(chosen, true, [&](input_source in, output_target out, bool) {
    return run_trace_mode(in, out, tree);
  });
}

}  // namespace

bool decoding_prompt(const options& chosen, bool input_is_terminal, bool output_is_terminal) {
  return chosen.run_mode != mode::json && !chosen.console.quiet && chosen.files.empty() &&
         chosen.records.empty() && input_is_terminal && output_is_terminal;
}

int run(const options& chosen) {
  switch (chosen.run_mode) {
    case mode::console:
      return run_console_mode(chosen);
    case mode::tree:
    case mode::json:
    case mode::paths:
      return run_tree_modes(chosen);
    case mode::trace:
      return run_trace(chosen);
  }
  return exit_trouble;
}

}  // namespace emvtlv::cli
