#include "app/run.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <unistd.h>

#include "app/messages.hpp"
#include "records/reader.hpp"
#include "records/record.hpp"
#include "records/report.hpp"
#include "records/resultsfile.hpp"
#include "stats/autocorrelation.hpp"
#include "stats/stats.hpp"

namespace pairstat {

namespace {

// Holds off every signal sent to the run, for the rest of the run. Called
// once the results line is certain to be written to a regular file: the run
// then finishes its line and its record, and exits with its own status,
// rather than leave a line in the file under a status that says it failed. A
// signal sent meanwhile goes with the process; one that a fault raises (a
// bad address, say) still ends it, as the system allows no other.
void holdsignals() {
    sigset_t set;
    sigfillset(&set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The multi-sample summary: the mean and spread of the NCONF accepted values.
// Writes the mean line, sets LINE to the results line for the file NAME, notes
// the numbers in RECORD, and warns when the values are clearly correlated.
failure summarize(const double* pairvalues, int nconf, double ut, double beta, const std::string& name,
                  reportline& line, runrecord& record, warnings& warned) {
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
    record.hasmean = record.haserror = true;
    record.mean = mean;
    record.error = meanerr;

    // The error assumes independent values; values correlated in file order
    // make it too small by about the square root of their autocorrelation
    // time. An estimate below 1 on independent values is noise, so the
    // corrected error is never below the error.
    autocorrelation got;
    if (estimatetau({data.get(), count}, got)) {
        record.estimated = true;
        record.tau = got.tau;
        record.dtau = got.dtau;
        record.corrected = meanerr * std::sqrt(std::max(1.0, got.tau));
        if (got.drift) warndrift(warned, ut, beta, nconf, got.change, got.changeerror, meanerr, name);
        if (got.correlated) warncorrelated(warned, ut, beta, nconf, got.tau, got.dtau, meanerr, record.corrected, name);
    }
    return {};
}

// Appends LINE to the results file NAME, telling at once when the lock keeps
// it waiting.
failure append(resultsfile& results, const std::string& name, const reportline& line, warnings& warned) {
    lockwait wait;
    wait.waiting = [&](long holder) { lockwaiting(warned, name, holder); };
    wait.writing = holdsignals;
    appendoutcome got = appendline(results, line, wait);
    if (!got.ok()) return appendfailed(name, got);
    if (got.lineend) warnlineend(warned, name);
    return {};
}

// The run proper, noting in RECORD what it gets to, and in APPENDED the
// results file it appended a line to. RECORDFILE, where not null, is the
// record being written, which must not be the results file.
failure analyse(runrecord& record, std::string& appended, warnings& warned, recordfile* recordfile) {
    inputstream datastream;
    if (int error = datastream.open(datafile)) return openinputfailed(datafile, error);
    inputstream controlstream;
    if (int error = controlstream.open(controlfile)) return openinputfailed(controlfile, error);

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
    const std::string change = namechange(written, got.start);
    warnname(warned, name, written, change);

    // Opened before any data is read, so a new results file exists after every
    // run that gets this far, even one that appends nothing.
    resultsfile results;
    if (openoutcome opened = openresults(results, name.c_str()); !opened.ok()) return openfailed(name, opened, change);
    if (recordfile != nullptr && isrecord(*recordfile, results.fd)) {
        droprecord(*recordfile);
        return recordisresults(recordfile->name);
    }

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
            notes.beyond = datastream.nextvalueline();
            break;
        }
        readoutcome first = readrecord(datastream, uscaled, betascaled, a, aux);
        if (!notes.record(first, uscaled, betascaled)) {
            if (first.status != readstatus::endofinput) return readfailed(datafile, first);
            break;
        }
        const long firstline = notes.last;
        readoutcome second = readrecord(datastream, uscaled, betascaled, b, aux);
        if (!notes.record(second, uscaled, betascaled)) {
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
    record.scanned = true;
    record.ut = ut;
    record.beta = beta;
    record.nconf = nconf;
    if (writeoutcome got = writeconsole(countline(ut, beta, nconf)); !got.ok()) return consolefailed(got);
    warnscan(warned, notes, nconf, ut, beta, name);
    if (nconf == 0) return {};
    // One results line, from one place: the single value and the fourth
    // field, or the mean and its error.
    reportline line;
    if (nconf == 1) {
        line = resultsline(ut, beta, pairvalues[0], aux);
        record.hasmean = true;
        record.mean = pairvalues[0];
    } else if (failure got = summarize(pairvalues.data(), nconf, ut, beta, name, line, record, warned); got.failed()) {
        return got;
    }
    if (failure got = append(results, name, line, warned); got.failed()) return got;
    appended = name;
    return {};
}

// The run's folder, absolute; empty where the system would not say.
std::string folder() {
    std::unique_ptr<char, decltype(&std::free)> path(::getcwd(nullptr, 0), &std::free);
    return path ? std::string(path.get()) : std::string();
}

}  // namespace

int say(const char* text, std::size_t length) {
    if (writeoutcome got = writeconsole(text, length); !got.ok()) return report(consolefailed(got));
    return exitok;
}

int run(warnings& warned, const char* recordname) {
    recordfile record;
    if (recordname != nullptr) {
        if (int error = openrecord(record, recordname, {datafile, controlfile}))
            return report(recordfailed(recordname, error));
    }
    runrecord fields;
    std::string appended;
    const failure got = analyse(fields, appended, warned, recordname != nullptr ? &record : nullptr);
    // A run that failed prints its one diagnostic and none of the warnings it
    // gathered; the record names the warnings printed.
    if (!got.failed()) warned.write();
    failure ended = got;
    if (recordname != nullptr) {
        fields.folder = folder();
        fields.status = got.status;
        fields.flags = warned.told();
        fields.message = got.text;
        if (int error = commitrecord(record, recordline(fields))) ended = recordlost(recordname, error, got, appended);
    }
    return ended.failed() ? report(ended) : exitok;
}

}  // namespace pairstat
