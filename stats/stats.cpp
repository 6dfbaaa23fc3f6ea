#include "stats/stats.hpp"

#include <cmath>

namespace pairstat {

namespace {

// The bracket of the one pass is kept while at least half of its digits
// survive the subtraction: at or above q * 2^-26.
constexpr double keptfraction = 0x1p-26;

// The bracket s2 - (s1 * s1) / n over the deviations from MEAN. The deviations
// are small where this is called, so their squares keep the digits that
// q - (mean * mean) * n lost; s1 is the rounding left in the mean, and taking
// it off mends what that rounding adds to s2.
double deviationbracket(std::span<const double> data, double mean, double ndivisor) {
    double s1 = 0.0;
    double s2 = 0.0;
    for (double x : data) {
        const double d = x - mean;
        s1 = d + s1;
        s2 = d * d + s2;
    }
    return s2 - (s1 * s1) / ndivisor;
}

}  // namespace

void calculatemeanandstddev(std::span<const double> data, double& mean, double& stddev) {
    const int n = static_cast<int>(data.size());
    double s = 0.0;
    double q = 0.0;
    for (double x : data) {
        s = x + s;
        q = x * x + q;
    }
    // The divisors pass through single precision, the factor n does not; all
    // are exact for any count below 2^24, far above the scan limit.
    const double ndivisor = static_cast<double>(static_cast<float>(n));
    mean = s / ndivisor;
    double bracket = q - (mean * mean) * static_cast<double>(n);
    // Written as a comparison so that a NaN bracket (from an infinite or NaN
    // value) stays NaN; every bracket below zero takes the second pass.
    if (bracket < q * keptfraction) bracket = deviationbracket(data, mean, ndivisor);
    // Equal values can leave a bracket a rounding step below zero; their
    // spread is zero, not NaN.
    if (bracket < 0.0) bracket = 0.0;
    stddev = std::sqrt(bracket / static_cast<double>(static_cast<float>(n - 1)));
}

}  // namespace pairstat
