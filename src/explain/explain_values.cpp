// Value explainers: text, dates, times, amounts, ISO codes, small code tables and the
// Track 2 layout. Every text is built in a stack buffer and handed out during the call.
//
// Limits: text values show at most text_limit bytes (then "..."); the longest EMV text
// element is far shorter. Years read YY 00-49 as 20YY and 50-99 as 19YY.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "card/mask.h"
#include "common/copy.h"
#include "common/hex.h"
#include "emv/code_tables.h"
#include "emv/iso_codes.h"
#include "explain/explainers.h"

namespace emvtlv::explain {
namespace {

constexpr std::size_t text_limit = 256;
constexpr std::size_t max_places = 9;  // an exponent is one digit

// A fixed-size text under construction; what does not fit is dropped, never overrun.
// Left uninitialised: a text explainer runs for every text element of every record.
template <std::size_t N>
struct text_buffer {
  std::array<char, N> chars;  // only the first `size` are ever read
  std::size_t size = 0;

  void put(char c) {
    if (size < N) chars[size++] = c;
  }
  void put(std::string_view s) {
    const std::size_t n = std::min(s.size(), N - size);
    copy_short(chars.data() + size, s.data(), n);
    size += n;
  }
  void put_hex(std::uint8_t b) {
    put(hex_digit(b >> 4));
    put(hex_digit(b & 0xF));
  }
  static char hex_digit(unsigned nibble) { return "0123456789ABCDEF"[nibble & 0xF]; }
  std::string_view view() const { return {chars.data(), size}; }
};

// Everything outside printable ASCII as \xNN, and the quote and backslash escaped, so
// the text is ASCII and reads back unambiguously.
template <std::size_t N>
void put_escaped(text_buffer<N>& t, std::uint8_t b) {
  if (b < 0x20 || b > 0x7E) {
    t.put("\\x");
    t.put_hex(b);
    return;
  }
  if (b == '"' || b == '\\') t.put('\\');
  t.put(static_cast<char>(b));
}

template <std::size_t N>
void put_hex(text_buffer<N>& t, bytes v) {
  for (std::uint8_t b : v)
    t.put_hex(b);
}

// The value's nibbles as decimal digits, two a byte; false if one is not 0-9.
bool bcd_digits(bytes v, std::span<unsigned> digits) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    const unsigned high = v[i] >> 4U;
    const unsigned low = v[i] & 0xFU;
    if (high > 9 || low > 9) return false;
    digits[2 * i] = high;
    digits[2 * i + 1] = low;
  }
  return true;
}

// Emits one problem "WHAT: HEX", the value as it stands, and its id.
void not_a(explain_output out, std::string_view id, std::string_view what, bytes v) {
  text_buffer<64> t;
  t.put(what);
  t.put(": ");
  put_hex(t, v);
  emit_problem(out, id, t.view());
}

template <std::size_t N>
void put_two_digits(text_buffer<N>& t, unsigned value) {
  t.put(static_cast<char>('0' + value / 10));
  t.put(static_cast<char>('0' + value % 10));
}

template <std::size_t N>
void put_number(text_buffer<N>& t, unsigned value) {
  std::array<char, 10> reversed{};
  std::size_t n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0)
    t.put(reversed[--n]);
}

unsigned full_year(unsigned yy) {
  return yy < 50 ? 2000 + yy : 1900 + yy;
}

