#include "app/summary.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "stats/autocorrelation.hpp"
#include "stats/stats.hpp"

namespace pairstat {

failure summarize(std::span<const double> values, double ut, double beta, const std::string& name, reportline& line,
                  runrecord& fields, warnings& warned) {
    const int nconf = static_cast<int>(values.size());
    const std::size_t count = values.size();
    std::unique_ptr<double[]> data(new (std::nothrow) double[count]);
    if (!data) return allocationfailed(sizeof(double) * count);
    std::copy(values.begin(), values.end(), data.get());

    double mean;
    double stddev;
    calculatemeanandstddev({data.get(), count}, mean, stddev);
    if (writeoutcome wrote = writeconsole(meanline(mean, stddev)); !wrote.ok()) return consolefailed(wrote);

    double meanerr = stddev / std::sqrt(static_cast<double>(nconf));
    line = resultsline(ut, beta, mean, meanerr);
    fields.hasmean = fields.haserror = true;
    fields.mean = mean;
    fields.error = meanerr;

    // The error assumes independent values; values correlated in file order
    // make it too small by about the square root of their autocorrelation
    // time. An estimate below 1 on independent values is noise, so the
    // corrected error is never below the error.
    autocorrelation estimate;
    if (estimatetau({data.get(), count}, estimate)) {
        fields.estimated = true;
        fields.tau = estimate.tau;
        fields.dtau = estimate.dtau;
        fields.corrected = meanerr * std::sqrt(std::max(1.0, estimate.tau));
        fields.start = estimate.cut;
        if (estimate.start) {
            fields.hasrest = true;
            fields.restmean = estimate.restmean;
            fields.restcorrected = estimate.restcorrected;
            warnstart(warned, ut, beta, nconf, estimate, mean, meanerr, fields.corrected, name);
        }
        // A step gives its own size; a drift the line alone found, the line's.
        // (shiftat is set only where the step test fired; its error is 0 on
        // levels that are exact.)
        if (estimate.drift && estimate.shiftat > 0)
            warnstep(warned, ut, beta, nconf, estimate.shift, estimate.shifterror, estimate.shiftat, meanerr, name);
        else if (estimate.drift)
            warndrift(warned, ut, beta, nconf, estimate.change, estimate.changeerror, meanerr, name);
        if (estimate.correlated)
            warncorrelated(warned, ut, beta, nconf, estimate.tau, estimate.dtau, meanerr, fields.corrected, name);
    }
    return {};
}

}  // namespace pairstat
