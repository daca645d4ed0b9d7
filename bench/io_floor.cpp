// The I/O floor of a line filter: what a filter costs that moves its input and output
// through the same pipes and decodes nothing. It reads standard input in 128 KiB
// blocks and, after each, writes the same share of a prepared output file (the
// filter's own output, made once) as it has read of the input, asking for the 1 MiB
// pipes the program asks for. bench/floor times it against the program.
// usage: io_floor OUTPUT_FILE INPUT_BYTES < input | cat > /dev/null
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int pipe_size = 1024 * 1024;

bool put_all(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(STDOUT_FILENO, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: io_floor OUTPUT_FILE INPUT_BYTES < input\n", stderr);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::perror(argv[1]);
    return 2;
  }
  const auto out_size = static_cast<std::size_t>(st.st_size);
  const double in_size = std::strtod(argv[2], nullptr);
  if (!(in_size > 0)) {
    std::fputs("io_floor: INPUT_BYTES must be above 0\n", stderr);
    return 2;
  }
  // Mapped and faulted in before the first read, so the floor pays no page faults the
  // program would not.
  const char* out = nullptr;
  if (out_size > 0) {
    void* map = ::mmap(nullptr, out_size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED) {
      std::perror("mmap");
      return 2;
    }
    out = static_cast<const char*>(map);
  }
  ::fcntl(STDIN_FILENO, F_SETPIPE_SZ, pipe_size);
  ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, pipe_size);

  static std::array<char, 128 * 1024> block;
  const double out_per_in = static_cast<double>(out_size) / in_size;
  double seen = 0;
  std::size_t written = 0;
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    seen += static_cast<double>(got);
    std::size_t due = static_cast<std::size_t>(seen * out_per_in);
    if (due > out_size) due = out_size;
    if (due > written && !put_all(out + written, due - written)) return 1;
    if (due > written) written = due;
  }
  // Whatever rounding left over goes out at the end, as a filter's last lines do.
  if (written < out_size && !put_all(out + written, out_size - written)) return 1;
  return 0;
}
