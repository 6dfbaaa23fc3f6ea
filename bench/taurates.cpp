// How often the correlation warning fires, and how good the error it suggests
// is, over generated series with fixed seeds: false alarms on independent
// values of eight distributions, detection and the allowed-for error on
// series x(t) = phi * x(t - 1) + noise, and detection of a slow drift.
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

constexpr int counts[] = {50, 100, 300, 1000};
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
};

// Which of the rules warn on DATA: the windowed estimate alone, the automatic
// window's alone, and either (the program's warning). All false where there
// is no estimate.
struct verdict {
    bool windowed = false;
    bool gamma = false;
    bool either = false;
    double tau = 0.0;
};

verdict judge(const std::vector<double>& data) {
    verdict v;
    autocorrelation got{};
    if (!pairstat::estimatetau(data, got)) return v;
    const int n = static_cast<int>(data.size());
    autocorrelation alone = got;
    alone.tau = got.windowed;
    v.windowed = pairstat::clearlycorrelated(alone, n);
    alone.tau = got.gamma;
    v.gamma = pairstat::clearlycorrelated(alone, n);
    v.either = pairstat::clearlycorrelated(got, n);
    v.tau = got.tau;
    return v;
}

double percent(int part, int whole) { return 100.0 * part / whole; }

// A stationary series of N values x(t) = phi * x(t - 1) + noise, with noise
// of spread 1.
std::vector<double> ar1(draws& d, double phi, int n) {
    std::vector<double> x(static_cast<std::size_t>(n));
    double v = d.normal() / std::sqrt(1.0 - phi * phi);
    for (double& value : x) {
        value = v;
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
    std::printf("False alarms: share of %d series of independent values that warn\n", seriespercell);
    std::printf("%-32s", "distribution");
    for (int n : counts) std::printf(" %7s%-4d", "n = ", n);
    std::printf("\n");
    std::uint64_t seed = 1000;
    for (const distribution& dist : distributions) {
        std::printf("%-32s", dist.name);
        for (int n : counts) {
            draws d(++seed);
            int warned = 0;
            for (int k = 0; k < seriespercell; ++k) {
                std::vector<double> x(static_cast<std::size_t>(n));
                for (double& value : x) value = dist.draw(d);
                warned += judge(x).either;
            }
            std::printf(" %10.2f%%", percent(warned, seriespercell));
        }
        std::printf("\n");
    }
}

void detection() {
    std::printf(
        "\nx(t) = phi * x(t - 1) + noise, %d series a row: the share that warn by the windowed estimate alone,\n"
        "by the automatic window alone and by either (the warning), and the median over all series of\n"
        "error * sqrt(tau) / (the true error of the mean), tau the larger estimate\n",
        seriespercell);
    std::printf("%5s %7s %5s %9s %9s %9s %15s\n", "phi", "tau", "n", "windowed", "automatic", "either",
                "allowed / true");
    std::uint64_t seed = 2000;
    for (double phi : {0.3, 0.5, 0.7, 0.9, 0.95, 0.99}) {
        for (int n : counts) {
            draws d(++seed);
            int windowed = 0, gamma = 0, either = 0;
            std::vector<double> ratios;
            for (int k = 0; k < seriespercell; ++k) {
                const std::vector<double> x = ar1(d, phi, n);
                const verdict v = judge(x);
                windowed += v.windowed;
                gamma += v.gamma;
                either += v.either;
                double mean, stddev;
                pairstat::calculatemeanandstddev(x, mean, stddev);
                ratios.push_back(stddev / std::sqrt(n) * std::sqrt(v.tau) / ar1error(phi, n));
            }
            std::nth_element(ratios.begin(), ratios.begin() + seriespercell / 2, ratios.end());
            std::printf("%5.2f %7.2f %5d %8.1f%% %8.1f%% %8.1f%% %15.3f\n", phi, (1.0 + phi) / (1.0 - phi), n,
                        percent(windowed, seriespercell), percent(gamma, seriespercell),
                        percent(either, seriespercell), ratios[seriespercell / 2]);
        }
    }
}

void drift() {
    std::printf("\nIndependent normal values on a linear drift of one standard deviation across the run\n");
    std::printf("%5s %9s %9s %9s\n", "n", "windowed", "automatic", "either");
    std::uint64_t seed = 3000;
    for (int n : counts) {
        draws d(++seed);
        int windowed = 0, gamma = 0, either = 0;
        for (int k = 0; k < seriespercell; ++k) {
            std::vector<double> x(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) x[i] = d.normal() + static_cast<double>(i) / (n - 1);
            const verdict v = judge(x);
            windowed += v.windowed;
            gamma += v.gamma;
            either += v.either;
        }
        std::printf("%5d %8.1f%% %8.1f%% %8.1f%%\n", n, percent(windowed, seriespercell),
                    percent(gamma, seriespercell), percent(either, seriespercell));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) seriespercell = std::max(2, std::atoi(argv[1]));
    falsealarms();
    detection();
    drift();
    return 0;
}
