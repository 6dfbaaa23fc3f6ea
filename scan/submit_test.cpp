#include "scan/submit.hpp"

#include <gtest/gtest.h>

namespace pairstat {
namespace {

// Tasks of tens of seconds of work, more than one only where there is work
// to share; -b as given; never more tasks than the cluster takes.
TEST(submit, blocks) {
    struct blockcase {
        int folders;
        double work;
        int block;  // -b, 0 to choose
        int most;   // MaxArraySize
        int wantblock;
        int wanttasks;
    };
    const blockcase cases[] = {
        {24, 0.05, 0, 1001, 24, 1},
        {10000, 20.3, 0, 1001, 5000, 2},
        {10000, 19.9, 0, 1001, 10000, 1},
        {50000, 100.0, 0, 1001, 10000, 5},
        {50000, 100000.0, 0, 1001, 50, 1000},   // a slow scan: more tasks, within the array
        {50000, 1000000.0, 0, 1001, 50, 1000},  // at the array's most: the block grows instead
        {50000, 1000000.0, 0, 10, 5000, 10},
        {4, 1000.0, 0, 3, 2, 2},                // one folder more than the array's most: blocks of 2
        {7, 100.0, 0, 1001, 2, 4},              // five tasks' work in seven folders
        {10000, 20.3, 1000, 1001, 1000, 10},
        {50000, 1.0, 10, 1001, 10, 5000},       // -b as given, though too many: submit refuses it
    };
    for (const blockcase& c : cases) {
        const blocking got = blocksof(c.folders, c.work, c.block, c.most);
        EXPECT_EQ(got.block, c.wantblock) << c.folders << " " << c.work << " " << c.block;
        EXPECT_EQ(got.tasks, c.wanttasks) << c.folders << " " << c.work << " " << c.block;
    }
}

// A task's time: three times its share of the work on its processors and
// the results file's lock bound, in minutes, at least ten.
TEST(submit, tasktime) {
    EXPECT_EQ(tasktime(blocksof(10, 0.02, 0, 1001), 1), 10);
    EXPECT_EQ(tasktime(blocksof(100000, 400.0, 0, 1001), 1), 10);          // 20 tasks of 20 s: 6 min
    EXPECT_EQ(tasktime(blocksof(100000, 4000.0, 10000, 1001), 1), 20 + 5);  // 400 s a task
    EXPECT_EQ(tasktime(blocksof(100000, 4000.0, 10000, 1001), 4), 10);     // on 4 processors, 100 s
    EXPECT_EQ(tasktime(blocksof(10000, 36000.0, 10000, 1001), 1), 1800 + 5);  // ten hours of work
}

// Slurm's times, as sbatch and scontrol write them, in minutes rounded up.
TEST(submit, slurmtimes) {
    struct timecase {
        const char* text;
        long minutes;
    };
    const timecase cases[] = {
        {"30", 30},          {"30:30", 31},       {"1:30:00", 90},   {"1:30:01", 91},   {"04:00:00", 240},  {"2-12", 3600},
        {"2-12:30", 3630},   {"2-12:30:01", 3631}, {"UNLIMITED", -1}, {"INFINITE", -1},   {"", -2},
        {"1:2:3:4", -2},     {"x", -2},           {"30:", -2},       {"1:30:", -2},           {"-5", -2},        {"1-", -2},         {"0:01", 1},
        {"123456789", 123456789}, {"1234567890", -2},
    };
    for (const timecase& c : cases) EXPECT_EQ(slurmminutes(c.text), c.minutes) << c.text;
}

}  // namespace
}  // namespace pairstat
