#include "trace/commands.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace emvtlv::trace {
namespace {

struct command_row {
  std::uint8_t ins;
  command_id id;
  std::string_view name;
};

constexpr std::array<command_row, 16> command_table{{
    {0xA4, command_id::select, "SELECT"},
    {0xB2, command_id::read_record, "READ RECORD"},
    {0xA8, command_id::get_processing_options, "GET PROCESSING OPTIONS"},
    {0xAE, command_id::generate_ac, "GENERATE AC"},
    {0x88, command_id::internal_authenticate, "INTERNAL AUTHENTICATE"},
    {0xCA, command_id::get_data, "GET DATA"},
    {0x20, command_id::verify, "VERIFY"},
    {0x84, command_id::get_challenge, "GET CHALLENGE"},
    {0x82, command_id::external_authenticate, "EXTERNAL AUTHENTICATE"},
    {0xC0, command_id::get_response, "GET RESPONSE"},
    {0x1E, command_id::application_block, "APPLICATION BLOCK"},
    {0x18, command_id::application_unblock, "APPLICATION UNBLOCK"},
    {0x16, command_id::card_block, "CARD BLOCK"},
    {0x24, command_id::pin_change_unblock, "PIN CHANGE/UNBLOCK"},
    {0x2A, command_id::compute_cryptographic_checksum, "COMPUTE CRYPTOGRAPHIC CHECKSUM"},
    {0xEA, command_id::exchange_relay_resistance_data, "EXCHANGE RELAY RESISTANCE DATA"},
}};

// A meaning that holds for one command (or for any, with command_id::unknown); the
// first row that matches wins, so the commands' own rows come first.
struct status_row {
  command_id command;
  std::uint16_t status;
  std::uint16_t mask;
  std::string_view meaning;
};

constexpr std::array<status_row, 35> status_table{{
    {command_id::verify, 0x9000, 0xFFFF, "PIN correct"},
    {command_id::verify, 0x63C0, 0xFFFF, "wrong PIN, no tries left"},
    {command_id::verify, 0x63C1, 0xFFFF, "wrong PIN, 1 try left"},
    {command_id::verify, 0x6983, 0xFFFF, "PIN try limit exceeded, PIN blocked"},
    {command_id::read_record, 0x6A83, 0xFFFF, "record not found"},
    {command_id::select, 0x6283, 0xFFFF, "selected file invalidated: the application is blocked"},
    {command_id::select, 0x6A81, 0xFFFF, "the card is blocked, or the command is not supported"},
    {command_id::select, 0x6A82, 0xFFFF, "file or application not found"},
    {command_id::get_processing_options, 0x6985, 0xFFFF,
     "conditions of use not satisfied: the card refuses this transaction"},
    {command_id::get_data, 0x6A88, 0xFFFF,
     "referenced data not found: the card does not hold that tag"},
    {command_id::external_authenticate, 0x6300, 0xFFFF, "authentication failed"},
    {command_id::unknown, 0x9000, 0xFFFF, "success"},
    {command_id::unknown, 0x6283, 0xFFFF, "selected file invalidated"},
    {command_id::unknown, 0x6300, 0xFFFF, "authentication failed"},
    {command_id::unknown, 0x6700, 0xFFFF, "wrong length"},
    {command_id::unknown, 0x6981, 0xFFFF, "command incompatible with file structure"},
    {command_id::unknown, 0x6982, 0xFFFF, "security status not satisfied"},
    {command_id::unknown, 0x6983, 0xFFFF, "authentication method blocked"},
    {command_id::unknown, 0x6984, 0xFFFF, "referenced data invalidated"},
    {command_id::unknown, 0x6985, 0xFFFF, "conditions of use not satisfied"},
    {command_id::unknown, 0x6986, 0xFFFF, "command not allowed"},
    {command_id::unknown, 0x6A80, 0xFFFF, "incorrect parameters in the data field"},
    {command_id::unknown, 0x6A81, 0xFFFF, "function not supported"},
    {command_id::unknown, 0x6A82, 0xFFFF, "file or application not found"},
    {command_id::unknown, 0x6A83, 0xFFFF, "record not found"},
    {command_id::unknown, 0x6A86, 0xFFFF, "incorrect parameters P1-P2"},
    {command_id::unknown, 0x6A88, 0xFFFF, "referenced data not found"},
    {command_id::unknown, 0x6B00, 0xFFFF, "wrong parameters P1-P2"},
    {command_id::unknown, 0x6D00, 0xFFFF, "instruction code not supported"},
    {command_id::unknown, 0x6E00, 0xFFFF, "class not supported"},
    {command_id::unknown, 0x6F00, 0xFFFF, "no precise diagnosis"},
    // Counted ones: their number goes after the text.
    {command_id::verify, 0x63C0, 0xFFF0, "wrong PIN, # tries left"},
    {command_id::unknown, 0x63C0, 0xFFF0, "counter #"},
    {command_id::unknown, 0x6100, 0xFF00, "# more bytes available"},
    {command_id::unknown, 0x6C00, 0xFF00, "wrong Le, the exact length is #"},
}};

struct text_writer {
  std::span<char> buffer;
  std::size_t size = 0;
  void put(std::string_view text) {
    const std::size_t n = std::min(text.size(), buffer.size() - size);
    if (n == 0) return;
    std::memcpy(buffer.data() + size, text.data(), n);
    size += n;
  }
  void put(std::uint64_t number) {
    std::array<char, 20> digits{};
    const auto done = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    put(std::string_view(digits.data(), static_cast<std::size_t>(done.ptr - digits.data())));
  }
  std::string_view view() const { return {buffer.data(), size}; }
};

}  // namespace

