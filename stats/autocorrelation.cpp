#include "stats/autocorrelation.hpp"

#include <cmath>

namespace pairstat {

namespace {

// The window is the smallest M with M >= windowfactor * tau(M): long enough to
// take in nearly all of the correlation, short enough to keep the noise of
// the long lags out.
constexpr int windowfactor = 5;

// A warning needs an error too small by a factor of 1.25 at least.
constexpr double taufloor = 1.25 * 1.25;

// Independent values settle on the shortest window, about windowfactor, where
// the estimate's noise is about sqrt(2 * (2 * M + 1) / n); a warning needs tau
// three times that above 1. Measured on generated series, this keeps false
// alarms to about 1% at 100 values and 0.1 to 0.2% at 1000.
constexpr double independentnoise = 2 * (2 * windowfactor + 1);
constexpr double noisemargin = 3.0;

// The sum of (x(i) - mean)(x(i + lag) - mean) over the pairs LAG apart.
double lagsum(std::span<const double> data, double mean, std::size_t lag) {
    double sum = 0.0;
    for (std::size_t i = 0; i + lag < data.size(); ++i) sum = (data[i] - mean) * (data[i + lag] - mean) + sum;
    return sum;
}

}  // namespace

bool estimatetau(std::span<const double> data, autocorrelation& out) {
    const std::size_t n = data.size();
    if (n < static_cast<std::size_t>(taumincount)) return false;
    double sum = 0.0;
    for (double x : data) sum = x + sum;
    double mean = sum / static_cast<double>(n);
    // The rounding left in the mean would add the same deviation to every
    // value, which looks like correlation at every lag where the spread is
    // small against the mean (equal values would look wholly correlated):
    // take the mean of the deviations off once more.
    double drift = 0.0;
    for (double x : data) drift = (x - mean) + drift;
    mean = drift / static_cast<double>(n) + mean;
    // Every lag's sum is divided by n, not by its count of pairs: the long lags,
    // which few pairs measure, count for less, and independent values give
    // fewer false alarms.
    const double squares = lagsum(data, mean, 0);
    // Equal values have nothing to correlate; an infinite or NaN value, or a
    // spread too wide for double, leaves nothing to measure against.
    if (!(squares > 0.0) || !std::isfinite(squares)) return false;

    const int widest = static_cast<int>(n / 2);
    double tau = 1.0;
    int window = 0;
    while (window < widest) {
        ++window;
        tau = 2.0 * (lagsum(data, mean, static_cast<std::size_t>(window)) / squares) + tau;
        if (window >= windowfactor * tau) break;
    }
    out = {tau, window};
    return true;
}

bool clearlycorrelated(const autocorrelation& got, int n) {
    return got.tau >= taufloor && got.tau >= 1.0 + noisemargin * std::sqrt(independentnoise / n);
}

}  // namespace pairstat
