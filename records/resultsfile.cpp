#include "records/resultsfile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records/retry.hpp"

namespace pairstat {

resultsfile::~resultsfile() {
    if (fd >= 0) ::close(fd);
}

namespace {

// Opens NAME as openresults does, with FLAGS besides; returns the descriptor,
// or -1 with errno set.
int openfile(const char* name, int flags) {
    return retry([&] { return ::open(name, flags | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666); });
}

}  // namespace

openoutcome openresults(resultsfile& results, const char* name) {
    openoutcome out;
    // Only a regular file is opened for reading: opened so, a pipe would have
    // this process as its reader, and so never report that it has none.
    struct stat st;
    bool regular = retry([&] { return ::stat(name, &st); }) != 0 || S_ISREG(st.st_mode);
    bool readable = regular;
    int fd = openfile(name, regular ? O_RDWR : O_WRONLY);
    if (fd < 0 && regular && errno == EACCES) {
        readable = false;
        fd = openfile(name, O_WRONLY);
    }
    if (fd < 0) {
        out.error = errno;
        if (retry([&] { return ::stat(name, &st); }) == 0) out.type = st.st_mode & S_IFMT;
        return out;
    }
    results.fd = fd;  // closed by `results` from here on, whatever follows
    if (retry([&] { return ::fstat(fd, &st); }) != 0) {
        out.error = errno;
        return out;
    }
    out.type = st.st_mode & S_IFMT;
    if (S_ISFIFO(st.st_mode) && readable) {
        // The name became a pipe after it was looked at: open it again, for
        // writing only.
        ::close(fd);
        results.fd = -1;
        readable = false;
        if ((fd = openfile(name, O_WRONLY)) < 0) {
            out.error = errno;
            return out;
        }
        results.fd = fd;
    }
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
        out.refused = true;
        return out;
    }
    // Opened without waiting for a pipe's reader; the writes wait as usual.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        out.error = errno;
        return out;
    }
    results.regular = S_ISREG(st.st_mode);
    results.readable = readable && results.regular;
    return out;
}

namespace {

// The process that holds a lock that conflicts with LOCK on FD: its id, 0
// where the system does not say, or -1 when the lock is free.
long lockholder(int fd, struct flock lock) {
    if (retry([&] { return ::fcntl(fd, F_GETLK, &lock); }) != 0) return 0;
    if (lock.l_type == F_UNLCK) return -1;
    return lock.l_pid > 0 ? static_cast<long>(lock.l_pid) : 0;
}

// Takes an exclusive lock on the whole of FD, waiting as WAIT says; notes a
// failure in OUT.
//
// The wait tries again and again, with a pause that grows from a millisecond
// to a tenth of a second, each drawn at random between half its length and
// all of it, so that many runs waiting together do not all try at the same
// moments. It sets no timer and catches no signal: a signal sent to the run,
// or a timer its parent left running, acts as it would on any other run.
bool lockfile(int fd, const lockwait& wait, appendoutcome& out) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    long pause = 1000;  // microseconds
    unsigned long long random = static_cast<unsigned long long>(::getpid());
    bool told = false;
    for (;;) {
        if (retry([&] { return ::fcntl(fd, F_SETLK, &lock); }) == 0) return true;
        if (errno != EAGAIN && errno != EACCES) {
            out.error = errno;
            break;
        }
        const clock::duration waited = clock::now() - start;
        if (waited >= wait.bound) {
            out.holder = std::max(lockholder(fd, lock), 0L);
            break;
        }
        if (!told && waited >= wait.quiet) {
            told = true;
            long holder = lockholder(fd, lock);
            if (holder >= 0 && wait.waiting) wait.waiting(holder);
        }
        random = random * 6364136223846793005u + 1442695040888963407u;
        const long nap = pause / 2 + static_cast<long>((random >> 33) % static_cast<unsigned long long>(pause / 2 + 1));
        const timespec length = {0, nap * 1000};
        ::nanosleep(&length, nullptr);  // a signal may cut it short: the loop goes on
        pause = std::min(pause * 2, 100000L);
    }
    out.failed = appendstep::lock;
    return false;
}

