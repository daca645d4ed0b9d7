#include "oda/report_writers.h"

#include <algorithm>
#include <array>

#include "common/hex.h"

namespace emvtlv::oda {
namespace {

void put_decimal(output_sink& out, std::size_t n) {
  out.append(decimal_digits(n).view());
}

void put_hex(output_sink& out, std::span<const std::uint8_t> bytes) {
  encode_hex_unchecked(bytes.data(), bytes.size(), out.extend(2 * bytes.size()));
}

// The characters a JSON string takes as they are: printable ASCII but the quote and the
// backslash.
constexpr std::array<bool, 256> plain_chars = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c <= 0x7E; ++c)
    plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return plain;
}();

void put_string(output_sink& out, std::string_view text) {
  std::size_t whole = 0;
  while (whole < text.size() && plain_chars[static_cast<unsigned char>(text[whole])])
    ++whole;
  if (whole == text.size()) {
    // Most strings of a report: quotes and text in one step.
    char* const at = out.extend(text.size() + 2);
    at[0] = '"';
    std::copy_n(text.data(), text.size(), at + 1);
    at[text.size() + 1] = '"';
    return;
  }
  out.put('"');
  // Runs of plain characters go in one append.
  for (;;) {
    std::size_t plain = 0;
    while (plain < text.size() && plain_chars[static_cast<unsigned char>(text[plain])])
      ++plain;
    out.append(text.substr(0, plain));
    if (plain == text.size()) break;
    const char c = text[plain];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.put('\\');
      out.put(c);
    } else {
      out.append("\\u00");
      put_hex_byte(out, byte);
    }
    text.remove_prefix(plain + 1);
  }
  out.put('"');
}

constexpr std::array<std::pair<std::uint8_t, std::string_view>, 4> method_names{
    {{method_sda, "SDA"}, {method_dda, "DDA"}, {method_fdda, "fDDA"}, {method_cda, "CDA"}}};

void put_methods_text(output_sink& out, std::uint8_t methods) {
  if (methods == 0) {
    out.append("none");
    return;
  }
  bool first = true;
  for (const auto& [bit, name] : method_names) {
    if ((methods & bit) == 0) continue;
    if (!first) out.append(", ");
    out.append(name);
    first = false;
  }
}

void put_methods_json(output_sink& out, std::uint8_t methods) {
  out.put('[');
  bool first = true;
  for (const auto& [bit, name] : method_names) {
    if ((methods & bit) == 0) continue;
    if (!first) out.put(',');
    put_string(out, name);
    first = false;
  }
  out.put(']');
}

std::string_view pan_text(pan_comparison pan) {
  return pan == pan_comparison::matches ? "matches" : "does not match";
}

// "trailer 3C, expected BC".
void put_failure(output_sink& out, const check_entry& check) {
  out.append(check.found.view());
  if (check.expected.size > 0) {
    out.append(check.found.size > 0 ? ", expected " : "expected ");
    out.append(check.expected.view());
  }
}

// "failed: trailer 3C, expected BC", "not checked: 5A (PAN) not in the log", "ok".
void put_outcome(output_sink& out, const check_entry& check) {
  out.append(result_name(check.result));
  if (check.result == check_result::failed) {
    out.append(": ");
    put_failure(out, check);
  } else if (check.result == check_result::not_checked) {
    out.append(": ");
    out.append(check.missing.view());
  }
}

void put_expiry(output_sink& out, const certificate_fields& f) {
  put_hex_byte(out, f.expiry_month);
  out.put('/');
  put_hex_byte(out, f.expiry_year);
}

// A line's start: the caller's prefix (a line number), then the indentation.
void start_line(output_sink& out, std::string_view prefix, std::size_t indent) {
  out.append(prefix);
  for (std::size_t i = 0; i < indent; ++i)
    out.put(' ');
}

