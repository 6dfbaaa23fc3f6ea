#include "scan/runner.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/constants.hpp"
#include "records/escape.hpp"
#include "scan/say.hpp"

extern char** environ;

namespace pairstat {

namespace {

// A run under way.
struct running {
    pid_t pid;
    std::size_t index;  // its folder
};

// Starts pairstat in folder WHERE, its output into the folder's files, in a
// process group of its own so that an interrupt from the terminal goes to the
// scan alone: the runs under way finish. Gives back the errno where it could
// not start.
int start(const folder& where, const scanoptions& options, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addchdir_np(&actions, where.name.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Never through a link: a console.txt that leads to a results file would
    // be cut to nothing.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, consolename,
                                     O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrname,
                                     O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGQUIT, SIGPIPE}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    std::vector<char*> argv{const_cast<char*>(options.pairstat.c_str()), const_cast<char*>("--record"),
                            const_cast<char*>(recordname)};
    if (options.all) argv.push_back(const_cast<char*>("--again"));
    const std::string pairs = "--pairs=" + options.limit;
    if (options.limit != std::to_string(maxpairs)) argv.push_back(const_cast<char*>(pairs.c_str()));
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid, options.pairstat.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error;
}

// Draws LINE in place of the last one on the terminal.
void redraw(const std::string& line) { tell("\r\033[K" + line); }

// Why the folder's console.txt or stderr.txt, which a run writes anew, may
// not be written over: a link, or a file of other names too (a hard link),
// may be a results file or a file to keep. Empty where both may.
std::string notoutput(const folder& where) {
    for (const char* name : {consolename, stderrname}) {
        struct stat st;
        if (!sys::lstat(infolder(where, name).c_str(), st).ok()) continue;
        if (S_ISLNK(st.st_mode) || !S_ISREG(st.st_mode) || st.st_nlink > 1)
            return std::string("write over its ") + name + ", which is " +
                   (S_ISLNK(st.st_mode) ? "a symbolic link" : !S_ISREG(st.st_mode) ? "not a regular file"
                                                                                      : "a file of other names too") +
                   " (a results file, maybe), in the folder";
    }
    return {};
}

// The scan stopped by SIGNAL (INT, TERM or HUP): STOPPED takes its status,
// and the first stop is told once.
void stop(int signal, int& stopped, bool& told, bool terminal) {
    if (!told) {
        if (terminal) redraw("");
        tell("pairstat-scan: stopping: the runs under way finish, no more start\n");
        told = true;
    }
    stopped = signal == SIGINT ? 130 : signal == SIGTERM ? 143 : 129;
}

// Takes each stop that came meanwhile, noted in STOPPED, so that no run
// starts after it. A run's end (SIGCHLD) is left pending for the wait that
// reaps: taken here, a run that ended since the last reaping would be waited
// for with no signal left to come.
void takestops(int& stopped, bool& told, bool terminal) {
    sigset_t stops = scansignals();
    sigdelset(&stops, SIGCHLD);
    const timespec now{0, 0};
    siginfo_t info;
    for (int got; (got = sigtimedwait(&stops, &info, &now)) > 0;) stop(got, stopped, told, terminal);
}



}  // namespace

void count(tally& into, const recordview& record) {
    if (record.form < recordform::older) {
        ++into.norecord;
        return;
    }
    if (!record.succeeded()) {
        ++into.failed;
        return;
    }
    ++into.succeeded;
    std::string flags;
    recordbytes(record.field("flags"), flags);
    if (flags.empty()) return;
    ++into.warned;
    for (std::size_t start = 0; start <= flags.size();) {
        const std::size_t comma = std::min(flags.find(',', start), flags.size());
        if (comma > start) ++into.flags[flags.substr(start, comma - start)];
        start = comma + 1;
    }
}

std::string summary(const tally& all) {
    const int run = all.folders - all.passedover;
    std::string text = plural(all.folders, "folder", "folders") + ": ";
    if (all.passedover > 0) {
        text += std::to_string(all.passedover) + " up to date, passed over";
        if (run == 0) return text;
        text += "; " + std::to_string(run) + " to run: ";
    }
    text += std::to_string(all.succeeded) + " succeeded (" + std::to_string(all.warned) + " warned";
    std::vector<std::pair<std::string, int>> flags(all.flags.begin(), all.flags.end());
    std::stable_sort(flags.begin(), flags.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    for (std::size_t k = 0; k < flags.size(); ++k)
        text += (k == 0 ? ": " : ", ") + std::to_string(flags[k].second) + " " + flags[k].first;
    return text + "), " + std::to_string(all.failed) + " failed, " + std::to_string(all.norecord) +
           " left no record";
}

std::string progress(int done, int all, int failed, std::chrono::milliseconds elapsed) {
    std::string text = std::to_string(done) + " of " + plural(all, "folder", "folders") + ", " +
                       std::to_string(failed) + " failed";
    if (done == 0 || done >= all) return text;
    // The time left at the pace so far, in the two largest units worth saying.
    const long long left = std::max<long long>(1, elapsed.count() * (all - done) / done / 1000);
    text += ", about ";
    if (left >= 3600) return text + std::to_string(left / 3600) + " h " + std::to_string(left % 3600 / 60) + " min left";
    if (left >= 60) return text + std::to_string(left / 60) + " min " + std::to_string(left % 60) + " s left";
    return text + std::to_string(left) + " s left";
}

sigset_t scansignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&set, signal);
    return set;
}

int processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