bool leap(unsigned year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned days_in_month(unsigned year, unsigned month) {
  constexpr std::array<unsigned, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : days[month - 1];
}

// An n 3 code in two bytes ("0978"): the number, or -1 when the pad digit is not 0 or a
// nibble is not a digit.
int three_digit_code(bytes v) {
  std::array<unsigned, 4> d{};
  if (!bcd_digits(v, d) || d[0] != 0) return -1;
  return static_cast<int>(d[1] * 100 + d[2] * 10 + d[3]);
}

template <std::size_t N>
void put_code(text_buffer<N>& t, int code) {
  const auto c = static_cast<unsigned>(code);
  t.put(static_cast<char>('0' + c / 100));
  put_two_digits(t, c % 100);
}

constexpr std::array<std::string_view, 4> terminal_operators = {
    {{}, "financial institution", "merchant", "cardholder"}};
constexpr std::array<std::string_view, 7> terminal_environments = {{
    {},
    "attended, online only",
    "attended, offline with online capability",
    "attended, offline only",
    "unattended, online only",
    "unattended, offline with online capability",
    "unattended, offline only",
}};

struct code_meaning {
  std::uint8_t code;
  std::string_view meaning;
};

// The first two digits of the ISO 8583 processing code.
constexpr std::array transaction_types = {
    code_meaning{0x00, "goods and services"},
    code_meaning{0x01, "cash"},
    code_meaning{0x09, "cashback"},
    code_meaning{0x20, "refund"},
    code_meaning{0x30, "inquiry"},
};

// Service code digits (ISO/IEC 7813), indexed by the digit; empty means reserved.
constexpr std::array<std::string_view, 10> interchange_digit = {{
    {},
    "interchange: international",
    "interchange: international, IC",
    {},
    {},
    "interchange: national",
    "interchange: national, IC",
    "interchange: private",
    {},
    "interchange: test",
}};
constexpr std::array<std::string_view, 10> authorisation_digit = {{
    "authorisation: normal",
    {},
    "authorisation: by issuer, online",
    {},
    "authorisation: by issuer, except under bilateral agreement",
}};
constexpr std::array<std::string_view, 10> services_digit = {{
    "services: no restrictions, PIN required",
    "services: no restrictions",
    "services: goods and services only",
    "services: ATM only, PIN required",
    "services: cash only",
    "services: goods and services only, PIN required",
    "services: no restrictions, prompt for PIN if PIN pad present",
    "services: goods and services only, prompt for PIN if PIN pad present",
}};

struct service_digit {
  std::string_view label;
  const std::array<std::string_view, 10>* meanings;
  std::string_view reserved;
};
constexpr std::array<service_digit, 3> service_digits = {{
    {"digit 1", &interchange_digit, "interchange: reserved"},
    {"digit 2", &authorisation_digit, "authorisation: reserved"},
    {"digit 3", &services_digit, "services: reserved"},
}};

// Emits the three service-code digits as fields; `d` holds them.
void explain_service_digits(std::span<const unsigned, 3> d, explain_output out) {
  for (std::size_t i = 0; i < service_digits.size(); ++i) {
    const std::string_view meaning = (*service_digits[i].meanings)[d[i]];
    emit(out, explain_kind::field, service_digits[i].label,
         meaning.empty() ? service_digits[i].reserved : meaning);
  }
}

// A nibble view of a value: nibble i of `v`, high first.
unsigned nibble_at(bytes v, std::size_t i) {
  return i % 2 == 0 ? v[i / 2] >> 4U : v[i / 2] & 0xFU;
}

// "discretionary data: 13 digits, hidden": sensitive authentication data is counted,
// never shown.
void emit_hidden_count(explain_output out, std::size_t count, std::string_view unit) {
  text_buffer<40> t;
  put_number(t, static_cast<unsigned>(count));
  t.put(' ');
  t.put(unit);
  if (count != 1) t.put('s');
  t.put(", hidden");
  emit(out, explain_kind::field, "discretionary data", t.view());
}

}  // namespace

void explain_text(bytes v, const explain_context& c, explain_output out) {
  text_buffer<4 * text_limit + 8> t;
  t.put('"');
  for (const std::uint8_t& b : v.first(std::min(v.size(), text_limit))) {
    // A card number written as text shows as the hex does: its hidden digits as X.
    if (c.hidden != nullptr && c.hidden->hides_byte(&b)) {
      t.put('X');
      continue;
    }
    put_escaped(t, b);
  }
  t.put('"');
  if (v.size() > text_limit) t.put("...");
  emit(out, explain_kind::meaning, {}, t.view());
}

