#include "scan/runner.hpp"

#include <gtest/gtest.h>

namespace pairstat {
namespace {

// The summary counts every kind of folder, and each warning by how many runs
// gave it, the most first (equal ones by name).
TEST(runner, summary) {
    const struct {
        tally t;
        const char* line;
    } cases[] = {
        {{.folders = 57, .succeeded = 54, .warned = 12, .failed = 3,
          .flags = {{"short", 3}, {"pastlimit", 9}, {"correlated", 3}}},
         "57 folders: 54 succeeded (12 warned: 9 pastlimit, 3 correlated, 3 short), 3 failed, 0 left no record"},
        {{.folders = 60, .passedover = 42, .succeeded = 15, .failed = 2, .norecord = 1, .flags = {}},
         "60 folders: 42 up to date, passed over; 18 to run: 15 succeeded (0 warned), 2 failed, 1 left no record"},
        {{.folders = 1, .passedover = 1, .flags = {}}, "1 folder: 1 up to date, passed over"},
    };
    for (const auto& c : cases) EXPECT_EQ(summary(c.t), c.line);
}

// What a finished run's record adds to the tally.
TEST(runner, count) {
    tally t;
    count(t, parserecord(""));
    count(t, recordview{});
    std::string header(recordheader);
    count(t, parserecord(header + "/f\t65\t\t\t\t\t\t\t\t\t\tbad\t\t\t\t1000\t\t\n"));
    count(t, parserecord(header + "/f\t0\t4.0\t5.0\t2\t0.6\t0.1\t\t\t\tcut,onepair,short\t\t\t\t\t1000\td\tc\n"));
    count(t, parserecord(header + "/f\t0\t4.0\t5.0\t2\t0.6\t0.1\t\t\t\tcut\t\t\t\t\t1000\td\tc\n"));
    count(t, parserecord(header + "/f\t0\t4.0\t5.0\t2\t0.6\t0.1\t\t\t\t\t\t\t\t\t1000\td\tc\n"));
    count(t, parserecord(std::string(recordstart) + "\n/f\t0\t4.0\t5.0\t2\t0.6\t0.1\t\t\t\t\t\n"));  // an older version's
    EXPECT_EQ(t.norecord, 2);
    EXPECT_EQ(t.failed, 1);
    EXPECT_EQ(t.succeeded, 4);
    EXPECT_EQ(t.warned, 2);
    EXPECT_EQ(t.flags, (std::map<std::string, int>{{"cut", 2}, {"onepair", 1}, {"short", 1}}));
}

// The progress line: the time left at the pace so far, in the two largest
// units worth saying.
TEST(runner, progress) {
    using ms = std::chrono::milliseconds;
    EXPECT_EQ(progress(0, 10000, 0, ms(0)), "0 of 10000 folders, 0 failed");
    EXPECT_EQ(progress(1000, 10000, 2, ms(8000)), "1000 of 10000 folders, 2 failed, about 1 min 12 s left");
    EXPECT_EQ(progress(9000, 10000, 0, ms(9000)), "9000 of 10000 folders, 0 failed, about 1 s left");
    EXPECT_EQ(progress(1, 10000, 0, ms(2000)), "1 of 10000 folders, 0 failed, about 5 h 33 min left");
    EXPECT_EQ(progress(1, 1, 1, ms(2000)), "1 of 1 folder, 1 failed");
    EXPECT_EQ(progress(999, 1000, 0, ms(100)), "999 of 1000 folders, 0 failed, about 1 s left");  // never "0 s"
}

}  // namespace
}  // namespace pairstat
