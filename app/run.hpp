// The run from start to end: open "ttteste.dat", "fname.dat" and the results
// file named there, scan the data file pair by pair, report the count, and
// either append the single accepted value or hand over to the multi-sample
// summary; then, where asked, write the run's record.
#pragma once

#include <cstddef>

#include "app/messages.hpp"

namespace pairstat {

// Writes LENGTH bytes of TEXT to the console (a usage text, say); returns the
// exit status, with a diagnostic where the console can't take it all.
int say(const char* text, std::size_t length);

// Runs in the current directory; returns the exit status. Diagnostics go to
// standard error, one line each, and warnings through WARNED, which may hold
// the options' warnings already. With RECORD (not null), the run's record is
// written to that file: a record that can't be started stops the run before
// it opens anything else. A run with a record appends its line once for its
// inputs: where the record says the same inputs ran to success before, or the
// journal shows their line in the results file already, nothing is appended
// (unless AGAIN).
int run(warnings& warned, const char* record, bool again);

}  // namespace pairstat