void explain_date(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 3) {
    wrong_length(out, "date", "3 bytes", v.size());
    return;
  }
  std::array<unsigned, 6> d{};
  if (!bcd_digits(v, d)) return not_a(out, "not_a_date", "not a date", v);
  const unsigned year = full_year(d[0] * 10 + d[1]);
  const unsigned mm = d[2] * 10 + d[3];
  const unsigned day = d[4] * 10 + d[5];
  if (mm < 1 || mm > 12 || day < 1 || day > days_in_month(year, mm))
    return not_a(out, "not_a_date", "not a date", v);
  text_buffer<16> t;
  put_number(t, year);
  t.put('-');
  put_two_digits(t, mm);
  t.put('-');
  put_two_digits(t, day);
  explain_facts facts;
  facts.date = t.view();
  emit(out, explain_kind::meaning, {}, t.view(), 0, facts);
}

void explain_time(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 3) {
    wrong_length(out, "time", "3 bytes", v.size());
    return;
  }
  std::array<unsigned, 6> d{};
  if (!bcd_digits(v, d)) return not_a(out, "not_a_time", "not a time", v);
  const unsigned hh = d[0] * 10 + d[1];
  const unsigned mm = d[2] * 10 + d[3];
  const unsigned ss = d[4] * 10 + d[5];
  if (hh > 23 || mm > 59 || ss > 59) return not_a(out, "not_a_time", "not a time", v);
  text_buffer<16> t;
  put_two_digits(t, hh);
  t.put(':');
  put_two_digits(t, mm);
  t.put(':');
  put_two_digits(t, ss);
  emit(out, explain_kind::meaning, {}, t.view());
}

void emit_amount(explain_output out, explain_kind kind, std::string_view label,
                 std::uint64_t minor_units, int exponent, int currency, std::uint32_t level) {
  // Without 5F36 or 9F44 the currency's own minor unit stands: ICC data rarely carries
  // the exponent, and EUR has 2 places whoever reads it.
  const bool by_currency = exponent < 0 && currency >= 0;
  if (by_currency) exponent = currency_minor_unit(static_cast<std::uint16_t>(currency));
  // The exponent counts decimal places from the right; n 1 keeps it to 0-9.
  const std::size_t places =
      exponent > 0 ? std::min(static_cast<std::size_t>(exponent), max_places) : 0;
  explain_facts facts;
  facts.has_number = true;
  facts.number = minor_units;
  facts.exponent = static_cast<std::int8_t>(exponent < 0 ? -1 : static_cast<int>(places));
  std::array<char, 20> digits{};
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + minor_units % 10);
    minor_units /= 10;
  } while (minor_units != 0);
  // One digit before the point and every digit after it ("0.05").
  while (n < places + 1)
    digits[n++] = '0';
  text_buffer<iso_name_max + 64> t;
  while (n > 0) {
    if (places > 0 && n == places) t.put('.');
    t.put(digits[--n]);
  }
  const std::size_t amount_size = t.size;
  if (currency >= 0) {
    if (const iso_currency* c = find_currency(static_cast<std::uint16_t>(currency))) {
      facts.currency = c->alpha3;
      t.put(' ');
      t.put(c->alpha3);
      t.put(" (");
      t.put(c->name);
      t.put(')');
    } else {
      t.put(" (currency ");
      put_code(t, currency);
      t.put(')');
    }
  }
  if (exponent < 0) t.put(", exponent unknown");
  if (exponent >= 0 && by_currency) t.put(", exponent from the currency");
  if (exponent >= 0) facts.amount = t.view().substr(0, amount_size);
  emit(out, kind, label, t.view(), level, facts);
}

void explain_amount(bytes v, const explain_context& c, explain_output out) {
  if (v.size() != 6) {
    wrong_length(out, "amount", "6 bytes", v.size());
    return;
  }
  std::array<unsigned, 12> d{};
  if (!bcd_digits(v, d)) return not_a(out, "not_a_number", "not a number", v);
  std::uint64_t minor_units = 0;
  for (const unsigned digit : d)
    minor_units = minor_units * 10 + digit;
  emit_amount(out, explain_kind::meaning, {}, minor_units, c.currency_exponent,
              c.transaction_currency);
}

