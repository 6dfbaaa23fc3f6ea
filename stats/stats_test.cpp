#include "stats/stats.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace pairstat {
namespace {

struct statscase {
    std::vector<double> data;
    double mean;
    double stddev;
};

// Bit for bit: the results depend on the order of every rounding.
const statscase statscases[] = {
    {{0.75, 0.5}, 0.625, 0.1767766952966369},  // a sound one pass: its own results
    {{0.8, 0.8}, 0.8, 0.0},
    {{0.5, 0.5, 0.5}, 0.5, 0.0},
    {{0.8, 0.8, 0.8}, 0.8000000000000002, 0.0},   // a bracket below zero
    {{1e8, 1e8 + 1, 1e8 + 2}, 100000001.0, 1.0},  // the one pass alone gives 1.4142135623730951
    // the one pass within a power of two (exact: 7.0710678118654755e199 and
    // 7.071067811865475e-171)
    {{-1e200, -2e200}, -1.5e200, 7.0710678118654718e199},
    {{1e-170, 2e-170}, 1.4999999999999999e-170, 7.0710678118654793e-171},
    // the exact spread (123.934 - 123.456) / sqrt(1000); the one pass alone is off by 1.9e-6
    {[] {
         std::vector<double> x(999, 123.456);
         x.push_back(123.934);
         return x;
     }(),
     123.45647800000195, 0.015115687215604677},
    {{HUGE_VAL, 0.5}, HUGE_VAL, NAN},
    {{NAN, 0.5}, NAN, NAN},
};

bool same(double a, double b) {
    return (a != a && b != b) || std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

TEST(stats, meanandstddev) {
    for (const statscase& c : statscases) {
        double mean = -1.0, stddev = -1.0;
        calculatemeanandstddev(c.data, mean, stddev);
        EXPECT_TRUE(same(mean, c.mean) && same(stddev, c.stddev))
            << c.data.size() << " values from " << c.data[0] << ": " << mean << ", " << stddev;
    }
}

}  // namespace
}  // namespace pairstat
