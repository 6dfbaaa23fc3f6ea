// The integrated autocorrelation time of a sequence of values in the order
// they were measured, with its error, whether it is large enough to say the
// values are correlated (the error of their mean then comes out too small by
// about its square root), whether their level changes through the run, and,
// where it changes only at the start, how many values to leave out and what
// the rest gives.
#pragma once

#include <span>

namespace pairstat {

// What the values say of their correlation and of changes of their level.
struct autocorrelation {
    double tau;          // the integrated autocorrelation time, in stored values: about 1 for independent
                         // values (it can come out below 1); the error allowing for it is error * sqrt(tau)
    double dtau;         // its statistical error
    bool correlated;     // the correlation warning's rule fires on tau
    bool drift;          // the level of the values changes, and not only at the start
    double change;       // the straight line through the values: end of the run minus its start
    double changeerror;  // its error, allowing for the correlation of the values about the line
    int window;          // the window W that tau was summed over

    // Where drift and the step test fired: the largest change of level,
    // between the first shiftat values and the rest (the rest's mean minus
    // theirs), and its error (0 where both levels are exact); otherwise all
    // 0 (a drift the line alone found): shiftat > 0 tells which.
    double shift = 0.0;
    double shifterror = 0.0;
    int shiftat = 0;

    // Where start: the first cut values stand apart from the rest, which show
    // no change of level of their own; the rest's mean, standard error, tau,
    // dtau, corrected error and correlation rule are what a run of those
    // values alone would give. Otherwise cut is 0, resttau, restdtau and
    // restcorrelated are those of all the values, and restmean, resterror
    // and restcorrected are NaN (the caller has the mean and its errors).
    bool start = false;
    int cut = 0;
    double restmean = 0.0;
    double resterror = 0.0;
    double resttau = 0.0;
    double restdtau = 0.0;
    double restcorrected = 0.0;  // resterror * sqrt(max(1, resttau))
    bool restcorrelated = false;
};

// Fewer values than this say too little about their correlation to estimate it.
inline constexpr int taumincount = 20;

// Estimates the autocorrelation of the n values of DATA, in order, from the
// lag sums C(t), the sum of d(i) * d(i + t) over the n - t pairs t apart of
// the deviations d(i) = x(i) - mean; a window is at most n / 2. With
// rho(t) = (C(t) / (n - t)) / (C(0) / n) and
// tauint(W) = 1/2 + rho(1) + ... + rho(W), added in that order, the window is
// the first W at which exp(-W / h) - h / sqrt(W * n) < 0, where
// h = 2 / ln((2 * tauint(W) + 1) / (2 * tauint(W) - 1)) (a tauint(W) at or
// below 1/2 stops at W at once); then
// tau = 2 * (tauint(W) * ((1 + (2 * W + 1) / n) / (1 + 1 / n))), the factor
// taking off the bias that the estimated mean leaves in the sum, and
// dtau = 2 * (|tau| * sqrt(max(0, (W + 1/2) - tauint(W)) / n)). Where no
// window up to n / 2 stops, tau is the one at n / 2, which then understates
// the correlation. tau, dtau and window are always those of the values as
// they stand, flagged or not, so the corrected error error * sqrt(max(1, tau))
// never comes out below theirs; the correlation rule fires where
// tau >= 1.5625 (an error too small by a factor of 1.25 or more) and
// tau >= 1 + 3 * sqrt(22 / n).
//
// Two tests look for a change of level, each against a margin that grows on
// runs only a few tau long: margin(base, short, few, t) = base *
// ((1 + short * (t / n)) + (few * (t / n))^4), for the t of the values about
// the change it fits. The straight line through the values, fitted by least
// squares: change = slope * (n - 1), and changeerror its standard error from
// the spread s of the values about the line, with n - 2 degrees of freedom,
// and the tau of the values about the line, tauline:
// (n - 1) * sqrt(s^2 * max(1, tauline) / (n (n^2 - 1) / 12)); it fires where
// |change| >= margin(3.1, 10, 22, max(1, tauline)) * changeerror.
// And the largest step: for every split into the first k values and the
// other n - k, with the shorter part at least max(5, n / 40) values long,
// the sum of the shorter part's deviations, less its one value of the same
// sign that lies farthest out (so no single value makes a step), squared and
// divided by k (n - k); at the split where that is largest, the step fires
// where z >= margin(4.2, 10, 40, t), with z = sqrt(that * n / (s^2 * t)),
// s^2 the sum of the squared deviations about the two parts' own means over
// n - 2, and t = max(1, the smaller of the tau of those deviations and the
// tau of the longer part's alone). Their spread and tau are those about the
// step, so a larger step gives a larger z.
//
// Where either test fires, the start rule looks at a start that had not
// settled: the cut is the k from 0 to n / 2 at which the spread of the last
// n - k values about their mean, summed in squares and divided by (n - k)^2,
// is least (the marginal standard error rule: startcut below). Where that
// cut is at least 1 and at most n / 3, and the n - cut values after it (at
// least taumincount of them) show no change of level by the same two tests,
// start fires; otherwise drift does. Where neither test fires, neither flag
// does, and every field but the rest's is what it was before the tests
// were added.
//
// Costs room for 2n doubles and about n steps for each lag up to each
// window: one for the values, one about the line, and two about the step
// only where the step would fire with t = 1; where a test fires, the same
// again for the rest after the cut. Returns false, and leaves OUT as it was,
// with fewer than taumincount values, no finite, non-zero spread to measure
// against, or no room for the deviations.
bool estimatetau(std::span<const double> data, autocorrelation& out);

// The marginal standard error rule over batches: the values are taken in
// consecutive batches of BATCH (the last batch may be short and is then left
// out), each batch by its mean; of the cuts k = 0, 1, ... up to half the
// batches, the one at which the sum of the squared deviations of the batch
// means after the first k about their own mean, divided by the square of
// their count, is least (the first of equal ones). Returns k * BATCH, the
// values to leave out; 0 with fewer than 4 batches.
int startcut(std::span<const double> data, int batch);

}  // namespace pairstat
