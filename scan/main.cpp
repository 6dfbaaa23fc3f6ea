// pairstat-scan: a scan of many run folders, on this machine or as a Slurm job
// array, and what the runs left: the folders that failed or warned or are out
// of date, and one table of their records.
//
//   pairstat-scan run [-j N] [--all] FOLDER...
//   pairstat-scan submit [-b N] [-- SBATCH-OPTION... [--]] FOLDER...
//   pairstat-scan failed | outdated | table | points FOLDER...
//   pairstat-scan warned FLAG[,FLAG...] FOLDER...
//
// A lone - in place of the folders reads them from standard input, one a line.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <glob.h>
#include <unistd.h>

#include "app/constants.hpp"
#include "records/escape.hpp"
#include "records/system.hpp"
#include "scan/folders.hpp"
#include "scan/listing.hpp"
#include "scan/points.hpp"
#include "scan/runner.hpp"
#include "scan/say.hpp"
#include "scan/submit.hpp"

namespace pairstat {
namespace {

const std::string usage =
    "usage: pairstat-scan run [-j N] [--all] [--pairs N] | submit [-b N] [-j K] [--wait] [--all] [--pairs N] [-- "
    "SBATCH-OPTION... "
    "--] | failed | "
    "outdated [--pairs N] | "
    "warned FLAG[,FLAG...] | table | points, then FOLDER... or - (read from standard input)";

[[noreturn]] void refuse(const std::string& why) { die(scanusage, why + "; " + usage); }

// Whether NAME, which starts as an option does, is a folder: a folder named
// "-" or "-x" given as */ expands it is a folder, not an option.
bool isfolder(const std::string& name) {
    struct stat st;
    return sys::stat(name.c_str(), st).ok() && S_ISDIR(st.st_mode);
}

// TEXT as a whole number from 1 up, for OPTION.
int count(const char* option, std::string_view text) {
    int value = 0;
    const bool digits = !text.empty() && text.size() < 10 && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits) value = std::stoi(std::string(text));
    if (!digits || value < 1 || text[0] == '0')
        refuse(std::string(option) + " takes a whole number from 1 up, not '" + whole(text) + "'");
    return value;
}

// TEXT as the most pairs a run reads (--pairs): a whole number from 1 up, or
// all; as the record writes it.
std::string pairs(std::string_view text) {
    if (text == "all") return "all";
    return std::to_string(count("--pairs", text));
}

// Reads --pairs N or --pairs=N at ARGUMENTS[K] into LIMIT, K left at its last
// word; false where ARGUMENTS[K] is another.
bool pairsoption(const std::vector<std::string>& arguments, std::size_t& k, std::string& limit) {
    const std::string& a = arguments[k];
    if (a.starts_with("--pairs=")) {
        limit = pairs(std::string_view(a).substr(8));
        return true;
    }
    if (a != "--pairs") return false;
    if (k + 1 == arguments.size()) refuse("--pairs takes a number, or all");
    limit = pairs(arguments[++k]);
    return true;
}

// The whole of standard input.
std::string readinput() {
    std::string text;
    if (const sysresult got = readall(STDIN_FILENO, text); !got.ok())
        die(scannoinput, std::string("cannot read the folders from standard input: ") + std::strerror(got.error));
    return text;
}


// The folders the arguments name, each once; stops the program where they
// can't be taken, or where a pattern matched nothing and nothing is left.
std::vector<folder> foldersof(const std::vector<std::string>& arguments) {
    if (arguments.empty()) refuse("no folders given");
    const bool piped = arguments.size() == 1 && arguments[0] == "-";
    folderlist got = readfolders(arguments, piped ? readinput() : std::string());
    if (!got.ok()) die(scanusage, got.refused);
    for (const std::string& pattern : got.unmatched) tell("pairstat-scan: no folders match '" + whole(pattern) + "'\n");
    if (got.folders.empty() && !got.unmatched.empty()) std::exit(scannoinput);
    return std::move(got.folders);
}

// How the folders were given, for the hint that names the failed ones: */
// where they are every folder here, as the shell expands it.
std::string given(const std::vector<std::string>& arguments) {
    glob_t here{};
    std::string how = "FOLDER...";
    if (::glob("*/", 0, nullptr, &here) == 0) {
        std::vector<std::string> every(here.gl_pathv, here.gl_pathv + here.gl_pathc);
        if (every == arguments) how = "*/";
    }
    ::globfree(&here);
    return how;
}

// Blocks the signals a scan waits for, from before it starts anything: one
// that comes early is then taken in its turn, never lost or left to end the
// scan halfway.
void blocksignals() {
    const sigset_t set = scansignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

std::string pairstatprogram() {
    std::string why;
    std::string program = findpairstat(why);
    if (program.empty()) die(scannoprogram, why);
    return program;
}

int run(std::vector<std::string> arguments) {
    scanoptions options;
    options.jobs = processors();
    std::size_t k = 0;
    for (; k < arguments.size(); ++k) {
        const std::string& a = arguments[k];
        if (a == "--") {
            ++k;
            break;
        }
        if (pairsoption(arguments, k, options.limit)) continue;
        if (a == "-j") {
            if (k + 1 == arguments.size()) refuse("-j takes a number");
            options.jobs = count("-j", arguments[++k]);
        } else if (a.starts_with("-j")) {
            options.jobs = count("-j", std::string_view(a).substr(2));
        } else if (a == "--all") {
            options.all = true;
        } else if (a.size() > 1 && a[0] == '-' && !isfolder(a)) {
            refuse("unknown option '" + whole(a) + "'");
        } else {
            break;
        }
    }
    arguments.erase(arguments.begin(), arguments.begin() + static_cast<long>(k));
    blocksignals();
    const std::vector<folder> folders = foldersof(arguments);
    if (folders.empty()) die(0, "no folders: nothing to run");
    options.pairstat = pairstatprogram();
    options.terminal = ::isatty(STDERR_FILENO) == 1;
    options.given = given(arguments);
    return runscan(folders, options);
}

int submit(std::vector<std::string> arguments) {
    submitoptions options;
    if (const char* limit = std::getenv("SBATCH_TIMELIMIT"); limit != nullptr) options.time = limit;
    if (const char* partition = std::getenv("SBATCH_PARTITION"); partition != nullptr) options.partition = partition;
    std::size_t k = 0;
    for (; k < arguments.size(); ++k) {
        const std::string& a = arguments[k];
        if (pairsoption(arguments, k, options.limit)) continue;
        if (a == "-b" || a == "-j") {
            if (k + 1 == arguments.size()) refuse(a + " takes a number");
            (a == "-b" ? options.block : options.throttle) = count(a.c_str(), arguments[++k]);
        } else if (a.starts_with("-b") || a.starts_with("-j")) {
            (a[1] == 'b' ? options.block : options.throttle) = count(a.substr(0, 2).c_str(), std::string_view(a).substr(2));
        } else if (a == "--wait") {
            options.wait = true;
        } else if (a == "--all") {
            options.all = true;
        } else if (a == "--" || a.size() <= 1 || a[0] != '-' || isfolder(a)) {
            break;
        } else {
            refuse("unknown option '" + whole(a) + "'");
        }
    }
    // sbatch's options: after --, up to a second -- where there is one, else
    // up to the first word that does not start with -. A few are read on the
    // way: the CPUs of a task, its time limit, its partition and output file,
    // and --test-only; --wait is the tool's own, which waits for the table.
    if (k < arguments.size() && arguments[k] == "--") {
        ++k;
        const bool ended = std::find(arguments.begin() + static_cast<long>(k), arguments.end(), "--") != arguments.end();
        std::string previous;
        for (; k < arguments.size(); ++k) {
            const std::string& a = arguments[k];
            if (ended && a == "--") {
                ++k;
                break;
            }
            if (!ended && (a.size() <= 1 || a[0] != '-')) break;
            // The value of a short option joined to it, or of a long one after "=".
            auto joined = [&](const char* shortname, const char* longname) -> std::string {
                if (a.starts_with(shortname) && a.size() > 2 && !a.starts_with("--")) return a.substr(2);
                const std::string prefix = std::string(longname) + "=";
                if (a.starts_with(prefix)) return a.substr(prefix.size());
                return {};
            };
            auto given = [&](const char* shortname, const char* longname) {
                return previous == shortname || previous == longname;
            };
            if (a.starts_with("-a") || a == "--array" || a.starts_with("--array="))
                die(scanusage, "submit makes the job array itself: leave out '" + whole(a) + "'");
            if (a == "--wait") {
                options.wait = true;
                previous = a;
                continue;
            }
            if (a == "--test-only") options.testonly = true;
            if (std::string v = joined("-c", "--cpus-per-task"); !v.empty()) options.cpus = count("--cpus-per-task", v);
            if (given("-c", "--cpus-per-task")) options.cpus = count("--cpus-per-task", a);
            if (std::string v = joined("-t", "--time"); !v.empty()) options.time = v;
            if (given("-t", "--time")) options.time = a;
            if (std::string v = joined("-p", "--partition"); !v.empty()) options.partition = v;
            if (given("-p", "--partition")) options.partition = a;
            if (std::string v = joined("-o", "--output"); !v.empty()) options.output = v;
            if (given("-o", "--output")) options.output = a;
            options.sbatch.push_back(a);
            // The job after the array has a name, an output, a time and one
            // processor of its own, and its own dependency.
            const bool own = [&] {
                for (const auto& [s, l] : {std::pair{"-J", "--job-name"}, {"-o", "--output"}, {"-e", "--error"},
                                           {"-t", "--time"}, {"-c", "--cpus-per-task"}, {"-d", "--dependency"}})
                    if (a == s || a == l || !joined(s, l).empty() || given(s, l)) return true;
                return a.starts_with("--open-mode") || a == "--test-only";
            }();
            if (!own) options.placing.push_back(a);
            previous = a;
        }
    }
    arguments.erase(arguments.begin(), arguments.begin() + static_cast<long>(k));
    const std::vector<folder> folders = foldersof(arguments);
    if (folders.empty()) die(scanfailed, "no job was made: no folders");
    options.pairstat = pairstatprogram();
    options.self = self();
    if (options.self.empty()) die(scannoprogram, "cannot tell where pairstat-scan is");
    return submitscan(folders, options);
}

int listing(const std::string& command, std::vector<std::string> arguments) {
    std::string flags;
    std::string limit = std::to_string(maxpairs);
    if (std::size_t k = 0; command == "outdated" && !arguments.empty() && pairsoption(arguments, k, limit))
        arguments.erase(arguments.begin(), arguments.begin() + static_cast<long>(k) + 1);
    if (command == "warned") {
        if (arguments.empty()) refuse("warned takes the warnings' names, separated by commas");
        flags = arguments.front();
        arguments.erase(arguments.begin());
    }
    if (!arguments.empty() && arguments.front() == "--") {
        arguments.erase(arguments.begin());
    } else if (!arguments.empty() && arguments.front().size() > 1 && arguments.front()[0] == '-' &&
               !isfolder(arguments.front())) {
        refuse("unknown option '" + whole(arguments.front()) + "'");
    }
    const std::vector<folder> folders = foldersof(arguments);
    const std::string out = command == "failed"     ? failedlist(folders)
                            : command == "warned"   ? warnedlist(folders, flags)
                            : command == "outdated" ? outdatedlist(folders, limit)
                            : command == "points"   ? points(folders)
                                                    : table(folders, here());
    return writeall(STDOUT_FILENO, out.data(), out.size()).ok() ? 0 : scanioerror;
}

}  // namespace
}  // namespace pairstat

