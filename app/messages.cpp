#include "app/messages.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "records/number.hpp"
#include "records/record.hpp"
#include "records/system.hpp"

namespace pairstat {

namespace {

// How long the messages of a run may wait for room on standard error (a
// full pipe whose reader has stopped, say): a run whose signals are held must
// still end.
constexpr int messagewait = 5000;  // milliseconds

// Writes LINES to standard error, a pipe's worth at a time (a write of that
// much goes in whole once there is room), waiting for room at most
// messagewait in all. What can't be shown there changes nothing the run did:
// there is nowhere left to report it.
void tostderr(const std::string& lines) {
    constexpr std::size_t piece = 4096;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(messagewait);
    for (std::size_t done = 0; done < lines.size();) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        const sysresult room = sys::waitwritable(STDERR_FILENO, static_cast<int>(std::max<long long>(0, left.count())));
        if (!room.ok() || room.value == 0) return;
        const sysresult wrote = sys::write(STDERR_FILENO, lines.data() + done, std::min(piece, lines.size() - done));
        if (!wrote.ok() || wrote.value <= 0) return;
        done += static_cast<std::size_t>(wrote.value);
    }
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

// X to the last digit that ERROR, shown with two significant digits, has:
// 0.5002 for an error of 0.0017. All its digits where ERROR is no help.
std::string toerror(double x, double error) {
    if (!std::isfinite(x) || !std::isfinite(error) || !(error > 0.0)) return number(x);
    const int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(error))), 0, 17);
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, x);
    return text;
}

std::string utandbeta(double uscaled, double betascaled) {
    return "U/t " + number(uscaled / 10.0) + " and beta " + number(betascaled / 10.0);
}

