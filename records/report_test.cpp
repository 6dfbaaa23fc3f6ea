#include "records/report.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "records/number.hpp"
#include "records/reader.hpp"
#include "records/resultsfile.hpp"

namespace pairstat {
namespace {

std::string text(const reportline& line) { return std::string(line.text, line.length); }

// Results files as the end-to-end runs expect the program to leave them, read
// back through the program's own reader: each line gives four numbers that are
// written again as the same line, byte for byte.
TEST(report, resultsfilesreadback) {
    int lines = 0;
    bool infinite = false;
    bool nan = false;
    for (const auto& run : std::filesystem::directory_iterator(RUNSDIR)) {
        for (const auto& file : std::filesystem::directory_iterator(run.path())) {
            std::string name = file.path().filename().string();
            if (!name.starts_with("expect.") || name.ends_with(".console") || name.ends_with(".status") ||
                name.ends_with(".stderr"))
                continue;
            inputstream in;
            ASSERT_EQ(openinput(in, file.path().c_str()), 0);
            std::ifstream expected(file.path());
            double v[4];
            for (std::string line; std::getline(expected, line); ++lines) {
                ASSERT_EQ(readrecord(in, v[0], v[1], v[2], v[3]).status, readstatus::complete) << name;
                EXPECT_EQ(text(resultsline(v[0], v[1], v[2], v[3])), line + "\n") << run.path();
                infinite = infinite || std::isinf(v[2]);
                nan = nan || std::isnan(v[3]);
            }
            EXPECT_EQ(readrecord(in, v[0], v[1], v[2], v[3]).status, readstatus::endofinput) << run.path();
        }
    }
    EXPECT_GT(lines, 20);
    EXPECT_TRUE(infinite && nan);
}

struct printablecase {
    std::string_view name;
    const char* want;
};

const printablecase printablecases[] = {
    {"res.dat", "res.dat"},
    {"out/r 1.dat", "out/r 1.dat"},
    {"\x1b]2;x\x07", "\\x1b]2;x\\x07"},  // an escape sequence that would set a terminal's title
    {"res.dat\t", "res.dat\\x09"},
    {std::string_view("a\0b", 3), "a\\x00b"},
    {"\x7f\x80\xff", "\\x7f\\x80\\xff"},
    {"r\xc3\xa9s", "r\\xc3\\xa9s"},
    {"a\\x41", "a\\\\x41"},  // a backslash of its own can't pass for an escape
};

TEST(report, printable) {
    for (const printablecase& c : printablecases) EXPECT_EQ(printable(c.name), c.want) << c.want;
}

// A folder of its own for a test's files, removed with everything in it.
struct scratch {
    std::filesystem::path path;
    scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pairstat.XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~scratch() { std::filesystem::remove_all(path); }
    std::string operator/(const char* name) const { return (path / name).string(); }
};

std::string contents(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << text;
}

struct opencase {
    const char* name;  // in the scratch folder, unless absolute
    int error;
    unsigned type;
    bool refused, regular, readable;
};

TEST(report, openresults) {
    scratch dir;
    put(dir / "res.dat", " 4.0 5.0 0.625 0.125\n");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
    std::filesystem::create_directory(dir.path / "folder");
    const opencase cases[] = {
        {"res.dat", 0, S_IFREG, false, true, true},
        {"new.dat", 0, S_IFREG, false, true, true},
        {"/dev/null", 0, S_IFCHR, false, false, false},
        {"pipe", ENXIO, S_IFIFO, false, false, false},  // no reader: at once, not waiting for one
        {"folder", EISDIR, S_IFDIR, false, false, false},
        {"no/res.dat", ENOENT, 0, false, false, false},
    };
    for (const opencase& c : cases) {
        std::string name = c.name[0] == '/' ? c.name : dir / c.name;
        resultsfile results;
        openoutcome got = openresults(results, name.c_str());
        EXPECT_EQ(got.error, c.error) << c.name;
        EXPECT_EQ(got.type, c.type) << c.name;
        EXPECT_EQ(got.refused, c.refused) << c.name;
        if (!got.ok()) continue;
        EXPECT_EQ(results.regular, c.regular) << c.name;
        EXPECT_EQ(results.readable, c.readable) << c.name;
        EXPECT_EQ(::fcntl(results.fd, F_GETFL) & O_NONBLOCK, 0) << c.name;
    }
    EXPECT_EQ(contents(dir / "res.dat"), " 4.0 5.0 0.625 0.125\n");
    EXPECT_EQ(contents(dir / "new.dat"), "");
}

struct lineendcase {
    const char* before;
    bool lineend;
};

// Whatever the file ends with, the new line starts on a line of its own, and
// nothing already there changes.
TEST(report, lineend) {
    const lineendcase cases[] = {
        {"", false},
        {" 4.0 4.0 0.5 0.1\n", false},
        {" 4.0 4.0 0.5 0.1", true},
        {" 4.0 4.0 0.5 0.1\r", true},
        {"\n", false},
        {" 4.0", true},
    };
    reportline line = resultsline(4.0, 5.0, 0.625, 0.125);
    for (const lineendcase& c : cases) {
        scratch dir;
        put(dir / "res.dat", c.before);
        resultsfile results;
        ASSERT_TRUE(openresults(results, (dir / "res.dat").c_str()).ok());
        appendoutcome got = appendline(results, line);
        ASSERT_TRUE(got.ok()) << c.before;
        EXPECT_EQ(got.lineend, c.lineend) << c.before;
        EXPECT_EQ(contents(dir / "res.dat"), std::string(c.before) + (c.lineend ? "\n" : "") + text(line));
    }
}

struct cutcase {
    const char* held;  // what the file holds when the append failed
    long long before;  // its length before the append
    long long wrote;   // bytes the append wrote
    leftfile want;
    const char* left;
};

// The cut takes back this run's bytes and nothing else: it is made only when
// the file is exactly as long as it was plus those bytes.
TEST(report, cutback) {
    const cutcase cases[] = {
        {"ab\n 4.0", 3, 4, leftfile::asbefore, "ab\n"},
        {"ab\n", 3, 0, leftfile::asbefore, "ab\n"},
        {"ab\n 4.0 9.0\n", 3, 4, leftfile::notcut, "ab\n 4.0 9.0\n"},  // another writer's bytes after ours
        {"a", 3, 4, leftfile::notcut, "a"},                            // cut short meanwhile: no padding
        {"", 3, 0, leftfile::notcut, ""},
    };
    for (const cutcase& c : cases) {
        scratch dir;
        put(dir / "res.dat", c.held);
        int fd = ::open((dir / "res.dat").c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(cutback(fd, c.before, c.wrote), c.want) << c.held;
        ::close(fd);
        EXPECT_EQ(contents(dir / "res.dat"), c.left) << c.held;
    }
}

// Holds the lock on a file as another holder would: an open-file-description
// lock conflicts with the record lock of a run even within one process, so no
// second process is needed. Such a lock has no process id (F_GETLK gives -1),
// as a lock held through a network file system may not.
struct holder {
    int fd;
    explicit holder(const std::string& name) : fd(::open(name.c_str(), O_RDWR)) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) != 0) letgo();
    }
    void letgo() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    ~holder() { letgo(); }
};

