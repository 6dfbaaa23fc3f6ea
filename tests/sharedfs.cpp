// sharedfs: one client's view of a shared folder, as a network file system
// gives it, for the end-to-end runs that show what concurrent appends leave in
// a results file.
//
//   sharedfs BACKING MOUNTPOINT EVERY [FLUSHMS]
//
// Mounts at MOUNTPOINT a view of the folder BACKING, and serves it in the
// foreground until it is unmounted or stopped. It looks up, opens, reads,
// appends to, flushes, cuts back and locks files already there, and does
// nothing else. Two mounts of one folder are two client machines:
//
// - Every write lands one byte at a time at the backing file's end as it is
//   then, with a pause between bytes (every handle the runs open appends).
//   Appends from two mounts that hold no lock interleave and tear their lines,
//   as on a file system that cannot append atomically. (Within one mount they
//   cannot: the kernel lets one write at a time into a file.)
// - Record locks are held on the backing file as open-file-description locks,
//   one backing descriptor per open handle, so a lock taken through one mount
//   excludes one taken through the other. Such a lock belongs to no process:
//   F_GETLK gives the holder as 0, unknown, as for a holder on another machine.
//   A wait for a lock ends when the lock is had, or when a signal ends the
//   waiting process, as a network client's wait does.
// - Each mount's kernel keeps a file's attributes and name for a second
//   (FUSE's defaults) and its data in the page cache until it is opened
//   again, so a mount may show a length the other has since changed, as a
//   network client does between locks.
// - Every EVERYth flush (fsync, fdatasync) through a mount fails with EDQUOT
//   after its bytes reached the backing file, as on a server whose quota is
//   full; none does with EVERY 0.
//
// With FLUSHMS it is a slow server instead: the bytes of a write land without
// a pause, and every flush takes FLUSHMS milliseconds more.
#define FUSE_USE_VERSION 312

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <fuse.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A 22-byte results line takes about 22 ms to land (without FLUSHMS): long
// enough for runs started together to overlap.
timespec bytepause{0, 1000 * 1000};
timespec flushpause{0, 0};

int backing = -1;  // the folder BACKING
unsigned long every = 0;
std::atomic<unsigned long> flushes{0};

// The backing name of PATH, relative to BACKING.
const char* relative(const char* path) { return path[1] == '\0' ? "." : path + 1; }

int result(int done) { return done == 0 ? 0 : -errno; }

int fd(const fuse_file_info* fi) { return static_cast<int>(fi->fh); }

int ongetattr(const char* path, struct stat* st, fuse_file_info*) {
    return result(::fstatat(backing, relative(path), st, AT_SYMLINK_NOFOLLOW));
}

int onopen(const char* path, fuse_file_info* fi) {
    int file = ::openat(backing, relative(path), fi->flags);
    fi->fh = static_cast<uint64_t>(file);
    return file < 0 ? -errno : 0;
}

int onread(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    ssize_t n = ::pread(fd(fi), buf, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

int onwrite(const char*, const char* buf, size_t size, off_t, fuse_file_info* fi) {
    for (size_t i = 0; i < size; ++i) {
        if (i > 0) ::nanosleep(&bytepause, nullptr);
        // A failure after some bytes landed is a short write, as on disk.
        if (::write(fd(fi), buf + i, 1) != 1) return i > 0 ? static_cast<int>(i) : -errno;
    }
    return static_cast<int>(size);
}

int onfsync(const char*, int, fuse_file_info* fi) {
    if (::fdatasync(fd(fi)) != 0) return -errno;
    ::nanosleep(&flushpause, nullptr);
    return every != 0 && ++flushes % every == 0 ? -EDQUOT : 0;
}

int ontruncate(const char*, off_t size, fuse_file_info* fi) {
    return fi == nullptr ? -ENOSYS : result(::ftruncate(fd(fi), size));
}

// Closing the backing descriptor also lets go of the handle's lock.
int onrelease(const char*, fuse_file_info* fi) { return result(::close(fd(fi))); }

// The worker that waits for a lock for a process that a signal ends is sent
// SIGUSR1, which cuts its wait short (see main).
void* oninit(fuse_conn_info*, fuse_config* config) {
    config->intr = 1;
    return nullptr;
}

int onlock(const char*, fuse_file_info* fi, int cmd, struct flock* lock) {
    int ofdcmd = cmd == F_GETLK ? F_OFD_GETLK : cmd == F_SETLK ? F_OFD_SETLK : F_OFD_SETLKW;
    lock->l_pid = 0;  // what an open-file-description lock asks, and what F_GETLK gives back
    int done = ::fcntl(fd(fi), ofdcmd, lock);
    lock->l_pid = 0;
    return result(done);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 4 || argc > 5 || (backing = ::open(argv[1], O_DIRECTORY)) < 0) {
        std::fputs("usage: sharedfs BACKING MOUNTPOINT EVERY [FLUSHMS]\n", stderr);
        return 2;
    }
    every = std::strtoul(argv[3], nullptr, 10);
    const long ms = argc == 5 ? std::strtol(argv[4], nullptr, 10) : 0;
    flushpause = {ms / 1000, ms % 1000 * 1000000};
    if (argc == 5) bytepause = {0, 0};
    // SIGUSR1 cuts short a worker's wait for a lock, and does nothing else.
    struct sigaction interrupt {};
    interrupt.sa_handler = [](int) {};
    ::sigaction(SIGUSR1, &interrupt, nullptr);
    fuse_operations ops{};
    ops.getattr = ongetattr;
    ops.open = onopen;
    ops.read = onread;
    ops.write = onwrite;
    ops.fsync = onfsync;
    ops.truncate = ontruncate;
    ops.release = onrelease;
    ops.lock = onlock;
    ops.init = oninit;
    // Every run that waits for a lock holds a worker thread; the holder's
    // write and unlock must still find one free. (Left unset, the idle
    // threads' limit draws a complaint on standard error.)
    char threads[] = "max_threads=512,max_idle_threads=10";
    char foreground[] = "-f";
    char option[] = "-o";
    char* args[] = {argv[0], argv[2], foreground, option, threads, nullptr};
    return fuse_main(5, args, &ops, nullptr);
}
