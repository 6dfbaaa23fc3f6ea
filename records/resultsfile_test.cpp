#include "records/resultsfile.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "records/inputstream.hpp"
#include "records/recordfile.hpp"

namespace pairstat {
namespace {

// A file of the test's own that holds TEXT, removed with it.
struct scratchfile {
    std::string name = "/tmp/pairstat.XXXXXX";
    explicit scratchfile(const std::string& text) {
        ::close(::mkstemp(name.data()));
        std::ofstream(name, std::ios::binary) << text;
    }
    ~scratchfile() { ::unlink(name.c_str()); }
    std::string contents() const {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// The cut takes back this run's bytes and nothing else: it is made only when
// the file is exactly as long as it was plus those bytes.
TEST(resultsfile, cutback) {
    struct cutcase {
        const char* held;  // what the file holds when the append failed
        long long before;  // its length before the append
        long long wrote;   // bytes the append wrote
        leftfile want;
        const char* left;
    };
    const cutcase cases[] = {
        {"ab\n 4.0", 3, 4, leftfile::asbefore, "ab\n"},
        {"ab\n", 3, 0, leftfile::asbefore, "ab\n"},
        {"ab\n 4.0 9.0\n", 3, 4, leftfile::notcut, "ab\n 4.0 9.0\n"},  // another writer's bytes after ours
        {"a", 3, 4, leftfile::notcut, "a"},                            // cut short meanwhile: no padding
    };
    for (const cutcase& c : cases) {
        scratchfile file(c.held);
        int fd = ::open(file.name.c_str(), O_RDWR);
        EXPECT_EQ(cutback(fd, c.before, c.wrote), c.want) << c.held;
        ::close(fd);
        EXPECT_EQ(file.contents(), c.left) << c.held;
    }
}

// The lock is honoured: while another holds it nothing is appended, the wait
// is told once and ends at its bound; once the lock is let go the line goes
// in. A record's journal held the same way is told as held. The other holder
// is an open-file-description lock, which conflicts with the run's record
// lock even within one process, and names no process (0), as a holder on
// another machine of a network file system does not.
TEST(resultsfile, lockbound) {
    scratchfile file("");
    resultsfile results;
    ASSERT_TRUE(results.open(file.name.c_str()).ok());
    int other = ::open(file.name.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);

    const reportline line = resultsline(4.0, 5.0, 0.625, 0.125);
    std::vector<long> told;
    lockwait wait{std::chrono::milliseconds(50),
                  std::chrono::milliseconds(300),
                  [&told](long holder) { told.push_back(holder); }};
    auto start = std::chrono::steady_clock::now();
    appendoutcome got = results.append(line, wait);
    EXPECT_GE(std::chrono::steady_clock::now() - start, wait.bound);
    EXPECT_EQ(got.failed, appendstep::lock);
    EXPECT_EQ(got.error, 0);
    EXPECT_EQ(got.holder, 0);
    EXPECT_EQ(told, std::vector<long>{0});
    EXPECT_EQ(file.contents(), "");

    ::close(other);
    told.clear();
    EXPECT_TRUE(results.append(line, wait).ok());
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(file.contents(), std::string(line.text, line.length));

    other = ::open(journalname(file.name).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
    journal held;
    const recordoutcome opened = held.open(file.name, wait);
    EXPECT_EQ(opened.problem, recordproblem::held);
    EXPECT_EQ(opened.holder, 0);
    ::close(other);
    ::unlink(journalname(file.name).c_str());
}

// A process started with its standard input closed gets descriptor 0 for the
// next file it opens: a descriptor like any other, read, told apart and closed
// in turn, and never closed by what did not open it.
TEST(resultsfile, descriptorzero) {
    scratchfile file("1\n");
    auto zero = [] { return ::fcntl(STDIN_FILENO, F_GETFD) >= 0; };  // descriptor 0 is open
    std::tuple<resultsfile, journal, recordfile, inputstream>();  // none opened, so none closes
    EXPECT_TRUE(zero());
    const int input = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);
    {
        inputstream data;
        EXPECT_TRUE(data.open(file.name.c_str()).ok());
        EXPECT_EQ(data.peek(), '1');
    }
    EXPECT_FALSE(zero());
    {
        resultsfile results;
        results.open(file.name.c_str());
        EXPECT_TRUE(zero());  // the results file took descriptor 0
    }
    EXPECT_FALSE(zero());
    {
        recordfile made;  // never committed: its unnamed file goes with it
        EXPECT_TRUE(made.start((file.name + ".tsv").c_str(), {}).ok());
    }
    EXPECT_FALSE(zero());
    ::dup2(input, STDIN_FILENO);
    ::close(input);
}

}  // namespace
}  // namespace pairstat