std::string usagehint() {
    return std::string("usage: pairstat [-h | --help] [-V | --version] [--pairs N | all] [--record FILE [--again]], in "
                       "the folder of ") +
           datafile +
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

failure againalone() {
    return {exitusage, "the option '--again' goes with --record FILE: without a record every run appends; " +
                           usagehint()};
}

failure badlimit(std::string_view value) {
    return {exitusage, "the option '--pairs' takes a whole number of pairs from 1 up, or all, not " + quoted(value) +
                           "; " + usagehint()};
}

failure openinputfailed(const char* file, int error) {
    const std::string why = error == ETIMEDOUT ? "a pipe that no process wrote to within " +
                                                     std::to_string(pipewait / 1000) + " seconds"
                                               : std::strerror(error);
    return {exitnoinput, "cannot open " + quoted(file) + " for reading: " + why};
}

failure readfailed(const char* file, const readoutcome& got) {
    if (got.status == readstatus::readerror)
        return {exitioerror, "cannot read " + quoted(file) + ": " + std::strerror(got.error)};
    // Only the end of the file leaves nothing to show.
    std::string found = got.found[0] == '\0' ? "end of file" : std::string("\"") + got.found + "\"";
    std::string text = std::string(file) + ":" + std::to_string(got.line) + ":" + std::to_string(got.column) +
                       ": expected " + got.expected + ", found " + found;
    // A word or a '#' where a number is due is most often a header or a note.
    const unsigned char lead = static_cast<unsigned char>(got.found[0]);
    if (std::strcmp(file, datafile) == 0 && (lead == '#' || std::isalpha(lead)))
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

failure resultsinput(const std::string& name, const char* input) {
    return {exitcantcreate, "cannot append to " + quoted(name) + ": it is " + quoted(input) +
                                ", which the run reads; name another results file in " + quoted(controlfile)};
}

failure appendfailed(const std::string& name, const appendoutcome& got, const std::string& journal) {
    if (got.failed == appendstep::lock && got.error == 0)
        return {exittempfail, "cannot lock " + quoted(name) + ": still locked by " + holdertext(got.holder) +
                                  " after " + std::to_string(lockbound.count()) +
                                  " minutes; nothing was appended, run again later"};
    if (got.failed == appendstep::lock)
        return {exitioerror, "cannot lock " + quoted(name) + ": " + std::strerror(got.error)};
    if (got.failed == appendstep::reopen)
        return {exitioerror, "cannot append to " + quoted(name) +
                                 ": another file came to stand at its name, and it can't be opened: " +
                                 std::strerror(got.error) + "; nothing was appended"};
    if (got.failed == appendstep::record)
        return {exitcantcreate, "cannot append to " + quoted(name) +
                                    ": it is a run's record (another run's --record named it), not a results file; "
                                    "nothing was appended"};
    if (got.failed == appendstep::look)
        return {exitioerror, "cannot read " + quoted(name) + " to look for this run's line, which a run stopped "
                                 "before its record may have put there: " + std::strerror(got.error) +
                                 "; nothing was appended"};
    if (got.failed == appendstep::note)
        return {exitioerror, "cannot write the journal " + quoted(journal) +
                                 ", which notes the line before it goes in: " + std::strerror(got.error) +
                                 "; nothing was appended to " + quoted(name)};
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

std::string whyrecord(const recordoutcome& got) {
    switch (got.problem) {
        case recordproblem::notregular:
            return "not a regular file, so it is not replaced";
        case recordproblem::notrecord:
            return "a file the run reads, or one that is not a record, so it is not replaced";
        case recordproblem::locked:
            return "a file another process holds a lock on (a results file another run appends to), so it is not "
                   "replaced";
        case recordproblem::held:
            return "another run of this folder, " + holdertext(got.holder) + ", still holds it after " +
                   std::to_string(folderbound.count()) + " minutes";
        case recordproblem::none:
        case recordproblem::system:
            break;
    }
    return std::strerror(got.error);
}

}  // namespace

failure recordfailed(const std::string& name, const recordoutcome& got) {
    return {exitcantcreate,
            "cannot write the record " + quoted(name) + ": " + whyrecord(got) + "; nothing was read or appended"};
}

failure journalfailed(const std::string& name, const recordoutcome& got) {
    return {got.problem == recordproblem::held ? exittempfail : exitcantcreate,
            "cannot take the record's journal " + quoted(name) + ": " + whyrecord(got) +
                "; nothing was read or appended" + (got.problem == recordproblem::held ? ", run again later" : "")};
}

failure recordresults(const std::string& name) {
    return {exitcantcreate, "cannot write the record " + quoted(name) +
                                ": it is the results file, so it is not replaced; nothing was "
                                "appended"};
}

failure journalresults(const std::string& name) {
    return {exitcantcreate, "cannot append to " + quoted(name) +
                                ": it is the record's journal, not a results file; nothing was appended"};
}

failure recordunread(const std::string& name, int error) {
    return {exitioerror,
            "cannot read the record " + quoted(name) + ": " + std::strerror(error) + "; nothing was read or appended"};
}

failure journalunread(const std::string& name, int error, const std::string& results) {
    return {exitioerror, "cannot read the record's journal " + quoted(name) + ": " + std::strerror(error) +
                             "; nothing was appended to " + quoted(results) +
                             ", which may hold this run's line already"};
}

failure recordlost(const std::string& name, const recordoutcome& got, const failure& run,
                   const std::string& appended) {
    const std::string lost = "cannot write the record " + quoted(name) + ": " + whyrecord(got);
    if (run.failed()) return {run.status, run.text + "; and " + lost};
    return {exitioerror, lost + (appended.empty() ? "; nothing was appended"
                                                  : "; the run's line is in " + quoted(appended) +
                                                        " (its journal shows it: run again to write the record)")};
}

void folderwaiting(warnings& out, const std::string& name, long holder) {
    out.now("folderwait", "waiting for another run of this folder, " + holdertext(holder) + ", which holds " +
                              quoted(name) + ", for " + std::to_string(lockquiet.count()) +
                              " s so far; giving up after " + std::to_string(folderbound.count()) + " minutes");
}

void warndone(warnings& out, const std::string& record, const std::string& name, bool hasline, bool there) {
    const std::string done =
        !hasline ? "nothing was done again"
        : there  ? "its line is in " + quoted(name) + " and nothing was appended again"
                 : "nothing was appended again, although " + quoted(name) +
                      " does not hold its line as it stands (moved or rewritten since?)";
    out.add("uptodate", quoted(record) + ": a run of these very inputs succeeded already, so " + done +
                            "; the record stays as it is (with --again the run appends all the same)");
}

void warnrecovered(warnings& out, const std::string& name) {
    out.add("recovered", quoted(name) + ": the line of these very inputs is there already, from a run stopped "
                                        "before it wrote its record: not appended again");
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

void warnstep(warnings& out, double ut, double beta, int nconf, double shift, double shifterror, int shiftat,
              double meanerr, const std::string& name) {
    out.add("drift", std::string(datafile) + ": U/t " + number(ut) + ", beta " + number(beta) + ": the level of the " +
                         std::to_string(nconf) + " values changes by " + twodigits(shift) + " +- " +
                         twodigits(shifterror) + " after the first " + std::to_string(shiftat) +
                         " (and not only at the start), which the error " + twodigits(meanerr) + " in " +
                         quoted(name) +
                         " does not measure: look at the values in file order; leaving out a start would not mend it");
}

void warnstart(warnings& out, double ut, double beta, int nconf, const autocorrelation& got, double mean,
               double meanerr, double corrected, const std::string& name) {
    char tautext[32];
    std::snprintf(tautext, sizeof tautext, "%.1f", got.resttau);
    out.add("start", std::string(datafile) + ": U/t " + number(ut) + ", beta " + number(beta) + ": the first " +
                         std::to_string(got.cut) + " of the " + std::to_string(nconf) +
                         " values had not settled: leave them out, and the other " +
                         std::to_string(nconf - got.cut) + " give " + toerror(got.restmean, got.restcorrected) +
                         " +- " + twodigits(got.restcorrected) + " allowing for correlation (tau " + tautext +
                         "), where " + quoted(name) + " holds " + toerror(mean, meanerr) + " +- " +
                         twodigits(meanerr) + " (" + twodigits(corrected) + " allowing for correlation)");
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

void warnscan(warnings& out, const scanseen& notes, int nconf, double ut, double beta, int limit,
              const std::string& name) {
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
        out.add("pastlimit", at(datafile, notes.beyond) + "only the first " + std::to_string(limit) +
                                 " pairs are used; the file goes on at this line, and the rest is not read (--pairs "
                                 "all reads every pair)");
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
