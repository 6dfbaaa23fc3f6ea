// The run from start to end: open "ttteste.dat", "fname.dat" and the results
// file named there, scan the data file pair by pair, report the count, and
// either append the single accepted value or hand over to the multi-sample
// summary.
#pragma once

#include <cstddef>

namespace pairstat {

// Exit statuses of a run.
inline constexpr int exitok = 0;
inline constexpr int exitusage = 64;       // an unknown option: nothing was opened
inline constexpr int exitbaddata = 65;     // a value in an input file that can't be read as its item
inline constexpr int exitnoinput = 66;     // an input file missing or unreadable
inline constexpr int exitnomemory = 71;    // memory ran out (the summary's array, the reader's block)
inline constexpr int exitcantcreate = 73;  // the results file can't be opened or created
inline constexpr int exitioerror = 74;     // a read or write error
inline constexpr int exittempfail = 75;    // the results file still locked by another process: run again later

// Writes LENGTH bytes of TEXT to the console (a usage text, say); returns the
// exit status, with a diagnostic where the console can't take it all.
int say(const char* text, std::size_t length);

// Runs in the current directory; returns the exit status. Diagnostics go to
// standard error, one line each.
int run();

}  // namespace pairstat
