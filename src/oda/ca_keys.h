// The CA public keys a certificate is recovered with: the published table built into
// the program, plus the keys of --ca-keys files (a test CA's, a lab's).
//
// Contract and limits:
// - Keys are found by (RID, index). Where a file gives a key for a pair, the file's keys
//   replace the built-in ones for that pair; several keys for one pair are all given,
//   in table order, for the caller to try each.
// - At most max_candidates keys a pair; at most max_loaded_keys rows from files, the
//   rest refused with a message. Files are read once, at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "oda/ca_key_file.h"

namespace emvtlv::oda {

struct ca_key {
  std::array<std::uint8_t, 5> rid{};
  std::uint8_t index = 0;
  std::span<const std::uint8_t> modulus;
  std::span<const std::uint8_t> exponent;
  sha1_digest check{};
  std::string_view scheme;
  std::string_view kind;
  bool from_file = false;
};

inline constexpr std::size_t max_candidates = 8;
inline constexpr std::size_t max_loaded_keys = 4096;

struct ca_candidates {
  std::array<ca_key, max_candidates> keys{};
  std::size_t count = 0;
};

// The built-in table's size, for tests and --help.
std::size_t builtin_ca_key_count();

class ca_key_table {
 public:
  // Reads a key file; each refused row and an unreadable file append a line
  // ("emvtlv: FILE:LINE: reason\n") to `messages`. False when the file cannot be read.
  bool load_file(const char* path, std::string& messages);
  // Reads rows from text (one file's contents), `name` for the messages.
  void load_text(std::string_view text, std::string_view name, std::string& messages);

  ca_candidates find(std::span<const std::uint8_t> rid, std::uint8_t index) const;

 private:
  std::vector<std::unique_ptr<ca_key_row>> loaded_;
  std::vector<std::unique_ptr<std::string>> texts_;  // the lines the rows' names point into
};

}  // namespace emvtlv::oda
