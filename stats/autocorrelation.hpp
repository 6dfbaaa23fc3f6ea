// The integrated autocorrelation time of a sequence of values in the order
// they were measured, with its error, whether it is large enough to say the
// values are correlated (the error of their mean then comes out too small by
// about its square root), and whether the values drift.
#pragma once

#include <span>

namespace pairstat {

// What the values say of their correlation and drift.
struct autocorrelation {
    double tau;          // the integrated autocorrelation time, in stored values: about 1 for independent
                         // values (it can come out below 1); the error allowing for it is error * sqrt(tau)
    double dtau;         // its statistical error
    bool correlated;     // the correlation warning's rule fires
    bool drift;          // the drift rule fires
    double change;       // the drift: end of the run minus its start, along the straight line, in the values' units
    double changeerror;  // its error, allowing for the correlation
    int window;          // the window W that tau was summed over
};

// Fewer values than this say too little about their correlation to estimate it.
inline constexpr int taumincount = 20;

// Estimates the autocorrelation of the n values of DATA, in order, from the
// lag sums C(t), the sum of d(i) * d(i + t) over the n - t pairs t apart of
// the deviations d(i) = x(i) - mean; a window is at most n / 2. With
// rho(t) = (C(t) / (n - t)) / (C(0) / n) and
// tauint(W) = 1/2 + rho(1) + ... + rho(W), added in that order, the window is
// the first W at which exp(-W / h) - h / sqrt(W * n) < 0, where
// h = 2 / ln((2 * tauint(W) + 1) / (2 * tauint(W) - 1)) (a tauint(W) at or
// below 1/2 stops at W at once); then
// tau = 2 * (tauint(W) * ((1 + (2 * W + 1) / n) / (1 + 1 / n))), the factor
// taking off the bias that the estimated mean leaves in the sum, and
// dtau = 2 * (|tau| * sqrt(max(0, (W + 1/2) - tauint(W)) / n)). Where no
// window up to n / 2 stops, tau is the one at n / 2, which then understates
// the correlation.
//
// The drift is the straight line through the values, fitted by least
// squares: change = slope * (n - 1), and changeerror its standard error from
// the spread s of the values about the line, with n - 2 degrees of freedom,
// and the tau of the values about the line, tauline:
// (n - 1) * sqrt(s^2 * max(1, tauline) / (n (n^2 - 1) / 12)). The drift rule
// fires where |change| >= (3 + 60 * max(1, tauline) / n) * changeerror; then
// tau and dtau are those of the values about the line (the values' own where
// nothing is left about it), and otherwise those of the values. The correlation rule fires where tau >= 1.5625 (an
// error too small by a factor of 1.25 or more) and tau >= 1 + 3 * sqrt(22 / n).
//
// Costs room for n doubles and about n steps for each lag up to each of the
// two windows, so only a strongly correlated series pays for a long one.
// Returns false, and leaves OUT as it was, with fewer than taumincount
// values, no finite, non-zero spread to measure against, or no room for the
// deviations.
bool estimatetau(std::span<const double> data, autocorrelation& out);

}  // namespace pairstat
