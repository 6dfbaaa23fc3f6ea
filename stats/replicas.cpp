#include "stats/replicas.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pairstat {

namespace {

// The series and the continued fraction stop where a term changes the sum by
// less than this share of it; past so many terms neither would improve.
constexpr double closeenough = 1e-15;
constexpr int mostterms = 10000;
// Below this the continued fraction's denominators count as zero.
constexpr double tiny = 1e-300;

// P(a, x) by the series e^-x x^a / Gamma(a + 1) * (1 + x / (a + 1) + x^2 / ((a + 1)(a + 2)) + ...).
double lowerseries(double a, double x) {
    double term = 1.0 / a;
    double sum = term;
    for (int k = 1; k < mostterms; ++k) {
        term = term * (x / (a + k));
        sum = sum + term;
        if (std::fabs(term) < std::fabs(sum) * closeenough) break;
    }
    return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

// Q(a, x) by its continued fraction, evaluated from the front by Lentz's
// method: e^-x x^a / Gamma(a) * 1 / (x + 1 - a - 1 (1 - a) / (x + 3 - a - 2 (2 - a) / (x + 5 - a - ...))).
double upperfraction(double a, double x) {
    double b = x + 1.0 - a;
    double c = 1.0 / tiny;
    double d = 1.0 / b;
    double h = d;
    for (int k = 1; k < mostterms; ++k) {
        const double an = -k * (k - a);
        b = b + 2.0;
        d = an * d + b;
        if (std::fabs(d) < tiny) d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        const double delta = d * c;
        h = h * delta;
        if (std::fabs(delta - 1.0) < closeenough) break;
    }
    return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

}  // namespace

double uppergamma(double a, double x) {
    if (!(a > 0.0) || !(x >= 0.0)) return std::numeric_limits<double>::quiet_NaN();
    if (x == 0.0) return 1.0;
    if (std::isinf(x)) return 0.0;
    if (x < a + 1.0) return 1.0 - lowerseries(a, x);
    return upperfraction(a, x);
}

bool combine(std::span<const replica> runs, combined& out) {
    auto usable = [](const replica& r) {
        return std::isfinite(r.mean) && std::isfinite(r.corrected) && r.corrected >= 0.0;
    };
    auto exact = [&](const replica& r) { return usable(r) && r.corrected == 0.0; };
    combined got{};
    double least = HUGE_VAL;
    int exacts = 0;
    for (const replica& r : runs) {
        if (!usable(r)) {
            ++got.leftout;
            continue;
        }
        ++got.runs;
        least = std::min(least, r.corrected);
        exacts += exact(r);
    }
    if (got.runs == 0) return false;
    got.dof = got.runs - 1;

    if (exacts > 0) {
        double sum = 0.0;
        const replica* first = nullptr;
        for (const replica& r : runs) {
            if (!exact(r)) continue;
            if (first == nullptr) first = &r;
            sum = r.mean + sum;
        }
        got.mean = sum / exacts;
        got.error = 0.0;
        for (const replica& r : runs) {
            if (!usable(r)) continue;
            // Exact runs agree when they are the same number: told against
            // one another, not against their mean, whose rounding may miss
            // each of them.
            if (exact(r)) {
                if (r.mean != first->mean) got.chi2 = HUGE_VAL;
                continue;
            }
            const double pull = (r.mean - got.mean) / r.corrected;
            got.chi2 = pull * pull + got.chi2;
        }
    } else {
        double weights = 0.0;
        for (const replica& r : runs) {
            if (!usable(r)) continue;
            const double ratio = least / r.corrected;
            weights = ratio * ratio + weights;
        }
        double mean = 0.0;
        for (const replica& r : runs) {
            if (!usable(r)) continue;
            const double ratio = least / r.corrected;
            mean = (ratio * ratio / weights) * r.mean + mean;
        }
        got.mean = mean;
        got.error = least / std::sqrt(weights);
        for (const replica& r : runs) {
            if (!usable(r)) continue;
            const double pull = (r.mean - mean) / r.corrected;
            got.chi2 = pull * pull + got.chi2;
        }
    }
    got.p = got.dof > 0 ? uppergamma(0.5 * got.dof, 0.5 * got.chi2) : std::numeric_limits<double>::quiet_NaN();
    got.inconsistent = got.p < inconsistentp;
    out = got;
    return true;
}

}  // namespace pairstat
