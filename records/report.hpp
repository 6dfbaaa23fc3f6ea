// The report writer: numbers as text, the console and results lines, and the
// results file.
//
// Every line begins with one blank, holds its items with one blank between
// them (beyond the blanks a fixed text holds), and ends with a line end. It is
// built whole in memory and written with a single call, so a line is either
// written entirely or reported as not written.
#pragma once

#include <cstddef>

namespace pairstat {

// Longest text formatnumber writes: the exponent form of a negative 17-digit
// number with a three-digit exponent, "-2.2250738585072014e-308" (a fixed form
// is written only where it is no longer than the exponent form).
inline constexpr std::size_t maxnumberlength = 24;

// Writes VALUE as the shortest text that reads back to the same double, always
// with a decimal point or an exponent ("4.0", "0.625", "1.5e-07", "1e+20"; the
// fixed form where it is no longer than the exponent form, ".0" counted), or as
// "Infinity", "-Infinity" or "NaN". Returns the length; `out` needs
// maxnumberlength bytes. No terminating NUL is written.
std::size_t formatnumber(double value, char* out);

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

// Writes LINE to the console (standard output), all of it. Returns 0 or the errno.
int writeconsole(const reportline& line);

struct resultsfile {
    int fd = -1;
    bool regular = false;  // a regular file: appends are locked and rolled back on failure
};

// What became of an append.
struct appendoutcome {
    int error = 0;           // errno of the failed call, 0 on success
    const char* call = "";   // which call failed: "lock", "write", "sync"
    long written = 0;        // bytes a short write wrote (then error is 0 and call "write")
    bool restored = true;    // the file holds exactly what it held before the append
    bool ok() const { return error == 0 && written == 0; }
};

// Opens NAME for appending, creating it empty (mode 0666 less the umask) if it
// is missing; never truncates it. Returns 0 or the errno.
int openresults(resultsfile& results, const char* name);

// Appends LINE to the results file. For a regular file it holds an exclusive
// record lock on the whole file while it writes the line with one call and
// flushes it to the device; should either fail, it cuts the file back to the
// length it had and reports the failure, so the file only ever gains whole lines.
appendoutcome appendline(resultsfile& results, const reportline& line);

}  // namespace pairstat
