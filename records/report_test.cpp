#include "records/report.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>

#include "records/reader.hpp"

namespace pairstat {
namespace {

std::string number(double x) {
    char text[maxnumberlength];
    return std::string(text, formatnumber(x, text));
}

struct numbercase {
    double value;
    const char* want;
};

const numbercase numbercases[] = {
    {4.0, "4.0"},
    {0.625, "0.625"},
    {1.5e-7, "1.5e-07"},
    {0.1767766952966369, "0.1767766952966369"},
    {0.8000000000000002, "0.8000000000000002"},
    {-0.0, "-0.0"},
    {100.0, "100.0"},
    {1e20, "1e+20"},
    {123456789012345683968.0, "123456789012345683968.0"},
    {-1.2345678901234567e+21, "-1234567890123456774144.0"},
    {5e-324, "5e-324"},
    {-2.2250738585072014e-308, "-2.2250738585072014e-308"},
    {std::numeric_limits<double>::infinity(), "Infinity"},
    {-std::numeric_limits<double>::infinity(), "-Infinity"},
    {std::numeric_limits<double>::quiet_NaN(), "NaN"},
};

TEST(report, numbers) {
    for (const numbercase& c : numbercases) EXPECT_EQ(number(c.value), c.want);
}

// Every double the program writes reads back, bit for bit, as the same double.
TEST(report, numbersreadback) {
    std::mt19937_64 random(20261206);
    for (int i = 0; i < 200000; ++i) {
        double x = std::bit_cast<double>(random());
        if (std::isnan(x)) continue;
        std::string text = number(x);
        double back = 0.0;
        ASSERT_TRUE(parsenumber(text.data(), text.data() + text.size(), back)) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(x)) << text;
    }
}

std::string text(const reportline& line) { return std::string(line.text, line.length); }

TEST(report, lines) {
    EXPECT_EQ(text(countline(4.0, 5.0, 2)), " number of conf. for and U/t= 4.0 and beta= 5.0   is 2\n");
    EXPECT_EQ(text(countline(-0.5, 1e-7, 1000)), " number of conf. for and U/t= -0.5 and beta= 1e-07   is 1000\n");
    EXPECT_EQ(text(meanline(0.625, 0.1767766952966369)), " Mean : 0.625 +- 0.1767766952966369\n");
    EXPECT_EQ(text(resultsline(4.0, 5.0, 0.625, 0.125)), " 4.0 5.0 0.625 0.125\n");
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(text(resultsline(-inf, inf, std::nan(""), -2.2250738585072014e-308)),
              " -Infinity Infinity NaN -2.2250738585072014e-308\n");
}

std::string contents(const char* name) {
    std::string out;
    int fd = open(name, O_RDONLY);
    char block[256];
    for (ssize_t n; (n = read(fd, block, sizeof block)) > 0;) out.append(block, static_cast<std::size_t>(n));
    close(fd);
    return out;
}

// Results files as the end-to-end runs expect the program to leave them read
// back through the program's own reader: four numbers a line, and written
// again, the same line to the byte.
TEST(report, resultsfilesreadback) {
    int lines = 0;
    bool infinite = false;
    bool nan = false;
    for (const auto& run : std::filesystem::directory_iterator(RUNSDIR)) {
        for (const auto& file : std::filesystem::directory_iterator(run.path())) {
            std::string name = file.path().filename().string();
            if (name.rfind("expect.", 0) != 0 || name == "expect.console" || name == "expect.status" ||
                name == "expect.stderr")
                continue;
            std::ifstream stream(file.path(), std::ios::binary);
            std::stringstream whole;
            whole << stream.rdbuf();
            const std::string filetext = whole.str();
            inputstream in;
            openmemory(in, filetext.data(), filetext.data() + filetext.size());
            std::istringstream expected(filetext);
            std::string line;
            for (long number = 1; std::getline(expected, line); ++number) {
                double v[4] = {0, 0, 0, 0};
                ASSERT_EQ(readrecord(in, v[0], v[1], v[2], v[3]).status, readstatus::complete) << file.path();
                EXPECT_EQ(in.line, number + 1) << file.path() << ": a record that is not one line";
                EXPECT_EQ(text(resultsline(v[0], v[1], v[2], v[3])), line + "\n") << file.path();
                for (double x : v) {
                    infinite = infinite || std::isinf(x);
                    nan = nan || std::isnan(x);
                }
                ++lines;
            }
            double v[4];
            EXPECT_EQ(readrecord(in, v[0], v[1], v[2], v[3]).status, readstatus::endofinput) << file.path();
        }
    }
    EXPECT_GT(lines, 20);
    EXPECT_TRUE(infinite);
    EXPECT_TRUE(nan);
}

TEST(report, appendskeepswhatthefileholds) {
    char name[] = "/tmp/reporttestXXXXXX";
    int fd = mkstemp(name);
    ASSERT_EQ(write(fd, " 1.0 2.0 3.0 4.0\n", 17), 17);
    close(fd);
    for (int run = 0; run < 2; ++run) {
        resultsfile results;
        ASSERT_EQ(openresults(results, name), 0);
        EXPECT_TRUE(results.regular);
        EXPECT_TRUE(appendline(results, resultsline(4.0, 5.0, 0.625, 0.125)).ok());
        close(results.fd);
    }
    EXPECT_EQ(contents(name), " 1.0 2.0 3.0 4.0\n 4.0 5.0 0.625 0.125\n 4.0 5.0 0.625 0.125\n");
    unlink(name);
}

TEST(report, appendtoafulldevicefails) {
    resultsfile results;
    ASSERT_EQ(openresults(results, "/dev/full"), 0);
    EXPECT_FALSE(results.regular);
    appendoutcome got = appendline(results, resultsline(4.0, 5.0, 0.625, 0.125));
    EXPECT_EQ(got.error, ENOSPC);
    close(results.fd);
}

}  // namespace
}  // namespace pairstat
