// What a run tells on standard error: the one diagnostic of a failed run, and
// the warnings of a run whose lines mean something other than they seem, with
// what the scan notes for them. Each is one line, "pairstat: " and its text;
// names and values in it show the bytes that don't print as \xNN.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/constants.hpp"
#include "app/scannotes.hpp"
#include "records/reader.hpp"
#include "records/recordfile.hpp"
#include "records/report.hpp"
#include "records/resultsfile.hpp"
#include "stats/autocorrelation.hpp"

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
failure repeatedoption(std::string_view option);
failure againalone();
failure badlimit(std::string_view value);
failure openinputfailed(const char* file, int error);
failure readfailed(const char* file, const readoutcome& got);
failure noname();
failure consolefailed(const writeoutcome& got);
// NOTE, where not empty, tells how the name came from the control file (see
// namechange): the likely cause when the name used is not the one meant.
failure openfailed(const std::string& name, const openoutcome& got, const std::string& note);
// The results file NAME is INPUT, one of the files the run reads.
failure resultsinput(const std::string& name, const char* input);
// JOURNAL, where not empty, is the journal in which the line was to be noted.
failure appendfailed(const std::string& name, const appendoutcome& got, const std::string& journal);
failure allocationfailed(std::size_t bytes);
// The record NAME could not be started, as GOT says.
failure recordfailed(const std::string& name, const recordoutcome& got);
// The record's journal NAME could not be opened or locked, as GOT says.
failure journalfailed(const std::string& name, const recordoutcome& got);
// The record NAME, or its journal, is the results file.
failure recordresults(const std::string& name);
failure journalresults(const std::string& name);
// The record NAME could not be read (ERROR), so the run did not go on.
failure recordunread(const std::string& name, int error);
// The journal NAME could not be read (ERROR), so nothing was appended to RESULTS.
failure journalunread(const std::string& name, int error, const std::string& results);
// The record NAME could not be written at the end, as GOT says, after a run
// that ended as RUN says; APPENDED names the results file that holds the
// run's line, or is empty if it appended none.
failure recordlost(const std::string& name, const recordoutcome& got, const failure& run,
                   const std::string& appended);

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
    const std::string& told() const { return written; }

  private:
    std::string lines;
    std::string gathered;
    std::string written;
};

// Tells at once that the run waits for the lock on the results file NAME,
// held by process HOLDER (0: a process the system does not name).
void lockwaiting(warnings& out, const std::string& name, long holder);

// Tells at once that the run waits for another run of its folder, process
// HOLDER (0: one the system does not name), which holds the journal NAME.
void folderwaiting(warnings& out, const std::string& name, long holder);

// The record RECORD shows a run of these very inputs that succeeded: nothing
// is appended to NAME (where the run has a line: HASLINE, which THERE says
// NAME holds as it stands) and the record stays.
void warndone(warnings& out, const std::string& record, const std::string& name, bool hasline, bool there);
// This run's line is in NAME already, from a run of the same inputs that did
// not finish its record (its journal's note).
void warnrecovered(warnings& out, const std::string& name);

// Tells at once that the arguments [first, last) are ignored.
void warnarguments(warnings& out, char* const* first, char* const* last);

// How the name written at LINE of the control file became another: cut to
// namelength characters, or ended by a slash outside quotation marks with more
// of it after the slash. Empty when the name is used as written.
std::string namechange(const nametext& written, long line);
// The warning for a name that changed (CHANGE from namechange).
void warnname(warnings& out, const std::string& name, const nametext& written, const std::string& change);
void warnlineend(warnings& out, const std::string& name);
// The NCONF values of the run at UT and BETA drift: a straight line through
// them changes by CHANGE +- CHANGEERROR from the first to the last, which
// the error MEANERR written to NAME does not measure.
void warndrift(warnings& out, double ut, double beta, int nconf, double change, double changeerror, double meanerr,
               const std::string& name);
// The NCONF values of the run at UT and BETA change their level by SHIFT +-
// SHIFTERROR after the first SHIFTAT, and not only at the start, which the
// error MEANERR written to NAME does not measure.
void warnstep(warnings& out, double ut, double beta, int nconf, double shift, double shifterror, int shiftat,
              double meanerr, const std::string& name);
// The first GOT.cut of the NCONF values of the run at UT and BETA had not
// settled: the rest give GOT.restmean +- GOT.restcorrected, where NAME holds
// MEAN +- MEANERR, CORRECTED allowing for correlation.
void warnstart(warnings& out, double ut, double beta, int nconf, const autocorrelation& got, double mean,
               double meanerr, double corrected, const std::string& name);
// The NCONF values of the run at UT and BETA are correlated in file order,
// with the autocorrelation time TAU +- DTAU: the error MEANERR written to
// NAME is too small, and CORRECTED allows for the correlation.
void warncorrelated(warnings& out, double ut, double beta, int nconf, double tau, double dtau, double meanerr,
                    double corrected, const std::string& name);

// The warnings for what the scan noted that changes what the run's lines mean.
// UT and BETA are the values the run reports; LIMIT the most pairs it reads
// (0: every pair).
void warnscan(warnings& out, const scanseen& notes, int nconf, double ut, double beta, int limit,
              const std::string& name);

}  // namespace pairstat