void put_certificate_text(output_sink& out, std::string_view prefix, std::string_view name,
                          const certificate_fields& f, bool issuer) {
  start_line(out, prefix, 4);
  out.append(name);
  out.append(": ");
  if (issuer) {
    out.append("issuer ");
    out.append({f.issuer_digits.data(), f.issuer_digit_count});
  } else {
    out.append("PAN ");
    out.append(f.pan == pan_comparison::not_compared ? "not compared" : pan_text(f.pan));
  }
  out.append(", expires ");
  put_expiry(out, f);
  out.append(", serial ");
  put_hex(out, f.serial);
  out.append(", hash algorithm ");
  put_hex_byte(out, f.hash_algorithm);
  out.append(", key algorithm ");
  put_hex_byte(out, f.key_algorithm);
  out.append(", key ");
  put_decimal(out, f.key_length);
  out.append(" bytes, exponent ");
  put_hex(out, {f.exponent.data(), f.exponent_size});
  out.put('\n');
}

void put_certificate_json(output_sink& out, std::string_view kind, const certificate_fields& f,
                          bool issuer) {
  out.append("{\"kind\":");
  put_string(out, kind);
  if (issuer) {
    out.append(",\"issuer_identifier\":\"");
    out.append({f.issuer_digits.data(), f.issuer_digit_count});
    out.put('"');
  } else if (f.pan != pan_comparison::not_compared) {
    out.append(",\"pan\":");
    put_string(out, pan_text(f.pan));
  }
  out.append(",\"expiry\":\"");
  put_expiry(out, f);
  out.append("\",\"serial\":\"");
  put_hex(out, f.serial);
  out.append("\",\"hash_algorithm\":\"");
  put_hex_byte(out, f.hash_algorithm);
  out.append("\",\"key_algorithm\":\"");
  put_hex_byte(out, f.key_algorithm);
  out.append("\",\"key_length\":");
  put_decimal(out, f.key_length);
  out.append(",\"exponent\":\"");
  put_hex(out, {f.exponent.data(), f.exponent_size});
  out.append("\"}");
}

void put_key_text(output_sink& out, const oda_report& r) {
  put_hex(out, r.rid);
  out.put('/');
  put_hex_byte(out, r.index);
}

}  // namespace

void write_report_text(const oda_report& r, std::string_view prefix, output_sink& out) {
  if (!r.any) return;
  start_line(out, prefix, 2);
  out.append("ODA: ");
  const check_entry* failure = r.first_failure();
  const check_entry* unchecked = nullptr;
  for (std::size_t i = 0; i < r.check_count && unchecked == nullptr; ++i) {
    if (r.checks[i].result == check_result::not_checked) unchecked = &r.checks[i];
  }
  if (failure != nullptr) {
    out.append("first failed check: ");
    out.append(check_label(failure->id));
    out.append(": ");
    put_failure(out, *failure);
  } else if (unchecked != nullptr) {
    out.append("no check failed; first not checked: ");
    out.append(check_label(unchecked->id));
    out.append(": ");
    out.append(unchecked->missing.view());
  } else {
    out.append("every check ok");
  }
  out.put('\n');
  start_line(out, prefix, 4);
  out.append("offered: ");
  put_methods_text(out, r.offered);
  out.append("; performed: ");
  put_methods_text(out, r.performed);
  out.put('\n');
  if (r.key_found) {
    start_line(out, prefix, 4);
    out.append("CA key: ");
    put_key_text(out, r);
    out.append(" (");
    if (!r.key.scheme.empty()) {
      out.append(r.key.scheme);
      out.append(", ");
    }
    out.append(r.key.from_file ? "from --ca-keys" : "built in");
    out.append("), ");
    put_decimal(out, r.key.modulus.size() * 8);
    out.append(" bits, check value ");
    put_hex(out, r.key.check);
    if (r.keys_tried > 1) {
      out.append("; ");
      put_decimal(out, r.keys_tried);
      out.append(r.key_recovered ? " keys share the index, this one recovered the certificate"
                                 : " keys share the index, none recovered the certificate");
    }
    out.put('\n');
  }
  if (r.issuer.recovered) put_certificate_text(out, prefix, "issuer certificate", r.issuer, true);
  if (r.icc.recovered) put_certificate_text(out, prefix, "ICC certificate", r.icc, false);
  if (r.has_dac) {
    start_line(out, prefix, 4);
    out.append("Data Authentication Code (9F45): ");
    put_hex(out, r.dac);
    out.put('\n');
  }
  if (r.dynamic_number_size > 0) {
    start_line(out, prefix, 4);
    out.append("ICC Dynamic Number (9F4C): ");
    put_hex(out, {r.dynamic_number.data(), r.dynamic_number_size});
    out.put('\n');
  }
  start_line(out, prefix, 4);
  out.append("checks:\n");
  for (std::size_t i = 0; i < r.check_count;) {
    // A run of checks not made for one reason is one line: "A to B, 9 checks: ...".
    std::size_t end = i + 1;
    while (r.checks[i].result == check_result::not_checked && end < r.check_count &&
           r.checks[end].result == check_result::not_checked &&
           r.checks[end].missing.view() == r.checks[i].missing.view())
      ++end;
    start_line(out, prefix, 6);
    out.append(check_label(r.checks[i].id));
    if (end - i > 1) {
      out.append(" to ");
      out.append(check_label(r.checks[end - 1].id));
      out.append(", ");
      put_decimal(out, end - i);
      out.append(" checks");
    }
    out.append(": ");
    put_outcome(out, r.checks[i]);
    out.put('\n');
    i = end;
  }
}