int main(int argc, char** argv) {
    using namespace pairstat;
    std::signal(SIGPIPE, SIG_IGN);
    // A parent that left SIGCHLD ignored would have the runs reaped unseen,
    // and the scan wait for them for ever.
    std::signal(SIGCHLD, SIG_DFL);
    const std::string command = argc > 1 ? argv[1] : "";
    std::vector<std::string> arguments(argv + std::min(argc, 2), argv + argc);
    if (command == "run") return run(arguments);
    if (command == "submit") return submit(arguments);
    if (command == "failed" || command == "outdated" || command == "table" || command == "warned" ||
        command == "points")
        return listing(command, arguments);
    if (command == "finish") {
        // The job after a submission's array: LIST, as its script gives it.
        if (arguments.size() != 1) refuse("finish takes a submission's folder list");
        return finishscan(arguments[0]);
    }
    if (command == "task") {
        // A submission's task: LIST BLOCK [--all] --pairs=N, as its script
        // gives them.
        if (arguments.size() < 2) refuse("task takes a submission's folder list and its block size");
        const int block = count("the block size", arguments[1]);
        scanoptions options;
        for (std::size_t k = 2; k < arguments.size(); ++k) {
            if (arguments[k] == "--all") options.all = true;
            else if (!pairsoption(arguments, k, options.limit)) refuse("unknown option '" + whole(arguments[k]) + "' of a task");
        }
        blocksignals();
        options.pairstat = pairstatprogram();
        return runtask(arguments[0], block, options);
    }
    if (command == "-h" || command == "--help") {
        const std::string text = usage + "\nman pairstat-scan says more.\n";
        writeall(STDOUT_FILENO, text.data(), text.size());
        return 0;
    }
    if (command == "-V" || command == "--version") {
        const std::string text = "pairstat-scan " PAIRSTAT_VERSION "\n";
        writeall(STDOUT_FILENO, text.data(), text.size());
        return 0;
    }
    if (command.empty()) die(scanusage, usage);
    refuse("unknown command '" + whole(command) + "'");
}
