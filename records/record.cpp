#include "records/record.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

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

// Whether the file NAME begins with the record's header: 0, notrecord, or
// the errno of a failed read.
int holdsrecord(const char* name) {
    const int fd = retry([&] { return ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
    if (fd < 0) return errno;
    char head[sizeof recordheader - 1];
    std::size_t got = 0;
    ssize_t n = 1;
    while (got < sizeof head && (n = retry([&] { return ::read(fd, head + got, sizeof head - got); })) > 0)
        got += static_cast<std::size_t>(n);
    const int error = n < 0 ? errno : 0;
    ::close(fd);
    if (error != 0) return error;
    return got == sizeof head && std::memcmp(head, recordheader, sizeof head) == 0 ? 0 : notrecord;
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
    line += '\t';
    addcount(line, run.status);
    line += '\t';
    if (run.scanned) {
        addnumber(line, run.ut);
        line += '\t';
        addnumber(line, run.beta);
        line += '\t';
        addcount(line, run.nconf);
    } else {
        line += "\t\t";
    }
    line += '\t';
    if (run.hasmean) addnumber(line, run.mean);
    line += '\t';
    if (run.haserror) addnumber(line, run.error);
    line += '\t';
    if (run.estimated) {
        addnumber(line, run.tau);
        line += '\t';
        addnumber(line, run.dtau);
        line += '\t';
        addnumber(line, run.corrected);
    } else {
        line += "\t\t";
    }
    line += '\t';
    line += recordtext(run.flags);
    line += '\t';
    line += recordtext(run.message);
    line += '\n';
    return line;
}

recordfile::~recordfile() {
    if (fd >= 0) ::close(fd);
    if (!temp.empty()) ::unlink(temp.c_str());
}

int openrecord(recordfile& record, const char* name) {
    record.name = name;
    struct stat st;
    if (retry([&] { return ::stat(name, &st); }) == 0) {
        if (!S_ISREG(st.st_mode)) return notregular;
        if (int error = holdsrecord(name)) return error;
    }
    // The new file's name is the record's with this process's id, and a
    // count where a run that was killed left one of that name behind.
    const std::string base = record.name + '.' + std::to_string(::getpid());
    for (int attempt = 0;; ++attempt) {
        std::string temp = base;
        if (attempt > 0) temp.append(1, '.').append(std::to_string(attempt));
        temp += ".new";
        int fd = retry([&] { return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
        if (fd >= 0) {
            record.fd = fd;
            record.temp = std::move(temp);
            break;
        }
        if (errno != EEXIST || attempt == 100) return errno;
    }
    // The header takes the file's first block now, so a full device shows
    // here, before the run touches its results file.
    writeoutcome wrote = writeall(record.fd, recordheader, sizeof recordheader - 1);
    if (!wrote.ok()) return wrote.error != 0 ? wrote.error : ENOSPC;
    if (retry([&] { return ::unlink(name); }) != 0 && errno != ENOENT) return errno;
    return 0;
}

int commitrecord(recordfile& record, std::string_view line) {
    writeoutcome wrote = writeall(record.fd, line.data(), line.size());
    if (!wrote.ok()) return wrote.error != 0 ? wrote.error : ENOSPC;
    // On the device before it takes the name: a crash then leaves the last
    // record whole, or none, never an empty file under the name.
    if (retry([&] { return ::fdatasync(record.fd); }) != 0) return errno;
    const int fd = record.fd;
    record.fd = -1;
    if (::close(fd) != 0) return errno;
    if (retry([&] { return ::rename(record.temp.c_str(), record.name.c_str()); }) != 0) return errno;
    record.temp.clear();
    return 0;
}

}  // namespace pairstat
