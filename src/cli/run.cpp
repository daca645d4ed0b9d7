#include "cli/run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "cli/file_input.h"
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

// The -r records, one line each, handed out after the files. A last file line with no
// newline is ended first, so every record stays a line of its own.
struct input_chain {
  input_source files;
  std::span<const char* const> records;
  bool files_done = false;
  char last = '\n';        // the last byte the files gave
  std::size_t next = 0;    // the record being handed out
  std::size_t offset = 0;  // of its text, then its newline
};

std::ptrdiff_t read_chain(void* context, char* buffer, std::size_t capacity) {
  auto& chain = *static_cast<input_chain*>(context);
  if (!chain.files_done) {
    const std::ptrdiff_t got = chain.files.read(chain.files.context, buffer, capacity);
    if (got > 0) {
      chain.last = buffer[got - 1];
      return got;
    }
    chain.files_done = true;
    if (chain.last != '\n' && !chain.records.empty()) {
      buffer[0] = '\n';
      return 1;
    }
  }
  if (chain.next == chain.records.size() || capacity == 0) return 0;
  const std::string_view text = chain.records[chain.next];
  std::size_t given = 0;
  if (chain.offset < text.size()) {
    given = std::min(capacity, text.size() - chain.offset);
    std::memcpy(buffer, text.data() + chain.offset, given);
    chain.offset += given;
  }
  if (given < capacity && chain.offset == text.size()) {
    buffer[given++] = '\n';
    ++chain.next;
    chain.offset = 0;
  }
  return static_cast<std::ptrdiff_t>(given);
}

std::ptrdiff_t read_nothing(void*, char*, std::size_t) {
  return 0;
}

char dash[] = "-";
char* const standard_input[] = {dash};

void report_write_error(int error) {
  // A reader that went away is no error of ours: cat says nothing either.
  if (error == 0 || error == EPIPE) return;
  const std::string line = std::string("emvtlv: write error: ") + std::strerror(error) + "\n";
  write_descriptor(STDERR_FILENO, line.data(), line.size());
}

// Runs `decode` on the input the command line names and the reported standard output.
template <typename Decode>
int run_on_input(const options& chosen, bool skip_bom, Decode decode) {
  const bool from_stdin = chosen.files.empty() && chosen.records.empty();
  file_list files{.names = from_stdin ? std::span<char* const>(standard_input) : chosen.files,
                  .errors = stderr_target()};
  files.skip_bom = skip_bom;
  if (from_stdin) stdin_source();  // for its larger pipe
  input_chain chain{
      .files = files.names.empty() ? input_source{nullptr, read_nothing} : file_list_source(files),
      .records = chosen.records};
  reported_output out{stdout_target()};
  const int status = decode(input_source{&chain, read_chain}, output_target{&out, write_reported});
  report_write_error(out.error);
  return status != 0 || files.failed || out.error != 0 ? 1 : 0;
}

int run_console_mode(const options& chosen) {
  // No option and no FILE: standard input exactly as the classic console reads it.
  const bool classic = chosen.files.empty() && chosen.records.empty() && !chosen.console.quiet &&
                       !chosen.console.line_numbers && !chosen.strict;
  if (classic) return run_console(stdin_source(), stdout_target(), chosen.console);
  return run_on_input(chosen, false, [&](input_source in, output_target out) {
    return run_console(in, out, chosen.console);
  });
}

int run_tree_modes(const options& chosen) {
  tree_mode_options tree = chosen.tree;
  tree.tags = chosen.tags;
  tree.prompt = decoding_prompt(chosen, ::isatty(STDIN_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1);
  return run_on_input(chosen, true, [&](input_source in, output_target out) {
    return run_tree_mode(in, out, tree);
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
  return run_on_input(chosen, true, [&](input_source in, output_target out) {
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
  return 1;
}

}  // namespace emvtlv::cli
