#include "stats/autocorrelation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace pairstat {
namespace {

// N values, the I-th F(I).
std::vector<double> series(int n, auto f) {
    std::vector<double> x;
    for (int i = 0; i < n; ++i) x.push_back(f(i));
    return x;
}

// What an estimate that has nothing to say leaves as it was.
constexpr autocorrelation untouched{-7.0, -7.0, -7.0, -7, -7};

struct taucase {
    std::vector<double> data;
    autocorrelation want;
};

const taucase taucases[] = {
    // Computed apart from this code, in exact fractions; both warn. Six levels
    // in turn, three values each: the negative lags pull the windowed estimate
    // down, and the automatic window alone warns.
    {series(50, [](int i) { return (i / 3) % 6; }), {3.7455250385837067, 1.4666903914590748, 3.7455250385837067, 8, 6}},
    // a trend: more correlation than half the values can measure
    {series(100, [](int i) { return i; }), {30.998049804980496, 30.998049804980496, 22.337995185657178, 50, 10}},
    // nothing to say
    {series(taumincount - 1, [](int i) { return i; }), untouched},
    {series(100, [](int) { return 0.8; }), untouched},                        // no spread
    {series(100, [](int i) { return i == 40 ? HUGE_VAL : i; }), untouched},   // as a NaN would
    {series(100, [](int i) { return i == 0 ? -1e300 : 1e300; }), untouched},  // a spread whose square overflows
};

TEST(autocorrelation, estimates) {
    for (const taucase& c : taucases) {
        autocorrelation got = untouched;
        const bool estimated = estimatetau(c.data, got);
        EXPECT_EQ(estimated, c.want.window != untouched.window) << c.data.size() << " values from " << c.data[0];
        EXPECT_TRUE(!estimated || clearlycorrelated(got, static_cast<int>(c.data.size())));
        EXPECT_NEAR(got.tau, c.want.tau, 1e-12 * std::fabs(c.want.tau));
        EXPECT_NEAR(got.windowed, c.want.windowed, 1e-12 * std::fabs(c.want.windowed));
        EXPECT_NEAR(got.gamma, c.want.gamma, 1e-12 * std::fabs(c.want.gamma));
        EXPECT_EQ(std::pair(got.window, got.gammawindow), std::pair(c.want.window, c.want.gammawindow));
    }
}

}  // namespace
}  // namespace pairstat
