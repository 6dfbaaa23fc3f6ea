#include "app/run.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "records/reader.hpp"
#include "records/report.hpp"
#include "stats/stats.hpp"

namespace pairstat {

namespace {

constexpr int maxpairs = 1000;
constexpr const char* datafile = "ttteste.dat";
constexpr const char* controlfile = "fname.dat";

// Writes "pairstat: TEXT" and a line end to standard error, and returns STATUS.
int fail(int status, const std::string& text) {
    std::string line = "pairstat: " + text + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;  // nowhere left to report a failure to report
    return status;
}

std::string quoted(const std::string& name) {
    std::string text(1, '\'');
    text += printable(name);
    text += '\'';
    return text;
}

// Writes "pairstat: warning: TEXT" and a line end to standard error.
void warn(const std::string& text) {
    std::string line = "pairstat: warning: " + text + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;  // a warning that can't be shown changes nothing in the run
}

// The process holding a lock, as a diagnostic names it.
std::string holdertext(long holder) {
    return holder > 0 ? "process " + std::to_string(holder) : "another process";
}

// The diagnostic and status for a request that did not complete.
int readfailed(const char* file, const readoutcome& got) {
    if (got.status == readstatus::readerror)
        return fail(exitioerror, "cannot read " + quoted(file) + ": " + std::strerror(got.error));
    // Only the end of the file leaves nothing to show.
    std::string found = got.found[0] == '\0' ? "end of file" : std::string("\"") + got.found + "\"";
    return fail(exitbaddata, std::string(file) + ":" + std::to_string(got.line) + ":" +
                                 std::to_string(got.column) + ": expected " + std::string(got.expected) +
                                 ", found " + found);
}

// Why a write took less than the whole line.
std::string whyshort(const writeoutcome& got) {
    if (got.error != 0) return std::strerror(got.error);
    if (got.written == 0)
        return "none of the " + std::to_string(got.asked) + " bytes of the line were written, and no reason was given";
    return "only " + std::to_string(got.written) + " of the " + std::to_string(got.asked) + " bytes of the line " +
           (got.written == 1 ? "was" : "were") + " written (a full device, a disk quota or a file-size limit)";
}

int consolefailed(const writeoutcome& got) {
    return fail(exitioerror, "cannot write to standard output: " + whyshort(got));
}

int openfailed(const std::string& name, const openoutcome& got) {
    std::string why = got.refused ? std::string(got.type == S_IFBLK ? "a block device" : "a special file") +
                                        ", not a regular file, a pipe or a character device"
                      : got.error == ENXIO && got.type == S_IFIFO ? "a pipe that no process reads"
                                                                   : std::strerror(got.error);
    return fail(exitcantcreate, "cannot open " + quoted(name) + " for appending: " + why);
}

int appendfailed(const std::string& name, const appendoutcome& got) {
    if (got.failed == appendstep::lock && got.error == 0)
        return fail(exittempfail, "cannot lock " + quoted(name) + ": still locked by " + holdertext(got.holder) +
                                      " after " + std::to_string(lockbound.count()) +
                                      " minutes; nothing was appended, run again later");
    if (got.failed == appendstep::lock)
        return fail(exitioerror, "cannot lock " + quoted(name) + ": " + std::strerror(got.error));
    std::string why = got.failed == appendstep::write ? whyshort({got.error, got.written, got.asked})
                                                      : std::strerror(got.error);
    std::string state = got.left == leftfile::partline ? "; it may now end with part of a line"
                        : got.left == leftfile::notcut
                            ? "; another process changed its length meanwhile, so it was left as it is and may "
                              "hold part of this run's line"
                            : "";
    return fail(exitioerror, "cannot append to " + quoted(name) + ": " + why + state);
}

// Appends LINE to the results file, telling on standard error when the lock
// keeps it waiting and when the file's last line had no line end.
int append(resultsfile& results, const std::string& name, const reportline& line) {
    lockwait wait;
    wait.waiting = [&name](long holder) {
        warn(quoted(name) + " is locked by " + holdertext(holder) + "; waiting up to " +
             std::to_string(lockbound.count()) + " minutes for it");
    };
    appendoutcome got = appendline(results, line, wait);
    if (!got.ok()) return appendfailed(name, got);
    if (got.lineend)
        warn(quoted(name) + " did not end with a line end: one was put before this run's line");
    return exitok;
}

// The multi-sample summary: the mean and spread of the NCONF accepted values.
int summarize(const double* pairvalues, int nconf, double ut, double beta, resultsfile& results,
              const std::string& name) {
    const std::size_t bytes = sizeof(double) * static_cast<std::size_t>(nconf);
    std::unique_ptr<double[]> data(new (std::nothrow) double[static_cast<std::size_t>(nconf)]);
    if (!data) {
        char text[64];
        std::snprintf(text, sizeof text, "Error allocating %lu bytes", static_cast<unsigned long>(bytes));
        return fail(exitnomemory, text);
    }
    std::copy(pairvalues, pairvalues + nconf, data.get());

    double mean;
    double stddev;
    calculatemeanandstddev({data.get(), static_cast<std::size_t>(nconf)}, mean, stddev);
    if (writeoutcome got = writeconsole(meanline(mean, stddev)); !got.ok()) return consolefailed(got);

    double meanerr = stddev / std::sqrt(static_cast<double>(nconf));
    return append(results, name, resultsline(ut, beta, mean, meanerr));
}

}  // namespace

int run() {
    inputstream datastream;
    if (int error = openinput(datastream, datafile))
        return fail(exitnoinput, "cannot open " + quoted(datafile) + " for reading: " + std::strerror(error));
    inputstream controlstream;
    if (int error = openinput(controlstream, controlfile))
        return fail(exitnoinput, "cannot open " + quoted(controlfile) + " for reading: " + std::strerror(error));

    char fname[namelength];
    std::memset(fname, ' ', namelength);
    readoutcome got = readname(controlstream, fname);
    if (got.status != readstatus::complete) {
        if (got.status == readstatus::endofinput) got.expected = "a results-file name";
        return readfailed(controlfile, got);
    }
    std::string name(fname, namelength);
    name.erase(name.find_last_not_of(' ') + 1);
    if (name.empty())
        return fail(exitbaddata, std::string(controlfile) + ": expected a results-file name, found an empty one");

    // Opened before any data is read, so a new results file exists after every
    // run that gets this far, even one that appends nothing.
    resultsfile results;
    if (openoutcome opened = openresults(results, name.c_str()); !opened.ok()) return openfailed(name, opened);

    // a and b live as long as the run, like the other fields: a null value or a
    // slash in a record leaves what the variable held before, possibly from an
    // earlier pair. Values never read are 0.0.
    double uscaled = 0.0;
    double betascaled = 0.0;
    double a = 0.0;
    double b = 0.0;
    double aux = 0.0;
    int nconf = 0;
    std::array<double, maxpairs> pairvalues{};  // slot k of the run is pairvalues[k - 1]

    // At most maxpairs pairs; whatever the file holds after them is never read.
    // The scan ends at the first record the file ends in, before or after its
    // pair's first record.
    for (int pair = 1; pair <= maxpairs; ++pair) {
        if (readoutcome first = readrecord(datastream, uscaled, betascaled, a, aux);
            first.status != readstatus::complete) {
            if (first.status == readstatus::endofinput) break;
            return readfailed(datafile, first);
        }
        if (readoutcome second = readrecord(datastream, uscaled, betascaled, b, aux);
            second.status != readstatus::complete) {
            if (second.status == readstatus::endofinput) break;
            return readfailed(datafile, second);
        }
        // NaN and zeros of either sign fail the test; b is not tested, so a
        // zero b gives an infinite value that is counted like any other.
        if (std::fabs(a) > 0.0) {
            ++nconf;
            pairvalues[static_cast<std::size_t>(nconf - 1)] = 1.0 - (a / b);
        }
    }

    const double ut = uscaled / 10.0;
    const double beta = betascaled / 10.0;
    if (writeoutcome got = writeconsole(countline(ut, beta, nconf)); !got.ok()) return consolefailed(got);
    if (nconf == 1) return append(results, name, resultsline(ut, beta, pairvalues[0], aux));
    if (nconf == 0) return exitok;
    return summarize(pairvalues.data(), nconf, ut, beta, results, name);
}

}  // namespace pairstat
