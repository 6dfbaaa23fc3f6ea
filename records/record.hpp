// The record of a run: one file, a header line and one line of tab-separated
// fields, that a script reads to learn what the run did without parsing its
// console or its messages, and that a later run of the same folder reads to
// tell whether the inputs it holds now are the ones a run already finished on.
//
// The fields, in this order (more may follow in a later version, which makes
// its records another version's):
//   folder status ut beta nconf mean error tau dtau corrected flags message
//   start restmean restcorrected limit data control
// Numbers are written as the results file writes them, so they read back to
// the same double; a field the run did not get to is empty. In text, a tab,
// a line end and a backslash are written \t, \n and \\, other control bytes
// \xNN; other bytes stand as they are (see recordtext). `start` is how many
// values to leave out from the beginning (0 when none), `restmean` and
// `restcorrected` what the values after them give. `limit` is the most pairs
// the run reads, or `all`. `data` and `control` are the fingerprints of
// ttteste.dat and fname.dat as the run read them, empty where it did not get
// to the end of them or where one is not a regular file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "records/system.hpp"

namespace pairstat {

inline constexpr char recordheader[] =
    "folder\tstatus\tut\tbeta\tnconf\tmean\terror\ttau\tdtau\tcorrected\tflags\tmessage\tstart\trestmean\t"
    "restcorrected\tlimit\tdata\tcontrol\n";
// How every version's record begins: what tells a record from other files.
inline constexpr char recordstart[] = "folder\tstatus\tut\tbeta\tnconf\tmean\terror\ttau\tdtau\tcorrected\tflags\tmessage";
// The fields every version's record has, up to `message`.
inline constexpr std::size_t basefields = 12;
// A record is a few hundred bytes: the header, the folder and a message.
inline constexpr std::size_t recordmost = 64 * 1024;

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
    int start = 0;           // with estimated: values to leave out from the beginning
    bool hasrest = false;    // restmean and restcorrected: what the values after them give
    double restmean = 0.0;
    double restcorrected = 0.0;
    std::string limit;       // the most pairs the run reads, or "all"
    std::string flags;    // comma-separated
    std::string message;  // a failed run's diagnostic, without the program's name
    std::string data;     // the fingerprint of the data file, or empty
    std::string control;  // the fingerprint of the control file, or empty
};

// The record's line for RUN, ending in a line end (the header not included).
std::string recordline(const runrecord& run);

// What a file at a record's name holds.
enum class recordform {
    absent,     // no file there
    empty,      // an empty file: what a crash may leave of a record just made
    notrecord,  // a file that is not a record of any version
    older,      // a record of another version's fields
    current,    // a record of this version's fields
};

// A record as read back. The fields stand as written, escapes and all.
struct recordview {
    recordform form = recordform::absent;
    std::string header;               // the header, without its line end
    std::vector<std::string> fields;  // the line's fields, as many as it has
    bool statusread = false;          // `status` is a whole number
    int status = 0;

    // The field called NAME, or empty where the record has none.
    std::string_view field(std::string_view name) const;
    // Whether the run succeeded, by a record of any version.
    bool succeeded() const { return form >= recordform::older && statusread && status == 0; }
};

// Tells what TEXT, a whole file's content, holds as a record.
recordview parserecord(std::string_view text);

// Reads the file NAME as a record; a missing file is a record `absent`. A
// file that is not a regular file or is longer than any record is `notrecord`
// without being read.
sysresult loadrecord(const char* name, recordview& out);

// Whether the record says that its run succeeded on inputs whose fingerprints
// were DATA and CONTROL, reading at most LIMIT pairs, in this version's
// fields: the folder is then up to date, and another run of it would add
// nothing.
bool uptodate(const recordview& record, std::string_view data, std::string_view control, std::string_view limit);

// The note a run leaves beside its record, flushed to the device, just
// before it appends its line: the inputs it ran on, the results file's length
// just before (where the line goes unless another run appends first), and
// the line. A later run of the same inputs that finds that line in the file
// the control file names knows the line went in, and completes the record
// instead of appending again.
struct appendnote {
    std::string data;     // the fingerprint of the data file
    std::string control;  // the fingerprint of the control file
    long long at = 0;     // the results file's length before the append: for the
                          // reader of a journal; the line is looked for in the
                          // whole file, which other runs may have grown first
    std::string line;     // the line, with its line end
};

// The note's text: a header and one line of fields, the last a fingerprint of
// the rest of the line, so that a note cut short or changed by hand reads as
// none.
std::string notetext(const appendnote& note);
// Reads NOTE back from TEXT; false where TEXT is not a whole note.
bool readnote(std::string_view text, appendnote& note);

}  // namespace pairstat
