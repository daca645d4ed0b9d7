#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace emvtlv::test {
namespace {

struct pipe_pair {
  int read_end = -1;
  int write_end = -1;
};

pipe_pair make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  return {fds[0], fds[1]};
}

// The command line: EMVTLV_TEST_WRAPPER (say "valgrind -q --error-exitcode=99"),
// split at spaces, in front of the program and its arguments.
std::vector<std::string> command_line(const char* path, const std::vector<std::string>& args) {
  std::vector<std::string> words;
  if (const char* wrapper = std::getenv("EMVTLV_TEST_WRAPPER")) {
    std::istringstream split(wrapper);
    for (std::string word; split >> word;)
      words.push_back(word);
  }
  words.emplace_back(path);
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

// Starts `path` with the given descriptors as its standard input, output and error;
// a negative `out` starts it with standard output closed.
pid_t spawn(const char* path, int in, int out, int err, const std::vector<std::string>& args = {}) {
  const std::vector<std::string> words = command_line(path, args);
  std::vector<char*> argv;
  for (const std::string& word : words)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in, 0);
    if (out >= 0) {
      ::dup2(out, 1);
    } else {
      ::close(1);
    }
    ::dup2(err, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

void set_status(run_result& result, pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

void set_nonblocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

using steady = std::chrono::steady_clock;

int milliseconds_until(steady::time_point then, steady::time_point now) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, 60000));
}

// Moves `input` into `in` while draining `out` and `err`, until both outputs close or
// the time is up, each pipe paced as `options` says. Negative descriptors are absent.
void pump(int in, std::string_view input, int out, int err, const run_options& options,
          run_result& result) {
  const steady::time_point start = steady::now();
  const steady::time_point deadline = start + options.timeout;
  steady::time_point next_write = start + options.writer.delay;
  steady::time_point next_read = start + options.reader.delay;
  std::size_t written = 0;
  if (in >= 0 && input.empty()) {
    ::close(in);
    in = -1;
  }
  // Our end only: a write larger than the pipe holds must not block while the
  // program waits for us to drain its output.
  if (in >= 0) set_nonblocking(in);
  std::vector<char> buffer(65536);
  while (out >= 0 || err >= 0) {
    const steady::time_point now = steady::now();
    if (now >= deadline) {
      result.timed_out = true;
      break;
    }
    steady::time_point wake = deadline;
    const bool may_read = now >= next_read;
    const bool may_write = now >= next_write;
    if (!may_read && out >= 0) wake = std::min(wake, next_read);
    if (!may_write && in >= 0) wake = std::min(wake, next_write);
    pollfd fds[3] = {
        {may_read ? out : -1, POLLIN, 0}, {err, POLLIN, 0}, {may_write ? in : -1, POLLOUT, 0}};
    if (::poll(fds, 3, milliseconds_until(wake, now)) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      const std::size_t want =
          i == 0 && options.reader.step > 0 ? options.reader.step : buffer.size();
      const ssize_t got = ::read(fds[i].fd, buffer.data(), std::min(want, buffer.size()));
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer.data(), static_cast<std::size_t>(got));
        if (i == 0) next_read = steady::now() + options.reader.pause;
      } else {
        ::close(fds[i].fd);
        (i == 0 ? out : err) = -1;
      }
    }
    if (in >= 0 && fds[2].revents != 0) {
      std::size_t want = input.size() - written;
      if (options.writer.step > 0) want = std::min(want, options.writer.step);
      const ssize_t put =
          (fds[2].revents & POLLOUT) != 0 ? ::write(in, input.data() + written, want) : -1;
      if (put > 0) written += static_cast<std::size_t>(put);
      next_write = steady::now() + options.writer.pause;
      const bool full = put < 0 && (fds[2].revents & POLLOUT) != 0 && errno == EAGAIN;
      if ((put < 0 && !full) || written == input.size()) {
        ::close(in);
        in = -1;
      }
    }
  }
  for (const int fd : {in, out, err})
    if (fd >= 0) ::close(fd);
}

// A started program whose standard output and error the caller reads.
struct started {
  pid_t pid;
  int out;
  int err;
};

