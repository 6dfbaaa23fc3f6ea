#include "stats/stats.hpp"

#include <cmath>

namespace pairstat {

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
    mean = s / static_cast<double>(static_cast<float>(n));
    double bracket = q - (mean * mean) * static_cast<double>(n);
    // Equal samples can leave the bracket a rounding step below zero; their
    // spread is zero, not NaN. Written as a comparison so a NaN bracket (from
    // an infinite or NaN sample) stays NaN.
    if (bracket < 0.0) bracket = 0.0;
    stddev = std::sqrt(bracket / static_cast<double>(static_cast<float>(n - 1)));
}

}  // namespace pairstat
