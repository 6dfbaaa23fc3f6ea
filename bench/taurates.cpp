// How well the estimate of tau serves the error of the mean, and how often the
// correlation and drift warnings fire, over generated series with fixed seeds:
// false alarms on independent values of nine distributions, detection and the
// errors told on series x(t) = phi * x(t - 1) + noise, and the drift rule on
// straight drifts and on series that do not drift. Every table of
// doc/statistics.md comes from one run of this.
//
//   build/bench/bench/taurates [SERIES]     SERIES a cell, 2000 if not given
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "stats/autocorrelation.hpp"
#include "stats/stats.hpp"

namespace {

using pairstat::autocorrelation;

int seriespercell = 2000;  // the series of each cell: the first argument, if given

// Uniform and normal deviates from a seed, the normals by the polar form
// written out, so every standard library draws the same series (up to the
// last bits of log and sin, which no rate here feels).
class draws {
  public:
    explicit draws(std::uint64_t seed) : bits(seed) {}
    double uniform() { return (static_cast<double>(bits() >> 11) + 0.5) * 0x1p-53; }  // (0, 1)
    double normal() {
        if (hasspare) {
            hasspare = false;
            return spare;
        }
        const double radius = std::sqrt(-2.0 * std::log(uniform()));
        const double angle = 2.0 * std::numbers::pi * uniform();
        spare = radius * std::sin(angle);
        hasspare = true;
        return radius * std::cos(angle);
    }

