#include "records/report.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pairstat {

namespace {

void addtext(reportline& line, const char* text) {
    std::size_t n = std::strlen(text);
    std::memcpy(line.text + line.length, text, n);
    line.length += n;
}

void addnumber(reportline& line, double value) {
    line.text[line.length++] = ' ';
    line.length += formatnumber(value, line.text + line.length);
}

void endline(reportline& line) { line.text[line.length++] = '\n'; }

// Writes all of [text, text + length) to FD, going on after a partial write.
int writeall(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, text, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        text += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

int lockfile(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    while (::fcntl(fd, F_SETLKW, &lock) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace

std::size_t formatnumber(double value, char* out) {
    if (std::isnan(value)) {
        std::memcpy(out, "NaN", 3);
        return 3;
    }
    if (std::isinf(value)) {
        const char* word = value < 0 ? "-Infinity" : "Infinity";
        std::size_t n = std::strlen(word);
        std::memcpy(out, word, n);
        return n;
    }
    // The shortest digits that read back to VALUE, in the exponent form
    // "-d.ddde+XX"; then the same digits in the fixed form, which is written
    // when it is no longer. A whole number in fixed form gets ".0", so that a
    // reader of the file sees a real value: that counts in its length.
    char exponentform[maxnumberlength];
    const std::size_t exponentlength = static_cast<std::size_t>(
        std::to_chars(exponentform, exponentform + sizeof exponentform, value, std::chars_format::scientific).ptr -
        exponentform);
    const char* p = exponentform;
    const bool negative = *p == '-';
    p += negative;
    char digits[20];
    std::size_t ndigits = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits[ndigits++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), exponentform + exponentlength, exponent);

    // Fixed form: the digits with the point after digit exponent + 1, padded
    // with zeros on either side as needed.
    const long point = exponent + 1;  // digits before the point
    const std::size_t fixedlength = negative +
                                    (point > 0 ? std::max<std::size_t>(static_cast<std::size_t>(point), ndigits) + 1 +
                                                     (ndigits <= static_cast<std::size_t>(point))
                                               : 2 + static_cast<std::size_t>(-point) + ndigits);
    if (fixedlength > exponentlength) {
        std::memcpy(out, exponentform, exponentlength);
        return exponentlength;
    }
    char* q = out;
    if (negative) *q++ = '-';
    if (point > 0) {
        for (long k = 0; k < point; ++k)
            *q++ = static_cast<std::size_t>(k) < ndigits ? digits[k] : '0';
        *q++ = '.';
        if (ndigits <= static_cast<std::size_t>(point)) *q++ = '0';
        for (std::size_t k = static_cast<std::size_t>(point); k < ndigits; ++k) *q++ = digits[k];
    } else {
        *q++ = '0';
        *q++ = '.';
        for (long k = point; k < 0; ++k) *q++ = '0';
        for (std::size_t k = 0; k < ndigits; ++k) *q++ = digits[k];
    }
    return static_cast<std::size_t>(q - out);
}

reportline countline(double ut, double beta, int nconf) {
    reportline line;
    addtext(line, " number of conf. for and U/t=");
    addnumber(line, ut);
    addtext(line, " and beta=");
    addnumber(line, beta);
    addtext(line, "   is ");
    line.length = static_cast<std::size_t>(
        std::to_chars(line.text + line.length, line.text + sizeof line.text, nconf).ptr - line.text);
    endline(line);
    return line;
}

reportline meanline(double mean, double stddev) {
    reportline line;
    addtext(line, " Mean :");
    addnumber(line, mean);
    addtext(line, " +-");
    addnumber(line, stddev);
    endline(line);
    return line;
}

reportline resultsline(double ut, double beta, double value, double spread) {
    reportline line;
    addnumber(line, ut);
    addnumber(line, beta);
    addnumber(line, value);
    addnumber(line, spread);
    endline(line);
    return line;
}

int writeconsole(const reportline& line) { return writeall(STDOUT_FILENO, line.text, line.length); }

int openresults(resultsfile& results, const char* name) {
    int fd;
    do fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        return error;
    }
    results.fd = fd;
    results.regular = S_ISREG(st.st_mode);
    return 0;
}

namespace {

// Writes LINE with one call (again only after a signal), and notes in OUT a
// failed or short write.
void writeonce(int fd, const reportline& line, appendoutcome& out) {
    ssize_t n;
    do n = ::write(fd, line.text, line.length);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        out.error = errno;
        out.call = "write";
    } else if (static_cast<std::size_t>(n) != line.length) {
        out.written = n;
        out.call = "write";
    }
}

}  // namespace

appendoutcome appendline(resultsfile& results, const reportline& line) {
    appendoutcome out;
    if (!results.regular) {
        // A device or a pipe: nothing to lock and nothing to cut back.
        writeonce(results.fd, line, out);
        out.restored = out.written == 0;
        return out;
    }

    if ((out.error = lockfile(results.fd, F_WRLCK)) != 0) {
        out.call = "lock";
        return out;
    }
    struct stat before;
    if (::fstat(results.fd, &before) != 0) {
        out.error = errno;
        out.call = "stat";
    } else {
        writeonce(results.fd, line, out);
        if (out.ok() && ::fdatasync(results.fd) != 0) {
            // The line may not be on the device (a full disk or quota on a
            // network file system shows here): take it back.
            out.error = errno;
            out.call = "sync";
        }
        if (!out.ok()) {
            int cut;
            do cut = ::ftruncate(results.fd, before.st_size);
            while (cut != 0 && errno == EINTR);
            out.restored = cut == 0;
        }
    }
    lockfile(results.fd, F_UNLCK);
    return out;
}

}  // namespace pairstat
