#include "stats/autocorrelation.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace pairstat {

namespace {

// The window is the smallest M with M >= windowfactor * tau(M): long enough to
// take in nearly all of the correlation, short enough to keep the noise of
// the long lags out.
constexpr int windowfactor = 5;

// The automatic window stops where the part of the correlation it leaves out,
// about exp(-W / h), falls below the noise its sum has taken in, about
// h / sqrt(W * n); h is this factor times the decay time that tauint(W) would
// have if the correlation fell off as exp(-t / time).
constexpr double stopfactor = 2.0;

// A warning needs an error too small by a factor of 1.25 at least.
constexpr double taufloor = 1.25 * 1.25;

// Independent values settle on the shortest window, about windowfactor, where
// the windowed estimate's noise is about sqrt(2 * (2 * M + 1) / n); a warning
// needs tau three times that above 1. The automatic window stops sooner on
// them, with less noise. Measured on generated series (bench/taurates), either
// estimate warning, this keeps false alarms to about 1 to 1.5% at 50 to 300
// values and 0.3% at most at 1000.
constexpr double independentnoise = 2 * (2 * windowfactor + 1);
constexpr double noisemargin = 3.0;

// The sum of d(i) * d(i + lag) over the pairs of deviations LAG apart.
double lagsum(std::span<const double> d, std::size_t lag) {
    double sum = 0.0;
    for (std::size_t i = 0; i + lag < d.size(); ++i) sum = d[i] * d[i + lag] + sum;
    return sum;
}

// Whether window W, with TAUINT summed up to it over N values, is where the
// automatic window stops.
bool gammastops(double tauint, int w, std::size_t n) {
    // No correlation to follow: h below would be zero or undefined.
    if (!(tauint > 0.5)) return true;
    const double h = stopfactor / std::log((2.0 * tauint + 1.0) / (2.0 * tauint - 1.0));
    return std::exp(-static_cast<double>(w) / h) - h / std::sqrt(static_cast<double>(w) * static_cast<double>(n)) < 0.0;
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
    double drift = 0.0;
    for (double x : data) drift = (x - mean) + drift;
    const double rest = drift / static_cast<double>(n);
    // Every lag's sum reads the deviations again, so they are formed once.
    const std::unique_ptr<double[]> room(new (std::nothrow) double[n]);
    if (!room) return false;
    const std::span<double> d(room.get(), n);
    for (std::size_t i = 0; i < n; ++i) d[i] = (data[i] - mean) - rest;
    const double squares = lagsum(d, 0);
    // Equal values have nothing to correlate; an infinite or NaN value, or a
    // spread too wide for double, leaves nothing to measure against.
    if (!(squares > 0.0) || !std::isfinite(squares)) return false;

    const double count = static_cast<double>(n);
    const double variance = squares / count;
    const int widest = static_cast<int>(n / 2);
    // Both estimates walk the lags together, each lag's sum formed once. The
    // windowed estimate divides every lag's sum by n, not by its count of
    // pairs: the long lags, which few pairs measure, count for less, and
    // independent values give fewer false alarms. The automatic window divides
    // by the count of pairs and takes off the bias at the end.
    double windowed = 1.0;
    int window = 0;
    bool windowfound = false;
    double tauint = 0.5;
    int gammawindow = 0;
    bool gammafound = false;
    for (int t = 1; t <= widest && !(windowfound && gammafound); ++t) {
        const double c = lagsum(d, static_cast<std::size_t>(t));
        if (!windowfound) {
            windowed = 2.0 * (c / squares) + windowed;
            window = t;
            windowfound = window >= windowfactor * windowed;
        }
        if (!gammafound) {
            tauint = (c / (count - t)) / variance + tauint;
            gammawindow = t;
            gammafound = gammastops(tauint, t, n);
        }
    }
    const double bias = (1.0 + (2.0 * gammawindow + 1.0) / count) / (1.0 + 1.0 / count);
    const double gamma = 2.0 * (tauint * bias);
    const double tau = std::max(windowed, gamma);
    const int used = windowed >= gamma ? window : gammawindow;
    const double dtau = tau * std::sqrt(2.0 * (2.0 * used + 1.0) / count);
    out = {tau, windowed, gamma, window, gammawindow, dtau};
    return true;
}

bool clearlycorrelated(const autocorrelation& got, int n) {
    return got.tau >= taufloor && got.tau >= 1.0 + noisemargin * std::sqrt(independentnoise / n);
}

}  // namespace pairstat
