#include "explain/explainers.h"

namespace emvtlv::explain {

void explain_text(bytes, const explain_context&, explain_output) {}
void explain_date(bytes, const explain_context&, explain_output) {}
void explain_time(bytes, const explain_context&, explain_output) {}
void explain_amount(bytes, const explain_context&, explain_output) {}
void explain_currency(bytes, const explain_context&, explain_output) {}
void explain_country(bytes, const explain_context&, explain_output) {}
void explain_languages(bytes, const explain_context&, explain_output) {}
void explain_terminal_type(bytes, const explain_context&, explain_output) {}
void explain_transaction_type(bytes, const explain_context&, explain_output) {}
void explain_priority(bytes, const explain_context&, explain_output) {}
void explain_service_code(bytes, const explain_context&, explain_output) {}
void explain_track2(bytes, const explain_context&, explain_output) {}

}  // namespace emvtlv::explain
