// The record of a run: one file, a header line and one line of tab-separated
// fields, that a script reads to learn what the run did without parsing its
// console or its messages. It replaces the file of that name whole, so a
// reader finds the last run's record, none, or (while a run goes on) none:
// never half of one.
//
// The fields, in this order (more may follow in a later version):
//   folder status ut beta nconf mean error tau dtau corrected flags message
// Numbers are written as the results file writes them, so they read back to
// the same double; a field the run did not get to is empty. In text, a tab,
// a line end and a backslash are written \t, \n and \\, other control bytes
// \xNN; other bytes stand as they are.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace pairstat {

inline constexpr char recordheader[] =
    "folder\tstatus\tut\tbeta\tnconf\tmean\terror\ttau\tdtau\tcorrected\tflags\tmessage\n";

// What a run got to, field by field; `has...` says which groups it reached.
struct runrecord {
    std::string folder;  // absolute; empty if the system would not say
    int status = 0;
    bool scanned = false;  // ut, beta and nconf
    double ut = 0.0;
    double beta = 0.0;
    int nconf = 0;
    bool hasmean = false;  // mean: the mean, or the single accepted value
    double mean = 0.0;
    bool haserror = false;  // error: the standard error of the mean
    double error = 0.0;
    bool estimated = false;  // tau, dtau and corrected
    double tau = 0.0;
    double dtau = 0.0;
    double corrected = 0.0;
    std::string flags;    // comma-separated
    std::string message;  // a failed run's diagnostic, without the program's name
};

// The record's line for RUN, ending in a line end (the header not included).
std::string recordline(const runrecord& run);

// TEXT as a record field: tab, line end and backslash as \t, \n, \\, other
// control bytes (below 0x20, and 0x7f) as \xNN.
std::string recordtext(std::string_view text);

// A record being written: a new file beside the record, which takes the
// record's name only once it is whole. Removed, if it never took it, when
// this goes.
struct recordfile {
    std::string name;  // the record: the name given, or the file a symbolic link there leads to
    std::string temp;  // the new file's name beside it, once it has one
    int fd = -1;
    bool unnamed = false;  // the new file has no name yet
    bool dropped = false;  // given up: nothing is written

    recordfile() = default;
    recordfile(const recordfile&) = delete;
    recordfile& operator=(const recordfile&) = delete;
    ~recordfile();
};

// Why a record could not be started or written, beyond an errno: its name
// stands for something other than a regular file (a device, a folder, a
// pipe), or for a file that is not a record (a header and one line, or
// empty) or that the run reads. A record replaces only a record.
inline constexpr int notregular = -1;
inline constexpr int notrecord = -2;

// Starts the record NAME, which must not name any of the files KEEP (the
// run's inputs, whether they exist or not): removes the last run's record, so
// that a run that does not finish leaves none, makes the new file beside it
// (mode 0666 less the umask) and writes the header there. Returns 0, or why it
// could not.
int openrecord(recordfile& record, const char* name, std::initializer_list<const char*> keep);

// Whether the record's name stands for the file open at FD (a results file
// named as the record by mistake).
bool isrecord(const recordfile& record, int fd);

// Gives up the record: the new file is removed, and commitrecord then writes
// nothing.
void droprecord(recordfile& record);

// Writes LINE after the header and gives the file the record's name. Returns 0 (at once for a dropped record), or why it
// could not; the new file is then removed.
int commitrecord(recordfile& record, std::string_view line);

}  // namespace pairstat
