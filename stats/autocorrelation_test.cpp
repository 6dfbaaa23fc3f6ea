#include "stats/autocorrelation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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
// The fields of a run with a change of level: the largest step, or the rest after the cut.
autocorrelation shifted(autocorrelation a, double shift, double shifterror, int shiftat) {
    a.shift = shift, a.shifterror = shifterror, a.shiftat = shiftat;
    return a;
}
autocorrelation started(autocorrelation a, int cut, double restmean, double resterror, double resttau, double restdtau) {
    a.start = true, a.cut = cut, a.restmean = restmean, a.resterror = resterror, a.resttau = resttau;
    a.restdtau = restdtau, a.restcorrected = resterror * std::sqrt(std::max(1.0, resttau));
    return a;
}

const taucase taucases[] = {
    // Computed apart from this code, in exact fractions or in a second
    // program of the formulas, given to 13 digits.
    // Six levels in turn, three values each: correlated, with no change of level.
    {series(50, [](int i) { return (i / 3) % 6; }),
     {3.745525038584, 2.365073910647, true, false, 1.072941176471, 1.566486224899, 6}},
    // each value the opposite of the last: the error is too large, not too
    // small, and the window stops at once
    {series(100, alternate), {-1.019801980198, 0.2884435582662, false, false, -0.05940594059406, 0.346393181872, 1}},
    // the same on a drift: tau is the values' own, which the drift raises;
    // the line finds it, and the step between the halves (5, against its
    // error 1.13 from the tau about it) does not fire, so none is told
    {series(100, [](int i) { return i / 10.0 + alternate(i); }),
     {24.11896717934, 8.007987109748, true, true, 9.840594059406, 0.346393181872, 12}},
    // blocks of five at the fewest values: tau 3.75 is within the noise of 20
    {series(taumincount, [](int i) { return (i / 5) % 2; }),
     {3.750995134896, 2.396694911425, false, false, 0.7142857142857, 0.6586328967164, 3}},
    // a straight drift of 3 across 51 values that alternate: the line's change
    // is 6.2 times its error, past the margin of 3.8 at 51 independent
    // values; the step between the halves is too small to fire, and untold
    {series(51, [](int i) { return alternate(i) + 3.0 * i / 50; }),
     {0.7457440621503, 0.2230826231434, false, true, 3.0, 0.4851682934367, 1}},
    // a step halfway, on two levels exactly: a drift, however few the values
    {series(taumincount, [](int i) { return i / 10; }),
     shifted({5.172653856864, 1.323806086259, true, true, 1.428571428571, 0.3497742510223, 2}, 1.0, 0.0, 10)},
    // a step of 4 halfway on values that alternate: the step and its error
    // sqrt(60 / 58 * (1 / 30 + 1 / 30)) about the two levels
    {series(60, [](int i) { return alternate(i) + (i >= 30 ? 4.0 : 0.0); }),
     shifted({14.59534134953, 6.213718021253, true, true, 5.803278688525, 0.6480041420228, 8}, 4.0, 0.2626128657194,
             30)},
    // 8 values 6 above the rest at the start: leave them out, and the rest is
    // 52 values that alternate, mean 0 and error sqrt(52 / 51) / sqrt(52)
    {series(60, [](int i) { return alternate(i) + (i < 8 ? 6.0 : 0.0); }),
     started({8.770214124317, 5.07667590843, true, false, -4.190163934426, 2.326832695188, 8}, 8, 0.0, 0.140028008402801,
             -1.037735849057, 0.4070334880226)},
    // on a line: nothing about it to measure, so tau is the values' own; the
    // step between the halves is too small against the spread about it to
    // fire, and is not told
    {series(taumincount, [](int i) { return i; }),
     {5.176632056331, 1.321440227448, true, true, 19.0, 0.0, 2}},
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
        for (auto field : {&autocorrelation::tau, &autocorrelation::dtau, &autocorrelation::change,
                           &autocorrelation::changeerror, &autocorrelation::shift, &autocorrelation::shifterror})
            EXPECT_NEAR(got.*field, c.want.*field, 1e-12 * std::fabs(c.want.*field));
        EXPECT_EQ(got.correlated, c.want.correlated);
        EXPECT_EQ(got.drift, c.want.drift);
        EXPECT_EQ(got.window, c.want.window);
        EXPECT_EQ(got.shiftat, c.want.shiftat);
        EXPECT_EQ(got.start, c.want.start);
        EXPECT_EQ(got.cut, c.want.cut);
        if (!c.want.start || c.want.window == untouched.window) continue;
        for (auto field : {&autocorrelation::restmean, &autocorrelation::resterror, &autocorrelation::resttau,
                           &autocorrelation::restdtau, &autocorrelation::restcorrected})
            EXPECT_NEAR(got.*field, c.want.*field, 1e-12 * std::fabs(c.want.*field));
    }
}

// The marginal standard error rule: the cut that leaves values whose spread
// over their count squared is least, on single values and on batches.
TEST(autocorrelation, startcut) {
    const std::vector<double> settles = series(60, [](int i) { return alternate(i) + (i < 8 ? 6.0 : 0.0); });
    EXPECT_EQ(startcut(settles, 1), 8);
    EXPECT_EQ(startcut(settles, 5), 10);  // the second batch holds the last 3 of the start
    EXPECT_EQ(startcut(series(60, alternate), 1), 0);
    EXPECT_EQ(startcut(series(19, alternate), 5), 0);  // fewer than 4 batches
    // a start of half the run: the largest cut there is
    EXPECT_EQ(startcut(series(20, [](int i) { return i < 10 ? 5.0 : alternate(i); }), 1), 10);
}

// A change of level in the first or the last few values, on two levels
// exactly: the shortest part a split may have is 5 values, or a fortieth of
// the run, and a part that short is still seen where it is.
TEST(autocorrelation, shortestpart) {
    const struct {
        int n, from, to;  // values from..to-1 one above the rest
    } cases[] = {{40, 0, 5}, {40, 35, 40}, {400, 0, 10}, {400, 390, 400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n * 1000 + c.from);
        autocorrelation got{};
        ASSERT_TRUE(estimatetau(series(c.n, [&](int i) { return i >= c.from && i < c.to ? 1.0 : 0.0; }), got));
        EXPECT_TRUE(got.drift);
        EXPECT_EQ(got.shiftat, c.from == 0 ? c.to : c.from);
        EXPECT_EQ(got.shift, c.from == 0 ? -1.0 : 1.0);
    }
}

}  // namespace
}  // namespace pairstat
