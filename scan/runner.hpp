// Running a scan on this machine: one run of pairstat a folder, as many at a
// time as asked, passing over the folders that are up to date; a line of
// progress on a terminal, and one line at the end that sums it up.
#pragma once

#include <chrono>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "app/constants.hpp"
#include "scan/folders.hpp"

namespace pairstat {

// What a scan's folders came to.
struct tally {
    int folders = 0;
    int passedover = 0;  // up to date: not run
    int succeeded = 0;
    int warned = 0;      // of those that succeeded, those with a warning
    int failed = 0;
    int norecord = 0;    // run, or to be run, and without a record now
    std::map<std::string, int> flags;  // each warning's name, and how many runs gave it
    int stopped = 0;     // the status of the signal that stopped the scan, or 0
};

// Counts in TALLY what the record RECORD of a folder that was run says.
void count(tally& into, const recordview& record);

// The summary line, without the program's name: "57 folders: 54 succeeded (12
// warned: 9 pastlimit, 3 short), 3 failed, 0 left no record", the up-to-date
// folders first where there are any, the flags by how many runs gave them.
std::string summary(const tally& all);

// The progress line: "1234 of 10000 folders, 2 failed, about 1 min 20 s left"
// for DONE of ALL finished, FAILED of them failed, after ELAPSED.
std::string progress(int done, int all, int failed, std::chrono::milliseconds elapsed);

struct scanoptions {
    int jobs = 1;            // runs at a time
    bool all = false;        // every folder, up to date or not (and append again)
    std::string limit = std::to_string(maxpairs);  // the most pairs the runs read (their --pairs), as the
                                                   // record writes it
    std::string pairstat;    // the program, absolute
    bool terminal = false;   // standard error is a terminal: progress is drawn there
    std::string given = "FOLDER...";  // how the folders were given, for the hint that names failed
};

// The signals a scan waits for: INT, TERM and HUP, which stop it, and CHLD.
sigset_t scansignals();

// Runs the scan of FOLDERS; returns the exit status. Expects the signals of
// scansignals blocked in the calling thread: the first INT, TERM or HUP stops
// it, letting the runs under way finish and starting no more.
int runscan(const std::vector<folder>& folders, const scanoptions& options);

// The pairstat to run: the one named by the environment's PAIRSTAT, else the
// one beside this program, else the first on PATH; absolute. Empty where there
// is none, with WHY saying where it was looked for.
std::string findpairstat(std::string& why);

// The processors this process may run on.
int processors();

}  // namespace pairstat