// Visa's Card CVM Limit is an n 12 amount, compared with the transaction's.
void explain_cvm_limit(bytes v, const explain_context& c, explain_output out) {
  if (v.size() != 6) {
    wrong_length(out, "Card CVM Limit", "6 bytes", v.size());
    return;
  }
  // The value is not repeated: 9F6B may hold Track 2 data where the kernel said not.
  std::array<unsigned, 12> d{};
  if (!bcd_digits(v, d)) {
    emit_problem(out, "not_a_number", "Card CVM Limit: not a number");
    return;
  }
  std::uint64_t minor_units = 0;
  for (const unsigned digit : d)
    minor_units = minor_units * 10 + digit;
  emit_amount(out, explain_kind::meaning, {}, minor_units, c.currency_exponent,
              c.transaction_currency);
}

void explain_exponent(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 1) {
    wrong_length(out, "currency exponent", "1 byte", v.size());
    return;
  }
  std::array<unsigned, 2> d{};
  if (!bcd_digits(v, d)) return not_a(out, "not_a_number", "not a number", v);
  const unsigned places = d[0] * 10 + d[1];
  if (places > 9) {
    text_buffer<48> t;
    t.put("exponent ");
    put_number(t, places);
    t.put(" above 9");
    emit_problem(out, "exponent_above_9", t.view());
    return;
  }
  text_buffer<24> t;
  put_number(t, places);
  t.put(places == 1 ? " decimal place" : " decimal places");
  explain_facts facts;
  facts.exponent = static_cast<std::int8_t>(places);
  emit(out, explain_kind::meaning, {}, t.view(), 0, facts);
}

void explain_code_table(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 1) {
    wrong_length(out, "code table index", "1 byte", v.size());
    return;
  }
  std::array<unsigned, 2> d{};
  const unsigned part = bcd_digits(v, d) ? d[0] * 10 + d[1] : 0;
  if (part < 1 || part > 10)
    return not_a(out, "not_a_code_table", "not an ISO 8859 part (01 to 10)", v);
  text_buffer<16> t;
  t.put("ISO 8859-");
  put_number(t, part);
  explain_facts facts;
  facts.has_number = true;
  facts.number = part;
  emit(out, explain_kind::meaning, {}, t.view(), 0, facts);
}

void explain_preferred_name(bytes v, const explain_context& c, explain_output out) {
  if (c.code_table == 0) return explain_text(v, c, out);
  // Up to three UTF-8 bytes a character, or four for an escaped one.
  text_buffer<4 * text_limit + 8> t;
  t.put('"');
  for (std::uint8_t b : v.first(std::min(v.size(), text_limit))) {
    const std::uint32_t point = b < 0xA0 ? 0 : iso8859_code_point(c.code_table, b);
    if (point == 0) {
      put_escaped(t, b);
    } else if (point < 0x800) {
      t.put(static_cast<char>(0xC0 | (point >> 6)));
      t.put(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
      t.put(static_cast<char>(0xE0 | (point >> 12)));
      t.put(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      t.put(static_cast<char>(0x80 | (point & 0x3F)));
    }
  }
  t.put('"');
  if (v.size() > text_limit) t.put("...");
  emit(out, explain_kind::meaning, {}, t.view());
}

void explain_currency(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 2) {
    wrong_length(out, "currency code", "2 bytes", v.size());
    return;
  }
  const int code = three_digit_code(v);
  if (code < 0) return not_a(out, "not_a_currency_code", "not a currency code", v);
  text_buffer<iso_name_max + 16> t;
  put_code(t, code);
  t.put(' ');
  explain_facts facts;
  facts.has_number = true;
  facts.number = static_cast<std::uint64_t>(code);
  if (const iso_currency* currency = find_currency(static_cast<std::uint16_t>(code))) {
    facts.code = currency->alpha3;
    t.put(currency->alpha3);
    t.put(' ');
    t.put(currency->name);
  } else {
    t.put("unknown currency code");
  }
  emit(out, explain_kind::meaning, {}, t.view(), 0, facts);
}

void explain_country(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 2) {
    wrong_length(out, "country code", "2 bytes", v.size());
    return;
  }
  const int code = three_digit_code(v);
  if (code < 0) return not_a(out, "not_a_country_code", "not a country code", v);
  text_buffer<iso_name_max + 16> t;
  put_code(t, code);
  t.put(' ');
  const iso_country* country = find_country(static_cast<std::uint16_t>(code));
  t.put(country != nullptr ? country->name : "unknown country code");
  explain_facts facts;
  facts.has_number = true;
  facts.number = static_cast<std::uint64_t>(code);
  if (country != nullptr) facts.code = country->alpha2;
  emit(out, explain_kind::meaning, {}, t.view(), 0, facts);
}