// The lock is honoured: while another holds it nothing is appended, the wait
// is told once (with 0, for a holder the system does not name; the run folder
// resultslocked shows a named one), and it ends at its bound; once the lock is
// let go the line goes in.
TEST(report, lockbound) {
    scratch dir;
    const std::string name = dir / "res.dat";
    put(name, " 4.0 4.0 0.5 0.1\n");
    reportline line = resultsline(4.0, 5.0, 0.625, 0.125);
    resultsfile results;
    ASSERT_TRUE(openresults(results, name.c_str()).ok());

    holder other(name);
    ASSERT_GE(other.fd, 0);
    std::vector<long> told;
    lockwait wait;
    wait.quiet = std::chrono::milliseconds(50);
    wait.bound = std::chrono::milliseconds(200);
    wait.waiting = [&told](long pid) { told.push_back(pid); };
    // A mask inherited from the parent that blocks the timer's signal does not
    // make the wait endless.
    sigset_t alarmonly;
    sigemptyset(&alarmonly);
    sigaddset(&alarmonly, SIGALRM);
    ASSERT_EQ(::sigprocmask(SIG_BLOCK, &alarmonly, nullptr), 0);
    auto start = std::chrono::steady_clock::now();
    appendoutcome got = appendline(results, line, wait);
    auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(::sigprocmask(SIG_UNBLOCK, &alarmonly, nullptr), 0);
    EXPECT_EQ(got.failed, appendstep::lock);
    EXPECT_EQ(got.error, 0);
    EXPECT_EQ(got.holder, 0);  // held, by no process the system names
    EXPECT_EQ(told, std::vector<long>{0});
    EXPECT_GE(waited, wait.quiet + wait.bound);
    EXPECT_EQ(contents(name), " 4.0 4.0 0.5 0.1\n");

    other.letgo();
    told.clear();
    got = appendline(results, line, wait);
    EXPECT_TRUE(got.ok());
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(contents(name), " 4.0 4.0 0.5 0.1\n" + text(line));
    // The wait leaves no timer behind to end the process later.
    struct itimerval timer;
    ASSERT_EQ(::getitimer(ITIMER_REAL, &timer), 0);
    EXPECT_EQ(timer.it_value.tv_sec + timer.it_value.tv_usec + timer.it_interval.tv_usec, 0);
}

}  // namespace
}  // namespace pairstat
