#include "scan/submit.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/constants.hpp"
#include "records/escape.hpp"
#include "scan/runner.hpp"
#include "scan/say.hpp"

extern char** environ;

namespace pairstat {

namespace {

std::string cwd() {
    std::unique_ptr<char, decltype(&std::free)> here(::getcwd(nullptr, 0), &std::free);
    return here ? std::string(here.get()) : std::string(".");
}

std::string absolute(const std::string& name, const std::string& here) {
    return name.starts_with('/') ? name : here + "/" + name;
}

// WORD quoted for sh.
std::string quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Writes TEXT to the file NAME, made new (mode 0666, or 0777 for a script,
// less the umask). Gives back whether it was written whole.
bool writefile(const std::string& name, const std::string& text, mode_t mode) {
    const sysresult opened = sys::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (!opened.ok()) return false;
    const int fd = static_cast<int>(opened.value);
    const bool whole = writeall(fd, text.data(), text.size()).ok();
    return sys::close(fd).ok() && whole;
}

// Runs sbatch with ARGUMENTS, its standard output into OUT; gives back its
// exit status, or -1 with errno where it could not be run.
int runsbatch(const std::vector<std::string>& arguments, std::string& out) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>("sbatch")};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "sbatch", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    sys::close(pipe[1]);
    if (error != 0) {
        sys::close(pipe[0]);
        errno = error;
        return -1;
    }
    char block[4096];
    for (sysresult got; (got = sys::read(pipe[0], block, sizeof block)).ok() && got.value > 0;)
        out.append(block, static_cast<std::size_t>(got.value));
    sys::close(pipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int submitscan(const std::vector<folder>& folders, const submitoptions& options) {
    const std::string here = cwd();
    // The hidden folder beside the first run folder keeps, for each
    // submission, the list of folders the tasks read and Slurm's output of
    // each.
    const std::string& first = folders.front().name;
    const std::size_t slash = first.find_last_of('/');
    const std::string top = slash == std::string::npos ? here
                            : slash == 0              ? std::string("/")
                                                      : absolute(first.substr(0, slash), here);
    const std::string hidden = (top == "/" ? "" : top) + "/.pairstat-scan";
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    std::string sub = hidden + "/" + stamp + ".XXXXXX";
    if ((::mkdir(hidden.c_str(), 0777) != 0 && errno != EEXIST) || ::mkdtemp(sub.data()) == nullptr)
        die(scancantcreate, "cannot make a folder in '" + shown(hidden) + "'");

    std::string list;
    for (const folder& f : folders) list += absolute(f.name, here) + "\n";
    if (!writefile(sub + "/folders", list, 0666)) die(scancantcreate, "cannot write '" + shown(sub + "/folders") + "'");
    const int n = static_cast<int>(folders.size());
    const int tasks = (n + options.block - 1) / options.block;
    const std::string task = "#!/bin/sh\n"
                             "# A task of pairstat-scan submit: runs block SLURM_ARRAY_TASK_ID (from 0) of " +
                             std::to_string(options.block) +
                             " folders of the list beside this file, with the CPUs Slurm gives it.\n"
                             "PAIRSTAT=" + quote(options.pairstat) + " exec " + quote(options.self) + " task " +
                             quote(sub + "/folders") + " " + std::to_string(options.block) + "\n";
    if (!writefile(sub + "/task", task, 0777)) die(scancantcreate, "cannot write '" + shown(sub + "/task") + "'");

    std::vector<std::string> arguments{"--parsable", "--array=0-" + std::to_string(tasks - 1),
                                       "--job-name=pairstat-scan", "--output=" + sub + "/slurm-%A_%a.out"};
    // Unless told otherwise, a task has time for every run of its block to
    // wait the whole of pairstat's lock bound, 5 minutes, and 5 minutes more.
    if (!options.timed)
        arguments.push_back("--time=" +
                            std::to_string(((options.block + options.cpus - 1) / options.cpus + 1) * 5));
    arguments.insert(arguments.end(), options.sbatch.begin(), options.sbatch.end());
    arguments.push_back(sub + "/task");
    std::string job;
    const int status = runsbatch(arguments, job);
    if (status != 0) {
        const std::string cause = status < 0 ? std::strerror(errno) : "status " + std::to_string(status);
        std::string rm = "rm -rf " + quote(sub);
        (void)std::system(rm.c_str());
        die(status < 0 ? scannoprogram : status,
            "sbatch refused an array of " + std::to_string(tasks) + " tasks of up to " +
                std::to_string(options.block) + " folders (" + cause + "); more folders a task (-b) make fewer tasks");
    }
    while (!job.empty() && (job.back() == '\n' || job.back() == '\r')) job.pop_back();
    const std::string printed = job + "\n";
    writeall(STDOUT_FILENO, printed.data(), printed.size());
    const std::string id = job.substr(0, job.find(';'));
    tell("pairstat-scan: " + std::to_string(n) + (n == 1 ? " folder" : " folders") + " in " + std::to_string(tasks) +
         (tasks == 1 ? " task" : " tasks") + " of up to " + std::to_string(options.block) +
         "; Slurm's output of task N in '" + shown(sub) + "/slurm-" + id + "_N.out' (N from 0 to " +
         std::to_string(tasks - 1) + "); keep that folder until they have run\n");
    return 0;
}

int runtask(const std::string& list, int block, const std::string& pairstat) {
    const char* id = std::getenv("SLURM_ARRAY_TASK_ID");
    char* end = nullptr;
    const long task = id != nullptr ? std::strtol(id, &end, 10) : -1;
    if (id == nullptr || *id == '\0' || *end != '\0' || task < 0)
        die(scanusage, "task runs a block of a submission's list, as its SLURM_ARRAY_TASK_ID says, and there is none");
    const sysresult opened = sys::open(list.c_str(), O_RDONLY | O_CLOEXEC);
    if (!opened.ok())
        die(scannoinput, "cannot read the submission's folder list '" + shown(list) + "': " +
                             std::strerror(opened.error) + "; this task has nothing to run");
    std::string text;
    char buffer[65536];
    for (sysresult got; (got = sys::read(static_cast<int>(opened.value), buffer, sizeof buffer)).ok() && got.value > 0;)
        text.append(buffer, static_cast<std::size_t>(got.value));
    sys::close(static_cast<int>(opened.value));
    std::vector<std::string> names;
    long line = 0;
    for (std::size_t start = 0; start < text.size(); ++line) {
        const std::size_t nl = std::min(text.find('\n', start), text.size());
        if (line >= task * block && line < (task + 1) * block) names.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (names.empty())
        die(scannoinput, "the submission's folder list '" + shown(list) + "' holds no block " + std::to_string(task) +
                             " of " + std::to_string(block) + " folders; this task has nothing to run");
    const folderlist got = readfolders(names, "");
    if (!got.ok()) die(scanusage, got.refused);
    scanoptions options;
    const char* cpus = std::getenv("SLURM_CPUS_ON_NODE");
    options.jobs = cpus != nullptr && std::atoi(cpus) > 0 ? std::atoi(cpus) : processors();
    options.pairstat = pairstat;
    options.limit = std::to_string(maxpairs);
    return runscan(got.folders, options);
}

}  // namespace pairstat
