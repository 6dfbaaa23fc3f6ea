// The results file: opened for appending, and one line appended under an
// exclusive lock so that it only ever gains whole lines, whoever else appends
// to it at the same time.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

#include "records/report.hpp"

namespace pairstat {

// The results file, open for appending; closed when it goes.
struct resultsfile {
    int fd = -1;
    bool regular = false;   // a regular file: appends are locked and cut back on failure
    bool readable = false;  // open for reading too, so its last byte can be looked at
    bool shared = false;    // on a file system other machines may change (a network one)

    resultsfile() = default;
    resultsfile(const resultsfile&) = delete;
    resultsfile& operator=(const resultsfile&) = delete;
    ~resultsfile();
};

// What became of opening the results file.
struct openoutcome {
    int error = 0;         // errno of the failed call
    unsigned type = 0;     // the file's type (S_IFMT bits) where it was found, 0 if not
    bool refused = false;  // opened, but of a type a line can't be appended to (a block device)
    bool ok() const { return error == 0 && !refused; }
};

// Opens NAME for appending, creating it empty (mode 0666 less the umask) if it
// is missing; never truncates it and writes nothing. A regular file is opened
// for reading too where the user may read it. A pipe that no process reads
// fails at once (ENXIO) rather than waiting for a reader. Only a regular file,
// a pipe or a character device (/dev/null, a terminal) is kept: a block
// device, where every write would land at its start, is refused.
openoutcome openresults(resultsfile& results, const char* name);

// How long an append waits for a lock another process holds. Another run
// holds it for the milliseconds of one write and flush, and a burst of
// hundreds of runs started together (a job array) drains in seconds, so the
// wait is quiet for 10 seconds; past them it is told, and it is bounded: five
// minutes in all outlast a slow flush on a loaded network file system, yet
// free a batch job whose results file a stuck process holds.
inline constexpr std::chrono::seconds lockquiet{10};
inline constexpr std::chrono::minutes lockbound{5};

struct lockwait {
    std::chrono::milliseconds quiet = lockquiet;  // waited without a word
    std::chrono::milliseconds bound = lockbound;  // waited in all, then given up
    // Told once, when the quiet wait has run out: the id of the process that
    // holds the lock, 0 where the system does not say (a network file system).
    std::function<void(long holder)> waiting;
    // Told once the line is certain to be written to a regular file, just
    // before the write (not for a pipe, whose write may wait on its reader).
    std::function<void()> writing;
};

// The step of an append that failed.
enum class appendstep {
    none,   // the line was appended
    lock,   // the lock could not be taken, or was still held when the wait ran out
    stat,   // the file's length or last byte could not be read
    write,  // the line could not be written whole
    sync,   // the line could not be flushed to the device
};

// What a failed append left in the file.
enum class leftfile {
    asbefore,  // exactly what it held before the append
    partline,  // possibly the start of this run's line: it could not be cut back
    notcut,    // not cut back: something that ignores the lock changed the file's
               // length meanwhile, so a cut would pad it or take another line
};

// What became of an append.
struct appendoutcome {
    appendstep failed = appendstep::none;
    int error = 0;            // errno of the failed call; 0 for a write that failed by
                              // its count, or a lock still held when the wait ran out
    std::size_t written = 0;  // bytes written by the write
    std::size_t asked = 0;    // bytes there were to write
    long holder = 0;          // a lock still held: its holder's process id, 0 if unknown
    leftfile left = leftfile::asbefore;
    bool lineend = false;  // the file's last line had no line end: one was put before the line
    bool ok() const { return failed == appendstep::none; }
};

// Appends LINE to the results file. For a regular file it takes an exclusive
// record lock on the whole file, waiting as WAIT says; under the lock, if the
// file does not end with a line end (and can be read), it puts one before the
// line, then writes both with one call and flushes them to the device; should
// the write or the flush fail, it cuts the file back to the length it had (see
// cutback), so the file only ever gains whole lines. A pipe or a character
// device gets the line with one call, without lock or cut. A lock still held
// when the wait runs out may yet be taken for the file later: closing the
// file lets go of it.
appendoutcome appendline(resultsfile& results, const reportline& line, const lockwait& wait = {});

// Takes back the WROTE bytes a failed append put after the BEFORE bytes the
// file held: cuts the file to BEFORE only when its length is exactly BEFORE +
// WROTE, and otherwise leaves it as it is.
leftfile cutback(int fd, long long before, long long wrote);

}  // namespace pairstat
