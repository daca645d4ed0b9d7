// Explain mode: what an element's value means, for the elements whose coding EMV
// defines (bit fields, lists, dates, amounts, codes, text).
//
// Contract and limits:
// - An explanation is a run of items, each a kind, a short label and a text, handed
//   to an explain_output; the writers turn them into indented lines or JSON. Labels
//   and texts are ASCII (bytes outside printable ASCII appear escaped), except the
//   names from the ISO tables, which are UTF-8 as the iso-codes package has them.
// - A value gets an explanation only when it has the length its coding needs;
//   otherwise one problem item says what was expected ("AIP: 2 bytes expected, 3 given").
// - Card numbers are masked as everywhere else (card/mask.h): a text shows the record
//   scan's hidden digits as X, a value holding some that no text shows is not explained,
//   and sensitive authentication data (Track 2's discretionary data, 9F1F, 9F20) is
//   only counted ("discretionary data: 13 digits, hidden").
// - Facts that depend on the contactless kernel or are new in EMV 4.4 say so.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace emvtlv {

class hidden_nibbles;

enum class explain_kind : std::uint8_t {
  meaning,  // what the whole value says (a date, an amount, a code's name, quoted text)
  bit,      // a set bit: label "byte 1 b7", text its meaning
  rfu,      // a set RFU bit: label "byte 2 b3", text "RFU bit set: byte 2 b3"
  field,    // one field of a structured value: label the field's name
  entry,    // one entry of a list (CVM rule, AFL entry, DOL entry): label "rule 1"
  problem,  // the value does not have the form its coding needs
};

struct explain_output {
  void* context;
  // `level` is 0 for items about the value, 1 for items about the entry before them.
  void (*item)(void* context, explain_kind kind, std::uint32_t level, std::string_view label,
               std::string_view text);
};

// Facts elsewhere in the same record that change how a value reads.
struct explain_context {
  int currency_exponent = -1;  // 5F36 when the record has one, else -1
  // The record scan's marks for the record the values lie in; null: nothing hidden.
  const hidden_nibbles* hidden = nullptr;
};

// Explains the value of a primitive element. `value` is what the record holds of it,
// `declared` its declared length. Returns false, and emits nothing, when the tag has
// no explanation.
bool explain_value(std::uint64_t tag, std::span<const std::uint8_t> value, std::uint64_t declared,
                   const explain_context& context, explain_output out);

}  // namespace emvtlv
