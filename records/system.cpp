#include "records/system.hpp"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pairstat {

namespace {

// Makes CALL (a system call returning -1 and setting errno on failure) until
// it ends other than by EINTR, and gives back what it last returned.
template <class call>
sysresult made(call make) {
    long value;
    do value = static_cast<long>(make());
    while (value == -1 && errno == EINTR);
    if (value == -1) return {value, errno};
    return {value, 0};
}

struct flock wholefile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    return lock;
}

}  // namespace

namespace sys {

sysresult open(const char* name, int flags, mode_t mode) { return made([&] { return ::open(name, flags, mode); }); }

sysresult close(int fd) {
    // Made once, even when a signal interrupts it: the descriptor is closed
    // all the same, and its number, made again, could close another file's.
    // An interrupted close may not have flushed what a network file system
    // holds back, so it counts as failed.
    if (::close(fd) == 0) return {};
    return {-1, errno};
}

sysresult read(int fd, void* into, std::size_t length) { return made([&] { return ::read(fd, into, length); }); }

sysresult pread(int fd, void* into, std::size_t length, long long at) {
    return made([&] { return ::pread(fd, into, length, static_cast<off_t>(at)); });
}

sysresult write(int fd, const void* text, std::size_t length) {
    return made([&] { return ::write(fd, text, length); });
}

sysresult pwrite(int fd, const void* text, std::size_t length, long long at) {
    return made([&] { return ::pwrite(fd, text, length, static_cast<off_t>(at)); });
}

sysresult stat(const char* name, struct stat& st) { return made([&] { return ::stat(name, &st); }); }

sysresult lstat(const char* name, struct stat& st) { return made([&] { return ::lstat(name, &st); }); }

sysresult fstat(int fd, struct stat& st) { return made([&] { return ::fstat(fd, &st); }); }

sysresult lengthnow(int fd) {
    // A client of a network file system keeps a file's length for a second or
    // so, and another client may have appended meanwhile: statx with
    // AT_STATX_FORCE_SYNC asks the server. Where statx is missing or not
    // allowed (a sandbox that denies it), fstat's length is what there is.
    struct statx now;
    const sysresult asked =
        made([&] { return ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE, &now); });
    if (asked.ok() && (now.stx_mask & STATX_SIZE) != 0) return {static_cast<long>(now.stx_size), 0};
    const int e = asked.error;
    if (!asked.ok() && e != ENOSYS && e != EINVAL && e != EOPNOTSUPP && e != EPERM && e != EACCES) return asked;
    struct stat st;
    if (const sysresult got = fstat(fd, st); !got.ok()) return got;
    return {static_cast<long>(st.st_size), 0};
}

sysresult fstatfs(int fd, struct statfs& fs) { return made([&] { return ::fstatfs(fd, &fs); }); }

sysresult getflags(int fd) { return made([&] { return ::fcntl(fd, F_GETFL); }); }

sysresult setflags(int fd, int flags) { return made([&] { return ::fcntl(fd, F_SETFL, flags); }); }

sysresult lock(int fd, short type, bool wait) {
    struct flock lock = wholefile(type);
    return made([&] { return ::fcntl(fd, wait ? F_SETLKW : F_SETLK, &lock); });
}

sysresult lockholder(int fd, short type, long& holder) {
    struct flock lock = wholefile(type);
    const sysresult got = made([&] { return ::fcntl(fd, F_GETLK, &lock); });
    if (got.ok()) holder = lock.l_type == F_UNLCK ? -1 : lock.l_pid > 0 ? static_cast<long>(lock.l_pid) : 0;
    return got;
}

sysresult unlock(int fd) {
    struct flock lock = wholefile(F_UNLCK);
    return made([&] { return ::fcntl(fd, F_SETLK, &lock); });
}

sysresult fdatasync(int fd) { return made([&] { return ::fdatasync(fd); }); }

sysresult ftruncate(int fd, long long length) {
    return made([&] { return ::ftruncate(fd, static_cast<off_t>(length)); });
}

void dropcache(int fd, long long from) {
    // Only whole pages are let go: the advice runs from the start of FROM's page.
    const long long page = ::sysconf(_SC_PAGESIZE);
    ::posix_fadvise(fd, static_cast<off_t>(from / page * page), 0, POSIX_FADV_DONTNEED);
}

sysresult unlink(const char* name) { return made([&] { return ::unlink(name); }); }

sysresult rename(const char* from, const char* to) { return made([&] { return ::rename(from, to); }); }

sysresult linkfd(int fd, const char* to) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return made([&] { return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to, AT_SYMLINK_FOLLOW); });
}

sysresult readlink(const char* name, char* into, std::size_t length) {
    return made([&] { return ::readlink(name, into, length); });
}

sysresult access(const char* name, int mode) { return made([&] { return ::access(name, mode); }); }

sysresult mkdir(const char* name, mode_t mode) { return made([&] { return ::mkdir(name, mode); }); }

sysresult rmdir(const char* name) { return made([&] { return ::rmdir(name); }); }

sysresult mkdtemp(std::string& name) {
    if (::mkdtemp(name.data()) == nullptr) return {-1, errno};
    return {};
}

sysresult pipe(int (&ends)[2]) { return made([&] { return ::pipe2(ends, O_CLOEXEC); }); }

std::string cwd() {
    std::unique_ptr<char, decltype(&std::free)> path(::getcwd(nullptr, 0), &std::free);
    return path ? std::string(path.get()) : std::string();
}

sysresult waitwritable(int fd, int ms) {
    pollfd room{fd, POLLOUT, 0};
    const sysresult got = made([&] { return ::poll(&room, 1, ms); });
    // A descriptor poll can't wait on answers at once; so does one whose
    // reader has gone (the write then fails and says so).
    if (!got.ok()) return got.error == ENOMEM ? got : sysresult{1, 0};
    return {got.value > 0 ? 1 : 0, 0};
}

sysresult waitreadable(int fd, int ms) {
    pollfd wait{fd, POLLIN, 0};
    const sysresult got = made([&] { return ::poll(&wait, 1, ms); });
    if (!got.ok()) return got;
    return {got.value > 0 ? 1 : 0, 0};
}

}  // namespace sys

writeoutcome writeall(int fd, const char* text, std::size_t length) {
    writeoutcome out;
    out.asked = length;
    while (out.written < out.asked) {
        const sysresult n = sys::write(fd, text + out.written, out.asked - out.written);
        if (!n.ok()) {
            out.error = n.error;
            break;
        }
        if (n.value == 0) break;  // nothing taken and no reason given: trying again would spin
        out.written += static_cast<std::size_t>(n.value);
    }
    return out;
}

sysresult readall(int fd, std::string& text) {
    char block[65536];
    for (;;) {
        const sysresult got = sys::read(fd, block, sizeof block);
        if (!got.ok() || got.value == 0) return got;
        text.append(block, static_cast<std::size_t>(got.value));
    }
}

sysresult readfile(const char* name, std::string& text) {
    const sysresult opened = sys::open(name, O_RDONLY | O_CLOEXEC);
    if (!opened.ok()) return opened;
    const sysresult got = readall(static_cast<int>(opened.value), text);
    sys::close(static_cast<int>(opened.value));
    return got;
}

}  // namespace pairstat
