#include "stats/autocorrelation.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "stats/stats.hpp"

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

// Both tests' margins grow on short runs as margin * (1 + short * tau / n +
// (few * tau / n)^4), tau that of the values about the change fitted (marginat
// below). Without a change of level the statistic over its error is about
// normal where the run holds many tau; from runs only a few tau long tau
// comes out low, and the statistic's error with it. The linear term covers
// the noise of tau on short runs; the steep one takes over where the run
// holds fewer than about few tau, where it cannot tell a slow correlation from
// a change of level (at n / tau = few the margin is twice the base).
//
// The line's test: its change over its error. On independent values a
// margin near 3 keeps the false alarms near the normal's 0.2%, and the
// small linear term keeps the power on straight drifts of short runs.
constexpr double linemargin = 3.1;
constexpr double lineshort = 10.0;
constexpr double linefew = 22.0;

// The step's test: the largest of the contrasts over every split is larger
// than any one of them, so its margin is above the line's; and it climbs
// later than the line's, since the tau about a step is noisier and lower
// still on short runs (bench/taurates: with both margins, at most 0.3% of
// runs of 1000 independent values of nine distributions and at most 1% of
// runs of x(t) = phi x(t - 1) + noise from phi = 0 to 0.95 and 100 to 1000
// values fire either test).
constexpr double stepmargin = 4.2;
constexpr double stepshort = 10.0;
constexpr double stepfew = 40.0;

// The shorter part of a split is at least this many values, and this share
// of the run: a few values far out at either end weigh less than a change.
constexpr int leastpart = 5;
constexpr int partshare = 40;

// A start is at most this share of the run; a change later than that is a
// drift, however well the values after it agree.
constexpr int startshare = 3;

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

// A test's margin for TAU over the count SIZE, as the constants above describe
// it: base * (1 + short * (tau / size) + (steep * steep) * (steep * steep)),
// steep = few * (tau / size).
double marginat(double base, double shortness, double few, double tau, double size) {
    const double share = tau / size;
    const double steep = few * share;
    return base * ((1.0 + shortness * share) + (steep * steep) * (steep * steep));
}

// The correlation warning's rule for TAU over N values.
bool correlatedat(double tau, std::size_t n) {
    return tau >= taufloor && tau >= 1.0 + noisemargin * std::sqrt(noisescale / static_cast<double>(n));
}

// The largest step in the deviations D, as estimatetau describes it.
struct step {
    bool fires = false;
    int at = 0;             // the first part's count
    double shift = 0.0;     // the second part's mean less the first's
    double error = 0.0;     // its error, where the test went as far as tau
};

// The split's contrast: the sum SUM of the shorter part's deviations, less
// its value of the same sign farthest out (HIGH the largest, LOW the least of
// them), squared, over K (N - K).
double contrast(double sum, double high, double low, int k, std::size_t n) {
    double rest = sum > 0.0 ? sum - std::max(0.0, high) : sum - std::min(0.0, low);
    // One value carries the whole sum and more: no step at all.
    if (rest * sum < 0.0) rest = 0.0;
    return rest * rest / (static_cast<double>(k) * (static_cast<double>(n) - k));
}

// The step test on the deviations D of the values (their mean about zero),
// whose sum of squares is SQUARES; WORK holds n doubles.
step steptest(std::span<const double> d, double squares, std::span<double> work) {
    const std::size_t n = d.size();
    const int count = static_cast<int>(n);
    const double size = static_cast<double>(n);
    const int least = std::max(leastpart, count / partshare);
    step got;
    // Heads up to half the run, then tails up to the other half, each part's
    // sum and its values farthest out gathered as the part grows.
    double best = 0.0;
    int at = 0;
    double head = 0.0, high = -HUGE_VAL, low = HUGE_VAL;
    for (int k = 1; k <= count / 2; ++k) {
        const double x = d[static_cast<std::size_t>(k - 1)];
        head = x + head;
        high = std::max(high, x);
        low = std::min(low, x);
        if (k < least) continue;
        if (const double c = contrast(head, high, low, k, n); c > best) best = c, at = k;
    }
    double tail = 0.0;
    high = -HUGE_VAL, low = HUGE_VAL;
    for (int m = 1; m < count - count / 2; ++m) {
        const double x = d[n - static_cast<std::size_t>(m)];
        tail = x + tail;
        high = std::max(high, x);
        low = std::min(low, x);
        if (m < least) continue;
        if (const double c = contrast(tail, high, low, m, n); c > best) best = c, at = count - m;
    }
    if (!(best > 0.0)) return got;

    // The deviations about the two parts' own means.
    double first = 0.0, second = 0.0;
    for (int i = 0; i < at; ++i) first = d[static_cast<std::size_t>(i)] + first;
    for (std::size_t i = static_cast<std::size_t>(at); i < n; ++i) second = d[i] + second;
    const double firstmean = first / at;
    const double secondmean = second / (size - at);
    // The least margin is at t = 1, where z is largest: a split that cannot
    // fire there cannot fire at all, and most runs stop here, before any tau.
    // The spread about the step from the sums alone is the same number but
    // for rounding; where it cancels it comes out small and the run goes on.
    got.at = at;
    got.shift = secondmean - firstmean;
    const double least2 = marginat(stepmargin, stepshort, stepfew, 1.0, size);
    const double roughspread = (squares - first * firstmean - second * secondmean) / (size - 2.0);
    if (roughspread > 0.0 && best * size / roughspread < 0.98 * least2 * least2) return got;

    for (std::size_t i = 0; i < n; ++i) work[i] = d[i] - (i < static_cast<std::size_t>(at) ? firstmean : secondmean);
    const double residual = lagsum(work, 0);
    const double spread = residual / (size - 2.0);
    // Values exactly on two levels: the step is all there is.
    if (!(residual > 0.0)) {
        got.fires = true;
        return got;
    }
    // The tau of the deviations about the step, and of the longer part's
    // alone: a start that settles leaves its shape in the shorter part, which
    // the longer part's tau does not see.
    const std::span<const double> about(work.data(), n);
    const std::span<const double> longer = at <= count / 2 ? about.subspan(static_cast<std::size_t>(at))
                                                            : about.first(static_cast<std::size_t>(at));
    double tau = tauof(about, residual).tau;
    if (const double squareslonger = lagsum(longer, 0); squareslonger > 0.0 && longer.size() >= 2)
        tau = std::min(tau, tauof(longer, squareslonger).tau);
    const double t = std::max(1.0, tau);
    const double z = std::sqrt(best * size / (spread * t));
    got.fires = z >= marginat(stepmargin, stepshort, stepfew, t, size);
    got.error = std::sqrt(spread * t * (1.0 / at + 1.0 / (size - at)));
    return got;
}

