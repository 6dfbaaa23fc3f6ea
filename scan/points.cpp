#include "scan/points.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include "records/escape.hpp"
#include "records/number.hpp"
#include "stats/replicas.hpp"

namespace pairstat {

namespace {

// A record's number field; NaN where it is empty or no number.
double numberof(std::string_view field) {
    double value = std::numeric_limits<double>::quiet_NaN();
    if (!field.empty() && !parsenumber(field.data(), field.data() + field.size(), value))
        value = std::numeric_limits<double>::quiet_NaN();
    return value;
}

std::string text(double value) {
    char out[maxnumberlength];
    return std::string(out, formatnumber(value, out));
}

// Adds each of the comma-separated names of LIST not in FLAGS yet.
void join(std::vector<std::string>& flags, const std::string& list) {
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string flag = list.substr(start, comma - start);
        if (!flag.empty() && std::find(flags.begin(), flags.end(), flag) == flags.end()) flags.push_back(flag);
        start = comma + 1;
    }
}

struct point {
    double ut;
    double beta;
    std::vector<replica> runs;
    std::vector<double> errors;
    std::vector<long long> counts;
    std::vector<std::string> flags;
};

}  // namespace

std::string points(const std::vector<folder>& folders) {
    // By U/t and beta as the records write them, which read back to the same
    // double: one text, one point.
    std::map<std::pair<std::string, std::string>, point> byvalue;
    for (const folder& f : folders) {
        const folderview view = look(f, false, "");
        if (!view.record.succeeded()) continue;
        const recordview& r = view.record;
        point& p = byvalue[{std::string(r.field("ut")), std::string(r.field("beta"))}];
        p.ut = numberof(r.field("ut"));
        p.beta = numberof(r.field("beta"));
        p.runs.push_back({numberof(r.field("mean")), numberof(r.field("corrected"))});
        p.errors.push_back(numberof(r.field("error")));
        p.counts.push_back(static_cast<long long>(numberof(r.field("nconf"))));
        std::string told;
        recordbytes(r.field("flags"), told);
        join(p.flags, told);
    }
    std::vector<point> all;
    for (auto& [key, p] : byvalue) all.push_back(std::move(p));
    std::stable_sort(all.begin(), all.end(), [](const point& a, const point& b) {
        if (a.ut != b.ut) return a.ut < b.ut || std::isnan(b.ut);
        return a.beta < b.beta || (std::isnan(b.beta) && !std::isnan(a.beta));
    });

    std::string out = "ut\tbeta\truns\tnconf\tmean\terror\tcorrected\tchi2\tdof\tp\tflags\n";
    for (point& p : all) {
        combined got{};
        const bool weighed = combine(p.runs, got);
        // The accepted pairs of the runs that entered, as combine takes them.
        long long nconf = 0;
        for (std::size_t k = 0; k < p.runs.size(); ++k) {
            const double c = p.runs[k].corrected;
            if (std::isfinite(p.runs[k].mean) && c >= 0.0 && std::isfinite(c)) nconf += p.counts[k];
        }
        std::vector<std::string> flags;
        if (weighed && got.inconsistent) flags.push_back("inconsistent");
        if (!weighed || got.leftout > 0) flags.push_back("leftout");
        flags.insert(flags.end(), p.flags.begin(), p.flags.end());
        std::string listed;
        for (const std::string& flag : flags) listed += (listed.empty() ? "" : ",") + flag;
        out += text(p.ut) + "\t" + text(p.beta) + "\t";
        if (!weighed) {
            out += "0\t0\t\t\t\t\t\t\t" + recordtext(listed) + "\n";
            continue;
        }
        // The plain errors through the same weights: how large the error
        // would be taken as independent values.
        double weights = 0.0;
        double squares = 0.0;
        for (std::size_t k = 0; k < p.runs.size(); ++k) {
            const double c = p.runs[k].corrected;
            if (!(c > 0.0) || !std::isfinite(c) || !std::isfinite(p.runs[k].mean)) continue;
            const double w = (got.error / c) * (got.error / c);
            weights = weights + w;
            squares = (w * p.errors[k]) * (w * p.errors[k]) + squares;
        }
        const double error = weights > 0.0 ? std::sqrt(squares) / weights : got.error;
        out += std::to_string(got.runs) + "\t" + std::to_string(nconf) + "\t" + text(got.mean) + "\t" +
               text(error) + "\t" + text(got.error) + "\t" + text(got.chi2) + "\t" + std::to_string(got.dof) +
               "\t" + (got.dof > 0 ? text(got.p) : std::string()) + "\t" + recordtext(listed) + "\n";
    }
    return out;
}

}  // namespace pairstat
