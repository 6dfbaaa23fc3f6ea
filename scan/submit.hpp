// Sending a scan to Slurm as one job array: the folders in blocks, a task a
// block, each task a run of its block as `run` does it, and after the array a
// job that writes the scan's table and its failed list; and the task itself.
#pragma once

#include <string>
#include <vector>

#include "app/constants.hpp"
#include "scan/folders.hpp"
#include "scan/runner.hpp"

namespace pairstat {

// What a folder's run costs on one processor, about: a process started, and
// its data file read at about 150 MB a second (bench/scan's folders: 1.7 ms a
// folder of 4 KiB, 2.9 ms of 210 KiB, on one processor).
inline constexpr double runseconds = 0.002;
inline constexpr double byteseconds = 7e-9;
// A task is worth its scheduling (seconds of the scheduler's time each) only
// with this much work in it: fewer, longer tasks, unless one would take
// longer than this alone.
inline constexpr double taskseconds = 20.0;
// Slurm's default most tasks in an array, where the cluster does not say.
inline constexpr int arraymost = 1001;

// How the folders are shared out among tasks.
struct blocking {
    int folders = 0;
    int block = 0;      // folders a task
    int tasks = 0;
    double work = 0.0;  // the folders' runs, estimated, in seconds on one processor
};

// The blocks for FOLDERS folders whose runs come to WORK seconds, of BLOCK
// folders each where BLOCK is not 0 (-b), else of about taskseconds of work
// each; at most MOST tasks (MaxArraySize), so the block grows where it must.
blocking blocksof(int folders, double work, int block, int most);

// The time limit asked for a task of BLOCK folders of WORK seconds in all,
// on CPUS processors, in minutes: three times its share of the work, and
// the five minutes a run may wait for the results file's lock; at least ten.
long tasktime(const blocking& blocks, int cpus);

// A Slurm time ("30", "1:30:00", "2-12", "2-12:30:00", "UNLIMITED") in
// minutes, rounded up; -1 for unlimited, -2 for a text that is none.
long slurmminutes(const std::string& text);

struct submitoptions {
    int block = 0;                      // folders a task (-b); 0 to choose
    int throttle = 0;                   // tasks running at once (-j); 0 for no cap
    bool wait = false;                  // wait for the scan's end (--wait)
    bool all = false;                   // every folder, up to date or not, appending again
    std::string limit = std::to_string(maxpairs);  // the most pairs the runs read (--pairs), as the record
                                                   // writes it
    std::vector<std::string> sbatch;    // the options passed on to sbatch
    std::vector<std::string> placing;   // those of them the job after the array takes too: all but
                                        // its name, output, time, processors and dependency
    int cpus = 1;                       // processors a task asks for (from -c or --cpus-per-task)
    std::string time;                   // the time limit they set, or empty
    std::string partition;              // the partition they name, or empty
    std::string output;                 // the output file they name, or empty
    bool testonly = false;              // --test-only among them
    std::string pairstat;               // the program the tasks run, absolute
    std::string self;                   // this program, absolute
};

// Submits FOLDERS as a job array, and the job that ends it; returns the exit
// status.
int submitscan(const std::vector<folder>& folders, const submitoptions& options);

// Runs block SLURM_ARRAY_TASK_ID (from 0) of BLOCK folders of the list LIST,
// as `run` does with OPTIONS (but for the runs at once: the processors Slurm
// gives the task); returns the exit status. A list that is gone, or a block
// beyond it, fails the task.
int runtask(const std::string& list, int block, const scanoptions& options);

// The end of a submission: writes the table of the folders in LIST to
// table.tsv beside it, and those `failed` lists to failed; returns 0 where
// every folder's run succeeded, 1 otherwise.
int finishscan(const std::string& list);

}  // namespace pairstat