void unlockfile(int fd) {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    retry([&] { return ::fcntl(fd, F_SETLK, &lock); });
}

// Writes [text, text + length) to FD with one call, and notes in OUT a failed
// or short write.
void writeonce(int fd, const char* text, std::size_t length, appendoutcome& out) {
    out.asked = length;
    ssize_t n = retry([&] { return ::write(fd, text, length); });
    if (n < 0) {
        out.failed = appendstep::write;
        out.error = errno;
        return;
    }
    out.written = static_cast<std::size_t>(n);
    if (out.written != length) out.failed = appendstep::write;
}

// The length of the file open at FD as its file system has it now. A client
// of a network file system keeps a file's length in a cache for a second or
// so, and another client may have appended meanwhile: the length is asked of
// the file system itself (statx with AT_STATX_FORCE_SYNC), or taken from
// fstat where the system has no such call. Returns 0, or the errno.
int filelength(int fd, long long& length) {
    struct statx now;
    if (retry([&] { return ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE, &now); }) == 0) {
        if ((now.stx_mask & STATX_SIZE) != 0) {
            length = static_cast<long long>(now.stx_size);
            return 0;
        }
    } else if (errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
        return errno;
    }
    struct stat st;
    if (retry([&] { return ::fstat(fd, &st); }) != 0) return errno;
    length = st.st_size;
    return 0;
}

// Reads the last byte of the file open at FD, LENGTH bytes long, into LAST.
// A client of a network file system may still hold a copy of that byte's page
// from before another client changed it, which the length does not show where
// it came out the same: the copy is let go first. Only whole pages are let go,
// so the advice runs from the start of that page to the end of the file.
// Returns 0, or the errno.
int lastbyte(int fd, long long length, char& last) {
    const long long page = ::sysconf(_SC_PAGESIZE);
    ::posix_fadvise(fd, static_cast<off_t>((length - 1) / page * page), 0, POSIX_FADV_DONTNEED);
    return retry([&] { return ::pread(fd, &last, 1, static_cast<off_t>(length - 1)); }) < 0 ? errno : 0;
}

}  // namespace

leftfile cutback(int fd, long long before, long long wrote) {
    long long now;
    if (filelength(fd, now) != 0) return leftfile::partline;
    if (now != before + wrote) return leftfile::notcut;
    if (wrote == 0) return leftfile::asbefore;
    if (retry([&] { return ::ftruncate(fd, static_cast<off_t>(before)); }) != 0) return leftfile::partline;
    return leftfile::asbefore;
}

appendoutcome appendline(resultsfile& results, const reportline& line, const lockwait& wait) {
    appendoutcome out;
    if (!results.regular) {
        // A pipe or a character device: nothing to lock and nothing to cut back.
        writeonce(results.fd, line.text, line.length, out);
        if (out.written > 0 && !out.ok()) out.left = leftfile::partline;
        return out;
    }

    if (!lockfile(results.fd, wait, out)) return out;
    long long before = 0;
    char last = '\n';
    char text[sizeof line.text + 1];
    if ((out.error = filelength(results.fd, before)) != 0 ||
        (results.readable && before > 0 && (out.error = lastbyte(results.fd, before, last)) != 0)) {
        out.failed = appendstep::stat;
    } else {
        // A last line without a line end (a hand edit, a file cut short) must
        // not take this line as its continuation.
        out.lineend = last != '\n';
        text[0] = '\n';
        std::memcpy(text + 1, line.text, line.length);
        const char* first = out.lineend ? text : text + 1;
        if (wait.writing) wait.writing();
        writeonce(results.fd, first, line.length + (out.lineend ? 1 : 0), out);
        if (out.ok() && retry([&] { return ::fdatasync(results.fd); }) != 0) {
            // The line may not be on the device (a full disk or quota on a
            // network file system shows here): take it back.
            out.failed = appendstep::sync;
            out.error = errno;
        }
        if (!out.ok()) out.left = cutback(results.fd, before, static_cast<long long>(out.written));
    }
    unlockfile(results.fd);
    return out;
}

}  // namespace pairstat
