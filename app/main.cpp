// The process entry: answers -h/--help and -V/--version, takes --pairs,
// --record FILE and --again, refuses any other option, warns that other arguments are ignored, runs, and
// returns the run's status.
#include <csignal>
#include <new>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "app/messages.hpp"
#include "app/run.hpp"

namespace {

// The usage text, which gives the default limit as the run has it.
std::string usage() {
    return "Usage: pairstat [-h | --help] [-V | --version] [--pairs N | all] [--record FILE [--again]]\n"
           "Reads the pairs of records in ttteste.dat in the current folder (the first " +
           std::to_string(pairstat::maxpairs) +
           ",\n"
           "or N, or all of them with --pairs), prints how many pairs were accepted and\n"
           "the mean and standard deviation of 1 - a/b over them, and appends one line\n"
           "to the results file named in fname.dat: U/t, beta, the mean and its standard\n"
           "error (with one pair accepted: its value and the fourth field read last).\n"
           "With --record, writes the run's record to FILE (a header and one line of\n"
           "tab-separated fields) and appends nothing where the record shows these very\n"
           "inputs' line in the results file already; --again appends it all the same.\n"
           "See pairstat(1).\n";
}
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
    // Options may stand anywhere before "--", and are taken in order: the
    // first that answers or is refused decides, before any file is opened.
    // Every other argument is ignored, with a warning.
    bool optional = true;  // options may still come
    pairstat::runoptions options;
    bool limited = false;
    int ignored = 0;  // the arguments ignored, gathered at the front of argv
    for (int k = 1; k < argc; ++k) {
        std::string_view argument = argv[k];
        if (!optional || argument.empty() || argument[0] != '-') {
            argv[1 + ignored++] = argv[k];
        } else if (argument == "--") {
            optional = false;
        } else if (argument == "-h" || argument == "--help") {
            const std::string text = usage();
            return pairstat::say(text.data(), text.size());
        } else if (argument == "-V" || argument == "--version") {
            return pairstat::say(version, sizeof version - 1);
        } else if (argument == "--record" || argument.starts_with("--record=")) {
            // The file name follows "=" or stands as the next argument.
            const char* value = argument.size() > 8 ? argv[k] + 9 : k + 1 < argc ? argv[++k] : "";
            if (*value == '\0') return pairstat::report(pairstat::missingvalue("--record"));
            if (options.record != nullptr) return pairstat::report(pairstat::repeatedoption("--record"));
            options.record = value;
        } else if (argument == "--again") {
            options.again = true;
        } else if (argument == "--pairs" || argument.starts_with("--pairs=")) {
            const char* value = argument.size() > 7 ? argv[k] + 8 : k + 1 < argc ? argv[++k] : "";
            if (limited) return pairstat::report(pairstat::repeatedoption("--pairs"));
            limited = true;
            if (!pairstat::readlimit(value, options.limit)) return pairstat::report(pairstat::badlimit(value));
        } else {
            return pairstat::report(pairstat::unknownoption(argument));
        }
    }
    if (options.again && options.record == nullptr) return pairstat::report(pairstat::againalone());
    pairstat::warnings warned;
    if (ignored > 0) pairstat::warnarguments(warned, argv + 1, argv + 1 + ignored);
    try {
        return pairstat::run(warned, options);
    } catch (const std::bad_alloc&) {
        // Too little memory for the reader's block or a diagnostic's text.
        static const char text[] = "pairstat: out of memory\n";
        ssize_t written = ::write(STDERR_FILENO, text, sizeof text - 1);
        (void)written;
        return pairstat::exitnomemory;
    }
}
