// Sample statistics: the mean and the sample standard deviation of a sequence
// of doubles, in one pass over the sum and the sum of squares.
#pragma once

#include <span>

namespace pairstat {

// Sets `mean` to s / n and `stddev` to the square root of
// (q - (mean * mean) * n) / (n - 1), where s is the sum and q the sum of
// squares of DATA, added in order with each step rounded on its own. A bracket
// that rounding leaves just below zero counts as zero; a NaN bracket stays NaN.
// Callers pass at least two values.
void calculatemeanandstddev(std::span<const double> data, double& mean, double& stddev);

}  // namespace pairstat
