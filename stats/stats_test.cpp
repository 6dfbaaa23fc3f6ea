#include "stats/stats.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace pairstat {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct statscase {
    std::vector<double> data;
    double mean;
    double stddev;
};

// Bit for bit: the results depend on the order of every rounding.
const statscase statscases[] = {
    // a sound one pass: these are its own results
    {{0.75, 0.5}, 0.625, 0.1767766952966369},
    {{0.8, 0.8}, 0.8, 0.0},
    {{0.5, 0.5, 0.5}, 0.5, 0.0},
    {{0.1, 0.2, 0.3, 0.4}, 0.25, 0.1290994448735806},
    {{-1.0, 1.0}, 0.0, 1.4142135623730951},
    // equal values whose bracket rounds below zero: the second pass gives
    // exactly no spread
    {{0.8, 0.8, 0.8}, 0.8000000000000002, 0.0},
    // three pairs with a = 1, b = 3: the bare one-pass bracket would give 1.0536712127723509e-08
    {{1.0 - 1.0 / 3.0, 1.0 - 1.0 / 3.0, 1.0 - 1.0 / 3.0}, 0.6666666666666666, 0.0},
    // the bare one-pass bracket would be 4 instead of 2, the spread 1.4142135623730951
    {{1e8, 1e8 + 1, 1e8 + 2}, 100000001.0, 1.0},
    {{inf, 0.5}, inf, nan},
    {{-inf, 0.5}, -inf, nan},
    {{nan, 0.5}, nan, nan},
};

bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

TEST(stats, meanandstddev) {
    for (const statscase& c : statscases) {
        double mean = -1.0;
        double stddev = -1.0;
        calculatemeanandstddev(c.data, mean, stddev);
        EXPECT_PRED2(same, mean, c.mean) << "first value " << c.data[0] << ", count " << c.data.size();
        EXPECT_PRED2(same, stddev, c.stddev) << "first value " << c.data[0] << ", count " << c.data.size();
    }
}

__extension__ typedef __int128 wide;

// The sample standard deviation of finite DATA, from exact integer sums: each
// value is an integer k times the finest unit 2^e that any of them needs, so
// the bracket n * sum(k^2) - (sum k)^2 is exact; k is taken relative to the
// first value to keep the sums small. Only the last square root is rounded.
double exactstddev(const std::vector<double>& data) {
    int finest = std::numeric_limits<int>::max();
    for (double x : data) {
        int e;
        std::frexp(x, &e);
        if (x != 0.0) finest = std::min(finest, e - std::numeric_limits<double>::digits);
    }
    if (finest == std::numeric_limits<int>::max()) return 0.0;
    const wide first = static_cast<wide>(std::ldexp(data[0], -finest));
    wide sum = 0;
    wide squares = 0;
    for (double x : data) {
        const double scaled = std::ldexp(x, -finest);
        EXPECT_LT(std::fabs(scaled), 0x1p62) << "values too far apart for the exact sums";
        const wide k = static_cast<wide>(scaled) - first;
        sum += k;
        squares += k * k;
    }
    const wide n = static_cast<wide>(data.size());
    const wide bracket = n * squares - sum * sum;
    const double variance = static_cast<double>(bracket) / static_cast<double>(n * (n - 1));
    return std::ldexp(std::sqrt(variance), finest);
}

// Series whose spread is small against their mean, where the one pass loses
// most of its digits: the result must be the exact spread to 1e-12.
TEST(stats, smallspreads) {
    std::vector<std::vector<double>> series = {
        {1 - 1e-10 - 1e-12, 1 - 1e-10, 1 - 1e-10 + 1e-12},
        {1 - 1e-10 + 1e-12, 1 - 1e-10 - 1e-12},
        {1e8, 1e8 + 1, 1e8 + 2, 1e8 + 3},
    };
    std::mt19937_64 bits(13);
    for (double base : {1 - 1e-10, 0.3, -3.75, 1e8, 6.02e23, 1e-5}) {
        for (double spread : {1e-6, 1e-9, 1e-12}) {
            for (int n : {2, 3, 10, 100, 1000}) {
                std::vector<double> data;
                for (int i = 0; i < n; ++i) {
                    const double u = static_cast<double>(bits() >> 11) * 0x1p-53;  // [0, 1)
                    data.push_back(base + base * spread * (2 * u - 1));
                }
                series.push_back(data);
            }
        }
    }
    for (const std::vector<double>& data : series) {
        double mean;
        double stddev;
        calculatemeanandstddev(data, mean, stddev);
        const double want = exactstddev(data);
        ASSERT_GT(want, 0.0);
        EXPECT_LE(std::fabs(stddev - want), 1e-12 * want)
            << "first value " << data[0] << ", count " << data.size() << ": " << stddev << " for " << want;
    }
}

}  // namespace
}  // namespace pairstat
