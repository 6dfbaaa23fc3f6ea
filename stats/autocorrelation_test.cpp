#include "stats/autocorrelation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace pairstat {
namespace {

// Normal deviates from a fixed seed, by the polar form written out, so every
// standard library draws the same series (up to the last bits of log and
// sin, which no rate here feels).
class normals {
  public:
    explicit normals(std::uint64_t seed) : bits(seed) {}
    double operator()() {
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
    double uniform() { return (static_cast<double>(bits() >> 11) + 1.0) * 0x1p-53; }  // (0, 1]
    std::mt19937_64 bits;
    double spare = 0.0;
    bool hasspare = false;
};

// x(t) = phi * x(t - 1) + noise, started from its stationary spread, whose
// integrated autocorrelation time is (1 + phi) / (1 - phi).
std::vector<double> series(normals& noise, double phi, int n) {
    std::vector<double> x(static_cast<std::size_t>(n));
    double v = noise() / std::sqrt(1.0 - phi * phi);
    for (double& value : x) {
        value = v;
        v = phi * v + noise();
    }
    return x;
}

struct ratecase {
    double phi;          // 0 for independent values
    int n;               // values in a series
    int count;           // series
    double minwarn;      // the fraction of series that must warn, at least
    double maxwarn;      // and at most
    double tauerror;     // the mean estimate's largest relative error; 0: not checked
    double level = 0.0;  // the values are level + spread * x(t)
    double spread = 1.0;
};

// Over many series, as a user running many simulations would see it.
const ratecase ratecases[] = {
    {0.0, 100, 2000, 0.0, 0.015, 0.0},   // false alarms
    {0.0, 1000, 2000, 0.0, 0.005, 0.0},  //
    {0.5, 1000, 1000, 0.99, 1.0, 0.15},  // tau 3
    {0.9, 1000, 1000, 0.99, 1.0, 0.30},  // tau 19
    {0.9, 100, 1000, 0.90, 1.0, 0.0},    // tau 19, from few values
    // a spread small against the mean, which the mean's rounding must not
    // turn into correlation
    {0.0, 1000, 2000, 0.0, 0.005, 0.0, 123456789.123, 1e-7},
    {0.5, 1000, 1000, 0.99, 1.0, 0.15, -98765432.1, 1e-7},
};

TEST(autocorrelation, rates) {
    normals noise(13);
    for (const ratecase& c : ratecases) {
        int warned = 0;
        double tausum = 0.0;
        for (int k = 0; k < c.count; ++k) {
            autocorrelation got{};
            std::vector<double> x = series(noise, c.phi, c.n);
            for (double& value : x) value = c.spread * value + c.level;
            ASSERT_TRUE(estimatetau(x, got));
            tausum += got.tau;
            if (clearlycorrelated(got, c.n)) ++warned;
        }
        const double rate = static_cast<double>(warned) / c.count;
        const double truetau = (1.0 + c.phi) / (1.0 - c.phi);
        const double meantau = tausum / c.count;
        EXPECT_GE(rate, c.minwarn) << "phi " << c.phi << ", " << c.n << " values";
        EXPECT_LE(rate, c.maxwarn) << "phi " << c.phi << ", " << c.n << " values";
        if (c.tauerror > 0.0) {
            EXPECT_NEAR(meantau, truetau, c.tauerror * truetau) << "phi " << c.phi << ", " << c.n << " values";
        }
    }
}

std::vector<double> ramp(int n) {
    std::vector<double> x;
    for (int i = 0; i < n; ++i) x.push_back(0.5 + i);
    return x;
}

std::vector<double> alternating(int n) {
    std::vector<double> x;
    for (int i = 0; i < n; ++i) x.push_back(i % 2 == 0 ? 1.0 : -1.0);
    return x;
}

TEST(autocorrelation, shapes) {
    autocorrelation got{};
    // a trend through the file: more correlation than half the values can
    // measure, so the widest window, and a warning
    ASSERT_TRUE(estimatetau(ramp(100), got));
    EXPECT_EQ(got.window, 50);
    EXPECT_TRUE(clearlycorrelated(got, 100));
    // each value the opposite of the last: the error is too large, not too small
    ASSERT_TRUE(estimatetau(alternating(100), got));
    EXPECT_LT(got.tau, 1.0);
    EXPECT_FALSE(clearlycorrelated(got, 100));
}

TEST(autocorrelation, nothingtosay) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const autocorrelation untouched{-7.0, -7};
    std::vector<std::vector<double>> none = {
        ramp(taumincount - 1),
        std::vector<double>(100, 0.8),  // no spread
        ramp(100),
        ramp(100),
        ramp(100),
        {1e300, -1e300},
    };
    none[2][40] = inf;
    none[3][40] = nan;
    none[4][40] = -inf;
    none[5].resize(100, 1e300);  // a spread whose square overflows
    for (const std::vector<double>& data : none) {
        autocorrelation got = untouched;
        EXPECT_FALSE(estimatetau(data, got)) << data.size() << " values, first " << data[0];
        EXPECT_EQ(got.tau, untouched.tau);
        EXPECT_EQ(got.window, untouched.window);
    }
    autocorrelation got{};
    EXPECT_TRUE(estimatetau(ramp(taumincount), got));
}

}  // namespace
}  // namespace pairstat