std::string findpairstat(std::string& why) {
    auto runnable = [](const std::string& p) {
        struct stat st;
        return sys::stat(p.c_str(), st).ok() && S_ISREG(st.st_mode) && sys::access(p.c_str(), X_OK).ok();
    };
    auto absolute = [](const std::string& p) { return p.starts_with('/') ? p : here() + "/" + p; };
    if (const char* given = std::getenv("PAIRSTAT"); given != nullptr && *given != '\0') {
        const std::string p = absolute(given);
        if (runnable(p)) return p;
        why = "cannot run '" + whole(p) + "' (PAIRSTAT): not an executable file";
        return {};
    }
    if (const std::string program = self(); !program.empty()) {
        const std::string beside = program.substr(0, program.find_last_of('/') + 1) + "pairstat";
        if (runnable(beside)) return beside;
    }
    const char* path = std::getenv("PATH");
    for (std::string_view rest = path != nullptr ? path : ""; !rest.empty();) {
        const std::size_t colon = std::min(rest.find(':'), rest.size());
        const std::string dir(rest.substr(0, colon));
        rest.remove_prefix(std::min(colon + 1, rest.size()));
        const std::string p = absolute((dir.empty() ? "." : dir) + "/pairstat");
        if (runnable(p)) return p;
    }
    why = "cannot find pairstat beside pairstat-scan or on PATH";
    return {};
}

int runscan(const std::vector<folder>& folders, const scanoptions& options) {
    tally all;
    all.folders = static_cast<int>(folders.size());
    // The folders to run, and a word for those that can't be.
    std::vector<std::size_t> queue;
    std::vector<std::pair<std::string, std::string>> notrun;  // folder, why
    for (std::size_t k = 0; k < folders.size(); ++k) {
        const folder& f = folders[k];
        const folderview view = look(f, !options.all, options.limit);
        if (view.state == folderstate::uptodate) {
            ++all.passedover;
            continue;
        }
        if (view.state == folderstate::missing) {
            notrun.emplace_back(f.name, "enter the folder");
            ++all.norecord;
            continue;
        }
        if (!sys::access(f.name.c_str(), W_OK | X_OK).ok()) {
            notrun.emplace_back(f.name, "write in the folder");
            ++all.norecord;
            continue;
        }
        if (const std::string why = notoutput(f); !why.empty()) {
            notrun.emplace_back(f.name, why);
            ++all.norecord;
            continue;
        }
        // The old record goes first, so that a folder this scan does not
        // finish, however it stops, has none and is listed by failed. A file
        // there that is not a record is left alone.
        if (view.record.form != recordform::absent && view.record.form != recordform::notrecord)
            sys::unlink(infolder(f, recordname).c_str());
        queue.push_back(k);
    }

    const auto began = std::chrono::steady_clock::now();
    std::vector<running> under;
    std::size_t next = 0;
    int done = 0;
    auto elapsed = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    };
    auto draw = [&] {
        if (options.terminal && !queue.empty())
            redraw("pairstat-scan: " + progress(done, static_cast<int>(queue.size()), all.failed + all.norecord,
                                                elapsed()));
    };
    const sigset_t waited = scansignals();
    bool told = false;
    draw();
    while ((next < queue.size() && all.stopped == 0) || !under.empty()) {
        // A signal that came while the folders were looked at, or while a
        // run started, stops the scan before another starts.
        takestops(all.stopped, told, options.terminal);
        while (all.stopped == 0 && next < queue.size() && static_cast<int>(under.size()) < options.jobs) {
            const std::size_t k = queue[next++];
            pid_t pid = 0;
            if (const int error = start(folders[k], options, pid); error != 0) {
                notrun.emplace_back(folders[k].name, std::string("start pairstat in the folder (") +
                                                         std::strerror(error) + ")");
                ++all.norecord;
                ++done;
                continue;
            }
            under.push_back({pid, k});
        }
        if (under.empty()) break;
        // A tenth of a second at most between redraws of the progress line.
        const timespec tick{0, 100 * 1000 * 1000};
        siginfo_t info;
        const int got = options.terminal ? sigtimedwait(&waited, &info, &tick) : sigwaitinfo(&waited, &info);
        if (got == SIGINT || got == SIGTERM || got == SIGHUP) stop(got, all.stopped, told, options.terminal);
        for (;;) {
            // How a run ended is in its record, not in its status.
            // No other process reaps the runs: SIGCHLD is left as the system
            // sets it (main), so each run under way is a child still here.
            const pid_t ended = ::waitpid(-1, nullptr, WNOHANG);
            if (ended <= 0) break;
            const auto it = std::find_if(under.begin(), under.end(), [&](const running& r) { return r.pid == ended; });
            if (it == under.end()) continue;
            recordview record;
            loadrecord(infolder(folders[it->index], recordname).c_str(), record);
            count(all, record);
            ++done;
            under.erase(it);
        }
        draw();
    }
    // Folders never started (the scan was stopped) have no record.
    all.norecord += static_cast<int>(queue.size() - next);
    if (options.terminal && !queue.empty()) redraw("");

    // In the order of the folders' names: runs side by side tell in any order.
    std::sort(notrun.begin(), notrun.end());
    for (const auto& [name, why] : notrun) tell("pairstat-scan: cannot " + why + " '" + whole(name) + "': not run\n");
    std::string line = summary(all);
    if (all.stopped != 0) line = "stopped by a signal: " + line;
    if (all.failed + all.norecord > 0) {
        tell("pairstat-scan: " + line + "; 'pairstat-scan failed " + options.given + "' lists them\n");
        return all.stopped != 0 ? all.stopped : scanfailed;
    }
    tell("pairstat-scan: " + line + "\n");
    return all.stopped;
}

}  // namespace pairstat
