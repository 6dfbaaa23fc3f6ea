// Sending a scan to Slurm as one job array: the folders in blocks, a task a
// block, each task a run of its block as `run` does it; and the task itself.
#pragma once

#include <string>
#include <vector>

#include "scan/folders.hpp"

namespace pairstat {

struct submitoptions {
    int block = 100;                    // folders a task
    std::vector<std::string> sbatch;    // the options passed on to sbatch
    int cpus = 1;                       // processors a task asks for (from -c or --cpus-per-task)
    bool timed = false;                 // the options (or the environment) set a time limit
    std::string pairstat;               // the program the tasks run, absolute
    std::string self;                   // this program, absolute
};

// Submits FOLDERS as a job array; returns the exit status.
int submitscan(const std::vector<folder>& folders, const submitoptions& options);

// Runs block SLURM_ARRAY_TASK_ID (from 0) of BLOCK folders of the list LIST,
// as `run` does, with the processors Slurm gives the task; returns the exit
// status. A list that is gone, or a block beyond it, fails the task.
int runtask(const std::string& list, int block, const std::string& pairstat);

}  // namespace pairstat
