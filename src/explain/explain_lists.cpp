// List explainers: an entry item per list entry (its bytes in hex), its fields one
// level below, and a problem item there for each rule the entry breaks.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "emv/elements.h"
#include "explain/explainers.h"
#include "explain/item_text.h"

namespace emvtlv::explain {
namespace {

// A run of codes sharing one meaning; `emv44` marks codes new in EMV 4.4.
struct code_range {
  std::uint8_t first;
  std::uint8_t last;
  std::string_view text;
  bool emv44 = false;
};

// CVM Code, bits b6-b1 of a CV Rule's first byte.
constexpr std::array cvm_methods = {
    code_range{0x00, 0x00, "Fail CVM processing"},
    code_range{0x01, 0x01, "Plaintext PIN verification performed by ICC"},
    code_range{0x02, 0x02, "Enciphered PIN verified online"},
    code_range{0x03, 0x03, "Plaintext PIN verification performed by ICC and signature (paper)"},
    code_range{0x04, 0x04, "Enciphered PIN verification performed by ICC"},
    code_range{0x05, 0x05, "Enciphered PIN verification performed by ICC and signature (paper)"},
    // Biometrics: "offline" means verified by the card.
    code_range{0x06, 0x06, "Facial biometric, offline", true},
    code_range{0x07, 0x07, "Facial biometric, online", true},
    code_range{0x08, 0x08, "Finger biometric, offline", true},
    code_range{0x09, 0x09, "Finger biometric, online", true},
    code_range{0x0A, 0x0A, "Palm biometric, offline", true},
    code_range{0x0B, 0x0B, "Palm biometric, online", true},
    code_range{0x0C, 0x0C, "Iris biometric, offline", true},
    code_range{0x0D, 0x0D, "Iris biometric, online", true},
    code_range{0x0E, 0x0E, "Voice biometric, offline", true},
    code_range{0x0F, 0x0F, "Voice biometric, online", true},
    code_range{0x10, 0x1D, "Reserved for future use by EMV"},
    code_range{0x1E, 0x1E, "Signature (paper)"},
    code_range{0x1F, 0x1F, "No CVM required"},
    code_range{0x20, 0x2F, "Reserved for use by the individual payment systems"},
    code_range{0x30, 0x3E, "Reserved for use by the issuer"},
    code_range{0x3F, 0x3F, "Not available for use in a CV Rule"},
};

// CVM Condition, a CV Rule's second byte. The wording is EMV's: "under" and "over"
// are left as they are rather than read as < or >=.
constexpr std::array cvm_conditions = {
    code_range{0x00, 0x00, "Always"},
    code_range{0x01, 0x01, "If unattended cash"},
    code_range{0x02, 0x02,
               "If not unattended cash and not manual cash and not purchase with cashback"},
    code_range{0x03, 0x03, "If terminal supports the CVM"},
    code_range{0x04, 0x04, "If manual cash"},
    code_range{0x05, 0x05, "If purchase with cashback"},
    code_range{0x06, 0x06, "If transaction is in the application currency and is under X value"},
    code_range{0x07, 0x07, "If transaction is in the application currency and is over X value"},
    code_range{0x08, 0x08, "If transaction is in the application currency and is under Y value"},
    code_range{0x09, 0x09, "If transaction is in the application currency and is over Y value"},
    code_range{0x0A, 0x7F, "RFU"},
    code_range{0x80, 0xFF, "Reserved for use by individual payment systems"},
};

// CVM Results byte 3.
constexpr std::array cvm_outcomes = {
    code_range{0x00, 0x00, "unknown"},
    code_range{0x01, 0x01, "failed"},
    code_range{0x02, 0x02, "successful"},
    code_range{0x03, 0xFF, "RFU"},
};

template <std::size_t N>
constexpr bool covers(const std::array<code_range, N>& table, unsigned last) {
  unsigned next = 0;
  for (const code_range& r : table) {
    if (r.first != next || r.last < r.first) return false;
    next = r.last + 1U;
  }
  return next == last + 1;
}
static_assert(covers(cvm_methods, 0x3F), "every CVM code has one meaning");
static_assert(covers(cvm_conditions, 0xFF), "every condition code has one meaning");
static_assert(covers(cvm_outcomes, 0xFF), "every result code has one meaning");

constexpr std::string_view emv44_note = " (EMV 4.4)";

// Every code's text with its note, worked out when compiled: a code is one load.
template <const auto& table, std::size_t codes>
struct code_texts {
  static constexpr std::size_t noted_size = [] {
    std::size_t n = 0;
    for (const code_range& r : table)
      if (r.emv44) n += r.text.size() + emv44_note.size();
    return n;
  }();
  static constexpr std::array<char, noted_size + 1> noted = [] {
    std::array<char, noted_size + 1> chars{};
    std::size_t at = 0;
    for (const code_range& r : table) {
      if (!r.emv44) continue;
      for (const char c : r.text)
        chars[at++] = c;
      for (const char c : emv44_note)
        chars[at++] = c;
    }
    return chars;
  }();
  static constexpr std::array<std::string_view, codes> texts = [] {
    std::array<std::string_view, codes> all{};
    std::size_t at = 0;
    for (const code_range& r : table) {
      std::string_view text = r.text;
      if (r.emv44) {
        text = std::string_view(noted.data() + at, r.text.size() + emv44_note.size());
        at += text.size();
      }
      for (unsigned code = r.first; code <= r.last; ++code)
        all[code] = text;
    }
    return all;
  }();
};

constexpr const auto& method_texts = code_texts<cvm_methods, 0x40>::texts;
constexpr const auto& condition_texts = code_texts<cvm_conditions, 0x100>::texts;
constexpr const auto& outcome_texts = code_texts<cvm_outcomes, 0x100>::texts;

// One code as a field; `facts` is the caller's, with has_number set: only the number
// changes.
template <std::size_t N>
void emit_code(explain_output out, std::string_view label,
               const std::array<std::string_view, N>& texts, std::uint8_t code, std::uint32_t level,
               explain_facts& facts) {
  facts.number = code;
  emit(out, explain_kind::field, label, texts[code], level, facts);
}

void emit_rfu_b8(explain_output out, std::uint32_t level) {
  explain_facts facts;
  facts.byte = 1;
  facts.bit = 8;
  emit(out, explain_kind::rfu, "byte 1 b8", "RFU bit set: byte 1 b8", level, facts);
}

template <std::size_t N>
void emit_entry(explain_output out, std::string_view kind, std::size_t index, bytes entry) {
  item_text<16> label;
  label.append(kind).append(" ").append_uint(index);
  item_text<N> text;
  text.append_hex(entry);
  emit(out, explain_kind::entry, label.view(), text.view());
}

// `facts` is the caller's, with has_number set, so a list makes it once.
void emit_number(explain_output out, std::string_view label, std::uint64_t n, std::uint32_t level,
                 explain_facts& facts) {
  item_text<24> text;
  text.append_uint(n);
  facts.number = n;
  emit(out, explain_kind::field, label, text.view(), level, facts);
}

void emit_number(explain_output out, std::string_view label, std::uint64_t n, std::uint32_t level) {
  explain_facts facts;
  facts.has_number = true;
  emit_number(out, label, n, level, facts);
}

void emit_sfi_problem(explain_output out, unsigned sfi, std::uint32_t level) {
  item_text<24> text;
  text.append("SFI ").append_uint(sfi).append(" is invalid");
  emit_problem(out, "invalid_sfi", text.view(), level);
}

std::uint32_t read_u32_be(bytes v) {
  return std::uint32_t{v[0]} << 24 | std::uint32_t{v[1]} << 16 | std::uint32_t{v[2]} << 8 |
         std::uint32_t{v[3]};
}

// Longer tags are legal BER but nothing EMV defines; past this, a list cannot be
// trusted to resynchronise.
constexpr std::size_t max_tag_octets = 4;

// The number of octets of the BER tag at v[pos]: 0 when it runs past the end of `v`,
// max_tag_octets + 1 when it is longer than that (its first max_tag_octets octets
// are then all in `v`).
std::size_t tag_octets(bytes v, std::size_t pos) {
  if (pos >= v.size()) return 0;
  std::size_t n = 1;
  if ((v[pos] & 0x1F) != 0x1F) return n;
  while (n < max_tag_octets) {
    if (pos + n >= v.size()) return 0;
    if ((v[pos + n++] & 0x80) == 0) return n;
  }
  return max_tag_octets + 1;
}

// The dictionary name of the tag `tag` (1 to max_tag_octets octets).
std::string_view tag_name(bytes tag) {
  std::uint64_t number = 0;
  for (const std::uint8_t b : tag)
    number = number << 8 | b;
  const emv_element* element = find_emv_element(number);
  return element != nullptr ? element->name : "unknown tag";
}

// ", N byte" or ", N bytes" for every one-octet length, so a DOL entry's text is its
// name and one of these.
struct length_text {
  std::array<char, 11> chars;  // ", 255 bytes" at most
  std::uint8_t size;
};
constexpr auto length_texts = [] {
  std::array<length_text, 256> all{};
  for (std::size_t n = 0; n < all.size(); ++n) {
    length_text& t = all[n];
    std::size_t at = 0;
    t.chars[at++] = ',';
    t.chars[at++] = ' ';
    if (n >= 100) t.chars[at++] = static_cast<char>('0' + n / 100);
    if (n >= 10) t.chars[at++] = static_cast<char>('0' + n / 10 % 10);
    t.chars[at++] = static_cast<char>('0' + n % 10);
    for (const char c : std::string_view(n == 1 ? " byte" : " bytes"))
      t.chars[at++] = c;
    t.size = static_cast<std::uint8_t>(at);
  }
  return all;
}();
static_assert(length_texts[1].size == 8 && length_texts[255].size == 11);

constexpr std::size_t entry_text_max = 160;  // an entry's text; longer names are cut

// One line an entry, the tag as its label: DOLs run to dozens of entries a record, and
// "9F37: Unpredictable Number, 4 bytes" says all there is to say. `suffix` is the
// length's text, null for a tag list; `facts` is the list's, shared by its entries:
// only the number changes.
void emit_tag_entry(explain_output out, bytes tag, std::string_view name, const length_text* suffix,
                    explain_facts& facts) {
  std::array<char, 2 * max_tag_octets> hex;
  const std::size_t octets = std::min(tag.size(), max_tag_octets);  // always tag.size()
  for (std::size_t i = 0; i < octets; ++i)
    std::memcpy(hex.data() + 2 * i, &hex_pairs[2 * std::size_t{tag[i]}], 2);
  item_text<entry_text_max> text;
  text.append(name);
  if (suffix != nullptr) {
    text.append(std::string_view(suffix->chars.data(), suffix->size));
    facts.number = static_cast<std::uint64_t>(suffix - length_texts.data());
  }
  emit(out, explain_kind::entry, std::string_view(hex.data(), 2 * octets), text.view(), 0, facts);
}

// The same entry as a text line, "INDENT- TAG: NAME, N bytes", written in place.
inline void put_tag_line(const explain_text_lines& lines, bytes tag, std::string_view name,
                         const length_text* suffix) {
  const std::size_t suffix_size = suffix != nullptr ? suffix->size : 0;
  const std::size_t indent = lines.indent;
  const std::size_t head = indent + 2;
  const std::size_t size = head + 2 * tag.size() + 2 + name.size() + suffix_size + 1;
  char* at = lines.sink->extend(size);
  if (head <= item_head_move && size >= item_head_move)
    std::memcpy(at, item_heads.data() + (max_item_indent - indent), item_head_move);
  else
    put_item_head(at, indent);
  at += head;
  for (const std::uint8_t b : tag) {
    std::memcpy(at, &hex_pairs[2 * std::size_t{b}], 2);
    at += 2;
  }
  std::memcpy(at, ": ", 2);
  at = put_item_chars(at + 2, name);
  if (suffix != nullptr) {
    // Every length text is 8 to 11 characters: two overlapping moves.
    std::memcpy(at, suffix->chars.data(), 8);
    std::memcpy(at + suffix_size - 8, suffix->chars.data() + suffix_size - 8, 8);
    at += suffix_size;
  }
  *at = '\n';
}

// Walks a list of tags, each followed by a one-octet length when `with_lengths`.
// An entry that cannot be read ends the list, with a problem saying why.
void explain_tags(bytes v, bool with_lengths, explain_output out) {
  explain_facts facts;
  facts.has_number = with_lengths;
  std::size_t pos = 0;
  for (std::size_t index = 1; pos < v.size(); ++index) {
    const std::size_t n = tag_octets(v, pos);
    if (n == 0) {
      emit_entry<2 * max_tag_octets>(out, "entry", index, v.subspan(pos));
      emit_problem(out, "tag_cut_short", "tag cut short", 1);
      return;
    }
    if (n > max_tag_octets) {
      emit_entry<2 * max_tag_octets>(out, "entry", index, v.subspan(pos, max_tag_octets));
      emit_problem(out, "tag_too_long", "tag longer than 4 bytes", 1);
      return;
    }
    const bytes tag = v.subspan(pos, n);
    const length_text* suffix = nullptr;
    if (with_lengths) {
      if (pos + n >= v.size()) {
        emit_entry<2 * max_tag_octets>(out, "entry", index, tag);
        emit_problem(out, "length_missing", "length missing", 1);
        return;
      }
      suffix = &length_texts[v[pos + n]];
    }
    const std::string_view name = tag_name(tag);
    if (out.lines != nullptr &&
        name.size() + (suffix != nullptr ? suffix->size : 0) <= entry_text_max)
      put_tag_line(*out.lines, tag, name, suffix);
    else
      emit_tag_entry(out, tag, name, suffix, facts);
    pos += n + (with_lengths ? 1 : 0);
  }
}

// Hands items on one level deeper, for an explanation nested under an entry.
struct nested_output {
  explain_output outer;
};

void nested_item(void* context, explain_kind kind, std::uint32_t level, std::string_view label,
                 std::string_view text, const explain_facts& facts) {
  emit(static_cast<const nested_output*>(context)->outer, kind, label, text, level + 1, facts);
}

}  // namespace

void explain_cvm_list(bytes v, const explain_context& c, explain_output out) {
  if (v.size() < 10 || v.size() % 2 != 0) {
    wrong_length(out, "CVM List", "at least 10 bytes and an even number", v.size());
    return;
  }
  // X and Y are in the application currency, with its exponent.
  emit_amount(out, explain_kind::field, "amount X", read_u32_be(v.first(4)),
              c.application_currency_exponent, c.application_currency);
  emit_amount(out, explain_kind::field, "amount Y", read_u32_be(v.subspan(4, 4)),
              c.application_currency_exponent, c.application_currency);
  explain_facts number;
  number.has_number = true;
  for (std::size_t pos = 8; pos < v.size(); pos += 2) {
    const std::uint8_t code = v[pos];
    emit_entry<4>(out, "rule", (pos - 8) / 2 + 1, v.subspan(pos, 2));
    emit_code(out, "method", method_texts, code & 0x3F, 1, number);
    emit_code(out, "condition", condition_texts, v[pos + 1], 1, number);
    emit(out, explain_kind::field, "if unsuccessful",
         (code & 0x40) != 0 ? "apply succeeding CV Rule" : "fail cardholder verification", 1);
    if ((code & 0x80) != 0) emit_rfu_b8(out, 1);
  }
}

void explain_cvm_results(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 3) {
    wrong_length(out, "CVM Results", "3 bytes", v.size());
    return;
  }
  // b7 repeats the rule's "if unsuccessful" choice and says nothing about the outcome.
  const auto method = static_cast<std::uint8_t>(v[0] & 0x3F);
  explain_facts number;
  number.has_number = true;
  if (method == 0x3F)
    emit(out, explain_kind::field, "method", "No CVM performed");
  else
    emit_code(out, "method", method_texts, method, 0, number);
  emit_code(out, "condition", condition_texts, v[1], 0, number);
  emit_code(out, "result", outcome_texts, v[2], 0, number);
  if ((v[0] & 0x80) != 0) emit_rfu_b8(out, 0);
}

