// Runs of one point (the same U/t and beta, independent simulations) combined
// into one mean and error, with the test of whether they agree.
#pragma once

#include <span>

namespace pairstat {

// One run of the point: its mean and its corrected error.
struct replica {
    double mean;
    double corrected;
};

// The runs combined.
struct combined {
    int runs;          // the runs that entered the mean
    int leftout;       // the runs that could not: a mean that is not finite, an error that is NaN, infinite or negative
    double mean;       // weighted by 1 / corrected^2
    double error;      // 1 / sqrt(the sum of the weights)
    double chi2;       // the sum of ((mean of the run - mean) / corrected of the run)^2
    int dof;           // runs - 1
    double p;          // the chance of a chi2 this large or larger from runs that agree; NaN where dof is 0
    bool inconsistent; // p < 0.01
};

// The runs whose corrected error is below this chance of their chi2 are told apart.
inline constexpr double inconsistentp = 0.01;

// Combines RUNS, in their order. A run whose mean is not finite, or whose
// corrected error is NaN, negative or infinite (no error to weigh it by: an
// infinite one weighs nothing), is left out and counted in leftout. A run whose
// corrected error is 0 is exact: where any is, the mean
// is the plain mean of the exact runs and its error 0; chi2 counts the other
// runs about it by their errors, and is infinite (p = 0) where the exact
// runs differ among themselves. Otherwise the weights are (least corrected /
// corrected)^2, so that no square overflows, the mean is the sum of
// (weight / sum of weights) * mean, and error = least corrected / sqrt(sum
// of weights). p = Q(dof / 2, chi2 / 2), the regularised upper incomplete
// gamma function; with one run, chi2 = 0, dof = 0 and p is NaN (nothing to
// test). Returns false, and leaves OUT as it was, where no run enters.
bool combine(std::span<const replica> runs, combined& out);

// The regularised upper incomplete gamma function Q(a, x) = 1 - P(a, x), for
// a > 0 and x >= 0: by its series where x < a + 1, by its continued fraction
// otherwise, each to a relative 1e-15 of its terms. Q(a, 0) = 1 and
// Q(a, infinity) = 0; NaN where a <= 0, x < 0 or either is NaN.
double uppergamma(double a, double x);

}  // namespace pairstat
