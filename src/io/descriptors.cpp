#include "io/descriptors.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace emvtlv {
namespace {

constexpr int pipe_size_wanted = 1024 * 1024;

// Waits until `fd` is ready for `events`. A parent may hand us a non-blocking pipe
// (Node.js, job runners do); its EAGAIN means "not yet", not an error.
bool wait_ready(int fd, short events) {
  pollfd ready = {fd, events, 0};
  for (;;) {
    if (::poll(&ready, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

bool would_block(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

std::ptrdiff_t read_fd(void* context, char* buffer, std::size_t capacity) {
  return read_descriptor(*static_cast<const int*>(context), buffer, capacity);
}

bool write_fd(void* context, const char* data, std::size_t size) {
  return write_descriptor(*static_cast<const int*>(context), data, size);
}

int stdin_fd = STDIN_FILENO;
int stdout_fd = STDOUT_FILENO;
int stderr_fd = STDERR_FILENO;

}  // namespace

std::ptrdiff_t read_descriptor(int fd, char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::read(fd, buffer, capacity);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    if (!would_block(errno) || !wait_ready(fd, POLLIN)) return -1;
  }
}

bool write_descriptor(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (would_block(errno) && wait_ready(fd, POLLOUT)) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

input_source stdin_source() {
  ::fcntl(stdin_fd, F_SETPIPE_SZ, pipe_size_wanted);
  return {&stdin_fd, read_fd};
}
output_target stdout_target() {
  // A pipe that holds more lets the reader drain one block while we decode the next.
  // Where the descriptor is no pipe, or the system refuses, nothing changes.
  ::fcntl(stdout_fd, F_SETPIPE_SZ, pipe_size_wanted);
  return {&stdout_fd, write_fd};
}
output_target stderr_target() {
  return {&stderr_fd, write_fd};
}

}  // namespace emvtlv
