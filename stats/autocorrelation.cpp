#include "stats/autocorrelation.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace pairstat {

namespace {

// The window stops where the part of the correlation it leaves out, about
// exp(-W / h), falls below the noise its sum has taken in, about
// h / sqrt(W * n); h is this factor times the decay time that tauint(W) would
// have if the correlation fell off as exp(-t / time).
constexpr double stopfactor = 2.0;

// The correlation rule: an error too small by a factor of 1.25 at least,
constexpr double taufloor = 1.25 * 1.25;
// and tau above 1 by noisemargin * sqrt(noisescale / n), well beyond the noise
// of tau on independent values: on nine distributions the rule fires on at
// most 0.83% of runs of 20 to 300 values and 0.24% of 1000 (bench/taurates),
// which leaves room for distributions not measured.
constexpr double noisescale = 22.0;
constexpr double noisemargin = 3.0;

// The drift rule: the change at least driftmargin + shortmargin * tau / n
// times its error, tau that of the values about the line. Without a drift the
// change over its error is about normal where the run holds many tau; from
// runs only a few tau long tau comes out low, and the change's error with it,
// so the margin grows there (bench/taurates: 0.6% of series x(t) =
// 0.9 x(t - 1) + noise of 100 values, tau 19, are called drifting).
constexpr double driftmargin = 3.0;
constexpr double shortmargin = 60.0;

// The sum of d(i) * d(i + lag) over the pairs of deviations LAG apart.
double lagsum(std::span<const double> d, std::size_t lag) {
    double sum = 0.0;
    for (std::size_t i = 0; i + lag < d.size(); ++i) sum = d[i] * d[i + lag] + sum;
    return sum;
}

// Whether window W, with TAUINT summed up to it over N values, is where the
// window stops.
bool stops(double tauint, int w, std::size_t n) {
    // No correlation to follow: h below would be zero or undefined.
    if (!(tauint > 0.5)) return true;
    const double h = stopfactor / std::log((2.0 * tauint + 1.0) / (2.0 * tauint - 1.0));
    return std::exp(-static_cast<double>(w) / h) - h / std::sqrt(static_cast<double>(w) * static_cast<double>(n)) < 0.0;
}

struct estimate {
    double tau;
    double dtau;
    int window;
};

// Tau from the deviations D (their mean zero), whose sum of squares SQUARES is
// above zero and finite, as estimatetau describes it.
estimate tauof(std::span<const double> d, double squares) {
    const std::size_t n = d.size();
    const double count = static_cast<double>(n);
    const double variance = squares / count;
    const int widest = static_cast<int>(n / 2);
    double tauint = 0.5;
    int window = 0;
    for (int t = 1; t <= widest; ++t) {
        const double c = lagsum(d, static_cast<std::size_t>(t));
        tauint = (c / (count - t)) / variance + tauint;
        window = t;
        if (stops(tauint, t, n)) break;
    }
    const double bias = (1.0 + (2.0 * window + 1.0) / count) / (1.0 + 1.0 / count);
    const double tau = 2.0 * (tauint * bias);
    // The variance of tauint(W) is about 4 * tauint(W)^2 * (W + 1/2 - tauint(W)) / n,
    // taken with the bias off; each rho(t) up to 1 keeps the bracket positive.
    const double spread = std::max(0.0, (window + 0.5) - tauint);
    return {tau, 2.0 * (std::fabs(tau) * std::sqrt(spread / count)), window};
}

}  // namespace

bool estimatetau(std::span<const double> data, autocorrelation& out) {
    const std::size_t n = data.size();
    if (n < static_cast<std::size_t>(taumincount)) return false;
    double sum = 0.0;
    for (double x : data) sum = x + sum;
    const double mean = sum / static_cast<double>(n);
    // The rounding left in the mean would add the same deviation to every
    // value, which looks like correlation at every lag where the spread is
    // small against the mean (equal values would look wholly correlated):
    // take the mean of the deviations off as well. It is kept apart from the
    // mean, whose last digit may be coarse beside the spread.
    double offset = 0.0;
    for (double x : data) offset = (x - mean) + offset;
    const double rest = offset / static_cast<double>(n);
    // Every lag's sum reads the deviations again, so they are formed once.
    const std::unique_ptr<double[]> room(new (std::nothrow) double[n]);
    if (!room) return false;
    const std::span<double> d(room.get(), n);
    // The slope's sum: the deviations times their place from the middle of the
    // run, (i - (n - 1) / 2), added in order.
    const double middle = (static_cast<double>(n) - 1.0) / 2.0;
    double slopesum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        d[i] = (data[i] - mean) - rest;
        slopesum = (static_cast<double>(i) - middle) * d[i] + slopesum;
    }
    const double squares = lagsum(d, 0);
    // Equal values have nothing to correlate; an infinite or NaN value, or a
    // spread too wide for double, leaves nothing to measure against.
    if (!(squares > 0.0) || !std::isfinite(squares)) return false;

    const double count = static_cast<double>(n);
    const estimate values = tauof(d, squares);
    // The straight line through the values: its slope is slopesum over the
    // sum of (i - middle)^2, n (n^2 - 1) / 12; the change is the slope times
    // n - 1. The deviations become the values' deviations about the line,
    // whose tau the change's error allows for: the values' own tau counts a
    // drift as correlation, and would hide a large drift behind its own error.
    const double places = count * (count * count - 1.0) / 12.0;
    const double slope = slopesum / places;
    const double change = slope * (count - 1.0);
    for (std::size_t i = 0; i < n; ++i) d[i] = d[i] - slope * (static_cast<double>(i) - middle);
    const double residual = lagsum(d, 0);
    estimate line = values;
    if (residual > 0.0) line = tauof(d, residual);
    const double changeerror = (count - 1.0) * std::sqrt(residual / (count - 2.0) * std::max(1.0, line.tau) / places);
    const bool drifts =
        std::fabs(change) >= (driftmargin + shortmargin * std::max(1.0, line.tau) / count) * changeerror;
    // On a drifting run the correlation the error can allow for is that of the
    // values about the line; the drift itself no error of the mean measures.
    const estimate got = drifts ? line : values;
    out.tau = got.tau;
    out.dtau = got.dtau;
    out.window = got.window;
    out.correlated = got.tau >= taufloor && got.tau >= 1.0 + noisemargin * std::sqrt(noisescale / count);
    out.drift = drifts;
    out.change = change;
    out.changeerror = changeerror;
    return true;
}

}  // namespace pairstat
