// Test helper: runs the built emvtlv over pipes, as a shell pipeline or a driving
// program would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emvtlv::test {

struct run_result {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when killed by a signal
  int signal = 0;
  bool timed_out = false;
};

// Each run goes through EMVTLV_TEST_WRAPPER when it is set (e.g. to valgrind).

// Feeds `input` on standard input (then closes it) and collects both outputs.
run_result run_program(const char* path, std::string_view input);

// How the test moves bytes through one of the program's pipes: nothing before
// `delay`, then at most `step` bytes at a time (0: as many as the pipe takes), with
// `pause` after each step. The default moves everything as fast as it can.
struct pacing {
  std::chrono::milliseconds delay{0};
  std::size_t step = 0;
  std::chrono::milliseconds pause{0};
};

struct run_options {
  std::vector<std::string> args;  // after the program name
  // The program's ends of its input and output pipes set to non-blocking, as a
  // parent such as Node.js leaves them.
  bool nonblocking_input = false;
  bool nonblocking_output = false;
  pacing writer;  // how the test feeds standard input
  pacing reader;  // how the test drains standard output
  // Standard output opened from this file (say /dev/full) instead of a pipe, or
  // closed altogether.
  std::optional<std::string> stdout_file;
  bool stdout_closed = false;
  // A program still running after this is killed, and the result says timed_out.
  std::chrono::milliseconds timeout{120000};
};

// As run_program, with arguments and the pipes set up and driven as `options` says.
run_result run_program(const char* path, std::string_view input, const run_options& options);

// Runs with standard input opened from `stdin_path` (a file, or a directory to make
// reads fail).
run_result run_program_with_stdin_file(const char* path, const char* stdin_path);

// Runs with standard input from `stdin_path`, reads `keep` bytes of output and closes
// the pipe, as `emvtlv < file | head -c keep` does; then waits up to `timeout` for
// the program to end, collecting standard error.
run_result run_closing_output_early(const char* path, const char* stdin_path, std::size_t keep,
                                    std::chrono::milliseconds timeout);

// A running program whose pipes the test drives one step at a time.
class driven_program {
 public:
  explicit driven_program(const char* path);
  ~driven_program();
  driven_program(const driven_program&) = delete;
  driven_program& operator=(const driven_program&) = delete;

  // Reads standard output until what has arrived ends with `suffix`; false on timeout
  // or end of output.
  bool wait_for_suffix(std::string_view suffix, std::chrono::milliseconds timeout);
  void write(std::string_view text);
  void close_input();
  // Reads to end of output and reaps the program.
  run_result finish(std::chrono::milliseconds timeout);
  const std::string& received() const { return received_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string received_;
};

}  // namespace emvtlv::test