void explain_afl(bytes v, const explain_context&, explain_output out) {
  if (v.empty() || v.size() % 4 != 0) {
    wrong_length(out, "AFL", "a non-zero multiple of 4 bytes", v.size());
    return;
  }
  explain_facts number;
  number.has_number = true;
  explain_facts range;
  for (std::size_t pos = 0; pos < v.size(); pos += 4) {
    const bytes entry = v.subspan(pos, 4);
    const unsigned sfi = entry[0] >> 3U;
    const unsigned first = entry[1];
    const unsigned last = entry[2];
    const unsigned signed_records = entry[3];
    emit_entry<8>(out, "entry", pos / 4 + 1, entry);
    emit_number(out, "SFI", sfi, 1, number);
    item_text<8> records;
    records.append_uint(first).append("-").append_uint(last);
    range.first_record = entry[1];
    range.last_record = entry[2];
    emit(out, explain_kind::field, "records", records.view(), 1, range);
    emit_number(out, "offline authentication", signed_records, 1, number);

    if (sfi == 0 || sfi == 31) emit_sfi_problem(out, sfi, 1);
    if ((entry[0] & 0x07) != 0) emit_problem(out, "sfi_low_bits_set", "byte 1 b3-b1 not 0", 1);
    if (first == 0) emit_problem(out, "first_record_zero", "first record is 0", 1);
    if (last < first) {
      item_text<48> text;
      text.append("last record ")
          .append_uint(last)
          .append(" below first record ")
          .append_uint(first);
      emit_problem(out, "last_record_below_first", text.view(), 1);
    } else if (signed_records > last - first + 1) {
      // Checked only for a sound range: a reversed one has already said what is wrong.
      item_text<64> text;
      text.append_uint(signed_records)
          .append(" records for offline authentication, only ")
          .append_uint(last - first + 1)
          .append(" read");
      emit_problem(out, "too_many_signed_records", text.view(), 1);
    }
  }
}

