// Every system call the program makes on files and descriptors, one function
// each, so that what the program asks of the system reads in one place and a
// test can make any of it fail (tests/faults answers a call by the system's
// own name for it, given beside each below). Each is made again while a
// signal interrupts it before it has done anything, and gives back what it
// returned and the errno of a failure as one value.
#pragma once

#include <cstddef>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/vfs.h>

namespace pairstat {

// What became of a system call.
struct sysresult {
    long value = 0;  // what the call returned: a descriptor, a byte count, 0
    int error = 0;   // errno of a failed call, 0 if it succeeded
    bool ok() const { return error == 0; }
};

// A file as the system tells files apart: two names or descriptors stand for
// one file when both numbers agree.
struct fileid {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const fileid&) const = default;
};
inline fileid idof(const struct stat& st) { return {st.st_dev, st.st_ino}; }

namespace sys {

sysresult open(const char* name, int flags, mode_t mode = 0);             // openat
sysresult close(int fd);                                                  // close
sysresult read(int fd, void* into, std::size_t length);                   // read
sysresult pread(int fd, void* into, std::size_t length, long long at);    // pread64
sysresult write(int fd, const void* text, std::size_t length);            // write
sysresult pwrite(int fd, const void* text, std::size_t length, long long at);  // pwrite64
sysresult stat(const char* name, struct stat& st);                        // newfstatat
sysresult lstat(const char* name, struct stat& st);                       // newfstatat
sysresult fstat(int fd, struct stat& st);                                 // newfstatat (or fstat)
// The length of the file open at FD as its file system has it now, asked of
// the file system itself rather than taken from what the client remembers:
// value the length.
sysresult lengthnow(int fd);                                              // statx
sysresult fstatfs(int fd, struct statfs& fs);                             // fstatfs
sysresult getflags(int fd);                                               // fcntl F_GETFL
sysresult setflags(int fd, int flags);                                    // fcntl F_SETFL
// Record locks on the whole file: take (waiting or not), test, let go.
sysresult lock(int fd, short type, bool wait);                            // fcntl F_SETLK(W)
// HOLDER: the process holding a lock that TYPE conflicts with, 0 where the
// system does not say (a network file system), -1 when none does.
sysresult lockholder(int fd, short type, long& holder);                   // fcntl F_GETLK
sysresult unlock(int fd);                                                 // fcntl F_SETLK
sysresult fdatasync(int fd);                                              // fdatasync
sysresult ftruncate(int fd, long long length);                            // ftruncate
// Lets go of the pages this machine keeps of [from, the end) of FD.
void dropcache(int fd, long long from);                                   // fadvise64
sysresult unlink(const char* name);                                       // unlink
sysresult rename(const char* from, const char* to);                       // rename
// Gives the file open at FD, made without a name (O_TMPFILE), the name TO.
sysresult linkfd(int fd, const char* to);                                 // linkat
sysresult readlink(const char* name, char* into, std::size_t length);     // readlink
sysresult access(const char* name, int mode);                             // access
sysresult mkdir(const char* name, mode_t mode);                           // mkdir
sysresult rmdir(const char* name);                                        // rmdir
// Makes a new folder, NAME's last six characters (XXXXXX) made unique.
sysresult mkdtemp(std::string& name);                                     // mkdir
// A pipe, both ends closed on exec: value 0, ENDS its read and write ends.
sysresult pipe(int (&ends)[2]);                                           // pipe2
// The current folder, absolute; empty where the system would not say.
std::string cwd();                                                         // getcwd
// Waits for room to write to FD, at most MS milliseconds: value 1 when
// there is room (or the descriptor will not wait), 0 when the time ran out.
sysresult waitwritable(int fd, int ms);                                   // poll
// Waits for something to read at FD, at most MS milliseconds: value 1 when
// there is, 0 when the time ran out.
sysresult waitreadable(int fd, int ms);                                   // poll

}  // namespace sys

// What became of writing a whole text: a count that differs from the length
// asked, 0 included, is a failure.
struct writeoutcome {
    int error = 0;            // errno of the failed call, 0 if it failed by its count alone
    std::size_t written = 0;  // bytes written
    std::size_t asked = 0;    // bytes there were to write
    bool ok() const { return error == 0 && written == asked; }
};

// Writes LENGTH bytes of TEXT to FD, going on after a partial write until all
// of it is written, a call fails, or a call writes nothing.
writeoutcome writeall(int fd, const char* text, std::size_t length);

// Reads FD to its end, adding what it holds to TEXT.
sysresult readall(int fd, std::string& text);
// Reads the file NAME whole into TEXT.
sysresult readfile(const char* name, std::string& text);

}  // namespace pairstat