  private:
    std::mt19937_64 bits;
    double spare = 0.0;
    bool hasspare = false;
};

// One independent value from each distribution.
struct distribution {
    const char* name;
    double (*draw)(draws&);
};
const distribution distributions[] = {
    {"normal", [](draws& d) { return d.normal(); }},
    {"uniform", [](draws& d) { return d.uniform(); }},
    {"exponential", [](draws& d) { return -std::log(d.uniform()); }},
    {"Student t, 2 degrees of freedom", [](draws& d) { return d.normal() / std::sqrt(-std::log(d.uniform())); }},
    {"0 or 1, p = 0.5", [](draws& d) { return d.uniform() < 0.5 ? 1.0 : 0.0; }},
    {"0 or 1, p = 0.05", [](draws& d) { return d.uniform() < 0.05 ? 1.0 : 0.0; }},
    {"lognormal", [](draws& d) { return std::exp(d.normal()); }},
    {"123456789.123 + 1e-7 x normal", [](draws& d) { return 123456789.123 + 1e-7 * d.normal(); }},
    {"0, or 10 with p = 0.01", [](draws& d) { return d.uniform() < 0.01 ? 10.0 : 0.0; }},
};

double percent(int part, int whole) { return 100.0 * part / whole; }

// The value at share P of the way up the sorted values of X.
double quantile(std::vector<double> x, double p) {
    const auto at = x.begin() + static_cast<std::ptrdiff_t>(p * static_cast<double>(x.size() - 1) + 0.5);
    std::nth_element(x.begin(), at, x.end());
    return *at;
}

// What a run of the values X would tell: the warnings, the error in the
// results file and the record's corrected error (the error where there is no
// estimate).
struct told {
    bool estimated = false;
    autocorrelation got{};
    double mean = 0.0;
    double error = 0.0;
    double corrected = 0.0;
    double told = 0.0;  // the corrected error where the correlation warning fires, the error where not
};

told tell(const std::vector<double>& x) {
    told t;
    double stddev;
    pairstat::calculatemeanandstddev(x, t.mean, stddev);
    t.error = stddev / std::sqrt(static_cast<double>(x.size()));
    t.corrected = t.error;
    t.told = t.error;
    t.estimated = pairstat::estimatetau(x, t.got);
    if (t.estimated) {
        t.corrected = t.error * std::sqrt(std::max(1.0, t.got.tau));
        if (t.got.correlated) t.told = t.corrected;
    }
    return t;
}

// A stationary series of N values x(t) = phi * x(t - 1) + noise, with noise
// of spread 1, plus a straight drift from 0 to CHANGE across the run.
std::vector<double> ar1(draws& d, double phi, int n, double change = 0.0) {
    std::vector<double> x(static_cast<std::size_t>(n));
    double v = d.normal() / std::sqrt(1.0 - phi * phi);
    for (int i = 0; i < n; ++i) {
        x[static_cast<std::size_t>(i)] = v + change * i / (n - 1);
        v = phi * v + d.normal();
    }
    return x;
}

// The standard error of the mean of N stationary values of that series:
// variance 1 / (1 - phi^2) times
// (1 + 2 * sum over k = 1 .. n - 1 of (1 - k / n) phi^k) / n, the sum in
// closed form.
double ar1error(double phi, int n) {
    const double variance = 1.0 / (1.0 - phi * phi);
    const double sum = phi / (1.0 - phi) - phi * (1.0 - std::pow(phi, n)) / (n * (1.0 - phi) * (1.0 - phi));
    return std::sqrt(variance * (1.0 + 2.0 * sum) / n);
}

void falsealarms() {
    const int counts[] = {20, 30, 40, 49, 100, 300, 1000};
    std::printf(
        "Independent values, %d series a cell: the share with the correlation warning, then the drift warning\n",
        seriespercell);
    std::printf("%-32s", "distribution");
    for (int n : counts) std::printf(" %6s%-4d", "n = ", n);
    std::printf("\n");
    std::uint64_t seed = 1000;
    for (const distribution& dist : distributions) {
        int correlated[std::size(counts)] = {};
        int drift[std::size(counts)] = {};
        for (std::size_t c = 0; c < std::size(counts); ++c) {
            draws d(++seed);
            for (int k = 0; k < seriespercell; ++k) {
                std::vector<double> x(static_cast<std::size_t>(counts[c]));
                for (double& value : x) value = dist.draw(d);
                autocorrelation got{};
                if (!pairstat::estimatetau(x, got)) continue;
                correlated[c] += got.correlated;
                drift[c] += got.drift;
            }
        }
        std::printf("%-32s", dist.name);
        for (int w : correlated) std::printf(" %9.2f%%", percent(w, seriespercell));
        std::printf("\n%-32s", "  drift");
        for (int w : drift) std::printf(" %9.2f%%", percent(w, seriespercell));
        std::printf("\n");
    }
}

void correlated() {
    const int counts[] = {20, 35, 49, 100, 300, 1000};
    std::printf(
        "\nx(t) = phi * x(t - 1) + noise, %d series a row: the share that warn of correlation, then of a drift;\n"
        "the record's corrected error against the true error of the mean (median and 10th percentile); the\n"
        "error the run tells (the corrected one where it warns, the plain one where not) against the true\n"
        "one; the share whose mean lies within the corrected error of the true mean (ideal 68%%); the median\n"
        "tau, its spread over the series (half the width of the middle 68%%) and the median dtau\n",
        seriespercell);
    std::printf("%5s %7s %5s %8s %8s %10s %6s %7s %6s %9s %7s %7s %7s\n", "phi", "tau", "n", "warned", "drift",
                "corrected", "p10", "told", "p10", "coverage", "tau", "spread", "dtau");
    std::uint64_t seed = 2000;
    for (double phi : {0.0, 0.3, 0.5, 0.7, 0.9, 0.95, 0.99}) {
        for (int n : counts) {
            draws d(++seed);
            int warned = 0, drift = 0, covered = 0;
            std::vector<double> corrected, told, tau, dtau;
            const double truth = ar1error(phi, n);
            for (int k = 0; k < seriespercell; ++k) {
                const struct told t = tell(ar1(d, phi, n));
                warned += t.estimated && t.got.correlated;
                drift += t.estimated && t.got.drift;
                covered += std::fabs(t.mean) <= t.corrected;
                corrected.push_back(t.corrected / truth);
                tau.push_back(t.got.tau);
                dtau.push_back(t.got.dtau);
                told.push_back(t.told / truth);
            }
            // The spread of tau: half the width of its middle 68%.
            std::printf("%5.2f %7.2f %5d %7.1f%% %7.1f%% %10.3f %6.3f %7.3f %6.3f %8.1f%% %7.2f %7.2f %7.2f\n", phi,
                        (1.0 + phi) / (1.0 - phi), n, percent(warned, seriespercell), percent(drift, seriespercell),
                        quantile(corrected, 0.5), quantile(corrected, 0.1), quantile(told, 0.5), quantile(told, 0.1),
                        percent(covered, seriespercell), quantile(tau, 0.5),
                        (quantile(tau, 0.84) - quantile(tau, 0.16)) / 2, quantile(dtau, 0.5));
        }
    }
}

void drifts() {
    const int counts[] = {50, 100, 300, 1000};
    std::printf(
        "\nA straight drift of CHANGE across the run of x(t) = phi * x(t - 1) + noise, the noise's spread 1 /\n"
        "sqrt(1 - phi^2) (one standard deviation), %d series a row: the share that warn of a drift and of\n"
        "correlation; the median change measured against CHANGE and against its error; the record's\n"
        "corrected error against the true error of the mean about the drift (median, 10th percentile)\n",
        seriespercell);
    std::printf("%5s %7s %5s %8s %8s %8s %9s %10s %8s\n", "phi", "change", "n", "drift", "warned", "change", "/ error",
                "corrected", "p10");
    std::uint64_t seed = 3000;
    for (double phi : {0.0, 0.5, 0.9}) {
        for (double sd : {1.0, 3.0}) {
            for (int n : counts) {
                draws d(++seed);
                const double change = sd / std::sqrt(1.0 - phi * phi);
                int drift = 0, warned = 0;
                std::vector<double> measured, z, corrected;
                for (int k = 0; k < seriespercell; ++k) {
                    const struct told t = tell(ar1(d, phi, n, change));
                    drift += t.got.drift;
                    warned += t.got.correlated;
                    measured.push_back(t.got.change / change);
                    z.push_back(t.got.change / t.got.changeerror);
                    corrected.push_back(t.corrected / ar1error(phi, n));
                }
                std::printf("%5.2f %7.2f %5d %7.1f%% %7.1f%% %8.3f %9.2f %10.3f %8.3f\n", phi, sd, n,
                            percent(drift, seriespercell), percent(warned, seriespercell), quantile(measured, 0.5),
                            quantile(z, 0.5), quantile(corrected, 0.5), quantile(corrected, 0.1));
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) seriespercell = std::max(2, std::atoi(argv[1]));
    falsealarms();
    correlated();
    drifts();
    return 0;
}
