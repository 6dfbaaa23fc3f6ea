// The report lines: the console's count and mean lines and the results-file
// line, and the console writer.
//
// Every line begins with one blank, holds its items with one blank between
// them (beyond the blanks a fixed text holds), and ends with a line end. It is
// built whole in memory and written with a single call, so a line is either
// written entirely or reported as not written.
#pragma once

#include <cstddef>

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

// What became of a write: a count that differs from the length asked, 0
// included, is a failure.
struct writeoutcome {
    int error = 0;            // errno of the failed call, 0 if it failed by its count alone
    std::size_t written = 0;  // bytes written
    std::size_t asked = 0;    // bytes there were to write
    bool ok() const { return error == 0 && written == asked; }
};

// Writes LENGTH bytes of TEXT to FD, going on after a partial write until all
// of it is written, a call fails, or a call writes nothing.
writeoutcome writeall(int fd, const char* text, std::size_t length);

// Writes LINE to the console (standard output), as writeall does.
writeoutcome writeconsole(const reportline& line);
// The same for LENGTH bytes of TEXT (a usage text, say).
writeoutcome writeconsole(const char* text, std::size_t length);

}  // namespace pairstat
