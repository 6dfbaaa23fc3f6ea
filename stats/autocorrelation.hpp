// The integrated autocorrelation time of a sequence of values in the order
// they were measured, and whether it is large enough to say the values are
// correlated: the error of their mean then comes out too small by about the
// square root of that time.
#pragma once

#include <span>

namespace pairstat {

// Two estimates of the integrated autocorrelation time, each about 1 for
// independent values, and the windows they were summed over.
struct autocorrelation {
    double tau;       // the larger of the two estimates: the error is too small by about sqrt(tau)
    double windowed;  // the self-consistent window estimate
    double gamma;     // the automatic-windowing estimate
    int window;       // its window M
    int gammawindow;  // its window W
    double dtau;      // the statistical error of tau: tau * sqrt(2 * (2 * W + 1) / n), W its window
};

// Fewer values than this say too little about their correlation to estimate it.
inline constexpr int taumincount = 50;

// Estimates the integrated autocorrelation time of the n values of DATA, in
// order, twice. Both rest on the lag sums C(t), the sum of
// (x(i) - mean)(x(i + t) - mean) over the n - t pairs t apart, each formed
// once for both; a window is at most n / 2.
//
// windowed: 1 + 2 * (C(1) / C(0)) + ... + 2 * (C(M) / C(0)), added in that
// order (each lag's sum in effect divided by n), over the smallest window M
// with M >= 5 * windowed(M).
//
// gamma: with rho(t) = (C(t) / (n - t)) / (C(0) / n) and
// tauint(W) = 1/2 + rho(1) + ... + rho(W), added in that order, the first
// window W at which exp(-W / h) - h / sqrt(W * n) < 0, where
// h = 2 / ln((2 * tauint(W) + 1) / (2 * tauint(W) - 1)) (a tauint(W) at or
// below 1/2 stops at W at once); then
// gamma = 2 * (tauint(W) * ((1 + (2 * W + 1) / n) / (1 + 1 / n))), the factor
// taking off the bias that the estimated mean leaves in the sum.
//
// Where no window up to n / 2 meets an estimate's test, that estimate is the
// one at the window n / 2, which then understates the correlation. Costs room
// for n doubles and about n steps for each lag up to the wider of the two
// windows, so only a strongly correlated series pays for a long one. Returns
// false, and leaves OUT as it was, with fewer than taumincount values, no
// finite, non-zero spread to measure against, or no room for the deviations.
bool estimatetau(std::span<const double> data, autocorrelation& out);

// Whether an estimate from N values says plainly that they are correlated:
// tau (the larger estimate) at least 1.5625 (an error too small by a factor
// of 1.25 or more) and beyond the noise that independent values give the
// estimates at that count.
bool clearlycorrelated(const autocorrelation& got, int n);

}  // namespace pairstat
