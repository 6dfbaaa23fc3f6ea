#include "app/messages.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "records/number.hpp"
#include "records/record.hpp"

namespace pairstat {

namespace {

// Writes LINES to standard error. What can't be shown there changes nothing
// the run did: there is nowhere left to report it.
void tostderr(const std::string& lines) {
    ssize_t ignored = ::write(STDERR_FILENO, lines.data(), lines.size());
    (void)ignored;
}

// A name as messages show it, between apostrophes.
std::string quoted(std::string_view name) {
    std::string text(1, '\'');
    text += shown(name);
    return text += '\'';
}

std::string at(const char* file, long line) { return std::string(file) + ":" + std::to_string(line) + ": "; }

std::string number(double value) {
    char text[maxnumberlength];
    return std::string(text, formatnumber(value, text));
}

// The process holding a lock, as a diagnostic names it.
std::string holdertext(long holder) { return holder > 0 ? "process " + std::to_string(holder) : "another process"; }

// Why a write took less than the whole line.
std::string whyshort(const writeoutcome& got) {
    if (got.error != 0) return std::strerror(got.error);
    if (got.written == 0)
        return "none of the " + std::to_string(got.asked) + " bytes of the line were written, and no reason was given";
    return "only " + std::to_string(got.written) + " of the " + std::to_string(got.asked) + " bytes of the line " +
           (got.written == 1 ? "was" : "were") + " written (a full device, a disk quota or a file-size limit)";
}

// A value as messages show it, between quotation marks.
std::string inquotes(std::string_view text) { return '"' + shown(text, true) + '"'; }

// X with two significant digits: 0.0042, 0.10, 12, 1.5e-07.
std::string twodigits(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%#.2g", x);
    std::string digits = text;
    if (digits.back() == '.') digits.pop_back();
    return digits;
}

std::string utandbeta(double uscaled, double betascaled) {
    return "U/t " + number(uscaled / 10.0) + " and beta " + number(betascaled / 10.0);
}

std::string usagehint() {
    return std::string("usage: pairstat [-h | --help] [-V | --version] [--record FILE], in the folder of ") + datafile +
           " and " + controlfile;
}

}  // namespace

int report(const failure& got) {
    tostderr("pairstat: " + got.text + "\n");
    return got.status;
}

failure unknownoption(std::string_view option) {
    return {exitusage, "unknown option " + quoted(option) + "; " + usagehint()};
}

failure missingvalue(std::string_view option) {
    return {exitusage, "the option " + quoted(option) + " needs a file name; " + usagehint()};
}

failure repeatedoption(std::string_view option) {
    return {exitusage, "the option " + quoted(option) + " is given twice; " + usagehint()};
}

void warnarguments(warnings& out, char* const* first, char* const* last) {
    // The first few are shown, each cut as a name is, and the rest counted:
    // a thousand arguments still make a line to read.
    constexpr long most = 5;
    const long count = last - first;
    std::string listed;
    for (long k = 0; k < std::min(count, most); ++k) listed += (k == 0 ? "" : ", ") + quoted(first[k]);
    std::string counted = count == 1 ? "the argument " : "the arguments ";
    if (count > most) {
        counted = "the " + std::to_string(count) + " arguments ";
        listed += " and " + std::to_string(count - most) + " more";
    }
    out.now("arguments", counted + listed + (count == 1 ? " is" : " are") +
                             " ignored: pairstat takes no arguments and runs in the current folder; to run in "
                             "another folder, change to it first");
}

failure openinputfailed(const char* file, int error) {
    return {exitnoinput, "cannot open " + quoted(file) + " for reading: " + std::strerror(error)};
}

failure readfailed(const char* file, const readoutcome& got) {
    if (got.status == readstatus::readerror)
        return {exitioerror, "cannot read " + quoted(file) + ": " + std::strerror(got.error)};
    // Only the end of the file leaves nothing to show.
    std::string found = got.found[0] == '\0' ? "end of file" : std::string("\"") + got.found + "\"";
    std::string text = std::string(file) + ":" + std::to_string(got.line) + ":" + std::to_string(got.column) +
                       ": expected " + got.expected + ", found " + found;
    // A word or a '#' where a number is due is most often a header or a note.
    char lead = got.found[0];
    if (std::strcmp(file, datafile) == 0 &&
        (lead == '#' || (lead >= 'A' && lead <= 'Z') || (lead >= 'a' && lead <= 'z')))
        text += "; the data file takes no header or comment lines";
    return {exitbaddata, text};
}

failure noname() {
    return {exitbaddata, std::string(controlfile) + ": expected a results-file name, found an empty one"};
}

failure consolefailed(const writeoutcome& got) {
    return {exitioerror, "cannot write to standard output: " + whyshort(got)};
}

failure openfailed(const std::string& name, const openoutcome& got, const std::string& note) {
    std::string why = got.refused ? std::string(got.type == S_IFBLK ? "a block device" : "a special file") +
                                        ", not a regular file, a pipe or a character device"
                      : got.error == ENXIO && got.type == S_IFIFO  ? "a pipe that no process reads"
                      : got.error == ENXIO && got.type == S_IFSOCK ? "a socket, not a file"
                                                                   : std::strerror(got.error);
    return {exitcantcreate,
            "cannot open " + quoted(name) + " for appending: " + why + (note.empty() ? "" : " (" + note + ")")};
}

failure appendfailed(const std::string& name, const appendoutcome& got) {
    if (got.failed == appendstep::lock && got.error == 0)
        return {exittempfail, "cannot lock " + quoted(name) + ": still locked by " + holdertext(got.holder) +
                                  " after " + std::to_string(lockbound.count()) +
                                  " minutes; nothing was appended, run again later"};
    if (got.failed == appendstep::lock)
        return {exitioerror, "cannot lock " + quoted(name) + ": " + std::strerror(got.error)};
    std::string why =
        got.failed == appendstep::write ? whyshort({got.error, got.written, got.asked}) : std::strerror(got.error);
    std::string state = got.left == leftfile::partline ? "; it may now end with part of a line"
                        : got.left == leftfile::notcut
                            ? "; another process changed its length meanwhile, so it was left as it is and may "
                              "hold part of this run's line"
                            : "";
    return {exitioerror, "cannot append to " + quoted(name) + ": " + why + state};
}

failure allocationfailed(std::size_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "Error allocating %lu bytes", static_cast<unsigned long>(bytes));
    return {exitnomemory, text};
}

