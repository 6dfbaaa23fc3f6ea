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

// A record being written: a new file beside the record's name, which takes
// that name only once it is whole. Removed, if it never took it, when this
// goes.
struct recordfile {
    std::string name;  // the record's name, as given
    std::string temp;  // the new file beside it, while it is being written
    int fd = -1;

    recordfile() = default;
    recordfile(const recordfile&) = delete;
    recordfile& operator=(const recordfile&) = delete;
    ~recordfile();
};

// Why a record could not be started, beyond an errno: NAME is not a regular
// file (a device, a folder, a pipe), or a file that does not begin with the
// record's header (a data or results file named by mistake). A record
// replaces only a record.
inline constexpr int notregular = -1;
inline constexpr int notrecord = -2;

// Starts the record NAME: creates the new file beside it (mode 0666 less the
// umask), writes the header there, and removes the last run's record, so that
// a run that does not finish leaves none. Returns 0, or why it could not.
int openrecord(recordfile& record, const char* name);

// Writes LINE after the header, flushes the file to the device and gives it
// the record's name. Returns 0, or the errno of the step that failed; the new
// file is then removed.
int commitrecord(recordfile& record, std::string_view line);

}  // namespace pairstat