void explain_languages(bytes v, const explain_context&, explain_output out) {
  if (v.size() < 2 || v.size() > 8 || v.size() % 2 != 0) {
    wrong_length(out, "languages", "2, 4, 6 or 8 bytes", v.size());
    return;
  }
  text_buffer<40> all;  // four codes of up to eight characters each
  for (std::size_t i = 0; i < v.size(); i += 2) {
    if (i > 0) all.put(' ');
    put_escaped(all, v[i]);
    put_escaped(all, v[i + 1]);
  }
  emit(out, explain_kind::meaning, {}, all.view());
  for (std::size_t i = 0; i < v.size(); i += 2) {
    text_buffer<12> code;
    put_escaped(code, v[i]);
    put_escaped(code, v[i + 1]);
    // ISO 639 codes are lower case; a card writing "EN" still means English.
    const std::array<char, 2> lower = {
        static_cast<char>(v[i] >= 'A' && v[i] <= 'Z' ? v[i] | 0x20 : v[i]),
        static_cast<char>(v[i + 1] >= 'A' && v[i + 1] <= 'Z' ? v[i + 1] | 0x20 : v[i + 1])};
    const iso_language* language = find_language({lower.data(), lower.size()});
    explain_facts facts;
    if (language != nullptr) facts.code = language->alpha2;
    emit(out, explain_kind::field, code.view(),
         language != nullptr ? language->name : "unknown language", 0, facts);
  }
}

void explain_terminal_type(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 1) {
    wrong_length(out, "terminal type", "1 byte", v.size());
    return;
  }
  const unsigned op = v[0] >> 4U;
  const unsigned env = v[0] & 0xFU;
  // A cardholder-operated terminal is always unattended.
  const bool valid = op >= 1 && op <= 3 && env >= (op == 3 ? 4U : 1U) && env <= 6;
  if (!valid) return not_a(out, "unknown_terminal_type", "unknown terminal type", v);
  text_buffer<80> t;
  t.put_hex(v[0]);
  t.put(": ");
  t.put(terminal_operators[op]);
  t.put(", ");
  t.put(terminal_environments[env]);
  explain_facts facts;
  facts.has_number = true;
  facts.number = op * 10 + env;
  emit(out, explain_kind::meaning, {}, t.view(), 0, facts);
}

void explain_transaction_type(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 1) {
    wrong_length(out, "transaction type", "1 byte", v.size());
    return;
  }
  if ((v[0] >> 4U) > 9 || (v[0] & 0xFU) > 9)
    return not_a(out, "not_a_transaction_type", "not a transaction type", v);
  const auto it = std::find_if(transaction_types.begin(), transaction_types.end(),
                               [&](const code_meaning& m) { return m.code == v[0]; });
  text_buffer<40> t;
  t.put_hex(v[0]);
  t.put(": ");
  t.put(it != transaction_types.end() ? it->meaning : "unknown transaction type");
  emit(out, explain_kind::meaning, {}, t.view());
}

void explain_priority(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 1) {
    wrong_length(out, "priority indicator", "1 byte", v.size());
    return;
  }
  const std::uint8_t b = v[0];
  emit(out, explain_kind::field, "confirmation", (b & 0x80U) != 0 ? "needed" : "not needed");
  text_buffer<16> priority;
  if ((b & 0x0FU) == 0)
    priority.put("none");
  else
    put_number(priority, b & 0x0FU);
  explain_facts number;
  number.has_number = true;
  number.number = b & 0x0FU;
  emit(out, explain_kind::field, "priority", priority.view(), 0, number);
  constexpr std::array<std::string_view, 3> rfu_labels = {"byte 1 b7", "byte 1 b6", "byte 1 b5"};
  constexpr std::array<std::string_view, 3> rfu_texts = {
      "RFU bit set: byte 1 b7", "RFU bit set: byte 1 b6", "RFU bit set: byte 1 b5"};
  for (std::size_t i = 0; i < rfu_labels.size(); ++i) {
    if ((b & (0x40U >> i)) == 0) continue;
    explain_facts facts;
    facts.byte = 1;
    facts.bit = static_cast<std::uint8_t>(7 - i);
    emit(out, explain_kind::rfu, rfu_labels[i], rfu_texts[i], 0, facts);
  }
}

