#include "app/run.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <sys/stat.h>
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

// Writes LINES to standard error. What can't be shown there changes nothing
// the run did: there is nowhere left to report it.
void tostderr(const std::string& lines) {
    ssize_t ignored = ::write(STDERR_FILENO, lines.data(), lines.size());
    (void)ignored;
}

// Writes "pairstat: TEXT" and a line end to standard error, and returns STATUS.
int fail(int status, const std::string& text) {
    tostderr("pairstat: " + text + "\n");
    return status;
}

std::string quoted(const std::string& name) {
    std::string text(1, '\'');
    text += printable(name);
    return text += '\'';
}

std::string at(const char* file, long line) { return std::string(file) + ":" + std::to_string(line) + ": "; }

std::string number(double value) {
    char text[maxnumberlength];
    return std::string(text, formatnumber(value, text));
}

// Warnings are gathered while the run goes on and written, one line each,
// once it has done its work: a run that fails prints its one diagnostic only.
// The one warning that can't wait, that the run waits for a lock, is written
// at once (warnings left empty).
void warn(std::string& warnings, const std::string& text) { warnings += "pairstat: warning: " + text + "\n"; }

void warnnow(const std::string& text) {
    std::string line;
    warn(line, text);
    tostderr(line);
}

// The process holding a lock, as a diagnostic names it.
std::string holdertext(long holder) { return holder > 0 ? "process " + std::to_string(holder) : "another process"; }

