#include "stats/autocorrelation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace pairstat {
namespace {

// N values, the I-th F(I).
std::vector<double> series(int n, auto f) {
    std::vector<double> x;
    for (int i = 0; i < n; ++i) x.push_back(f(i));
    return x;
}

constexpr autocorrelation untouched{-7.0, -7.0, true, true, -7.0, -7.0, -7};  // what one with nothing to say leaves
struct taucase {
    std::vector<double> data;
    autocorrelation want;
};
double alternate(int i) { return i % 2 ? -1.0 : 1.0; }

const taucase taucases[] = {
    // Computed apart from this code in exact fractions, given to 13 digits.
    // Six levels in turn, three values each: correlated, with no drift.
    {series(50, [](int i) { return (i / 3) % 6; }),
     {3.745525038584, 2.365073910647, true, false, 1.072941176471, 1.566486224899, 6}},
    // each value the opposite of the last: the error is too large, not too
    // small, and the window stops at once
    {series(100, alternate), {-1.019801980198, 0.2884435582662, false, false, -0.05940594059406, 0.346393181872, 1}},
    // the same on a drift: tau is that of the values about the line
    {series(100, [](int i) { return i / 10.0 + alternate(i); }),
     {-1.019801980198, 0.2884435582662, false, true, 9.840594059406, 0.346393181872, 1}},
    // blocks of five at the fewest values: tau 3.75 is within the noise of 20
    {series(taumincount, [](int i) { return (i / 5) % 2; }),
     {3.750995134896, 2.396694911425, false, false, 0.7142857142857, 0.6586328967164, 3}},
    // a step halfway: correlated; too few values against tau to call it a drift
    {series(taumincount, [](int i) { return i / 10; }),
     {5.172653856864, 1.323806086259, true, false, 1.428571428571, 0.3497742510223, 2}},
    // on a line: nothing about it to measure, so tau is the values' own
    {series(taumincount, [](int i) { return i; }), {5.176632056331, 1.321440227448, true, true, 19.0, 0.0, 2}},
    // nothing to say
    {series(taumincount - 1, [](int i) { return i; }), untouched},
    {series(100, [](int) { return 0.8; }), untouched},                        // no spread
    {series(100, [](int i) { return i == 40 ? HUGE_VAL : i; }), untouched},   // as a NaN would
    {series(100, [](int i) { return i == 0 ? -1e300 : 1e300; }), untouched},  // a spread whose square overflows
};

TEST(autocorrelation, estimates) {
    for (const taucase& c : taucases) {
        SCOPED_TRACE(&c - taucases);  // the row
        autocorrelation got = untouched;
        EXPECT_EQ(estimatetau(c.data, got), c.want.window != untouched.window);
        for (auto field :
             {&autocorrelation::tau, &autocorrelation::dtau, &autocorrelation::change, &autocorrelation::changeerror})
            EXPECT_NEAR(got.*field, c.want.*field, 1e-12 * std::fabs(c.want.*field));
        EXPECT_EQ(got.correlated, c.want.correlated);
        EXPECT_EQ(got.drift, c.want.drift);
        EXPECT_EQ(got.window, c.want.window);
    }
}

}  // namespace
}  // namespace pairstat
