#include "trace/session.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "explain/explain.h"
#include "writers/json_lines.h"
#include "writers/node_value.h"

namespace emvtlv::trace {
namespace {

struct aip_offer {
  std::uint8_t mask;
  std::string_view name;
};

// AIP byte 1; byte 2 is the kernels' own and is left to explain mode.
constexpr std::array<aip_offer, 7> aip_offers{{
    {0x80, "XDA (EMV 4.4)"},
    {0x40, "SDA"},
    {0x20, "DDA"},
    {0x10, "cardholder verification"},
    {0x08, "terminal risk management"},
    {0x04, "issuer authentication"},
    {0x01, "CDA"},
}};

struct line_out {
  const session_state* session;
  const summary_options* options;
  output_sink* out;
  void start(std::size_t indent) const {
    if (options->line_numbers) {
      put_number(*out, session->last_line);
      out->put(':');
    }
    for (std::size_t i = 0; i < indent; ++i)
      out->put(' ');
  }
};

void put_hex(output_sink& out, std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes)
    put_hex_byte(out, b);
}

// The label as printable ASCII: it is the card's text, shown, never trusted.
void put_label(output_sink& out, const session_state& s) {
  for (std::size_t i = 0; i < s.label_size; ++i) {
    const char c = s.label[i];
    out.put(c >= 0x20 && c <= 0x7E ? c : '.');
  }
}

std::string_view payment_system_name(const session_state& s) {
  const payment_system* system = find_payment_system({s.aid.data(), s.aid_size});
  return system == nullptr ? std::string_view() : system->name;
}

struct joined_explanation {
  output_sink* out;
  bool any = false;
};

void join_item(void* context, explain_kind, std::uint32_t level, std::string_view,
               std::string_view text, const explain_facts&) {
  auto& joined = *static_cast<joined_explanation*>(context);
  if (level > 0) return;
  joined.out->append(joined.any ? "; " : " (");
  joined.out->append(text);
  joined.any = true;
}

void put_cvm_results(output_sink& out, const session_state& s) {
  put_hex(out, s.cvm_results);
  joined_explanation joined{&out};
  explain_value(0x9F34, s.cvm_results, 3, explain_context{}, explain_output{&joined, join_item});
  if (joined.any) out.put(')');
}

std::string_view verify_kind(std::uint8_t p2) {
  if (p2 == 0x80) return "plaintext offline PIN";
  if (p2 == 0x88) return "enciphered offline PIN";
  return "PIN";
}

// The records the AFL lists, in order, with whether each was read.
template <typename Each>
void for_each_listed_record(const session_state& s, Each each) {
  const std::span<const std::uint8_t> afl = s.afl.view();
  for (std::size_t i = 0; i + 4 <= afl.size(); i += 4) {
    const auto sfi = static_cast<std::uint8_t>(afl[i] >> 3);
    for (unsigned r = afl[i + 1]; r != 0 && r <= afl[i + 2]; ++r)
      each(sfi, static_cast<std::uint8_t>(r), s.was_read(sfi, static_cast<std::uint8_t>(r)));
  }
}

}  // namespace

void session_state::start(std::uint32_t session_number) {
  *this = session_state{};
  number = session_number;
}

void session_state::add_problem(std::uint64_t line, std::string_view text, std::string_view id) {
  if (problems < first_problems.size()) {
    session_problem& p = first_problems[problems];
    p.line = line;
    p.id = id;
    p.size = static_cast<std::uint8_t>(std::min(text.size(), p.text.size()));
    if (p.size > 0) std::memcpy(p.text.data(), text.data(), p.size);
  }
  ++problems;
}

void session_state::mark_read(std::uint8_t sfi, std::uint8_t record) {
  if (sfi == 0 || sfi >= read.size()) return;
  const unsigned byte = read[sfi][record >> 3];
  read[sfi][record >> 3] = static_cast<std::uint8_t>(byte | 1u << (record & 7u));
}

bool session_state::was_read(std::uint8_t sfi, std::uint8_t record) const {
  if (sfi == 0 || sfi >= read.size()) return false;
  const unsigned byte = read[sfi][record >> 3];
  return ((byte >> (record & 7u)) & 1u) != 0;
}

