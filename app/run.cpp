#include "app/run.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/messages.hpp"
#include "app/summary.hpp"
#include "records/fingerprint.hpp"
#include "records/reader.hpp"
#include "records/record.hpp"
#include "records/recordfile.hpp"
#include "records/report.hpp"
#include "records/resultsfile.hpp"

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

// What the run found: the record's fields, the results file's name, and the
// line to append, where there is one.
struct found {
    runrecord fields;
    std::string name;
    reportline line;
    bool hasline = false;
};

// What a run with a record holds: the record being written, its journal
// (locked for the whole run), and the inputs' fingerprints.
struct recording {
    recordfile record;
    journal log;
    fingerprint data;
    fingerprint control;
    bool printed = false;  // both inputs read to their end: the fingerprints hold
};

readoutcome readerror(int error) {
    readoutcome out;
    out.status = readstatus::readerror;
    out.error = error;
    return out;
}

// The run proper up to the append: opens the inputs and the results file,
// scans, reports on the console, and sets in GOT what it found. With ON (a
// run that keeps a record), the inputs are read to their end for their
// fingerprints, and the results file must not be the record or its journal.
failure analyse(found& got, resultsfile& results, recording* on, int limit, warnings& warned) {
    inputstream datastream;
    if (sysresult opened = datastream.open(datafile); !opened.ok()) return openinputfailed(datafile, opened.error);
    inputstream controlstream;
    if (sysresult opened = controlstream.open(controlfile); !opened.ok())
        return openinputfailed(controlfile, opened.error);
    if (on != nullptr) {
        datastream.fingerprinted(on->data);
        controlstream.fingerprinted(on->control);
    }

    char fname[namelength];
    std::memset(fname, ' ', namelength);
    nametext written;
    readoutcome named = readname(controlstream, fname, written);
    if (named.status != readstatus::complete) {
        if (named.status == readstatus::endofinput) named.expected = "a results-file name";
        return readfailed(controlfile, named);
    }
    got.name.assign(fname, namelength);
    got.name.erase(got.name.find_last_not_of(' ') + 1);
    if (got.name.empty()) return noname();
    const std::string change = namechange(written, named.start);
    warnname(warned, got.name, written, change);

    // Opened before any data is read, so a new results file exists after every
    // run that gets this far, even one that appends nothing.
    if (openoutcome opened = results.open(got.name.c_str()); !opened.ok())
        return openfailed(got.name, opened, change);
    const fileid resultsid = results.id();
    if (resultsid == datastream.id()) return resultsinput(got.name, datafile);
    if (resultsid == controlstream.id()) return resultsinput(got.name, controlfile);
    if (on != nullptr && (on->record.names(resultsid) || on->log.id() == resultsid)) {
        on->record.drop();
        if (on->record.names(resultsid)) return recordresults(on->record.name());
        return journalresults(journalname(on->record.name()));
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
    // Slot k of the run is pairvalues[k - 1]; room for the default limit from
    // the start, and more as a run past it needs.
    std::vector<double> pairvalues;
    pairvalues.reserve(maxpairs);
    scannotes notes;

    // At most LIMIT pairs; whatever the file holds after them is never read
    // (but for a look at the block already held, to tell whether it goes on,
    // and, for a record, to take the rest into the fingerprint). The scan ends
    // at the first record the file ends in, before or after its pair's first
    // record.
    for (int pair = 1;; ++pair) {
        if (limit > 0 && pair > limit) {
            notes.goeson(datastream.nextvalueline());
            break;
        }
        readoutcome first = readrecord(datastream, uscaled, betascaled, a, aux);
        if (!notes.record(first, uscaled, betascaled)) {
            if (first.status != readstatus::endofinput) return readfailed(datafile, first);
            break;
        }
        const long firstline = notes.last();
        readoutcome second = readrecord(datastream, uscaled, betascaled, b, aux);
        if (!notes.record(second, uscaled, betascaled)) {
            if (second.status != readstatus::endofinput) return readfailed(datafile, second);
            if (second.places == 0) notes.unpaired(firstline);
            break;
        }
        notes.wholepair();
        // NaN and zeros of either sign fail the test; b is not tested, so a
        // zero b gives an infinite value that is counted like any other.
        if (std::fabs(a) > 0.0) {
            const double value = 1.0 - (a / b);
            pairvalues.push_back(value);
            notes.accept(++nconf, firstline, value, b);
        }
    }
    if (on != nullptr) {
        if (sysresult rest = datastream.readrest(); !rest.ok()) return readfailed(datafile, readerror(rest.error));
        if (sysresult rest = controlstream.readrest(); !rest.ok())
            return readfailed(controlfile, readerror(rest.error));
        on->printed = datastream.regular() && controlstream.regular();
    }

    const double ut = uscaled / 10.0;
    const double beta = betascaled / 10.0;
    runrecord& fields = got.fields;
    fields.scanned = true;
    fields.ut = ut;
    fields.beta = beta;
    fields.nconf = nconf;
    if (writeoutcome wrote = writeconsole(countline(ut, beta, nconf)); !wrote.ok()) return consolefailed(wrote);
    warnscan(warned, notes.seen(), nconf, ut, beta, limit, got.name);
    if (nconf == 0) return {};
    // One results line, from one place: the single value and the fourth
    // field, or the mean and its error.
    got.hasline = true;
    if (nconf > 1) return summarize(pairvalues, ut, beta, got.name, got.line, got.fields, warned);
    got.line = resultsline(ut, beta, pairvalues[0], aux);
    fields.hasmean = true;
    fields.mean = pairvalues[0];
    return {};
}

// Appends the line GOT found to RESULTS, telling at once when the lock keeps
// it waiting. With PROOF (a note of the journal's for these very inputs and
// line, from a run that did not finish its record), the line is looked for
// under the lock first, and appended only where it is not in the file; then
// FOUND is set.
failure append(resultsfile& results, const found& got, const appendnote* proof, bool& found, warnings& warned) {
    lockwait wait;
    wait.waiting = [&](long holder) { lockwaiting(warned, got.name, holder); };
    const placing writing = [&] {
        holdsignals();
        if (proof == nullptr) return 0;
        bool there = false;
        if (const int unread = results.finds(proof->line, there).error; unread != 0) return unread;
        return there ? lineisin : 0;
    };
    appendoutcome appended = results.append(got.line, wait, writing);
    if (!appended.ok()) return appendfailed(got.name, appended, "");
    found = appended.found;
    if (appended.lineend) warnlineend(warned, got.name);
    return {};
}

}  // namespace