namespace {

std::string whyrecord(int error) {
    return error == notregular  ? "not a regular file, so it is not replaced"
           : error == notrecord ? "a file the run reads, or one that is not a record, so it is not replaced"
                                : std::strerror(error);
}

}  // namespace

failure recordfailed(const std::string& name, int error) {
    return {exitcantcreate,
            "cannot write the record " + quoted(name) + ": " + whyrecord(error) + "; nothing was read or appended"};
}

failure recordisresults(const std::string& name) {
    return {exitcantcreate, "cannot write the record " + quoted(name) +
                                ": it is the results file, so it is not replaced; nothing was "
                                "appended"};
}

failure recordlost(const std::string& name, int error, const failure& run, const std::string& appended) {
    const std::string lost = "cannot write the record " + quoted(name) + ": " + whyrecord(error);
    if (run.failed()) return {run.status, run.text + "; and " + lost};
    return {exitioerror, lost + (appended.empty() ? "; nothing was appended"
                                                  : "; the run's line was appended to " + quoted(appended))};
}

void lockwaiting(warnings& out, const std::string& name, long holder) {
    out.now("lockwait", "waiting for the lock on " + quoted(name) + ", held by " + holdertext(holder) + ", for " +
                            std::to_string(lockquiet.count()) + " s so far; giving up after " +
                            std::to_string(lockbound.count()) + " minutes");
}

namespace {

void addflag(std::string& flags, const char* flag) {
    if (!flags.empty()) flags += ',';
    flags += flag;
}

}  // namespace

void warnings::add(const char* flag, const std::string& text) {
    lines += "pairstat: warning: " + text + "\n";
    addflag(gathered, flag);
}

void warnings::now(const char* flag, const std::string& text) {
    tostderr("pairstat: warning: " + text + "\n");
    addflag(written, flag);
}

void warnings::write() {
    tostderr(lines);
    if (!gathered.empty()) addflag(written, gathered.c_str());
    lines.clear();
    gathered.clear();
}

std::string namechange(const nametext& written, long line) {
    if (written.slash)
        return at(controlfile, line) + "the results-file name ends at the slash after " + inquotes(written.written);
    std::string_view text = written.written;
    text = text.substr(0, text.find_last_not_of(' ') + 1);  // trailing blanks count for nothing
    if (text.size() <= namelength) return "";
    // A cut between the bytes of one UTF-8 character: the first byte left off
    // continues it (10xxxxxx).
    bool midcharacter = (static_cast<unsigned char>(text[namelength]) & 0xc0) == 0x80;
    return at(controlfile, line) + "the results-file name " + inquotes(text) + " is cut to its first " +
           std::to_string(namelength) + " characters" + (midcharacter ? ", inside a multi-byte character" : "");
}

void warnname(warnings& out, const std::string& name, const nametext& written, const std::string& change) {
    if (change.empty()) return;
    out.add("namecut", change + ", so the line goes to " + quoted(name) +
                           (written.slash ? "; put a name that holds a slash in quotes ('out/res.dat')"
                                          : "; use a name of at most " + std::to_string(namelength) +
                                                " characters, or a symbolic link to reach a deeper folder"));
}