void session_state::select_aid(std::span<const std::uint8_t> aid_bytes) {
  aid_size = static_cast<std::uint8_t>(std::min(aid_bytes.size(), aid.size()));
  if (aid_size > 0) std::memcpy(aid.data(), aid_bytes.data(), aid_size);
  ++applications;
  const payment_system* system = find_payment_system(aid_bytes);
  context.kernel = system == nullptr ? emv_kernel::unknown : system->kernel;
  label_size = 0;
  // A new application brings its own lists.
  pdol = {};
  cdol1 = {};
  cdol2 = {};
  ddol = {};
  udol = {};
  afl = {};
  has_aip = false;
  read = {};
}

std::string_view interface_name(payment_environment environment) {
  switch (environment) {
    case payment_environment::contact:
      return "contact";
    case payment_environment::contactless:
      return "contactless";
    case payment_environment::none:
      break;
  }
  return "not said";
}

std::string_view session_outcome(const session_state& s) {
  if (s.generate_acs > 0) {
    const std::size_t last = std::min<std::size_t>(s.generate_acs, s.cryptograms.size()) - 1;
    const generate_ac_record& g = s.cryptograms[last];
    if (!g.answered) return "no cryptogram returned";
    const bool second = last > 0;
    switch (g.returned) {
      case cryptogram_type::tc:
        return second ? "approved after online" : "approved offline";
      case cryptogram_type::arqc:
        return "online requested";
      case cryptogram_type::aac:
        return second ? "declined after online" : "declined offline";
      case cryptogram_type::rfu:
        return "RFU cryptogram type returned";
    }
  }
  if (s.gpo_cryptogram) {
    switch (s.gpo_returned) {
      case cryptogram_type::tc:
        return "approved offline";
      case cryptogram_type::arqc:
        return "online requested";
      case cryptogram_type::aac:
        return "declined offline";
      case cryptogram_type::rfu:
        return "RFU cryptogram type returned";
    }
  }
  if (s.checksum) return "online requested (cryptographic checksum)";
  return "no GENERATE AC";
}

