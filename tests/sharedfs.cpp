// sharedfs: one client's view of a shared folder, as a network file system
// gives it, for the end-to-end runs that show what concurrent appends leave in
// a results file.
//
//   sharedfs BACKING MOUNTPOINT
//
// Mounts at MOUNTPOINT a view of the folder BACKING and serves it until it is
// unmounted or receives SIGTERM or SIGINT (then it unmounts itself). Every
// call passes through to BACKING, except in two ways:
//
// - Writes land one byte at a time, with a pause between bytes. A handle
//   opened for appending puts each byte at the backing file's end as it is
//   then. Two mounts of one folder are two clients: appends from both that
//   hold no lock interleave byte by byte and tear their lines, as appends from
//   two machines do on a file system that cannot append atomically. (Within
//   one mount they cannot: the kernel lets one write at a time into a file.)
// - Record locks (fcntl F_GETLK, F_SETLK, F_SETLKW) are held on the backing
//   file, one open backing descriptor per open handle, as open-file-description
//   locks. So a lock taken through one mount excludes a lock taken through the
//   other, as a network file system's lock service does. Such a lock belongs
//   to no process: F_GETLK through a mount gives the holder's process id as 0,
//   unknown, as it is for a holder on another machine.
//
// Nothing is cached: names, attributes and data are looked up afresh on every
// call, so each mount sees what the other wrote.
#define FUSE_USE_VERSION 312

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// The pause between two bytes of one write. A 22-byte results line then takes
// about 22 ms to land, long enough for runs started together to overlap.
constexpr long bytepausens = 1000 * 1000;

// Every client that waits for a lock holds a worker thread; the holder's own
// write and unlock must still find one free.
constexpr unsigned int maxthreads = 512;

int backing = -1;  // the backing folder, for the *at calls

// The backing name of PATH ("/" is the folder itself).
const char* relative(const char* path) { return path[1] == '\0' ? "." : path + 1; }

int failed() { return -errno; }

void* oninit(fuse_conn_info*, fuse_config* cfg) {
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->direct_io = 1;
    cfg->use_ino = 1;
    // An unlinked file that is still open goes at once, with no hidden
    // stand-in left in the folder.
    cfg->hard_remove = 1;
    return nullptr;
}

int ongetattr(const char* path, struct stat* st, fuse_file_info* fi) {
    int done = fi != nullptr ? ::fstat(static_cast<int>(fi->fh), st)
                             : ::fstatat(backing, relative(path), st, AT_SYMLINK_NOFOLLOW);
    return done == 0 ? 0 : failed();
}

