#include "records/record.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records/number.hpp"
#include "records/report.hpp"
#include "records/retry.hpp"

namespace pairstat {

namespace {

void addnumber(std::string& line, double value) {
    char text[maxnumberlength];
    line.append(text, formatnumber(value, text));
}

void addcount(std::string& line, long value) {
    char text[24];
    line.append(text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
}

}  // namespace

std::string recordtext(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string recordline(const runrecord& run) {
    std::string line = recordtext(run.folder);
    // Each field after the first, after its tab; a number the run did not
    // get to leaves its field empty.
    auto number = [&line](bool has, double value) {
        line += '\t';
        if (has) addnumber(line, value);
    };
    auto count = [&line](bool has, long value) {
        line += '\t';
        if (has) addcount(line, value);
    };
    count(true, run.status);
    number(run.scanned, run.ut);
    number(run.scanned, run.beta);
    count(run.scanned, run.nconf);
    number(run.hasmean, run.mean);
    number(run.haserror, run.error);
    number(run.estimated, run.tau);
    number(run.estimated, run.dtau);
    number(run.estimated, run.corrected);
    line.append(1, '\t').append(recordtext(run.flags));
    line.append(1, '\t').append(recordtext(run.message));
    line += '\n';
    return line;
}

recordfile::~recordfile() {
    if (fd >= 0) ::close(fd);
    if (!temp.empty()) ::unlink(temp.c_str());
}

namespace {

// The folder that holds the file NAME, and its last part.
std::pair<std::string, std::string> split(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    if (slash == std::string::npos) return {".", name};
    return {slash == 0 ? "/" : name.substr(0, slash), name.substr(slash + 1)};
}

// Whether the names A and B stand for one entry of one folder, whether or not
// a file stands there yet.
bool sameentry(const std::string& a, const std::string& b) {
    const auto [afolder, alast] = split(a);
    const auto [bfolder, blast] = split(b);
    struct stat ast;
    struct stat bst;
    return alast == blast && ::stat(afolder.c_str(), &ast) == 0 && ::stat(bfolder.c_str(), &bst) == 0 &&
           ast.st_dev == bst.st_dev && ast.st_ino == bst.st_ino;
}

// Whether the file NAME is a record and nothing more, the header and one
// line, or empty (what a crash can leave of a record, which holds nothing to
// lose). Returns 0, notrecord, or the errno of a failed read.
int holdsrecord(const char* name) {
    const int fd = retry([&] { return ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
    if (fd < 0) return errno;
    // A record is a few hundred bytes: the header, the folder and a message.
    constexpr std::size_t most = 64 * 1024;
    std::string text(most + 1, '\0');
    std::size_t got = 0;
    ssize_t n = 1;
    while (got < text.size() && (n = retry([&] { return ::read(fd, text.data() + got, text.size() - got); })) > 0)
        got += static_cast<std::size_t>(n);
    const int error = n < 0 ? errno : 0;
    ::close(fd);
    if (error != 0) return error;
    text.resize(got);
    const bool record = got == 0 || (got <= most && text.starts_with(recordheader) && text.ends_with('\n') &&
                                     std::count(text.begin(), text.end(), '\n') == 2);
    return record ? 0 : notrecord;
}

// Gives the new file, unnamed or named, the name TEMP beside the record.
int nametemp(recordfile& record, const std::string& temp) {
    if (record.unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(record.fd);
        return retry([&] { return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW); });
    }
    const int fd = retry([&] { return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    if (fd >= 0) record.fd = fd;
    return fd < 0 ? -1 : 0;
}

// Names the new file beside the record, short and hidden, with this process's
// id and a count where another process left one of that name. Returns 0 or
// the errno.
int givename(recordfile& record) {
    const std::string base = split(record.name).first + "/.pairstat." + std::to_string(::getpid());
    for (int attempt = 0;; ++attempt) {
        std::string temp = base;
        if (attempt > 0) temp.append(1, '.').append(std::to_string(attempt));
        temp += ".new";
        if (nametemp(record, temp) == 0) {
            record.temp = std::move(temp);
            return 0;
        }
        if (errno != EEXIST || attempt == 100) return errno;
    }
}

}  // namespace

int openrecord(recordfile& record, const char* name, std::initializer_list<const char*> keep) {
    // A symbolic link stands for the file it leads to, there or not yet,
    // which is replaced; the link stays.
    record.name = name;
    struct stat st;
    for (int links = 0; ::lstat(record.name.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++links) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(record.name.c_str(), target, sizeof target);
        if (links == 40 || n < 0 || static_cast<std::size_t>(n) == sizeof target) return ELOOP;
        const std::string to(target, static_cast<std::size_t>(n));
        record.name = to.starts_with('/') ? to : split(record.name).first + '/' + to;
    }
    for (const char* kept : keep)
        if (sameentry(record.name, kept)) return notrecord;
    if (retry([&] { return ::stat(record.name.c_str(), &st); }) == 0) {
        if (!S_ISREG(st.st_mode)) return notregular;
        if (int error = holdsrecord(record.name.c_str())) return error;
        // Gone before the new one is made: a run that stops from here on,
        // this one included, leaves no record that says it succeeded. An
        // empty file says nothing, and may be the results file just made by
        // another run, still open there: it stays until the new record
        // takes its name, which the run checks is not its results file.
        if (st.st_size > 0 && retry([&] { return ::unlink(record.name.c_str()); }) != 0 && errno != ENOENT)
            return errno;
    }
    // The new file has no name while the run goes on, where the system can
    // make such a file and name it later, so a run that is killed leaves
    // nothing behind; elsewhere it is named at once.
    const std::string folder = split(record.name).first;
    if (::access("/proc/self/fd", X_OK) == 0)
        record.fd = retry([&] { return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); });
    record.unnamed = record.fd >= 0;
    if (!record.unnamed) {
        if (int error = givename(record)) return error;
    }
    // The header takes the file's first block now, so a full device shows
    // here, before the run touches its results file.
    writeoutcome wrote = writeall(record.fd, recordheader, sizeof recordheader - 1);
    if (!wrote.ok()) return wrote.error != 0 ? wrote.error : ENOSPC;
    return 0;
}

bool isrecord(const recordfile& record, int fd) {
    struct stat at;
    struct stat open;
    return ::stat(record.name.c_str(), &at) == 0 && ::fstat(fd, &open) == 0 && at.st_dev == open.st_dev &&
           at.st_ino == open.st_ino;
}

void droprecord(recordfile& record) {
    if (record.fd >= 0) ::close(record.fd);
    record.fd = -1;
    if (!record.temp.empty()) ::unlink(record.temp.c_str());
    record.temp.clear();
    record.dropped = true;
}

int commitrecord(recordfile& record, std::string_view line) {
    if (record.dropped) return 0;
    writeoutcome wrote = writeall(record.fd, line.data(), line.size());
    if (!wrote.ok()) return wrote.error != 0 ? wrote.error : ENOSPC;
    // Not flushed to the device, unlike the results line: a flush would make
    // a scan's runs half as slow again, and a crash of the machine that leaves
    // the record empty or gone only makes the run count as not finished.
    if (record.unnamed) {
        if (int error = givename(record)) return error;
    }
    const int fd = record.fd;
    record.fd = -1;
    if (::close(fd) != 0) return errno;
    // Something that is not a record may have come to stand at the name
    // meanwhile: it is not replaced.
    struct stat st;
    if (::stat(record.name.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return notregular;
        if (int error = holdsrecord(record.name.c_str())) return error;
    }
    if (retry([&] { return ::rename(record.temp.c_str(), record.name.c_str()); }) != 0) return errno;
    record.temp.clear();
    return 0;
}

}  // namespace pairstat
