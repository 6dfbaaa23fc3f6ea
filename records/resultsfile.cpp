#include "records/resultsfile.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
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

// Tells SIGALRM to do nothing but interrupt the lock call waiting.
extern "C" void interrupt(int) {}

// Waits until DEADLINE at most for LOCK on FD. Returns 0 once it is held, -1
// when the deadline passed, or the errno of a failed call.
int waitlock(int fd, struct flock lock, std::chrono::steady_clock::time_point deadline) {
    // A timer interrupts the waiting call at the deadline. The call waits in
    // the kernel's queue, where polling would leave a run behind others for
    // ever under heavy contention. The timer goes on firing every tenth of a
    // second after the deadline, in case its first signal came just before
    // the call began.
    struct sigaction alarm {};
    struct sigaction before {};
    alarm.sa_handler = interrupt;
    sigemptyset(&alarm.sa_mask);
    alarm.sa_flags = 0;  // no restart: the call must return
    if (::sigaction(SIGALRM, &alarm, &before) != 0) return errno;
    // A mask inherited from the parent may block the signal.
    sigset_t alarmonly;
    sigset_t mask;
    sigemptyset(&alarmonly);
    sigaddset(&alarmonly, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &alarmonly, &mask);
    int result;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result = -1;
            break;
        }
        struct itimerval timer {};
        timer.it_value.tv_sec = static_cast<time_t>(left.count() / 1000000);
        timer.it_value.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
        timer.it_interval.tv_usec = 100000;
        if (::setitimer(ITIMER_REAL, &timer, nullptr) != 0) {
            result = errno;
            break;
        }
        if (::fcntl(fd, F_SETLKW, &lock) == 0) {
            result = 0;
            break;
        }
        if (errno != EINTR) {
            result = errno;
            break;
        }
    }
    struct itimerval off {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    ::sigaction(SIGALRM, &before, nullptr);
    return result;
}

// The process that holds a lock that conflicts with LOCK on FD: its id, 0
// where the system does not say, or -1 when the lock is free.
long lockholder(int fd, struct flock lock) {
    if (retry([&] { return ::fcntl(fd, F_GETLK, &lock); }) != 0) return 0;
    if (lock.l_type == F_UNLCK) return -1;
    return lock.l_pid > 0 ? static_cast<long>(lock.l_pid) : 0;
}

// Takes an exclusive lock on the whole of FD, waiting as WAIT says; notes a
// failure in OUT.
bool lockfile(int fd, const lockwait& wait, appendoutcome& out) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    int result = retry([&] { return ::fcntl(fd, F_SETLK, &lock); }) == 0 ? 0 : errno;
    if (result == EAGAIN || result == EACCES) {
        result = waitlock(fd, lock, std::chrono::steady_clock::now() + wait.quiet);
        if (result == -1) {
            long holder = lockholder(fd, lock);
            if (holder >= 0 && wait.waiting) wait.waiting(holder);
            result = waitlock(fd, lock, std::chrono::steady_clock::now() + wait.bound);
            if (result == -1) out.holder = std::max(lockholder(fd, lock), 0L);
        }
    }
    if (result == 0) return true;
    out.failed = appendstep::lock;
    out.error = result == -1 ? 0 : result;
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

}  // namespace

leftfile cutback(int fd, long long before, long long wrote) {
    struct stat now;
    if (retry([&] { return ::fstat(fd, &now); }) != 0) return leftfile::partline;
    if (now.st_size != before + wrote) return leftfile::notcut;
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
    struct stat before;
    char text[sizeof line.text + 1];
    if (retry([&] { return ::fstat(results.fd, &before); }) != 0) {
        out.failed = appendstep::stat;
        out.error = errno;
    } else if (char last = '\n'; results.readable && before.st_size > 0 &&
                                 retry([&] { return ::pread(results.fd, &last, 1, before.st_size - 1); }) < 0) {
        out.failed = appendstep::stat;
        out.error = errno;
    } else {
        // A last line without a line end (a hand edit, a file cut short) must
        // not take this line as its continuation.
        out.lineend = last != '\n';
        text[0] = '\n';
        std::memcpy(text + 1, line.text, line.length);
        const char* first = out.lineend ? text : text + 1;
        writeonce(results.fd, first, line.length + (out.lineend ? 1 : 0), out);
        if (out.ok() && retry([&] { return ::fdatasync(results.fd); }) != 0) {
            // The line may not be on the device (a full disk or quota on a
            // network file system shows here): take it back.
            out.failed = appendstep::sync;
            out.error = errno;
        }
        if (!out.ok()) out.left = cutback(results.fd, before.st_size, static_cast<long long>(out.written));
    }
    unlockfile(results.fd);
    return out;
}

}  // namespace pairstat