void write_summary_text(const session_state& s, const summary_options& options, output_sink& out,
                        summary_part extra) {
  const line_out line{&s, &options, &out};
  line.start(0);
  out.append("summary of session ");
  put_number(out, s.number);
  out.append(", lines ");
  put_number(out, s.first_line);
  out.put('-');
  put_number(out, s.last_line);
  out.append(":\n");

  line.start(2);
  out.append("application: ");
  if (s.aid_size == 0) {
    out.append("none selected");
  } else {
    put_hex(out, {s.aid.data(), s.aid_size});
    const std::string_view product = find_aid_product({s.aid.data(), s.aid_size});
    if (!product.empty() && product != payment_system_name(s)) {
      out.put(' ');
      out.append(product);
    }
    const std::string_view system = payment_system_name(s);
    if (!system.empty()) {
      out.append(" (");
      out.append(system);
      const std::string_view kernel = kernel_name(s.context.kernel);
      if (!kernel.empty()) {
        out.append(", ");
        out.append(kernel);
      }
      out.put(')');
    }
    if (s.label_size > 0) {
      out.append(", label \"");
      put_label(out, s);
      out.put('"');
    }
  }
  out.append(", ");
  out.append(interface_name(s.context.environment));
  out.put('\n');
  if (s.applications > 1) {
    line.start(2);
    out.append("applications selected: ");
    put_number(out, s.applications);
    out.put('\n');
  }

  line.start(2);
  out.append("AIP: ");
  if (!s.has_aip) {
    out.append("not seen");
  } else {
    put_hex(out, s.aip);
    out.append(", offers");
    bool any = false;
    for (const aip_offer& offer : aip_offers) {
      if ((s.aip[0] & offer.mask) == 0) continue;
      out.append(any ? ", " : " ");
      out.append(offer.name);
      any = true;
    }
    if (!any) out.append(" none of byte 1");
  }
  out.put('\n');

  line.start(2);
  out.append("records the AFL lists: ");
  if (!s.afl.present) {
    out.append("no AFL seen\n");
  } else {
    std::size_t listed = 0, read = 0;
    for_each_listed_record(s, [&](std::uint8_t, std::uint8_t, bool was) {
      ++listed;
      read += was ? 1 : 0;
    });
    put_number(out, listed);
    out.append(", read ");
    put_number(out, read);
    if (read < listed) {
      out.append(", missing:");
      bool first = true;
      for_each_listed_record(s, [&](std::uint8_t sfi, std::uint8_t record, bool was) {
        if (was) return;
        out.append(first ? " SFI " : ", SFI ");
        first = false;
        put_number(out, sfi);
        out.append(" record ");
        put_number(out, record);
      });
    }
    out.put('\n');
  }

  line.start(2);
  out.append("offline data authentication: ");
  bool cda = false;
  for (std::size_t i = 0; i < std::min<std::size_t>(s.generate_acs, s.cryptograms.size()); ++i)
    cda = cda || s.cryptograms[i].cda;
  out.append(cda ? "CDA requested in GENERATE AC\n" : "no CDA requested\n");

  line.start(2);
  out.append("CVM: ");
  if (s.verifies == 0) {
    out.append("no VERIFY");
  } else {
    out.append("VERIFY, ");
    out.append(verify_kind(s.verify_p2));
    out.append(", ");
    put_number(out, s.verifies);
    out.append(s.verifies == 1 ? " try" : " tries");
    if (s.verify_wrong > 0) {
      out.append(", ");
      put_number(out, s.verify_wrong);
      out.append(" wrong");
    }
    out.append(", last: ");
    std::array<char, 64> buffer{};
    const std::string_view meaning =
        command_status_meaning(command_id::verify, s.verify_status, buffer);
    put_hex_byte(out, static_cast<std::uint8_t>(s.verify_status >> 8));
    put_hex_byte(out, static_cast<std::uint8_t>(s.verify_status & 0xFF));
    if (!meaning.empty()) {
      out.append(" (");
      out.append(meaning);
      out.put(')');
    }
  }
  out.append("; CVM Results the terminal sent: ");
  if (s.has_cvm_results) {
    put_cvm_results(out, s);
  } else {
    out.append("none");
  }
  out.put('\n');

  for (std::size_t i = 0; i < std::min<std::size_t>(s.generate_acs, s.cryptograms.size()); ++i) {
    const generate_ac_record& g = s.cryptograms[i];
    line.start(2);
    out.append("GENERATE AC ");
    put_number(out, i + 1);
    out.append(": ");
    out.append(cryptogram_name(g.requested));
    out.append(" requested, ");
    if (!g.answered) {
      out.append("no cryptogram returned\n");
      continue;
    }
    out.append(cryptogram_name(g.returned));
    out.append(" returned");
    if (g.returned != g.requested) {
      out.append(" (not the type asked for");
      if (g.returned == cryptogram_type::tc && g.requested == cryptogram_type::arqc)
        out.append(": a TC where an ARQC was asked");
      out.put(')');
    }
    out.put('\n');
  }
  if (s.gpo_cryptogram) {
    line.start(2);
    out.append("cryptogram in the GET PROCESSING OPTIONS answer: ");
    out.append(cryptogram_name(s.gpo_returned));
    out.put('\n');
  }

  line.start(2);
  out.append("outcome: ");
  out.append(session_outcome(s));
  out.put('\n');

  line.start(2);
  out.append("problems: ");
  put_number(out, s.problems);
  out.put('\n');
  for (std::size_t i = 0; i < std::min<std::size_t>(s.problems, s.first_problems.size()); ++i) {
    const session_problem& p = s.first_problems[i];
    line.start(4);
    out.append("line ");
    put_number(out, p.line);
    out.append(": ");
    out.append({p.text.data(), p.size});
    out.put('\n');
  }
  if (s.problems > s.first_problems.size()) {
    line.start(4);
    out.append("and ");
    put_number(out, s.problems - s.first_problems.size());
    out.append(" more\n");
  }
  if (extra.write != nullptr) {
    // Its lines start as the summary's do.
    std::array<char, 24> prefix{};
    std::size_t size = 0;
    if (options.line_numbers) {
      size = static_cast<std::size_t>(
          std::to_chars(prefix.data(), prefix.data() + prefix.size() - 1, s.last_line).ptr -
          prefix.data());
      prefix[size++] = ':';
    }
    extra.write(extra.context, false, {prefix.data(), size}, out);
  }
}