apdu_command split_command(std::span<const std::uint8_t> bytes) {
  apdu_command c;
  c.line_size = static_cast<std::uint32_t>(bytes.size());
  if (bytes.size() < 4) {
    c.problem = header_problem::too_short;
    return c;
  }
  c.cla = bytes[0];
  c.ins = bytes[1];
  c.p1 = bytes[2];
  c.p2 = bytes[3];
  const std::size_t n = bytes.size();
  if (n == 4) {
    c.apdu_case = 1;
  } else if (n == 5) {
    c.apdu_case = 2;
    c.has_le = true;
    c.le = bytes[4];
  } else {
    c.has_lc = true;
    c.lc = bytes[4];
    const std::size_t left = n - 5;
    if (c.lc == left) {
      c.apdu_case = 3;
    } else if (c.lc + 1 == left) {
      c.apdu_case = 4;
      c.has_le = true;
      c.le = bytes[n - 1];
    } else if (c.lc > left) {
      c.problem = header_problem::data_cut;
    } else {
      c.problem = header_problem::extra;
    }
    c.data = bytes.subspan(5, std::min<std::size_t>(c.lc, left));
  }
  return c;
}

std::string_view header_problem_id(header_problem problem) {
  constexpr std::array<std::string_view, 4> ids = {"", "command_too_short", "lc_past_line_end",
                                                   "bytes_after_le"};
  return ids[static_cast<std::size_t>(problem) % ids.size()];
}

std::string_view describe_header_problem(const apdu_command& command, std::span<char> buffer) {
  text_writer out{buffer};
  switch (command.problem) {
    case header_problem::none:
      break;
    case header_problem::too_short:
      out.put("not a command: ");
      out.put(std::uint64_t{command.line_size});
      out.put(command.line_size == 1 ? " byte, a command has at least 4"
                                     : " bytes, a command has at least 4");
      break;
    case header_problem::data_cut:
    case header_problem::extra:
      out.put("Lc says ");
      out.put(std::uint64_t{command.lc});
      out.put(command.lc == 1 ? " data byte, the line holds " : " data bytes, the line holds ");
      out.put(std::uint64_t{command.line_size - 5});
      out.put(" after it");
      break;
  }
  return out.view();
}

bool is_known_ins(std::uint8_t ins) {
  static constexpr std::array<bool, 256> known = [] {
    std::array<bool, 256> table{};
    for (const command_row& row : command_table)
      table[row.ins] = true;
    return table;
  }();
  return known[ins];
}

command_id identify(const apdu_command& command) {
  if (command.problem == header_problem::too_short) return command_id::unknown;
  for (const command_row& row : command_table)
    if (row.ins == command.ins) return row.id;
  return command_id::unknown;
}

std::string_view command_name(command_id id) {
  for (const command_row& row : command_table)
    if (row.id == id) return row.name;
  return {};
}

std::string_view command_status_meaning(command_id id, std::uint16_t status,
                                        std::span<char> buffer) {
  for (const status_row& row : status_table) {
    if (row.command != id && row.command != command_id::unknown) continue;
    if ((status & row.mask) != row.status) continue;
    if (row.mask == 0xFFFF) return row.meaning;
    // Counted: the count stands where the text has '#'.
    const std::size_t at = row.meaning.find('#');
    text_writer out{buffer};
    out.put(row.meaning.substr(0, at));
    out.put(std::uint64_t{static_cast<std::uint16_t>(status & ~row.mask & 0xFFFF)});
    out.put(row.meaning.substr(at + 1));
    return out.view();
  }
  return {};
}

bool looks_like_status(std::uint8_t sw1, std::uint8_t sw2) {
  return (sw1 == 0x90 && sw2 == 0x00) || (sw1 >= 0x61 && sw1 <= 0x6F);
}

cryptogram_type requested_type(std::uint8_t p1) {
  return static_cast<cryptogram_type>(p1 >> 6);
}
cryptogram_type returned_type(std::uint8_t cid) {
  return static_cast<cryptogram_type>(cid >> 6);
}

std::string_view cryptogram_name(cryptogram_type type) {
  constexpr std::array<std::string_view, 4> names{"AAC", "TC", "ARQC", "RFU"};
  return names[static_cast<std::size_t>(type) & 3];
}

}  // namespace emvtlv::trace
