// Runs of one point combined: the successful records of the folders grouped
// by their U/t and beta, each group's runs taken together with the test of
// whether they agree.
#pragma once

#include <string>
#include <vector>

#include "scan/folders.hpp"

namespace pairstat {

// The points of FOLDERS: a header, then one tab-separated row a (U/t, beta)
// over the records that say their run succeeded, by U/t, then beta:
//   ut beta runs nconf mean error corrected chi2 dof p flags
// runs counts the runs that entered the mean, nconf their accepted pairs;
// mean is weighted by 1 / corrected^2 over the runs that have a corrected
// error (20 values or more), corrected is its error, error the error of the
// same weighted mean from the runs' errors alone (not allowing for
// correlation); chi2, dof and p test the runs against the mean by their
// corrected errors (p empty for one run). flags: inconsistent where p <
// 0.01, leftout where a run had no corrected error to weigh it by, and every
// warning of the runs. A point none of whose runs can be weighed has its
// numbers empty.
std::string points(const std::vector<folder>& folders);

}  // namespace pairstat
