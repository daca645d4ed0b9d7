// Trace mode's session: what one card session has shown so far, kept to the few
// values the command readings and the summary need, and the summary itself.
//
// Contract and limits:
// - Fixed size (about 4 KiB): copies of the card's lists (PDOL, CDOL1, CDOL2, DDOL,
//   UDOL, AFL), the selected AID and label, the AIP, which records were read, up to
//   four GENERATE AC exchanges, the VERIFY results, the CVM Results the terminal sent
//   and the first eight problems (the rest are counted). Never the log itself.
// - The context (kernel, contact or contactless, how to read an 80 answer) lives here
//   in one place, so the explainers can be given it.
// - The summary is written as text lines or as one JSON object; card numbers never
//   enter it (the label is printable ASCII, anything else shows as '.').
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/output_sink.h"
#include "emv/payment_systems.h"
#include "trace/commands.h"
#include "trace/dol.h"

namespace emvtlv::trace {

// What an answer is read in the light of: the session's application, and the
// command the answer belongs to.
struct trace_context {
  emv_kernel kernel = emv_kernel::unknown;
  payment_environment environment = payment_environment::none;
  format1_layout format1 = format1_layout::none;
};

struct session_problem {
  std::uint64_t line = 0;
  std::array<char, 120> text{};
  std::uint8_t size = 0;
  std::string_view id;  // a constant: "no_answer_logged", ...
};

struct generate_ac_record {
  cryptogram_type requested = cryptogram_type::aac;
  bool cda = false;
  bool answered = false;
  cryptogram_type returned = cryptogram_type::aac;
};

struct session_state {
  std::uint32_t number = 0;  // counted from 1 over the whole input
  std::uint64_t first_line = 0;
  std::uint64_t last_line = 0;
  std::uint32_t commands = 0;

  trace_context context;
  bool pse_selected = false;
  std::array<std::uint8_t, 16> aid{};
  std::uint8_t aid_size = 0;
  std::uint32_t applications = 0;  // AIDs selected
  std::array<char, 16> label{};
  std::uint8_t label_size = 0;

  stored_list pdol, cdol1, cdol2, ddol, udol, afl;
  // The transaction log: its SFI and size (9F4D, from the SELECT answer) and the
  // format of its records (9F4F, from GET DATA).
  std::uint8_t log_sfi = 0;
  std::uint8_t log_records = 0;
  stored_list log_format;
  bool has_aip = false;
  std::array<std::uint8_t, 2> aip{};

  // One bit per record number, for SFI 1 to 30.
  std::array<std::array<std::uint8_t, 32>, 31> read{};

  std::uint32_t generate_acs = 0;
  std::array<generate_ac_record, 4> cryptograms{};
  bool gpo_cryptogram = false;  // a contactless card answered GPO with one
  cryptogram_type gpo_returned = cryptogram_type::aac;
  bool checksum = false;  // COMPUTE CRYPTOGRAPHIC CHECKSUM answered

  std::uint32_t verifies = 0;
  std::uint8_t verify_p2 = 0;
  std::uint16_t verify_status = 0;
  std::uint32_t verify_wrong = 0;
  bool has_cvm_results = false;
  std::array<std::uint8_t, 3> cvm_results{};

  std::uint32_t problems = 0;
  std::array<session_problem, 8> first_problems{};

  void start(std::uint32_t session_number);
  void add_problem(std::uint64_t line, std::string_view text, std::string_view id);
  void mark_read(std::uint8_t sfi, std::uint8_t record);
  bool was_read(std::uint8_t sfi, std::uint8_t record) const;
  void select_aid(std::span<const std::uint8_t> aid_bytes);
};

// "contact", "contactless" or "not said".
std::string_view interface_name(payment_environment environment);

// The outcome as the summary states it: "approved offline", "online requested", ...
std::string_view session_outcome(const session_state& session);

struct summary_options {
  bool line_numbers = false;
};

// Another part of every summary, written by what holds its state (the offline data
// authentication checks): text lines after the summary's own, each starting with the
// given prefix; or JSON members, each starting with ',', last in the summary object.
// `start` hears that a new session begins.
struct summary_part {
  void* context = nullptr;
  void (*write)(void* context, bool json, std::string_view prefix, output_sink& out) = nullptr;
  void (*start)(void* context) = nullptr;
};

void write_summary_text(const session_state& session, const summary_options& options,
                        output_sink& out, summary_part extra = {});
void write_summary_json(const session_state& session, output_sink& out, summary_part extra = {});

// Problems as a JSON array of {"line","message","problem_id"} objects.
void put_problems_json(std::span<const session_problem> problems, output_sink& out);

}  // namespace emvtlv::trace