void explain_service_code(bytes v, const explain_context&, explain_output out) {
  if (v.size() != 2) {
    wrong_length(out, "service code", "2 bytes", v.size());
    return;
  }
  std::array<unsigned, 4> d{};
  if (!bcd_digits(v, d) || d[0] != 0)
    return not_a(out, "not_a_service_code", "not a service code", v);
  text_buffer<4> t;
  for (std::size_t i = 1; i < 4; ++i)
    t.put(static_cast<char>('0' + d[i]));
  emit(out, explain_kind::meaning, {}, t.view());
  explain_service_digits(std::span<const unsigned, 3>(d.data() + 1, 3), out);
}

namespace {

// Whether the record scan hides any of nibbles [from, to) of `v` (at most 19 bytes).
bool hides_nibbles(const explain_context& c, bytes v, std::size_t from, std::size_t to) {
  if (c.hidden == nullptr || !c.hidden->any() || from >= to) return false;
  std::array<char, 2 * 19> hex{};
  const std::size_t shown = std::min(hex.size(), 2 * v.size());
  c.hidden->apply(v.data(), std::span<char>(hex.data(), shown));
  const auto last = hex.begin() + static_cast<std::ptrdiff_t>(std::min(to, shown));
  const auto first = hex.begin() + static_cast<std::ptrdiff_t>(std::min(from, shown));
  return std::find(first, last, 'X') != last;
}

}  // namespace

void explain_track2(bytes v, const explain_context& c, explain_output out) {
  constexpr std::size_t max_bytes = 19;
  if (v.size() > max_bytes) {
    wrong_length(out, "Track 2", "at most 19 bytes", v.size());
    return;
  }
  const std::size_t nibbles = 2 * v.size();
  std::size_t separator = nibbles;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if ((v[i] >> 4U) == 0xD) {
      separator = 2 * i;
      break;
    }
    if ((v[i] & 0xFU) == 0xD) {
      separator = 2 * i + 1;
      break;
    }
  }
  if (separator == nibbles) {
    // Without the separator every digit may belong to the card number: show none.
    emit_problem(out, "track2_no_separator", "Track 2: no separator D");
    return;
  }
  // The last nibble is the F pad when the digit count is odd.
  std::size_t end = nibbles;
  if (end > separator + 1 && nibble_at(v, end - 1) == 0xF) --end;

  auto nibbles_text = [&](std::size_t from, std::size_t to, auto& t) {
    for (std::size_t i = from; i < to; ++i)
      t.put(text_buffer<1>::hex_digit(nibble_at(v, i)));
  };

  constexpr std::size_t max_pan_digits = 19;
  if (separator == 0) {
    emit_problem(out, "track2_no_pan", "Track 2: no PAN before the separator");
  } else {
    // The digits before the separator are whole bytes' hex, and a high nibble if odd.
    text_buffer<2 * max_bytes> pan;
    for (std::size_t i = 0; i < separator / 2; ++i)
      std::memcpy(pan.chars.data() + 2 * i, &hex_pairs[2 * std::size_t{v[i]}], 2);
    if (separator % 2 != 0)
      pan.chars[separator - 1] = text_buffer<1>::hex_digit(v[separator / 2] >> 4U);
    pan.size = separator;
    apply_card_mask(card_mask::pan, std::span<char>(pan.chars.data(), pan.size));
    if (c.hidden != nullptr) c.hidden->apply(v.data(), std::span<char>(pan.chars.data(), pan.size));
    emit(out, explain_kind::field, "PAN", pan.view());
    if (separator > max_pan_digits) {
      text_buffer<48> t;
      t.put("Track 2: PAN of ");
      put_number(t, static_cast<unsigned>(separator));
      t.put(" digits, at most 19");
      emit_problem(out, "track2_pan_too_long", t.view());
    }
  }

  const std::size_t expiry = separator + 1;
  // Digits the record scan hid there (another card number read across this one) are
  // no expiry date or service code to read out.
  if (hides_nibbles(c, v, expiry, std::min(end, expiry + 4 + 3))) {
    emit(out, explain_kind::meaning, {}, "holds card-number digits: not explained");
    return;
  }
  if (end < expiry + 4) {
    emit_problem(out, "track2_ends_before_expiry", "Track 2: ends before the expiry date");
    return;
  }
  std::array<unsigned, 4> e{};
  bool digits = true;
  for (std::size_t i = 0; i < 4; ++i) {
    e[i] = nibble_at(v, expiry + i);
    digits = digits && e[i] <= 9;
  }
  const unsigned month = e[2] * 10 + e[3];
  if (digits && month >= 1 && month <= 12) {
    text_buffer<8> t;
    put_number(t, full_year(e[0] * 10 + e[1]));
    t.put('-');
    put_two_digits(t, month);
    explain_facts facts;
    facts.date = t.view();
    emit(out, explain_kind::field, "expiry", t.view(), 0, facts);
  } else {
    text_buffer<24> t;
    t.put("not an expiry date: ");
    nibbles_text(expiry, expiry + 4, t);
    emit_problem(out, "track2_not_an_expiry_date", t.view());
  }

  const std::size_t service = expiry + 4;
  if (end < service + 3) {
    emit_problem(out, "track2_ends_before_service_code", "Track 2: ends before the service code");
    return;
  }
  std::array<unsigned, 3> s{};
  digits = true;
  for (std::size_t i = 0; i < 3; ++i) {
    s[i] = nibble_at(v, service + i);
    digits = digits && s[i] <= 9;
  }
  text_buffer<3> code;
  nibbles_text(service, service + 3, code);
  if (digits) {
    emit(out, explain_kind::field, "service code", code.view());
  } else {
    text_buffer<24> t;
    t.put("not a service code: ");
    t.put(code.view());
    emit_problem(out, "track2_not_a_service_code", t.view());
  }

  if (end > service + 3) {
    // Card codes (CVV, dCVV, PVV) stand here: only their count is told.
    emit_hidden_count(out, end - service - 3, "digit");
  }
}

