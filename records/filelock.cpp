#include "records/filelock.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <signal.h>

#include "records/system.hpp"

namespace pairstat {

namespace {

// What a wait for the lock shares with the thread that takes it. The thread
// may outlive the wait (a wait that runs out returns while it still blocks),
// so both own it.
struct lockrequest {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int error = 0;  // errno of a failed wait
};

// The holder of the lock that keeps FD's from being taken, 0 if unknown, or
// -1 when it is free (or the system would not say).
long holderof(int fd) {
    long holder = -1;
    return sys::lockholder(fd, F_WRLCK, holder).ok() ? holder : -1;
}

}  // namespace

lockoutcome lockwhole(int fd, const lockwait& wait) {
    lockoutcome out;
    const sysresult first = sys::lock(fd, F_WRLCK, false);
    if (first.ok()) return out;
    if (first.error != EAGAIN && first.error != EACCES) {
        out.error = first.error;
        return out;
    }

    const auto start = std::chrono::steady_clock::now();
    auto request = std::make_shared<lockrequest>();
    // Started with every signal blocked, the thread leaves each signal sent
    // to the process to the calling thread.
    sigset_t all;
    sigset_t before;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
        std::thread([fd, request] {
            const int error = sys::lock(fd, F_WRLCK, true).error;
            std::lock_guard<std::mutex> hold(request->mutex);
            request->error = error;
            request->finished = true;
            request->done.notify_all();
        }).detach();
    } catch (const std::system_error& failed) {
        out.error = failed.code().value();
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (out.error != 0) return out;

    std::unique_lock<std::mutex> hold(request->mutex);
    auto finished = [&request] { return request->finished; };
    if (wait.quiet < wait.bound && !request->done.wait_until(hold, start + wait.quiet, finished)) {
        hold.unlock();
        const long holder = holderof(fd);
        if (holder >= 0 && wait.waiting) wait.waiting(holder);
        hold.lock();
    }
    if (!request->done.wait_until(hold, start + wait.bound, finished)) {
        out.held = true;
        out.holder = std::max(holderof(fd), 0L);
        return out;
    }
    out.error = request->error;
    return out;
}

}  // namespace pairstat
