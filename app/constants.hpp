// What the run and its messages share: the input files' names, the scan's
// limit, and the exit statuses.
#pragma once

namespace pairstat {

inline constexpr int maxpairs = 1000;
inline constexpr char datafile[] = "ttteste.dat";
inline constexpr char controlfile[] = "fname.dat";

// Exit statuses of a run.
inline constexpr int exitok = 0;
inline constexpr int exitusage = 64;       // an unknown option: nothing was opened
inline constexpr int exitbaddata = 65;     // a value in an input file that can't be read as its item
inline constexpr int exitnoinput = 66;     // an input file missing or unreadable
inline constexpr int exitnomemory = 71;    // memory ran out (the summary's array, the reader's block)
inline constexpr int exitcantcreate = 73;  // the results file or the record can't be opened or created
inline constexpr int exitioerror = 74;     // a read or write error
inline constexpr int exittempfail = 75;    // the results file still locked by another process: run again later

}  // namespace pairstat