void write_summary_json(const session_state& s, output_sink& out, summary_part extra) {
  out.append("{\"line\":");
  put_number(out, s.last_line);
  out.append(",\"summary\":{\"session\":");
  put_number(out, s.number);
  out.append(",\"first_line\":");
  put_number(out, s.first_line);
  out.append(",\"last_line\":");
  put_number(out, s.last_line);
  out.append(",\"application\":{");
  if (s.aid_size > 0) {
    out.append("\"aid\":\"");
    put_hex(out, {s.aid.data(), s.aid_size});
    out.append("\",");
    const std::string_view product = find_aid_product({s.aid.data(), s.aid_size});
    if (!product.empty()) {
      out.append("\"product\":");
      put_json_string(out, product);
      out.put(',');
    }
    const std::string_view system = payment_system_name(s);
    if (!system.empty()) {
      out.append("\"payment_system\":");
      put_json_string(out, system);
      out.put(',');
    }
    const std::string_view kernel = kernel_name(s.context.kernel);
    if (!kernel.empty()) {
      out.append("\"kernel\":\"");
      out.append(kernel);
      out.append("\",");
    }
    if (s.label_size > 0) {
      std::array<char, 16> label{};
      for (std::size_t i = 0; i < s.label_size; ++i)
        label[i] = s.label[i] >= 0x20 && s.label[i] <= 0x7E ? s.label[i] : '.';
      out.append("\"label\":");
      put_json_string(out, {label.data(), s.label_size});
      out.put(',');
    }
  }
  out.append("\"interface\":\"");
  out.append(interface_name(s.context.environment));
  out.append("\",\"selected\":");
  put_number(out, s.applications);
  out.put('}');
  if (s.has_aip) {
    out.append(",\"aip\":\"");
    put_hex(out, s.aip);
    out.append("\",\"aip_offers\":[");
    bool any = false;
    for (const aip_offer& offer : aip_offers) {
      if ((s.aip[0] & offer.mask) == 0) continue;
      if (any) out.put(',');
      put_json_string(out, offer.name);
      any = true;
    }
    out.put(']');
  }
  if (s.afl.present) {
    out.append(",\"records\":[");
    bool any = false;
    for_each_listed_record(s, [&](std::uint8_t sfi, std::uint8_t record, bool was) {
      if (any) out.put(',');
      any = true;
      out.append("{\"sfi\":");
      put_number(out, sfi);
      out.append(",\"record\":");
      put_number(out, record);
      out.append(was ? ",\"read\":true}" : ",\"read\":false}");
    });
    out.put(']');
  }
  bool cda = false;
  out.append(",\"cryptograms\":[");
  for (std::size_t i = 0; i < std::min<std::size_t>(s.generate_acs, s.cryptograms.size()); ++i) {
    const generate_ac_record& g = s.cryptograms[i];
    cda = cda || g.cda;
    if (i > 0) out.put(',');
    out.append("{\"requested\":\"");
    out.append(cryptogram_name(g.requested));
    out.append(g.cda ? "\",\"cda\":true" : "\",\"cda\":false");
    if (g.answered) {
      out.append(",\"returned\":\"");
      out.append(cryptogram_name(g.returned));
      out.put('"');
    }
    out.put('}');
  }
  out.append("],\"cda_requested\":");
  out.append(cda ? "true" : "false");
  out.append(",\"cvm\":{\"verify\":");
  put_number(out, s.verifies);
  if (s.verifies > 0) {
    out.append(",\"pin\":\"");
    out.append(verify_kind(s.verify_p2));
    out.append("\",\"wrong\":");
    put_number(out, s.verify_wrong);
    out.append(",\"last_status\":\"");
    put_hex_byte(out, static_cast<std::uint8_t>(s.verify_status >> 8));
    put_hex_byte(out, static_cast<std::uint8_t>(s.verify_status & 0xFF));
    out.put('"');
  }
  if (s.has_cvm_results) {
    out.append(",\"cvm_results\":\"");
    put_hex(out, s.cvm_results);
    out.put('"');
  }
  out.append("},\"outcome\":");
  put_json_string(out, session_outcome(s));
  out.append(",\"problem_count\":");
  put_number(out, s.problems);
  out.append(",\"problems\":");
  put_problems_json(
      {s.first_problems.data(), std::min<std::size_t>(s.problems, s.first_problems.size())}, out);
  if (extra.write != nullptr) extra.write(extra.context, true, {}, out);
  out.append("}}\n");
}

void put_problems_json(std::span<const session_problem> problems, output_sink& out) {
  out.put('[');
  for (std::size_t i = 0; i < problems.size(); ++i) {
    const session_problem& p = problems[i];
    if (i > 0) out.put(',');
    out.append("{\"line\":");
    put_number(out, p.line);
    out.append(",\"message\":");
    put_json_string(out, {p.text.data(), p.size});
    out.append(",\"problem_id\":\"");
    out.append(p.id);
    out.append("\"}");
  }
  out.put(']');
}

}  // namespace emvtlv::trace
