// What a run tells on standard error: the one diagnostic of a failed run, and
// the warnings of a run whose lines mean something other than they seem, with
// what the scan notes for them. Each is one line, "pairstat: " and its text;
// names and values in it show the bytes that don't print as \xNN.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "app/constants.hpp"
#include "records/reader.hpp"
#include "records/report.hpp"
#include "records/resultsfile.hpp"

namespace pairstat {

// A failed run's diagnostic and exit status.
struct failure {
    int status = 0;
    std::string text;  // without the program's name
    bool failed() const { return status != 0; }
};

// Writes "pairstat: " and the diagnostic of GOT, and a line end, to standard
// error; returns its status.
int report(const failure& got);

// The diagnostics of failures.
failure unknownoption(std::string_view option);
failure missingvalue(std::string_view option);
failure openinputfailed(const char* file, int error);
failure readfailed(const char* file, const readoutcome& got);
failure noname();
failure consolefailed(const writeoutcome& got);
// NOTE, where not empty, tells how the name came from the control file (see
// namechange): the likely cause when the name used is not the one meant.
failure openfailed(const std::string& name, const openoutcome& got, const std::string& note);
failure appendfailed(const std::string& name, const appendoutcome& got);
failure allocationfailed(std::size_t bytes);
// The record NAME could not be started (ERROR from openrecord).
failure recordfailed(const std::string& name, int error);
// The record NAME could not be written at the end (ERROR from commitrecord),
// after a run that ended as RUN says; APPENDED names the results file the
// run's line went to, or is empty if it appended none.
failure recordlost(const std::string& name, int error, const failure& run, const std::string& appended);

// Warnings, each one line with a stable name for the record's flags. Most are
// gathered while the run goes on and written once it has done its work (a run
// that fails prints its one diagnostic only); a few can't wait and are written
// at once.
class warnings {
  public:
    // A warning written when the run has done its work.
    void add(const char* flag, const std::string& text);
    // A warning written at once.
    void now(const char* flag, const std::string& text);
    // Writes the gathered warnings.
    void write();
    // The names of the warnings written so far, comma-separated.
    const std::string& flags() const { return written; }

  private:
    std::string lines;
    std::string gathered;
    std::string written;
};

// Tells at once that the run waits for the lock on the results file NAME,
// held by process HOLDER (0: a process the system does not name).
void lockwaiting(warnings& out, const std::string& name, long holder);

// Tells at once that the arguments [first, last) are ignored.
void warnarguments(warnings& out, char* const* first, char* const* last);

// How the name written at LINE of the control file became another: cut to
// namelength characters, or ended by a slash outside quotation marks with more
// of it after the slash. Empty when the name is used as written.
std::string namechange(const nametext& written, long line);
// The warning for a name that changed (CHANGE from namechange).
void warnname(warnings& out, const std::string& name, const nametext& written, const std::string& change);
void warnlineend(warnings& out, const std::string& name);
// The NCONF values of the run at UT and BETA are correlated in file order,
// with the autocorrelation time TAU +- DTAU: the error MEANERR written to
// NAME is too small, and CORRECTED allows for the correlation.
void warncorrelated(warnings& out, double ut, double beta, int nconf, double tau, double dtau, double meanerr,
                    double corrected, const std::string& name);

// What the scan saw beyond the values, for the warnings: where records start,
// and the first record of each kind that changes what a report means. A line
// is 0 where there is no such record.
struct scannotes {
    static constexpr double unset = std::numeric_limits<double>::quiet_NaN();

    int pairs = 0;      // whole pairs read
    long last = 0;      // the record read last, whole or not
    long partial = 0;   // a record the file ends in, part-way through it
    long unpaired = 0;  // a final record without a partner
    // The first record and its U/t and beta as read; NaN until then, so that
    // the first record fails the quick comparison and is noted.
    long first = 0;
    double firstuscaled = unset;
    double firstbetascaled = unset;
    // The first record whose U/t or beta differs from the first record's.
    long mixed = 0;
    double mixeduscaled = 0.0;
    double mixedbetascaled = 0.0;
    long accepted = 0;  // the first accepted pair's first record
    // The first accepted pair whose value is infinite or NaN: its two records,
    // whether the value is NaN or b zero, and how many such pairs there are.
    long nonfinite = 0;
    long nonfinitesecond = 0;
    bool nonfinitenan = false;
    bool nonfinitezerob = false;
    int nonfinitepairs = 0;
    long beyond = 0;  // where the file goes on after the last pair read

    // Notes a request's outcome and the fields it left; returns whether the
    // record is whole. Every record costs two comparisons until one differs:
    // this runs for every record, so it stays inline.
    bool record(const readoutcome& got, const inputstream& in, double uscaled, double betascaled) {
        if (got.status != readstatus::complete) {
            if (got.status == readstatus::endofinput && got.places > 0) partial = last = in.requestline;
            return false;
        }
        last = in.requestline;
        if (mixed == 0 && !(uscaled == firstuscaled && betascaled == firstbetascaled)) compare(uscaled, betascaled);
        return true;
    }
    // The first record, a NaN, or a record that differs.
    void compare(double uscaled, double betascaled);
    // Notes the NCONF-th accepted pair, whose first record is at FIRSTLINE,
    // its VALUE and its B.
    void accept(int nconf, long firstline, double value, double b) {
        if (nconf == 1) accepted = firstline;
        if (!std::isfinite(value) && nonfinitepairs++ == 0) nonfinitepair(firstline, value, b);
    }
    void nonfinitepair(long firstline, double value, double b);
};

// The warnings for what the scan noted that changes what the run's lines mean.
// UT and BETA are the values the run reports.
void warnscan(warnings& out, const scannotes& notes, int nconf, double ut, double beta, const std::string& name);

}  // namespace pairstat
