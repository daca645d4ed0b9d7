// emvtlv: decodes EMV BER-TLV records typed or piped one per line as hex text.
#include "console/console.h"

int main() {
  return emvtlv::run_console(emvtlv::stdin_source(), emvtlv::stdout_target());
}
