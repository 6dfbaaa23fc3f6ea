#include "stats/stats.hpp"

#include <algorithm>
#include <cmath>

namespace pairstat {

namespace {

// The bracket of the one pass is kept while at least half of its digits
// survive the subtraction counting the rounding of the n steps of each sum:
// at or above q * n * 2^-26.
constexpr double keptfraction = 0x1p-26;

// Where q lies in [1 / safeq, safeq], no sum, square or product of the one
// pass or of the deviations overflows, and no square that matters underflows,
// for any count below 2^18.
constexpr double safeq = 0x1p900;

// Values are scaled by at most 2^1020 or 2^-1020, powers of two that are
// themselves normal doubles.
constexpr int widestscale = 1020;

// The bracket s2 - (s1 * s1) / n over the deviations from MEAN of the values
// times SCALE. The deviations are small where this is called, so their
// squares keep the digits that q - (mean * mean) * n lost; s1 is the rounding
// left in the mean, and taking it off mends what that rounding adds to s2.
double deviationbracket(std::span<const double> data, double scale, double mean, double ndivisor) {
    double s1 = 0.0;
    double s2 = 0.0;
    for (double x : data) {
        const double d = x * scale - mean;
        s1 = d + s1;
        s2 = d * d + s2;
    }
    return s2 - (s1 * s1) / ndivisor;
}

// The mean and spread of the values of DATA times SCALE, a power of two;
// returns their sum of squares q.
double scaledspread(std::span<const double> data, double scale, double& mean, double& stddev) {
    const int n = static_cast<int>(data.size());
    double s = 0.0;
    double q = 0.0;
    for (double x : data) {
        const double y = x * scale;
        s = y + s;
        q = y * y + q;
    }
    // The divisors pass through single precision, the factor n does not; all
    // are exact for any count below 2^24, far above the scan limit.
    const double ndivisor = static_cast<double>(static_cast<float>(n));
    mean = s / ndivisor;
    double bracket = q - (mean * mean) * static_cast<double>(n);
    // Written as a comparison so that a NaN bracket (from an infinite or NaN
    // value) stays NaN; every bracket below zero takes the second pass.
    if (bracket < q * static_cast<double>(n) * keptfraction) bracket = deviationbracket(data, scale, mean, ndivisor);
    // Equal values can leave a bracket a rounding step below zero; their
    // spread is zero, not NaN.
    if (bracket < 0.0) bracket = 0.0;
    stddev = std::sqrt(bracket / static_cast<double>(static_cast<float>(n - 1)));
    return q;
}

}  // namespace

void calculatemeanandstddev(std::span<const double> data, double& mean, double& stddev) {
    const double q = scaledspread(data, 1.0, mean, stddev);
    if (q >= 1.0 / safeq && q <= safeq) return;
    // Squares that overflowed or underflowed: with every value finite and one
    // not zero, bring the largest to about 1 by a power of two, which changes
    // no digit, and take the results back by its inverse.
    double largest = 0.0;
    for (double x : data) {
        if (!std::isfinite(x)) return;
        largest = std::fmax(largest, std::fabs(x));
    }
    if (largest == 0.0) return;
    int exponent;
    std::frexp(largest, &exponent);
    const int shift = std::clamp(exponent, -widestscale, widestscale);
    scaledspread(data, std::ldexp(1.0, -shift), mean, stddev);
    mean = mean * std::ldexp(1.0, shift);
    stddev = stddev * std::ldexp(1.0, shift);
}

}  // namespace pairstat
