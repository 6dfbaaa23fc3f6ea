// The process entry: ignores its arguments, runs, and returns the run's status.
#include <csignal>
#include <new>

#include <fcntl.h>
#include <unistd.h>

#include "app/run.hpp"

int main() {
    // A console or results file that can take no more must end the run with a
    // diagnostic and a failing status, not a signal that says nothing.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // With a standard stream closed, the next file opened would take its
    // number and receive its lines: hold each closed one on /dev/null, read-only
    // so that writes to it fail and are reported.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDONLY) < 0) return pairstat::exitioerror;
    }
    try {
        return pairstat::run();
    } catch (const std::bad_alloc&) {
        // Too little memory for the reader's block or a diagnostic's text.
        static const char text[] = "pairstat: out of memory\n";
        ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
        (void)ignored;
        return pairstat::exitnomemory;
    }
}
