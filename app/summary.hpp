// The multi-sample summary: a run of two or more accepted values gets their
// mean and spread on the console, the mean and its error in its results
// line, and, from taumincount values on, the error allowing for their
// correlation in file order, with the warnings of what the values say.
#pragma once

#include <span>
#include <string>

#include "app/messages.hpp"
#include "records/record.hpp"
#include "records/report.hpp"

namespace pairstat {

// Takes the accepted VALUES (two or more, in file order) of the run at UT and
// BETA whose results file is NAME: writes the mean line, sets LINE to the
// results line, notes the numbers in FIELDS, and warns where the values are
// clearly correlated, change their level, or had not settled at the start.
failure summarize(std::span<const double> values, double ut, double beta, const std::string& name, reportline& line,
                  runrecord& fields, warnings& warned);

}  // namespace pairstat
