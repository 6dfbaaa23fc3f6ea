// How well the estimate of tau serves the error of the mean, and how often the
// correlation, drift and start warnings fire, over generated series with fixed
// seeds: false alarms on independent values of nine distributions, detection
// and the errors told on series x(t) = phi * x(t - 1) + noise, the drift and
// start rules on straight drifts, steps and starts that had not settled (with
// three rules for the cut side by side), and runs of one point combined. Every
// table of doc/statistics.md comes from one run of this.
//
//   build/bench/bench/taurates [SERIES] [TABLE]   SERIES a cell, 2000 if not given;
//                                                 TABLE 1 to 6 for one table alone
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "stats/autocorrelation.hpp"
#include "stats/replicas.hpp"
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
        "Independent values, %d series a cell: the share with the correlation warning, then the drift or\n"
        "the start warning\n",
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
                drift[c] += got.drift || got.start;
            }
        }
        std::printf("%-32s", dist.name);
        for (int w : correlated) std::printf(" %9.2f%%", percent(w, seriespercell));
        std::printf("\n%-32s", "  drift or start");
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
        "tau, its spread over the series (half the width of the middle 68%%), the median dtau and its ratio to\n"
        "the spread; the 2nd percentile of the corrected error a flagged run tells (the rest's where start)\n"
        "against the corrected error of all its values, over every series\n",
        seriespercell);
    std::printf("%5s %7s %5s %8s %8s %10s %6s %7s %6s %9s %7s %7s %7s %6s %6s\n", "phi", "tau", "n", "warned",
                "flagged", "corrected", "p10", "told", "p10", "coverage", "tau", "spread", "dtau", "ratio", "bar p2");
    std::uint64_t seed = 2000;
    for (double phi : {0.0, 0.3, 0.5, 0.6, 0.7, 0.9, 0.95, 0.97, 0.99}) {
        for (int n : counts) {
            draws d(++seed);
            int warned = 0, drift = 0, covered = 0;
            std::vector<double> corrected, told, tau, dtau, bar;
            const double truth = ar1error(phi, n);
            for (int k = 0; k < seriespercell; ++k) {
                const struct told t = tell(ar1(d, phi, n));
                warned += t.estimated && t.got.correlated;
                drift += t.estimated && (t.got.drift || t.got.start);
                bar.push_back(t.estimated && t.got.start ? t.got.restcorrected / t.corrected : 1.0);
                covered += std::fabs(t.mean) <= t.corrected;
                corrected.push_back(t.corrected / truth);
                tau.push_back(t.got.tau);
                dtau.push_back(t.got.dtau);
                told.push_back(t.told / truth);
            }
            // The spread of tau: half the width of its middle 68%.
            const double spread = (quantile(tau, 0.84) - quantile(tau, 0.16)) / 2;
            std::printf("%5.2f %7.2f %5d %7.1f%% %7.2f%% %10.3f %6.3f %7.3f %6.3f %8.1f%% %7.2f %7.2f %7.2f %6.2f %6.3f\n",
                        phi, (1.0 + phi) / (1.0 - phi), n, percent(warned, seriespercell),
                        percent(drift, seriespercell), quantile(corrected, 0.5), quantile(corrected, 0.1),
                        quantile(told, 0.5), quantile(told, 0.1), percent(covered, seriespercell), quantile(tau, 0.5),
                        spread, quantile(dtau, 0.5), quantile(dtau, 0.5) / spread, quantile(bar, 0.02));
        }
    }
}