void explain_dol(bytes v, const explain_context&, explain_output out) {
  explain_tags(v, true, out);
}

void explain_tag_list(bytes v, const explain_context&, explain_output out) {
  explain_tags(v, false, out);
}

void explain_log_entry(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 2) {
    wrong_length(out, "Log Entry", "2 bytes", v.size());
    return;
  }
  // Here the SFI is the whole byte, not shifted as in the AFL.
  emit_number(out, "SFI", v[0], 0);
  emit_number(out, "maximum records", v[1], 0);
  if (v[0] == 0 || v[0] > 30) emit_sfi_problem(out, v[0], 0);
}

namespace {

// Whether `afl` is a list of AFL entries that keep every AFL rule (an empty one does).
bool afl_holds(bytes afl) {
  if (afl.size() % 4 != 0) return false;
  for (std::size_t pos = 0; pos < afl.size(); pos += 4) {
    const unsigned sfi = afl[pos] >> 3U;
    const unsigned first = afl[pos + 1];
    const unsigned last = afl[pos + 2];
    if (sfi == 0 || sfi == 31 || (afl[pos] & 0x07) != 0 || first == 0 || last < first ||
        afl[pos + 3] > last - first + 1)
      return false;
  }
  return true;
}

constexpr std::size_t afl_shown = 252;  // EMV caps an AFL there; a longer one is cut

void explain_aip_afl(bytes v, const explain_context& c, explain_output out) {
  if (v.size() < 2) {
    wrong_length(out, "Format 1 after GET PROCESSING OPTIONS", "at least 2 bytes", v.size());
    return;
  }
  nested_output nested{out};
  const explain_output inner{&nested, nested_item};
  item_text<4> aip;
  aip.append_hex(v.first(2));
  emit(out, explain_kind::entry, "AIP", aip.view());
  explain_aip(v.first(2), c, inner);
  // The AFL explainer judges the rest's length itself, so a short AFL still shows the AIP.
  const bytes rest = v.subspan(2);
  item_text<2 * afl_shown + 3> afl;
  afl.append_hex(rest.first(std::min(rest.size(), afl_shown)));
  if (rest.size() > afl_shown) afl.append("...");
  emit(out, explain_kind::entry, "AFL", afl.view());
  explain_afl(rest, c, inner);
}

// GENERATE AC's answer: CID (1), ATC (2), Application Cryptogram (8), then the Issuer
// Application Data, up to 32 bytes.
void explain_generate_ac_answer(bytes v, const explain_context& c, explain_output out) {
  if (v.size() < 11 || v.size() > 43) {
    wrong_length(out, "Format 1 after GENERATE AC", "11 to 43 bytes", v.size());
    return;
  }
  nested_output nested{out};
  const explain_output inner{&nested, nested_item};
  item_text<2> cid;
  cid.append_hex(v[0]);
  emit(out, explain_kind::entry, "CID", cid.view());
  explain_cid(v.first(1), c, inner);
  emit_number(out, "ATC", std::uint32_t{v[1]} << 8 | v[2], 0);
  item_text<16> cryptogram;
  cryptogram.append_hex(v.subspan(3, 8));
  emit(out, explain_kind::field, "cryptogram", cryptogram.view());
  if (v.size() > 11) {
    item_text<64> iad;
    iad.append_hex(v.subspan(11));
    emit(out, explain_kind::field, "IAD", iad.view());
    explain_iad(v.subspan(11), c, inner);
  }
}

void explain_signed_dynamic_data(bytes v, explain_output out) {
  item_text<32> text;
  text.append_uint(v.size()).append(v.size() == 1 ? " byte" : " bytes");
  explain_facts facts;
  facts.has_number = true;
  facts.number = v.size();
  emit(out, explain_kind::field, "Signed Dynamic Application Data", text.view(), 0, facts);
}

}  // namespace

