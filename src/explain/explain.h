// Explain mode: what an element's value means, for the elements whose coding EMV
// defines (bit fields, lists, dates, amounts, codes, text, AIDs).
//
// Contract and limits:
// - An explanation is a run of items, each a kind, a short label and a text, handed
//   to an explain_output; the writers turn them into indented lines or JSON. Labels
//   and texts are ASCII (bytes outside printable ASCII appear escaped), except the
//   names from the ISO tables, which are UTF-8 as the iso-codes package has them, and
//   9F12 read in the ISO 8859 part its record's 9F11 names, converted to UTF-8.
// - A value gets an explanation only when it has the length its coding needs;
//   otherwise one problem item says what was expected ("AIP: 2 bytes expected, 3 given").
// - Values that read differently by what stands around them (amounts and their
//   currency, the kernel's tags, 80, 9F12) read through an explain_context, filled
//   from the same record by the writers, or from a whole session by a caller that has
//   one. Without a fact the explanation says so ("exponent unknown", "(by length)").
// - Card numbers are masked as everywhere else (card/mask.h): a text shows the record
//   scan's hidden digits as X, a value holding some that no text shows is not explained,
//   and sensitive authentication data (Track 2's discretionary data, 9F1F, 9F20) is
//   only counted ("discretionary data: 13 digits, hidden").
// - Facts that depend on the contactless kernel or are new in EMV 4.4 say so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "emv/payment_systems.h"

namespace emvtlv {

class hidden_nibbles;

enum class explain_kind : std::uint8_t {
  meaning,  // what the whole value says (a date, an amount, a code's name, quoted text)
  bit,      // a set bit: label "byte 1 b7", text its meaning
  rfu,      // a set RFU bit: label "byte 2 b3", text "RFU bit set: byte 2 b3"
  field,    // one field of a structured value: label the field's name
  entry,    // one entry of a list (CVM rule, AFL entry, DOL entry): label "rule 1"
  problem,  // the value does not have the form its coding needs
  none,     // a bit field with no bit set: text "no bit set"
};

// What an item says, typed, beside its text: for writers that give it to scripts (the
// JSON). The text says the same in words, so a writer for people may ignore it. Each
// field has an "absent" value, and most items carry one or two fields at most.
struct explain_facts {
  // Bit items: the stable id of the bit's row ("cda_supported"); problem items: the
  // problem's ("wrong_length"); lower-case words joined by '_'. Empty: none.
  std::string_view id;
  std::uint8_t byte = 0;      // bit and rfu items: 1 for the leftmost byte; 0: not a bit
  std::uint8_t bit = 0;       // with byte: 1 (b1) to 8 (b8)
  std::int8_t exponent = -1;  // amounts and exponents: decimal places; -1: unknown
  bool has_number = false;
  // A count, SFI, record number, ATC, code or length as a number; an amount in minor
  // units (with `exponent` its decimal places).
  std::uint64_t number = 0;
  std::uint8_t first_record = 0;  // AFL records: 0 when absent (a record is never 0)
  std::uint8_t last_record = 0;
  std::string_view amount;          // "10.00", when the exponent is known
  std::string_view currency;        // "EUR", when the currency is known
  std::string_view date;            // "2027-12-31", or "2027-12" for an expiry month
  std::string_view code;            // an ISO code as letters: "EUR", "US", "en"
  std::string_view cryptogram;      // "AAC", "TC", "ARQC" or "RFU"
  std::string_view payment_system;  // an AID's: "Mastercard"
  std::string_view kernel;          // an AID's: "C-2" ... "C-7", or "domestic"
};

class output_sink;

// Items written as text lines instead (explain/item_lines.h): level-0 items indented
// `indent` spaces, each level two more.
struct explain_text_lines {
  output_sink* sink;
  std::size_t indent;
};

struct explain_output {
  void* context;
  // `level` is 0 for items about the value, 1 for items about the entry before them.
  void (*item)(void* context, explain_kind kind, std::uint32_t level, std::string_view label,
               std::string_view text, const explain_facts& facts);
  // When set, the items are written there as text lines, and `item` is not called: a
  // text writer's many short lines then cost no call each. Kind and facts are dropped.
  const explain_text_lines* lines = nullptr;
};

// How the value of 80 (Response Message Template Format 1) is read. Its layout is the
// answer to the command that asked for it; without the command, by what it holds: AIP +
// AFL when the length is 2 + 4n and every AFL entry keeps the AFL rules, else CID + ATC
// + cryptogram (+ IAD) for 11 to 43 bytes, else Signed Dynamic Application Data.
enum class response_format1_reading : std::uint8_t {
  by_content,
  gpo,                    // after GET PROCESSING OPTIONS: AIP + AFL
  generate_ac,            // after GENERATE AC: CID + ATC + cryptogram (+ IAD)
  internal_authenticate,  // after INTERNAL AUTHENTICATE: Signed Dynamic Application Data
};

// The facts other values depend on. The writers fill one per record with
// note_context_element; a caller that knows more (a session's AID, the command behind
// an 80) may set the fields itself. Every field has a "not known" value, and the
// default is "nothing known".
struct explain_context {
  // The AID the values belong to (4F or 84), and the kernel its RID names; the span
  // must outlive the explanations. Without a kernel, the tags whose reading depends on
  // it are read by their length and say so.
  std::span<const std::uint8_t> aid{};
  emv_kernel kernel = emv_kernel::unknown;
  // The kernel the user named (--kernel) to stand in for a missing AID: a caller sets
  // `kernel` to it too. An AID (the record's or the session's) overrules it, and the
  // kernel-dependent explanations say which one decided.
  emv_kernel kernel_option = emv_kernel::unknown;
  // Contact or contactless, when a session says (by the PSE or PPSE it selected): a
  // contact session's TVR is not read by the contactless kernel of its AID.
  payment_environment environment = payment_environment::none;
  int transaction_currency = -1;           // 5F2A as its number (978), -1 unknown
  int currency_exponent = -1;              // 5F36, 0 to 9; -1 unknown or not a valid n 1
  int application_currency = -1;           // 9F42, -1 unknown
  int application_currency_exponent = -1;  // 9F44, 0 to 9; -1 unknown
  int code_table = 0;                      // 9F11: ISO 8859 part 1 to 10; 0 unknown
  response_format1_reading format1 = response_format1_reading::by_content;
  // The record scan's marks for the record the values lie in; null: nothing hidden.
  const hidden_nibbles* hidden = nullptr;
};

// Takes what `context` needs from one primitive element: `value` is its whole value.
// The first element of each kind counts, later ones are ignored; so does one of the
// wrong length or form. An AID names the kernel; two AIDs of different kernels (a
// PPSE directory) leave the kernel unknown.
void note_context_element(explain_context& context, std::uint64_t tag,
                          std::span<const std::uint8_t> value);

// Explains the value of a primitive element. `value` is what the record holds of it,
// `declared` its declared length. Returns false, and emits nothing, when the tag has
// no explanation.
bool explain_value(std::uint64_t tag, std::span<const std::uint8_t> value, std::uint64_t declared,
                   const explain_context& context, explain_output out);

// The name of a tag whose meaning depends on the kernel, as read in `context` with
// this value ("PUNATC(Track2)" for a 2-byte 9F66 under C-2; "... (by length)" when no
// kernel is known and the length chose); an empty view for every other tag, whose
// dictionary name stands.
std::string_view kernel_reading_name(std::uint64_t tag, std::span<const std::uint8_t> value,
                                     const explain_context& context);

}  // namespace emvtlv
