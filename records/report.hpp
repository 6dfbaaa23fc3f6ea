// The report lines: the console's count and mean lines and the results-file
// line, and the console writer.
//
// Every line begins with one blank, holds its items with one blank between
// them (beyond the blanks a fixed text holds), and ends with a line end. It is
// built whole in memory and written with a single call, so a line is either
// written entirely or reported as not written.
#pragma once

#include <cstddef>

#include "records/system.hpp"

namespace pairstat {

struct reportline {
    char text[160];
    std::size_t length = 0;
};

// " number of conf. for and U/t= 4.0 and beta= 5.0   is 2"
reportline countline(double ut, double beta, int nconf);
// " Mean : 0.625 +- 0.1767766952966369"
reportline meanline(double mean, double stddev);
// " 4.0 5.0 0.625 0.125": the results-file line, single- and multi-sample alike.
reportline resultsline(double ut, double beta, double value, double spread);

// Writes LINE to the console (standard output), as writeall does.
writeoutcome writeconsole(const reportline& line);
// The same for LENGTH bytes of TEXT (a usage text, say).
writeoutcome writeconsole(const char* text, std::size_t length);

}  // namespace pairstat