void drifts() {
    const int counts[] = {50, 100, 300, 1000};
    std::printf(
        "\nA straight drift of CHANGE across the run of x(t) = phi * x(t - 1) + noise, the noise's spread 1 /\n"
        "sqrt(1 - phi^2) (one standard deviation), %d series a row: the share that warn of a drift or a\n"
        "start, and of\n"
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
                    drift += t.got.drift || t.got.start;
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


// The rest after a cut of CUT values of X: its mean and the corrected error a
// run of those values alone gives (the error where it has no estimate).
void restof(const std::vector<double>& x, int cut, double& mean, double& corrected) {
    const std::vector<double> rest(x.begin() + cut, x.end());
    const struct told t = tell(rest);
    mean = t.mean;
    corrected = t.corrected;
}

// The cut that leaves the most independent values, (n - k) / tau of the
// values after the first k, over the cuts k = 0, n / 100, 2 n / 100, ... up
// to n / 2 (every cut would cost a whole estimate each).
int mostindependent(const std::vector<double>& x) {
    const int n = static_cast<int>(x.size());
    const int stride = std::max(1, n / 100);
    double best = -1.0;
    int cut = 0;
    for (int k = 0; k <= n / 2; k += stride) {
        const std::vector<double> rest(x.begin() + k, x.end());
        autocorrelation got{};
        if (!pairstat::estimatetau(rest, got)) continue;
        const double independent = (n - k) / std::max(1.0, got.tau);
        if (independent > best) best = independent, cut = k;
    }
    return cut;
}

void starts() {
    std::printf(
        "\nA start that had not settled: x(t) = phi * x(t - 1) + noise + A * sigma * exp(-t / T), T = 10,\n"
        "phi = 0.6, sigma its standard deviation, %d series a row: the share that warn of a start, of a\n"
        "drift; then for each rule of the cut (the marginal standard error rule on single values as the run\n"
        "uses it, the same on batches of 5, the cut that leaves the most independent values), over the\n"
        "series that warn of a start: the share whose cut lies in [10, n / 3], the median cut, the share whose\n"
        "rest's mean lies within the rest's corrected error of the true mean, and the median of the rest's\n"
        "mean less the true mean over the rest's corrected error\n",
        seriespercell);
    std::printf("%4s %5s %7s %7s | %-29s | %-29s | %-29s\n", "A", "n", "start", "drift", "    run's rule (single values)",
                "    batches of 5", "    most independent values");
    std::uint64_t seed = 4000;
    for (double size : {3.0, 10.0, 30.0}) {
        for (int n : {100, 300, 1000}) {
            draws d(++seed);
            const double sigma = 1.0 / std::sqrt(1.0 - 0.36);
            int start = 0, drift = 0;
            int inrange[3] = {}, covered[3] = {};
            std::vector<double> cuts[3], bias[3];
            for (int k = 0; k < seriespercell; ++k) {
                std::vector<double> x = ar1(d, 0.6, n);
                for (int i = 0; i < n; ++i) x[static_cast<std::size_t>(i)] += size * sigma * std::exp(-i / 10.0);
                autocorrelation got{};
                if (!pairstat::estimatetau(x, got)) continue;
                start += got.start;
                drift += got.drift;
                if (!got.start) continue;
                const int cut[3] = {got.cut, pairstat::startcut(x, 5), mostindependent(x)};
                for (int r = 0; r < 3; ++r) {
                    double mean, corrected;
                    restof(x, cut[r], mean, corrected);
                    inrange[r] += cut[r] >= 10 && cut[r] <= n / 3;
                    covered[r] += std::fabs(mean) <= corrected;
                    cuts[r].push_back(cut[r]);
                    bias[r].push_back(mean / corrected);
                }
            }
            std::printf("%4.0f %5d %6.1f%% %6.1f%% |", size, n, percent(start, seriespercell),
                        percent(drift, seriespercell));
            for (int r = 0; r < 3; ++r) {
                if (cuts[r].empty()) {
                    std::printf(" %-29s|", "");
                    continue;
                }
                std::printf(" %6.1f%% %5.0f %6.1f%% %6.2f  |", percent(inrange[r], start), quantile(cuts[r], 0.5),
                            percent(covered[r], start), quantile(bias[r], 0.5));
            }
            std::printf("\n");
        }
    }
}

void steps() {
    std::printf(
        "\nA step of STEP standard deviations at n / 2, and a one-period sine of amplitude STEP, on x(t) =\n"
        "phi * x(t - 1) + noise, %d series a row: the share that warn of a drift, of a start, and of either;\n"
        "the median step measured against the true one\n",
        seriespercell);
    std::printf("%6s %5s %5s %5s %8s %8s %8s %8s\n", "shape", "phi", "step", "n", "drift", "start", "either", "step");
    std::uint64_t seed = 5000;
    for (int shape = 0; shape < 2; ++shape) {
        for (double phi : {0.0, 0.6}) {
            for (double size : shape == 0 ? std::vector<double>{1.0, 2.0, 3.0, 4.0, 8.0} : std::vector<double>{1.5}) {
                for (int n : {100, 300, 1000}) {
                    draws d(++seed);
                    const double sigma = 1.0 / std::sqrt(1.0 - phi * phi);
                    int drift = 0, start = 0;
                    std::vector<double> measured;
                    for (int k = 0; k < seriespercell; ++k) {
                        std::vector<double> x = ar1(d, phi, n);
                        for (int i = 0; i < n; ++i)
                            x[static_cast<std::size_t>(i)] +=
                                shape == 0 ? (i >= n / 2 ? size * sigma : 0.0)
                                           : size * sigma * std::sin(2.0 * std::numbers::pi * i / n);
                        autocorrelation got{};
                        if (!pairstat::estimatetau(x, got)) continue;
                        drift += got.drift;
                        start += got.start;
                        if (got.drift) measured.push_back(got.shift / (size * sigma));
                    }
                    std::printf("%6s %5.2f %5.1f %5d %7.1f%% %7.1f%% %7.1f%% %8.3f\n", shape == 0 ? "step" : "sine",
                                phi, size, n, percent(drift, seriespercell), percent(start, seriespercell),
                                percent(drift + start, seriespercell),
                                shape == 0 && !measured.empty() ? quantile(measured, 0.5) : NAN);
                }
            }
        }
    }
}

void replicas() {
    const int runs = 4;
    const int n = 250;
    const double phi = 0.6;
    std::printf(
        "\n%d runs of one point, each %d values of x(t) = phi * x(t - 1) + noise, phi = %.1f, %d points a\n"
        "row, combined: the combined corrected error against the exact error of the mean of all %d values\n"
        "(median, 10th and 90th percentile), the share of points whose combined mean lies within it of the\n"
        "truth, and the share told inconsistent; SHIFT moves the last run by that many of its own exact\n"
        "errors. Beside them, the mean of the runs' corrected errors, and sqrt(sum of corrected^2) / runs\n",
        runs, n, phi, seriespercell, runs * n);
    std::printf("%6s %10s %6s %6s %9s %13s %9s %9s\n", "shift", "combined", "p10", "p90", "coverage", "inconsistent",
                "mean", "root");
    const double exact = ar1error(phi, n) / std::sqrt(static_cast<double>(runs));
    std::uint64_t seed = 6000;
    for (double shift : {0.0, 3.0, 6.0}) {
        draws d(++seed);
        int covered = 0, inconsistent = 0;
        std::vector<double> ratio, plain, root;
        for (int k = 0; k < seriespercell; ++k) {
            std::vector<pairstat::replica> point;
            double sum = 0.0, squares = 0.0;
            for (int r = 0; r < runs; ++r) {
                std::vector<double> x = ar1(d, phi, n);
                if (r == runs - 1)
                    for (double& v : x) v += shift * ar1error(phi, n);
                const struct told t = tell(x);
                point.push_back({t.mean, t.corrected});
                sum = t.corrected + sum;
                squares = t.corrected * t.corrected + squares;
            }
            pairstat::combined got{};
            if (!pairstat::combine(point, got)) continue;
            ratio.push_back(got.error / exact);
            plain.push_back(sum / runs / exact);
            root.push_back(std::sqrt(squares) / runs / exact);
            covered += std::fabs(got.mean) <= got.error;
            inconsistent += got.inconsistent;
        }
        std::printf("%6.1f %10.3f %6.3f %6.3f %8.1f%% %12.1f%% %9.3f %9.3f\n", shift, quantile(ratio, 0.5),
                    quantile(ratio, 0.1), quantile(ratio, 0.9), percent(covered, seriespercell),
                    percent(inconsistent, seriespercell), quantile(plain, 0.5), quantile(root, 0.5));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) seriespercell = std::max(2, std::atoi(argv[1]));
    const int only = argc > 2 ? std::atoi(argv[2]) : 0;
    void (*const tables[])() = {falsealarms, correlated, drifts, starts, steps, replicas};
    for (int t = 1; t <= static_cast<int>(std::size(tables)); ++t)
        if (only == 0 || only == t) tables[t - 1]();
    return 0;
}
