#include "cli/file_input.h"

#include <fcntl.h>
#include <unistd.h>

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

std::ptrdiff_t read_files(void* context, char* buffer, std::size_t capacity) {
  file_list& files = *static_cast<file_list*>(context);
  for (;;) {
    if (files.fd < 0) {
      if (files.next == files.names.size()) return 0;
      if (!open_next(files)) continue;
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
