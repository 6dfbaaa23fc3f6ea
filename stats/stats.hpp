// Sample statistics: the mean and the sample standard deviation of a sequence
// of doubles, in one pass over the sum and the sum of squares, with a second
// pass over the deviations where the first loses too many digits.
#pragma once

#include <span>

namespace pairstat {

// Sets `mean` to s / n and `stddev` to the square root of
// (q - (mean * mean) * n) / (n - 1), where s is the sum and q the sum of
// squares of DATA, added in order with each step rounded on its own.
// When that bracket comes out below q * 2^-26, more than half of its digits
// have cancelled (a spread small against the mean), and the bracket is taken
// instead from a second pass over the deviations d = x - mean, in order:
// s2 - (s1 * s1) / n with s1 the sum of d and s2 the sum of d * d. The mean is
// the same either way. A bracket below zero counts as zero; a NaN bracket
// stays NaN. Callers pass at least two values.
void calculatemeanandstddev(std::span<const double> data, double& mean, double& stddev);

}  // namespace pairstat