// estimatetau's whole work on DATA; where LOOKFORSTART, a change of level
// sends the values after the cut through the same tests, and OUT's rest
// fields are set, or else left alone.
bool analyse(std::span<const double> data, bool lookforstart, autocorrelation& out) {
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
    // Every lag's sum reads the deviations again, so they are formed once;
    // the second half of the room holds the deviations about the step.
    const std::unique_ptr<double[]> room(new (std::nothrow) double[2 * n]);
    if (!room) return false;
    const std::span<double> d(room.get(), n);
    const std::span<double> work(room.get() + n, n);
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
    const step shifted = steptest(d, squares, work);
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
    const bool sloped =
        std::fabs(change) >= marginat(linemargin, lineshort, linefew, std::max(1.0, line.tau), count) * changeerror;

    out.tau = values.tau;
    out.dtau = values.dtau;
    out.window = values.window;
    out.correlated = correlatedat(values.tau, n);
    out.change = change;
    out.changeerror = changeerror;
    out.drift = shifted.fires || sloped;
    out.shift = out.shifterror = 0.0;
    out.shiftat = 0;
    if (!lookforstart) return true;

    out.start = false;
    out.cut = 0;
    out.restmean = out.resterror = NAN;
    out.resttau = out.tau;
    out.restdtau = out.dtau;
    out.restcorrected = NAN;
    out.restcorrelated = out.correlated;
    if (!out.drift) return true;
    // A change of level: a start that settled, where the values after the
    // cut show none of their own.
    const int cut = startcut(data, 1);
    if (cut >= 1 && static_cast<std::size_t>(cut) <= n / startshare) {
        const std::span<const double> after = data.subspan(static_cast<std::size_t>(cut));
        autocorrelation settled{};
        if (analyse(after, false, settled) && !settled.drift) {
            double stddev;
            calculatemeanandstddev(after, out.restmean, stddev);
            out.resterror = stddev / std::sqrt(static_cast<double>(after.size()));
            out.resttau = settled.tau;
            out.restdtau = settled.dtau;
            out.restcorrected = out.resterror * std::sqrt(std::max(1.0, settled.tau));
            out.restcorrelated = settled.correlated;
            out.start = true;
            out.cut = cut;
            out.drift = false;
            return true;
        }
    }
    // The step is told only where its own test fired: a drift the line alone
    // found is told by the line.
    if (shifted.fires) {
        out.shift = shifted.shift;
        out.shifterror = shifted.error;
        out.shiftat = shifted.at;
    }
    return true;
}

}  // namespace

bool estimatetau(std::span<const double> data, autocorrelation& out) {
    autocorrelation got{};
    if (!analyse(data, true, got)) return false;
    out = got;
    return true;
}

int startcut(std::span<const double> data, int batch) {
    const std::size_t size = static_cast<std::size_t>(std::max(1, batch));
    const std::size_t batches = data.size() / size;
    if (batches < 4) return 0;
    // The batch means' deviations from their overall mean, summed from the
    // end: the sums over the batches after each cut, in one pass.
    auto batchmean = [&](std::size_t b) {
        double s = 0.0;
        for (std::size_t i = b * size; i < (b + 1) * size; ++i) s = data[i] + s;
        return s / static_cast<double>(size);
    };
    double total = 0.0;
    for (std::size_t b = 0; b < batches; ++b) total = batchmean(b) + total;
    const double level = total / static_cast<double>(batches);
    double s1 = 0.0, s2 = 0.0;
    double best = HUGE_VAL;
    std::size_t cut = 0;
    for (std::size_t b = batches; b-- > 0;) {
        const double x = batchmean(b) - level;
        s1 = x + s1;
        s2 = x * x + s2;
        if (b > batches / 2) continue;
        const double left = static_cast<double>(batches - b);
        const double marginal = (s2 - s1 * s1 / left) / (left * left);
        if (marginal <= best) best = marginal, cut = b;
    }
    return static_cast<int>(cut * size);
}

}  // namespace pairstat
