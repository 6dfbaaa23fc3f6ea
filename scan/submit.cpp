#include "scan/submit.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/constants.hpp"
#include "records/filelock.hpp"
#include "records/escape.hpp"
#include "scan/listing.hpp"
#include "scan/runner.hpp"
#include "scan/say.hpp"

extern char** environ;

namespace pairstat {

namespace {


std::string absolute(const std::string& name, const std::string& here) {
    return name.starts_with('/') ? name : here + "/" + name;
}

// WORD quoted for sh.
std::string quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Writes TEXT to the file NAME, made new with MODE less the umask: error 0
// where it was written whole (a write that took nothing and gave no reason
// is EIO).
sysresult writefile(const std::string& name, const std::string& text, mode_t mode) {
    const sysresult opened = sys::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (!opened.ok()) return opened;
    const int fd = static_cast<int>(opened.value);
    const writeoutcome wrote = writeall(fd, text.data(), text.size());
    const sysresult closed = sys::close(fd);
    if (!wrote.ok()) return {-1, wrote.error != 0 ? wrote.error : EIO};
    return closed;
}

// What a program run to its end gave.
struct ran {
    int status = -1;  // its exit status, 128 + a signal's, or -1 where it could not be run (errno in `error`)
    int error = 0;
    std::string out;  // its standard output
};

// Runs PROGRAM (found on PATH) with ARGUMENTS, its standard error passed
// through, its standard output taken.
ran capture(const char* program, const std::vector<std::string>& arguments) {
    ran got;
    int pipe[2];
    if (const sysresult made = sys::pipe(pipe); !made.ok()) {
        got.error = made.error;
        return got;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    sys::close(pipe[1]);
    if (error != 0) {
        sys::close(pipe[0]);
        got.error = error;
        return got;
    }
    readall(pipe[0], got.out);
    sys::close(pipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            got.error = errno;
            return got;
        }
    got.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return got;
}

// The value of KEY in Slurm's "Key = value" or "Key=value" listing TEXT.
std::string valueof(const std::string& text, const std::string& key) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        if (at > 0 && !std::isspace(static_cast<unsigned char>(text[at - 1]))) continue;
        std::size_t p = at + key.size();
        while (p < text.size() && text[p] == ' ') ++p;
        if (p == text.size() || text[p] != '=') continue;
        ++p;
        while (p < text.size() && text[p] == ' ') ++p;
        const std::size_t end = text.find_first_of(" \n", p);
        return text.substr(p, end == std::string::npos ? std::string::npos : end - p);
    }
    return {};
}

// What the cluster allows: the most tasks in an array, and the partition's
// longest time limit (-1: none), as scontrol tells them.
struct cluster {
    int arraymost = pairstat::arraymost;
    long maxtime = -1;
    std::string partition;  // the partition asked for, or the cluster's default
};

cluster askcluster(const std::string& partition) {
    cluster got;
    const ran config = capture("scontrol", {"show", "config"});
    if (config.status != 0) return got;
    if (const long most = std::atol(valueof(config.out, "MaxArraySize").c_str()); most > 0)
        got.arraymost = static_cast<int>(std::min(most, 100000000L));
    const ran partitions = capture("scontrol", {"show", "partition"});
    if (partitions.status != 0) return got;
    // One paragraph a partition; the one named, else the default.
    for (std::size_t start = 0; start < partitions.out.size();) {
        std::size_t end = partitions.out.find("\n\n", start);
        if (end == std::string::npos) end = partitions.out.size();
        const std::string one = partitions.out.substr(start, end - start);
        start = end + 2;
        const std::string name = valueof(one, "PartitionName");
        if (partition.empty() ? valueof(one, "Default") != "YES" : name != partition) continue;
        got.partition = name;
        got.maxtime = slurmminutes(valueof(one, "MaxTime"));
        if (got.maxtime == -2) got.maxtime = -1;
        break;
    }
    return got;
}

std::string minutestext(long minutes) {
    char text[64];
    if (minutes >= 24 * 60)
        std::snprintf(text, sizeof text, "%ld-%02ld:%02ld:00", minutes / (24 * 60), minutes / 60 % 24, minutes % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld:00", minutes / 60, minutes % 60);
    return text;
}

std::string secondstext(double seconds) {
    if (seconds < 120) return std::to_string(static_cast<long>(std::ceil(seconds))) + " s";
    if (seconds < 7200) return std::to_string(static_cast<long>(std::ceil(seconds / 60))) + " min";
    return std::to_string(static_cast<long>(std::ceil(seconds / 3600))) + " h";
}

// The records of the folders a submission runs, put aside while it is made:
// given back where it fails, removed where it is made, so that a task that
// never starts leaves its folders without a record, which failed lists.
class asiderecords {
  public:
    explicit asiderecords(std::vector<std::string> names) : records(std::move(names)) {
        for (const std::string& r : records)
            if (sys::rename(r.c_str(), asidename(r).c_str()).ok()) moved.push_back(r);
    }
    void giveback() {
        for (const std::string& r : moved) sys::rename(asidename(r).c_str(), r.c_str());
        moved.clear();
    }
    void drop() {
        for (const std::string& r : moved) sys::unlink(asidename(r).c_str());
        moved.clear();
    }
    ~asiderecords() { giveback(); }

  private:
    static std::string asidename(const std::string& record) {
        const std::size_t slash = record.find_last_of('/');
        return record.substr(0, slash + 1) + ".record.tsv.submitted";
    }
    std::vector<std::string> records;
    std::vector<std::string> moved;
};

// Removes the folder SUB and what it holds (the files a submission wrote).
void unsubmit(const std::string& sub) {
    for (const char* name : {"folders", "task", "finish", "table.tsv", "failed"})
        sys::unlink((sub + "/" + name).c_str());
    sys::rmdir(sub.c_str());
}

// TEXT with each % written %%, as Slurm reads a file name pattern.
std::string percents(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
    return out;
}

}  // namespace

blocking blocksof(int folders, double work, int block, int most) {
    blocking out;
    out.folders = folders;
    out.work = work;
    if (block > 0) {
        out.block = block;
    } else {
        const int tasks = std::max(1, static_cast<int>(std::ceil(work / taskseconds)));
        out.block = std::max((folders + tasks - 1) / tasks, (folders + most - 1) / most);
    }
    out.tasks = (folders + out.block - 1) / out.block;
    return out;
}

long tasktime(const blocking& blocks, int cpus) {
    // CPUS is a count from 1 up, as the options are read.
    const double share = blocks.work / std::max(1, blocks.folders) * blocks.block / cpus;
    const double lockwait = 60.0 * static_cast<double>(lockbound.count());
    return std::max(10L, static_cast<long>(std::ceil((3.0 * share + lockwait) / 60.0)));
}

long slurmminutes(const std::string& text) {
    if (text == "UNLIMITED" || text == "INFINITE" || text == "NONE") return -1;
    long days = 0;
    std::string rest = text;
    const bool withdays = rest.find('-') != std::string::npos;
    if (withdays) {
        const std::size_t dash = rest.find('-');
        const std::string d = rest.substr(0, dash);
        if (d.empty() || d.find_first_not_of("0123456789") != std::string::npos) return -2;
        days = std::atol(d.c_str());
        rest = rest.substr(dash + 1);
    }
    // Up to three numbers between colons, none of them empty.
    long parts[3] = {0, 0, 0};
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
        const std::size_t colon = std::min(rest.find(':', start), rest.size());
        const std::string part = rest.substr(start, colon - start);
        if (count == 3 || part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos)
            return -2;
        parts[count] = std::atol(part.c_str());
        if (colon == rest.size()) break;
        start = colon + 1;
    }
    ++count;
    // minutes; minutes:seconds; hours:minutes:seconds; with days: hours,
    // hours:minutes, hours:minutes:seconds.
    long seconds;
    if (withdays) seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
    else if (count == 1) seconds = parts[0] * 60;
    else if (count == 2) seconds = parts[0] * 60 + parts[1];
    else seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
    return days * 24 * 60 + (seconds + 59) / 60;
}

