// Test driver: the JSON Lines mode over standard input and output, so the schema check
// can run on the writer's output without the program's command line.
#include "console/console.h"
#include "modes/tree_mode.h"

int main(int argc, char** argv) {
  emvtlv::tree_mode_options options;
  options.output = emvtlv::tree_mode_options::format::json;
  options.explain = argc > 1 && argv[1][0] == 'x';
  return emvtlv::run_tree_mode(emvtlv::stdin_source(), emvtlv::stdout_target(), options);
}
