// emvtlv: decodes EMV BER-TLV records given one per line as hex text.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/options.h"
#include "cli/run.h"
#include "io/descriptors.h"

int main(int argc, char* argv[]) {
  using namespace emvtlv;
  const cli::parse_result parsed = cli::parse_command_line(argc, argv);
  if (parsed.run) return cli::run(parsed.chosen);
  const bool written = write_descriptor(STDOUT_FILENO, parsed.out.data(), parsed.out.size());
  if (!written && errno != EPIPE) {
    const std::string line = std::string("emvtlv: write error: ") + std::strerror(errno) + "\n";
    write_descriptor(STDERR_FILENO, line.data(), line.size());
  }
  write_descriptor(STDERR_FILENO, parsed.err.data(), parsed.err.size());
  return written ? parsed.exit_status : cli::exit_trouble;
}
