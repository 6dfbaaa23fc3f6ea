#include "stats/replicas.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace pairstat {
namespace {

// Q(a, x) in closed form where a is a whole number or a half: for a = m,
// e^-x (1 + x + ... + x^(m-1) / (m-1)!); for a = m + 1/2,
// erfc(sqrt x) + e^-x (x^(1/2) / Gamma(3/2) + ... + x^(m - 1/2) / Gamma(m + 1/2)).
double closedform(double a, double x) {
    double sum = 0.0;
    if (a == std::floor(a)) {
        double term = 1.0;
        for (int k = 0; k < static_cast<int>(a); ++k) sum += term, term *= x / (k + 1);
        return std::exp(-x) * sum;
    }
    double term = std::sqrt(x) / (std::sqrt(std::numbers::pi) / 2.0);
    for (double b = 1.5; b <= a; b += 1.0) sum += term, term *= x / b;
    return std::erfc(std::sqrt(x)) + std::exp(-x) * sum;
}

TEST(replicas, uppergamma) {
    // Both sides of the switch at x = a + 1, far into either tail.
    for (double a : {0.5, 1.0, 1.5, 2.0, 3.0, 4.5, 10.0, 30.0})
        for (double x : {1e-6, 0.01, 0.5, 1.0, 2.5, a, a + 0.999, a + 1.0, a + 1.001, 3.0 * a + 5.0, 60.0, 200.0}) {
            SCOPED_TRACE(testing::Message() << "a " << a << " x " << x);
            const double want = closedform(a, x);
            EXPECT_NEAR(uppergamma(a, x), want, 1e-13 * want + 1e-300);
        }
    // The chi-squared tables' 1% points: Q(dof / 2, chi2 / 2) = 0.01, to the
    // tables' five digits; a non-integer a against its series' sum.
    const struct { int dof; double chi2; } onepercent[] = {{1, 6.6349}, {2, 9.2103}, {3, 11.3449}, {10, 23.2093}, {30, 50.8922}};
    for (const auto& c : onepercent) EXPECT_NEAR(uppergamma(0.5 * c.dof, 0.5 * c.chi2), 0.01, 2e-6) << c.dof;
    EXPECT_NEAR(uppergamma(0.3, 2.0), 0.0220259808271125, 1e-13);  // by quadrature
    EXPECT_EQ(uppergamma(2.0, 0.0), 1.0);
    EXPECT_EQ(uppergamma(2.0, HUGE_VAL), 0.0);
    for (double bad : {0.0, -1.0, std::nan("")}) EXPECT_TRUE(std::isnan(uppergamma(bad, 1.0)));
    EXPECT_TRUE(std::isnan(uppergamma(1.0, -1.0)));
    EXPECT_TRUE(std::isnan(uppergamma(1.0, NAN)));
}

struct combinecase {
    std::vector<replica> runs;
    bool ok;
    combined want;
};
const combinecase combinecases[] = {
    // weights 1, 4 and 1: mean 4 / 3, error 1 / sqrt(6), chi2 1/9 + 4/9 + 25/9, p = Q(1, 5/3)
    {{{1.0, 1.0}, {1.0, 0.5}, {3.0, 1.0}}, true, {3, 0, 4.0 / 3.0, 1.0 / std::sqrt(6.0), 1.0 / 9.0 + 4.0 / 9.0 + 25.0 / 9.0, 2, std::exp(-5.0 / 3.0), false}},
    // two runs 6 of their errors apart: chi2 18 with one degree of freedom
    {{{0.0, 1.0}, {6.0, 1.0}}, true, {2, 0, 3.0, 1.0 / std::sqrt(2.0), 18.0, 1, std::erfc(3.0), true}},
    // errors far below 1e-154: their squares would underflow, their weights not
    {{{1.0, 1e-200}, {1.0 + 2e-200, 1e-200}}, true, {2, 0, 1.0, 1e-200 / std::sqrt(2.0), 0.0, 1, 1.0, false}},
    // one run: nothing to test
    {{{2.5, 0.1}}, true, {1, 0, 2.5, 0.1, 0.0, 0, NAN, false}},
    // NaN and infinite errors, a NaN and an infinite mean, a negative error: left out
    {{{1.0, NAN}, {5.0, HUGE_VAL}, {NAN, 1.0}, {HUGE_VAL, 1.0}, {3.0, -1.0}, {2.0, 0.5}}, true, {1, 5, 2.0, 0.5, 0.0, 0, NAN, false}},
    // exact runs that agree outweigh the others, which chi2 still counts
    {{{2.0, 0.0}, {2.0, 0.0}, {3.0, 0.5}}, true, {3, 0, 2.0, 0.0, 4.0, 2, std::exp(-2.0), false}},
    {{{3.0, 0.5}, {2.0, 0.0}}, true, {2, 0, 2.0, 0.0, 4.0, 1, std::erfc(std::sqrt(2.0)), false}},  // one alone, second
    // exact runs of one value that their mean, rounded, misses: they agree
    {{{0.1, 0.0}, {0.1, 0.0}, {0.1, 0.0}}, true, {3, 0, 0.30000000000000004 / 3, 0.0, 0.0, 2, 1.0, false}},
    // exact runs that differ: inconsistent
    {{{2.0, 0.0}, {2.5, 0.0}, {2.0, 1.0}}, true, {3, 0, 2.25, 0.0, HUGE_VAL, 2, 0.0, true}},
    // nothing to combine
    {{}, false, {}},
    {{{NAN, 1.0}}, false, {}},
};

TEST(replicas, combine) {
    for (const combinecase& c : combinecases) {
        SCOPED_TRACE(&c - combinecases);  // the row
        combined got{-7, -7, -7.0, -7.0, -7.0, -7, -7.0, true};
        ASSERT_EQ(combine(c.runs, got), c.ok);
        if (!c.ok) {
            EXPECT_EQ(got.runs, -7);  // left as it was
            continue;
        }
        EXPECT_EQ(got.runs, c.want.runs);
        EXPECT_EQ(got.leftout, c.want.leftout);
        EXPECT_EQ(got.dof, c.want.dof);
        for (auto field : {&combined::mean, &combined::error, &combined::chi2, &combined::p}) {
            if (std::isnan(c.want.*field)) {
                EXPECT_TRUE(std::isnan(got.*field));
            } else if (std::isinf(c.want.*field)) {
                EXPECT_EQ(got.*field, c.want.*field);
            } else {
                EXPECT_NEAR(got.*field, c.want.*field, 1e-12 * std::fabs(c.want.*field));
            }
        }
        EXPECT_EQ(got.inconsistent, c.want.inconsistent);
    }
}

}  // namespace
}  // namespace pairstat
