// An exclusive record lock on the whole of a file, waited for in the system's
// own queue for a bounded time: the results file's lock, which runs take for
// one append, and the folder's, which a run with a record holds throughout.
#pragma once

#include <chrono>
#include <functional>

namespace pairstat {

// How long an append waits for the results file's lock, held by another
// process. Another run holds it for the milliseconds of one write and flush,
// and a burst of hundreds of runs started together (a job array) drains in
// seconds, so the wait is quiet for 10 seconds; past them it is told, and it
// is bounded: five minutes in all outlast a slow flush on a loaded network
// file system, yet free a batch job whose results file a stuck process holds.
inline constexpr std::chrono::seconds lockquiet{10};
inline constexpr std::chrono::minutes lockbound{5};

// How long a lock another process holds is waited for.
struct lockwait {
    std::chrono::milliseconds quiet = lockquiet;  // waited without a word
    std::chrono::milliseconds bound = lockbound;  // waited in all, then given up
    // Told once, when the quiet wait has run out: the id of the process that
    // holds the lock, 0 where the system does not say (a network file system).
    std::function<void(long holder)> waiting;
};

// What became of taking a lock.
struct lockoutcome {
    int error = 0;         // errno of a failed call
    bool held = false;     // still held by another when the wait ran out
    long holder = 0;       // then: its process id, 0 if unknown
    bool ok() const { return error == 0 && !held; }
};

// Takes an exclusive lock on the whole of FD (open for writing), however long
// the file grows, waiting as WAIT says where another process holds one.
//
// The wait is made in the system's own queue (F_SETLKW), where processes
// waiting together get the lock about in the order they asked for it, by a
// thread of its own that blocks every signal, while the calling thread waits
// for it with a timeout. No timer is set and no signal caught: a signal sent
// to the process, or a timer its parent left running, acts as on any other
// program, and the process's end ends the blocked call. A wait that runs out
// leaves that thread waiting: should it get the lock after all, closing the
// file lets go of it.
lockoutcome lockwhole(int fd, const lockwait& wait);

}  // namespace pairstat
