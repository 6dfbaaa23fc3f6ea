#include "app/run.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <unistd.h>

#include "records/reader.hpp"
#include "records/report.hpp"
#include "stats/autocorrelation.hpp"
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

std::string quoted(const char* name) { return std::string("'") + name + "'"; }

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

int consolefailed(int error) {
    return fail(exitioerror, std::string("cannot write to standard output: ") + std::strerror(error));
}

int appendfailed(const std::string& name, const appendoutcome& got) {
    std::string why = got.error != 0 ? std::strerror(got.error)
                                     : "only " + std::to_string(got.written) + " bytes of the line were written";
    std::string verb = std::strcmp(got.call, "lock") == 0 ? "cannot lock " : "cannot append to ";
    std::string state = got.restored ? "" : "; it may now end with part of a line";
    return fail(exitioerror, verb + quoted(name.c_str()) + ": " + why + state);
}

// X with two significant digits: 0.0042, 0.10, 12, 1.5e-07.
std::string twodigits(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%#.2g", x);
    std::string digits = text;
    if (digits.back() == '.') digits.pop_back();
    return digits;
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
    if (int error = writeconsole(meanline(mean, stddev))) return consolefailed(error);

    double meanerr = stddev / std::sqrt(static_cast<double>(nconf));
    if (appendoutcome got = appendline(results, resultsline(ut, beta, mean, meanerr)); !got.ok())
        return appendfailed(name, got);

    // The error assumes independent values; values correlated in file order
    // make it too small by about the square root of their autocorrelation time.
    autocorrelation got;
    if (estimatetau({data.get(), static_cast<std::size_t>(nconf)}, got) && clearlycorrelated(got, nconf)) {
        char tau[32];
        std::snprintf(tau, sizeof tau, "%.1f", got.tau);
        // one line on standard error; the run's status stays what it is
        (void)fail(exitok, "warning: the " + std::to_string(nconf) +
                               " values are correlated in file order (autocorrelation time " + tau + "): the error " +
                               twodigits(meanerr) + " in " + name +
                               " assumes independent values; allowing for the correlation gives about " +
                               twodigits(meanerr * std::sqrt(got.tau)));
    }
    return exitok;
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
    if (int error = openresults(results, name.c_str()))
        return fail(exitcantcreate, "cannot open " + quoted(name.c_str()) + " for appending: " + std::strerror(error));

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
    if (int error = writeconsole(countline(ut, beta, nconf))) return consolefailed(error);
    if (nconf == 1) {
        if (appendoutcome added = appendline(results, resultsline(ut, beta, pairvalues[0], aux)); !added.ok())
            return appendfailed(name, added);
    }
    if (nconf <= 1) return exitok;
    return summarize(pairvalues.data(), nconf, ut, beta, results, name);
}

}  // namespace pairstat