int submitscan(const std::vector<folder>& given, const submitoptions& options) {
    const std::string cwd = here();
    // The folders to run: all but those up to date (every one with --all).
    std::vector<folder> folders;
    std::vector<std::string> records;
    double work = 0.0;
    int passedover = 0;
    for (const folder& f : given) {
        const folderview view = look(f, !options.all, options.limit);
        if (view.state == folderstate::uptodate) {
            ++passedover;
            continue;
        }
        if (view.record.form != recordform::absent && view.record.form != recordform::notrecord)
            records.push_back(infolder(f, recordname));
        struct stat st;
        const bool sized = sys::stat(infolder(f, datafile).c_str(), st).ok();
        work += runseconds + (sized ? byteseconds * static_cast<double>(st.st_size) : 0.0);
        folders.push_back(f);
    }
    if (folders.empty())
        die(scanfailed, "no job was made: " + std::string(passedover == 1 ? "the folder is" : "all " + std::to_string(passedover) +
                                                                                 " folders are") +
                   " up to date (--all runs them all the same)");

    const cluster slurm = askcluster(options.partition);
    const blocking blocks = blocksof(static_cast<int>(folders.size()), work, options.block, slurm.arraymost);
    const int n = static_cast<int>(folders.size());
    if (blocks.tasks > slurm.arraymost)
        die(scanusage, std::to_string(n) + " folders in blocks of " + std::to_string(blocks.block) + " are " +
                           plural(blocks.tasks, "task", "tasks") + ", more than this cluster's MaxArraySize (" +
                           std::to_string(slurm.arraymost) + ") allows: -b " +
                           std::to_string((n + slurm.arraymost - 1) / slurm.arraymost) +
                           " or more puts them in fewer; nothing was submitted");

    // The hidden folder beside the first run folder keeps, for each
    // submission, the list of folders the tasks read, the tasks' script,
    // Slurm's output of each, and at the end the table and the failed list.
    const std::string& first = folders.front().name;
    const std::size_t slash = first.find_last_of('/');
    const std::string top = slash == std::string::npos ? cwd
                            : slash == 0              ? std::string("/")
                                                      : absolute(first.substr(0, slash), cwd);
    const std::string hidden = (top == "/" ? "" : top) + "/.pairstat-scan";
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    std::string sub = hidden + "/" + stamp + ".XXXXXX";
    const sysresult madehidden = sys::mkdir(hidden.c_str(), 0777);
    sysresult made = madehidden.error == EEXIST ? sysresult{} : madehidden;
    if (made.ok()) made = sys::mkdtemp(sub);
    if (!made.ok()) {
        if (madehidden.ok()) sys::rmdir(hidden.c_str());
        die(scancantcreate, "cannot make a folder in '" + whole(hidden) + "': " + std::strerror(made.error) +
                                "; nothing was submitted");
    }
    // Set aside below, once the submission's files are written; given back
    // on every way out but a job made (die ends the process at once).
    std::optional<asiderecords> aside;
    auto fail = [&](int status, const std::string& why) {
        if (aside) aside->giveback();
        unsubmit(sub);
        if (madehidden.ok()) sys::rmdir(hidden.c_str());
        die(status, why);
    };

    std::string list;
    for (const folder& f : folders) list += absolute(f.name, cwd) + "\n";
    const std::string runs = "PAIRSTAT=" + quote(options.pairstat) + " exec " + quote(options.self);
    const std::string taskscript =
        "#!/bin/sh\n# A task of pairstat-scan submit: runs block SLURM_ARRAY_TASK_ID (from 0) of " +
        std::to_string(blocks.block) + " folders of the list beside this file, as many at a time as "
        "Slurm gives the task processors.\n" + runs + " task " + quote(sub + "/folders") + " " +
        std::to_string(blocks.block) + (options.all ? " --all" : "") + " --pairs=" + options.limit + "\n";
    const std::string finishscript =
        "#!/bin/sh\n# The end of a pairstat-scan submission: the table of its folders and the failed list, beside "
        "this file.\n" + runs + " finish " + quote(sub + "/folders") + "\n";
    sysresult wrote = writefile(sub + "/folders", list, 0666);
    if (wrote.ok()) wrote = writefile(sub + "/task", taskscript, 0777);
    if (wrote.ok()) wrote = writefile(sub + "/finish", finishscript, 0777);
    if (!wrote.ok())
        fail(scancantcreate, "cannot write the submission's files in '" + whole(sub) + "': " +
                                 std::strerror(wrote.error) + "; nothing was submitted");

    // The scan's name in the queue: its folder's.
    const std::string scanname = top == "/" ? "/" : top.substr(top.find_last_of('/') + 1);
    const std::string jobname = "pairstat-scan:" + scanname.substr(0, 40);
    const std::string output = options.output.empty() ? percents(sub) + "/slurm-%A_%a.out" : options.output;
    std::vector<std::string> arguments{"--parsable", "--job-name=" + jobname};
    std::string array = "--array=0-" + std::to_string(blocks.tasks - 1);
    if (options.throttle > 0) array += "%" + std::to_string(options.throttle);
    arguments.push_back(array);
    if (options.output.empty()) arguments.push_back("--output=" + output);
    // Every attempt of a task (a requeue) adds to its output, rather than
    // write over what the one before said.
    if (std::none_of(options.sbatch.begin(), options.sbatch.end(),
                     [](const std::string& a) { return a.starts_with("--open-mode"); }))
        arguments.push_back("--open-mode=append");
    long limit = tasktime(blocks, options.cpus);
    std::string timenote;
    if (options.time.empty()) {
        if (slurm.maxtime > 0 && limit > slurm.maxtime) {
            limit = slurm.maxtime;
            timenote = ", the partition's MaxTime";
        }
        arguments.push_back("--time=" + std::to_string(limit));
    } else if (const long asked = slurmminutes(options.time); slurm.maxtime > 0 && (asked < 0 || asked > slurm.maxtime)) {
        warn("the time limit asked, " + whole(options.time) + ", is more than the partition's MaxTime (" +
             minutestext(slurm.maxtime) + "): Slurm keeps such a job waiting for ever");
    }
    arguments.insert(arguments.end(), options.sbatch.begin(), options.sbatch.end());
    arguments.push_back(sub + "/task");

    aside.emplace(records);
    const ran submitted = capture("sbatch", arguments);
    if (submitted.status < 0)
        fail(scannoprogram, std::string("cannot run sbatch: ") + std::strerror(submitted.error) +
                                "; nothing was submitted ('pairstat-scan run' runs a scan on this machine)");
    if (submitted.status != 0)
        fail(submitted.status, "sbatch refused the array of " + plural(blocks.tasks, "task", "tasks") + " (status " +
                                   std::to_string(submitted.status) + ", with its reason above); nothing was submitted");
    std::string job = submitted.out;
    while (!job.empty() && (job.back() == '\n' || job.back() == '\r')) job.pop_back();
    const std::string id = job.substr(0, job.find(';'));
    if (options.testonly || id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
        fail(options.testonly ? 0 : scanfailed,
             std::string(options.testonly ? "--test-only: " : "sbatch answered no job id: ") +
                 "no job was made, and the folders' records are as they were");
    aside->drop();

    // After the array, whatever became of its tasks: the table and the
    // failed list, beside the folder list.
    std::vector<std::string> finishing{"--parsable", "--job-name=" + jobname + ":table",
                                       "--output=" + percents(sub) + "/slurm-%j-table.out"};
    finishing.insert(finishing.end(), options.placing.begin(), options.placing.end());
    finishing.push_back("--dependency=afterany:" + id);
    finishing.push_back("--cpus-per-task=1");
    finishing.push_back("--time=" + std::to_string(slurm.maxtime > 0 ? std::min(10L, slurm.maxtime) : 10L));
    if (options.wait) finishing.push_back("--wait");
    finishing.push_back(sub + "/finish");

    const std::string told = "pairstat-scan: " + plural(n, "folder", "folders") +
                             (passedover > 0 ? " (" + std::to_string(passedover) + " more up to date)" : "") +
                             ", about " + secondstext(blocks.work) + " of runs: " + plural(blocks.tasks, "task", "tasks") +
                             " of up to " + std::to_string(blocks.block) +
                             (options.block > 0 ? " (-b)" : " (-b sets it)") + ", each asking " +
                             (options.time.empty() ? minutestext(limit) + timenote : whole(options.time)) +
                             "; Slurm's output in '" + whole(options.output.empty() ? sub + "/slurm-" + id + "_N.out"
                                                                                     : options.output) + "'";
    const std::string ids = id + "\n";
    writeall(STDOUT_FILENO, ids.data(), ids.size());
    const ran finished = capture("sbatch", finishing);
    std::string finish = finished.out;
    while (!finish.empty() && (finish.back() == '\n' || finish.back() == '\r')) finish.pop_back();
    finish = finish.substr(0, finish.find(';'));
    if (finished.status < 0 || finish.empty() || (finished.status != 0 && !options.wait)) {
        tell(told + "\n");
        warn("the job that writes the scan's table after the array was refused (status " +
             std::to_string(finished.status) + "): 'pairstat-scan table' and 'failed' work the same once the array "
             "has run");
        return scanfailed;
    }
    const std::string finishline = finish + "\n";
    writeall(STDOUT_FILENO, finishline.data(), finishline.size());
    tell(told + "; then job " + finish + " writes table.tsv and failed in '" + whole(sub) + "'\n");
    if (!options.wait) return 0;
    // sbatch --wait gave the ending job's status: 0 where every folder's run
    // succeeded.
    std::string failedlist;
    if (const sysresult got = readfile((sub + "/failed").c_str(), failedlist); !got.ok()) {
        warn("the scan has ended, but its failed list can't be read ('" + whole(sub) + "/failed': " +
             std::strerror(got.error) + "): how it went is not known; see the job's output and 'pairstat-scan failed'");
        return scanfailed;
    }
    const long failures = std::count(failedlist.begin(), failedlist.end(), '\n');
    tell("pairstat-scan: the scan has ended: " + plural(n - failures, "folder", "folders") + " succeeded, " +
         std::to_string(failures) + " failed or left no record; the table is '" + whole(sub) + "/table.tsv'\n");
    return finished.status == 0 ? 0 : scanfailed;
}

int runtask(const std::string& list, int block, const scanoptions& given) {
    const char* id = std::getenv("SLURM_ARRAY_TASK_ID");
    char* end = nullptr;
    const long task = id != nullptr ? std::strtol(id, &end, 10) : -1;
    if (id == nullptr || *id == '\0' || *end != '\0' || task < 0)
        die(scanusage, "task runs a block of a submission's list, as its SLURM_ARRAY_TASK_ID says, and there is none");
    std::string text;
    if (const sysresult got = readfile(list.c_str(), text); !got.ok())
        die(scannoinput, "cannot read the submission's folder list '" + whole(list) + "': " +
                             std::strerror(got.error) + "; this task has nothing to run");
    std::vector<std::string> names;
    long line = 0;
    for (std::size_t start = 0; start < text.size(); ++line) {
        const std::size_t nl = std::min(text.find('\n', start), text.size());
        if (line >= task * block && line < (task + 1) * block) names.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (names.empty())
        die(scannoinput, "the submission's folder list '" + whole(list) + "' holds no block " + std::to_string(task) +
                             " of " + std::to_string(block) + " folders; this task has nothing to run");
    const folderlist got = readfolders(names, "");
    if (!got.ok()) die(scanusage, got.refused);
    scanoptions options = given;
    const char* cpus = std::getenv("SLURM_CPUS_ON_NODE");
    options.jobs = cpus != nullptr && std::atoi(cpus) > 0 ? std::atoi(cpus) : processors();
    return runscan(got.folders, options);
}

int finishscan(const std::string& list) {
    std::string text;
    if (const sysresult got = readfile(list.c_str(), text); !got.ok())
        die(scannoinput, "cannot read the submission's folder list '" + whole(list) + "': " + std::strerror(got.error));
    const folderlist got = readfolders({"-"}, text);
    if (!got.ok()) die(scanusage, got.refused);
    const std::string beside = list.substr(0, list.find_last_of('/') + 1);
    const std::string failures = failedlist(got.folders);
    sysresult wrote = writefile(beside + "table.tsv.new", table(got.folders, here()), 0666);
    if (wrote.ok()) wrote = sys::rename((beside + "table.tsv.new").c_str(), (beside + "table.tsv").c_str());
    if (wrote.ok()) wrote = writefile(beside + "failed.new", failures, 0666);
    if (wrote.ok()) wrote = sys::rename((beside + "failed.new").c_str(), (beside + "failed").c_str());
    if (!wrote.ok())
        die(scancantcreate,
            "cannot write the table and the failed list in '" + whole(beside) + "': " + std::strerror(wrote.error));
    const long n = std::count(failures.begin(), failures.end(), '\n');
    tell("pairstat-scan: " + plural(static_cast<long>(got.folders.size()), "folder", "folders") + ": " +
         std::to_string(n) + " failed or left no record; the table is '" + whole(beside) + "table.tsv'\n");
    return n == 0 ? 0 : scanfailed;
}

}  // namespace pairstat