// The diagnostic and status for a request that did not complete.
int readfailed(const char* file, const readoutcome& got) {
    if (got.status == readstatus::readerror)
        return fail(exitioerror, "cannot read " + quoted(file) + ": " + std::strerror(got.error));
    // Only the end of the file leaves nothing to show.
    std::string found = got.found[0] == '\0' ? "end of file" : std::string("\"") + got.found + "\"";
    std::string text = std::string(file) + ":" + std::to_string(got.line) + ":" + std::to_string(got.column) +
                       ": expected " + got.expected + ", found " + found;
    // A word or a '#' where a number is due is most often a header or a note.
    char lead = got.found[0];
    if (file == datafile && (lead == '#' || (lead >= 'A' && lead <= 'Z') || (lead >= 'a' && lead <= 'z')))
        text += "; the data file takes no header or comment lines";
    return fail(exitbaddata, text);
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

// NOTE, where not empty, tells how the name came from the control file: the
// likely cause when the name used is not the one meant.
int openfailed(const std::string& name, const openoutcome& got, const std::string& note) {
    std::string why = got.refused ? std::string(got.type == S_IFBLK ? "a block device" : "a special file") +
                                        ", not a regular file, a pipe or a character device"
                      : got.error == ENXIO && got.type == S_IFIFO  ? "a pipe that no process reads"
                      : got.error == ENXIO && got.type == S_IFSOCK ? "a socket, not a file"
                                                                   : std::strerror(got.error);
    return fail(exitcantcreate,
                "cannot open " + quoted(name) + " for appending: " + why + (note.empty() ? "" : " (" + note + ")"));
}

int appendfailed(const std::string& name, const appendoutcome& got) {
    if (got.failed == appendstep::lock && got.error == 0)
        return fail(exittempfail, "cannot lock " + quoted(name) + ": still locked by " + holdertext(got.holder) +
                                      " after " + std::to_string(lockbound.count()) +
                                      " minutes; nothing was appended, run again later");
    if (got.failed == appendstep::lock)
        return fail(exitioerror, "cannot lock " + quoted(name) + ": " + std::strerror(got.error));
    std::string why =
        got.failed == appendstep::write ? whyshort({got.error, got.written, got.asked}) : std::strerror(got.error);
    std::string state = got.left == leftfile::partline ? "; it may now end with part of a line"
                        : got.left == leftfile::notcut
                            ? "; another process changed its length meanwhile, so it was left as it is and may "
                              "hold part of this run's line"
                            : "";
    return fail(exitioerror, "cannot append to " + quoted(name) + ": " + why + state);
}

// Appends LINE to the results file, telling on standard error at once when the
// lock keeps it waiting, and among WARNINGS when the file's last line had no
// line end.
int append(resultsfile& results, const std::string& name, const reportline& line, std::string& warnings) {
    lockwait wait;
    wait.waiting = [&name](long holder) {
        warnnow(quoted(name) + ": locked by " + holdertext(holder) + "; this run waits up to " +
                std::to_string(lockbound.count()) + " minutes for it");
    };
    appendoutcome got = appendline(results, line, wait);
    if (!got.ok()) return appendfailed(name, got);
    if (got.lineend) warn(warnings, quoted(name) + ": its last line had no line end; one was put before this run's line");
    return exitok;
}

// TEXT for a message, between quotation marks, cut after 60 bytes.
std::string shown(std::string_view text) {
    constexpr std::size_t most = 60;
    std::string out(1, '"');
    out += printable(text.substr(0, most), true);
    return out += text.size() > most ? "...\"" : "\"";
}

// How the name written at LINE of the control file became another: cut to
// namelength characters, or ended by a slash outside quotation marks with more
// of it after the slash. Empty when the name is used as written.
std::string namechange(const nametext& written, long line) {
    if (written.slash)
        return at(controlfile, line) + "the results-file name ends at the slash after " + shown(written.written);
    std::string_view text = written.written;
    text = text.substr(0, text.find_last_not_of(' ') + 1);  // trailing blanks count for nothing
    if (text.size() <= namelength) return "";
    // A cut between the bytes of one UTF-8 character: the first byte left off
    // continues it (10xxxxxx).
    bool midcharacter = (static_cast<unsigned char>(text[namelength]) & 0xc0) == 0x80;
    return at(controlfile, line) + "the results-file name " + shown(text) + " is cut to its first " +
           std::to_string(namelength) + " characters" +
           (midcharacter ? ", inside a multi-byte character" : "");
}

// The warning for a name that changed (CHANGE from namechange).
void checkname(const std::string& name, const nametext& written, const std::string& change, std::string& warnings) {
    if (change.empty()) return;
    warn(warnings, change + ", so the line goes to " + quoted(name) +
                       (written.slash ? "; put a name that holds a slash in quotes ('out/res.dat')"
                                      : "; use a name of at most " + std::to_string(namelength) +
                                            " characters, or a symbolic link to reach a deeper folder"));
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
// Writes the mean line, sets LINE to the results line for the file NAME, and
// adds to WARNINGS when the values are clearly correlated; returns the status.
int summarize(const double* pairvalues, int nconf, double ut, double beta, const std::string& name, reportline& line,
              std::string& warnings) {
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
    line = resultsline(ut, beta, mean, meanerr);

    // The error assumes independent values; values correlated in file order
    // make it too small by about the square root of their autocorrelation time.
    autocorrelation got;
    if (estimatetau({data.get(), static_cast<std::size_t>(nconf)}, got) && clearlycorrelated(got, nconf)) {
        char tau[32];
        std::snprintf(tau, sizeof tau, "%.1f", got.tau);
        warn(warnings, std::string(datafile) + ": the " + std::to_string(nconf) + " values are correlated in file order (autocorrelation time " +
                           tau + "): the error " + twodigits(meanerr) + " in " + quoted(name) +
                           " assumes independent values; allowing for the correlation gives about " +
                           twodigits(meanerr * std::sqrt(got.tau)));
    }
    return exitok;
}

// Both equal, or both NaN: the same U/t or beta.
bool agrees(double x, double y) { return x == y || (x != x && y != y); }

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
    // whether the value is NaN, and how many such pairs there are.
    long nonfinite = 0;
    long nonfinitesecond = 0;
    bool nonfinitenan = false;
    bool nonfinitezerob = false;
    int nonfinitepairs = 0;
    long beyond = 0;  // where the file goes on after the last pair read

    // Notes a request's outcome and the fields it left; returns whether the
    // record is whole. Every record costs two comparisons until one differs.
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
    void compare(double uscaled, double betascaled) {
        if (first == 0) {
            first = last;
            firstuscaled = uscaled;
            firstbetascaled = betascaled;
        } else if (!(agrees(uscaled, firstuscaled) && agrees(betascaled, firstbetascaled))) {
            mixed = last;
            mixeduscaled = uscaled;
            mixedbetascaled = betascaled;
        }
    }
};

std::string utandbeta(double uscaled, double betascaled) {
    return "U/t " + number(uscaled / 10.0) + " and beta " + number(betascaled / 10.0);
}

// The warnings for the rules that change what the run's lines mean.
void scanwarnings(const scannotes& notes, int nconf, const std::string& name, std::string& warnings) {
    if (notes.partial != 0)
        warn(warnings, at(datafile, notes.partial) +
                           "the file ends part-way through this record; the report's U/t and beta are the values "
                           "read last, from this record where it has them" +
                           (nconf == 1 ? ", and so is the results line's fourth value" : ""));
    if (notes.unpaired != 0)
        warn(warnings, at(datafile, notes.unpaired) +
                           "this record has no partner: it is not counted, but the report's U/t and beta" +
                           (nconf == 1 ? " and the results line's fourth value" : "") + " come from it");
    if (notes.mixed != 0)
        warn(warnings, at(datafile, notes.mixed) + "this record has " +
                           utandbeta(notes.mixeduscaled, notes.mixedbetascaled) + ", where the record at line " +
                           std::to_string(notes.first) + " has " +
                           utandbeta(notes.firstuscaled, notes.firstbetascaled) +
                           ": the mean mixes values taken at both, and the report gives the U/t and beta of the "
                           "record read last");
    if (notes.beyond != 0)
        warn(warnings, at(datafile, notes.beyond) + "only the first " + std::to_string(maxpairs) +
                           " pairs are used; the file goes on at this line, and the rest is not read");
    if (notes.nonfinite != 0)
        warn(warnings, at(datafile, notes.nonfinite) + "the pair at lines " + std::to_string(notes.nonfinite) +
                           " and " + std::to_string(notes.nonfinitesecond) + " gives " +
                           (notes.nonfinitenan    ? "an undefined value (NaN)"
                            : notes.nonfinitezerob ? "an infinite value (b is zero)"
                                                   : "an infinite value (a or a/b is infinite)") +
                           (notes.nonfinitepairs > 1
                                ? ", one of " + std::to_string(notes.nonfinitepairs) + " pairs that give such values"
                                : "") +
                           "; the run's results are infinite or undefined, and plots leave such a line out");
    if (nconf == 0) {
        const char* why = notes.last == 0    ? "the file holds no record"
                          : notes.pairs == 0 ? "the file holds no whole pair"
                                             : "every pair's a, the third field of its first "
                                               "record, is zero or NaN";
        warn(warnings, std::string(datafile) + ": no pair was accepted (" + why + "), so nothing was appended to " +
                           quoted(name));
    } else if (nconf == 1) {
        warn(warnings, at(datafile, notes.accepted) + "only this pair was accepted: the fourth column of its line in " +
                           quoted(name) + " is the fourth field read last, not an error");
    }
}

}  // namespace

