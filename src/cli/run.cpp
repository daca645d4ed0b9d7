#include "cli/run.h"

#include <unistd.h>

#include "cli/file_input.h"
#include "modes/trace_mode.h"

namespace emvtlv::cli {
namespace {

int run_console_mode(const options& chosen) {
  // No FILE: standard input exactly as the classic console reads it.
  if (chosen.files.empty()) return run_console(stdin_source(), stdout_target(), chosen.console);
  file_list files{.names = chosen.files, .errors = stderr_target()};
  const int status = run_console(file_list_source(files), stdout_target(), chosen.console);
  return status != 0 || files.failed ? 1 : 0;
}

int run_tree_modes(const options& chosen) {
  tree_mode_options tree = chosen.tree;
  // A person at a terminal is prompted; a pipe or a script is not. JSON never prompts.
  tree.prompt = chosen.run_mode == mode::tree && !chosen.console.quiet && chosen.files.empty() &&
                ::isatty(STDIN_FILENO) == 1;
  if (chosen.files.empty()) return run_tree_mode(stdin_source(), stdout_target(), tree);
  file_list files{.names = chosen.files, .errors = stderr_target()};
  const int status = run_tree_mode(file_list_source(files), stdout_target(), tree);
  return status != 0 || files.failed ? 1 : 0;
}

int run_trace(const options& chosen) {
  // A log is read whole, never prompted for.
  if (chosen.files.empty()) return run_trace_mode(stdin_source(), stdout_target(), chosen.tree);
  file_list files{.names = chosen.files, .errors = stderr_target()};
  const int status = run_trace_mode(file_list_source(files), stdout_target(), chosen.tree);
  return status != 0 || files.failed ? 1 : 0;
}

}  // namespace

int run(const options& chosen) {
  switch (chosen.run_mode) {
    case mode::console:
      return run_console_mode(chosen);
    case mode::tree:
    case mode::json:
      return run_tree_modes(chosen);
    case mode::trace:
      return run_trace(chosen);
  }
  return 1;
}

}  // namespace emvtlv::cli
