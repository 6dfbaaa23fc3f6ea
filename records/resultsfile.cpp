#include "records/resultsfile.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include "records/record.hpp"

namespace pairstat {

namespace {

// Opens NAME as open does, with FLAGS besides.
sysresult openfile(const char* name, int flags) {
    return sys::open(name, flags | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
}

// Whether the file open at FD lies on a file system that only this machine
// changes (a local disk, memory), where a page it keeps is never out of date.
// Any other, or one that can't be told, may be a network file system (FUSE
// counts as one).
bool localonly(int fd) {
    constexpr unsigned long local[] = {EXT4_SUPER_MAGIC,      XFS_SUPER_MAGIC,  BTRFS_SUPER_MAGIC, TMPFS_MAGIC,
                                       OVERLAYFS_SUPER_MAGIC, F2FS_SUPER_MAGIC, 0x2fc12fc1 /* ZFS */};
    struct statfs fs;
    if (!sys::fstatfs(fd, fs).ok()) return false;
    return std::find(std::begin(local), std::end(local), static_cast<unsigned long>(fs.f_type)) != std::end(local);
}

// Writes [text, text + length) to FD with one call, and notes in OUT a failed
// or short write.
void writeonce(int fd, const char* text, std::size_t length, appendoutcome& out) {
    out.asked = length;
    const sysresult n = sys::write(fd, text, length);
    if (!n.ok()) {
        out.failed = appendstep::write;
        out.error = n.error;
        return;
    }
    out.written = static_cast<std::size_t>(n.value);
    if (out.written != length) out.failed = appendstep::write;
}

// Reads the last byte of the file open at FD, LENGTH bytes long, into LAST.
// A client of a network file system may still hold a copy of that byte's page
// from before another client changed it, which the length does not show where
// it came out the same: on a SHARED file system the copy is let go first.
// Elsewhere the copy is kept: reading the page back from the disk would make
// every hold of the lock wait for it.
sysresult lastbyte(int fd, long long length, bool shared, char& last) {
    if (shared) sys::dropcache(fd, length - 1);
    return sys::pread(fd, &last, 1, length - 1);
}

// Whether the file open at FD, LENGTH bytes long, begins as a run's record
// does: a record is never a results file, whatever named it so.
bool beginsrecord(int fd, long long length) {
    constexpr std::size_t prefix = sizeof recordheader - 1;
    if (length < static_cast<long long>(prefix)) return false;
    char text[prefix];
    const sysresult got = sys::pread(fd, text, prefix, 0);
    return got.ok() && got.value == static_cast<long>(prefix) && std::memcmp(text, recordheader, prefix) == 0;
}

}  // namespace

resultsfile::~resultsfile() { close(); }

void resultsfile::close() {
    if (fd >= 0) sys::close(fd);
    fd = -1;
    regular = readable = shared = false;
}

openoutcome resultsfile::open(const char* path) {
    close();
    name = path;
    openoutcome out;
    // Only a regular file is opened for reading: opened so, a pipe would have
    // this process as its reader, and so never report that it has none.
    struct stat st;
    const bool isregular = !sys::stat(path, st).ok() || S_ISREG(st.st_mode);
    bool canread = isregular;
    sysresult opened = openfile(path, isregular ? O_RDWR : O_WRONLY);
    if (!opened.ok() && isregular && opened.error == EACCES) {
        canread = false;
        opened = openfile(path, O_WRONLY);
    }
    if (!opened.ok()) {
        out.error = opened.error;
        if (sys::stat(path, st).ok()) out.type = st.st_mode & S_IFMT;
        return out;
    }
    fd = static_cast<int>(opened.value);  // closed by close() from here on, whatever follows
    if (const sysresult got = sys::fstat(fd, st); !got.ok()) {
        out.error = got.error;
        return out;
    }
    out.type = st.st_mode & S_IFMT;
    if (S_ISFIFO(st.st_mode) && canread) {
        // The name became a pipe after it was looked at: open it again, for
        // writing only.
        close();
        canread = false;
        opened = openfile(path, O_WRONLY);
        if (!opened.ok()) {
            out.error = opened.error;
            return out;
        }
        fd = static_cast<int>(opened.value);
    }
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
        out.refused = true;
        return out;
    }
    // Opened without waiting for a pipe's reader; the writes wait as usual.
    sysresult flags = sys::getflags(fd);
    if (flags.ok()) flags = sys::setflags(fd, static_cast<int>(flags.value) & ~O_NONBLOCK);
    if (!flags.ok()) {
        out.error = flags.error;
        return out;
    }
    regular = S_ISREG(st.st_mode);
    readable = canread && regular;
    shared = readable && !localonly(fd);
    return out;
}

fileid resultsfile::id() const {
    struct stat st;
    return fd >= 0 && sys::fstat(fd, st).ok() ? idof(st) : fileid{};
}

long long resultsfile::length() const {
    struct stat st;
    return fd >= 0 && sys::fstat(fd, st).ok() ? static_cast<long long>(st.st_size) : 0;
}

sysresult resultsfile::finds(std::string_view line, bool& there) const {
    there = false;
    if (!readable) return {};
    const sysresult asked = sys::lengthnow(fd);
    if (!asked.ok()) return asked;
    const long long length = asked.value;
    // What another client of a network file system wrote is read as it is.
    if (shared) sys::dropcache(fd, 0);
    // The file a block at a time, a line end put before it and the end of
    // the block before kept, so that a first line, and a line across two
    // blocks, are seen whole.
    constexpr std::size_t blocksize = 64 * 1024;
    std::string wanted(1, '\n');
    wanted += line;
    std::string window(1, '\n');
    std::string block(blocksize, '\0');
    for (long long at = 0; at < length;) {
        const sysresult got = sys::pread(fd, block.data(), blocksize, at);
        if (!got.ok()) return got;
        if (got.value == 0) break;
        window.append(block.data(), static_cast<std::size_t>(got.value));
        at += got.value;
        if (window.find(wanted) != std::string::npos) {
            there = true;
            return {};
        }
        window.erase(0, window.size() - std::min(window.size(), wanted.size()));
    }
    return {};
}

leftfile cutback(int fd, long long before, long long wrote) {
    const sysresult now = sys::lengthnow(fd);
    if (!now.ok()) return leftfile::partline;
    if (now.value != before + wrote) return leftfile::notcut;
    if (wrote == 0) return leftfile::asbefore;
    if (!sys::ftruncate(fd, before).ok()) return leftfile::partline;
    return leftfile::asbefore;
}

appendoutcome resultsfile::append(const reportline& line, const lockwait& wait, const placing& writing) {
    return append(line, wait, writing, 0);
}

appendoutcome resultsfile::append(const reportline& line, const lockwait& wait, const placing& writing, int reopened) {
    appendoutcome out;
    if (!regular) {
        // A pipe or a character device: nothing to lock, nothing to cut back,
        // and no place to tell (a pipe's write may wait on its reader).
        writeonce(fd, line.text, line.length, out);
        if (out.written > 0 && !out.ok()) out.left = leftfile::partline;
        return out;
    }

    const lockoutcome locked = lockwhole(fd, wait);
    if (!locked.ok()) {
        out.failed = appendstep::lock;
        out.error = locked.error;
        out.holder = locked.holder;
        return out;
    }
    // Another file put in the name's place (an editor that saves by renaming,
    // a run's record written over it) or the name removed: the line goes to
    // the file the name stands for now, which a reader will find. The old
    // file's lock goes with it.
    struct stat now;
    struct stat open;
    // A name that keeps changing under the lock is given up after a few.
    constexpr int mostreopened = 3;
    if (sys::fstat(fd, open).ok() && !(sys::stat(name.c_str(), now).ok() && idof(now) == idof(open))) {
        const std::string path = name;
        const openoutcome again = reopened < mostreopened ? this->open(path.c_str()) : openoutcome{ESTALE};
        if (!again.ok()) {
            out.failed = appendstep::reopen;
            out.error = again.error != 0 ? again.error : EINVAL;
            return out;
        }
        return append(line, wait, writing, reopened + 1);
    }

    const sysresult length = sys::lengthnow(fd);
    const long long before = length.value;
    char last = '\n';
    char text[sizeof line.text + 1];
    if (!length.ok()) {
        out.failed = appendstep::stat;
        out.error = length.error;
    } else if (readable && before > 0 && (out.error = lastbyte(fd, before, shared, last).error) != 0) {
        out.failed = appendstep::stat;
    } else if (readable && beginsrecord(fd, before)) {
        out.failed = appendstep::record;
    } else {
        // A last line without a line end (a hand edit, a file cut short) must
        // not take this line as its continuation.
        const bool lineend = last != '\n';
        text[0] = '\n';
        std::memcpy(text + 1, line.text, line.length);
        const char* first = lineend ? text : text + 1;
        const int told = writing ? writing() : 0;
        if (told == lineisin) {
            out.found = true;
        } else if (told != 0) {
            out.failed = appendstep::look;
            out.error = told;
        } else {
            out.lineend = lineend;
            writeonce(fd, first, line.length + (lineend ? 1 : 0), out);
            if (out.ok()) {
                // The line may not be on the device (a full disk or quota on
                // a network file system shows here): take it back.
                if (const sysresult synced = sys::fdatasync(fd); !synced.ok()) {
                    out.failed = appendstep::sync;
                    out.error = synced.error;
                }
            }
            if (!out.ok()) out.left = cutback(fd, before, static_cast<long long>(out.written));
        }
    }
    sys::unlock(fd);
    return out;
}

}  // namespace pairstat
