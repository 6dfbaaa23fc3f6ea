// How close calculatemeanandstddev comes to the exact spread where the values
// lie close together against their level, or are too large or too small to
// square: beside it, the one pass alone, and the one pass switching to the
// deviations below q * 2^-26 (leaving out the count n) without scaling. The
// exact spread comes from integer sums; each line gives the worst relative
// error over the series and how many series are off by more than 1e-12 of it.
//
//   build/bench/bench/spreadaccuracy
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "stats/stats.hpp"

namespace {

__extension__ typedef __int128 wide;

// The sample standard deviation of finite DATA, from exact integer sums: each
// value is an integer k times the finest unit 2^e that any of them needs, so
// the bracket n * sum(k^2) - (sum k)^2 is exact; k is taken relative to the
// first value to keep the sums small. Only the last steps are rounded. NaN
// where the values lie too far apart for the sums.
double exactstddev(std::span<const double> data) {
    int finest = std::numeric_limits<int>::max();
    for (double x : data) {
        int e;
        std::frexp(x, &e);
        if (x != 0.0) finest = std::min(finest, e - std::numeric_limits<double>::digits);
    }
    if (finest == std::numeric_limits<int>::max()) return 0.0;
    const wide first = static_cast<wide>(std::ldexp(data[0], -finest));
    wide sum = 0;
    wide squares = 0;
    for (double x : data) {
        const double scaled = std::ldexp(x, -finest);
        if (!(std::fabs(scaled) < 0x1p62)) return std::nan("");
        const wide k = static_cast<wide>(scaled) - first;
        sum += k;
        squares += k * k;
    }
    const wide n = static_cast<wide>(data.size());
    const wide bracket = n * squares - sum * sum;
    const double variance = static_cast<double>(bracket) / static_cast<double>(n * (n - 1));
    return std::ldexp(std::sqrt(variance), finest);
}

// The spread by the one pass, switching to the deviations where the bracket
// falls below q * SWITCHAT (0: never), a bracket below zero held at zero: the
// steps of calculatemeanandstddev, with the switch as a choice.
double onepass(std::span<const double> data, double switchat) {
    const double n = static_cast<double>(data.size());
    double s = 0.0;
    double q = 0.0;
    for (double x : data) {
        s = x + s;
        q = x * x + q;
    }
    const double mean = s / n;
    double bracket = q - (mean * mean) * n;
    if (switchat > 0.0 && bracket < q * switchat) {
        double s1 = 0.0;
        double s2 = 0.0;
        for (double x : data) {
            s1 = (x - mean) + s1;
            s2 = (x - mean) * (x - mean) + s2;
        }
        bracket = s2 - (s1 * s1) / n;
    }
    return std::sqrt(std::max(bracket, 0.0) / (n - 1.0));
}

double program(std::span<const double> data) {
    double mean;
    double stddev;
    pairstat::calculatemeanandstddev(data, mean, stddev);
    return stddev;
}

// The worst relative error of the finite results, how many are off by more
// than 1e-12 (the ones not finite included), and how many are not finite.
struct tally {
    double worst = 0.0;
    int off = 0;
    int notfinite = 0;
    void add(double got, double want) {
        const double error = std::fabs(got - want) / want;
        if (!std::isfinite(got)) ++notfinite;
        if (std::isfinite(got) && error > worst) worst = error;
        if (!(error <= 1e-12)) ++off;
    }
    void print(const char* label) const { std::printf("  %-44s %10.2e %8d %8d\n", label, worst, off, notfinite); }
};

// COUNT fresh series of 2 to 1000 values about levels of either sign from
// 10^LOW to 10^HIGH, with spreads from 10^LEAST to 10^MOST of the level:
// values spread evenly, or all equal but one.
void measure(std::mt19937_64& bits, int count, double low, double high, double least, double most) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    tally got;
    tally alone;
    tally withoutcount;
    int measured = 0;
    while (measured < count) {
        const int n = static_cast<int>(std::exp(unit(bits) * std::log(1000.0 / 2.0)) * 2.0 + 0.5);
        const double level = (unit(bits) < 0.5 ? -1.0 : 1.0) * std::pow(10.0, low + (high - low) * unit(bits));
        const double spread = level * std::pow(10.0, least + (most - least) * unit(bits));
        const bool oneoff = unit(bits) < 0.25;
        std::vector<double> data;
        for (int i = 0; i < n; ++i)
            data.push_back(oneoff && i + 1 < n ? level : level + spread * (2.0 * unit(bits) - 1.0));
        const double want = exactstddev(data);
        if (!(want > 0.0)) continue;
        ++measured;
        got.add(program(data), want);
        alone.add(onepass(data, 0.0), want);
        withoutcount.add(onepass(data, 0x1p-26), want);
    }
    std::printf("%d series about 1e%g to 1e%g, spreads 1e%g to 1e%g of the level\n", count, low, high, least, most);
    got.print("calculatemeanandstddev");
    withoutcount.print("switch at q * 2^-26 (no count n), no scaling");
    alone.print("one pass alone, no second pass");
}

}  // namespace

int main() {
    std::printf("  %-44s %10s %8s %8s\n", "", "worst", "> 1e-12", "NaN/inf");
    std::mt19937_64 bits(13);
    measure(bits, 6000, -6.0, 24.0, -12.0, -6.0);
    measure(bits, 3000, -6.0, 24.0, -5.0, -3.0);
    // where squares and sums overflow or underflow
    measure(bits, 3000, -300.0, 300.0, -12.0, -1.0);
    return 0;
}