void explain_format1(bytes v, const explain_context& c, explain_output out) {
  using enum response_format1_reading;
  response_format1_reading how = c.format1;
  if (how == by_content) {
    if (v.size() >= 2 && (v.size() - 2) % 4 == 0 && afl_holds(v.subspan(2)))
      how = gpo;
    else if (v.size() >= 11 && v.size() <= 43)
      how = generate_ac;
    else
      how = internal_authenticate;
  }
  constexpr std::array<std::string_view, 4> answers = {
      "", "AIP + AFL", "CID + ATC + cryptogram + IAD", "Signed Dynamic Application Data"};
  constexpr std::array<std::string_view, 4> commands = {
      " (by content)", " (answer to GET PROCESSING OPTIONS)", " (answer to GENERATE AC)",
      " (answer to INTERNAL AUTHENTICATE)"};
  item_text<96> reading;
  reading.append(answers[static_cast<std::size_t>(how)]);
  reading.append(commands[static_cast<std::size_t>(c.format1)]);
  emit(out, explain_kind::field, "reading", reading.view());
  switch (how) {
    case gpo:
      explain_aip_afl(v, c, out);
      break;
    case generate_ac:
      explain_generate_ac_answer(v, c, out);
      break;
    default:
      explain_signed_dynamic_data(v, out);
      break;
  }
}

}  // namespace emvtlv::explain
