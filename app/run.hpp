// The run from start to end: open "ttteste.dat", "fname.dat" and the results
// file named there, scan the data file pair by pair, report the count, and
// either append the single accepted value or hand over to the multi-sample
// summary; then, where asked, write the run's record.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/constants.hpp"
#include "app/messages.hpp"

namespace pairstat {

// Writes LENGTH bytes of TEXT to the console (a usage text, say); returns the
// exit status, with a diagnostic where the console can't take it all.
int say(const char* text, std::size_t length);

// What the options ask of a run.
struct runoptions {
    const char* record = nullptr;  // the record's file, or none
    bool again = false;            // append even where the record shows these inputs' line in already
    int limit = maxpairs;          // the most pairs read; 0 for every pair
};

// The record's text for LIMIT: the number, or "all".
std::string limittext(int limit);
// Reads TEXT, a whole number from 1 up or "all" (0), into LIMIT.
bool readlimit(std::string_view text, int& limit);

// Runs in the current directory; returns the exit status. Diagnostics go to
// standard error, one line each, and warnings through WARNED, which may hold
// the options' warnings already. With RECORD (not null), the run's record is
// written to that file: a record that can't be started stops the run before
// it opens anything else. A run with a record appends its line once for its
// inputs: where the record says the same inputs ran to success before, or the
// journal shows their line in the results file already, nothing is appended
// (unless `again`).
int run(warnings& warned, const runoptions& options);

}  // namespace pairstat
