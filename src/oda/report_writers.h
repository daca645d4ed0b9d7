// The offline data authentication part of a session's summary, as text lines or as
// the members of one JSON object, appended to the sink.
//
// Contract and limits:
// - Nothing is written for a report with nothing of ODA in it (report.any false).
// - Text: the first line names the first failed check (or says none failed), then the
//   methods, the CA key, each certificate's fields, the DAC and the ICC dynamic number,
//   then every check in order, each on its line. Indented two spaces under the summary.
// - JSON: `,"oda":{...}` to be placed inside the summary object; strings escaped.
// - Card numbers never appear: the ICC certificate's PAN only as matches / does not
//   match, the issuer identifier at most its first six digits.
#pragma once

#include "common/output_sink.h"
#include "oda/check.h"

namespace emvtlv::oda {

// Each line starts with `prefix` (a line number and ':' under -n, else empty).
void write_report_text(const oda_report& report, std::string_view prefix, output_sink& out);
void write_report_json(const oda_report& report, output_sink& out);

}  // namespace emvtlv::oda