int say(const char* text, std::size_t length) {
    if (writeoutcome got = writeconsole(text, length); !got.ok()) return consolefailed(got);
    return exitok;
}

int run() {
    inputstream datastream;
    if (int error = openinput(datastream, datafile))
        return fail(exitnoinput, "cannot open " + quoted(datafile) + " for reading: " + std::strerror(error));
    inputstream controlstream;
    if (int error = openinput(controlstream, controlfile))
        return fail(exitnoinput, "cannot open " + quoted(controlfile) + " for reading: " + std::strerror(error));

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
    if (name.empty())
        return fail(exitbaddata, std::string(controlfile) + ": expected a results-file name, found an empty one");
    std::string warnings;
    const std::string change = namechange(written, controlstream.requestline);
    checkname(name, written, change, warnings);

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
            if (nconf == 1) notes.accepted = firstline;
            if (!std::isfinite(value) && notes.nonfinitepairs++ == 0) {
                notes.nonfinite = firstline;
                notes.nonfinitesecond = notes.last;
                notes.nonfinitenan = std::isnan(value);
                notes.nonfinitezerob = b == 0.0;
            }
        }
    }

    const double ut = uscaled / 10.0;
    const double beta = betascaled / 10.0;
    if (writeoutcome got = writeconsole(countline(ut, beta, nconf)); !got.ok()) return consolefailed(got);
    scanwarnings(notes, nconf, name, warnings);
    if (nconf > 0) {
        // One results line, from one place: the single value and the fourth
        // field, or the mean and its error.
        reportline line;
        if (nconf == 1) {
            line = resultsline(ut, beta, pairvalues[0], aux);
        } else if (int status = summarize(pairvalues.data(), nconf, ut, beta, name, line, warnings); status != exitok) {
            return status;
        }
        if (int status = append(results, name, line, warnings); status != exitok) return status;
    }
    tostderr(warnings);
    return exitok;
}

}  // namespace pairstat