void explain_hidden_text(bytes v, const explain_context&, explain_output out) {
  emit_hidden_count(out, v.size(), "character");
}

void explain_hidden_digits(bytes v, const explain_context&, explain_output out) {
  std::size_t digits = 2 * v.size();
  while (digits > 0 && nibble_at(v, digits - 1) == 0xF)
    --digits;
  emit_hidden_count(out, digits, "digit");
}

// The payment system and kernel an AID's RID names, and the product of a common AID;
// a DF name that is a payment system environment says which.
void explain_aid(bytes v, const explain_context&, explain_output out) {
  const payment_environment environment = environment_of(v);
  if (environment != payment_environment::none) {
    emit(out, explain_kind::meaning, {},
         environment == payment_environment::contact ? "PSE: the contact directory"
                                                     : "PPSE: the contactless directory");
    return;
  }
  if (v.size() < 5 || v.size() > 16) {
    wrong_length(out, "AID", "5 to 16 bytes", v.size());
    return;
  }
  const payment_system* system = find_payment_system(v);
  if (system == nullptr) {
    text_buffer<48> t;
    t.put("RID ");
    put_hex(t, v.first(5));
    t.put(": no payment system known");
    emit(out, explain_kind::meaning, {}, t.view());
    return;
  }
  explain_facts facts;
  facts.payment_system = system->name;
  emit(out, explain_kind::field, "payment system", system->name, 0, facts);
  facts = {};
  facts.kernel = kernel_name(system->kernel);
  emit(out, explain_kind::field, "kernel",
       system->kernel == emv_kernel::domestic ? "domestic, no EMVCo kernel" : facts.kernel, 0,
       facts);
  // "American Express" is the system and its one product: said once.
  if (const std::string_view product = find_aid_product(v);
      !product.empty() && product != system->name)
    emit(out, explain_kind::field, "product", product);
}

}  // namespace emvtlv::explain
