// Input from FILE arguments: the files read in order as one stream, exactly the bytes
// `cat FILE...` would give. The command line gives each FILE a list of its own, so
// that each is an input of its own (cli/run.h).
//
// Contract and limits:
// - "-" is standard input (never closed; named twice, it is read twice).
// - A file that cannot be opened or read is reported on `errors` as
//   "emvtlv: NAME: <strerror text>" and skipped; what it gave before a read error
//   stays given. `failed` then tells the caller to end with status 2.
// - Each read hands out what one read(2) gives, into the console's own block: memory
//   stays flat whatever the files' sizes.
// - With skip_bom, a UTF-8 byte-order mark (EF BB BF) at the start of each file is
//   dropped, however the reads cut it; a file that starts as UTF-16 text does (its
//   mark, or a NUL beside its first character) gets one hint on `errors`, "emvtlv:
//   NAME: the input looks like UTF-16; convert it with iconv", and is read on as it is.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "io/descriptors.h"

namespace emvtlv::cli {

struct file_list {
  std::span<char* const> names;
  output_target errors;
  std::size_t next = 0;  // the next name to open
  int fd = -1;           // the file being read, -1 between files
  const char* name = nullptr;
  bool failed = false;
  bool skip_bom = false;
  // The start of the file being read, held while it may still be a byte-order mark.
  std::array<char, 3> head{};
  std::size_t head_size = 0;
  std::size_t head_given = 0;  // of head, already handed out
  bool head_done = false;      // past the start of the file
};

// An input source over `files`, which must outlive it.
input_source file_list_source(file_list& files);

}  // namespace emvtlv::cli