int onreaddir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    int fd = ::openat(backing, relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failed();
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        int error = errno;
        ::close(fd);
        return -error;
    }
    while (dirent* entry = ::readdir(dir)) {
        struct stat st {};
        st.st_ino = entry->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
        if (fill(buf, entry->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
    }
    ::closedir(dir);
    return 0;
}

int onmkdir(const char* path, mode_t mode) { return ::mkdirat(backing, relative(path), mode) == 0 ? 0 : failed(); }

int onrmdir(const char* path) { return ::unlinkat(backing, relative(path), AT_REMOVEDIR) == 0 ? 0 : failed(); }

int onunlink(const char* path) { return ::unlinkat(backing, relative(path), 0) == 0 ? 0 : failed(); }

int onrename(const char* from, const char* to, unsigned int flags) {
    if (flags != 0) return -EINVAL;
    return ::renameat(backing, relative(from), backing, relative(to)) == 0 ? 0 : failed();
}

int onchmod(const char* path, mode_t mode, fuse_file_info* fi) {
    int done = fi != nullptr ? ::fchmod(static_cast<int>(fi->fh), mode) : ::fchmodat(backing, relative(path), mode, 0);
    return done == 0 ? 0 : failed();
}

int ontruncate(const char* path, off_t size, fuse_file_info* fi) {
    if (fi != nullptr) return ::ftruncate(static_cast<int>(fi->fh), size) == 0 ? 0 : failed();
    int fd = ::openat(backing, relative(path), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return failed();
    int done = ::ftruncate(fd, size) == 0 ? 0 : failed();
    ::close(fd);
    return done;
}

int onutimens(const char* path, const timespec times[2], fuse_file_info* fi) {
    int done = fi != nullptr ? ::futimens(static_cast<int>(fi->fh), times)
                             : ::utimensat(backing, relative(path), times, AT_SYMLINK_NOFOLLOW);
    return done == 0 ? 0 : failed();
}

// The handle's backing descriptor is opened with the caller's own flags, so an
// append handle appends and a read-only one refuses writes.
int openwith(const char* path, int flags, mode_t mode, fuse_file_info* fi) {
    int fd = ::openat(backing, relative(path), flags | O_CLOEXEC, mode);
    if (fd < 0) return failed();
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

int oncreate(const char* path, mode_t mode, fuse_file_info* fi) {
    return openwith(path, fi->flags | O_CREAT, mode, fi);
}

int onopen(const char* path, fuse_file_info* fi) { return openwith(path, fi->flags & ~O_CREAT, 0, fi); }

int onread(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    ssize_t n;
    do n = ::pread(static_cast<int>(fi->fh), buf, size, offset);
    while (n < 0 && errno == EINTR);
    return n < 0 ? failed() : static_cast<int>(n);
}

// One byte at a time: at the backing file's end for an append handle (the
// offset the kernel gives is its own guess at the end), else at OFFSET on.
int onwrite(const char*, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    int fd = static_cast<int>(fi->fh);
    bool append = (fi->flags & O_APPEND) != 0;
    const timespec pause{0, bytepausens};
    for (size_t i = 0; i < size; ++i) {
        if (i > 0) ::nanosleep(&pause, nullptr);
        ssize_t n;
        do n = append ? ::write(fd, buf + i, 1) : ::pwrite(fd, buf + i, 1, offset + static_cast<off_t>(i));
        while (n < 0 && errno == EINTR);
        // A failure after some bytes landed is a short write, as it is on disk.
        if (n < 0) return i > 0 ? static_cast<int>(i) : failed();
        if (n == 0) return static_cast<int>(i);
    }
    return static_cast<int>(size);
}

int onfsync(const char*, int datasync, fuse_file_info* fi) {
    int fd = static_cast<int>(fi->fh);
    return (datasync != 0 ? ::fdatasync(fd) : ::fsync(fd)) == 0 ? 0 : failed();
}

int onrelease(const char*, fuse_file_info* fi) {
    // Closing the backing descriptor also drops any lock the handle still held.
    ::close(static_cast<int>(fi->fh));
    return 0;
}

int onstatfs(const char*, struct statvfs* st) { return ::fstatvfs(backing, st) == 0 ? 0 : failed(); }

int onlock(const char*, fuse_file_info* fi, int cmd, struct flock* lk) {
    int ofdcmd;
    switch (cmd) {
        case F_GETLK:
            ofdcmd = F_OFD_GETLK;
            break;
        case F_SETLK:
            ofdcmd = F_OFD_SETLK;
            break;
        case F_SETLKW:
            ofdcmd = F_OFD_SETLKW;
            break;
        default:
            return -EINVAL;
    }
    lk->l_pid = 0;  // these calls refuse any other value
    int done;
    do done = ::fcntl(static_cast<int>(fi->fh), ofdcmd, lk);
    while (done != 0 && errno == EINTR);
    if (done != 0) return failed();
    // The backing lock names no process (-1); the kernel takes 0 as unknown.
    if (cmd == F_GETLK) lk->l_pid = 0;
    return 0;
}

fuse_operations operations() {
    fuse_operations ops{};
    ops.init = oninit;
    ops.getattr = ongetattr;
    ops.readdir = onreaddir;
    ops.mkdir = onmkdir;
    ops.rmdir = onrmdir;
    ops.unlink = onunlink;
    ops.rename = onrename;
    ops.chmod = onchmod;
    ops.truncate = ontruncate;
    ops.utimens = onutimens;
    ops.create = oncreate;
    ops.open = onopen;
    ops.read = onread;
    ops.write = onwrite;
    ops.fsync = onfsync;
    ops.release = onrelease;
    ops.statfs = onstatfs;
    ops.lock = onlock;
    return ops;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sharedfs BACKING MOUNTPOINT\n");
        return 2;
    }
    backing = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (backing < 0) {
        std::fprintf(stderr, "sharedfs: cannot open the folder '%s': %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const fuse_operations ops = operations();
    char* args[] = {argv[0], const_cast<char*>("-o"), const_cast<char*>("fsname=sharedfs"), nullptr};
    fuse_args fargs = FUSE_ARGS_INIT(3, args);
    fuse* fs = fuse_new(&fargs, &ops, sizeof ops, nullptr);
    fuse_opt_free_args(&fargs);
    if (fs == nullptr) return 1;
    // In the foreground, so that whoever started it holds its process id.
    int status = 1;
    if (fuse_mount(fs, argv[2]) == 0) {
        fuse_session* session = fuse_get_session(fs);
        if (fuse_set_signal_handlers(session) == 0) {
            fuse_loop_config* loop = fuse_loop_cfg_create();
            fuse_loop_cfg_set_max_threads(loop, maxthreads);
            // Stopped by a signal, the loop returns the signal's number.
            int ended = fuse_loop_mt(fs, loop);
            status = ended == 0 || ended == SIGTERM || ended == SIGINT || ended == SIGHUP ? 0 : 1;
            fuse_loop_cfg_destroy(loop);
            fuse_remove_signal_handlers(session);
        }
        fuse_unmount(fs);
    }
    fuse_destroy(fs);
    ::close(backing);
    return status;
}
