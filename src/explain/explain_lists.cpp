#include "explain/explainers.h"

namespace emvtlv::explain {

void explain_cvm_list(bytes, const explain_context&, explain_output) {}
void explain_cvm_results(bytes, const explain_context&, explain_output) {}
void explain_afl(bytes, const explain_context&, explain_output) {}
void explain_dol(bytes, const explain_context&, explain_output) {}
void explain_tag_list(bytes, const explain_context&, explain_output) {}
void explain_log_entry(bytes, const explain_context&, explain_output) {}
void explain_format1(bytes, const explain_context&, explain_output) {}

}  // namespace emvtlv::explain