// Starts `path` reading standard input from `in`, which the caller no longer needs.
started start_reading(const char* path, int in) {
  const pipe_pair out = make_pipe();
  const pipe_pair err = make_pipe();
  const pid_t pid = spawn(path, in, out.write_end, err.write_end);
  ::close(in);
  ::close(out.write_end);
  ::close(err.write_end);
  return {pid, out.read_end, err.read_end};
}

int open_input(const char* stdin_path) {
  const int in = ::open(stdin_path, O_RDONLY | O_CLOEXEC);
  if (in < 0) throw std::runtime_error("cannot open test input");
  return in;
}

}  // namespace

run_result run_program(const char* path, std::string_view input) {
  return run_program(path, input, run_options{});
}

run_result run_program(const char* path, std::string_view input, const run_options& options) {
  // The test process must survive the program closing its input early.
  ::signal(SIGPIPE, SIG_IGN);
  const pipe_pair in = make_pipe();
  const pipe_pair err = make_pipe();
  pipe_pair out;
  if (options.stdout_file) {
    out.write_end = ::open(options.stdout_file->c_str(), O_WRONLY | O_CLOEXEC);
    if (out.write_end < 0) throw std::runtime_error("cannot open test output");
  } else if (!options.stdout_closed) {
    out = make_pipe();
  }
  if (options.nonblocking_input) set_nonblocking(in.read_end);
  if (options.nonblocking_output && out.write_end >= 0) set_nonblocking(out.write_end);
  const pid_t pid = spawn(path, in.read_end, out.write_end, err.write_end, options.args);
  for (const int fd : {in.read_end, out.write_end, err.write_end})
    if (fd >= 0) ::close(fd);
  run_result result;
  pump(in.write_end, input, out.read_end, err.read_end, options, result);
  if (result.timed_out) ::kill(pid, SIGKILL);
  set_status(result, pid);
  return result;
}

run_result run_program_with_stdin_file(const char* path, const char* stdin_path) {
  const started program = start_reading(path, open_input(stdin_path));
  run_result result;
  pump(-1, {}, program.out, program.err, run_options{}, result);
  set_status(result, program.pid);
  return result;
}

run_result run_closing_output_early(const char* path, const char* stdin_path, std::size_t keep,
                                    std::chrono::milliseconds timeout) {
  const started program = start_reading(path, open_input(stdin_path));
  run_result result;
  char buffer[4096];
  while (result.out.size() < keep) {
    const ssize_t got =
        ::read(program.out, buffer, std::min(sizeof buffer, keep - result.out.size()));
    if (got <= 0) break;
    result.out.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(program.out);  // as `head -c` does once it has its bytes
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd fd = {program.err, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      result.timed_out = true;
      break;
    }
    const ssize_t got = ::read(program.err, buffer, sizeof buffer);
    if (got <= 0) break;  // standard error closes when the program ends
    result.err.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(program.err);
  if (result.timed_out) ::kill(program.pid, SIGKILL);
  set_status(result, program.pid);
  return result;
}

driven_program::driven_program(const char* path) {
  ::signal(SIGPIPE, SIG_IGN);
  const pipe_pair in = make_pipe();
  const pipe_pair out = make_pipe();
  pid_ = spawn(path, in.read_end, out.write_end, 2);
  ::close(in.read_end);
  ::close(out.write_end);
  in_ = in.write_end;
  out_ = out.read_end;
}

driven_program::~driven_program() {
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool driven_program::wait_for_suffix(std::string_view suffix, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!std::string_view(received_).ends_with(suffix)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd = {out_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    received_.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

void driven_program::write(std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = ::write(in_, text.data(), text.size());
    if (put <= 0) throw std::runtime_error("write to program failed");
    text.remove_prefix(static_cast<std::size_t>(put));
  }
}

void driven_program::close_input() {
  ::close(in_);
  in_ = -1;
}

run_result driven_program::finish(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd = {out_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) break;
    received_.append(buffer, static_cast<std::size_t>(got));
  }
  run_result result;
  result.out = received_;
  // Give it until the deadline to exit by itself; a program still running then is killed.
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != 0)
      break;
    ::usleep(1000);
  }
  ::kill(pid_, SIGKILL);  // no-op once it has exited
  set_status(result, pid_);
  pid_ = -1;
  return result;
}

}  // namespace emvtlv::test
