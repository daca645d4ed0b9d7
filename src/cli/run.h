// Runs what the command line chose, on standard input (or the FILEs) and standard
// output, and gives the exit status: the console's, or 1 if a FILE failed.
#pragma once

#include "cli/options.h"

namespace emvtlv::cli {

int run(const options& chosen);

}  // namespace emvtlv::cli