void write_report_json(const oda_report& r, output_sink& out) {
  if (!r.any) return;
  out.append(",\"oda\":{");
  const check_entry* failure = r.first_failure();
  if (failure != nullptr) {
    out.append("\"first_failure\":");
    put_string(out, check_key(failure->id));
    out.put(',');
  }
  out.append("\"offered\":");
  put_methods_json(out, r.offered);
  out.append(",\"performed\":");
  put_methods_json(out, r.performed);
  if (r.has_index) {
    out.append(",\"ca_key\":{\"rid\":\"");
    put_hex(out, r.rid);
    out.append("\",\"index\":\"");
    put_hex_byte(out, r.index);
    out.append("\",\"known\":");
    out.append(r.key_found ? "true" : "false");
    if (r.key_found) {
      out.append(",\"bits\":");
      put_decimal(out, r.key.modulus.size() * 8);
      out.append(",\"check_value\":\"");
      put_hex(out, r.key.check);
      out.append("\",\"source\":");
      put_string(out, r.key.from_file ? "file" : "built in");
      out.append(",\"scheme\":");
      put_string(out, r.key.scheme);
      out.append(",\"kind\":");
      put_string(out, r.key.kind);
      out.append(",\"tried\":");
      put_decimal(out, r.keys_tried);
    }
    out.put('}');
  }
  out.append(",\"certificates\":[");
  if (r.issuer.recovered) put_certificate_json(out, "issuer", r.issuer, true);
  if (r.icc.recovered) {
    if (r.issuer.recovered) out.put(',');
    put_certificate_json(out, "icc", r.icc, false);
  }
  out.put(']');
  if (r.has_dac) {
    out.append(",\"dac\":\"");
    put_hex(out, r.dac);
    out.put('"');
  }
  if (r.dynamic_number_size > 0) {
    out.append(",\"icc_dynamic_number\":\"");
    put_hex(out, {r.dynamic_number.data(), r.dynamic_number_size});
    out.put('"');
  }
  out.append(",\"checks\":[");
  for (std::size_t i = 0; i < r.check_count; ++i) {
    const check_entry& c = r.checks[i];
    if (i > 0) out.put(',');
    // Keys and result names are plain words (check.cpp asserts the keys): no escaping.
    out.append("{\"id\":\"");
    out.append(check_key(c.id));
    out.append("\",\"result\":\"");
    out.append(result_name(c.result));
    out.put('"');
    if (c.result == check_result::failed) {
      if (c.expected.size > 0) {
        out.append(",\"expected\":");
        put_string(out, c.expected.view());
      }
      out.append(",\"found\":");
      put_string(out, c.found.view());
    } else if (c.result == check_result::not_checked) {
      out.append(",\"missing\":");
      put_string(out, c.missing.view());
    }
    out.put('}');
  }
  out.append("]}");
}

}  // namespace emvtlv::oda
