#include "cli/run.h"

#include "cli/file_input.h"

namespace emvtlv::cli {
namespace {

int run_console_mode(const options& chosen) {
  // No FILE: standard input exactly as the classic console reads it.
  if (chosen.files.empty()) return run_console(stdin_source(), stdout_target(), chosen.console);
  file_list files{.names = chosen.files, .errors = stderr_target()};
  const int status = run_console(file_list_source(files), stdout_target(), chosen.console);
  return status != 0 || files.failed ? 1 : 0;
}

}  // namespace

int run(const options& chosen) {
  switch (chosen.run_mode) {
    case mode::console:
      return run_console_mode(chosen);
  }
  return 1;
}

}  // namespace emvtlv::cli
