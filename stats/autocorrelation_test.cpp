#include "stats/autocorrelation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
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
constexpr autocorrelation untouched{-7.0, -7.0, -7.0, -7, -7, -7.0};

struct taucase {
    std::vector<double> data;
    autocorrelation want;
    bool warns;
};

const taucase taucases[] = {
    // Computed apart from this code in exact fractions, given to 13 digits.
    // Six levels in turn, three values each: the negative lags pull the
    // windowed estimate down, and the automatic window alone warns (tau is
    // the larger estimate).
    {series(50, [](int i) { return (i / 3) % 6; }), {3.745525038584, 1.466690391459, 3.745525038584, 8, 6, 0.0}, true},
    // a trend: more correlation than half the values can measure
    {series(100, [](int i) { return i; }), {30.99804980498, 30.99804980498, 22.33799518566, 50, 10, 0.0}, true},
    // each value the opposite of the last: the error is too large, not too
    // small, and the automatic window stops at once
    {series(100, [](int i) { return i % 2 ? -1.0 : 1.0; }), {-0.98, -0.98, -1.019801980198, 1, 1, 0.0}, false},
    // nothing to say
    {series(taumincount - 1, [](int i) { return i; }), untouched, false},
    {series(100, [](int) { return 0.8; }), untouched, false},                        // no spread
    {series(100, [](int i) { return i == 40 ? HUGE_VAL : i; }), untouched, false},   // as a NaN would
    {series(100, [](int i) { return i == 0 ? -1e300 : 1e300; }), untouched, false},  // a spread whose square overflows
};

TEST(autocorrelation, estimates) {
    for (const taucase& c : taucases) {
        SCOPED_TRACE(&c - taucases);  // the row
        autocorrelation got = untouched;
        EXPECT_EQ(estimatetau(c.data, got), c.want.window != untouched.window);
        EXPECT_EQ(clearlycorrelated(got, static_cast<int>(c.data.size())), c.warns);
        EXPECT_NEAR(got.windowed, c.want.windowed, 1e-12 * std::fabs(c.want.windowed));
        EXPECT_NEAR(got.gamma, c.want.gamma, 1e-12 * std::fabs(c.want.gamma));
        EXPECT_EQ(std::pair(got.window, got.gammawindow), std::pair(c.want.window, c.want.gammawindow));
    }
}

// The warning's threshold, max(1.5625, 1 + 3 * sqrt(22 / n)), at its edges.
TEST(autocorrelation, threshold) {
    const std::tuple<double, int, bool> edges[] = {
        {1.5625, 10000, true}, {1.56, 10000, false}, {2.5, 88, true}, {2.45, 88, false}};
    for (auto [tau, n, warns] : edges) EXPECT_EQ(clearlycorrelated({tau, tau, tau, 1, 1, 0.0}, n), warns) << tau;
}

}  // namespace
}  // namespace pairstat
