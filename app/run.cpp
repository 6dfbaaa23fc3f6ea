#include "app/run.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/messages.hpp"
#include "records/reader.hpp"
#include "records/report.hpp"
#include "records/resultsfile.hpp"
#include "stats/autocorrelation.hpp"
#include "stats/stats.hpp"

namespace pairstat {

namespace {

// The multi-sample summary: the mean and spread of the NCONF accepted values.
// Writes the mean line, sets LINE to the results line for the file NAME, and
// warns when the values are clearly correlated; returns the status.
int summarize(const double* pairvalues, int nconf, double ut, double beta, const std::string& name, reportline& line,
              warnings& warned) {
    const std::size_t count = static_cast<std::size_t>(nconf);
    std::unique_ptr<double[]> data(new (std::nothrow) double[count]);
    if (!data) return allocationfailed(sizeof(double) * count);
    std::copy(pairvalues, pairvalues + nconf, data.get());

    double mean;
    double stddev;
    calculatemeanandstddev({data.get(), count}, mean, stddev);
    if (writeoutcome got = writeconsole(meanline(mean, stddev)); !got.ok()) return consolefailed(got);

    double meanerr = stddev / std::sqrt(static_cast<double>(nconf));
    line = resultsline(ut, beta, mean, meanerr);

    // The error assumes independent values; values correlated in file order
    // make it too small by about the square root of their autocorrelation time.
    autocorrelation got;
    if (estimatetau({data.get(), count}, got) && got.correlated)
        warncorrelated(warned, ut, beta, nconf, got.tau, meanerr, name);
    return exitok;
}

// Appends LINE to the results file NAME, telling at once when the lock keeps
// it waiting.
int append(resultsfile& results, const std::string& name, const reportline& line, warnings& warned) {
    lockwait wait;
    wait.waiting = [&name](long holder) { lockwaiting(name, holder); };
    appendoutcome got = appendline(results, line, wait);
    if (!got.ok()) return appendfailed(name, got);
    if (got.lineend) warnlineend(warned, name);
    return exitok;
}

}  // namespace

int say(const char* text, std::size_t length) {
    if (writeoutcome got = writeconsole(text, length); !got.ok()) return consolefailed(got);
    return exitok;
}

int run() {
    inputstream datastream;
    if (int error = openinput(datastream, datafile)) return openinputfailed(datafile, error);
    inputstream controlstream;
    if (int error = openinput(controlstream, controlfile)) return openinputfailed(controlfile, error);

    char fname[namelength];
    std::memset(fname, ' ', namelength);
    nametext written;
    readoutcome got = readname(controlstream, fname, written);
    if (got.status != readstatus::complete) {
        if (got.status == readstatus::endofinput) got.expected = "a results-file name";
        return readfailed(controlfile, got);
    }
    std::string name(fname, namelength);
    name.erase(name.find_last_not_of(' ') + 1);
    if (name.empty()) return noname();
    warnings warned;
    const std::string change = namechange(written, controlstream.requestline);
    warnname(warned, name, written, change);

    // Opened before any data is read, so a new results file exists after every
    // run that gets this far, even one that appends nothing.
    resultsfile results;
    if (openoutcome opened = openresults(results, name.c_str()); !opened.ok()) return openfailed(name, opened, change);

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
    scannotes notes;

    // At most maxpairs pairs; whatever the file holds after them is never read
    // (but for a look at the block already held, to tell whether it goes on).
    // The scan ends at the first record the file ends in, before or after its
    // pair's first record.
    for (int pair = 1;; ++pair) {
        if (pair > maxpairs) {
            notes.beyond = nextvalueline(datastream);
            break;
        }
        readoutcome first = readrecord(datastream, uscaled, betascaled, a, aux);
        if (!notes.record(first, datastream, uscaled, betascaled)) {
            if (first.status != readstatus::endofinput) return readfailed(datafile, first);
            break;
        }
        const long firstline = notes.last;
        readoutcome second = readrecord(datastream, uscaled, betascaled, b, aux);
        if (!notes.record(second, datastream, uscaled, betascaled)) {
            if (second.status != readstatus::endofinput) return readfailed(datafile, second);
            if (second.places == 0) notes.unpaired = firstline;
            break;
        }
        ++notes.pairs;
        // NaN and zeros of either sign fail the test; b is not tested, so a
        // zero b gives an infinite value that is counted like any other.
        if (std::fabs(a) > 0.0) {
            const double value = 1.0 - (a / b);
            pairvalues[static_cast<std::size_t>(nconf++)] = value;
            notes.accept(nconf, firstline, value, b);
        }
    }

    const double ut = uscaled / 10.0;
    const double beta = betascaled / 10.0;
    if (writeoutcome got = writeconsole(countline(ut, beta, nconf)); !got.ok()) return consolefailed(got);
    warnscan(warned, notes, nconf, name);
    if (nconf > 0) {
        // One results line, from one place: the single value and the fourth
        // field, or the mean and its error.
        reportline line;
        if (nconf == 1) {
            line = resultsline(ut, beta, pairvalues[0], aux);
        } else if (int status = summarize(pairvalues.data(), nconf, ut, beta, name, line, warned); status != exitok) {
            return status;
        }
        if (int status = append(results, name, line, warned); status != exitok) return status;
    }
    warned.write();
    return exitok;
}

}  // namespace pairstat
