#include "stats/stats.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
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

}  // namespace
}  // namespace pairstat
