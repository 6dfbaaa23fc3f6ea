#include "records/resultsfile.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace pairstat {
namespace {

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

const reportline line = resultsline(4.0, 5.0, 0.625, 0.125);
const std::string linetext(line.text, line.length);

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
        scratch dir;
        put(dir / "res.dat", c.held);
        int fd = ::open((dir / "res.dat").c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(cutback(fd, c.before, c.wrote), c.want) << c.held;
        ::close(fd);
        EXPECT_EQ(contents(dir / "res.dat"), c.left) << c.held;
    }
}

// The lock is honoured: while another holds it nothing is appended, the wait
// is told once and ends at its bound; once the lock is let go the line goes
// in. The other holder is an open-file-description lock, which conflicts with
// the run's record lock even within one process, and names no process (0),
// as a holder on another machine of a network file system does not.
TEST(resultsfile, lockbound) {
    scratch dir;
    const std::string name = dir / "res.dat";
    put(name, "");
    resultsfile results;
    ASSERT_TRUE(openresults(results, name.c_str()).ok());
    int other = ::open(name.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);

    std::vector<long> told;
    lockwait wait{std::chrono::milliseconds(50), std::chrono::milliseconds(300),
                  [&told](long holder) { told.push_back(holder); }};
    auto start = std::chrono::steady_clock::now();
    appendoutcome got = appendline(results, line, wait);
    EXPECT_GE(std::chrono::steady_clock::now() - start, wait.bound);
    EXPECT_EQ(got.failed, appendstep::lock);
    EXPECT_EQ(got.error, 0);
    EXPECT_EQ(got.holder, 0);
    EXPECT_EQ(told, std::vector<long>{0});
    EXPECT_EQ(contents(name), "");

    ::close(other);
    told.clear();
    EXPECT_TRUE(appendline(results, line, wait).ok());
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(contents(name), linetext);
}

}  // namespace
}  // namespace pairstat
