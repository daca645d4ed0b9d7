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

void say(const file_list& files, std::string_view what) {
  const std::string line = std::string("emvtlv: ") + files.name + ": " + std::string(what) + "\n";
  files.errors.write(files.errors.context, line.data(), line.size());
}

void report(file_list& files, int error) {
  files.failed = true;
  say(files, std::strerror(error));
}

// Text in UTF-16 holds a NUL beside each ASCII character, or starts with its mark.
bool looks_like_utf16(const std::array<char, 3>& head) {
  const bool mark =
      (head[0] == '\xFF' && head[1] == '\xFE') || (head[0] == '\xFE' && head[1] == '\xFF');
  const bool nul_beside_text = (head[0] == '\0') != (head[1] == '\0');
  return mark || nul_beside_text;
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
// or two of them differ from it. Returns what the last read gave: >0 while the head
// is read.
std::ptrdiff_t read_head(file_list& files) {
  bool differs = false;
  while (files.head_size < byte_order_mark.size()) {
    const std::size_t at = files.head_size;
    const std::ptrdiff_t got = read_descriptor(files.fd, files.head.data() + at, 1);
    if (got <= 0) return got;
    files.head_size = at + 1;
    differs = differs || files.head[at] != byte_order_mark[at];
    if (differs && files.head_size >= 2) return 1;
  }
  if (differs) return 1;
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
      if (files.head_size >= 2 && looks_like_utf16(files.head))
        say(files, "the input looks like UTF-16; convert it with iconv");
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
