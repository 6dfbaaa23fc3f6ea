// The integrated autocorrelation time of a sequence of values in the order
// they were measured, and whether it is large enough to say the values are
// correlated: the error of their mean then comes out too small by about the
// square root of that time.
#pragma once

#include <span>

namespace pairstat {

struct autocorrelation {
    double tau;  // integrated autocorrelation time: about 1 for independent values
    int window;  // the window M it was summed over
};

// Fewer values than this say too little about their correlation to estimate it.
inline constexpr int taumincount = 50;

// Estimates the integrated autocorrelation time of DATA, in order:
// tau(M) = 1 + 2 * (rho(1) + ... + rho(M)), with rho(t) = C(t) / C(0) and
// C(t) the sum of (x(i) - mean)(x(i + t) - mean) over the pairs t apart,
// divided by n, for the smallest window M with M >= 5 * tau(M). A window is at most
// n / 2; a series that needs a longer one gets tau of that widest window,
// which then understates its correlation. Costs about n * M steps, so only a
// strongly correlated series pays for a long window. Returns false, and leaves
// OUT as it was, with fewer than taumincount values or no finite, non-zero
// spread to measure against.
bool estimatetau(std::span<const double> data, autocorrelation& out);

// Whether an estimate from N values says plainly that they are correlated:
// tau at least 1.5625 (an error too small by a factor of 1.25 or more) and
// beyond the noise that independent values give the estimate at that count.
bool clearlycorrelated(const autocorrelation& got, int n);

}  // namespace pairstat
