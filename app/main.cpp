// The process entry: answers --help and --version, ignores every other
// argument, runs, and returns the run's status.
#include <csignal>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <unistd.h>

#include "app/run.hpp"

namespace {

constexpr char usage[] =
    "Usage: pairstat [--help] [--version]\n"
    "Reads the pairs of records in ttteste.dat in the current folder, prints how\n"
    "many pairs were accepted and the mean and standard deviation of 1 - a/b over\n"
    "them, and appends one line (U/t, beta, mean, standard error) to the results\n"
    "file named in fname.dat. Other arguments are ignored. See pairstat(1).\n";
constexpr char version[] = "pairstat " PAIRSTAT_VERSION "\n";

}  // namespace

int main(int argc, char** argv) {
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
    // --help and --version, anywhere among the arguments, answer without
    // opening any file; --help comes first where both are given.
    bool help = false;
    bool showversion = false;
    for (int k = 1; k < argc; ++k) {
        help = help || std::strcmp(argv[k], "--help") == 0;
        showversion = showversion || std::strcmp(argv[k], "--version") == 0;
    }
    if (help) return pairstat::say(usage, sizeof usage - 1);
    if (showversion) return pairstat::say(version, sizeof version - 1);
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
