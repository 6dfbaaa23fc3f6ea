#include "records/resultsfile.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

// Whether the file open at FD lies on a file system that only this machine
// changes (a local disk, memory), where a page it keeps is never out of date.
// Any other, or one that can't be told, may be a network file system (FUSE
// counts as one).
bool localonly(int fd) {
    constexpr unsigned long local[] = {EXT4_SUPER_MAGIC,      XFS_SUPER_MAGIC,  BTRFS_SUPER_MAGIC, TMPFS_MAGIC,
                                       OVERLAYFS_SUPER_MAGIC, F2FS_SUPER_MAGIC, 0x2fc12fc1 /* ZFS */};
    struct statfs fs;
    if (retry([&] { return ::fstatfs(fd, &fs); }) != 0) return false;
    return std::find(std::begin(local), std::end(local), static_cast<unsigned long>(fs.f_type)) != std::end(local);
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
    results.shared = results.readable && !localonly(fd);
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

// What a wait for the lock shares with the thread that takes it. The thread
// may outlive the wait (a wait that runs out returns while it still blocks),
// so both own it.
struct lockrequest {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int error = 0;  // errno of a failed wait
};

// Waits for LOCK on FD, held by another process, as WAIT says; notes a failure
// in OUT.
//
// The wait is made in the system's own queue (F_SETLKW), where runs waiting
// together get the lock about in the order they asked for it, by a thread of
// its own that blocks every signal, while the calling thread waits for it
// with a timeout. No timer is set and no signal caught: a signal sent to the
// run, or a timer its parent left running, acts as on any other program, and
// the process's end ends the blocked call. A wait that runs out leaves that
// thread waiting: should it get the lock after all, closing the file lets go
// of it.
bool waitforlock(int fd, struct flock lock, const lockwait& wait, appendoutcome& out) {
    const auto start = std::chrono::steady_clock::now();
    auto request = std::make_shared<lockrequest>();
    // Started with every signal blocked, the thread leaves each signal sent
    // to the process to the calling thread.
    sigset_t all, before;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
        std::thread([fd, lock, request]() mutable {
            const int error = retry([&] { return ::fcntl(fd, F_SETLKW, &lock); }) == 0 ? 0 : errno;
            std::lock_guard<std::mutex> hold(request->mutex);
            request->error = error;
            request->finished = true;
            request->done.notify_all();
        }).detach();
    } catch (const std::system_error& failed) {
        out.error = failed.code().value();
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (out.error != 0) return false;

    std::unique_lock<std::mutex> hold(request->mutex);
    auto finished = [&request] { return request->finished; };
    if (wait.quiet < wait.bound && !request->done.wait_until(hold, start + wait.quiet, finished)) {
        hold.unlock();
        const long holder = lockholder(fd, lock);
        if (holder >= 0 && wait.waiting) wait.waiting(holder);
        hold.lock();
    }
    if (!request->done.wait_until(hold, start + wait.bound, finished)) {
        out.holder = std::max(lockholder(fd, lock), 0L);
        return false;
    }
    out.error = request->error;
    return out.error == 0;
}

// Takes an exclusive lock on the whole of FD, waiting as WAIT says for one
// held by another process; notes a failure in OUT.
bool lockfile(int fd, const lockwait& wait, appendoutcome& out) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    if (retry([&] { return ::fcntl(fd, F_SETLK, &lock); }) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) {
        if (waitforlock(fd, lock, wait, out)) return true;
    } else {
        out.error = errno;
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
// fstat where statx is missing or not allowed (a sandbox that denies it).
// Returns 0, or the errno.
int filelength(int fd, long long& length) {
    struct statx now;
    if (retry([&] { return ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE, &now); }) == 0) {
        if ((now.stx_mask & STATX_SIZE) != 0) {
            length = static_cast<long long>(now.stx_size);
            return 0;
        }
    } else if (errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM && errno != EACCES) {
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
// it came out the same: on a SHARED file system the copy is let go first.
// Only whole pages are let go, so the advice runs from the start of that page
// to the end of the file. Elsewhere the copy is kept: reading the page back
// from the disk would make every hold of the lock wait for it.
// Returns 0, or the errno.
int lastbyte(int fd, long long length, bool shared, char& last) {
    const long long page = ::sysconf(_SC_PAGESIZE);
    if (shared) ::posix_fadvise(fd, static_cast<off_t>((length - 1) / page * page), 0, POSIX_FADV_DONTNEED);
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
        (results.readable && before > 0 && (out.error = lastbyte(results.fd, before, results.shared, last)) != 0)) {
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
