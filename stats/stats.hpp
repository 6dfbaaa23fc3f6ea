// Sample statistics: the mean and the sample standard deviation of a sequence
// of doubles, in one pass over the sum and the sum of squares, with a second
// pass over the deviations where the first loses too many digits.
#pragma once

#include <span>

namespace pairstat {

// Sets `mean` to s / n and `stddev` to the square root of
// (q - (mean * mean) * n) / (n - 1), where s is the sum and q the sum of
// squares of the n values of DATA, added in order with each step rounded on
// its own.
//
// When that bracket comes out below q * n * 2^-26, more than half of its
// digits may have cancelled (a spread small against the mean, counting the
// rounding of n steps of each sum), and the bracket is taken instead from a
// second pass over the deviations d = x - mean, in order: s2 - (s1 * s1) / n
// with s1 the sum of d and s2 the sum of d * d. The mean is the same either
// way. A bracket below zero counts as zero; a NaN bracket stays NaN.
//
// When q falls outside [2^-900, 2^900] (a square or a sum that overflowed or
// underflowed, or values all near zero) and every value is finite and one is
// not zero, the same steps are taken again on the values times a power of
// two that brings the largest to about 1, and both results are scaled back:
// finite values then give a finite mean and spread wherever the exact ones
// are finite. Scaling by a power of two changes no digit, so within that
// range, and wherever nothing overflows or underflows, the results are those
// of the steps above bit for bit. An infinite or NaN value gives what IEEE
// arithmetic makes of it (a NaN spread). Callers pass at least two values.
void calculatemeanandstddev(std::span<const double> data, double& mean, double& stddev);

}  // namespace pairstat
