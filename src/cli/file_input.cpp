#include "cli/file_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace emvtlv::cli {
namespace {

void report(file_list& files, int error) {
  files.failed = true;
  const std::string line =
      std::string("emvtlv: ") + files.name + ": " + std::strerror(error) + "\n";
  files.errors.write(files.errors.context, line.data(), line.size());
}

void close_current(file_list& files) {
  if (files.fd != STDIN_FILENO) ::close(files.fd);
  files.fd = -1;
  files.head_done = false;
  files.head_size = 0;
  files.head_given = 0;
}

// Opens the next file; false when it cannot be opened (it is reported then).
bool open_next(file_list& files) {
  files.name = files.names[files.next++];
  if (std::string_view(files.name) == "-") {
    files.fd = STDIN_FILENO;
    return true;
  }
  files.fd = ::open(files.name, O_RDONLY | O_CLOEXEC);
  if (files.fd < 0) {
    report(files, errno);
    return false;
  }
  ::posix_fadvise(files.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

constexpr std::array<char, 3> byte_order_mark = {'\xEF', '\xBB', '\xBF'};

// Reads the file's first bytes into its head until they are the whole mark (dropped)
// or differ from it. Returns what the last read gave: >0 while the head is read.
std::ptrdiff_t read_head(file_list& files) {
  while (files.head_size < byte_order_mark.size()) {
    const std::size_t at = files.head_size;
    const std::ptrdiff_t got = read_descriptor(files.fd, files.head.data() + at, 1);
    if (got <= 0) return got;
    files.head_size = at + 1;
    if (files.head[at] != byte_order_mark[at]) return 1;
  }
  files.head_size = 0;  // the mark: nothing to hand out
  return 1;
}

std::ptrdiff_t read_files(void* context, char* buffer, std::size_t capacity) {
  file_list& files = *static_cast<file_list*>(context);
  for (;;) {
    if (files.fd < 0) {
      if (files.next == files.names.size()) return 0;
      if (!open_next(files)) continue;
    }
    if (files.skip_bom && !files.head_done) {
      const std::ptrdiff_t got = read_head(files);
      if (got < 0) report(files, errno);
      if (got < 0 || (got == 0 && files.head_size == 0)) {
        close_current(files);
        continue;
      }
      files.head_done = true;
    }
    if (files.head_given < files.head_size) {
      const std::size_t n = std::min(capacity, files.head_size - files.head_given);
      std::memcpy(buffer, files.head.data() + files.head_given, n);
      files.head_given += n;
      return static_cast<std::ptrdiff_t>(n);
    }
    const std::ptrdiff_t got = read_descriptor(files.fd, buffer, capacity);
    if (got > 0) return got;
    if (got < 0) report(files, errno);
    close_current(files);
  }
}

}  // namespace

input_source file_list_source(file_list& files) {
  return {&files, read_files};
}

}  // namespace emvtlv::cli
