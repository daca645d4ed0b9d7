// Runs what the command line chose, on the input it names (FILEs, then -r records;
// standard input when there is neither) and standard output, and gives the exit status.
//
// Each FILE is run as an input of its own (lines from 1, its last line its own, a trace
// session ended with it), its output labelled with its name as the options ask
// (cli/line_labels.h); the records are one more input, never labelled. A mode needs
// only to run on the input and output it is given.
//
// Contract: a FILE that cannot be read says "emvtlv: NAME: REASON" on standard error
// (standard input is "-"); output that cannot be written says "emvtlv: write error:
// REASON" once, except for a closed pipe, which stays silent as it does for cat. Either
// makes the status 2 (trouble); a record's problem with --strict makes it 1 (a finding)
// when there was no trouble. The classic console (no option and no FILE) writes
// nothing on standard error, ever, and ends with 2 on a read or write error too.
#pragma once

#include "cli/options.h"

namespace emvtlv::cli {

int run(const options& chosen);

// Whether the decoding modes prompt: for a person typing at a terminal and reading the
// answers there, never into a pipe or a file, never for FILEs, -r records, -q or JSON.
bool decoding_prompt(const options& chosen, bool input_is_terminal, bool output_is_terminal);

}  // namespace emvtlv::cli
