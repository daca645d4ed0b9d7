#include "explain/explainers.h"

namespace emvtlv::explain {

void explain_aip(bytes, const explain_context&, explain_output) {}
void explain_auc(bytes, const explain_context&, explain_output) {}
void explain_tvr(bytes, const explain_context&, explain_output) {}
void explain_tsi(bytes, const explain_context&, explain_output) {}
void explain_cid(bytes, const explain_context&, explain_output) {}
void explain_terminal_capabilities(bytes, const explain_context&, explain_output) {}
void explain_additional_capabilities(bytes, const explain_context&, explain_output) {}
void explain_ttq(bytes, const explain_context&, explain_output) {}
void explain_ctq(bytes, const explain_context&, explain_output) {}

}  // namespace emvtlv::explain
