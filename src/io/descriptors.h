// Input and output for every mode: a source and a target as plain function pointers,
// and the standard descriptors behind them.
//
// Contract and limits:
// - A read hands out what one read(2) gives; a write puts out all it is given or fails.
// - A read or write interrupted by a signal is retried. A descriptor set to
//   non-blocking (by whoever started us) is waited on with poll when it is not ready,
//   so output and status are those of a blocking one.
// - Only the standard descriptors' pipes are enlarged (to 1 MiB, where the system
//   allows it); nothing here opens, closes or buffers.
#pragma once

#include <cstddef>

namespace emvtlv {

// Where a mode reads from and writes to. read returns the bytes read, 0 at end of
// input, or a negative number on an error; write returns false when the output is
// gone. Plain function pointers, so tests and fuzzers can run every mode in memory.
struct input_source {
  void* context;
  std::ptrdiff_t (*read)(void* context, char* buffer, std::size_t capacity);
};
struct output_target {
  void* context;
  bool (*write)(void* context, const char* data, std::size_t size);
};

// Standard input, output and error, by file descriptor.
input_source stdin_source();
output_target stdout_target();
output_target stderr_target();

// One read(2) of `fd`, retried when interrupted and, when the descriptor is
// non-blocking and has nothing yet, after waiting for it; otherwise as read(2).
std::ptrdiff_t read_descriptor(int fd, char* buffer, std::size_t capacity);
// Writes all `size` bytes, waiting as read_descriptor does; false on a real error.
bool write_descriptor(int fd, const char* data, std::size_t size);

}  // namespace emvtlv