int say(const char* text, std::size_t length) {
    if (writeoutcome got = writeconsole(text, length); !got.ok()) return report(consolefailed(got));
    return exitok;
}

std::string limittext(int limit) { return limit > 0 ? std::to_string(limit) : "all"; }

bool readlimit(std::string_view text, int& limit) {
    if (text == "all") {
        limit = 0;
        return true;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1) return false;
    limit = value;
    return true;
}

int run(warnings& warned, const runoptions& options) {
    const char* recordname = options.record;
    // A run with a record holds its folder's journal from here to its end, so
    // that a second run of the folder waits for it, and then reads the record
    // it left.
    std::unique_ptr<recording> on;
    recordview before;
    if (recordname != nullptr) {
        on = std::make_unique<recording>();
        if (recordoutcome started = on->record.start(recordname, {datafile, controlfile}); !started.ok())
            return report(recordfailed(recordname, started));
        lockwait wait;
        wait.bound = folderbound;
        const std::string log = journalname(on->record.name());
        wait.waiting = [&](long holder) { folderwaiting(warned, log, holder); };
        if (recordoutcome locked = on->log.open(on->record.name(), wait); !locked.ok())
            return report(journalfailed(log, locked));
        if (sysresult read = loadrecord(on->record.name().c_str(), before); !read.ok())
            return report(recordunread(recordname, read.error));
    }

    found got;
    resultsfile results;
    std::string appended;  // the results file that holds the run's line
    failure failed = analyse(got, results, on.get(), options.limit, warned);
    runrecord& fields = got.fields;
    fields.limit = limittext(options.limit);
    if (on != nullptr && on->printed) {
        fields.data = on->data.digits();
        fields.control = on->control.digits();
    }
    if (!failed.failed() && on != nullptr && !options.again) {
        // These very inputs ran to success before, by the record: nothing to
        // add, and the record stays as it is.
        if (uptodate(before, fields.data, fields.control, fields.limit)) {
            // Said as it stands: a results file moved or rewritten since may
            // no longer hold the line.
            bool there = false;
            if (got.hasline) results.finds(std::string_view(got.line.text, got.line.length), there);
            warndone(warned, on->record.name(), got.name, got.hasline, there);
            warned.write();
            on->record.drop();
            return exitok;
        }
    }
    // The journal's note is of the last line a run of this record was about
    // to append. One of these very inputs and line is the proof of a run
    // stopped after its line may have gone in and before its record: the
    // line is looked for before it is appended again. Otherwise this run's
    // note goes in first, flushed to the device, so that a line that
    // reaches the file always has its note (a machine that crashes after
    // the line is on the disk finds the note there too). A journal that
    // can't be read may hold the proof: nothing is risked.
    appendnote note;
    bool proven = false;
    const std::string line(got.line.text, got.line.length);
    if (!failed.failed() && got.hasline && on != nullptr && on->printed) {
        bool whole = false;
        if (const sysresult read = on->log.read(note, whole); !read.ok()) {
            failed = journalunread(journalname(on->record.name()), read.error, got.name);
        } else {
            proven = !options.again && whole && note.data == fields.data && note.control == fields.control &&
                     note.line == line;
            if (!proven) {
                note = {fields.data, fields.control, results.length(), line};
                if (const sysresult wrote = on->log.write(note); !wrote.ok())
                    failed = appendfailed(got.name, {appendstep::note, wrote.error}, journalname(on->record.name()));
            }
        }
    }
    if (!failed.failed() && got.hasline) {
        bool found = false;
        failed = append(results, got, proven ? &note : nullptr, found, warned);
        if (!failed.failed()) appended = got.name;
        if (found) warnrecovered(warned, got.name);
    }
    // A run that failed prints its one diagnostic and none of the warnings it
    // gathered; the record names the warnings printed.
    if (!failed.failed()) warned.write();
    failure ended = failed;
    if (on != nullptr) {
        fields.folder = sys::cwd();
        fields.status = failed.status;
        fields.flags = warned.told();
        fields.message = failed.text;
        if (recordoutcome committed = on->record.commit(recordline(fields)); !committed.ok())
            ended = recordlost(on->record.name(), committed, failed, appended);
    }
    return ended.failed() ? report(ended) : exitok;
}

}  // namespace pairstat