void warnlineend(warnings& out, const std::string& name) {
    out.add("lineend", quoted(name) + ": its last line had no line end; one was put before this run's line");
}

void warndrift(warnings& out, double ut, double beta, int nconf, double change, double changeerror, double meanerr,
               const std::string& name) {
    out.add("drift",
            std::string(datafile) + ": U/t " + number(ut) + ", beta " + number(beta) + ": the " +
                std::to_string(nconf) + " values drift by " + twodigits(change) + " +- " + twodigits(changeerror) +
                " from the first to the last (a straight line through them), which the error " + twodigits(meanerr) +
                " in " + quoted(name) + " does not measure: look at the values in file order before using the line");
}

void warncorrelated(warnings& out, double ut, double beta, int nconf, double tau, double dtau, double meanerr,
                    double corrected, const std::string& name) {
    char tautext[64];
    std::snprintf(tautext, sizeof tautext, "%.1f +- %.1f", tau, dtau);
    // A run shorter than about 50 tau gives an estimate that comes out low.
    const bool atleast = nconf < 50.0 * tau;
    out.add(atleast ? "correlated,short" : "correlated",
            std::string(datafile) + ": U/t " + number(ut) + ", beta " + number(beta) + ": the error " +
                twodigits(meanerr) + " in " + quoted(name) + " is " + (atleast ? "at least " : "about ") +
                twodigits(corrected) + " allowing for correlation (tau " + tautext + " over the " +
                std::to_string(nconf) + " values in file order" +
                (atleast ? "; fewer than 50 tau values make tau come out low" : "") +
                "): quote the larger error, and see pairstat(1) on correlated values");
}

void warnscan(warnings& out, const scannotes& notes, int nconf, double ut, double beta, const std::string& name) {
    if (notes.partial != 0)
        out.add("cut", at(datafile, notes.partial) +
                           "the file ends part-way through this record, so the report gives U/t " + number(ut) +
                           " and beta " + number(beta) + ", the values read last (from this record where it has them)" +
                           (notes.first != 0 ? ", where the record at line " + std::to_string(notes.first) + " has " +
                                                   utandbeta(notes.firstuscaled, notes.firstbetascaled)
                                             : "") +
                           (nconf == 1 ? "; the results line's fourth value is read last too" : ""));
    if (notes.unpaired != 0)
        out.add("unpaired", at(datafile, notes.unpaired) +
                                "this record has no partner: it is not counted, but the report's U/t and beta" +
                                (nconf == 1 ? " and the results line's fourth value" : "") + " come from it");
    if (notes.mixed != 0)
        out.add("mixed", at(datafile, notes.mixed) + "this record has " +
                             utandbeta(notes.mixeduscaled, notes.mixedbetascaled) + ", where the record at line " +
                             std::to_string(notes.first) + " has " +
                             utandbeta(notes.firstuscaled, notes.firstbetascaled) +
                             ": the mean mixes values taken at both, and the report gives the U/t and beta of the "
                             "record read last");
    if (notes.beyond != 0)
        out.add("pastlimit", at(datafile, notes.beyond) + "only the first " + std::to_string(maxpairs) +
                                 " pairs are used; the file goes on at this line, and the rest is not read");
    if (notes.nonfinite != 0)
        out.add("nonfinite", at(datafile, notes.nonfinite) + "the pair at lines " + std::to_string(notes.nonfinite) +
                                 " and " + std::to_string(notes.nonfinitesecond) + " gives " +
                                 (notes.nonfinitenan     ? "an undefined value (NaN)"
                                  : notes.nonfinitezerob ? "an infinite value (b is zero)"
                                                         : "an infinite value (a or a/b is infinite)") +
                                 (notes.nonfinitepairs > 1 ? ", one of " + std::to_string(notes.nonfinitepairs) +
                                                                 " pairs that give such values"
                                                           : "") +
                                 "; the run's results are infinite or undefined, and plots leave such a line out");
    if (nconf == 0) {
        const char* why = notes.last == 0    ? "the file holds no record"
                          : notes.pairs == 0 ? "the file holds no whole pair"
                                             : "every pair's a, the third field of its first "
                                               "record, is zero or NaN";
        out.add("noneaccepted", std::string(datafile) + ": no pair was accepted (" + why +
                                    "), so nothing was appended to " + quoted(name));
    } else if (nconf == 1) {
        out.add("onepair", at(datafile, notes.accepted) +
                               "only this pair was accepted: the fourth column of its line in " + quoted(name) +
                               " is the fourth field read last, not an error");
    }
}

}  // namespace pairstat
