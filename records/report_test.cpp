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
    // where the fixed and the exponent form meet: the shorter wins, ".0"
    // counted, a tie goes to the fixed form
    {1e15, "1e+15"},
    {-1e15, "-1e+15"},
    {123456789012345.0, "123456789012345.0"},
    {-9007199254740992.0, "-9007199254740992.0"},
    {9007199254740993.0e1, "90071992547409940.0"},
    {1.5e16, "1.5e+16"},
    {-12345678901234567e4, "-1.2345678901234567e+20"},
    {123456789012345683968.0, "1.2345678901234568e+20"},
    {-1.2345678901234567e+21, "-1.2345678901234568e+21"},
    {8.000000000000001e21, "8.000000000000001e+21"},
    {1e22, "1e+22"},
    {-1.2e21, "-1.2e+21"},
    {1234.5, "1234.5"},
    {0.001, "0.001"},
    {-0.0001, "-1e-04"},
    {1.25e-5, "1.25e-05"},
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

}  // namespace
}  // namespace pairstat
